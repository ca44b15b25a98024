// The entry point of tarqle-sdl, the desktop program: its options instead of the terminal
// questions, then the same show.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/sdl/display_sdl.h"
#include "show/timeline.h"
#include "sound/music.h"

namespace {

const char* const kUsage = "usage: tarqle-sdl [--fullscreen] [--scale N] [--smooth] [--gentle] [--no-music]\n"
                           "                  [--start TIME] [--loop] [--seed N] [--help]\n"
                           "  --fullscreen  start in fullscreen (F11 or Alt+Enter toggles it)\n"
                           "  --scale N     window of N times 320 x 240, 1 to 8 (default 3)\n"
                           "  --smooth      scale smoothly to fill the height, not in whole multiples\n"
                           "  --gentle      hold back quick flashes (at most two a second in any place)\n"
                           "  --no-music    play the show silently\n"
                           "  --start TIME  begin at TIME, seconds of show or a part's name:\n"
                           "                presents intro blobs flicker mosaic slides words fire closing\n"
                           "  --loop        start the show again after its end, until it is ended\n"
                           "  --seed N      seed the random numbers with N, 0 to 4294967295, every round\n"
                           "  --help        this text\n"
                           "Keys: Space pauses and resumes, . shows the next frame while paused, Left and Right\n"
                           "go back and on 5 s, Page Up and Page Down to the previous and the next part, 1 to 9\n"
                           "to that part, Home to the beginning. Esc, Q or closing the window ends the show.\n";

constexpr int kMaxScale = 8;
static_assert(kMaxScale == 8, "the usage and the refusals say 1 to 8");
// 16-bit stereo (the output-mode menu's answer 4) at 44100 Hz, first sound device that
// starts. Frames are presented with vsync, so each is seen at the screen's next refresh:
// up to 17 ms (one refresh at 60 Hz) after the show's clock reads its time. The viewer
// seeks and loops, so the player plays the tune again wherever the show goes.
constexpr MusicChoice kMusic = {4, 0, 44100, 17, true};
constexpr MusicChoice kNoMusic = {0, 0, 44100, 0, false};

// A bad command line: what was wrong, then the usage; nothing has been opened yet.
[[noreturn]] void usage_error(const char* what, const char* option)
{
    std::fprintf(stderr, "tarqle-sdl: %s: %s\n", option, what);
    std::fputs(kUsage, stderr);
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    SdlOptions display = {false, 3, false, false};
    ShowPlan plan = {false, false, 0, 0};
    bool music = true;
    bool help = false;
    // The whole command line is read before anything opens: a mistake anywhere is named.
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0) {
            help = true;
        } else if (std::strcmp(a, "--fullscreen") == 0) {
            display.fullscreen = true;
        } else if (std::strcmp(a, "--smooth") == 0) {
            display.smooth = true;
        } else if (std::strcmp(a, "--gentle") == 0) {
            display.gentle = true;
        } else if (std::strcmp(a, "--no-music") == 0) {
            music = false;
        } else if (std::strcmp(a, "--loop") == 0) {
            plan.loop = true;
        } else if (std::strcmp(a, "--start") == 0) {
            if (i + 1 == argc)
                usage_error("needs seconds of show or a part's name", a);
            if (const char* expected = show_plan_option(a, argv[++i], &plan))
                usage_error(expected, (std::string("--start ") + argv[i]).c_str());
        } else if (std::strcmp(a, "--seed") == 0) {
            if (i + 1 == argc)
                usage_error("needs a whole number from 0 to 4294967295", a);
            if (const char* expected = show_plan_option(a, argv[++i], &plan))
                usage_error(expected, (std::string("--seed ") + argv[i]).c_str());
        } else if (std::strcmp(a, "--scale") == 0) {
            if (i + 1 == argc)
                usage_error("needs a number, 1 to 8", a);
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || n < 1 || n > kMaxScale)
                usage_error("the scale is a whole number from 1 to 8", (std::string("--scale ") + argv[i]).c_str());
            display.scale = (int32_t)n;
        } else {
            usage_error("unknown option", a);
        }
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Told before anything is shown, whatever the options; written past the C library's
    // buffer, which the show sets up afresh before its first line.
    constexpr char kNotice[] = "This show contains flashing images.\n";
    if (write(STDOUT_FILENO, kNotice, sizeof kNotice - 1) < 0) {
        // Nowhere to tell it; the show goes on.
    }
    display_sdl_configure(display);
    show_plan(plan);
    show_plan_seeks();
    music_choose(music ? kMusic : kNoMusic);
    return show_main(argc, argv);
}
