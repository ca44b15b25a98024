// What the timeline shares with every module: the work palette, the blank screen and
// the fatal-exit sequence.
#pragma once

#include "core/image.h"

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;

// Carries colours from loading to showing and from one part to the next; zero at
// start, never freed. Parts load pictures' palettes into it and send it.
extern Palette work_palette;

// Blacks out the work palette and the image, sends both and waits for the retrace.
void blank_screen(Image* screen);

// Ends the program after a failing step printed its own message: display_close,
// music_stop, music_shutdown (when with_music_shutdown) and exit(status). Every step
// is safe at any time, also before the display is open. Never returns.
[[noreturn]] void fatal_exit(bool with_music_shutdown, int status);

// The usual ending of a load or run step: music shut down, exit status 0.
[[noreturn]] inline void fatal_exit() { fatal_exit(true, 0); }

// Runs the whole show once; the entry point of all three programs.
int demo_main(int argc, char** argv);
