// What every module shares: the screen size, the work palette and the fatal-exit sequence.
#pragma once

#include "core/image.h"

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;

// Carries colours from loading to showing and from one part to the next; zero at
// start, never freed. Parts load pictures' palettes into it and send it.
extern Palette work_palette;

// Ends the program after a failing step printed its own message: display_close,
// music_stop, music_shutdown (when with_music_shutdown) and exit(status). Every step
// is safe at any time, also before the display is open. Never returns. Declared here,
// so any module may end the show; defined by the timeline, the one layer that knows the
// display and the music.
[[noreturn]] void fatal_exit(bool with_music_shutdown, int status);

// Set by the fatal-exit sequence before it closes the display when the program is to end
// with a failure (a status other than 0): a back-end's display_close then keeps nothing
// that the failed run half made.
extern bool show_failed;

// The usual ending of a failed load or run step: music shut down, exit status 1.
[[noreturn]] inline void fatal_exit()
{
    fatal_exit(true, 1);
}
