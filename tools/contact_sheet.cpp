// tarqle-contact-sheet DATA_DIR OUT.png: every picture the maker wrote, on one sheet, for the README.
// Each is read back through the demo's decoder and shown in its own palette, with the lettering pieces, the words
// and the figure's frames outlined on their sheets.
#include <png.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "pcx/pcx.h"
#include "tools/pictures/catalogue.h"

namespace {

struct Sheet {
    int w, h;
    std::vector<uint8_t> rgb;
};

void put(Sheet& s, int x, int y, uint8_t r, uint8_t g, uint8_t b)
{
    if (x < 0 || y < 0 || x >= s.w || y >= s.h)
        return;
    uint8_t* p = &s.rgb[3 * ((size_t)y * s.w + x)];
    p[0] = r;
    p[1] = g;
    p[2] = b;
}

// Draws the picture at (ox, oy), every step-th pixel (1 full size, 2 half size).
bool draw(Sheet& s, const std::string& dir, const char* path, int ox, int oy, int step)
{
    Image* image = nullptr;
    Palette pal;
    if (pcx_load((dir + "/" + path).c_str(), &image, &pal) != 5) {
        std::fprintf(stderr, "\ncannot load %s\n", path);
        return false;
    }
    for (int y = 0; y < image->height; y += step)
        for (int x = 0; x < image->width; x += step) {
            uint8_t v = image->pixels[(size_t)y * image->width + x];
            put(s, ox + x / step, oy + y / step, pal.rgb[3 * v], pal.rgb[3 * v + 1], pal.rgb[3 * v + 2]);
        }
    image_free(&image);
    return true;
}

void outline(Sheet& s, int ox, int oy, const SheetRect& r)
{
    for (int x = r.x0; x < r.x1; ++x) {
        put(s, ox + x, oy + r.y0, 0, 255, 0);
        put(s, ox + x, oy + r.y1 - 1, 0, 255, 0);
    }
    for (int y = r.y0; y < r.y1; ++y) {
        put(s, ox + r.x0, oy + y, 0, 255, 0);
        put(s, ox + r.x1 - 1, oy + y, 0, 255, 0);
    }
}

bool write_png(const Sheet& s, const char* path)
{
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, (png_uint_32)s.w, (png_uint_32)s.h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < s.h; ++y)
        png_write_row(png, &s.rgb[3 * (size_t)y * s.w]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DATA_DIR OUT.png\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    constexpr int kGap = 8;
    Sheet s{6 * (160 + kGap) + 320, 800 + 2 * kGap, {}};
    s.rgb.assign((size_t)s.w * s.h * 3, 48);
    bool ok = true;
    // The full-screen pictures at half size, six to a row.
    int n = 0;
    for (const PictureFile& p : kPictureFiles) {
        if (p.width != 320 || p.height != 240 || p.rule != SizeRule::kExact)
            continue;
        ok &= draw(s, dir, p.path, kGap + (n % 6) * (160 + kGap), kGap + (n / 6) * (120 + kGap), 2);
        ++n;
    }
    // The sheets at full size, their rectangles outlined.
    int y0 = kGap + 4 * (120 + kGap) + kGap;
    ok &= draw(s, dir, "grafika/intro/inttxt.pcx", kGap, y0, 1);
    for (const SheetRect& r : kIntroPieces)
        outline(s, kGap, y0, r);
    // 22 pictures leave the last two places of the fourth row for the figure's sheet.
    static_assert(std::size(kPictureFiles) - 4 == 22);
    int fx = kGap + 4 * (160 + kGap), fy = kGap + 3 * (120 + kGap);
    ok &= draw(s, dir, "grafika/fire/fire.pcx", fx, fy, 1);
    for (const SheetRect& r : kFigureFrames)
        outline(s, fx, fy, r);
    ok &= draw(s, dir, "grafika/fire/skull.pcx", 320 + 2 * kGap, y0, 1);
    int wx = 6 * (160 + kGap);
    ok &= draw(s, dir, "grafika/words.pcx", wx, kGap, 1);
    for (const SheetRect& r : kWordRects)
        outline(s, wx, kGap, r);
    if (!ok || !write_png(s, argv[2])) {
        std::fprintf(stderr, "cannot make the contact sheet %s\n", argv[2]);
        return 1;
    }
    return 0;
}
