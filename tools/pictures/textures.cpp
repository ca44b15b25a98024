// Textures: the blobs' two backgrounds, marble bent by noise and pillowed tiles in a brick bond.
#include <algorithm>
#include <cmath>

#include "tools/pictures/families.h"

void make_textures(Out& out)
{
    // Marble: bands bent by noise, with darker veins.
    Canvas marble = canvas_make(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float fx = (float)x, fy = (float)y;
            float t = fx * 0.018f + fy * 0.009f + 1.6f * fbm(fx / 110.0f, fy / 110.0f, 3, 7u);
            float band = 0.5f + 0.5f * std::sin(t * kPi);
            float vein = std::pow(
                1.0f - std::fabs(std::sin(t * kPi * 0.5f + 1.0f + 0.6f * fbm(fx / 30.0f, fy / 30.0f, 3, 8u))), 20.0f);
            at(marble, x, y) = clamp01(0.25f + 0.6f * band - 0.45f * vein + 0.05f * fbm(fx / 12.0f, fy / 12.0f, 3, 9u));
        }
    save(out, "grafika/blobs/blobs1.pcx", quantise(marble, 0, 255), W, H, grey_palette());

    // Pillowed tiles in a brick bond, lit from the upper left.
    Canvas height = canvas_make(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int row = y / 30;
            float lx = std::fmod((float)x + (row & 1 ? 20.0f : 0.0f), 40.0f), ly = (float)(y % 30);
            float edge = std::min(std::min(lx, 40.0f - lx), std::min(ly, 30.0f - ly));
            float pillow = std::sqrt(clamp01(edge / 7.0f));
            at(height, x, y) = pillow * 3.0f + 0.25f * fbm((float)x / 10.0f, (float)y / 10.0f, 4, (uint32_t)(11 + row));
        }
    Canvas lit = relief(height, 2.5f, -0.6f, -0.6f, 0.55f);
    for (size_t i = 0; i < lit.v.size(); ++i)
        lit.v[i] = clamp01(0.1f + 0.95f * lit.v[i] * (0.55f + 0.45f * clamp01(height.v[i] / 3.0f)));
    save(out, "grafika/blobs/blobs2.pcx", quantise(lit, 0, 255), W, H, grey_palette());
}
