// Landscapes: sky, sun or moon, ridges of hills and a mirroring lake; the intro's and the day's pictures.
#include "tools/pictures/landscape.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/pictures/families.h"

namespace {

float sky_at(const Sky& s, float x, float y, float horizon_y)
{
    float t = clamp01(y / horizon_y);
    float v = mix(s.top, s.horizon, std::pow(t, 1.6f));
    float d = std::hypot(x - s.sun_x, y - s.sun_y);
    v += s.glow * std::exp(-d / 38.0f) + 0.5f * s.glow * std::exp(-d / 110.0f);
    if (d < s.sun_r)
        v = std::max(v, 1.0f - 0.15f * (d / s.sun_r) * (d / s.sun_r));
    else if (d < s.sun_r + 1.5f)
        v = std::max(v, mix(0.85f, v, (d - s.sun_r) / 1.5f));
    // Long, thin clouds lit from below near the sun.
    float cloud = smooth(0.25f, 0.75f, fbm(x / 90.0f, y / 14.0f, 4, s.seed + 7)) * smooth(horizon_y, 20.0f, y);
    v = mix(v, v * 0.7f + 0.25f * s.glow * 3.0f, cloud * 0.6f);
    if (s.stars) {
        uint32_t h = (uint32_t)x * 2654435761u ^ (uint32_t)y * 40503u ^ s.seed;
        h = (h ^ (h >> 15)) * 2246822519u;
        if ((h >> 22) < 3 && y < horizon_y * 0.8f)
            v = std::max(v, 0.55f + 0.1f * (float)((h >> 8) & 3));
    }
    return v;
}

// One pixel of the landscape, without the lake.
float land_at(const Sky& s, float x, float y, float horizon_y)
{
    // Ridges from far to near: each is a noise profile; nearer ones are darker and rougher.
    constexpr int kRidges = 4;
    float v = sky_at(s, x, y, horizon_y);
    float haze = s.horizon * 0.8f;
    for (int i = 0; i < kRidges; ++i) {
        float depth = (float)i / (kRidges - 1); // 0 far .. 1 near
        float base = horizon_y - 34.0f + 14.0f * (float)i;
        float amp = 20.0f + 22.0f * depth;
        float f = 1.0f / (110.0f - 22.0f * (float)i);
        uint32_t seed = s.seed + (uint32_t)i * 13u;
        float top = base - amp * (0.5f + 0.5f * fbm(x * f, (float)i * 3.7f, 5, seed));
        if (y < top)
            continue;
        // Broad faces turned to the sun or away from it, from the ridge's coarse shape,
        // rock texture on them, and mist gathering in the valleys below each crest.
        float slope = (fbm((x + 3.0f) * f, (float)i * 3.7f, 2, seed) - fbm((x - 3.0f) * f, (float)i * 3.7f, 2, seed)) *
                      amp / 6.0f;
        float side = std::clamp((s.sun_x - x) / 80.0f, -1.0f, 1.0f);
        float lit = clamp01(0.5f + 1.5f * slope * side);
        float rock = fbm(x / 14.0f, y / 7.0f + (float)i * 10.0f, 4, seed + 50u);
        float body = mix(haze, s.ridge_dark, std::pow(depth, 0.7f));
        v = body * (0.85f + 0.3f * (lit - 0.5f) + 0.12f * rock * (0.3f + depth));
        v = mix(v, haze, 0.35f * smooth(top + 4.0f, top + 30.0f, y) * (1.0f - 0.6f * depth));
    }
    return v;
}

} // namespace

Canvas landscape(const Sky& s)
{
    Canvas c = canvas_make(W, H);
    float horizon_y = s.lake ? 150.0f : 200.0f;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float fx = (float)x, fy = (float)y;
            float v;
            if (s.lake && fy >= horizon_y) {
                // The lake mirrors the land above the shore, broken by ripples that grow
                // towards the viewer.
                float d = fy - horizon_y;
                float ripple = std::sin(d * d * 0.02f + fbm(fx / 40.0f, d / 3.0f, 3, s.seed + 5u) * 3.0f);
                float mx = fx + ripple * (0.5f + d * 0.06f);
                v = land_at(s, mx, horizon_y - d * 1.0f - 1.0f, horizon_y) * 0.78f;
                v += 0.04f * ripple * smooth(0.0f, 60.0f, d);
            } else {
                v = land_at(s, fx, fy, horizon_y);
            }
            at(c, x, y) = clamp01(v);
        }
    return c;
}

void make_landscapes(Out& out)
{
    // The intro's, in old film's brown.
    Sky intro{0.25f, 0.85f, 225.0f, 118.0f, 13.0f, 0.22f, 0.12f, false, true, 4242u};
    save(out, "grafika/intro/taze.pcx", quantise(landscape(intro), 0, 255), W, H, sepia_palette());

    // d: one range of hills through a day, from dawn to a moonlit night.
    const Sky days[6] = {
        {0.30f, 0.80f, 60.0f, 135.0f, 14.0f, 0.25f, 0.10f, false, true, 101u},  // dawn
        {0.55f, 0.95f, 120.0f, 40.0f, 12.0f, 0.15f, 0.30f, false, false, 202u}, // noon
        {0.45f, 0.85f, 250.0f, 70.0f, 13.0f, 0.20f, 0.18f, false, true, 303u},  // afternoon
        {0.20f, 0.70f, 170.0f, 128.0f, 18.0f, 0.35f, 0.05f, false, true, 404u}, // sunset
        {0.10f, 0.40f, 90.0f, 150.0f, 10.0f, 0.30f, 0.02f, true, false, 505u},  // dusk
        {0.02f, 0.18f, 240.0f, 50.0f, 9.0f, 0.12f, 0.01f, true, true, 606u},    // night
    };
    const Palette grey = grey_palette();
    char path[64];
    for (int i = 0; i < 6; ++i) {
        std::snprintf(path, sizeof path, "grafika/aaa/d%d.pcx", i + 1);
        save(out, path, quantise(landscape(days[i]), 0, 255), W, H, grey);
    }
}
