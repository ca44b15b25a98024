// The PCX encoder against the decoder, and the pictures the build made: sizes, palettes,
// and the lettering, words and figure frames inside their rectangles.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pcx/pcx.h"
#include "tests/run_program.h"
#include "tools/pictures/pcx_write.h"
#include "tools/pictures/catalogue.h"

namespace {

struct Loaded {
    Image* image = nullptr;
    Palette palette{};
    ~Loaded()
    {
        image_free(&image);
    }
    uint8_t px(int x, int y) const
    {
        return image->pixels[(size_t)y * image->width + x];
    }
};

void load(Loaded& l, const std::string& path)
{
    std::string full = std::string(TARQLE_BUILD_DIR) + "/" + path;
    ASSERT_EQ(pcx_load(full.c_str(), &l.image, &l.palette), 5) << full;
}

int brightness(const Palette& p, int i)
{
    return 299 * p.rgb[3 * i] + 587 * p.rgb[3 * i + 1] + 114 * p.rgb[3 * i + 2];
}

bool inside(const SheetRect& r, int x, int y)
{
    return x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1;
}

} // namespace

TEST(PcxEncode, RoundTripsThroughTheDecoder)
{
    // Odd and even widths, runs longer than 63, values from 192 up, a single pixel.
    uint32_t state = 12345;
    for (auto [w, h] : {std::pair{1, 1}, {319, 7}, {320, 5}, {200, 3}}) {
        std::vector<uint8_t> px((size_t)w * h);
        for (size_t i = 0; i < px.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            bool run = (i / 70) % 2 == 0;
            px[i] = run ? (uint8_t)(200 + i / 70 % 50) : (uint8_t)(state >> 24);
        }
        Palette pal;
        for (int i = 0; i < 768; ++i)
            pal.rgb[i] = (uint8_t)(i * 7);
        std::vector<uint8_t> file = pcx_encode(px.data(), w, h, pal);
        uint8_t* out = nullptr;
        Palette got{};
        int32_t gw = 0, gh = 0;
        ASSERT_EQ(pcx_decode_memory("t.pcx", file.data(), file.size(), &out, &got, &gw, &gh), 0) << w;
        EXPECT_EQ(gw, w);
        EXPECT_EQ(gh, h);
        EXPECT_EQ(std::vector<uint8_t>(out, out + px.size()), px) << w;
        EXPECT_EQ(std::vector<uint8_t>(got.rgb, got.rgb + 768), std::vector<uint8_t>(pal.rgb, pal.rgb + 768));
        EXPECT_EQ(file[file.size() - 769], 12);
        std::free(out);
    }
}

TEST(Pictures, EveryFileLoadsAtItsSize)
{
    for (const PictureFile& f : kPictureFiles) {
        Loaded l;
        load(l, f.path);
        ASSERT_NE(l.image, nullptr);
        switch (f.rule) {
        case SizeRule::kExact:
            EXPECT_EQ(l.image->width, f.width) << f.path;
            EXPECT_EQ(l.image->height, f.height) << f.path;
            break;
        case SizeRule::kAtLeast:
            EXPECT_GE(l.image->width, f.width) << f.path;
            EXPECT_GE(l.image->height, f.height) << f.path;
            break;
        case SizeRule::kAtMost:
            EXPECT_LE(l.image->width, f.width) << f.path;
            EXPECT_LE(l.image->height, f.height) << f.path;
            break;
        }
        // A picture, not a blank: more than a handful of distinct values.
        std::vector<bool> seen(256, false);
        int distinct = 0;
        for (size_t i = 0; i < (size_t)l.image->width * l.image->height; ++i)
            if (!seen[l.image->pixels[i]]) {
                seen[l.image->pixels[i]] = true;
                ++distinct;
            }
        EXPECT_GE(distinct, 16) << f.path;
    }
}

TEST(Pictures, PalettesFitTheirParts)
{
    Loaded presents, taze, lettering;
    load(presents, "grafika/prese/presents.pcx");
    load(taze, "grafika/intro/taze.pcx");
    load(lettering, "grafika/intro/inttxt.pcx");
    // Presents: every colour a grey or a red whose green and blue are equal and lower.
    for (int i = 0; i < 256; ++i) {
        const uint8_t* c = &presents.palette.rgb[3 * i];
        EXPECT_TRUE((c[0] == c[1] && c[1] == c[2]) || (c[1] == c[2] && c[0] > c[1])) << i;
    }
    // Intro: one palette for both pictures, darkest first, brightest last, never darker.
    EXPECT_EQ(std::vector<uint8_t>(taze.palette.rgb, taze.palette.rgb + 768),
              std::vector<uint8_t>(lettering.palette.rgb, lettering.palette.rgb + 768));
    EXPECT_EQ(brightness(taze.palette, 0), 0);
    for (int i = 1; i < 256; ++i)
        EXPECT_GT(brightness(taze.palette, i), brightness(taze.palette, i - 1)) << i;
}

TEST(Pictures, LetteringAndWordsSitInTheirRectangles)
{
    struct SheetCase {
        const char* path;
        const SheetRect* rects;
        size_t count;
        int letter_min; // letters from here to 255, rim from 1 to below it
    };
    const SheetCase sheets[] = {
        {"grafika/intro/inttxt.pcx", kIntroPieces, std::size(kIntroPieces), 200},
        {"grafika/words.pcx", kWordRects, std::size(kWordRects), 200},
    };
    for (const SheetCase& s : sheets) {
        Loaded l;
        load(l, s.path);
        for (size_t i = 0; i < s.count; ++i) {
            const SheetRect& r = s.rects[i];
            int letters = 0, rim = 0;
            for (int y = r.y0; y < r.y1; ++y)
                for (int x = r.x0; x < r.x1; ++x) {
                    uint8_t v = l.px(x, y);
                    letters += v >= s.letter_min;
                    rim += v >= 1 && v < s.letter_min;
                }
            EXPECT_GT(letters, (r.x1 - r.x0) * (r.y1 - r.y0) / 20) << s.path << " rectangle " << i;
            EXPECT_GT(rim, 50) << s.path << " rectangle " << i;
        }
        // Nothing drawn outside the rectangles, where it would show as a stray fragment.
        for (int y = 0; y < l.image->height; ++y)
            for (int x = 0; x < l.image->width; ++x) {
                if (l.px(x, y) == 0)
                    continue;
                bool in_one = false;
                for (size_t i = 0; i < s.count && !in_one; ++i)
                    in_one = inside(s.rects[i], x, y);
                ASSERT_TRUE(in_one) << s.path << " pixel " << x << "," << y;
            }
    }
}

TEST(Pictures, FireSkullAndFigureUseTheVisibleRange)
{
    // Fire palette: black below 79. The skull sits on 0, the figure on 255.
    Loaded skull, sheet;
    load(skull, "grafika/fire/skull.pcx");
    load(sheet, "grafika/fire/fire.pcx");
    size_t bone = 0;
    for (size_t i = 0; i < (size_t)skull.image->width * skull.image->height; ++i) {
        uint8_t v = skull.image->pixels[i];
        ASSERT_TRUE(v == 0 || v >= 79) << i;
        bone += v != 0;
    }
    EXPECT_GT(bone, (size_t)skull.image->width * skull.image->height / 3);

    std::vector<int> figure_pixels;
    for (const SheetRect& r : kFigureFrames) {
        int n = 0;
        for (int y = r.y0; y < r.y1; ++y)
            for (int x = r.x0; x < r.x1; ++x) {
                uint8_t v = sheet.px(x, y);
                ASSERT_TRUE(v == 255 || (v >= 79 && v <= 254)) << x << "," << y;
                n += v != 255;
            }
        EXPECT_GT(n, 400);
        figure_pixels.push_back(n);
    }
    // The figure moves: no two neighbouring frames are the same picture.
    for (size_t f = 0; f < 5; ++f) {
        const SheetRect& a = kFigureFrames[f];
        const SheetRect& b = kFigureFrames[(f + 1) % 5];
        int differ = 0;
        for (int y = 0; y < std::min(a.y1 - a.y0, b.y1 - b.y0); ++y)
            for (int x = 0; x < std::min(a.x1 - a.x0, b.x1 - b.x0); ++x)
                differ += sheet.px(a.x0 + x, a.y0 + y) != sheet.px(b.x0 + x, b.y0 + y);
        EXPECT_GT(differ, 100) << "frames " << f << " and " << (f + 1) % 5;
    }
}

TEST(Pictures, SameBytesOnEveryRun)
{
    std::string folder = make_run_folder("pictures_again");
    RunResult r = run_program({std::string(TARQLE_BUILD_DIR) + "/tarqle-make-data", folder}, "", folder, 60);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const PictureFile& f : kPictureFiles) {
        std::string again = read_file(folder + "/" + f.path);
        EXPECT_FALSE(again.empty()) << f.path;
        EXPECT_EQ(again, read_file(std::string(TARQLE_BUILD_DIR) + "/" + f.path)) << f.path;
    }
}
