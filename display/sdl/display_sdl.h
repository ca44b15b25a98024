// The SDL back-end's own settings, given by tarqle-sdl's entry point from its options.
#pragma once

#include <cstdint>

struct SdlOptions {
    bool fullscreen; // start in desktop fullscreen
    int32_t scale;   // window size in whole multiples of the picture, 1 to 8
    bool smooth;     // scale smoothly to fill the height instead of whole multiples
    bool gentle;     // show the gentle picture (display/gentle), which holds back quick flashes
};

// Called once by the entry point, before the show starts (display_open reads it); without
// it the window is 3x, not fullscreen, whole-number scaling, the picture as drawn. The record is copied.
void display_sdl_configure(const SdlOptions& options);
