// The pictures of the show, drawn in code: landscapes, ray-traced still lifes, textures,
// lettering from a font, a skull and a dancing figure, each written as a PCX file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/art.h"
#include "tools/data.h"
#include "tools/pcx_write.h"
#include "tools/pictures.h"

namespace {

constexpr int W = 320;
constexpr int H = 240;
constexpr float kPi = 3.14159265f;

// ---- Palettes and quantising ----

Palette grey_palette()
{
    Palette p;
    for (int i = 0; i < 256; ++i)
        p.rgb[3 * i] = p.rgb[3 * i + 1] = p.rgb[3 * i + 2] = (uint8_t)i;
    return p;
}

// Old film: a warm brown ramp from black to a pale cream, brightness rising with the index.
Palette sepia_palette()
{
    Palette p;
    for (int i = 0; i < 256; ++i) {
        float t = (float)i / 255.0f;
        p.rgb[3 * i] = (uint8_t)std::lround(255.0f * std::pow(t, 0.92f));
        p.rgb[3 * i + 1] = (uint8_t)std::lround(240.0f * std::pow(t, 1.05f));
        p.rgb[3 * i + 2] = (uint8_t)std::lround(205.0f * std::pow(t, 1.25f));
    }
    return p;
}

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

// Canvas values 0..1 spread over the indices lo..hi.
std::vector<uint8_t> quantise(const Canvas& c, int lo, int hi)
{
    std::vector<uint8_t> out(c.v.size());
    for (size_t i = 0; i < c.v.size(); ++i)
        out[i] = (uint8_t)std::lround((float)lo + clamp01(c.v[i]) * (float)(hi - lo));
    return out;
}

// ---- Landscapes ----

struct Sky {
    float top, horizon; // brightness of the sky at the top and at the horizon
    float sun_x, sun_y; // centre of the sun or moon, pixels
    float sun_r, glow;  // radius and strength of its halo
    float ridge_dark;   // brightness of the nearest ridge
    bool stars, lake;
    uint32_t seed;
};

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

// ---- Ray tracing: spheres, boxes and a floor under one light ----

struct Sphere {
    Vec c;
    float r, albedo;
};
// A cube of half-size half (the same on every axis) whose own axes point along axes.
struct Cube {
    Vec c;
    float half;
    Vec axes[3];
    float albedo;
    int tiles; // an odd number: a chequer of tiles x tiles on each face; 0 plain
};
struct Scene {
    std::vector<Sphere> spheres;
    std::vector<Cube> cubes;
    Vec eye, target;
    float fov;
    Vec light; // towards the light
    float floor_albedo;
    int floor_pattern; // 0 checks, 1 rings
    float sky_top, sky_low;
};

struct Hit {
    float t;
    Vec n;
    float albedo;
};

Vec rotate_y(Vec v, float a)
{
    float c = std::cos(a), s = std::sin(a);
    return {c * v.x + s * v.z, v.y, -s * v.x + c * v.z};
}
Vec rotate_x(Vec v, float a)
{
    float c = std::cos(a), s = std::sin(a);
    return {v.x, c * v.y - s * v.z, s * v.y + c * v.z};
}

// The axes of a cube turned by yaw about the vertical, tilted by pitch about x, then
// spun by spin about the vertical again.
Cube cube_turned(Vec c, float half, float yaw, float pitch, float spin, float albedo, int tiles)
{
    Cube b{c, half, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, albedo, tiles};
    for (Vec& a : b.axes)
        a = rotate_y(rotate_x(rotate_y(a, yaw), pitch), spin);
    return b;
}

bool hit_sphere(const Sphere& s, Vec o, Vec d, Hit& h)
{
    Vec oc = o - s.c;
    float b = dot(oc, d), c = dot(oc, oc) - s.r * s.r;
    float disc = b * b - c;
    if (disc < 0.0f)
        return false;
    float t = -b - std::sqrt(disc);
    if (t < 1e-3f || t >= h.t)
        return false;
    h.t = t;
    h.n = normalize(o + d * t - s.c);
    h.albedo = s.albedo;
    return true;
}

bool hit_cube(const Cube& b, Vec o, Vec d, Hit& h)
{
    // Into the cube's own frame, a slab test there, and the normal back out.
    Vec rel = o - b.c;
    Vec lo{dot(rel, b.axes[0]), dot(rel, b.axes[1]), dot(rel, b.axes[2])};
    Vec ld{dot(d, b.axes[0]), dot(d, b.axes[1]), dot(d, b.axes[2])};
    float tn = -1e30f, tf = 1e30f;
    int axis = 0;
    float sign = 1.0f;
    const float ov[3] = {lo.x, lo.y, lo.z}, dv[3] = {ld.x, ld.y, ld.z};
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(dv[i]) < 1e-8f) {
            if (std::fabs(ov[i]) > b.half)
                return false;
            continue;
        }
        float t1 = (-b.half - ov[i]) / dv[i], t2 = (b.half - ov[i]) / dv[i];
        float s = -1.0f;
        if (t1 > t2) {
            std::swap(t1, t2);
            s = 1.0f;
        }
        if (t1 > tn) {
            tn = t1;
            axis = i;
            sign = s;
        }
        tf = std::min(tf, t2);
    }
    if (tn > tf || tn < 1e-3f || tn >= h.t)
        return false;
    h.t = tn;
    h.n = b.axes[axis] * sign;
    h.albedo = b.albedo;
    if (b.tiles > 0) {
        // Tiles on each face, from the hit point's two coordinates across that face.
        Vec q = lo + ld * tn;
        float u = axis == 0 ? q.y : q.x, v = axis == 2 ? q.y : q.z;
        int iu = (int)std::floor((u / (2.0f * b.half) + 0.5f) * (float)b.tiles);
        int iv = (int)std::floor((v / (2.0f * b.half) + 0.5f) * (float)b.tiles);
        if ((iu + iv) & 1)
            h.albedo *= 0.6f;
    }
    return true;
}

bool trace(const Scene& sc, Vec o, Vec d, Hit& h)
{
    bool any = false;
    for (const Sphere& s : sc.spheres)
        any |= hit_sphere(s, o, d, h);
    for (const Cube& b : sc.cubes)
        any |= hit_cube(b, o, d, h);
    return any;
}

float floor_shade(const Scene& sc, Vec p)
{
    if (sc.floor_pattern == 0) {
        bool odd = ((int)std::floor(p.x) + (int)std::floor(p.z)) & 1;
        return sc.floor_albedo * (odd ? 0.55f : 1.0f);
    }
    // Rings fade out with distance before they become finer than a pixel.
    float r = std::sqrt(p.x * p.x + p.z * p.z);
    return sc.floor_albedo * (0.75f + 0.25f * std::cos(r * 4.0f) * std::exp(-std::max(0.0f, r - 3.0f) * 0.35f));
}

float shade_ray(const Scene& sc, Vec o, Vec d)
{
    Hit h{1e30f, {0, 1, 0}, 0};
    bool obj = trace(sc, o, d, h);
    float floor_t = d.y < -1e-4f ? -o.y / d.y : 1e30f;
    float sky = mix(sc.sky_low, sc.sky_top, clamp01(d.y * 2.5f + 0.1f));
    if (!obj && floor_t >= 1e29f)
        return sky;
    Vec p, n;
    float albedo;
    if (obj && h.t < floor_t) {
        p = o + d * h.t;
        n = h.n;
        albedo = h.albedo;
    } else {
        h.t = floor_t;
        p = o + d * floor_t;
        n = {0, 1, 0};
        albedo = floor_shade(sc, p);
    }
    Hit sh{1e30f, {0, 1, 0}, 0};
    bool shadowed = trace(sc, p + n * 2e-3f, sc.light, sh);
    float diffuse = shadowed ? 0.0f : std::max(0.0f, dot(n, sc.light));
    Vec half = normalize(sc.light - d);
    float specular = shadowed || n.y > 0.999f ? 0.0f : std::pow(std::max(0.0f, dot(n, half)), 40.0f);
    float ambient = 0.18f + 0.12f * n.y;
    float v = albedo * (ambient + 0.85f * diffuse) + 0.55f * specular;
    float fog = 1.0f - std::exp(-h.t * 0.035f);
    return mix(v, sky, fog);
}

Canvas render(const Scene& sc)
{
    Vec fwd = normalize(sc.target - sc.eye);
    Vec right = normalize(cross(fwd, {0, 1, 0}));
    Vec up = cross(right, fwd);
    float scale = std::tan(sc.fov * 0.5f);
    Canvas c = canvas_make(W, H);
    // Four rays a pixel, for smooth edges.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float sum = 0.0f;
            for (int s = 0; s < 4; ++s) {
                float px = ((float)x + 0.25f + 0.5f * (float)(s & 1)) / W * 2.0f - 1.0f;
                float py = 1.0f - ((float)y + 0.25f + 0.5f * (float)(s >> 1)) / H * 2.0f;
                Vec d = normalize(fwd + right * (px * scale) + up * (py * scale * (float)H / W));
                sum += shade_ray(sc, sc.eye, d);
            }
            at(c, x, y) = clamp01(sum * 0.25f);
        }
    return c;
}

// b: a ring of six balls circling a big one; four steps of a fifteen-degree turn, so the
// four pictures in a row loop.
Canvas ring_of_balls(int step)
{
    Scene sc;
    sc.spheres.push_back({{0, 1.0f, 0}, 1.0f, 0.9f});
    for (int i = 0; i < 6; ++i) {
        float a = (float)i * kPi / 3.0f + (float)step * kPi / 12.0f;
        float lift = 0.35f + 0.35f * (0.5f + 0.5f * std::sin(2.0f * a));
        sc.spheres.push_back({{2.3f * std::cos(a), lift, 2.3f * std::sin(a)}, 0.35f, 0.8f});
    }
    sc.eye = {0.0f, 3.2f, -6.5f};
    sc.target = {0, 0.6f, 0};
    sc.fov = 0.95f;
    sc.light = normalize({-0.6f, 0.9f, -0.35f});
    sc.floor_albedo = 0.75f;
    sc.floor_pattern = 0;
    sc.sky_top = 0.35f;
    sc.sky_low = 0.9f;
    return render(sc);
}

// c: one still life (a ball leaning on a block, a small ball before them) from three sides.
Canvas still_life(int view)
{
    Scene sc;
    sc.cubes.push_back(cube_turned({0.2f, 0.8f, 0.3f}, 0.8f, 0.5f, 0.0f, 0.0f, 0.7f, 0));
    sc.spheres.push_back({{-1.3f, 0.9f, -0.1f}, 0.9f, 0.95f});
    sc.spheres.push_back({{0.6f, 0.4f, -1.5f}, 0.4f, 0.6f});
    sc.spheres.push_back({{0.2f, 1.9f, 0.3f}, 0.3f, 1.0f});
    float a = -0.55f + 0.55f * (float)view;
    float dist = 6.0f - 0.8f * (float)view;
    sc.eye = {dist * std::sin(a), 2.2f + 0.6f * (float)view, -dist * std::cos(a)};
    sc.target = {-0.2f, 0.8f, 0};
    sc.fov = 0.9f;
    sc.light = normalize({0.7f - 0.5f * (float)view, 0.8f, -0.5f});
    sc.floor_albedo = 0.8f;
    sc.floor_pattern = 0;
    sc.sky_top = 0.55f;
    sc.sky_low = 0.95f;
    return render(sc);
}

// e: a cube spinning on one corner above ringed ground; four steps of 30 degrees loop,
// since a third of a turn about the diagonal and the odd chequer bring it back to itself.
Canvas turning_cube(int step)
{
    Scene sc;
    // Balanced on a corner: an eighth of a turn brings the diagonal (1, 1, 1) into the y-z
    // plane as (0, 1, sqrt 2), the tilt stands it upright, then the spin turns about it.
    sc.cubes.push_back(cube_turned({0, 1.75f, 0}, 0.85f, -kPi / 4.0f, -std::atan(std::sqrt(2.0f)),
                                   (float)step * kPi / 6.0f, 0.95f, 5));
    sc.eye = {0.0f, 3.2f, -7.0f};
    sc.target = {0, 1.3f, 0};
    sc.fov = 0.9f;
    sc.light = normalize({0.4f, 1.0f, -0.6f});
    sc.floor_albedo = 0.55f;
    sc.floor_pattern = 1;
    sc.sky_top = 0.02f;
    sc.sky_low = 0.3f;
    Canvas c = render(sc);
    // A spotlight's fall-off around the cube.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float d = std::hypot((float)x - 160.0f, ((float)y - 130.0f) * 1.2f) / 200.0f;
            at(c, x, y) *= 1.0f - 0.55f * smooth(0.3f, 1.0f, d);
        }
    return c;
}

// ---- Lettering ----

// How a word is drawn: bevelled letters in the values letter_lo .. letter_hi, lit from the
// upper left, inside a darker rim in rim_lo .. rim_hi, with 0 all around.
struct Lettering {
    float letter_lo, letter_hi, rim_lo, rim_hi;
};

// Draws text centred in rect of sheet (values 0..255, 0 where nothing is drawn).
void draw_word(std::vector<uint8_t>& sheet, int sheet_w, const SheetRect& r, const std::string& text,
               const std::string& font, const Lettering& look)
{
    constexpr int kRim = 2;
    constexpr int kMargin = kRim + 2;
    int bw = r.x1 - r.x0 - 2 * kMargin, bh = r.y1 - r.y0 - 2 * kMargin;
    Canvas m = text_fit(font, text, bw, bh);
    // Pad for the rim and the bevel, then light the blurred letters as a relief.
    Canvas pad = canvas_make(m.w + 2 * kMargin, m.h + 2 * kMargin);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            at(pad, x + kMargin, y + kMargin) = at(m, x, y);
    Canvas shade = relief(blur(pad, 2, 2), 6.0f, -0.5f, -0.7f, 0.6f);
    int ox = r.x0 + (r.x1 - r.x0 - pad.w) / 2, oy = r.y0 + (r.y1 - r.y0 - pad.h) / 2;
    for (int y = 0; y < pad.h; ++y)
        for (int x = 0; x < pad.w; ++x) {
            float rim = 0.0f;
            for (int dy = -kRim; dy <= kRim; ++dy)
                for (int dx = -kRim; dx <= kRim; ++dx)
                    if (dx * dx + dy * dy <= kRim * kRim + 1)
                        rim = std::max(rim, at_clamped(pad, x + dx, y + dy));
            float ink = at(pad, x, y);
            float value;
            if (ink >= 0.5f)
                value = mix(look.letter_lo, look.letter_hi, at(shade, x, y));
            else if (rim >= 0.3f)
                value = mix(look.rim_lo, look.rim_hi, ink * 2.0f);
            else
                continue;
            int sx = ox + x, sy = oy + y;
            if (sx > r.x0 && sy > r.y0 && sx < r.x1 - 1 && sy < r.y1 - 1)
                sheet[(size_t)sy * sheet_w + sx] = (uint8_t)std::lround(value);
        }
}

// ---- The pictures ----

struct Out {
    std::string dir;
    int failures = 0;
};

void save(Out& out, const char* path, const std::vector<uint8_t>& px, int w, int h, const Palette& pal)
{
    if (pcx_write(out.dir + "/" + path, px.data(), w, h, pal) != 0)
        ++out.failures;
}

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
        Canvas pad = canvas_make(m.w + 16, m.h + 16);
        for (int y = 0; y < m.h; ++y)
            for (int x = 0; x < m.w; ++x)
                at(pad, x + 8, y + 8) = at(m, x, y);
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

// The intro: a landscape in old film's brown, and the lettering sheet with its palette.
void make_intro(Out& out)
{
    Palette pal = sepia_palette();
    Sky s{0.25f, 0.85f, 225.0f, 118.0f, 13.0f, 0.22f, 0.12f, false, true, 4242u};
    save(out, "grafika/intro/taze.pcx", quantise(landscape(s), 0, 255), W, H, pal);

    constexpr int kSheetH = 243;
    std::vector<uint8_t> sheet((size_t)W * kSheetH, 0);
    static const char* const kPieceText[10] = {"WE ARE", "TARQLE",  "WITH",    "A NEW",  "DEMO",
                                               "NINE",   "EFFECTS", "THIS IS", "TARQLE", "ENJOY"};
    Lettering look{215.0f, 255.0f, 14.0f, 60.0f};
    for (int i = 0; i < 10; ++i)
        if (i != 8) // the same rectangle as piece 1
            draw_word(sheet, W, kIntroPieces[i], kPieceText[i], kFontSerifBold, look);
    save(out, "grafika/intro/inttxt.pcx", sheet, W, kSheetH, pal);
}

void make_blobs(Out& out)
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

void make_picture_set(Out& out)
{
    Palette grey = grey_palette();
    char path[64];
    for (int i = 0; i < 4; ++i) {
        std::snprintf(path, sizeof path, "grafika/aaa/b%d.pcx", i + 1);
        save(out, path, quantise(ring_of_balls(i), 0, 255), W, H, grey);
        std::snprintf(path, sizeof path, "grafika/aaa/e%d.pcx", i + 1);
        save(out, path, quantise(turning_cube(i), 0, 255), W, H, grey);
    }
    for (int i = 0; i < 3; ++i) {
        std::snprintf(path, sizeof path, "grafika/aaa/c%d.pcx", i + 1);
        save(out, path, quantise(still_life(i), 0, 255), W, H, grey);
    }
    // d: one range of hills through a day, from dawn to a moonlit night.
    const Sky days[6] = {
        {0.30f, 0.80f, 60.0f, 135.0f, 14.0f, 0.25f, 0.10f, false, true, 101u},  // dawn
        {0.55f, 0.95f, 120.0f, 40.0f, 12.0f, 0.15f, 0.30f, false, false, 202u}, // noon
        {0.45f, 0.85f, 250.0f, 70.0f, 13.0f, 0.20f, 0.18f, false, true, 303u},  // afternoon
        {0.20f, 0.70f, 170.0f, 128.0f, 18.0f, 0.35f, 0.05f, false, true, 404u}, // sunset
        {0.10f, 0.40f, 90.0f, 150.0f, 10.0f, 0.30f, 0.02f, true, false, 505u},  // dusk
        {0.02f, 0.18f, 240.0f, 50.0f, 9.0f, 0.12f, 0.01f, true, true, 606u},    // night
    };
    for (int i = 0; i < 6; ++i) {
        std::snprintf(path, sizeof path, "grafika/aaa/d%d.pcx", i + 1);
        save(out, path, quantise(landscape(days[i]), 0, 255), W, H, grey);
    }
}

void make_words(Out& out)
{
    constexpr int kSheetH = 800;
    static const char* const kWords[24] = {
        "RIPPLE", "FLOW", "LIGHT", "SHADOWS",  "MOTION",  "SUN", "WAVE", "SKY",    "DREAM",    "GO",   "SPEED", "ZOOM",
        "NIGHT",  "GLOW", "FLAME", "SOFTWARE", "TRACKER", "RUN", "FIRE", "BRIGHT", "ILLUSION", "BEAT", "PIXEL", "SPACE",
    };
    static_assert(std::size(kWords) == std::size(kWordRects));
    std::vector<uint8_t> sheet((size_t)W * kSheetH, 0);
    Lettering look{205.0f, 255.0f, 40.0f, 150.0f};
    for (size_t i = 0; i < std::size(kWords); ++i)
        draw_word(sheet, W, kWordRects[i], kWords[i], kFontBold, look);
    save(out, "grafika/words.pcx", sheet, W, kSheetH, grey_palette());
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

// ---- The closing picture: colour, with a palette of its own ----

struct Rgb {
    float r, g, b;
};

// Median cut: the colours are split at the median of their widest channel until there are
// 256 boxes; each box's mean is an entry, each pixel takes the nearest entry.
std::vector<uint8_t> median_cut(const std::vector<Rgb>& img, Palette& pal)
{
    std::vector<size_t> order(img.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    struct Span {
        size_t begin, end;
    };
    std::vector<Span> boxes{{0, order.size()}};
    auto channel = [&](size_t i, int c) { return c == 0 ? img[i].r : c == 1 ? img[i].g : img[i].b; };
    auto widest = [&](const Span& s, float& extent) {
        float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
        for (size_t k = s.begin; k < s.end; ++k)
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], channel(order[k], c));
                hi[c] = std::max(hi[c], channel(order[k], c));
            }
        int best = 0;
        for (int c = 1; c < 3; ++c)
            if (hi[c] - lo[c] > hi[best] - lo[best])
                best = c;
        extent = (hi[best] - lo[best]) * std::sqrt((float)(s.end - s.begin));
        return best;
    };
    while (boxes.size() < 256) {
        size_t pick = 0;
        float best_extent = -1.0f;
        int axis = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            float e;
            int c = widest(boxes[b], e);
            if (boxes[b].end - boxes[b].begin > 1 && e > best_extent) {
                best_extent = e;
                pick = b;
                axis = c;
            }
        }
        if (best_extent <= 0.0f)
            break;
        Span s = boxes[pick];
        size_t mid = s.begin + (s.end - s.begin) / 2;
        std::nth_element(order.begin() + (long)s.begin, order.begin() + (long)mid, order.begin() + (long)s.end,
                         [&](size_t a, size_t b) {
                             return channel(a, axis) < channel(b, axis) ||
                                    (channel(a, axis) == channel(b, axis) && a < b);
                         });
        boxes[pick] = {s.begin, mid};
        boxes.push_back({mid, s.end});
    }
    pal = Palette{};
    std::vector<Rgb> entries;
    for (const Span& s : boxes) {
        Rgb m{0, 0, 0};
        for (size_t k = s.begin; k < s.end; ++k) {
            m.r += img[order[k]].r;
            m.g += img[order[k]].g;
            m.b += img[order[k]].b;
        }
        float n = (float)(s.end - s.begin);
        entries.push_back({m.r / n, m.g / n, m.b / n});
    }
    for (size_t e = 0; e < entries.size(); ++e) {
        pal.rgb[3 * e] = (uint8_t)std::lround(255.0f * clamp01(entries[e].r));
        pal.rgb[3 * e + 1] = (uint8_t)std::lround(255.0f * clamp01(entries[e].g));
        pal.rgb[3 * e + 2] = (uint8_t)std::lround(255.0f * clamp01(entries[e].b));
    }
    std::vector<uint8_t> px(img.size());
    for (size_t i = 0; i < img.size(); ++i) {
        float best = 1e9f;
        for (size_t e = 0; e < entries.size(); ++e) {
            float dr = img[i].r - entries[e].r, dg = img[i].g - entries[e].g, db = img[i].b - entries[e].b;
            float d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                px[i] = (uint8_t)e;
            }
        }
    }
    return px;
}

// Sunset over the sea, and the farewell written in gold.
void make_closing(Out& out)
{
    Sky s{0.0f, 1.0f, 160.0f, 140.0f, 16.0f, 0.3f, 0.0f, false, true, 9090u};
    Canvas land = landscape(s);
    Canvas title = text_fit(kFontSerifBold, "THE END", 250, 52);
    Canvas sub = text_fit(kFontSans, "thanks for watching", 180, 16);
    std::vector<Rgb> img((size_t)W * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float v = at(land, x, y);
            // Brightness through a sunset's colours: violet night, red, orange, pale yellow.
            float t = clamp01(v);
            Rgb c{clamp01(0.10f + 1.35f * t), clamp01(0.04f + 1.1f * t * t),
                  clamp01(0.16f + 0.5f * t * t * t + 0.25f * (1.0f - t) * t)};
            if (y > 150) // the sea a little bluer
                c.b = clamp01(c.b + 0.08f);
            img[(size_t)y * W + x] = c;
        }
    auto place = [&](const Canvas& m, int ox, int oy, bool gold) {
        Canvas pad = canvas_make(m.w + 12, m.h + 12);
        for (int y = 0; y < m.h; ++y)
            for (int x = 0; x < m.w; ++x)
                at(pad, x + 6, y + 6) = at(m, x, y);
        Canvas lit = relief(blur(pad, 1, 3), 5.0f, -0.4f, -0.8f, 0.5f);
        Canvas shadow = blur(pad, 2, 2);
        for (int y = 0; y < pad.h; ++y)
            for (int x = 0; x < pad.w; ++x) {
                int sx = ox + x - 6, sy = oy + y - 6;
                if (sx < 0 || sy < 0 || sx >= W || sy >= H)
                    continue;
                Rgb& p = img[(size_t)sy * W + sx];
                float sh = 0.75f * at_clamped(shadow, x - 3, y - 3);
                p = {p.r * (1.0f - sh), p.g * (1.0f - sh), p.b * (1.0f - sh)};
                float ink = at(pad, x, y);
                float l = at(lit, x, y);
                Rgb ink_colour =
                    gold ? Rgb{0.55f + 0.45f * l, 0.38f + 0.5f * l, 0.1f + 0.35f * l * l} : Rgb{0.85f, 0.82f, 0.9f};
                p = {mix(p.r, ink_colour.r, ink), mix(p.g, ink_colour.g, ink), mix(p.b, ink_colour.b, ink)};
            }
    };
    place(title, (W - title.w) / 2, 22, true);
    place(sub, (W - sub.w) / 2, 84, false);
    Palette pal;
    std::vector<uint8_t> px = median_cut(img, pal);
    save(out, "grafika/dornvask.pcx", px, W, H, pal);
}

} // namespace

int make_pictures(const std::string& out_dir)
{
    Out out{out_dir};
    make_presents(out);
    make_intro(out);
    make_blobs(out);
    make_picture_set(out);
    make_words(out);
    make_skull(out);
    make_figure(out);
    make_closing(out);
    return out.failures == 0 ? 0 : 1;
}
