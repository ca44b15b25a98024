// The entry point of tarqle-saver, the show as a display mode of the X11 screen saver
// daemon: it draws into the window it is given, asks nothing, says nothing, and plays the
// show over and over until it is stopped.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/saver/display_saver.h"
#include "show/timeline.h"
#include "sound/music.h"

namespace {

const char* const kUsage = "usage: tarqle-saver [-root] [-window-id ID] [-sound] [-help]\n"
                           "  -root          draw on the root window (or the desktop's virtual root)\n"
                           "  -window-id ID  draw into the window ID (hexadecimal with 0x, or decimal)\n"
                           "  -sound         play the tune through the first sound device that starts\n"
                           "  -help          this text\n"
                           "Without these, the window named by XSCREENSAVER_WINDOW, else a window of its own.\n";

// 16-bit stereo (the output-mode menu's answer 4) at 44100 Hz, first sound device that
// starts; the picture is sent without waiting for a refresh, so it has no delay of its own.
// The saver loops, so its player plays the tune again each round.
constexpr MusicChoice kMusic = {4, 0, 44100, 0, true};
constexpr MusicChoice kNoMusic = {0, 0, 44100, 0, false};

[[noreturn]] void usage_error(const char* what, const char* option)
{
    std::fprintf(stderr, "tarqle-saver: %s: %s\n", option, what);
    std::fputs(kUsage, stderr);
    std::exit(2);
}

// A window id as the daemon writes it: hexadecimal after 0x, else decimal; never 0.
bool parse_window_id(const char* text, uint64_t* id)
{
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (*text == '\0' || *text == '-' || *text == '+')
        return false;
    char* end = nullptr;
    *id = std::strtoull(text, &end, base);
    return *end == '\0' && *id != 0;
}

// The daemon's options come with one dash or two.
bool is_option(const char* arg, const char* name)
{
    if (arg[0] == '-' && arg[1] == '-')
        ++arg;
    return std::strcmp(arg, name) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool root = false, sound = false, have_id = false;
    uint64_t id = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (is_option(a, "-help") || is_option(a, "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (is_option(a, "-root")) {
            root = true;
        } else if (is_option(a, "-sound")) {
            sound = true;
        } else if (is_option(a, "-window-id")) {
            if (i + 1 == argc || !parse_window_id(argv[i + 1], &id))
                usage_error("needs a window id", a);
            have_id = true;
            ++i;
        } else {
            usage_error("unknown option", a);
        }
    }
    // The daemon names its window in the environment; a window given on the command line
    // goes first, and the root window only when neither names one.
    SaverOptions where = {SaverTarget::own_window, 0};
    const char* from_daemon = std::getenv("XSCREENSAVER_WINDOW");
    if (have_id) {
        // The settings' preview names its window both ways; an id the daemon's environment
        // does not name is one a user typed.
        uint64_t named = 0;
        const bool daemons = from_daemon != nullptr && parse_window_id(from_daemon, &named) && named == id;
        where = {daemons ? SaverTarget::named : SaverTarget::typed, id};
    } else if (from_daemon != nullptr && *from_daemon != '\0') {
        if (!parse_window_id(from_daemon, &id))
            usage_error("not a window id", (std::string("XSCREENSAVER_WINDOW=") + from_daemon).c_str());
        where = {SaverTarget::named, id};
    } else if (root)
        where = {SaverTarget::root, 0};

    // The show's lines (title, counts, banner) have no reader here: standard output goes
    // nowhere, and only a saver that cannot start says why, on standard error.
    const int nowhere = open("/dev/null", O_WRONLY);
    if (nowhere >= 0) {
        dup2(nowhere, STDOUT_FILENO);
        close(nowhere);
    }
    display_saver_configure(where);
    music_choose(sound ? kMusic : kNoMusic);
    // Round after round, each seeded afresh, until the daemon stops the saver.
    show_plan({true, false, 0, 0});
    return show_main(argc, argv);
}
