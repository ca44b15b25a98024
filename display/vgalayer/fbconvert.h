// Putting the 8-bit screen of a mode onto a framebuffer of any common pixel format:
// colour packing of 6-bit colours, and the frame at its placement.
#pragma once

#include <cstdint>

#include "display/convert/pixel_convert.h"

// Where one colour sits in a framebuffer pixel: lowest bit and number of bits.
using FbChannel = PixelChannel;

// The visible part of a framebuffer, as the layer writes it.
struct FbSurface {
    uint8_t* base;       // first byte of the visible screen
    int width;           // visible pixels per row
    int height;          // visible rows
    int stride;          // bytes from one row to the next
    int bytes_per_pixel; // 1 (indexed: the pixel is the palette index), 2, 3 or 4
    FbChannel red, green, blue;
};

// A 6-bit colour component (0..63) widened to 8 bits so that 63 becomes 255.
uint8_t fb_widen(int component);

// The framebuffer pixel value of a colour of 6-bit components (only their low 6 bits
// count). On an indexed surface the value is not used; the colour map is.
uint32_t fb_pack(const FbSurface& surface, int red, int green, int blue);

// Sets every visible pixel of the surface to 0 (black). Safe in a signal handler.
void fb_clear(const FbSurface& surface);

// Shows a picture of palette indices at its placement (whole_placement on the surface's
// size): each pixel becomes lut[index], repeated scale times in both directions. row is
// scratch room of at least width x scale x bytes_per_pixel bytes, so the framebuffer is
// only written, never read. The placement must fit the surface.
void fb_show(const FbSurface& surface, const Placement& place, const Image& picture, const uint32_t lut[256],
             uint8_t* row);
