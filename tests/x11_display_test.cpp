// The X11 back-end against private Xvfb servers: every frame read back pixel for pixel
// from a second connection, the window's geometry, the shared segment's lifetime, and
// tarqle-x's own refusals and fall-back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "core/shared.h"
#include "display/display.h"
#include "display/x11/display_x11.h"
#include "tests/run_program.h"
#include "tests/x11_server.h"

namespace {

const char* const kConnected = "INFO: Shared memory extension in use\n";
const char* const kNotConnected = "INFO: Shared memory extension not in use\n";

struct ChildRun {
    pid_t pid = -1;
    int status = -1; // exit status, or 128 + signal
    std::string out, err, report;
};

// Runs body in a child process with DISPLAY set, answer on standard input and standard
// output and error caught in files; what body returns comes back as report. A child that
// hangs on a stopped server is ended by its alarm.
ChildRun in_child(const std::string& display, const std::string& answer, const std::function<std::string()>& body)
{
    const std::string folder = make_run_folder("x11-child");
    std::FILE* in = std::fopen((folder + "/in").c_str(), "w");
    std::fputs(answer.c_str(), in);
    std::fclose(in);
    std::fflush(nullptr);
    ChildRun run;
    run.pid = fork();
    if (run.pid == 0) {
        alarm(30);
        setenv("DISPLAY", display.c_str(), 1);
        if (!std::freopen((folder + "/in").c_str(), "r", stdin) ||
            !std::freopen((folder + "/out").c_str(), "w", stdout) ||
            !std::freopen((folder + "/err").c_str(), "w", stderr))
            _exit(126);
        const std::string report = body();
        std::FILE* f = std::fopen((folder + "/report").c_str(), "w");
        std::fputs(report.c_str(), f);
        std::fclose(f);
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(run.pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = read_file(folder + "/out");
    run.err = read_file(folder + "/err");
    run.report = read_file(folder + "/report");
    return run;
}

// A test picture using every index, with the two colours whose 5/6/5 values are known
// at its top left.
Image* test_image()
{
    Image* image = nullptr;
    image_alloc(&image, kScreenWidth, kScreenHeight);
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x)
            image->pixels[y * kScreenWidth + x] = (uint8_t)(x + 3 * y + 7);
    image->pixels[0] = 1;
    image->pixels[1] = 2;
    return image;
}

Palette test_palette(int seed)
{
    Palette p;
    for (int i = 0; i < 256; ++i) {
        p.rgb[3 * i] = (uint8_t)(i + seed);
        p.rgb[3 * i + 1] = (uint8_t)(i * 3 + seed);
        p.rgb[3 * i + 2] = (uint8_t)(255 - i);
    }
    const uint8_t red[3] = {255, 0, 0}, grey[3] = {128, 128, 128};
    std::memcpy(&p.rgb[3], red, 3);
    std::memcpy(&p.rgb[6], grey, 3);
    return p;
}

// The TrueColor pixel of one colour, worked out from the masks on its own: each
// component's top bits where its mask sits.
unsigned long expected_pixel(const Visual* v, const uint8_t* rgb)
{
    unsigned long value = 0;
    const unsigned long masks[3] = {v->red_mask, v->green_mask, v->blue_mask};
    for (int c = 0; c < 3; ++c) {
        const int shift = std::countr_zero(masks[c]);
        const int width = std::popcount(masks[c]);
        const unsigned long part =
            width <= 8 ? (unsigned long)rgb[c] >> (8 - width) : (unsigned long)rgb[c] << (width - 8);
        value |= part << shift;
    }
    return value;
}

// Reads the window back through a second connection and lists every difference from
// image shown with palette: pixels, the PseudoColor colormap, size, position and hints.
std::string read_back(const std::string& display_name, const Image& image, const Palette& palette)
{
    XSync(x11.display, False);
    Display* other = XOpenDisplay(display_name.c_str());
    if (other == nullptr)
        return "second connection failed\n";
    std::string problems;
    char line[200];
    XWindowAttributes wa;
    XGetWindowAttributes(other, x11.window, &wa);
    const int size = x11.pixel_size;
    if (wa.width != kScreenWidth * size || wa.height != kScreenHeight * size) {
        std::snprintf(line, sizeof line, "window %dx%d\n", wa.width, wa.height);
        problems += line;
    }
    const int screen_w = DisplayWidth(other, DefaultScreen(other)),
              screen_h = DisplayHeight(other, DefaultScreen(other));
    if (wa.x != std::max(0, (screen_w - wa.width) / 2) || wa.y != std::max(0, (screen_h - wa.height) / 2)) {
        std::snprintf(line, sizeof line, "window at %d,%d on %dx%d\n", wa.x, wa.y, screen_w, screen_h);
        problems += line;
    }
    XSizeHints hints;
    long supplied = 0;
    if (!XGetWMNormalHints(other, x11.window, &hints, &supplied) ||
        (hints.flags & (PMinSize | PMaxSize)) != (PMinSize | PMaxSize) || hints.min_width != wa.width ||
        hints.max_width != wa.width || hints.min_height != wa.height || hints.max_height != wa.height)
        problems += "size hints allow resizing\n";
    if (wa.x + wa.width > screen_w || wa.y + wa.height > screen_h) {
        XCloseDisplay(other);
        return problems; // not wholly on the screen: nothing to read back
    }

    std::vector<unsigned long> expected(256);
    if (wa.visual->c_class == PseudoColor) {
        XColor cells[256];
        for (int i = 0; i < 256; ++i)
            cells[i].pixel = (unsigned long)i;
        XQueryColors(other, wa.colormap, cells, 256);
        int wrong = 0;
        for (int i = 0; i < 256; ++i) {
            wrong += (cells[i].red >> 8) != palette.rgb[3 * i] || (cells[i].green >> 8) != palette.rgb[3 * i + 1] ||
                     (cells[i].blue >> 8) != palette.rgb[3 * i + 2];
            expected[(size_t)i] = (unsigned long)i;
        }
        if (wrong != 0) {
            std::snprintf(line, sizeof line, "%d colormap cells wrong\n", wrong);
            problems += line;
        }
    } else {
        for (int i = 0; i < 256; ++i)
            expected[(size_t)i] = expected_pixel(wa.visual, &palette.rgb[3 * i]);
    }

    XImage* got = XGetImage(other, x11.window, 0, 0, (unsigned)wa.width, (unsigned)wa.height, AllPlanes, ZPixmap);
    if (got == nullptr) {
        XCloseDisplay(other);
        return problems + "XGetImage failed\n";
    }
    if (wa.depth == 16 && (XGetPixel(got, 0, 0) != 0xF800 || XGetPixel(got, size, 0) != 0x8410)) {
        std::snprintf(line, sizeof line, "5/6/5 red %#lx grey %#lx\n", XGetPixel(got, 0, 0), XGetPixel(got, size, 0));
        problems += line;
    }
    if (wa.depth == 24 && XGetPixel(got, 0, 0) != 0xFF0000)
        problems += "24-bit red is not 0xFF0000\n";
    long wrong = 0;
    for (int y = 0; y < wa.height; ++y)
        for (int x = 0; x < wa.width; ++x) {
            const uint8_t index = image.pixels[(y / size) * image.width + x / size];
            const unsigned long pixel = XGetPixel(got, x, y);
            if (pixel != expected[index] && wrong++ == 0) {
                std::snprintf(line, sizeof line, "pixel %d,%d index %u is %#lx, not %#lx\n", x, y, index, pixel,
                              expected[index]);
                problems += line;
            }
        }
    if (wrong != 0)
        problems += std::to_string(wrong) + " pixels wrong\n";
    XDestroyImage(got);
    XCloseDisplay(other);
    return problems;
}

// display_open as the entry point calls it; the answer comes from standard input.
void open_display()
{
    char name[] = "x11_display_test";
    char* argv[] = {name, nullptr};
    display_open(1, argv, "x11 test", kScreenWidth, kScreenHeight);
}

// Opens the display with answer, shows the test picture and reads it back.
std::string show_and_read_back(const std::string& display_name)
{
    open_display();
    std::string report;
    if (x11.visual_info.c_class == PseudoColor) {
        // The private colormap starts from the server's colours, kept in the work palette.
        XColor cells[256];
        for (int i = 0; i < 256; ++i)
            cells[i].pixel = (unsigned long)i;
        XQueryColors(x11.display, DefaultColormap(x11.display, x11.screen), cells, 256);
        for (int i = 0; i < 256; ++i)
            if (work_palette.rgb[3 * i] != cells[i].red >> 8 || work_palette.rgb[3 * i + 1] != cells[i].green >> 8 ||
                work_palette.rgb[3 * i + 2] != cells[i].blue >> 8) {
                report += "work palette entry " + std::to_string(i) + " is not the default colour\n";
                break;
            }
    }
    Image* image = test_image();
    const Palette palette = test_palette(0);
    display_set_palette(palette);
    display_present(*image);
    report = "shm=" + std::to_string(x11.use_shared_memory) + "\n" + report + read_back(display_name, *image, palette);
    display_close();
    image_free(&image);
    return report;
}

struct ServerCase {
    const char* what;
    std::vector<std::string> args;
};

TEST(X11Display, EveryVisualAndModeShowsTheExactPicture)
{
    const ServerCase cases[] = {
        {"depth 24", {"-screen", "0", "1024x768x24"}},
        {"depth 16", {"-screen", "0", "1024x768x16"}},
        {"depth 8 PseudoColor", {"-screen", "0", "1024x768x8"}},
        {"depth 8 TrueColor", {"-cc", "4", "-screen", "0", "1024x768x8"}},
    };
    for (const ServerCase& c : cases) {
        XServer server = xserver_start(c.args);
        ASSERT_GE(server.number, 0) << c.what;
        const std::string name = xserver_name(server);
        for (int answer = 1; answer <= 4; ++answer) {
            SCOPED_TRACE(std::string(c.what) + ", answer " + std::to_string(answer));
            ChildRun run = in_child(name, std::to_string(answer) + "\n", [&] { return show_and_read_back(name); });
            EXPECT_EQ(run.status, 0) << run.err;
            const bool shared = answer <= 2;
            EXPECT_EQ(run.report, shared ? "shm=1\n" : "shm=0\n");
            EXPECT_EQ(run.out.find(shared ? kConnected : kNotConnected) != std::string::npos, shared) << run.out;
            EXPECT_EQ(run.out.find(kNotConnected), std::string::npos) << run.out;
            EXPECT_EQ(run.err, "");
        }
        xserver_stop(&server);
    }
}

TEST(X11Display, TrueColorPaletteWaitsForTheNextFrame)
{
    XServer server = xserver_start({"-screen", "0", "1024x768x24"});
    ASSERT_GE(server.number, 0);
    const std::string name = xserver_name(server);
    ChildRun run = in_child(name, "3\n", [&] {
        open_display();
        Image* image = test_image();
        const Palette first = test_palette(0), second = test_palette(99);
        display_set_palette(first);
        display_present(*image);
        display_set_palette(second);
        std::string report = "before: " + read_back(name, *image, first);
        display_present(*image);
        report += "after: " + read_back(name, *image, second);
        display_close();
        image_free(&image);
        return report;
    });
    EXPECT_EQ(run.report, "before: after: ");
    xserver_stop(&server);
}

TEST(X11Display, SmallScreenPutsTheWindowAtTheCorner)
{
    XServer server = xserver_start({"-screen", "0", "400x300x24"});
    ASSERT_GE(server.number, 0);
    const std::string name = xserver_name(server);
    ChildRun run = in_child(name, "4\n", [&] {
        open_display();
        XSync(x11.display, False);
        Window child;
        int x = -1, y = -1;
        XTranslateCoordinates(x11.display, x11.window, RootWindow(x11.display, x11.screen), 0, 0, &x, &y, &child);
        display_close();
        return std::to_string(x) + "," + std::to_string(y);
    });
    EXPECT_EQ(run.report, "0,0");
    xserver_stop(&server);
}

// The segment is marked for removal right after the attach, so it goes once the program
// and the server let go of it: after a normal close, the fatal-exit sequence, and a kill.
TEST(X11Display, NoSegmentOutlivesTheProgram)
{
    XServer server = xserver_start({"-screen", "0", "1024x768x24"});
    ASSERT_GE(server.number, 0);
    const std::string name = xserver_name(server);
    auto open_and_show = [] {
        open_display();
        Image* image = test_image();
        display_present(*image);
        XSync(x11.display, False);
        long mode = 0;
        const int segments = segments_created_by(getpid(), &mode);
        std::printf("segments=%d mode=%ld\n", segments, mode);
        std::fflush(stdout);
        image_free(&image);
    };
    const std::vector<std::pair<const char*, std::function<std::string()>>> endings = {
        {"display_close",
         [&] {
             open_and_show();
             display_close();
             return std::string("closed");
         }},
        {"fatal-exit sequence",
         [&]() -> std::string {
             open_and_show();
             fatal_exit(true, 0);
         }},
        {"SIGKILL",
         [&]() -> std::string {
             open_and_show();
             raise(SIGKILL);
             return "not killed";
         }},
    };
    for (const auto& [what, body] : endings) {
        SCOPED_TRACE(what);
        ChildRun run = in_child(name, "1\n", body);
        EXPECT_NE(run.out.find(kConnected), std::string::npos) << run.out;
        // Seen while the program runs, so the check below would catch a segment left over.
        // Readable and writable by this user only (600), and already marked for removal
        // while in use (the 1000 bit).
        EXPECT_NE(run.out.find("segments=1 mode=1600\n"), std::string::npos) << run.out;
        int left = segments_created_by(run.pid);
        for (int i = 0; i < 30 && left != 0; ++i) {
            usleep(100000);
            left = segments_created_by(run.pid);
        }
        EXPECT_EQ(left, 0);
    }
    xserver_stop(&server);
}

TEST(X11Display, OverTcpFallsBackToPlainTransfer)
{
    XServer server = xserver_start({"-ac", "-listen", "tcp", "-screen", "0", "1024x768x24"});
    ASSERT_GE(server.number, 0);
    const std::string name = xserver_name(server, true);
    ChildRun run = in_child(name, "2\n", [&] { return show_and_read_back(name); });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.report, "shm=0\n");
    EXPECT_NE(run.out.find(kNotConnected), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(kConnected), std::string::npos) << run.out;

    // The whole program the same way, and no segment of it left behind.
    const std::string folder = make_run_folder("x11-tcp");
    RunResult r = run_program({"/bin/sh", "-c", "echo $$; exec \"$0\"", program_path("tarqle-x")}, "0\n1\n", folder,
                              240, {"DISPLAY=" + name});
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(kNotConnected), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    usleep(300000);
    EXPECT_EQ(segments_created_by((pid_t)std::stol(r.out)), 0);
    xserver_stop(&server);
}

TEST(X11Program, MenuInfoLineAndCleanEnd)
{
    XServer server = xserver_start({"-screen", "0", "1024x768x24"});
    ASSERT_GE(server.number, 0);
    const std::string folder = make_run_folder("x11-run");
    RunResult r = run_program({"/bin/sh", "-c", "echo $$; exec \"$0\"", program_path("tarqle-x")}, "0\n1\n", folder,
                              240, {"DISPLAY=" + xserver_name(server)});
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string menu = "Choose display mode:\n1. Pixel size 1, Shared Memory Extension ON\n"
                             "2. Pixel size 2, Shared Memory Extension ON\n"
                             "3. Pixel size 1, Shared Memory Extension OFF\n"
                             "4. Pixel size 2, Shared Memory Extension OFF\nType corresponding number : ";
    EXPECT_NE(r.out.find(menu + kConnected), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--- The First Veltrian Linux Demogroup ---\n\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    usleep(300000);
    EXPECT_EQ(segments_created_by((pid_t)std::stol(r.out)), 0);
    xserver_stop(&server);
}

TEST(X11Program, RefusalsEndWithStatus255)
{
    const std::string path = program_path("tarqle-x");
    const std::string folder = make_run_folder("x11-refusals");
    XServer dead = xserver_start({"-screen", "0", "640x480x24"});
    ASSERT_GE(dead.number, 0);
    xserver_stop(&dead);
    for (const std::string& display : {std::string(""), xserver_name(dead)}) {
        SCOPED_TRACE("DISPLAY=" + display);
        RunResult r = run_program({path}, "0\n1\n", folder, 30, {"DISPLAY=" + display});
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, path + ": cannot connect to X server!\n");
    }

    XServer static_color = xserver_start({"-cc", "2", "-screen", "0", "640x480x8"});
    ASSERT_GE(static_color.number, 0);
    for (const char* answer : {"0\n1\n", "0\n4\n"}) {
        RunResult r = run_program({path}, answer, folder, 30, {"DISPLAY=" + xserver_name(static_color)});
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "This version of the Demo needs TruColor or 8 Bit PseudoColor Display!\n");
        EXPECT_EQ(r.out.find("INFO"), std::string::npos);
    }
    xserver_stop(&static_color);
}

} // namespace
