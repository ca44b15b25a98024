// The show in an X11 window as a user meets it: whole shows at three depths, the window
// closed and Esc, and the signals, the end of input and the lost server it must survive
// with nothing left behind.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>

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
        {"24", sound + "2\n",
         kTitle + sound_menus_text() + kWavReport + kDisplayMenu + "INFO: Shared memory extension in use\n", {}, {}},
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
    drill("int", [](const Show& show, XServer&) { show_signal(show, SIGINT); }, 128 + SIGINT);
}

TEST(ShowX11, TerminateToTheDemo)
{
    drill("term", [](const Show& show, XServer&) { show_signal(show, SIGTERM); }, 128 + SIGTERM);
}

TEST(ShowX11, InterruptToDemoAndPlayer)
{
    drill("group-int", [](const Show& show, XServer&) { show_signal(show, SIGINT, true); }, 128 + SIGINT);
}

TEST(ShowX11, KillOfTheDemoEndsThePlayerWithinASecond)
{
    drill("kill", [](const Show& show, XServer&) { show_signal(show, SIGKILL); }, 128 + SIGKILL);
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
    drill("close", [](const Show&, XServer& server) { viewer_ends(server, true); }, 0);
}

TEST(ShowX11, EscEndsTheShow)
{
    drill("esc", [](const Show&, XServer& server) { viewer_ends(server, false); }, 0);
}

TEST(ShowX11, LostServerEndsBothProcesses)
{
    // Xlib's own message for a lost connection ends the demo with status 1.
    drill("server", [](const Show&, XServer& server) { xserver_stop(&server); }, 1);
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

} // namespace
