// The scroll with words, the fire and the closing screens run whole on the virtual clock,
// with small pictures of the test's own, and their refusals of unusable pictures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/clock_virtual.h"
#include "core/shared.h"
#include "core/image.h"
#include "display/null/display_null.h"
#include "fx/grid.h"
#include "fx/tables.h"
#include "parts/closing.h"
#include "pcx/pcx.h"
#include "parts/fire.h"
#include "parts/words.h"
#include "tools/pictures/pcx_write.h"

namespace {

// A picture whose pixels tell their place, under a palette of greys.
bool picture(const std::string& path, int w, int h, int salt)
{
    std::vector<uint8_t> pixels((size_t)w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixels[(size_t)y * w + x] = (uint8_t)((x * 3 + y * 5 + salt) % 251);
    Palette grey;
    for (int i = 0; i < 768; ++i)
        grey.rgb[i] = (uint8_t)(i / 3);
    return pcx_write(path, pixels.data(), w, h, grey) == 0;
}

// Each test works in a folder of its own holding a grafika tree of test pictures.
class PartRun : public testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string(TARQLE_BUILD_DIR) + "/test-runs/words-fire-closing-" + info->name();
        std::filesystem::remove_all(folder_);
        // The data is read from here only when the folder holds both grafika/ and music/.
        std::filesystem::create_directories(folder_ + "/grafika");
        std::filesystem::create_directories(folder_ + "/music");
        ASSERT_TRUE(getcwd(home_, sizeof home_));
        ASSERT_EQ(chdir(folder_.c_str()), 0);
        int salt = 0;
        for (const char* name : {"d1", "d5", "d6", "c1", "d2"})
            ASSERT_TRUE(picture(std::string("grafika/aaa/") + name + ".pcx", 320, 240, salt += 40));
        ASSERT_TRUE(picture("grafika/words.pcx", 317, 799, 7));
        ASSERT_TRUE(picture("grafika/fire/skull.pcx", 100, 80, 9));
        ASSERT_TRUE(picture("grafika/fire/fire.pcx", 221, 253, 11));
        // A picture the decoder refuses would end the test process with status 1.
        Image* probe = nullptr;
        ASSERT_EQ(pcx_load("grafika/words.pcx", &probe, nullptr), 5) << "the test pictures must load";
        image_free(&probe);
        tables_init();
        grid_tables_init();
        ASSERT_EQ(image_alloc(&screen_, 320, 240), 0);
        null_display_reset();
        clock_virtual_set(5000);
    }
    void TearDown() override
    {
        image_free(&screen_);
        ASSERT_EQ(chdir(home_), 0);
    }

    // Frames came every period milliseconds from the virtual clock's 5000 on.
    void expect_frames(size_t count, int period)
    {
        ASSERT_EQ(null_display.frames.size(), count);
        for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(null_display.frames[i].time, 5000 + (int32_t)i * period) << i;
    }

    uint8_t last(int x, int y) const
    {
        return null_display.frame[y * 320 + x];
    }

    std::string folder_;
    char home_[4096];
    Image* screen_ = nullptr;
};

TEST_F(PartRun, WordsFramesPaletteWordsAndThumbnail)
{
    words_load();
    words_run(screen_, 1.2f, 1.2f, 1.2f, 230);
    expect_frames(329, 70);
    EXPECT_EQ(null_display.palettes, 1);
    EXPECT_EQ(null_display.palette.rgb[3 * 5], 6);
    EXPECT_EQ(null_display.palette.rgb[3 * 213 + 1], 255);
    // A change every second from the first frame: records 1 to 23.
    const WordRect last_word = words_current();
    EXPECT_EQ(last_word.left, 6);
    EXPECT_EQ(last_word.top, 742);
    // The black border of the thumbnail ends 4 pixels from the right and bottom.
    for (int x = 236; x < 316; ++x) {
        EXPECT_EQ(last(x, 176), 0) << x;
        EXPECT_EQ(last(x, 235), 0) << x;
    }
    for (int y = 176; y < 236; ++y) {
        EXPECT_EQ(last(236, y), 0) << y;
        EXPECT_EQ(last(315, y), 0) << y;
    }
    EXPECT_NE(last(276, 206), 0);

    // The first frame already shows a word, and it is record 1.
    null_display_reset();
    clock_virtual_set(5000);
    words_run(screen_, 1.2f, 1.2f, 1.2f, 1);
    expect_frames(2, 70);
    const WordRect first = words_current();
    EXPECT_EQ(first.left, 209);
    EXPECT_EQ(first.top, 12);
    EXPECT_EQ(first.right, 317);
    EXPECT_EQ(first.bottom, 50);
    words_free();
}

TEST_F(PartRun, WordsScrollAndWordTimeline)
{
    words_load();
    WordsRun run;
    // 15 a frame: 21 frames reach 315, the next one is the next picture at offset 0.
    for (int i = 0; i < 21; ++i)
        words_frame(screen_, &run, 0);
    EXPECT_EQ(run.offset, 315);
    EXPECT_EQ(run.picture, 0);
    EXPECT_EQ(run.word, 1);
    words_frame(screen_, &run, 9);
    EXPECT_EQ(run.offset, 0);
    EXPECT_EQ(run.picture, 1);
    EXPECT_EQ(run.word, 1);
    // Part time 10 brings the next word; 19 does not.
    words_frame(screen_, &run, 10);
    EXPECT_EQ(run.word, 2);
    words_frame(screen_, &run, 19);
    EXPECT_EQ(run.word, 2);
    // The fast windows move 160 a frame: 30 + 160, then past 319 to the next picture.
    words_frame(screen_, &run, 120);
    EXPECT_EQ(run.offset, 190);
    words_frame(screen_, &run, 127);
    EXPECT_EQ(run.offset, 0);
    EXPECT_EQ(run.picture, 2);
    EXPECT_EQ(run.word, 3);
    words_frame(screen_, &run, 128);
    EXPECT_EQ(run.offset, 15);
    // From the last picture the band goes back to the first.
    run.picture = 4;
    run.offset = 310;
    words_frame(screen_, &run, 128);
    EXPECT_EQ(run.picture, 0);
    EXPECT_EQ(run.offset, 0);
    words_free();
}

TEST_F(PartRun, FireFramesPaletteAndThumbnail)
{
    fire_load();
    fire_run(screen_, 215, 4, 1, 1, 1);
    expect_frames(359, 60);
    EXPECT_EQ(null_display.palettes, 1);
    fire_palette();
    EXPECT_EQ(std::memcmp(null_display.palette.rgb, work_palette.rgb, 768), 0);
    // The white frame of the thumbnail at the top right, pasted last.
    for (int x = 236; x < 316; ++x) {
        EXPECT_EQ(last(x, 4), 255) << x;
        EXPECT_EQ(last(x, 63), 255) << x;
    }
    for (int y = 4; y < 64; ++y) {
        EXPECT_EQ(last(236, y), 255) << y;
        EXPECT_EQ(last(315, y), 255) << y;
    }
    fire_free();
}

TEST_F(PartRun, WhiteoutThenClosingFade)
{
    for (int i = 0; i < 768; ++i)
        screen_->pixels[i] = (uint8_t)i;
    work_palette = Palette{};
    work_palette.rgb[1] = 208;
    work_palette.rgb[2] = 224;
    whiteout_run(screen_);
    expect_frames(19, 70);
    for (uint8_t v : null_display.palette.rgb)
        ASSERT_EQ(v, 255);
    EXPECT_EQ(null_display.frame[700], (uint8_t)700);

    std::vector<uint8_t> pixels(320 * 240);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (uint8_t)(i * 7);
    Palette own{};
    own.rgb[0] = 200;
    own.rgb[1] = 15;
    own.rgb[2] = 255;
    ASSERT_EQ(pcx_write("grafika/dornvask.pcx", pixels.data(), 320, 240, own), 0);
    null_display_reset();
    clock_virtual_set(5000);
    closing_run(screen_, 72, "grafika/dornvask.pcx");
    expect_frames(87, 83);
    // The own colours until 5200 ms (frame 62 at 5146), the fade from frame 63 (5229) on.
    for (int i = 1; i < 63; ++i)
        EXPECT_EQ(null_display.frames[i].palette_crc, null_display.frames[0].palette_crc) << i;
    EXPECT_NE(null_display.frames[63].palette_crc, null_display.frames[62].palette_crc);
    // 24 fade steps: 200 and 255 are gone, 15 stays.
    EXPECT_EQ(null_display.palette.rgb[0], 0);
    EXPECT_EQ(null_display.palette.rgb[1], 15);
    EXPECT_EQ(null_display.palette.rgb[2], 0);
    EXPECT_EQ(std::memcmp(work_palette.rgb, own.rgb, 768), 0);
    EXPECT_EQ(null_display.frame, pixels);
}

// The step's stdout goes to stderr, where the death test looks for the message.
#define EXPECT_REFUSED(statement, message)                                                                             \
    EXPECT_EXIT(                                                                                                       \
        {                                                                                                              \
            dup2(2, 1);                                                                                                \
            statement;                                                                                                 \
        },                                                                                                             \
        testing::ExitedWithCode(1), message)

TEST_F(PartRun, UnusablePicturesEndTheProgram)
{
    ASSERT_TRUE(picture("grafika/aaa/d6.pcx", 320, 200, 1));
    EXPECT_REFUSED(words_load(), "Wrong image size!\n$");
    ASSERT_TRUE(picture("grafika/aaa/d6.pcx", 320, 240, 1));
    ASSERT_TRUE(picture("grafika/words.pcx", 317, 798, 1));
    EXPECT_REFUSED(words_load(), "Wrong image size!\n$");
    std::filesystem::remove("grafika/words.pcx");
    EXPECT_REFUSED(words_load(), "Cann't load image grafika/words.pcx !\n$");

    ASSERT_TRUE(picture("grafika/fire/skull.pcx", 321, 10, 1));
    EXPECT_REFUSED(fire_load(), "Wrong image size!\n$");
    ASSERT_TRUE(picture("grafika/fire/skull.pcx", 320, 240, 1));
    ASSERT_TRUE(picture("grafika/fire/fire.pcx", 220, 253, 1));
    EXPECT_REFUSED(fire_load(), "Wrong image size!\n$");
    std::filesystem::remove("grafika/fire/fire.pcx");
    EXPECT_REFUSED(fire_load(), "Cann't load image grafika/fire/fire.pcx !\n$");

    ASSERT_TRUE(picture("grafika/dornvask.pcx", 320, 200, 1));
    EXPECT_REFUSED(closing_run(screen_, 72, "grafika/dornvask.pcx"), "Wrong image size!\n$");
    EXPECT_REFUSED(closing_run(screen_, 72, "grafika/none.pcx"), "Cann't load image grafika/none.pcx !\n$");
}

} // namespace
