// The picture-set parts (flicker, mosaic, slides) run in-process on synthetic pictures.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>

#include "core/clock.h"
#include "core/clock_virtual.h"
#include "core/shared.h"
#include "display/null/display_null.h"
#include "fx/grid.h"
#include "parts/mosaic.h"
#include "parts/pictures.h"
#include "parts/slides.h"

namespace {

uint8_t brighten(uint8_t v)
{
    return (uint8_t)((3 * v + 255) >> 2);
}

// Picture i is a uniform field of its own value, chosen so that no picture's value, once
// or twice brightened by the grid, is another picture's value: the most common value of
// a frame tells which picture fills it.
std::array<uint8_t, kPictureCount> picture_values()
{
    std::array<uint8_t, kPictureCount> values{};
    std::array<bool, 256> taken{};
    int next = 0;
    for (int i = 0; i < kPictureCount; ++i) {
        while (taken[next] || taken[brighten((uint8_t)next)] || taken[brighten(brighten((uint8_t)next))])
            ++next;
        values[i] = (uint8_t)next;
        taken[next] = taken[brighten((uint8_t)next)] = taken[brighten(brighten((uint8_t)next))] = true;
    }
    return values;
}

class PictureParts : public testing::Test {
protected:
    Image* screen = nullptr;
    std::array<uint8_t, kPictureCount> values = picture_values();

    void SetUp() override
    {
        for (int i = 0; i < kPictureCount; ++i) {
            ASSERT_EQ(image_alloc(&picture_set[i], 320, 240), 0);
            image_fill(picture_set[i], values[i]);
        }
        ASSERT_EQ(image_alloc(&slide_buffer, 320, 240), 0);
        ASSERT_EQ(image_alloc(&screen, 320, 240), 0);
        for (int i = 0; i < 256; ++i)
            picture_palette.rgb[3 * i] = picture_palette.rgb[3 * i + 1] = picture_palette.rgb[3 * i + 2] = (uint8_t)i;
        grid_tables_init();
        random_seed_set(25480);
        clock_virtual_set(0);
        null_display_reset();
        null_display.keep_pixels = true;
    }
    void TearDown() override
    {
        pictures_free();
        image_free(&screen);
    }

    // Which picture fills a frame: its most common value.
    int picture_of(const std::vector<uint8_t>& frame) const
    {
        std::map<int, int> counts;
        for (uint8_t v : frame)
            ++counts[v];
        int best = -1, best_count = 0;
        for (auto [v, c] : counts)
            if (c > best_count)
                best = v, best_count = c;
        for (int i = 0; i < kPictureCount; ++i)
            if (values[i] == best)
                return i;
        return -1;
    }
};

// Whether v is e brightened by at most four grid lines: a crossing of the centre row and
// the centre column, each drawn twice, is the most one frame's grid brightens a pixel.
bool brightened_from(uint8_t v, uint8_t e)
{
    for (int times = 0; times <= 4; ++times, e = brighten(e))
        if (v == e)
            return true;
    return false;
}

// Every pixel is the expected one, or it brightened by this frame's grid lines.
::testing::AssertionResult under_grid(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected)
{
    for (size_t i = 0; i < actual.size(); ++i) {
        const uint8_t e = expected[i];
        if (!brightened_from(actual[i], e))
            return ::testing::AssertionFailure()
                   << "pixel " << i << " is " << (int)actual[i] << ", expected " << (int)e << " under the grid";
    }
    return ::testing::AssertionSuccess();
}

void check_pacing(int frames, int period)
{
    ASSERT_EQ((int)null_display.frames.size(), frames);
    for (int i = 0; i < frames; ++i)
        EXPECT_EQ(null_display.frames[i].time, i * period) << "frame " << i;
}

TEST_F(PictureParts, FlickerScript)
{
    flicker_run(screen);
    check_pacing(384, 60);
    const auto& frames = null_display.pixels;
    // Pairs hold each picture for two frames: b1, b1, b2, b2, b1 ...
    const int pair_expected[] = {0, 0, 1, 1, 0, 0, 1, 1};
    for (int f = 0; f < 8; ++f)
        EXPECT_EQ(picture_of(frames[f]), pair_expected[f]) << f;
    // t 10..11 shows c2; t 25..39 cycles b1..b4 by f >> 1.
    EXPECT_EQ(picture_of(frames[17]), 5);
    for (int f = 42; f < 50; ++f)
        EXPECT_EQ(picture_of(frames[f]), (f >> 1) & 3) << f;
    // The pulse zoom of a uniform picture covers the whole screen with it.
    EXPECT_EQ(picture_of(frames[70]), 4);
    // Random flashes: an even frame repeats the last one under a new grid.
    for (int f = 184; f < 208; f += 2)
        EXPECT_TRUE(under_grid(frames[f], frames[f - 1])) << "flash frame " << f;
    EXPECT_EQ(null_display.palettes, 1);
    EXPECT_EQ(null_display.palette.rgb[0], 0);
    EXPECT_EQ(null_display.palette.rgb[765], 255);
}

TEST_F(PictureParts, FlickerZoomRectangle)
{
    // A picture whose every pixel tells its position: the zoom must sample the shrinking
    // centred rectangle (13k, 13k, 320 - 26k, 240 - 26k) with k = |(f & 15) - 7|.
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            picture_set[4]->pixels[y * 320 + x] = (uint8_t)(x ^ (y * 3));
    flicker_run(screen);
    Image* expected = nullptr;
    ASSERT_EQ(image_alloc(&expected, 320, 240), 0);
    for (int f = 67; f < 90; ++f) { // part time 40 to 54: the zoom of c1
        ASSERT_GE(null_display.frames[f].time / 100, 40);
        ASSERT_LE(null_display.frames[f].time / 100, 54);
        const int k = std::abs((f & 15) - 7);
        image_scale_copy(expected, 0, 0, 320, 240, picture_set[4], 13 * k, 13 * k, 320 - 26 * k, 240 - 26 * k, 0, 0);
        EXPECT_TRUE(under_grid(null_display.pixels[f], {expected->pixels, expected->pixels + 76800})) << "frame " << f;
    }
    image_free(&expected);
}

TEST_F(PictureParts, MosaicStartsBlackAndTilesOnOddFrames)
{
    image_fill(screen, 200);
    mosaic_run(screen);
    check_pacing(217, 60);
    const auto& frames = null_display.pixels;
    EXPECT_TRUE(under_grid(frames[0], std::vector<uint8_t>(76800, 0)));
    for (int f = 2; f < 216; f += 2)
        EXPECT_TRUE(under_grid(frames[f], frames[f - 1])) << "even frame " << f;
    // The 6 x 6 grid leaves columns 159 and 319 as they were (part time 100 to 109).
    for (int f = 167; f < 183; f += 2) {
        ASSERT_EQ(null_display.frames[f].time / 100 / 10, 10);
        for (int y = 0; y < 240; y += 7) {
            const uint8_t before = frames[f - 1][y * 320 + 159];
            const uint8_t after = frames[f][y * 320 + 159];
            EXPECT_TRUE(brightened_from(after, before)) << "row " << y;
        }
    }
}

TEST_F(PictureParts, SlidesNeverRepeatAPicture)
{
    image_fill(screen, values[3]);
    slides_run(screen);
    check_pacing(212, 45);
    // The first picture covers the screen on the fourth frame, every later one five frames on.
    int previous = -1, covers = 0;
    for (int f = 3; f < 212; f += 5) {
        const int shown = picture_of(null_display.pixels[f]);
        ASSERT_GE(shown, 0) << "frame " << f;
        EXPECT_NE(shown, previous) << "frame " << f;
        previous = shown;
        ++covers;
    }
    EXPECT_EQ(covers, 42);
}

TEST_F(PictureParts, SlideFromTheBottom)
{
    // Side 2, n = 80: the top 180 rows of the picture at rows 60 to 239.
    for (int y = 0; y < 240; ++y)
        std::memset(picture_set[0]->pixels + y * 320, y, 320);
    image_fill(slide_buffer, 250);
    slides_draw_step(picture_set[0], 2, 80);
    for (int y = 0; y < 240; ++y)
        EXPECT_EQ(slide_buffer->pixels[y * 320 + 17], y < 60 ? 250 : y - 60) << y;
}

} // namespace
