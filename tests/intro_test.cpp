// The intro: scenes by time, warp strength and warp limits, film damage, load failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/clock.h"
#include "core/clock_virtual.h"
#include "core/shared.h"
#include "display/null/display_null.h"
#include "fx/draw.h"
#include "fx/filters.h"
#include "fx/tables.h"
#include "parts/intro.h"
#include "tests/parts_support.h"

namespace {

constexpr int kPixels = kScreenWidth * kScreenHeight;
constexpr uint8_t kPictureColour = 10;
constexpr uint8_t kLetteringColour = 200;
constexpr uint8_t kGrey = 3;

// Magenta everywhere but one grey entry, so every grey of the table finds entry 3.
Palette intro_test_palette()
{
    Palette p{};
    for (int i = 0; i < 256; ++i) {
        p.rgb[3 * i] = 255;
        p.rgb[3 * i + 2] = 255;
    }
    p.rgb[3 * kGrey] = p.rgb[3 * kGrey + 1] = p.rgb[3 * kGrey + 2] = 128;
    return p;
}

void use_uniform_pictures()
{
    OwnedImage picture(kScreenWidth, kScreenHeight), lettering(319, 243);
    image_fill(picture.image, kPictureColour);
    image_fill(lettering.image, kLetteringColour);
    intro_use_pictures(picture.released(), lettering.released(), intro_test_palette());
}

TEST(Intro, WarpShiftByTimeWithinTheScene)
{
    const int expected[32] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 4, 4, 4, 4,
                              4, 4, 4, 4, 4, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0, 0};
    for (int u = 0; u < 32; ++u)
        EXPECT_EQ(intro_warp_shift(u), expected[u]) << "u = " << u;
    // A scene that lags behind the time (a very slow machine) is warped strongly.
    EXPECT_EQ(intro_warp_shift(40), 0);
}

TEST(Intro, WarpMovesAlongStorageOrderWithinTheImage)
{
    OwnedImage screen(kScreenWidth, kScreenHeight), warp(kScreenWidth, kScreenHeight);
    for (int k = 0; k < kPixels; ++k)
        screen.image->pixels[k] = (uint8_t)((k * 37) % 251); // differs within any 251 places

    for (int shift = 0; shift <= 4; ++shift) {
        image_fill(warp.image, 192);
        intro_warp(screen.image, warp.image, shift);
        EXPECT_EQ(std::memcmp(warp.image->pixels, screen.image->pixels, kPixels), 0) << "192 stays, shift " << shift;
    }

    struct Case {
        int k, value, shift, source;
    };
    const Case cases[] = {
        {1000, 128, 0, 936},    {1000, 128, 4, 996},    {1000, 255, 0, 1063},   {1000, 0, 0, 808},
        {10, 0, 0, 0},          {300, 0, 0, 108},       {5, 128, 4, 1},         {319, 0, 0, 127},
        {320, 0, 0, 128},       {76479, 255, 0, 76542}, {76480, 255, 0, 76543}, {76790, 255, 0, 76799},
        {76799, 255, 0, 76799}, {76799, 0, 0, 76607},
    };
    for (const Case& c : cases) {
        image_fill(warp.image, 192);
        warp.image->pixels[c.k] = (uint8_t)c.value;
        intro_warp(screen.image, warp.image, c.shift);
        EXPECT_EQ(warp.image->pixels[c.k], screen.image->pixels[c.source])
            << "k " << c.k << " value " << c.value << " shift " << c.shift;
    }
}

// The scratches: vertical lines to row 240, limited to 239 and left out at the end.
TEST(Intro, ScratchesEndAboveTheBottomRow)
{
    OwnedImage screen(kScreenWidth, kScreenHeight);
    image_line(screen.image, 17, 239, 17, 240, 9);
    image_line(screen.image, 300, 100, 300, 240, 8);
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x) {
            const uint8_t want = (x == 17 && y == 239) ? 9 : (x == 300 && y >= 100 && y <= 238) ? 8 : 0;
            ASSERT_EQ(screen.image->pixels[y * kScreenWidth + x], want) << x << "," << y;
        }
}

// The damage draws its random numbers in the written order; every later part depends on
// the generator's position, so the next number after it is checked too.
TEST(Intro, FilmDamageDrawsInTheWrittenOrder)
{
    tables_init();
    use_uniform_pictures();
    int streaked = 0, inverted = 0, scratched = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        OwnedImage got(kScreenWidth, kScreenHeight), want(kScreenWidth, kScreenHeight);
        for (int k = 0; k < kPixels; ++k)
            got.image->pixels[k] = want.image->pixels[k] = (uint8_t)(k % 97 + 50);
        random_seed_set(seed);
        intro_damage(got.image);
        const int next = random_below(1 << 30);

        random_seed_set(seed);
        if (random_below(100) <= 7) {
            const int s = random_below(3) + 1;
            const int d = random_below(3) + 1;
            filter_streak_reference(want.image->pixels, kScreenWidth, kScreenHeight, (uint8_t)d, (uint8_t)s);
            ++streaked;
        }
        if (random_below(100) <= 7) {
            for (int k = 0; k < kPixels; ++k)
                want.image->pixels[k] = (uint8_t)(255 - want.image->pixels[k]);
            ++inverted;
        }
        if (random_below(100) <= 39) {
            const int n = random_below(40);
            for (int i = 0; i < n; ++i) {
                const int x = random_below(320);
                if (random_below(100) <= 39) {
                    random_below(16); // the grey table holds entry 3 only
                    const int y = random_below(240);
                    for (int row = y; row < 239; ++row)
                        want.image->pixels[row * kScreenWidth + x] = kGrey;
                    want.image->pixels[(y < 239 ? y : 239) * kScreenWidth + x] = kGrey;
                    ++scratched;
                }
            }
        }
        ASSERT_EQ(random_below(1 << 30), next) << "seed " << seed;
        ASSERT_EQ(std::memcmp(got.image->pixels, want.image->pixels, kPixels), 0) << "seed " << seed;
    }
    // The seeds cover every kind of damage.
    EXPECT_GT(streaked, 0);
    EXPECT_GT(inverted, 0);
    EXPECT_GT(scratched, 0);
    intro_free();
}

// Lettering shows from part time 32 (frame 54 at 60 ms) to 159 (frame 266); the
// picture, its streaks, its negative and the grey scratches never reach 11..244.
TEST(Intro, TimelineAndScenes)
{
    tables_init();
    use_uniform_pictures();
    OwnedImage screen(kScreenWidth, kScreenHeight);
    null_display_reset();
    null_display.keep_pixels = true;
    clock_virtual_set(777);
    random_seed_set(99);
    intro_run(screen.image);
    null_display.keep_pixels = false;

    ASSERT_EQ(null_display.frames.size(), 320u);
    for (size_t i = 0; i < null_display.frames.size(); ++i)
        ASSERT_EQ(null_display.frames[i].time, 777 + 60 * (int32_t)i) << i;
    EXPECT_EQ(null_display.palettes, 1);
    const Palette expected = intro_test_palette();
    EXPECT_EQ(std::memcmp(null_display.palette.rgb, expected.rgb, sizeof expected.rgb), 0);

    for (size_t i = 0; i < null_display.pixels.size(); ++i) {
        int lettering = 0;
        for (uint8_t v : null_display.pixels[i])
            lettering += v >= 11 && v <= 244;
        if (i >= 54 && i <= 266)
            EXPECT_GT(lettering, 1000) << "frame " << i;
        else
            EXPECT_EQ(lettering, 0) << "frame " << i;
    }
    intro_free();
}

// The lettering may be larger than its pieces need; the intro picture is taken as is.
TEST(Intro, LoadAcceptsLargerLettering)
{
    const std::string folder = test_folder("intro-large-lettering");
    write_pcx(folder + "/grafika/intro/taze.pcx", 320, 240, std::vector<uint8_t>(320 * 240, 1), intro_test_palette());
    write_pcx(folder + "/grafika/intro/inttxt.pcx", 400, 300, std::vector<uint8_t>(400 * 300, 2), intro_test_palette());
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    must_return([] { intro_load(); });
    ASSERT_EQ(chdir(previous), 0);
    intro_free();
}

// Both pictures are checked before anything reads them; a missing one names its path.
TEST(IntroDeath, MissingOrWronglySizedPictures)
{
    const Palette palette = intro_test_palette();
    const PictureCase cases[] = {
        {"intro-no-picture", 0, 0, 0, 0, "Cann't load image grafika/intro/taze.pcx !\n"},
        {"intro-no-lettering", 320, 240, 0, 0, "Cann't load image grafika/intro/inttxt.pcx !\n"},
        {"intro-small-picture", 320, 239, 319, 243, "Wrong image size!\n"},
        {"intro-large-picture", 321, 240, 319, 243, "Wrong image size!\n"},
        {"intro-narrow-lettering", 320, 240, 318, 243, "Wrong image size!\n"},
        {"intro-short-lettering", 320, 240, 320, 242, "Wrong image size!\n"},
    };
    for (const PictureCase& c : cases) {
        const std::string folder =
            picture_case_folder(c, "grafika/intro/taze.pcx", "grafika/intro/inttxt.pcx", palette);
        EXPECT_EXIT(
            {
                enter_for_death(folder);
                intro_load();
            },
            testing::ExitedWithCode(1), c.message)
            << c.name;
    }
}

} // namespace
