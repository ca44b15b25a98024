// Ray-traced still lifes: spheres and cubes on a floor under one light; the picture set's balls, still life and cube.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "tools/pictures/families.h"

namespace {

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

} // namespace

void make_still_lifes(Out& out)
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
}
