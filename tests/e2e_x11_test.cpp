// The show in an X11 window as a user meets it: whole shows at three depths, the window
// closed and Esc, and the signals, the end of input and the lost server it must survive
// with nothing left behind; and the screen saver in the windows it is given.
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <string>

#include "display/convert/pixel_convert.h"
#include "tests/e2e_support.h"
#include "tests/run_program.h"
#include "tests/x11_server.h"
#include "tests/x11_window.h"

namespace {

namespace fs = std::filesystem;

const std::string kTitle = "*** tarqle for LINUX by brusk *** \n";
const std::string kModeMenu = "Choose output mode:\n0. NO music\n1. 8 bits, mono\n2. 8 bits, stereo\n"
                              "3. 16 bits, mono\n4. 16 bits, stereo\nType corresponding number : ";
const std::string kDisplayMenu = "Choose display mode:\n1. Pixel size 1, Shared Memory Extension ON\n"
                                 "2. Pixel size 2, Shared Memory Extension ON\n"
                                 "3. Pixel size 1, Shared Memory Extension OFF\n"
                                 "4. Pixel size 2, Shared Memory Extension OFF\nType corresponding number : ";
const std::string kWavReport = "Using Disk writer (wav) for 16 bit normal stereo sound at 44100 Hz\n\n";
const std::string kBanner = "--------------- TAZE\xA0QUORM ----------------\n"
                            "- Dornvask - '98 - Frostmoot - Veltria -\n"
                            "--- The First Veltrian Linux Demogroup ---\n\n";
// The tune's length; a show that ends later than the tune finds it ended by itself.
constexpr double kTuneSeconds = 141.1;

Show start_x(const XServer& server, const std::string& answers, const std::string& folder)
{
    return show_start({program_path("tarqle-x")}, answers, folder, {"DISPLAY=" + xserver_name(server)});
}

// What stands in for the show's frame count in an expected output.
std::string with_any_count(const std::string& out)
{
    return std::regex_replace(out, std::regex("screens: [0-9]+:\n"), "screens: N:\n");
}

// The server lets go of a segment when it notices its client has gone; true once no
// segment that pid created is left, within two seconds.
bool segments_released(pid_t pid)
{
    for (int tries = 0; tries < 200 && segments_created_by(pid) != 0; ++tries)
        usleep(10000);
    return segments_created_by(pid) == 0;
}

// The seconds of 16-bit stereo sound in a whole WAV file at path, or -1 with a failure.
double wav_seconds(const std::string& path)
{
    long data = 0, rate = 0;
    int channels = 0, bits = 0;
    EXPECT_EQ(wav_problem(read_file(path), &data, &channels, &bits, &rate), "") << path;
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(rate, 44100);
    return rate > 0 ? (double)data / 4.0 / (double)rate : -1.0;
}

TEST(ShowX11, WholeShowAtDepths24_8_16)
{
    // The three shows run at once, each on a server of its own: one with music to a file,
    // pixel size 2 through shared memory; two silent at pixel size 1 without it.
    struct Run {
        const char* depth;
        std::string answers;
        std::string expected;
        XServer server;
        Show show;
    };
    const std::string sound = wav_writer_answers();
    Run runs[] = {
        {"24",
         sound + "2\n",
         kTitle + sound_menus_text() + kWavReport + kDisplayMenu + "INFO: Shared memory extension in use\n",
         {},
         {}},
        {"8", "0\n3\n", kTitle + kModeMenu + kDisplayMenu, {}, {}},
        {"16", "0\n3\n", kTitle + kModeMenu + kDisplayMenu, {}, {}},
    };
    for (Run& run : runs) {
        run.server = xserver_start({"-screen", "0", std::string("1024x768x") + run.depth});
        EXPECT_GE(run.server.number, 0) << "no server at depth " << run.depth;
        if (run.server.number >= 0)
            run.show = start_x(run.server, run.answers, make_run_folder(std::string("e2e-x11-depth") + run.depth));
    }
    for (Run& run : runs) {
        SCOPED_TRACE(std::string("depth ") + run.depth);
        if (run.show.pid < 0)
            continue;
        const ShowEnd end = show_finish(run.show, 260);
        EXPECT_FALSE(end.timed_out);
        EXPECT_EQ(end.status, 0);
        EXPECT_EQ(end.err, "");
        EXPECT_EQ(with_any_count(end.out), run.expected + "screens: N:\n" + kBanner);
        EXPECT_FALSE(end.left_behind);
        EXPECT_TRUE(segments_released(run.show.pid));
        if (run.answers != "0\n3\n") {
            const double seconds = wav_seconds(run.show.folder + "/music.wav");
            EXPECT_GT(seconds, kTuneSeconds - 1.0);
            EXPECT_LT(seconds, kTuneSeconds + 0.5);
        }
        xserver_stop(&run.server);
    }
}

// A show with music to a file, pixel size 2 through shared memory, some seconds into its
// run phase (the player is running); drill does something to it, and then it must end
// with no player, no segment and a whole music file left; with status 0 after the usual
// shut-down (the farewell banner), otherwise without it.
void drill(const std::string& name, const std::function<void(const Show&, XServer&)>& act, int expected_status)
{
    XServer server = xserver_start({"-screen", "0", "1024x768x24"});
    ASSERT_GE(server.number, 0);
    const std::string folder = make_run_folder("e2e-drill-" + name);
    const Show show = start_x(server, wav_writer_answers() + "2\n", folder);
    // The player writes the file once the load phase is over; a second of sound shows it runs.
    const bool playing = wait_for_size(folder + "/music.wav", 44 + 4 * 44100, 60) && group_members(show) == 2 &&
                         segments_created_by(show.pid) == 1;
    if (!playing) {
        ADD_FAILURE() << "no player, or no shared frame image, when the drill was due";
        show_signal(show, SIGKILL, true);
        show_finish(show, 30);
        xserver_stop(&server);
        return;
    }
    act(show, server);
    const ShowEnd end = show_finish(show, 30);
    EXPECT_FALSE(end.timed_out);
    EXPECT_EQ(end.status, expected_status) << end.out << end.err;
    EXPECT_FALSE(end.left_behind);
    EXPECT_LE(end.group_ended_ms, 1000);
    if (expected_status == 0)
        EXPECT_TRUE(end.out.ends_with(kBanner)) << end.out;
    else
        EXPECT_EQ(end.out.find("TAZE"), std::string::npos);
    EXPECT_TRUE(segments_released(show.pid));
    const double seconds = wav_seconds(folder + "/music.wav");
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, kTuneSeconds - 60.0);
    xserver_stop(&server);
}

TEST(ShowX11, InterruptToTheDemo)
{
    drill(
        "int", [](const Show& show, XServer&) { show_signal(show, SIGINT); }, 128 + SIGINT);
}

TEST(ShowX11, TerminateToTheDemo)
{
    drill(
        "term", [](const Show& show, XServer&) { show_signal(show, SIGTERM); }, 128 + SIGTERM);
}

TEST(ShowX11, InterruptToDemoAndPlayer)
{
    drill(
        "group-int", [](const Show& show, XServer&) { show_signal(show, SIGINT, true); }, 128 + SIGINT);
}

TEST(ShowX11, KillOfTheDemoEndsThePlayerWithinASecond)
{
    drill(
        "kill", [](const Show& show, XServer&) { show_signal(show, SIGKILL); }, 128 + SIGKILL);
}

// The viewer's end from a second connection to the show's window: a key, or the close
// request a window manager sends to a window that takes part in the close protocol (one
// that does not is cut off by the window manager instead).
void viewer_ends(const XServer& server, bool close)
{
    Display* x = XOpenDisplay(xserver_name(server).c_str());
    ASSERT_NE(x, nullptr);
    const Window window = x11_find_window(x, "tarqle for LINUX by brusk", 5000);
    ASSERT_NE(window, 0u);
    Atom* protocols = nullptr;
    int count = 0;
    const Atom wanted = XInternAtom(x, "WM_DELETE_WINDOW", False);
    EXPECT_TRUE(XGetWMProtocols(x, window, &protocols, &count) &&
                std::find(protocols, protocols + count, wanted) != protocols + count);
    if (protocols != nullptr)
        XFree(protocols);
    if (close)
        x11_close_window(x, window);
    else
        x11_send_key(x, window, XK_Escape);
    XCloseDisplay(x);
}

TEST(ShowX11, ClosingTheWindowEndsTheShow)
{
    drill(
        "close", [](const Show&, XServer& server) { viewer_ends(server, true); }, 0);
}

TEST(ShowX11, EscEndsTheShow)
{
    drill(
        "esc", [](const Show&, XServer& server) { viewer_ends(server, false); }, 0);
}

TEST(ShowX11, LostServerEndsBothProcesses)
{
    // Xlib's own message for a lost connection ends the demo with status 1.
    drill(
        "server", [](const Show&, XServer& server) { xserver_stop(&server); }, 1);
}

TEST(ShowX11, MessagesPrintedBeforeASignalReachTheFile)
{
    // No music, so no fork flushes the streams: only the show's own buffering decides.
    XServer server = xserver_start({"-screen", "0", "1024x768x24"});
    ASSERT_GE(server.number, 0);
    const Show show = start_x(server, "0\n2\n", make_run_folder("e2e-x11-term-silent"));
    sleep(4); // the display is open long before the presents screen ends, 11 s in
    show_signal(show, SIGTERM);
    const ShowEnd end = show_finish(show, 30);
    EXPECT_EQ(end.status, 128 + SIGTERM);
    EXPECT_TRUE(end.out.ends_with("INFO: Shared memory extension in use\n")) << end.out;
    xserver_stop(&server);
}

TEST(ShowX11, EndOfInputAtTheDisplayMenu)
{
    XServer server = xserver_start({"-screen", "0", "1024x768x24"});
    ASSERT_GE(server.number, 0);
    const std::string folder = make_run_folder("e2e-x11-eof");
    const Show show = start_x(server, wav_writer_answers(), folder);
    const ShowEnd end = show_finish(show, 30);
    EXPECT_FALSE(end.timed_out);
    EXPECT_EQ(end.status, 1);
    EXPECT_FALSE(end.left_behind);
    EXPECT_TRUE(end.out.ends_with(kDisplayMenu + "End of input: no answer given.\n")) << end.out;
    EXPECT_TRUE(segments_released(show.pid));
    // The sound output was opened before the display menu; it is closed whole.
    long data = -1;
    EXPECT_EQ(wav_problem(read_file(folder + "/music.wav"), &data), "");
    xserver_stop(&server);
}

// The screen saver: where it draws (a window made here and named in the environment or on
// the command line, the root window, a virtual root), at what scale, how a small window
// gets the whole picture, and how it ends.

long clock_ms()
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Show start_saver(const XServer& server, const std::vector<std::string>& args, const std::string& env,
                 const std::string& name)
{
    std::vector<std::string> argv = {program_path("tarqle-saver")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> environment = {"DISPLAY=" + xserver_name(server)};
    if (!env.empty())
        environment.push_back(env);
    return show_start(argv, "", make_run_folder("e2e-saver-" + name), environment);
}

Window black_window(Display* x, int left, int top, int width, int height)
{
    const Window w = XCreateSimpleWindow(x, DefaultRootWindow(x), left, top, (unsigned)width, (unsigned)height, 0, 0,
                                         BlackPixel(x, DefaultScreen(x)));
    XMapWindow(x, w);
    XSync(x, False);
    return w;
}

// Waits up to 40 s until a twentieth of the place in the window is lit (the load phase is
// black), then says what is wrong there: a lit pixel outside the place, or a picture not
// made of scale x scale blocks. Empty when the show is where and as large as it should be.
std::string picture_problem(Display* x, Window window, const Placement& place)
{
    for (const long start = clock_ms(); clock_ms() - start < 40000; usleep(200000)) {
        int w = 0, h = 0;
        const std::vector<uint32_t> p = x11_window_pixels(x, window, &w, &h);
        long lit = 0, outside = 0, broken = 0;
        for (int y = 0; y < h; ++y)
            for (int x0 = 0; x0 < w; ++x0) {
                const uint32_t v = p[(size_t)(y * w + x0)];
                const int dx = x0 - place.x, dy = y - place.y;
                if (dx < 0 || dy < 0 || dx >= place.width || dy >= place.height) {
                    outside += v != 0;
                } else {
                    lit += v != 0;
                    const int bx = place.x + dx / place.scale * place.scale,
                              by = place.y + dy / place.scale * place.scale;
                    broken += v != p[(size_t)(by * w + bx)];
                }
            }
        if (lit * 20 < (long)place.width * place.height)
            continue;
        if (outside != 0 || broken != 0)
            return std::to_string(outside) + " lit pixels outside the picture, " + std::to_string(broken) +
                   " pixels off their scale block";
        return "";
    }
    return "no picture within 40 s";
}

// The mean brightness of each row (or column), area-averaged down to n entries.
std::vector<double> brightness_profile(const std::vector<uint32_t>& p, int w, int h, bool rows, int n)
{
    const int length = rows ? h : w, across = rows ? w : h;
    std::vector<double> full((size_t)length, 0.0), out((size_t)n, 0.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t v = p[(size_t)(y * w + x)];
            full[(size_t)(rows ? y : x)] += ((v >> 16) + ((v >> 8) & 0xFF) + (v & 0xFF)) / 3.0 / across;
        }
    for (int o = 0; o < n; ++o)
        for (int i = 0; i < length; ++i) {
            const double a = (double)o * length / n, b = (double)(o + 1) * length / n;
            out[(size_t)o] +=
                std::max(0.0, std::min(b, i + 1.0) - std::max(a, (double)i)) * full[(size_t)i] * n / length;
        }
    return out;
}

TEST(Saver, DrawsWhereItIsToldAtTheLargestWholeScaleAndEndsAsTold)
{
    XServer windows = xserver_start({"-screen", "0", "1800x800x24"});
    XServer root = xserver_start({"-screen", "0", "3840x2160x24"});
    XServer vroot = xserver_start({"-screen", "0", "1024x768x24"});
    ASSERT_GE(windows.number, 0);
    ASSERT_GE(root.number, 0);
    ASSERT_GE(vroot.number, 0);
    Display* x = XOpenDisplay(xserver_name(windows).c_str());
    Display* v = XOpenDisplay(xserver_name(vroot).c_str());
    Display* r = XOpenDisplay(xserver_name(root).c_str());
    ASSERT_TRUE(x != nullptr && v != nullptr && r != nullptr);
    // A virtual root as desktops make one: a child of the root that names itself.
    const Window virtual_root = black_window(v, 100, 50, 800, 600);
    const Atom vroot_atom = XInternAtom(v, "__SWM_VROOT", False);
    XChangeProperty(v, DefaultRootWindow(v), vroot_atom, XA_WINDOW, 32, PropModeReplace, nullptr, 0);
    XChangeProperty(v, virtual_root, vroot_atom, XA_WINDOW, 32, PropModeReplace, (const unsigned char*)&virtual_root,
                    1);
    XSync(v, False);

    const Window by_env = black_window(x, 0, 0, 700, 500);
    const Window by_id = black_window(x, 720, 0, 1000, 300);
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", by_env);
    const Show env_show = start_saver(windows, {}, std::string("XSCREENSAVER_WINDOW=") + hex, "env");
    const Show id_show = start_saver(windows, {"-window-id", std::to_string(by_id)}, "", "id");
    const Show root_show = start_saver(root, {"-root"}, "", "root");
    const Show vroot_show = start_saver(vroot, {"--root"}, "", "vroot");

    EXPECT_EQ(picture_problem(x, by_env, {30, 10, 640, 480, 2}), "") << "XSCREENSAVER_WINDOW";
    EXPECT_EQ(picture_problem(x, by_id, {340, 30, 320, 240, 1}), "") << "-window-id";
    EXPECT_EQ(picture_problem(r, DefaultRootWindow(r), {480, 0, 2880, 2160, 9}), "") << "-root on a 4K screen";
    EXPECT_EQ(picture_problem(v, virtual_root, {80, 60, 640, 480, 2}), "") << "-root with a virtual root";

    // The window shrinks: the picture follows at the scale that now fits.
    XResizeWindow(x, by_env, 340, 250);
    XSync(x, False);
    usleep(500000);
    EXPECT_EQ(picture_problem(x, by_env, {10, 5, 320, 240, 1}), "") << "after the resize";

    // The daemon's window destroyed: the saver ends quietly, with nothing left.
    XDestroyWindow(x, by_id);
    XSync(x, False);
    const ShowEnd gone = show_finish(id_show, 10);
    EXPECT_EQ(gone.status, 0);
    EXPECT_FALSE(gone.left_behind);
    EXPECT_EQ(gone.out + gone.err, "");
    EXPECT_TRUE(segments_released(id_show.pid));

    // An id typed wrong is a mistake to report; the daemon's window (named in the
    // environment, by the settings' preview also on the command line) gone before the
    // saver looked at it is not.
    const std::vector<std::string> on_windows = {"DISPLAY=" + xserver_name(windows)};
    const RunResult typo = run_program({program_path("tarqle-saver"), "-window-id", "0x7ffffff"}, "",
                                       make_run_folder("e2e-saver-typo"), 20, on_windows);
    EXPECT_EQ(typo.status, 1);
    EXPECT_EQ(typo.err, "tarqle-saver: -window-id: no window 0x7ffffff on this display\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-window-id", "0x7ffffff"}}) {
        std::vector<std::string> argv = {program_path("tarqle-saver")};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult gone_before = run_program(argv, "", make_run_folder("e2e-saver-gone"), 20,
                                                  {on_windows[0], "XSCREENSAVER_WINDOW=0x7ffffff"});
        EXPECT_EQ(gone_before.status, 0) << args.size();
        EXPECT_EQ(gone_before.out + gone_before.err, "");
    }

    // SIGTERM, as the daemon stops a saver: gone within 100 ms, silent, no segment, no child.
    for (const Show& show : {env_show, root_show, vroot_show}) {
        ASSERT_EQ(segments_created_by(show.pid), 1);
        const long sent = clock_ms();
        show_signal(show, SIGTERM);
        int status = 0;
        while (waitpid(show.pid, &status, WNOHANG) == 0 && clock_ms() - sent < 5000)
            usleep(1000);
        EXPECT_LE(clock_ms() - sent, 100);
        const ShowEnd end = show_finish(show, 10);
        EXPECT_FALSE(end.left_behind);
        EXPECT_EQ(end.out + end.err, "");
        EXPECT_TRUE(segments_released(show.pid));
    }
    XCloseDisplay(x);
    XCloseDisplay(v);
    XCloseDisplay(r);
    for (XServer* server : {&windows, &root, &vroot})
        xserver_stop(server);
}

TEST(Saver, SmallWindowShowsTheWholePictureReduced)
{
    // The same show at 320 x 240 and in a 200 x 150 window; read at one moment (the server
    // grabbed), the small one's brightness along its rows and columns is the large one's
    // averaged down. A cut-out of the middle would not match. The two shows run apart by
    // a frame at most; one of ten moments must match.
    XServer server = xserver_start({"-screen", "0", "800x400x24"});
    ASSERT_GE(server.number, 0);
    Display* x = XOpenDisplay(xserver_name(server).c_str());
    ASSERT_NE(x, nullptr);
    const Window large = black_window(x, 0, 0, 320, 240);
    const Window small = black_window(x, 400, 0, 200, 150);
    const Show large_show = start_saver(server, {"-window-id", std::to_string(large)}, "", "large");
    const Show small_show = start_saver(server, {"-window-id", std::to_string(small)}, "", "small");
    EXPECT_EQ(picture_problem(x, large, {0, 0, 320, 240, 1}), "");
    double best = 1e9;
    for (int attempt = 0; attempt < 10 && best > 3.0; ++attempt, usleep(300000)) {
        int lw = 0, lh = 0, sw = 0, sh = 0;
        XGrabServer(x);
        const std::vector<uint32_t> lp = x11_window_pixels(x, large, &lw, &lh);
        const std::vector<uint32_t> sp = x11_window_pixels(x, small, &sw, &sh);
        XUngrabServer(x);
        XSync(x, False);
        // Both black (a blank screen between parts) would match without showing anything.
        if (lp.empty() || sp.empty() || std::count(sp.begin(), sp.end(), 0u) * 20 > (long)sp.size() * 19)
            continue;
        double difference = 0;
        for (bool rows : {true, false}) {
            const int n = rows ? 150 : 200;
            const std::vector<double> want = brightness_profile(lp, lw, lh, rows, n);
            const std::vector<double> got = brightness_profile(sp, sw, sh, rows, n);
            for (int i = 0; i < n; ++i)
                difference = std::max(difference, std::abs(want[(size_t)i] - got[(size_t)i]));
        }
        best = std::min(best, difference);
    }
    EXPECT_LE(best, 3.0) << "largest difference of mean brightness of a row or column, of 255";
    for (const Show& show : {large_show, small_show}) {
        show_signal(show, SIGTERM);
        EXPECT_FALSE(show_finish(show, 10).left_behind);
    }
    XCloseDisplay(x);
    xserver_stop(&server);
}

// The saver's description against the X11 screen saver package's own ones, which the
// daemon's settings read: a well-formed file whose elements and attributes are all ones the
// package's descriptions use, named inside as the file is, and whose options the program takes.
TEST(Saver, DescriptionIsShapedAsThePackagesOwn)
{
    const fs::path config = "/usr/share/xscreensaver/config";
    if (!fs::is_directory(config))
        GTEST_SKIP() << "the X11 screen saver package is not installed (scripts/setup-deps.sh installs it)";
    const std::regex tag(R"(<(/?)([A-Za-z_][\w-]*)([^>]*?)(/?)>)"), attribute(R"(([\w-]+)=")");
    // Every element name and element:attribute pair of a file; its problem when not well formed.
    const auto shape = [&](const std::string& text, std::set<std::string>* names, std::string* problem) {
        std::vector<std::string> open;
        for (auto t = std::sregex_iterator(text.begin(), text.end(), tag); t != std::sregex_iterator(); ++t) {
            const std::string name = (*t)[2], attributes = (*t)[3];
            if ((*t)[1] == "/") {
                if (open.empty() || open.back() != name)
                    *problem = "</" + name + "> closes nothing open";
                else
                    open.pop_back();
                continue;
            }
            names->insert(name);
            for (auto a = std::sregex_iterator(attributes.begin(), attributes.end(), attribute);
                 a != std::sregex_iterator(); ++a)
                names->insert(name + ":" + (*a)[1].str());
            if ((*t)[4] != "/")
                open.push_back(name);
        }
        if (!open.empty())
            *problem = "<" + open.back() + "> not closed";
    };
    std::set<std::string> known;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(config)) {
        std::string problem;
        const std::string text = read_file(entry.path());
        shape(text, &known, &problem);
        EXPECT_NE(text.find("<screensaver name=\"" + entry.path().stem().string() + "\""), std::string::npos)
            << entry.path() << ": the package's own files are named inside as the file is";
        ++files;
    }
    ASSERT_GT(files, 0);

    const std::string ours = read_file(std::string(TARQLE_SOURCE_DIR) + "/install/tarqle.xml");
    std::set<std::string> used;
    std::string problem;
    shape(ours, &used, &problem);
    EXPECT_EQ(problem, "");
    EXPECT_TRUE(ours.starts_with("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"));
    EXPECT_NE(ours.find("<screensaver name=\"tarqle\" _label=\""), std::string::npos);
    for (const std::string& name : used)
        EXPECT_TRUE(known.count(name)) << name << " is in no description of the package";

    // The program takes every option the description passes.
    std::vector<std::string> argv = {program_path("tarqle-saver")};
    const std::regex option(R"(arg(?:-set)?="([^"]*)\")");
    for (auto o = std::sregex_iterator(ours.begin(), ours.end(), option); o != std::sregex_iterator(); ++o)
        argv.push_back((*o)[1]);
    EXPECT_EQ(argv.size(), 3u) << "--root and --sound";
    argv.push_back("--help");
    const RunResult run = run_program(argv, "", make_run_folder("e2e-saver-options"), 10);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("usage: tarqle-saver")) << run.out;
}

} // namespace
