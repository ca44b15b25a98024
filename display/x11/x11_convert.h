// Turning the 8-bit screen image into the frame image's pixels: channel layouts, the
// table of ready-made pixel values and the per-frame conversion. No server involved.
#pragma once

#include <cstdint>

#include "core/image.h"

// Where each colour channel sits in a TrueColor pixel: the position of the mask's lowest
// set bit and the number of consecutive set bits from there.
struct ChannelLayout {
    int32_t red_shift, red_width;
    int32_t green_shift, green_width;
    int32_t blue_shift, blue_width;
};

// The layout of a visual with these channel masks; a zero mask gives shift and width 0.
ChannelLayout channels_from_masks(unsigned long red_mask, unsigned long green_mask, unsigned long blue_mask);

// The pixel value of one palette colour: each component keeps its top bits (a channel
// wider than 8 bits gets the component shifted up, low bits 0), placed at its shift.
uint32_t channel_pixel(const ChannelLayout& channels, uint8_t red, uint8_t green, uint8_t blue);

// One ready-made pixel per palette index in each element size a frame may have, single
// and doubled (two equal pixels side by side, as pixel size 2 writes them).
struct PixelTable {
    uint8_t single8[256];
    uint16_t single16[256];
    uint32_t single32[256];
    uint16_t double8[256];
    uint32_t double16[256];
    uint64_t double32[256];
};

// Fills every form of the table from 256 pixel values; each form keeps the low bits
// that fit its element.
void pixel_table_fill(PixelTable* table, const uint32_t values[256]);

// The frame image's pixel memory as the conversion sees it. Elements are written in the
// machine's own byte order.
struct FrameLayout {
    uint8_t* data;
    int32_t bytes_per_line; // row stride, at least width x pixel size elements
    int32_t bits_per_pixel; // 8, 16 or 32
    int32_t pixel_size;     // 1 or 2: each picture pixel becomes a square of this side
};

// Whether frame_convert writes elements of this size.
bool frame_convert_handles(int32_t bits_per_pixel);

// Called by display_present for every frame: writes every pixel of image into frame as
// a pixel_size square, through table, or as the index itself when table is null (an
// indexed visual). The frame must hold image.height x pixel_size rows. Nothing is kept.
void frame_convert(const Image& image, const PixelTable* table, const FrameLayout& frame);
