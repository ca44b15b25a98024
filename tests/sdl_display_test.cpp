// The SDL back-end: its window read back pixel for pixel from a second connection to a private Xvfb, at scales 1 and 3,
// resized, toggled to fullscreen and back, and ended by the viewer's key.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "display/sdl/display_sdl.h"
#include "display/viewer/viewer.h"
#include "show/timeline.h"
#include "show/viewing.h"
#include "display/convert/pixel_convert.h"
#include "tests/owned_image.h"
#include "tests/x11_server.h"
#include "tests/x11_window.h"

namespace {

const char* const kTitle = "tarqle under test";

void random_frame(Image* image, Palette* palette, unsigned seed)
{
    std::mt19937 random(seed);
    for (int32_t i = 0; i < image->width * image->height; ++i)
        image->pixels[i] = (uint8_t)random();
    for (uint8_t& c : palette->rgb)
        c = (uint8_t)random();
}

// The picture an output of width x height should show: each pixel the palette colour of
// the picture pixel under it at placement p, black outside the picture.
std::vector<uint32_t> expected_output(const Image& image, const Palette& palette, int width, int height, Placement p)
{
    std::vector<uint32_t> out((size_t)width * (size_t)height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int ix = x - p.x, iy = y - p.y;
            if (ix < 0 || iy < 0 || ix >= p.width || iy >= p.height)
                continue;
            const uint8_t v = image.pixels[(iy / p.scale) * image.width + ix / p.scale];
            out[(size_t)y * (size_t)width + (size_t)x] =
                (uint32_t)palette.rgb[3 * v] << 16 | (uint32_t)palette.rgb[3 * v + 1] << 8 | palette.rgb[3 * v + 2];
        }
    return out;
}

// Presents until the window shows what the frame should look like at its current size
// (the server and SDL settle a new size or mode over a few frames); the mismatching pixel
// count of the last look.
long shown_until_settled(Display* x, const Image& image, const Palette& palette, int* width, int* height)
{
    long wrong = -1;
    for (int tries = 0; tries < 100 && wrong != 0; ++tries) {
        display_present(image);
        XSync(x, False);
        usleep(20000);
        const Window window = x11_find_window(x, kTitle, 1000);
        if (window == 0)
            continue;
        const std::vector<uint32_t> got = x11_window_pixels(x, window, width, height);
        const std::vector<uint32_t> want = expected_output(
            image, palette, *width, *height, whole_placement(*width, *height, kScreenWidth, kScreenHeight));
        wrong = 0;
        for (size_t i = 0; i < want.size(); ++i)
            wrong += i >= got.size() || got[i] != want[i];
    }
    return wrong;
}

void push_key(SDL_Keycode key)
{
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
}

TEST(SdlWindow, ShowsTheConvertedFrameAtEachScaleResizedAndFullscreen)
{
    XServer server = xserver_start({"-screen", "0", "1280x1024x24"});
    ASSERT_GE(server.number, 0) << "Xvfb did not start";
    setenv("DISPLAY", xserver_name(server).c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    Display* x = XOpenDisplay(xserver_name(server).c_str());
    ASSERT_NE(x, nullptr);

    Owned frame(kScreenWidth, kScreenHeight);
    Image* image = frame.image;
    Palette palette;
    int width = 0, height = 0;
    for (int32_t scale : {1, 3}) {
        random_frame(image, &palette, (unsigned)scale);
        display_sdl_configure({false, scale, false, false});
        display_open(0, nullptr, kTitle, kScreenWidth, kScreenHeight);
        display_set_palette(palette);
        EXPECT_EQ(shown_until_settled(x, *image, palette, &width, &height), 0) << "scale " << scale;
        EXPECT_EQ(width, kScreenWidth * scale);
        EXPECT_EQ(height, kScreenHeight * scale);
        if (scale == 1)
            display_close();
    }

    // Resized as a window manager would: scale 2, centred, black around.
    XResizeWindow(x, x11_find_window(x, kTitle, 1000), 1000, 700);
    XSync(x, False);
    EXPECT_EQ(shown_until_settled(x, *image, palette, &width, &height), 0);
    EXPECT_EQ(width, 1000);
    EXPECT_EQ(height, 700);

    // With no window manager fullscreen may not be granted at all: whatever size the
    // window then really has, the picture is laid out for it.
    push_key(SDLK_F11);
    EXPECT_EQ(shown_until_settled(x, *image, palette, &width, &height), 0) << "fullscreen, no window manager";
    push_key(SDLK_F11);
    EXPECT_EQ(shown_until_settled(x, *image, palette, &width, &height), 0) << "back, no window manager";
    XResizeWindow(x, x11_find_window(x, kTitle, 1000), 1000, 700);
    XSync(x, False);
    EXPECT_EQ(shown_until_settled(x, *image, palette, &width, &height), 0);

    // Fullscreen is the window manager's to grant: into it and back, with the picture
    // fitted to the screen, then to the window as it was.
    const pid_t manager = x11_start_window_manager(x, xserver_name(server).c_str());
    EXPECT_GT(manager, 0) << "no window manager";
    for (const auto& [want_width, want_height] : {std::pair{1280, 1024}, std::pair{1000, 700}}) {
        push_key(SDLK_F11);
        for (int tries = 0; tries < 100 && (width != want_width || height != want_height); ++tries)
            EXPECT_EQ(shown_until_settled(x, *image, palette, &width, &height), 0);
        EXPECT_EQ(width, want_width);
        EXPECT_EQ(height, want_height);
    }
    x11_stop_window_manager(manager);

    EXPECT_FALSE(viewer_ended());
    push_key(SDLK_ESCAPE);
    display_present(*image);
    EXPECT_TRUE(viewer_ended());
    EXPECT_EQ(clock_elapsed(), kShowEndedElapsed);

    display_close();
    display_close(); // twice, as the fatal-exit sequence may
    XCloseDisplay(x);
    xserver_stop(&server);
}

// The seeking controls the viewing back-ends share stay within the show and its parts, and
// two seeks between frames add up.
TEST(Viewer, SeeksStayWithinTheShowAndItsParts)
{
    show_plan_seeks();
    viewing_begin(nullptr, 0);
    const auto goes_to = [](ViewerControl control, int32_t from) {
        // The first seek waits for the round's start; the second goes on from its goal.
        viewer_seek(from);
        int32_t goal = -1;
        return viewer_control(control) && viewing_seek_waiting(&goal) ? goal : -1;
    };
    EXPECT_EQ(goes_to(kViewerBack, 3000), 0);
    EXPECT_EQ(goes_to(kViewerOn, kShowLength - 2000), kShowLength - 1);
    EXPECT_EQ(goes_to(kViewerPreviousPart, 35000), show_parts[1].start_ms);
    EXPECT_EQ(goes_to(kViewerPreviousPart, 5000), 0);
    EXPECT_EQ(goes_to(kViewerNextPart, 5000), show_parts[1].start_ms);
    EXPECT_EQ(goes_to(kViewerNextPart, kShowLength - 1), show_parts[kShowParts - 1].start_ms);
    EXPECT_EQ(goes_to(kViewerHome, 25000), 0);
    EXPECT_EQ(goes_to((ViewerControl)(kViewerPart + 2), 0), show_parts[2].start_ms);
    EXPECT_EQ(goes_to((ViewerControl)(kViewerPart + 9), 0), -1) << "there is no tenth part";
    EXPECT_FALSE(viewer_control(kViewerStep)) << "a step is for a paused show";
}

} // namespace
