// The picture maker's drawing helpers; everything here is deterministic.
#include "tools/pictures/art.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>

const std::string kFontBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
const std::string kFontSerifBold = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
const std::string kFontSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

Canvas canvas_make(int w, int h, float fill)
{
    Canvas c;
    c.w = w;
    c.h = h;
    c.v.assign((size_t)w * h, fill);
    return c;
}

float at_clamped(const Canvas& c, int x, int y)
{
    x = std::clamp(x, 0, c.w - 1);
    y = std::clamp(y, 0, c.h - 1);
    return at(c, x, y);
}

namespace {

float lattice(int x, int y, uint32_t seed)
{
    uint32_t h = (uint32_t)(x & 255) * 374761393u + (uint32_t)(y & 255) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (float)(h & 0xFFFF) / 32767.5f - 1.0f;
}

} // namespace

float noise2(float x, float y, uint32_t seed)
{
    float fx = std::floor(x), fy = std::floor(y);
    int ix = (int)fx, iy = (int)fy;
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0f - 2.0f * tx);
    ty = ty * ty * (3.0f - 2.0f * ty);
    float a = mix(lattice(ix, iy, seed), lattice(ix + 1, iy, seed), tx);
    float b = mix(lattice(ix, iy + 1, seed), lattice(ix + 1, iy + 1, seed), tx);
    return mix(a, b, ty);
}

float fbm(float x, float y, int octaves, uint32_t seed)
{
    float sum = 0.0f, amp = 0.5f;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * noise2(x, y, seed + (uint32_t)i * 101u);
        x = x * 2.03f + 17.0f;
        y = y * 2.03f + 31.0f;
        amp *= 0.5f;
    }
    return sum * 2.0f;
}

Canvas padded(const Canvas& c, int margin)
{
    Canvas out = canvas_make(c.w + 2 * margin, c.h + 2 * margin);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x)
            at(out, x + margin, y + margin) = at(c, x, y);
    return out;
}

Canvas blur(const Canvas& c, int radius, int passes)
{
    Canvas a = c, b = c;
    float scale = 1.0f / (float)(2 * radius + 1);
    for (int p = 0; p < passes; ++p) {
        for (int y = 0; y < a.h; ++y)
            for (int x = 0; x < a.w; ++x) {
                float s = 0.0f;
                for (int k = -radius; k <= radius; ++k)
                    s += at_clamped(a, x + k, y);
                at(b, x, y) = s * scale;
            }
        for (int y = 0; y < a.h; ++y)
            for (int x = 0; x < a.w; ++x) {
                float s = 0.0f;
                for (int k = -radius; k <= radius; ++k)
                    s += at_clamped(b, x, y + k);
                at(a, x, y) = s * scale;
            }
    }
    return a;
}

Canvas relief(const Canvas& height, float depth, float lx, float ly, float lz)
{
    Vec light = normalize({lx, ly, lz});
    Canvas out = canvas_make(height.w, height.h);
    for (int y = 0; y < height.h; ++y)
        for (int x = 0; x < height.w; ++x) {
            float dx = (at_clamped(height, x + 1, y) - at_clamped(height, x - 1, y)) * depth;
            float dy = (at_clamped(height, x, y + 1) - at_clamped(height, x, y - 1)) * depth;
            Vec n = normalize({-dx, -dy, 1.0f});
            at(out, x, y) = clamp01(dot(n, light));
        }
    return out;
}

Canvas text_mask(const std::string& font, const std::string& text, int pixel_size)
{
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib) != 0 || FT_New_Face(lib, font.c_str(), 0, &face) != 0) {
        std::fprintf(stderr, "cannot read the font %s\n", font.c_str());
        std::exit(1);
    }
    FT_Set_Pixel_Sizes(face, 0, (FT_UInt)pixel_size);
    int ascent = (int)(face->size->metrics.ascender >> 6);
    int descent = (int)(-face->size->metrics.descender >> 6);
    // First pass measures, second draws; kerning pairs come from the font.
    Canvas c;
    for (int pass = 0; pass < 2; ++pass) {
        long pen = 0;
        FT_UInt previous = 0;
        for (unsigned char ch : text) {
            FT_UInt glyph = FT_Get_Char_Index(face, ch);
            if (previous != 0 && FT_HAS_KERNING(face)) {
                FT_Vector k;
                FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &k);
                pen += k.x;
            }
            previous = glyph;
            if (FT_Load_Glyph(face, glyph, FT_LOAD_RENDER) != 0)
                continue;
            FT_GlyphSlot g = face->glyph;
            if (pass == 1) {
                int ox = (int)(pen >> 6) + g->bitmap_left;
                int oy = ascent - g->bitmap_top;
                for (unsigned r = 0; r < g->bitmap.rows; ++r)
                    for (unsigned col = 0; col < g->bitmap.width; ++col) {
                        int x = ox + (int)col, y = oy + (int)r;
                        if (x >= 0 && y >= 0 && x < c.w && y < c.h)
                            at(c, x, y) = std::max(at(c, x, y), g->bitmap.buffer[r * g->bitmap.pitch + col] / 255.0f);
                    }
            }
            pen += g->advance.x;
        }
        if (pass == 0)
            c = canvas_make((int)(pen >> 6) + 2, ascent + descent);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return c;
}

Box ink_box(const Canvas& mask)
{
    Box b{mask.w, mask.h, 0, 0};
    for (int y = 0; y < mask.h; ++y)
        for (int x = 0; x < mask.w; ++x)
            if (at(mask, x, y) > 0.0f) {
                b.x0 = std::min(b.x0, x);
                b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x + 1);
                b.y1 = std::max(b.y1, y + 1);
            }
    return b;
}

Canvas text_fit(const std::string& font, const std::string& text, int w, int h)
{
    // Guess the size from the ink at 100 pixels, then shrink it until the ink fits.
    Box probe = ink_box(text_mask(font, text, 100));
    float scale = std::min((float)w / (float)(probe.x1 - probe.x0), (float)h / (float)(probe.y1 - probe.y0));
    for (int size = (int)(100.0f * scale) + 2; size > 4; --size) {
        Canvas m = text_mask(font, text, size);
        Box b = ink_box(m);
        if (b.x1 - b.x0 <= w && b.y1 - b.y0 <= h) {
            Canvas out = canvas_make(b.x1 - b.x0, b.y1 - b.y0);
            for (int y = b.y0; y < b.y1; ++y)
                for (int x = b.x0; x < b.x1; ++x)
                    at(out, x - b.x0, y - b.y0) = at(m, x, y);
            return out;
        }
    }
    return canvas_make(1, 1);
}
