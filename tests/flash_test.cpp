// The flash analyser on sequences whose answer is known, and the gentle picture against it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "display/gentle/flash_measure.h"
#include "display/gentle/gentle.h"
#include "tools/flash.h"

namespace {

constexpr int32_t kW = 64, kH = 48;

// A colour for pixel (x, y) at frame f.
using Scene = std::function<uint32_t(int x, int y, int f)>;

// The most transitions in any window of seconds × fps frames of scene, under each reading
// and rule, with a 10° field of field × the picture; with gentle, the scene first goes
// through the limiter.
FlashWindow worst(const Scene& scene, int fps, int seconds, bool gentle = false, double area = 0.25,
                  double field = kFlashFieldShare)
{
    flash_begin(kW, kH, field, area);
    gentle_reset();
    FlashWindow most{0, 0, 0, 0, 0, 0};
    std::vector<uint32_t> pixels(kW * kH);
    std::vector<uint8_t> rgb(kW * kH * 3);
    for (int f = 0; f < fps * seconds; ++f) {
        const int32_t time = f * 1000 / fps;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                pixels[y * kW + x] = scene(x, y, f);
        if (gentle)
            gentle_limit(pixels.data(), kW, kH, time);
        for (int i = 0; i < kW * kH; ++i) {
            rgb[3 * i] = (uint8_t)(pixels[i] >> 16);
            rgb[3 * i + 1] = (uint8_t)(pixels[i] >> 8);
            rgb[3 * i + 2] = (uint8_t)pixels[i];
        }
        const FlashWindow w = flash_add(rgb.data(), time);
        for (int FlashWindow::*count : {&FlashWindow::general, &FlashWindow::red, &FlashWindow::frame_general,
                                        &FlashWindow::frame_red, &FlashWindow::mean})
            most.*count = std::max(most.*count, w.*count);
    }
    return most;
}

// A square wave of hertz full cycles a second at 60 frames a second between two colours.
Scene wave(double hertz, uint32_t a, uint32_t b)
{
    return [=](int, int, int f) { return (int)(f * hertz * 2 / 60) % 2 ? b : a; };
}

constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF, kRed = 0xFF0000;
// A grey of about the red's relative luminance (0.2126): only the red rule sees the swap.
constexpr uint32_t kGrey = 0x7F7F7F;

TEST(FlashAnalysis, KnownSequences)
{
    // 4 Hz black/white: eight transitions a second, four flashes, fails; 2 Hz passes.
    EXPECT_EQ(worst(wave(4, kBlack, kWhite), 60, 3).general, 8);
    EXPECT_EQ(worst(wave(2, kBlack, kWhite), 60, 3).general, 4);
    EXPECT_EQ(worst(wave(3, kBlack, kWhite), 60, 3).general, 6); // three flashes: the limit itself passes
    // A fast fade between darks too close in luminance, and a swing among bright states
    // (the darker one above 0.8), make no flash.
    EXPECT_EQ(worst(wave(10, 0x101010, 0x303030), 60, 2).general, 0);
    EXPECT_EQ(worst(wave(10, 0xE8E8E8, kWhite), 60, 2).general, 0);

    // A 10 Hz square of a sixteenth of the picture passes the area rule, fails a smaller one.
    const Scene square = [](int x, int y, int f) { return x < kW / 4 && y < kH / 4 && f / 3 % 2 ? kWhite : kBlack; };
    EXPECT_EQ(worst(square, 60, 2).general, 0);
    EXPECT_GT(worst(square, 60, 2, false, 0.05).general, kFlashLimit);

    // Halves flashing in opposite phase keep the picture's mean still; per region both fail.
    const Scene halves = [](int x, int, int f) { return (x < kW / 2) == (f / 8 % 2 == 0) ? kWhite : kBlack; };
    EXPECT_GT(worst(halves, 60, 2, false, 0.5).general, kFlashLimit);

    // Saturated red against a grey of the same luminance: only the red rule fails it.
    const FlashWindow red = worst(wave(5, kRed, kGrey), 60, 2);
    EXPECT_EQ(red.general, 0);
    EXPECT_EQ(red.red, 10);
    // A dull red (not saturated) swapped the same way is no red flash.
    EXPECT_EQ(worst(wave(5, 0x804040, kGrey), 60, 2).red, 0);
    EXPECT_EQ(red.frame_red, 10);
}

// Four strips of a quarter of the picture each, flashing in turn every 133 ms: no pixel
// flashes more than twice a second, yet the picture flashes 7.5 times.
const Scene in_turn = [](int x, int, int f) { return f % 8 < 4 && x * 4 / kW == f / 8 % 4 ? kWhite : kBlack; };
// A 10 Hz square of a twentieth of the picture (14 × 11 pixels).
const Scene small_square = [](int x, int y, int f) { return x < 14 && y < 11 && f / 3 % 2 ? kWhite : kBlack; };
// The whole picture, a gradient from black to white across, fading out and in 3.5 times a
// second: no frame makes a cut, and the dimmer pixels never swing by 0.1.
const Scene slow_swing = [](int x, int, int f) {
    const double level = (0.5 - 0.5 * std::cos(f * 3.5 * 2 * M_PI / 60)) * x / (kW - 1);
    const uint32_t v = (uint32_t)std::lround(255 * std::pow(level, 1 / 2.2));
    return v << 16 | v << 8 | v;
};

TEST(FlashAnalysis, ReadingsPerPixelPerFrameAndMean)
{
    const FlashWindow turns = worst(in_turn, 60, 3);
    EXPECT_EQ(turns.general, 4);
    EXPECT_EQ(turns.frame_general, 15); // the whole picture and every region across two strips
    EXPECT_GT(turns.mean, kFlashLimit);

    // A twentieth of the picture covers more than a quarter of a 10° field at the default
    // geometry; over the whole picture as the field it passes both readings.
    const FlashWindow small = worst(small_square, 60, 2, false, kFlashFieldShare * kFlashFieldShare / 4);
    EXPECT_GT(small.general, kFlashLimit);
    EXPECT_GT(small.frame_general, kFlashLimit);
    EXPECT_EQ(small.mean, 0);
    const FlashWindow whole = worst(small_square, 60, 2, false, 0.25, 1.0);
    EXPECT_EQ(whole.general, 0);
    EXPECT_EQ(whole.frame_general, 0);

    const FlashWindow swing = worst(slow_swing, 60, 3);
    EXPECT_GT(swing.mean, kFlashLimit);
    EXPECT_GT(swing.frame_general, kFlashLimit);
}

TEST(FlashAnalysis, GentlePictureHasNoFailingWindow)
{
    // Every reading keeps to two flashes a second, at either frame rate.
    const Scene scenes[] = {wave(4, kBlack, kWhite),
                            wave(12, kBlack, kWhite),
                            wave(5, kRed, kGrey),
                            wave(7, kRed, kBlack),
                            in_turn,
                            small_square,
                            slow_swing};
    for (size_t i = 0; i < std::size(scenes); ++i)
        for (int fps : {60, 24}) {
            const FlashWindow w = worst(scenes[i], fps, 4, true, 1.0 / (kW * kH));
            EXPECT_LE(std::max({w.general, w.red, w.frame_general, w.frame_red, w.mean}), 4)
                << "scene " << i << " at " << fps << " frames a second: per pixel " << w.general << " and " << w.red
                << " red, per frame " << w.frame_general << " and " << w.frame_red << " red, mean " << w.mean;
        }
    // A scene that flashes slowly enough is shown exactly as it is.
    const Scene slow = wave(1, kBlack, kWhite);
    std::vector<uint32_t> pixels(kW * kH);
    gentle_reset();
    for (int f = 0; f < 180; ++f) {
        std::fill(pixels.begin(), pixels.end(), slow(0, 0, f));
        gentle_limit(pixels.data(), kW, kH, f * 1000 / 60);
        ASSERT_EQ(pixels[0], slow(0, 0, f)) << "frame " << f;
    }
}

} // namespace
