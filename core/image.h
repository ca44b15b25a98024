// The 8-bit indexed picture record and the operations every module uses on it.
#pragma once

#include <cstdint>

// A rectangle of palette indices: width x height bytes, rows from the top, no gap
// between rows; pixel (x, y) is pixels[y * width + x].
struct Image {
    int32_t width;
    int32_t height;
    uint8_t* pixels;
};

// 256 colours of red, green and blue bytes (0..255), entry i at bytes 3i..3i+2.
struct Palette {
    uint8_t rgb[768];
};
static_assert(sizeof(Palette) == 768);

// Creates a width x height image with every pixel 0 and stores it in *out.
// Result: 0 done; -1 the record could not be allocated (*out is null); -2 the pixel
// block could not be allocated (*out holds the record, its pixels null). The caller
// owns the image and releases it with image_free, also after -2.
int image_alloc(Image** out, uint32_t width, uint32_t height);

// Releases the pixels and the record of *image; nothing when *image is null. The
// caller's pointer is left as it was: every image is released once, by its owner.
void image_free(Image** image);

// Sets every pixel to the low 8 bits of value.
void image_fill(Image* image, int value);

// Copies the source rectangle onto the destination rectangle, scaled to its size
// (nearest neighbour, fractions cut off), clipped to both images. With the low 8 bits
// of transparent non-zero, source pixels equal to the low 8 bits of key are skipped.
// Bad or wholly invisible rectangles draw nothing. Neither image is kept.
void image_scale_copy(Image* dst, int32_t dst_x, int32_t dst_y, uint32_t dst_w, uint32_t dst_h, const Image* src,
                      int32_t src_x, int32_t src_y, uint32_t src_w, uint32_t src_h, uint32_t key, uint32_t transparent);
