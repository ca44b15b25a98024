// The entry point of tarqle-sdl, the desktop program: its options instead of the terminal
// questions, then the same show.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/sdl/display_sdl.h"
#include "show/timeline.h"
#include "sound/music.h"

namespace {

const char* const kUsage =
    "usage: tarqle-sdl [--fullscreen] [--scale N] [--smooth] [--no-music] [--help]\n"
    "  --fullscreen  start in fullscreen (F11 or Alt+Enter toggles it)\n"
    "  --scale N     window of N times 320 x 240, 1 to 8 (default 3)\n"
    "  --smooth      scale smoothly to fill the height, not in whole multiples\n"
    "  --no-music    play the show silently\n"
    "  --help        this text\n"
    "Esc, Q or closing the window ends the show.\n";

constexpr int kMaxScale = 8;
// 16-bit stereo (the output-mode menu's answer 4) at 44100 Hz, first sound device that
// starts. Frames are presented with vsync, so each is seen at the screen's next refresh:
// up to 17 ms (one refresh at 60 Hz) after the show's clock reads its time.
constexpr MusicChoice kMusic = {4, 0, 44100, 17};
constexpr MusicChoice kNoMusic = {0, 0, 44100, 0};

[[noreturn]] void usage_error()
{
    std::fputs(kUsage, stderr);
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    SdlOptions display = {false, 3, false};
    bool music = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(a, "--fullscreen") == 0) {
            display.fullscreen = true;
        } else if (std::strcmp(a, "--smooth") == 0) {
            display.smooth = true;
        } else if (std::strcmp(a, "--no-music") == 0) {
            music = false;
        } else if (std::strcmp(a, "--scale") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || n < 1 || n > kMaxScale)
                usage_error();
            display.scale = (int32_t)n;
        } else {
            usage_error();
        }
    }
    display_sdl_configure(display);
    music_choose(music ? kMusic : kNoMusic);
    return show_main(argc, argv);
}
