// The presents screen: its timeline, palette, recolouring and the filters of each frame.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/clock.h"
#include "core/clock_virtual.h"
#include "core/shared.h"
#include "display/null/display_null.h"
#include "fx/filters.h"
#include "fx/palette_match.h"
#include "parts/presents.h"
#include "tests/parts_support.h"

namespace {

// A picture of four bands in colours of its own palette: black (index 5, also a
// duplicate of entry 0), mid grey (index 7), full red (index 9), near-black (index 11).
Palette picture_palette()
{
    Palette p{};
    for (int i = 0; i < 256; ++i) {
        p.rgb[3 * i] = (uint8_t)i;
        p.rgb[3 * i + 1] = (uint8_t)(255 - i);
        p.rgb[3 * i + 2] = (uint8_t)(i / 2);
    }
    const uint8_t black[3] = {0, 0, 0}, grey[3] = {128, 128, 128}, red[3] = {252, 63, 63}, dark[3] = {3, 3, 3};
    std::memcpy(&p.rgb[3 * 5], black, 3);
    std::memcpy(&p.rgb[3 * 7], grey, 3);
    std::memcpy(&p.rgb[3 * 9], red, 3);
    std::memcpy(&p.rgb[3 * 11], dark, 3);
    return p;
}

Image* band_picture()
{
    OwnedImage picture(kScreenWidth, kScreenHeight);
    const uint8_t bands[4] = {5, 7, 9, 11};
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x)
            picture.image->pixels[y * kScreenWidth + x] = bands[x / 80];
    return picture.released();
}

// Runs the whole part in-process on the virtual clock, every frame's pixels kept.
TEST(Presents, TimelinePaletteAndFrames)
{
    work_palette = picture_palette();
    presents_use_picture(band_picture());
    OwnedImage screen(kScreenWidth, kScreenHeight);
    null_display_reset();
    null_display.keep_pixels = true;
    clock_virtual_set(5000);
    testing::internal::CaptureStdout();
    presents_run(screen.image);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(printed, "screens: 184:\n");
    ASSERT_EQ(null_display.frames.size(), 184u);
    for (size_t i = 0; i < null_display.frames.size(); ++i)
        ASSERT_EQ(null_display.frames[i].time, 5000 + 60 * (int32_t)i) << i;

    // One palette for the whole part: grey ramp, black band, red ramp.
    EXPECT_EQ(null_display.palettes, 1);
    const Palette& sent = null_display.palette;
    const int expected[][4] = {{0, 0, 0, 0},   {1, 4, 4, 4},   {63, 252, 252, 252}, {64, 0, 0, 0},
                               {191, 0, 0, 0}, {192, 0, 0, 0}, {193, 4, 1, 1},      {255, 252, 63, 63}};
    for (const auto& e : expected)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(sent.rgb[3 * e[0] + c], e[c + 1]) << "entry " << e[0];
    for (size_t i = 0; i < null_display.frames.size(); ++i)
        ASSERT_EQ(null_display.frames[i].palette_crc, null_display.frames[0].palette_crc);

    // The picture recoloured: black and near-black to 0 (not into the black band), grey
    // to 32, red to 255; frame 0 is only blurred with decay 1, which inside a uniform area
    // takes 1 from the left and the upper neighbours already lowered: two lower, floored at 0.
    const std::vector<uint8_t>& frame0 = null_display.pixels[0];
    auto at = [&](const std::vector<uint8_t>& f, int x, int y) { return f[y * kScreenWidth + x]; };
    EXPECT_EQ(at(frame0, 40, 120), 0);
    EXPECT_EQ(at(frame0, 120, 120), 30);
    EXPECT_EQ(at(frame0, 200, 120), 253);
    EXPECT_EQ(at(frame0, 280, 120), 0);

    // Each frame starts from the clean recoloured picture: streak with the frame's decay
    // and shift (none on the first frame of a cycle), then the blur with decay 1.
    OwnedImage recoloured(kScreenWidth, kScreenHeight);
    Image* original = band_picture();
    std::memcpy(recoloured.image->pixels, original->pixels, kScreenWidth * kScreenHeight);
    image_free(&original);
    image_remap_palette(recoloured.image, picture_palette(), sent);
    struct Case {
        int frame, decay, shift;
    };
    for (const Case& c : {Case{0, -1, 0}, Case{1, 4, 2}, Case{22, -1, 0}, Case{43, 4, 42}, Case{45, 3, 2},
                          Case{100, 2, 24}, Case{177, 0, 2}, Case{183, 0, 14}}) {
        std::vector<uint8_t> want(recoloured.image->pixels, recoloured.image->pixels + kScreenWidth * kScreenHeight);
        if (c.decay >= 0)
            filter_streak_reference(want.data(), kScreenWidth, kScreenHeight, (uint8_t)c.decay, (uint8_t)c.shift);
        filter_blur_reference(want.data(), kScreenWidth, kScreenHeight, 1);
        EXPECT_TRUE(want == null_display.pixels[c.frame]) << "frame " << c.frame;
    }
    EXPECT_EQ(std::memcmp(screen.image->pixels, null_display.pixels.back().data(), kScreenWidth * kScreenHeight), 0);
    null_display.keep_pixels = false;
    presents_free();
}

TEST(PresentsDeath, MissingOrWronglySizedPicture)
{
    const std::string empty = test_folder("presents-missing");
    EXPECT_EXIT(
        {
            enter_for_death(empty);
            presents_load();
        },
        testing::ExitedWithCode(1), "Cann't load image grafika/prese/presents.pcx !\n");

    const std::string small = test_folder("presents-small");
    write_pcx(small + "/grafika/prese/presents.pcx", 320, 200, std::vector<uint8_t>(320 * 200, 7), picture_palette());
    EXPECT_EXIT(
        {
            enter_for_death(small);
            presents_load();
        },
        testing::ExitedWithCode(1), "Wrong image size!\n");
}

} // namespace
