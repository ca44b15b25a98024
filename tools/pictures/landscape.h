// Landscapes: a sky with its sun or moon, ridges of hills and a lake that mirrors them.
#pragma once

#include <cstdint>

#include "tools/pictures/art.h"

struct Sky {
    float top, horizon; // brightness of the sky at the top and at the horizon
    float sun_x, sun_y; // centre of the sun or moon, pixels
    float sun_r, glow;  // radius and strength of its halo
    float ridge_dark;   // brightness of the nearest ridge
    bool stars, lake;
    uint32_t seed;
};

// The landscape under s at the screen's size, values 0..1; the same canvas for the same sky.
// Used by the intro's and the picture set's landscapes and by the closing picture.
Canvas landscape(const Sky& s);
