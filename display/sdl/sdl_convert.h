// Turning the 8-bit screen image into the SDL texture's pixels, and placing the picture in
// the window. No SDL involved, so the tests and the benchmark use it as it is.
#pragma once

#include <cstdint>

#include "core/image.h"

// The texture's pixel of each palette index: 0xFFRRGGBB (the ARGB8888 layout).
void sdl_palette_pixels(const Palette& palette, uint32_t pixels[256]);

// Called by display_present for every frame: writes every pixel of image as a scale ×
// scale square of its table pixel into the texture memory at out, whose rows are pitch
// bytes apart (at least image.width × scale × 4) and which holds image.height × scale
// rows. Nothing is kept.
void sdl_frame_convert(const Image& image, const uint32_t table[256], uint8_t* out, int32_t pitch, int32_t scale);

// Where the picture goes in an output of this size: the largest whole-number scale (at
// least 1) at which width × height fits, centred; black around it.
struct SdlPlacement {
    int32_t x, y, width, height, scale;
};
SdlPlacement sdl_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height);

// The smooth placement: the largest picture of the same shape that fits (filling the
// height on a wide output), centred; any scale, not only whole ones.
SdlPlacement sdl_smooth_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height);
