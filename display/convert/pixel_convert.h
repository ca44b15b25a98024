// One indexed frame through its palette into the pixels of any back-end: the pixel values
// of a palette in a given format, the frame at a whole-number scale into rows of any
// stride or reduced smoothly, and where the picture goes in an output: the largest whole
// scale, centred.
#pragma once

#include <cstdint>

#include "core/image.h"

// Where one colour channel sits in a pixel: its lowest bit and its number of bits.
struct PixelChannel {
    int32_t shift;
    int32_t width;
};

// A pixel format: where its channels sit, and bits set in every pixel (an opaque alpha, say).
struct PixelFormat {
    PixelChannel red, green, blue;
    uint32_t fixed;
};

// The channel of a mask such as a visual's red mask: the lowest set bit and the run of set
// bits from there; a zero mask gives shift and width 0.
PixelChannel channel_from_mask(uint64_t mask);

// The pixel of one colour of 8-bit components: each keeps its top bits (a channel wider
// than 8 bits gets the component shifted up, low bits 0), placed at its shift.
uint32_t pixel_value(const PixelFormat& format, uint8_t red, uint8_t green, uint8_t blue);

// The 256 pixels of a palette in format. Called by the back-ends when the palette changes;
// the palette is read during the call only.
void palette_pixels(const PixelFormat& format, const Palette& palette, uint32_t pixels[256]);

// Where a conversion writes: image.height x scale rows of image.width x scale pixels of
// bytes_per_pixel bytes (the low bytes of each table pixel, in the machine's own byte
// order; three-byte pixels low byte first), rows stride bytes apart.
// Bytes past a row's pixels are left alone. With scratch (room for one output row) each
// row is made there and only copied out, so the output memory is written but never read,
// as video memory wants; without it the further rows of a pixel are copied from the first.
struct PixelTarget {
    uint8_t* data;
    int32_t stride;
    int32_t bytes_per_pixel; // 1, 2, 3 or 4
    int32_t scale;           // at least 1
    uint8_t* scratch;        // may be null
};

// Called by every back-end's present for each frame: writes every pixel of image as a
// scale x scale square of pixels[index] into target. Nothing is kept.
void convert_frame(const Image& image, const uint32_t pixels[256], const PixelTarget& target);

// Called by a back-end's present when the output is smaller than the picture: writes the
// picture shrunk to width x height (each at least 1 and at most the picture's own) into
// target's rows, every output pixel the average colour of the part of the picture it
// covers, each picture pixel weighted by how much of it lies there; so the whole picture
// shows. Pixels as convert_frame writes them; target.scale and target.scratch are not used.
void reduce_frame(const Image& image, const Palette& palette, const PixelFormat& format, int32_t width, int32_t height,
                  const PixelTarget& target);

// A picture's place in an output: top-left corner, size and whole-number scale.
struct Placement {
    int32_t x, y, width, height, scale;
};

// The largest whole-number scale (at least 1) at which a width x height picture fits an
// output of output_width x output_height, centred with the margins rounded down. A picture
// larger than the output at scale 1 gets negative margins: placement_fits tells.
Placement whole_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height);

// The smooth placement: the largest picture of the same shape that fits (filling the
// height on a wide output), centred; any scale, not only whole ones (scale is then 0).
Placement fitted_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height);

// Whether the placement lies wholly inside an output of this size.
bool placement_fits(const Placement& place, int32_t output_width, int32_t output_height);
