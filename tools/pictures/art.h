// Drawing helpers of the picture maker: canvases, noise, blur, relief lighting, text from a font, vector maths.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// A picture being made: w x h values, usually 0 (dark) to 1 (bright), rows from the top.
struct Canvas {
    int w = 0;
    int h = 0;
    std::vector<float> v;
};

Canvas canvas_make(int w, int h, float fill = 0.0f);
inline float& at(Canvas& c, int x, int y)
{
    return c.v[(size_t)y * c.w + x];
}
inline float at(const Canvas& c, int x, int y)
{
    return c.v[(size_t)y * c.w + x];
}
// The value at (x, y) with coordinates limited to the canvas.
float at_clamped(const Canvas& c, int x, int y);

constexpr float kPi = 3.14159265f;

inline float clamp01(float x)
{
    return x < 0.0f ? 0.0f : x > 1.0f ? 1.0f : x;
}
inline float mix(float a, float b, float t)
{
    return a + (b - a) * t;
}
inline float smooth(float e0, float e1, float x)
{
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// Smooth value noise in about -1..1 with a period of 256 cells in each direction, the same
// for the same seed on every run; fbm adds octaves of it.
float noise2(float x, float y, uint32_t seed);
float fbm(float x, float y, int octaves, uint32_t seed);

// c in the middle of a canvas margin larger on every side, 0 around it: room for a blur,
// a rim or a shadow to spread into.
Canvas padded(const Canvas& c, int margin);

// Box blur of the given radius, passes times (three passes look Gaussian).
Canvas blur(const Canvas& c, int radius, int passes);

// Shading of a height field lit from the direction (lx, ly, lz) (towards the light):
// 0 facing away .. 1 facing the light; depth scales the slopes.
Canvas relief(const Canvas& height, float depth, float lx, float ly, float lz);

// Coverage (0..1) of text in the font file at the pixel size, in a canvas as wide as the
// text and as high as the font's ascent plus descent. Ends the program when the font
// cannot be read: the pictures cannot be made without it.
Canvas text_mask(const std::string& font, const std::string& text, int pixel_size);
// The largest text_mask of text that fits w x h; its size is the canvas's.
Canvas text_fit(const std::string& font, const std::string& text, int w, int h);
// The glyphs' own extent in a mask: the smallest rectangle with coverage.
struct Box {
    int x0, y0, x1, y1; // x1, y1 excluded
};
Box ink_box(const Canvas& mask);

extern const std::string kFontBold;
extern const std::string kFontSerifBold;
extern const std::string kFontSans;

// Three-component vectors for the ray tracer.
struct Vec {
    float x, y, z;
};
inline Vec operator+(Vec a, Vec b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec operator-(Vec a, Vec b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec operator*(Vec a, float s)
{
    return {a.x * s, a.y * s, a.z * s};
}
inline float dot(Vec a, Vec b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec cross(Vec a, Vec b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec normalize(Vec a)
{
    return a * (1.0f / std::sqrt(dot(a, a)));
}
