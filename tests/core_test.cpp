// The demo core: the scaled copy, the random numbers, the virtual clock and the prompt.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/clock.h"
#include "core/clock_virtual.h"
#include "core/shared.h"
#include "core/image.h"
#include "core/prompt.h"

#include "tests/owned_image.h"

namespace {

// Source pixel (x, y) holds a value that tells its position apart.
void fill_pattern(Image* image)
{
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            image->pixels[y * image->width + x] = (uint8_t)(x * 7 + y * 13 + 1);
}

TEST(Image, AllocFillFree)
{
    Owned a(5, 3);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(a.image->pixels[i], 0);
    image_fill(a.image, 300);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(a.image->pixels[i], 44);
    Image* none = nullptr;
    image_free(&none);
}

TEST(ImageScaleCopy, WholeFactorsAndRowDropping)
{
    Owned src(320, 240), big(640, 480), low(320, 200);
    fill_pattern(src.image);
    image_scale_copy(big.image, 0, 0, 640, 480, src.image, 0, 0, 320, 240, 0, 0);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            ASSERT_EQ(big.at(x, y), src.at(x / 2, y / 2)) << x << "," << y;

    image_scale_copy(low.image, 0, 0, 320, 200, src.image, 0, 0, 320, 240, 0, 0);
    std::vector<bool> shown(240, false);
    for (int y = 0; y < 200; ++y) {
        int source_row = (y * 1228) >> 10;
        shown[source_row] = true;
        for (int x = 0; x < 320; ++x)
            ASSERT_EQ(low.at(x, y), src.at(x, source_row));
    }
    EXPECT_TRUE(shown[0]);
    EXPECT_FALSE(shown[239]);
}

TEST(ImageScaleCopy, Clipping)
{
    Owned src(100, 100), dst(100, 100);
    fill_pattern(src.image);

    // Left clip keeps the right part of the source: columns 10..99 land at 0..89.
    image_scale_copy(dst.image, -10, 0, 100, 100, src.image, 0, 0, 100, 100, 0, 0);
    for (int x = 0; x < 90; ++x)
        EXPECT_EQ(dst.at(x, 5), src.at(x + 10, 5));
    EXPECT_EQ(dst.at(90, 5), 0);

    // Top clip likewise.
    image_fill(dst.image, 0);
    image_scale_copy(dst.image, 0, -30, 100, 100, src.image, 0, 0, 100, 100, 0, 0);
    EXPECT_EQ(dst.at(3, 0), src.at(3, 30));
    EXPECT_EQ(dst.at(3, 69), src.at(3, 99));
    EXPECT_EQ(dst.at(3, 70), 0);

    // Right and bottom clips cut the destination and the source alike.
    image_fill(dst.image, 0);
    image_scale_copy(dst.image, 60, 70, 100, 100, src.image, 0, 0, 100, 100, 0, 0);
    EXPECT_EQ(dst.at(60, 70), src.at(0, 0));
    EXPECT_EQ(dst.at(99, 99), src.at(39, 29));
    EXPECT_EQ(dst.at(59, 99), 0);

    // Wholly outside on each side, or a source corner outside: nothing drawn.
    image_fill(dst.image, 9);
    image_scale_copy(dst.image, 100, 0, 10, 10, src.image, 0, 0, 10, 10, 0, 0);
    image_scale_copy(dst.image, 0, 100, 10, 10, src.image, 0, 0, 10, 10, 0, 0);
    image_scale_copy(dst.image, -10, 0, 10, 10, src.image, 0, 0, 10, 10, 0, 0);
    image_scale_copy(dst.image, 0, -10, 10, 10, src.image, 0, 0, 10, 10, 0, 0);
    image_scale_copy(dst.image, -200, 0, 100, 10, src.image, 0, 0, 100, 10, 0, 0);
    image_scale_copy(dst.image, 0, 0, 10, 10, src.image, -1, 0, 10, 10, 0, 0);
    image_scale_copy(dst.image, 0, 0, 10, 10, src.image, 100, 0, 10, 10, 0, 0);
    image_scale_copy(dst.image, 0, 0, 0xFFFFFFFFu, 10, src.image, 0, 0, 10, 10, 0, 0);
    for (int i = 0; i < 100 * 100; ++i)
        if (i / 100 >= 10 || i % 100 >= 10) {
            ASSERT_EQ(dst.image->pixels[i], 9) << i;
        }
}

TEST(ImageScaleCopy, ShortSourceIsStretched)
{
    Owned src(8, 1), dst(8, 1);
    fill_pattern(src.image);
    image_scale_copy(dst.image, 0, 0, 8, 1, src.image, 4, 0, 8, 1, 0, 0);
    const int expected[8] = {4, 4, 5, 5, 6, 6, 7, 7};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(dst.at(i, 0), src.at(expected[i], 0));
}

TEST(ImageScaleCopy, Transparency)
{
    Owned src(4, 1), dst(4, 1);
    const uint8_t values[4] = {0, 5, 0, 300 & 0xFF};
    for (int i = 0; i < 4; ++i)
        src.at(i, 0) = values[i];
    image_fill(dst.image, 77);
    image_scale_copy(dst.image, 0, 0, 4, 1, src.image, 0, 0, 4, 1, 0x100, 0x101);
    EXPECT_EQ(dst.at(0, 0), 77);
    EXPECT_EQ(dst.at(1, 0), 5);
    EXPECT_EQ(dst.at(2, 0), 77);
    EXPECT_EQ(dst.at(3, 0), 44);
    // Only the low byte of the flag counts: 0x100 is off.
    image_scale_copy(dst.image, 0, 0, 4, 1, src.image, 0, 0, 4, 1, 0, 0x100);
    EXPECT_EQ(dst.at(0, 0), 0);
}

TEST(Random, ScaleAndSeed)
{
    EXPECT_EQ(random_scale(2147483647, 10), 9);
    EXPECT_EQ(random_scale(2147483647, 1), 0);
    EXPECT_EQ(random_scale(0, 320), 0);
    for (int32_t n : {1, 2, 3, 9, 17, 100, 240, 320})
        for (int32_t r : {0, 1, 1073741823, 1073741824, 2147483646, 2147483647}) {
            int32_t v = random_scale(r, n);
            EXPECT_GE(v, 0);
            EXPECT_LT(v, n);
        }
    // C lies just below 2^-31: exactly half the generator's range stays below n / 2.
    EXPECT_EQ(random_scale(1073741824, 10), 4);
    EXPECT_EQ(random_scale(1073741825, 10), 5);
    EXPECT_EQ(random_seed_value(12, 34, 56), 25480u);
    EXPECT_EQ(random_seed_value(23, 59, 0), 0u);
}

TEST(VirtualClock, WaitsMoveItAndPartTime)
{
    clock_virtual_set(1000);
    clock_mark();
    EXPECT_EQ(clock_elapsed(), 0);
    int32_t t = clock_now();
    EXPECT_EQ(clock_wait(t, 60), 0);
    EXPECT_EQ(clock_now(), 1060);
    // A frame that already took its period does not move the clock back.
    clock_virtual_set(1200);
    clock_wait(t, 60);
    EXPECT_EQ(clock_now(), 1200);
    EXPECT_EQ((int)(clock_elapsed() * 0.01), 2);
    clock_virtual_set(1000 + 12500);
    EXPECT_EQ((int)(clock_elapsed() * 0.01), 125);
    clock_virtual_set(1099);
    EXPECT_EQ((int)(clock_elapsed() * 0.01), 0);
}

TEST(VirtualClock, StepsKeepToTheirDueTimes)
{
    clock_virtual_set(5000);
    clock_show_begin(5000);
    // 40 ms behind the step's due show time of 1000: its time starts at the due time, and
    // its first 70 ms frame ends where it would have on time.
    clock_virtual_set(6040);
    clock_mark_due(1000);
    clock_mark();
    EXPECT_EQ(clock_elapsed(), 40);
    clock_wait(clock_now(), 70);
    EXPECT_EQ(clock_now(), 6070);
    clock_wait(clock_now(), 70);
    EXPECT_EQ(clock_now(), 6140);
    // A frame that overran its period, or woke up late, counts from where the last wait
    // ended: the frames stay 70 ms apart from the step's start.
    clock_virtual_set(6230);
    clock_wait(clock_now(), 70);
    EXPECT_EQ(clock_now(), 6280);
    // Only the next mark after the call keeps to it.
    clock_virtual_set(6300);
    clock_mark();
    EXPECT_EQ(clock_elapsed(), 0);
    // A step ahead of its due time waits for it.
    clock_mark_due(2000);
    clock_mark();
    EXPECT_EQ(clock_now(), 7000);
    EXPECT_EQ(clock_elapsed(), 0);
}

// Feeds text to standard input for ask_number.
void feed_stdin(const std::string& text)
{
    FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    ASSERT_NE(dup2(fileno(f), fileno(stdin)), -1);
    std::clearerr(stdin);
}

TEST(Prompt, AcceptsAndRefuses)
{
    struct Case {
        const char* input;
        long expected;
    } cases[] = {
        {"2\n", 2},
        {"   3\n", 3},
        {"4 and some words\n", 4},
        {"+1\n", 1},
        {"\n5\n0\n-2\nabc\n99999999999999999999999\n1\n", 1},
    };
    for (const Case& c : cases) {
        feed_stdin(c.input);
        EXPECT_EQ(ask_number("Q", 1, 4), c.expected) << c.input;
    }
    // A line longer than 254 characters is read in two pieces.
    std::string long_line(254, ' ');
    long_line[253] = '7';
    feed_stdin(long_line + "3\n");
    EXPECT_EQ(ask_number("Q", 1, 9), 7);
    EXPECT_EQ(ask_number("Q", 1, 9), 3);
}

TEST(PromptDeathTest, EndOfInputEndsTheProgram)
{
    // A last line of a single character without a line end is no answer either.
    EXPECT_EXIT(
        {
            feed_stdin("9\n2");
            ask_number("Type corresponding number : ", 1, 4);
        },
        testing::ExitedWithCode(1), "");
}

} // namespace
