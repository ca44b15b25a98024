// The scroll with words, the fire and the closing screens: their rules one by one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/clock.h"
#include "core/shared.h"
#include "core/image.h"
#include "fx/grid.h"
#include "fx/tables.h"
#include "parts/closing.h"
#include "parts/fire.h"
#include "parts/words.h"

namespace {

// An image over pixels the test keeps in a vector.
struct Picture {
    std::vector<uint8_t> pixels;
    Image image;
    Picture(int w, int h) : pixels((size_t)w * h), image{w, h, pixels.data()} {}
    uint8_t& at(int x, int y)
    {
        return pixels[(size_t)y * image.width + x];
    }
};

class Tables : public testing::Test {
protected:
    void SetUp() override
    {
        tables_init();
        grid_tables_init();
    }
};

TEST_F(Tables, PatternCentres)
{
    const struct {
        int phase;
        WordsCentres c;
    } cases[] = {{0, {15, 79, -27, 92}}, {1, {12, 79, -28, 89}}, {100, {58, -44, 25, 70}}};
    for (const auto& k : cases) {
        const WordsCentres c = words_pattern_centres(k.phase);
        EXPECT_EQ(c.ax, k.c.ax) << k.phase;
        EXPECT_EQ(c.ay, k.c.ay) << k.phase;
        EXPECT_EQ(c.bx, k.c.bx) << k.phase;
        EXPECT_EQ(c.by, k.c.by) << k.phase;
    }
}

TEST(WordsRipple, OffsetsAndClampsAtBothEnds)
{
    constexpr int n = 320 * 240;
    std::vector<uint8_t> band(n), map(n, 64);
    for (int k = 0; k < n; ++k)
        band[k] = (uint8_t)(k * 37 % 251);

    // 64 leaves every pixel in place.
    words_ripple(map.data(), band.data(), n);
    EXPECT_EQ(map, band);

    // 0 reaches 16 pixels back (across the row start), 127 15 pixels on; the ends clamp.
    std::fill(map.begin(), map.end(), 0);
    map[1000] = 127;
    map[n - 1] = 127;
    map[n - 2] = 0;
    words_ripple(map.data(), band.data(), n);
    EXPECT_EQ(map[0], band[0]);
    EXPECT_EQ(map[15], band[0]);
    EXPECT_EQ(map[16], band[0]);
    EXPECT_EQ(map[17], band[1]);
    EXPECT_EQ(map[320], band[304]);
    EXPECT_EQ(map[1000], band[1015]);
    EXPECT_EQ(map[n - 1], band[n - 1]);
    EXPECT_EQ(map[n - 2], band[n - 18]);

    std::fill(map.begin(), map.end(), 127);
    words_ripple(map.data(), band.data(), n);
    EXPECT_EQ(map[n - 16], band[n - 1]);
    EXPECT_EQ(map[n - 17], band[n - 2]);
}

TEST(Words, SheetReductionAndRamp)
{
    Picture sheet(6, 1);
    const uint8_t in[6] = {0, 1, 199, 200, 255, 100};
    const uint8_t out[6] = {0, 1, 1, 255, 255, 1};
    std::memcpy(sheet.pixels.data(), in, 6);
    words_reduce(&sheet.image);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sheet.pixels.data()[i], out[i]) << i;

    words_ramp(1.2f, 1.2f, 1.2f);
    const int expected[] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 12};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(work_palette.rgb[3 * i], expected[i]) << i;
    EXPECT_EQ(work_palette.rgb[3 * 212], 254);
    EXPECT_EQ(work_palette.rgb[3 * 213], 255);
    EXPECT_EQ(work_palette.rgb[3 * 255 + 2], 255);

    words_ramp(0.5f, 1.0f, 2.0f);
    EXPECT_EQ(work_palette.rgb[3 * 101 + 0], 50);
    EXPECT_EQ(work_palette.rgb[3 * 101 + 1], 101);
    EXPECT_EQ(work_palette.rgb[3 * 101 + 2], 202);
    EXPECT_EQ(work_palette.rgb[3 * 128 + 2], 255);
}

TEST(Words, TremblingWordIsClippedAtTheEdges)
{
    Picture screen(320, 240), sheet(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            sheet.at(x, y) = (uint8_t)(1 + x + 40 * (y % 5));
    sheet.at(12, 13) = 0; // transparent

    // Four pixels past the top left corner: the word's inner part lands at (0, 0).
    words_paste(&screen.image, &sheet.image, -4, -4, 8, 9, 20, 10);
    EXPECT_EQ(screen.at(0, 0), 0); // sheet (12, 13) is transparent
    EXPECT_EQ(screen.at(1, 0), sheet.at(13, 13));
    EXPECT_EQ(screen.at(15, 5), sheet.at(27, 18));
    EXPECT_EQ(screen.at(16, 0), 0); // the word is 20 wide, 4 of them cut away
    EXPECT_EQ(screen.at(0, 6), 0);

    // Past the bottom right corner.
    words_paste(&screen.image, &sheet.image, 310, 235, 0, 0, 20, 10);
    EXPECT_EQ(screen.at(319, 239), sheet.at(9, 4));
    EXPECT_EQ(screen.at(310, 235), sheet.at(0, 0));

    // Wholly outside: nothing at all.
    const std::vector<uint8_t> before = screen.pixels;
    words_paste(&screen.image, &sheet.image, -40, 5, 0, 0, 30, 10);
    words_paste(&screen.image, &sheet.image, 5, 300, 0, 0, 30, 10);
    EXPECT_EQ(screen.pixels, before);
}

TEST_F(Tables, FireMapsAndMirror)
{
    std::vector<uint8_t> radius(38400), angle(38400);
    fire_precalc(radius.data(), angle.data(), 320, 240, 1, 1);
    const int centre = 119 * 320 + 159;
    EXPECT_EQ(radius[centre], 1);
    EXPECT_EQ(angle[centre], 191);
    EXPECT_EQ(radius[0], 254);
    EXPECT_EQ(angle[0], 202);
    // Straight above the centre the angle is atan(dy), not a right angle.
    EXPECT_EQ(angle[0 * 320 + 160], (int)((float)std::atan(120.0) * 81.16902097686662));
    EXPECT_EQ(angle[119 * 320 + 319], 0);

    std::vector<uint8_t> inward(38400), unused(38400);
    fire_precalc(inward.data(), unused.data(), 320, 240, 0, 1);
    EXPECT_EQ(inward[centre], 254);
    EXPECT_EQ(inward[0], 1);

    std::vector<uint8_t> fire(64 * 70);
    for (size_t i = 0; i < fire.size(); ++i)
        fire[i] = (uint8_t)(i * 13 + i / 64);
    std::vector<uint8_t> screen(320 * 240);
    fire_map(screen.data(), radius.data(), angle.data(), fire.data(), 0);
    EXPECT_EQ(screen[319 + 239 * 320], screen[0]);
    EXPECT_EQ(screen[160 + 120 * 320], screen[centre]);
    // Frame 0 turns the angles by (sine 0 + cosine 0) >> 3 = 127.
    EXPECT_EQ(screen[centre], fire[64 * 64 + ((191 + 127) & 255) / 4]);
    EXPECT_EQ(screen[0], fire[1 * 64 + ((202 + 127) & 255) / 4]);
    for (int k = 0; k < 38400; ++k)
        ASSERT_EQ(screen[k], screen[76799 - k]) << k;

    // Frame 3: shift (sine 24 + cosine 60) >> 3.
    fire_map(screen.data(), radius.data(), angle.data(), fire.data(), 3);
    const int shift = (sine_table[24] + cosine_table[60]) >> 3;
    EXPECT_EQ(screen[0], fire[64 + (uint8_t)(202 + shift) / 4]);
}

TEST(Fire, PropagationSeedingAndPalette)
{
    std::vector<uint8_t> p(64 * 70);
    const struct {
        int at; // the pixel set, relative to pixel 0's neighbours
        int value;
        int result;
    } sums[] = {{64, 7, 0}, {128, 2, 0}, {128, 4, 1}}; // s = 7, 8, 16
    for (const auto& c : sums) {
        std::fill(p.begin(), p.end(), 0);
        p[c.at] = (uint8_t)c.value;
        fire_propagate(p.data());
        EXPECT_EQ(p[0], c.result) << c.at;
    }
    std::fill(p.begin(), p.end(), 0);
    p[63] = p[64] = p[65] = p[128] = 255; // s = 2040
    fire_propagate(p.data());
    EXPECT_EQ(p[0], 254);

    // The left neighbour is the value just written: 30, then (2 x 30) >> 3 - 1 = 6.
    std::fill(p.begin(), p.end(), 0);
    p[64] = 255;
    fire_propagate(p.data());
    EXPECT_EQ(p[0], 30);
    EXPECT_EQ(p[1], 6);
    EXPECT_EQ(p[2], 0);
    EXPECT_EQ(p[64], 0); // row 1 reads the still-empty rows below it

    // Seeds: 64 draws, 0..91 give 255, 92..127 give 0, above repeat the column before.
    random_seed_set(4711);
    std::vector<int> draws(64);
    for (int& d : draws)
        d = random_below(256);
    random_seed_set(4711);
    std::fill(p.begin(), p.end(), 7);
    fire_seed(p.data(), true);
    int previous = 0;
    for (int x = 0; x < 64; ++x) {
        const int expected = draws[x] <= 91 ? 255 : draws[x] <= 127 ? 0 : previous;
        EXPECT_EQ(p[68 * 64 + x], expected) << x;
        EXPECT_EQ(p[69 * 64 + x], expected) << x;
        previous = expected;
    }
    EXPECT_EQ(p[67 * 64 + 63], 7);
    fire_seed(p.data(), false);
    for (int x = 0; x < 64; ++x)
        EXPECT_EQ(p[68 * 64 + x] | p[69 * 64 + x], 0);

    // The skull draws a random number only between t 10 and 184, and always shows after.
    random_seed_set(99);
    const int first = random_below(1 << 30);
    random_seed_set(99);
    EXPECT_FALSE(fire_skull_shown(9, 215));
    EXPECT_TRUE(fire_skull_shown(185, 215));
    EXPECT_TRUE(fire_skull_shown(214, 215));
    EXPECT_EQ(random_below(1 << 30), first);
    random_seed_set(99);
    fire_skull_shown(10, 215);
    EXPECT_NE(random_below(1 << 30), first);
    int shown[3] = {0, 0, 0};
    for (int i = 0; i < 3000; ++i) {
        shown[0] += fire_skull_shown(10 + i % 15, 215);
        shown[1] += fire_skull_shown(25 + i % 15, 215);
        shown[2] += fire_skull_shown(40 + i % 145, 215);
    }
    EXPECT_NEAR(shown[0], 600, 120);
    EXPECT_NEAR(shown[1], 1500, 150);
    EXPECT_NEAR(shown[2], 2400, 120);

    EXPECT_TRUE(fire_seeding(18999, 215));
    EXPECT_FALSE(fire_seeding(19000, 215));

    fire_palette();
    const struct {
        int entry, grey;
    } greys[] = {{0, 0}, {78, 0}, {79, 0}, {80, 2}, {120, 119}, {166, 253}, {167, 255}, {255, 255}};
    for (const auto& g : greys)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(work_palette.rgb[3 * g.entry + c], g.grey) << g.entry;
}

TEST(Closing, WhiteoutAndFadeSteps)
{
    Palette p{};
    p.rgb[0] = 224;
    p.rgb[1] = 208;
    p.rgb[2] = 223;
    whiteout_step(&p);
    EXPECT_EQ(p.rgb[0], 255);
    EXPECT_EQ(p.rgb[1], 224);
    EXPECT_EQ(p.rgb[2], 239);
    EXPECT_EQ(p.rgb[3], 16);
    whiteout_step(&p);
    EXPECT_EQ(p.rgb[1], 255);
    for (int i = 0; i < 13; ++i)
        whiteout_step(&p);
    for (uint8_t v : p.rgb)
        ASSERT_EQ(v, 255);

    Palette own{};
    own.rgb[0] = 200;
    own.rgb[1] = 15;
    own.rgb[2] = 0;
    own.rgb[3] = 255;
    Palette fade = own;
    for (int step = 1; step <= 16; ++step) {
        closing_fade_step(&fade, own);
        EXPECT_EQ(fade.rgb[0], 200 - 12 * step) << step;
        EXPECT_EQ(fade.rgb[1], 15);
        EXPECT_EQ(fade.rgb[2], 0);
    }
    EXPECT_EQ(fade.rgb[0], 8);
    EXPECT_EQ(fade.rgb[3], 15);
    closing_fade_step(&fade, own);
    EXPECT_EQ(fade.rgb[0], 0);
    EXPECT_EQ(fade.rgb[3], 0);
    EXPECT_EQ(fade.rgb[1], 15);
}

} // namespace
