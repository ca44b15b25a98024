// tarqle-sdl as a desktop user meets it, under a private Xvfb through SDL's X11 driver: its
// options, the show playing its tune and ended by Esc with the player gone, and a silent
// show closed as a window manager closes a window; the viewer's keys against the frames
// tarqle-render draws; and the same picture and keys on Wayland, natively and through
// Xwayland.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e_support.h"
#include "tests/run_program.h"
#include "tests/x11_server.h"
#include "tests/x11_window.h"

// After the test framework, whose own None it would hide.
#include <X11/Xutil.h>

namespace {

const char* const kTitle = "tarqle for LINUX by brusk";
const std::string kBanner = "--------------- TAZE\xA0QUORM ----------------\n"
                            "- Dornvask - '98 - Frostmoot - Veltria -\n"
                            "--- The First Veltrian Linux Demogroup ---\n\n";

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(SdlProgram, HelpUnknownOptionsAndNoDisplay)
{
    const std::string folder = make_run_folder("sdl-options");
    const RunResult help = run_program({program_path("tarqle-sdl"), "--help"}, "", folder, 10);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: tarqle-sdl ", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    // Each refusal names what was wrong, wherever it stands, then gives the usage.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
        {{"--no-music", "--bogus", "--help"}, "--bogus: unknown option"},
        {{"--scale=2"}, "--scale=2: unknown option"},
        {{"--smooth", "--scale"}, "--scale: needs a number, 1 to 8"},
        {{"--scale", "0", "--help"}, "--scale 0: the scale is a whole number from 1 to 8"},
        {{"--scale", "9"}, "--scale 9: the scale is a whole number from 1 to 8"},
        {{"--loop", "--start", "nowhere"},
         "--start nowhere: expected seconds of show time before its end, or a part's name"},
        {{"--start", "142"}, "--start 142: expected seconds of show time before its end, or a part's name"},
        {{"--seed", "-1"}, "--seed -1: expected a whole number from 0 to 4294967295"},
        {{"--seed", "4294967296"}, "--seed 4294967296: expected a whole number from 0 to 4294967295"},
        {{"--start", "fire", "--seed"}, "--seed: needs a whole number from 0 to 4294967295"},
    };
    for (const auto& [args, named] : refusals) {
        std::vector<std::string> argv = {program_path("tarqle-sdl")};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult refused = run_program(argv, "", folder, 10);
        EXPECT_EQ(refused.status, 2) << named;
        EXPECT_EQ(refused.out, "") << named;
        EXPECT_EQ(refused.err, "tarqle-sdl: " + named + "\n" + help.out);
    }
    // No display at all: refused at once, not an invisible show.
    const RunResult blind = run_program({program_path("tarqle-sdl"), "--no-music"}, "", folder, 20,
                                        {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER="});
    EXPECT_EQ(blind.status, 255);
    EXPECT_NE(blind.err.find("tarqle-sdl: no display to show the picture on"), std::string::npos) << blind.err;
}

// Starts tarqle-sdl with args on a server of its own and waits for its window. No sound
// server answers and SDL's audio goes to a file in the run folder, so the first sound
// device that starts is SDL's, on any machine.
struct SdlRun {
    XServer server;
    Display* x = nullptr;
    Show show;
    Window window = 0;
};

SdlRun start_sdl(const std::string& name, const std::vector<std::string>& args)
{
    SdlRun run;
    run.server = xserver_start({"-screen", "0", "1280x1024x24"});
    if (run.server.number < 0)
        return run;
    run.x = XOpenDisplay(xserver_name(run.server).c_str());
    const std::string folder = make_run_folder(name);
    std::vector<std::string> argv = {program_path("tarqle-sdl")};
    argv.insert(argv.end(), args.begin(), args.end());
    run.show =
        show_start(argv, "", folder,
                   {"DISPLAY=" + xserver_name(run.server), "SDL_VIDEODRIVER=x11", "PULSE_SERVER=unix:/nonexistent",
                    "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + folder + "/sdl-audio.raw"});
    if (run.x != nullptr)
        run.window = x11_find_window(run.x, kTitle, 20000);
    return run;
}

void stop_server(SdlRun* run)
{
    if (run->x != nullptr)
        XCloseDisplay(run->x);
    xserver_stop(&run->server);
}

TEST(SdlProgram, EscEndsTheShowWithTheBannerAndNoPlayerLeft)
{
    SdlRun run = start_sdl("sdl-esc", {"--scale", "1"});
    ASSERT_NE(run.window, 0u) << "no window";
    // The player exists once the load phase is over.
    bool playing = false;
    for (int tries = 0; tries < 200 && !playing; ++tries) {
        playing = group_members(run.show) == 2;
        usleep(50000);
    }
    EXPECT_TRUE(playing) << "no player process";
    // The player's own sound reaches the output (not only the silence of an idle mixer).
    bool sounding = false;
    for (int tries = 0; tries < 200 && !sounding; ++tries) {
        const std::string sound = read_file(run.show.folder + "/sdl-audio.raw");
        sounding = sound.find_first_not_of('\0') != std::string::npos;
        usleep(50000);
    }
    EXPECT_TRUE(sounding) << "only silence reached the sound output";
    x11_send_key(run.x, run.window, XK_Escape);
    const ShowEnd end = show_finish(run.show, 20);
    stop_server(&run);
    EXPECT_EQ(end.status, 0);
    EXPECT_FALSE(end.timed_out);
    EXPECT_FALSE(end.left_behind);
    EXPECT_TRUE(ends_with(end.out, kBanner)) << end.out;
    EXPECT_TRUE(std::regex_search(end.out, std::regex("\nUsing .* for 16 bit normal stereo sound at 44100 Hz\n")))
        << end.out;
}

TEST(SdlProgram, NoMusicGentleIsSilentAndClosingTheWindowEndsIt)
{
    SdlRun run = start_sdl("sdl-silent", {"--no-music", "--gentle"});
    ASSERT_NE(run.window, 0u) << "no window";
    int most_members = 0;
    for (int tries = 0; tries < 20; ++tries) {
        most_members = std::max(most_members, group_members(run.show));
        usleep(50000);
    }
    x11_close_window(run.x, run.window);
    const ShowEnd end = show_finish(run.show, 20);
    stop_server(&run);
    EXPECT_EQ(most_members, 1) << "a player ran";
    EXPECT_EQ(end.status, 0);
    EXPECT_FALSE(end.left_behind);
    EXPECT_TRUE(std::regex_match(end.out, std::regex("This show contains flashing images\\.\n"
                                                     "\\*\\*\\* tarqle for LINUX by brusk \\*\\*\\* \n"
                                                     "(screens: [0-9]+:\n)?" +
                                                     std::regex_replace(kBanner, std::regex("[*]"), "\\*"))))
        << end.out;
}

// Frame number frame of tarqle-render's run in folder as 0xRRGGBB values; empty if unread.
std::vector<uint32_t> rendered_frame(const std::string& folder, long frame)
{
    char name[32];
    std::snprintf(name, sizeof name, "/frames/%06ld.png", frame);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint8_t> rgb;
    if (png_image_begin_read_from_file(&image, (folder + name).c_str())) {
        image.format = PNG_FORMAT_RGB;
        rgb.resize(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
            rgb.clear();
    }
    std::vector<uint32_t> pixels;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        pixels.push_back((uint32_t)rgb[i] << 16 | (uint32_t)rgb[i + 1] << 8 | rgb[i + 2]);
    return pixels;
}

// A picture as read gets once it stays the same for longer than the overlay shows (a
// seek's replay done, the overlay gone), within timeout_ms; empty if it never settles.
// read gives an empty picture while it is not the size looked for.
std::vector<uint32_t> settled(const std::function<std::vector<uint32_t>()>& read, int timeout_ms)
{
    constexpr int kLongerThanTheOverlayMs = 2500;
    std::vector<uint32_t> last;
    for (int waited = 0; waited < timeout_ms; waited += kLongerThanTheOverlayMs) {
        std::vector<uint32_t> now = read();
        if (!now.empty() && now == last)
            return now;
        last = std::move(now);
        usleep(kLongerThanTheOverlayMs * 1000);
    }
    return {};
}

// The picture of window in display when it is width x height; empty otherwise.
std::vector<uint32_t> window_of_size(Display* x, Window window, int width, int height)
{
    int w = 0, h = 0;
    std::vector<uint32_t> pixels = window != 0 ? x11_window_pixels(x, window, &w, &h) : std::vector<uint32_t>{};
    return w == width && h == height ? pixels : std::vector<uint32_t>{};
}

std::vector<uint32_t> settled_picture(const SdlRun& run, int timeout_ms)
{
    return settled([&] { return window_of_size(run.x, run.window, 320, 240); }, timeout_ms);
}

// The frame tarqle-render --seed 7 presents first when started at part: the frame the
// whole run presents at or before the part's start, as a picture.
std::vector<uint32_t> frame_at_part_start(const std::string& folder, const std::string& part)
{
    const std::vector<std::string> render = {program_path("tarqle-render"), "--seed", "7", "--start", part};
    if (run_program(render, "0\n", folder, 120).status != 0)
        return {};
    // The load phase's seven blank screens, then the frames from the start on; the last
    // of those at the start's time (at the show's very start, the blank screen comes
    // first).
    const std::vector<std::string> lines = index_lines(folder);
    const auto time_of = [&](size_t i) { return lines[i].substr(lines[i].find('\t') + 1); };
    size_t at = 7;
    while (at + 1 < lines.size() && std::stol(time_of(at + 1)) == std::stol(time_of(7)))
        ++at;
    if (at >= lines.size())
        return {};
    const long frame = std::stol(lines[at]);
    std::vector<std::string> with_png = render;
    with_png.insert(with_png.end(), {"--png", std::to_string(frame)});
    if (run_program(with_png, "0\n", folder, 120).status != 0)
        return {};
    return rendered_frame(folder, frame);
}

// Paused, the keys 1 to 9 go to the parts' starts: each time the window shows the frame
// tarqle-render with the same seed presents there, and holds it; "." moves on one frame
// and holds again.
TEST(SdlProgram, KeysSeekToEachPartsFirstFrameAndPauseHoldsIt)
{
    const char* const parts[] = {"presents", "intro", "blobs", "flicker", "mosaic",
                                 "slides",   "words", "fire",  "closing"};
    const std::string folder = make_run_folder("sdl-seek-render");
    std::vector<std::vector<uint32_t>> expected;
    for (const char* part : parts) {
        expected.push_back(frame_at_part_start(folder, part));
        ASSERT_EQ(expected.back().size(), 320u * 240u) << part;
    }

    SdlRun run = start_sdl("sdl-seek", {"--scale", "1", "--no-music", "--seed", "7"});
    if (run.server.number < 0)
        GTEST_SKIP() << "no Xvfb to run the show on";
    ASSERT_NE(run.window, 0u) << "no window";
    x11_send_key(run.x, run.window, XK_space);
    std::vector<uint32_t> held;
    for (int k = 8; k >= 0; --k) {
        x11_send_key(run.x, run.window, XK_1 + k);
        held = settled_picture(run, 30000);
        EXPECT_TRUE(held == expected[k]) << "not the first frame of " << parts[k];
    }
    sleep(1);
    int w = 0, h = 0;
    EXPECT_TRUE(x11_window_pixels(run.x, run.window, &w, &h) == held) << "the pause did not hold";
    x11_send_key(run.x, run.window, XK_period);
    const std::vector<uint32_t> stepped = settled_picture(run, 30000);
    EXPECT_FALSE(stepped.empty()) << "the step did not hold";
    EXPECT_FALSE(stepped == held) << "the step showed no new frame";
    x11_send_key(run.x, run.window, XK_Escape);
    const ShowEnd end = show_finish(run.show, 20);
    stop_server(&run);
    EXPECT_EQ(end.status, 0);
    EXPECT_TRUE(ends_with(end.out, kBanner)) << end.out;
}

// Wayland: Weston (with Xwayland for X11 programs) as a window of its own in a private
// Xvfb, whose picture is Weston's output and whose keys reach the surface Weston gives the
// keyboard to. Weston's headless back-end would do for the picture, but it offers no seat,
// and Debian 12's SDL crashes opening a window on a compositor without one. Ended, with all
// it started, when the test leaves it, also on a failed assertion.
struct Weston;
bool weston_stop(Weston* w);

struct Weston {
    XServer outer;
    Display* x = nullptr; // the Xvfb
    Show show;
    std::string runtime;  // XDG_RUNTIME_DIR, which holds its socket
    Window output = 0;    // its output, a window in the Xvfb
    std::string xwayland; // Xwayland's display, ":N"
    Weston() = default;
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;
    ~Weston()
    {
        weston_stop(this);
    }
};

constexpr int kOutputWidth = 1400, kOutputHeight = 1000;
constexpr uint32_t kBackground = 0x003366; // the desktop's colour behind the windows

// Starts Weston and waits until its output shows the desktop (black before) and Xwayland
// listens; *skip says why it cannot.
void weston_start(Weston& w, std::string* skip)
{
    if (access("/usr/bin/weston", X_OK) != 0 || access("/usr/bin/Xwayland", X_OK) != 0) {
        *skip = "Weston or Xwayland is not installed (scripts/setup-deps.sh installs them)";
        return;
    }
    w.outer = xserver_start({"-screen", "0", "1600x1200x24"});
    if (w.outer.number < 0 || (w.x = XOpenDisplay(xserver_name(w.outer).c_str())) == nullptr) {
        *skip = "no Xvfb to run Weston in";
        return;
    }
    const std::string folder = make_run_folder("sdl-weston");
    // A short path: a socket's name has room for about a hundred bytes.
    char runtime[] = "/tmp/tarqle-weston-XXXXXX";
    w.runtime = mkdtemp(runtime) != nullptr ? runtime : "";
    std::ofstream(folder + "/weston.ini") << "[shell]\nbackground-color=0xff003366\npanel-position=none\n";
    w.show = show_start({"/usr/bin/weston", "--backend=x11-backend.so", "--use-pixman", "--idle-time=0",
                         "--width=" + std::to_string(kOutputWidth), "--height=" + std::to_string(kOutputHeight),
                         "--socket=wayland-tarqle", "--xwayland", "--config=" + folder + "/weston.ini",
                         "--log=" + folder + "/weston.log", "--logger-scopes=log,proto"},
                        "", folder, {"DISPLAY=" + xserver_name(w.outer), "XDG_RUNTIME_DIR=" + w.runtime});
    const std::regex listening("xserver listening on display (:[0-9]+)");
    Window output = 0;
    for (int tries = 0; tries < 200 && (w.output == 0 || w.xwayland.empty()); ++tries, usleep(100000)) {
        // The output: the Xvfb's one window of its size.
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (output == 0 && XQueryTree(w.x, DefaultRootWindow(w.x), &root, &parent, &children, &count) != 0) {
            for (unsigned int i = 0; i < count; ++i)
                if (window_of_size(w.x, children[i], kOutputWidth, kOutputHeight).size() > 0)
                    output = children[i];
            XFree(children);
        }
        const std::vector<uint32_t> shown = window_of_size(w.x, output, kOutputWidth, kOutputHeight);
        if (!shown.empty() && shown.back() == kBackground)
            w.output = output;
        std::smatch m;
        const std::string log = read_file(folder + "/weston.log");
        if (std::regex_search(log, m, listening))
            w.xwayland = m[1];
    }
}

// Ends Weston (and with it Xwayland and its helpers) and its Xvfb; false when anything of
// it was left running. Nothing the second time.
bool weston_stop(Weston* w)
{
    bool clean = true;
    if (w->show.pid > 0) {
        show_signal(w->show, SIGTERM);
        clean = !show_finish(w->show, 10).left_behind;
        w->show.pid = -1;
    }
    if (w->x != nullptr)
        XCloseDisplay(w->x);
    w->x = nullptr;
    xserver_stop(&w->outer);
    if (!w->runtime.empty())
        std::filesystem::remove_all(w->runtime);
    w->runtime.clear();
    return clean;
}

// The show's frame as tarqle-sdl lays it out in a width x height window: the largest whole
// scale, centred, black around it.
std::vector<uint32_t> laid_out(const std::vector<uint32_t>& frame, int width, int height)
{
    const int scale = std::min(width / 320, height / 240);
    const int left = (width - 320 * scale) / 2, top = (height - 240 * scale) / 2;
    std::vector<uint32_t> out((size_t)width * (size_t)height, 0);
    for (int y = 0; y < 240 * scale; ++y)
        for (int x = 0; x < 320 * scale; ++x)
            out[(size_t)(top + y) * (size_t)width + (size_t)(left + x)] = frame[(size_t)(y / scale * 320 + x / scale)];
    return out;
}

// A width x height window in Weston's output: the first row of at least width pixels that
// are not the desktop's, read from there; empty when there is none.
std::vector<uint32_t> window_in_output(const Weston& w, int width, int height)
{
    const std::vector<uint32_t> out = window_of_size(w.x, w.output, kOutputWidth, kOutputHeight);
    for (int y = 0; !out.empty() && y + height <= kOutputHeight; ++y)
        for (int x = 0, run = 0; x < kOutputWidth; ++x) {
            run = out[(size_t)(y * kOutputWidth + x)] == kBackground ? 0 : run + 1;
            if (run < width)
                continue;
            std::vector<uint32_t> window;
            for (int wy = y; wy < y + height; ++wy)
                window.insert(window.end(), out.begin() + wy * kOutputWidth + x - width + 1,
                              out.begin() + wy * kOutputWidth + x + 1);
            return window;
        }
    return {};
}

// What tarqle-sdl --scale 2 shows paused at the fire's start (Space, then 8), once it holds;
// with fullscreen, then after F11, in the compositor's whole output; then how Esc ends it.
struct Held {
    std::vector<uint32_t> windowed, fullscreen;
    ShowEnd end;
};

Held held_at_fire(const std::vector<std::string>& env, const std::function<void(unsigned long)>& key,
                  const std::function<std::vector<uint32_t>(int, int)>& read, bool fullscreen)
{
    Held held;
    const Show show = show_start({program_path("tarqle-sdl"), "--scale", "2", "--no-music", "--seed", "7"}, "",
                                 make_run_folder("sdl-held"), env);
    for (int tries = 0; tries < 200 && read(640, 480).empty(); ++tries)
        usleep(100000);
    key(XK_space);
    key(XK_8);
    held.windowed = settled([&] { return read(640, 480); }, 30000);
    if (fullscreen) {
        key(XK_F11);
        held.fullscreen = settled([&] { return read(kOutputWidth, kOutputHeight); }, 30000);
    }
    key(XK_Escape);
    held.end = show_finish(show, 20);
    return held;
}

// The same for a show whose window is on the X server x, found by its title; *x_class gets
// the window's class.
Held held_in_x(Display* x, const std::vector<std::string>& env, bool fullscreen, std::string* x_class)
{
    Window window = 0;
    return held_at_fire(
        env, [&](unsigned long k) { x11_send_key(x, window, k); },
        [&](int width, int height) {
            XClassHint hint{};
            if (window == 0 && (window = x11_find_window(x, kTitle, 100)) != 0 &&
                XGetClassHint(x, window, &hint) != 0) {
                *x_class = hint.res_class != nullptr ? hint.res_class : "";
                XFree(hint.res_name);
                XFree(hint.res_class);
            }
            return window_of_size(x, window, width, height);
        },
        fullscreen);
}

// On Weston, natively and through Xwayland (which SDL picks when both are there), the
// window shows at scale 2 what it shows on a plain X server, which is tarqle-render's frame
// enlarged by nearest sampling; full screen, the largest whole scale centred on black; the
// keys pause, seek and end the show; the window says its title, and the application id
// (Wayland) and class (X11) by which the desktop finds the entry and its icon.
TEST(SdlOnWayland, NativeAndXwaylandShowWhatX11Shows)
{
    std::string skip;
    Weston w;
    weston_start(w, &skip);
    if (!skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_NE(w.output, 0u) << "Weston showed no output";
    ASSERT_FALSE(w.xwayland.empty()) << "Xwayland did not start";
    const std::vector<uint32_t> frame = frame_at_part_start(make_run_folder("sdl-wayland-render"), "fire");
    ASSERT_EQ(frame.size(), 320u * 240u);

    // The X11 driver on the plain X server that Weston runs in; then Weston's clients.
    const std::vector<std::string> quiet = {"PULSE_SERVER=unix:/nonexistent", "SDL_AUDIODRIVER=dummy"};
    std::vector<std::string> plain = quiet, native = quiet, both = quiet;
    plain.insert(plain.end(), {"DISPLAY=" + xserver_name(w.outer), "SDL_VIDEODRIVER=x11"});
    std::string x_class, xwayland_class;
    const Held on_x11 = held_in_x(w.x, plain, false, &x_class);
    EXPECT_TRUE(on_x11.windowed == laid_out(frame, 640, 480)) << "X11 at scale 2";

    native.insert(native.end(), {"WAYLAND_DISPLAY=wayland-tarqle", "XDG_RUNTIME_DIR=" + w.runtime,
                                 "DISPLAY=", "SDL_VIDEODRIVER=wayland"});
    const Held natively = held_at_fire(
        native, [&](unsigned long k) { x11_send_key(w.x, w.output, k); },
        [&](int width, int height) { return window_in_output(w, width, height); }, true);

    Display* xw = XOpenDisplay(w.xwayland.c_str());
    ASSERT_NE(xw, nullptr);
    both.insert(both.end(), {"WAYLAND_DISPLAY=wayland-tarqle", "XDG_RUNTIME_DIR=" + w.runtime, "DISPLAY=" + w.xwayland,
                             "SDL_VIDEODRIVER="});
    const Held through_xwayland = held_in_x(xw, both, true, &xwayland_class);
    XCloseDisplay(xw);
    const std::string log = read_file(w.show.folder + "/weston.log");
    EXPECT_TRUE(weston_stop(&w)) << "Weston left something running";

    for (const Held* held : {&on_x11, &natively, &through_xwayland}) {
        const char* how = held == &on_x11 ? "X11" : held == &natively ? "natively" : "through Xwayland";
        EXPECT_TRUE(held->windowed == on_x11.windowed) << how << ": not the X11 picture at scale 2";
        if (held != &on_x11) {
            EXPECT_TRUE(held->fullscreen == laid_out(frame, kOutputWidth, kOutputHeight)) << how << ": full screen";
        }
        EXPECT_EQ(held->end.status, 0) << how;
        EXPECT_FALSE(held->end.left_behind) << how;
        EXPECT_TRUE(ends_with(held->end.out, kBanner)) << how << ": " << held->end.out;
    }
    const std::string entry = read_file(std::string(TARQLE_SOURCE_DIR) + "/install/tarqle-sdl.desktop");
    EXPECT_NE(entry.find("\nIcon=tarqle-sdl\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(xdg_toplevel@\d+\.set_app_id\("tarqle-sdl"\))"))) << "app id";
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(xdg_toplevel@\d+\.set_title\("tarqle for LINUX by brusk"\))")));
    EXPECT_EQ(x_class, "tarqle-sdl");
    EXPECT_EQ(xwayland_class, "tarqle-sdl") << "SDL did not pick X11 through Xwayland";
}

} // namespace
