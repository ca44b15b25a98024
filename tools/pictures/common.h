// What the families of pictures share: the screen's size, the grey and sepia palettes, quantising and saving.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image.h"
#include "core/shared.h"
#include "tools/pictures/art.h"

// The screen's size, which most pictures have.
constexpr int W = kScreenWidth;
constexpr int H = kScreenHeight;

// Where the pictures go, and how many could not be written.
struct Out {
    std::string dir;
    int failures = 0;
};

// Writes w x h pixels with pal to path below out.dir; a file that cannot be written is
// counted in out.failures after a message on standard error.
void save(Out& out, const char* path, const std::vector<uint8_t>& px, int w, int h, const Palette& pal);

// Entry i is grey i.
Palette grey_palette();
// The intro's, for its landscape and its lettering: old film, a warm brown ramp from black
// to a pale cream, brightness rising with the index.
Palette sepia_palette();
// Canvas values 0..1 spread over the indices lo..hi.
std::vector<uint8_t> quantise(const Canvas& c, int lo, int hi);
