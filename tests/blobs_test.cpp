// The blobs: field table, palette levels, starting states, bounces, stamps, colour pass,
// the run step's timeline and its failures.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/clock.h"
#include "core/clock_virtual.h"
#include "core/shared.h"
#include "display/null/display_null.h"
#include "parts/blobs.h"
#include "tests/parts_support.h"

namespace {

constexpr int kPixels = kScreenWidth * kScreenHeight;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST(Blobs, FieldTable)
{
    random_seed_set(1);
    blobs_load();
    const uint8_t* t = blobs_field_table();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t[32 * 64 + 32], 127);
    const int row32[33] = {0,  0,  1,  4,  7,  10,  14,  19,  24,  29,  35,  41,  47,  53,  59,  65, 72,
                           77, 83, 89, 94, 99, 104, 108, 112, 116, 119, 121, 124, 125, 127, 127, 127};
    for (int c = 0; c < 33; ++c)
        EXPECT_EQ(t[32 * 64 + c], row32[c]) << "column " << c;
    for (int c = 33; c < 64; ++c)
        EXPECT_EQ(t[32 * 64 + c], t[32 * 64 + 64 - c]) << "column " << c;
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 64; ++c) {
            ASSERT_EQ(t[r * 64 + c], t[c * 64 + r]) << r << "," << c;
            if ((c - 32) * (c - 32) + (r - 32) * (r - 32) >= 1024) {
                ASSERT_EQ(t[r * 64 + c], 0) << r << "," << c;
            }
        }
    blobs_free();
}

TEST(Blobs, PaletteLevels)
{
    random_seed_set(1);
    blobs_load();
    const Palette& p = blobs_palette();
    const int lowered[106] = {147, 143, 143, 140, 137, 137, 134, 134, 131, 128, 128, 124, 124, 121, 118, 118, 115, 115,
                              112, 110, 110, 107, 107, 104, 101, 101, 98,  98,  95,  93,  93,  90,  90,  88,  85,  85,
                              82,  82,  80,  77,  77,  75,  75,  73,  70,  70,  68,  68,  65,  63,  63,  61,  61,  59,
                              57,  57,  55,  55,  52,  50,  50,  48,  48,  46,  44,  44,  43,  43,  41,  39,  39,  37,
                              37,  35,  33,  33,  32,  32,  30,  29,  29,  27,  27,  25,  24,  24,  22,  22,  21,  20,
                              20,  18,  18,  17,  15,  15,  14,  14,  13,  12,  12,  11,  11,  10,  8,   8};
    const int raised[47] = {25,  25,  30,  36,  36,  42,  42,  48,  55,  55,  61,  61,  68,  75,  75,  82,
                            82,  90,  97,  97,  105, 105, 113, 121, 121, 130, 130, 138, 147, 147, 156, 156,
                            165, 175, 175, 184, 184, 194, 204, 204, 214, 214, 225, 235, 235, 246, 246};
    for (int e = 0; e < 256; ++e) {
        int level = 0;
        if (e == 1)
            level = 147;
        else if (e >= 2 && e <= 107)
            level = lowered[e - 2];
        else if (e >= 149 && e <= 195)
            level = raised[e - 149];
        else if (e >= 196)
            level = 255;
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(p.rgb[3 * e + c], level) << "entry " << e << " component " << c;
    }
    blobs_free();
}

// Four draws per blob, x, y, vx, vy, and no others: the parts after this one share the
// generator.
TEST(Blobs, StartingStatesFromTheSharedGenerator)
{
    random_seed_set(4242);
    blobs_load();
    const int next = random_below(1 << 30);
    random_seed_set(4242);
    for (int i = 0; i < kBlobCount; ++i) {
        const int x = random_below(240), y = random_below(120), vx = random_below(10), vy = random_below(10);
        EXPECT_EQ(blobs[i].x, (float)(x + 40)) << i;
        EXPECT_EQ(blobs[i].y, (float)(y + 40)) << i;
        EXPECT_EQ(blobs[i].vx, (float)(2 * vx * 0.1 - 1.01)) << i;
        EXPECT_EQ(blobs[i].vy, (float)(2 * vy * 0.1 - 1.01)) << i;
        EXPECT_NE(blobs[i].vx, 0.0f);
    }
    EXPECT_EQ(random_below(1 << 30), next);
    blobs_free();
}

TEST(Blobs, BounceAtTheEdgesOfTheBox)
{
    blobs_load();
    std::vector<uint8_t> pixels(kPixels, 127);
    for (Blob& b : blobs)
        b = {160, 120, 0, 0};
    blobs[0] = {270, 190, 1, 1}; // lands on 280, 200 exactly: reflected onto itself
    blobs[1] = {50, 50, -1, -1}; // lands on 40, 40 exactly: not reflected
    blobs[2] = {275, 195, 1, 1}; // passes 280, 200 by 5
    blobs[3] = {45, 45, -1, -1}; // passes 40, 40 by 5
    blobs_draw(pixels.data(), 10);
    const Blob expected[4] = {{280, 200, -1, -1}, {40, 40, -1, -1}, {275, 195, -1, -1}, {45, 45, 1, 1}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(blobs[i].x, expected[i].x) << i;
        EXPECT_EQ(blobs[i].y, expected[i].y) << i;
        EXPECT_EQ(blobs[i].vx, expected[i].vx) << i;
        EXPECT_EQ(blobs[i].vy, expected[i].vy) << i;
    }
    // The blob reflected onto 280, 200 is stamped at its bottom-right limit, reaching
    // column 311 and row 231: the block is exactly the screen, so the sanitizer build
    // catches any stamp outside it.
    blobs_free();
}

// Thirty blobs on one spot take turns raising and lowering: the raise saturates at 255
// and the lowering never gives 0, also where the table holds 0.
TEST(Blobs, StampsSaturateAndNeverReachZero)
{
    blobs_load();
    for (Blob& b : blobs)
        b = {100, 100, 0, 0};
    std::vector<uint8_t> pixels(kPixels, 0);
    blobs_draw(pixels.data(), 9);
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x) {
            const bool under = x >= 68 && x < 132 && y >= 68 && y < 132;
            ASSERT_EQ(pixels[y * kScreenWidth + x], under ? 1 : 0) << x << "," << y;
        }

    const uint8_t* t = blobs_field_table();
    std::fill(pixels.begin(), pixels.end(), 250);
    blobs_draw(pixels.data(), 9);
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 64; ++c) {
            const int f = t[r * 64 + c];
            ASSERT_EQ(pixels[(68 + r) * kScreenWidth + 68 + c], f >= 5 ? 255 - f : 250) << r << "," << c;
        }
    blobs_free();
}

TEST(Blobs, ColourPass)
{
    OwnedImage screen(kScreenWidth, kScreenHeight), low(kScreenWidth, kScreenHeight), high(kScreenWidth, kScreenHeight);
    struct Case {
        int v, c1, c2, result;
    };
    const Case cases[] = {
        {0, 0, 9, 84},        {1, 255, 9, 2},
        {105, 0, 9, 110},     {105, 200, 9, (3 * (112 - 50 - 25 - 12) + 105) >> 2},
        {106, 0, 0, 127},     {127, 9, 9, 127},
        {149, 255, 255, 127}, {150, 9, 0, 144},
        {150, 9, 255, 226},   {255, 9, 255, 252},
        {200, 9, 100, 189},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        screen.image->pixels[i] = (uint8_t)cases[i].v;
        low.image->pixels[i] = (uint8_t)cases[i].c1;
        high.image->pixels[i] = (uint8_t)cases[i].c2;
    }
    blobs_colour(screen.image, low.image, high.image);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(screen.image->pixels[i], cases[i].result) << "v " << cases[i].v;
}

std::string blobs_folder(const PictureCase& c)
{
    return picture_case_folder(c, "one.pcx", "two.pcx", Palette{});
}

TEST(Blobs, TimelineOfTheRunStep)
{
    const std::string folder = blobs_folder({"blobs-run", 320, 240, 320, 240, ""});
    random_seed_set(31);
    blobs_load();
    OwnedImage screen(kScreenWidth, kScreenHeight);
    null_display_reset();
    clock_virtual_set(123456);
    const std::string one = folder + "/one.pcx", two = folder + "/two.pcx";
    must_return([&] { blobs_run(screen.image, one.c_str(), two.c_str(), 125); });
    ASSERT_EQ(null_display.frames.size(), 179u);
    for (size_t i = 0; i < null_display.frames.size(); ++i)
        ASSERT_EQ(null_display.frames[i].time, 123456 + 70 * (int32_t)i) << i;
    EXPECT_EQ(null_display.palettes, 1);
    EXPECT_EQ(std::memcmp(null_display.palette.rgb, blobs_palette().rgb, 768), 0);
    // One draw per frame (the speed) after the 120 of the starting states.
    const int next = random_below(1 << 30);
    random_seed_set(31);
    for (int i = 0; i < 120 + 179; ++i)
        random_below(1 << 30);
    EXPECT_EQ(random_below(1 << 30), next);
    // Every frame value is a colour-pass result; pixels no blob reached stay 127.
    for (int k = 0; k < kPixels; ++k) {
        const int v = screen.image->pixels[k];
        ASSERT_TRUE((v >= 2 && v <= 110) || v == 127 || (v >= 144 && v <= 252)) << k << ": " << v;
    }

    // Duration 0: no frame, but the palette is still sent.
    null_display_reset();
    must_return([&] { blobs_run(screen.image, one.c_str(), two.c_str(), 0); });
    EXPECT_EQ(null_display.frames.size(), 0u);
    EXPECT_EQ(null_display.palettes, 1);
    blobs_free();
}

TEST(BlobsDeath, MissingOrWronglySizedPictures)
{
    const PictureCase cases[] = {
        {"blobs-no-one", 0, 0, 320, 240, "Cann't load image one.pcx !\n"},
        {"blobs-no-two", 320, 240, 0, 0, "Cann't load image two.pcx !\n"},
        {"blobs-short-one", 320, 200, 320, 240, "Wrong image size!\n"},
        {"blobs-wide-two", 320, 240, 321, 240, "Wrong image size!\n"},
    };
    for (const PictureCase& c : cases) {
        const std::string folder = blobs_folder(c);
        EXPECT_EXIT(
            {
                enter_for_death(folder);
                blobs_load();
                OwnedImage screen(kScreenWidth, kScreenHeight);
                blobs_run(screen.image, "one.pcx", "two.pcx", 125);
            },
            testing::ExitedWithCode(1), c.message)
            << c.name;
    }
}

// Caps the address space at what is in use and uses up the heap, in a death test's
// child, then runs the load step.
void load_without_memory()
{
    enter_for_death(test_folder("blobs-no-memory"));
    std::printf("%s", ""); // standard output gets its buffer while there is memory
    long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1)
        std::abort();
    std::fclose(statm);
    const rlim_t size = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE);
    const rlimit cap = {size, size};
    if (setrlimit(RLIMIT_AS, &cap) != 0)
        std::abort();
    // Blocks from the smallest that can hold the table down to the smallest of all, so
    // that no free piece is left that the table could take.
    static void* volatile taken;
    for (size_t size = kBlobSize * kBlobSize; size >= 16; size /= 2)
        do
            taken = std::malloc(size);
        while (taken != nullptr);
    blobs_load();
}

// With the address space capped and the heap used up, the field table cannot be had:
// the load step says so and ends the program with status 1.
TEST(BlobsDeath, FieldTableAllocationFails)
{
    if (kAddressSanitizer)
        GTEST_SKIP() << "the sanitizer's allocator reports instead of failing";
    EXPECT_EXIT({ load_without_memory(); }, testing::ExitedWithCode(1), "^Cann't allocate memory!\n$");
}

} // namespace
