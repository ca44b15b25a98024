// tarqle-sdl as a desktop user meets it, under a private Xvfb through SDL's X11 driver: its
// options, the show playing its tune and ended by Esc with the player gone, and a silent
// show closed as a window manager closes a window; the viewer's keys against the frames
// tarqle-render draws.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e_support.h"
#include "tests/run_program.h"
#include "tests/x11_server.h"
#include "tests/x11_window.h"

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

// The window's picture once it stays the same for longer than the overlay shows (a
// seek's replay done, the overlay gone), within timeout_ms; empty if it never settles.
std::vector<uint32_t> settled_picture(const SdlRun& run, int timeout_ms)
{
    constexpr int kLongerThanTheOverlayMs = 2500;
    std::vector<uint32_t> last;
    for (int waited = 0; waited < timeout_ms; waited += kLongerThanTheOverlayMs) {
        int w = 0, h = 0;
        std::vector<uint32_t> now = x11_window_pixels(run.x, run.window, &w, &h);
        if (w != 320 || h != 240)
            now.clear();
        if (!now.empty() && now == last)
            return now;
        last = std::move(now);
        usleep(kLongerThanTheOverlayMs * 1000);
    }
    return {};
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

} // namespace
