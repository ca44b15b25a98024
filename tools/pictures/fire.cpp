// The fire part's pictures: the skull and the dancing figure's five frames, shaded in the fire's grey ramp.
#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/pictures/catalogue.h"
#include "tools/pictures/families.h"

namespace {

// The fire part's colours: black below 79, a grey ramp to white at 167.
Palette fire_palette()
{
    Palette p;
    for (int k = 0; k < 256; ++k) {
        int g = k < 79 ? 0 : std::min(255, 512 * (k - 79) / 176);
        p.rgb[3 * k] = p.rgb[3 * k + 1] = p.rgb[3 * k + 2] = (uint8_t)g;
    }
    return p;
}

// Signed distance to an ellipse, close enough for shapes this soft.
float ellipse(float x, float y, float cx, float cy, float rx, float ry)
{
    float dx = (x - cx) / rx, dy = (y - cy) / ry;
    return (std::sqrt(dx * dx + dy * dy) - 1.0f) * std::min(rx, ry);
}
float rounded_box(float x, float y, float cx, float cy, float hx, float hy, float r)
{
    float qx = std::fabs(x - cx) - hx + r, qy = std::fabs(y - cy) - hy + r;
    return std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f)) + std::min(std::max(qx, qy), 0.0f) - r;
}
float smooth_min(float a, float b, float k)
{
    float h = clamp01(0.5f + 0.5f * (b - a) / k);
    return mix(b, a, h) - k * h * (1.0f - h);
}

// The skull: bone shapes as distances, their depth as a relief lit from above left; the
// fire palette is black below 79, so sockets and gaps sit just above it.
void make_skull(Out& out)
{
    constexpr int SW = 128, SH = 156;
    Canvas bone = canvas_make(SW, SH), hollow = canvas_make(SW, SH);
    for (int y = 0; y < SH; ++y)
        for (int x = 0; x < SW; ++x) {
            float u = ((float)x + 0.5f - SW / 2.0f) / 56.0f, v = ((float)y + 0.5f - 62.0f) / 56.0f;
            float head = ellipse(u, v, 0.0f, -0.22f, 0.98f, 0.86f);
            float cheeks = ellipse(u, v, 0.0f, 0.32f, 0.80f, 0.45f);
            float jaw = rounded_box(u, v, 0.0f, 0.95f, 0.48f, 0.28f, 0.18f);
            float d = smooth_min(smooth_min(head, cheeks, 0.15f), jaw, 0.2f);
            float eyes =
                std::min(ellipse(u, v, -0.37f, 0.18f, 0.27f, 0.22f), ellipse(u, v, 0.37f, 0.18f, 0.27f, 0.22f));
            float nose = std::max(std::fabs(u) * 1.7f - (0.62f - v) * 0.9f, std::fabs(v - 0.5f) - 0.13f);
            float mouth = std::fabs(v - 0.93f) - 0.025f;
            float gaps =
                (std::fabs(std::fmod(u + 10.0f, 0.16f) - 0.08f) - 0.012f) * (v > 0.78f && v < 1.1f ? 1.0f : 9.0f);
            float teeth_row = rounded_box(u, v, 0.0f, 0.93f, 0.40f, 0.16f, 0.06f);
            float cut = std::min(std::min(eyes, nose), std::max(std::min(mouth, gaps), teeth_row));
            at(bone, x, y) = clamp01(0.5f - d * 60.0f);
            at(hollow, x, y) = clamp01(0.5f - cut * 60.0f);
        }
    Canvas height = canvas_make(SW, SH);
    for (size_t i = 0; i < height.v.size(); ++i)
        height.v[i] = bone.v[i] * (1.0f - 0.9f * hollow.v[i]);
    Canvas soft = blur(height, 3, 3);
    Canvas lit = relief(soft, 18.0f, -0.5f, -0.7f, 0.55f);
    std::vector<uint8_t> px((size_t)SW * SH, 0);
    for (int y = 0; y < SH; ++y)
        for (int x = 0; x < SW; ++x) {
            size_t i = (size_t)y * SW + x;
            if (bone.v[i] < 0.5f)
                continue;
            // Bone is lit by its relief and darkened into the hollows; the rim stays dark.
            float depth = soft.v[i];
            float v = (0.25f + 0.75f * lit.v[i]) * (0.35f + 0.65f * depth) * (1.0f - 0.85f * hollow.v[i]);
            v += 0.05f * fbm((float)x / 5.0f, (float)y / 5.0f, 3, 77u);
            px[i] = (uint8_t)std::lround(80.0f + 105.0f * clamp01(v));
        }
    save(out, "grafika/fire/skull.pcx", px, SW, SH, fire_palette());
}

// A capsule of the figure: from (ax, ay) to (bx, by), radius r; nearer ones cover farther.
struct Limb {
    float ax, ay, bx, by, r, light;
};

// Five poses of a dancer, feet on one ground line: arms swing up and round, the knees
// bend and the body bobs, so the frames in turn make a loop.
void make_figure(Out& out)
{
    constexpr int SW = 224, SH = 256;
    std::vector<uint8_t> sheet((size_t)SW * SH, 255);
    struct Pose {
        float bob, arm_l, fore_l, arm_r, fore_r, leg_l, shin_l, leg_r, shin_r;
    };
    // Angles in radians from straight down, positive towards the figure's left (screen right).
    // The arms' reach stays inside the narrowest frames (38 pixels).
    const Pose poses[5] = {
        {0.0f, -0.3f, -0.5f, 0.3f, 0.5f, -0.15f, 0.0f, 0.15f, 0.0f},
        {4.0f, -2.2f, -2.9f, 0.2f, 0.4f, -0.35f, 0.25f, 0.1f, -0.3f},
        {1.0f, -2.8f, -3.0f, 2.8f, 3.0f, -0.2f, 0.0f, 0.2f, 0.0f},
        {9.0f, -0.2f, -0.9f, 2.2f, 2.9f, -0.45f, 0.5f, 0.45f, -0.5f},
        {5.0f, -0.6f, -0.3f, 0.6f, 0.3f, -0.1f, 0.3f, 0.35f, -0.2f},
    };
    constexpr float kGround = 113.0f;
    for (int f = 0; f < 5; ++f) {
        const SheetRect& r = kFigureFrames[f];
        const Pose& p = poses[f];
        float cx = (float)(r.x1 - r.x0) / 2.0f;
        float hip_y = kGround - 46.0f + p.bob;
        float neck_y = hip_y - 36.0f;
        auto end = [](float x, float y, float a, float len, float& ex, float& ey) {
            ex = x + std::sin(a) * len;
            ey = y + std::cos(a) * len;
        };
        std::vector<Limb> limbs;
        float ex, ey, fx, fy;
        // Far side first (darker), body, then near side.
        end(cx + 4.0f, neck_y + 4.0f, p.arm_r, 12.0f, ex, ey);
        end(ex, ey, p.fore_r, 11.0f, fx, fy);
        limbs.push_back({cx + 4.0f, neck_y + 4.0f, ex, ey, 3.2f, 0.7f});
        limbs.push_back({ex, ey, fx, fy, 2.8f, 0.7f});
        // Legs reach the ground: the shin's length makes up what the bob took.
        end(cx + 3.5f, hip_y, p.leg_r, 22.0f, ex, ey);
        limbs.push_back({cx + 3.5f, hip_y, ex, ey, 4.0f, 0.7f});
        limbs.push_back({ex, ey, ex + std::sin(p.shin_r) * 4.0f, kGround, 3.4f, 0.7f});
        limbs.push_back({cx, hip_y, cx, neck_y, 6.5f, 1.0f});
        limbs.push_back({cx, neck_y - 2.0f, cx, neck_y - 12.0f, 8.0f, 1.0f}); // head
        end(cx - 3.5f, hip_y, p.leg_l, 22.0f, ex, ey);
        limbs.push_back({cx - 3.5f, hip_y, ex, ey, 4.0f, 1.0f});
        limbs.push_back({ex, ey, ex + std::sin(p.shin_l) * 4.0f, kGround, 3.4f, 1.0f});
        end(cx - 4.0f, neck_y + 4.0f, p.arm_l, 12.0f, ex, ey);
        end(ex, ey, p.fore_l, 11.0f, fx, fy);
        limbs.push_back({cx - 4.0f, neck_y + 4.0f, ex, ey, 3.2f, 1.0f});
        limbs.push_back({ex, ey, fx, fy, 2.8f, 1.0f});
        for (int y = r.y0; y < r.y1; ++y)
            for (int x = r.x0; x < r.x1; ++x) {
                float px = (float)(x - r.x0) + 0.5f, py = (float)(y - r.y0) + 0.5f;
                float value = -1.0f;
                for (const Limb& l : limbs) {
                    float dx = l.bx - l.ax, dy = l.by - l.ay;
                    float len2 = dx * dx + dy * dy;
                    float t = len2 > 0.0f ? clamp01(((px - l.ax) * dx + (py - l.ay) * dy) / len2) : 0.0f;
                    float qx = px - (l.ax + t * dx), qy = py - (l.ay + t * dy);
                    float d = std::sqrt(qx * qx + qy * qy);
                    if (d > l.r + 1.0f)
                        continue;
                    if (d > l.r) {
                        value = 80.0f; // the dark outline
                        continue;
                    }
                    // Round limbs lit from the upper left.
                    float nz = std::sqrt(1.0f - (d / l.r) * (d / l.r));
                    float nx = qx / (l.r + 1e-3f), ny = qy / (l.r + 1e-3f);
                    float lit = clamp01(-0.55f * nx - 0.45f * ny + 0.7f * nz);
                    value = (96.0f + 70.0f * lit) * l.light + 80.0f * (1.0f - l.light);
                }
                if (value >= 0.0f)
                    sheet[(size_t)y * SW + x] = (uint8_t)std::lround(std::min(254.0f, value));
            }
    }
    save(out, "grafika/fire/fire.pcx", sheet, SW, SH, fire_palette());
}

} // namespace

void make_fire_pictures(Out& out)
{
    make_skull(out);
    make_figure(out);
}
