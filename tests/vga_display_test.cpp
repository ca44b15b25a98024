// The console back-end against the stand-in layer: the mode menu, the exits, the
// palette and what each mode's screen receives from the 320x240 screen image.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/viewer/viewer.h"
#include "display/vgalayer/vgalayer.h"
#include "tests/run_program.h"
#include "tests/vga_fake_layer.h"

namespace {

std::string temp_path(const char* name)
{
    return std::string(TARQLE_BUILD_DIR) + "/test-runs/vga-" + name + "-" + std::to_string(getpid());
}

// Makes the text the rest of standard input.
void feed_stdin(const std::string& text)
{
    std::string path = temp_path("stdin");
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
    ASSERT_NE(std::freopen(path.c_str(), "r", stdin), nullptr);
}

// Opens the back-end with the layer offering these modes and the answers on standard
// input; returns what it printed.
std::string open_with(const std::vector<int>& available, const std::string& answers)
{
    fake_layer = FakeLayer{};
    fake_layer.available = available;
    feed_stdin(answers);
    testing::internal::CaptureStdout();
    display_open(0, nullptr, "title", 320, 240);
    return testing::internal::GetCapturedStdout();
}

// Runs display_open in a child with standard output going to a file, for the paths
// that end the program; the file's text is left in *printed, and standard error must match on_stderr.
void open_and_exit(const FakeLayer& layer, const std::string& answers, std::string* printed, int status,
                   const char* on_stderr = "")
{
    // Named without the process number: the child that writes it is another process.
    std::string out = std::string(TARQLE_BUILD_DIR) + "/test-runs/vga-exit-stdout";
    std::remove(out.c_str());
    EXPECT_EXIT(
        {
            fake_layer = layer;
            feed_stdin(answers);
            std::freopen(out.c_str(), "w", stdout);
            display_open(0, nullptr, "title", 320, 240);
            std::exit(77);
        },
        testing::ExitedWithCode(status), on_stderr);
    *printed = read_file(out);
}

struct VgaDisplay : testing::Test {
    static void SetUpTestSuite()
    {
        std::filesystem::create_directories(std::string(TARQLE_BUILD_DIR) + "/test-runs");
        // The child forks at the statement, rather than running the test again.
        testing::FLAGS_gtest_death_test_style = "fast";
    }
};

TEST_F(VgaDisplay, MenuListsOnlyAvailableModesAndRefusesOtherNumbers)
{
    testing::internal::CaptureStderr();
    std::string out = open_with({G320x200x256, G640x480x256}, "0\n3\n2\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tarqle-vga: framebuffer /dev/fb0\n")
        << "one line on standard error says which screen is used";
    const std::string prompt = "Type the number of the vga mode:";
    EXPECT_EQ(out, "Choose a vga mode:\n"
                   " 1. 320x200 / 256 colors -> fast but wrong\n"
                   " 2. 640x480 / 256 colors -> the slowest\n" +
                       prompt + prompt + prompt + "Width: 640  Height: 480  Colors: 256\n");
    EXPECT_EQ(fake_layer.modes_set, std::vector<int>{G640x480x256});
    // The physical screen was cleared to black, and one virtual screen made.
    EXPECT_EQ(fake_layer.screen, std::vector<uint8_t>(640 * 480, 0));
    EXPECT_EQ(fake_layer.virtual_screens, 1);

    display_close();
    EXPECT_EQ(fake_layer.modes_set, (std::vector<int>{G640x480x256, TEXT}));
    EXPECT_EQ(fake_layer.virtual_screens, 0);
    display_close();
    EXPECT_EQ(fake_layer.virtual_screens, 0) << "a second close frees nothing twice";
}

TEST_F(VgaDisplay, AllSixModesInTableOrder)
{
    std::string out =
        open_with({G800x600x256, G640x480x256, G360x480x256, G320x400x256, G320x240x256, G320x200x256}, "1\n");
    EXPECT_NE(out.find(" 1. 320x200 / 256 colors -> fast but wrong\n"
                       " 2. 320x240 / 256 colors -> RECOMMENDED!!!!\n"
                       " 3. 320x400 / 256 colors -> slow\n"
                       " 4. 360x480 / 256 colors -> slower\n"
                       " 5. 640x480 / 256 colors -> the slowest\n"
                       " 6. 800x600 / 256 colors -> snail\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Width: 320  Height: 200  Colors: 256\n"), std::string::npos);
    display_close();
}

TEST_F(VgaDisplay, FailuresEndTheProgramWithTheirMessageAndStatus)
{
    std::string printed;
    FakeLayer no_device;
    no_device.init_result = -1;
    open_and_exit(no_device, "1\n", &printed, 1);
    EXPECT_EQ(printed, "ERROR: Can't init vga\n");

    FakeLayer no_modes;
    open_and_exit(no_modes, "1\n", &printed, 255);
    EXPECT_EQ(printed, "ERROR: Not valid vga mode avaible!");

    FakeLayer refused;
    refused.available = {G320x240x256};
    refused.setmode_result = -1;
    open_and_exit(refused, "1\n", &printed, 1);
    EXPECT_NE(printed.find("Type the number of the vga mode:ERROR: Can't init vga\n"), std::string::npos) << printed;

    // Not on a virtual console of its own: refused on standard error, before the menu or
    // after it, with what to do.
    const char* const refusal =
        "tarqle-vga: cannot take the console's screen: its terminal is not a virtual "
        "console\\.\ntarqle-vga: run it from a text console: switch to one with Ctrl\\+Alt\\+F2";
    FakeLayer no_console;
    no_console.init_result = -2;
    open_and_exit(no_console, "1\n", &printed, 255, refusal);
    EXPECT_EQ(printed, "");
    FakeLayer switch_refused = refused;
    switch_refused.setmode_result = -2;
    open_and_exit(switch_refused, "1\n", &printed, 255, refusal);
    EXPECT_EQ(printed.find("ERROR"), std::string::npos) << printed;

    // No answer at all: the prompt's fatal exit closes a display that never opened.
    FakeLayer unanswered;
    unanswered.available = {G320x240x256};
    open_and_exit(unanswered, "", &printed, 1);
    EXPECT_NE(printed.find("End of input"), std::string::npos) << printed;
}

TEST_F(VgaDisplay, PaletteIsNarrowedToSixBits)
{
    open_with({G320x240x256}, "1\n");
    Palette palette{};
    palette.rgb[0] = 255;
    palette.rgb[1] = 3;
    palette.rgb[2] = 4;
    palette.rgb[767] = 128;
    display_set_palette(palette);
    ASSERT_EQ(fake_layer.palette.size(), 768u);
    EXPECT_EQ(fake_layer.palette_start, 0);
    EXPECT_EQ(fake_layer.palette_count, 256);
    EXPECT_EQ(fake_layer.palette[0], 63);
    EXPECT_EQ(fake_layer.palette[1], 0);
    EXPECT_EQ(fake_layer.palette[2], 1);
    EXPECT_EQ(fake_layer.palette[767], 32);
    display_wait_retrace();
    EXPECT_EQ(fake_layer.retraces, 1);
    display_close();

    // In text mode the layer reports 16 colours and nothing is sent.
    fake_layer.palette.clear();
    display_set_palette(palette);
    EXPECT_TRUE(fake_layer.palette.empty());
}

// Esc typed on the console ends the show after the frame; the sequences of other keys,
// which start with the same byte, do not.
TEST_F(VgaDisplay, EscEndsTheShowAndOtherKeysDoNot)
{
    open_with({G320x240x256}, "1\n");
    Image* image = nullptr;
    ASSERT_EQ(image_alloc(&image, 320, 240), 0);
    fake_layer.keys = {'q', 27, '[', 'A', 27, 'x', '\n'};
    display_present(*image);
    EXPECT_FALSE(viewer_ended()) << "an arrow key, Alt+x and other keys";
    EXPECT_TRUE(fake_layer.keys.empty()) << "every key waiting is read";
    fake_layer.keys = {'a', 27};
    display_present(*image);
    EXPECT_TRUE(viewer_ended());
    image_free(&image);
    display_close();
}

// The screen image's coordinate that each screen column or row shows, read back from
// frames whose pixels hold the low and the high byte of their own coordinate.
std::vector<int> shown_coordinates(bool columns, int screen_w, int screen_h)
{
    Image* image = nullptr;
    EXPECT_EQ(image_alloc(&image, 320, 240), 0);
    std::vector<int> shown(columns ? screen_w : screen_h, 0);
    for (int shift : {0, 8}) {
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x)
                image->pixels[y * 320 + x] = (uint8_t)((columns ? x : y) >> shift);
        display_present(*image);
        for (int y = 0; y < screen_h; ++y)
            for (int x = 0; x < screen_w; ++x) {
                int at = columns ? x : y;
                int v = fake_layer.screen[(size_t)y * screen_w + x] << shift;
                // Every row must agree on a column's source (and every column on a row's).
                if ((columns ? y : x) == 0)
                    shown[at] |= v;
                else if ((shown[at] & (0xff << shift)) != v)
                    ADD_FAILURE() << (columns ? "column " : "row ") << at << " is not one picture line";
            }
    }
    image_free(&image);
    return shown;
}

TEST_F(VgaDisplay, EachModeShowsTheScreenImageScaledToItsSize)
{
    struct Case {
        int menu;
        int width, height;
        int step_x, step_y; // 1/1024 picture pixel per screen pixel
        int min_x, max_x;   // how often a picture column may show (0: may be dropped)
        int min_y, max_y;
    };
    const Case cases[] = {
        {1, 320, 200, 1024, 1228, 1, 1, 0, 1}, {2, 320, 240, 1024, 1024, 1, 1, 1, 1},
        {3, 320, 400, 1024, 614, 1, 1, 1, 2},  {4, 360, 480, 910, 512, 1, 2, 2, 2},
        {5, 640, 480, 512, 512, 2, 2, 2, 2},   {6, 800, 600, 409, 409, 2, 3, 2, 3},
    };
    const std::vector<int> all = {G320x200x256, G320x240x256, G320x400x256, G360x480x256, G640x480x256, G800x600x256};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        open_with(all, std::to_string(c.menu) + "\n");
        int copies = fake_layer.copies;
        std::vector<int> columns = shown_coordinates(true, c.width, c.height);
        std::vector<int> rows = shown_coordinates(false, c.width, c.height);
        EXPECT_EQ(fake_layer.copies, copies + 4) << "each present reaches the physical screen";
        for (int axis = 0; axis < 2; ++axis) {
            const std::vector<int>& shown = axis == 0 ? columns : rows;
            int step = axis == 0 ? c.step_x : c.step_y;
            int lo = axis == 0 ? c.min_x : c.min_y, hi = axis == 0 ? c.max_x : c.max_y;
            std::vector<int> times(axis == 0 ? 320 : 240, 0);
            for (size_t i = 0; i < shown.size(); ++i) {
                EXPECT_EQ(shown[i], (int)((i * step) >> 10)) << (axis ? "row " : "column ") << i;
                if (shown[i] >= 0 && shown[i] < (int)times.size())
                    ++times[shown[i]];
            }
            // The last line gets what remains of the screen, so it may show fewer times.
            for (size_t p = 0; p + 1 < times.size(); ++p)
                EXPECT_TRUE(times[p] >= lo && times[p] <= hi)
                    << (axis ? "row " : "column ") << p << " shown " << times[p] << " times";
        }
        EXPECT_LE(columns.size() - (std::find(columns.begin(), columns.end(), 319) - columns.begin()), (size_t)c.max_x);
        if (c.height == 200) {
            EXPECT_EQ(rows.front(), 0);
            EXPECT_LT(rows.back(), 239) << "picture row 239 is never shown";
        }
        display_close();
    }
}

TEST_F(VgaDisplay, In640x480EachPixelIsATwoByTwoBlock)
{
    open_with({G640x480x256}, "1\n");
    Image* image = nullptr;
    ASSERT_EQ(image_alloc(&image, 320, 240), 0);
    for (int i = 0; i < 320 * 240; ++i)
        image->pixels[i] = (uint8_t)(i * 2654435761u >> 24);
    display_present(*image);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            ASSERT_EQ(fake_layer.screen[y * 640 + x], image->pixels[(y / 2) * 320 + x / 2]) << x << "," << y;
    image_free(&image);
    display_close();
}

} // namespace
