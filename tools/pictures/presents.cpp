// The presents screen: the title in red on brushed metal, in a palette of a grey and a red ramp.
#include <cmath>

#include "tools/pictures/families.h"

void make_presents(Out& out)
{
    // Entries 0..127 a grey ramp, 128..255 a ramp of reds whose green and blue are a
    // quarter of their red: the part maps them onto its own grey and red ramps.
    Palette pal;
    for (int i = 0; i < 128; ++i) {
        pal.rgb[3 * i] = pal.rgb[3 * i + 1] = pal.rgb[3 * i + 2] = (uint8_t)(2 * i);
        pal.rgb[3 * (128 + i)] = (uint8_t)(2 * i);
        pal.rgb[3 * (128 + i) + 1] = pal.rgb[3 * (128 + i) + 2] = (uint8_t)(i / 2);
    }
    std::vector<uint8_t> px((size_t)W * H);
    // Brushed metal behind, darker at the edges.
    Canvas back = canvas_make(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float brush = 0.06f * fbm((float)x / 60.0f, (float)y / 1.5f, 4, 41u);
            float vignette =
                1.0f - 0.75f * smooth(0.2f, 1.1f, std::hypot((float)x / W - 0.5f, (float)y / H - 0.5f) * 2.0f);
            at(back, x, y) = clamp01((0.32f + brush) * vignette);
        }
    Canvas title = text_fit(kFontBold, "TARQLE", 280, 70);
    Canvas sub = text_fit(kFontSans, "p r e s e n t s", 170, 22);
    auto place = [&](const Canvas& m, int ox, int oy, float depth, bool red) {
        Canvas pad = padded(m, 8);
        Canvas sh = relief(blur(pad, 2, 3), depth, -0.5f, -0.8f, 0.5f);
        Canvas shadow = blur(pad, 3, 2);
        for (int y = 0; y < pad.h; ++y)
            for (int x = 0; x < pad.w; ++x) {
                int sx = ox + x - 8, sy = oy + y - 8;
                if (sx < 0 || sy < 0 || sx >= W || sy >= H)
                    continue;
                // A soft drop shadow down and right of the letters.
                float s = at_clamped(shadow, x - 4, y - 4);
                at(back, sx, sy) *= 1.0f - 0.7f * s;
                float ink = at(pad, x, y);
                float lit = at(sh, x, y);
                if (red && ink >= 0.5f)
                    at(back, sx, sy) = 2.0f + lit; // marks a red pixel, below
                else if (!red)
                    at(back, sx, sy) = mix(at(back, sx, sy), 0.55f + 0.45f * lit, ink);
            }
    };
    place(title, (W - title.w) / 2, 70, 7.0f, true);
    place(sub, (W - sub.w) / 2, 160, 3.0f, false);
    // A thin line between them, bright in the middle.
    for (int x = 40; x < 280; ++x)
        at(back, x, 150) = 0.35f + 0.6f * std::sin(kPi * (float)(x - 40) / 240.0f);
    for (size_t i = 0; i < px.size(); ++i) {
        float v = back.v[i];
        px[i] = v >= 2.0f ? (uint8_t)(128 + std::lround(20.0f + 107.0f * clamp01(v - 2.0f)))
                          : (uint8_t)std::lround(127.0f * clamp01(v));
    }
    save(out, "grafika/prese/presents.pcx", px, W, H, pal);
}
