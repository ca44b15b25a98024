// What the tests' display back-end saw: the frames and the palette sent to it.
#pragma once

#include <vector>

#include "core/image.h"

struct NullDisplay {
    bool open;
    int presents;               // display_present calls since display_open
    int palettes;               // display_set_palette calls since display_open
    Palette palette;            // the palette last sent
    std::vector<uint8_t> frame; // the pixels last presented
};

// Reset by display_open, updated by every other display operation.
extern NullDisplay null_display;
