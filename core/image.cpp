// The image record's operations: allocation, release, fill and the scaled, clipped copy.
#include "core/image.h"

#include <cstdlib>
#include <cstring>
#include <vector>

int image_alloc(Image** out, uint32_t width, uint32_t height)
{
    *out = static_cast<Image*>(std::malloc(sizeof(Image)));
    if (*out == nullptr)
        return -1;
    (*out)->width = (int32_t)width;
    (*out)->height = (int32_t)height;
    (*out)->pixels = static_cast<uint8_t*>(std::calloc((size_t)width * height, 1));
    if ((*out)->pixels == nullptr)
        return -2;
    return 0;
}

void image_free(Image** image)
{
    if (*image == nullptr)
        return;
    std::free((*image)->pixels);
    std::free(*image);
}

void image_fill(Image* image, int value)
{
    std::memset(image->pixels, value & 0xFF, (size_t)image->width * (size_t)image->height);
}

namespace {

// Source column offsets of one destination row, reused by every row of a copy, so the
// inner loop is one load and one store per pixel.
std::vector<uint32_t> column_offsets;

void copy_row(uint8_t* d, const uint8_t* s, const uint32_t* cols, uint32_t n)
{
    uint32_t i = 0;
    for (; i < (n & 3u); ++i)
        d[i] = s[cols[i]];
    for (; i < n; i += 4) {
        d[i] = s[cols[i]];
        d[i + 1] = s[cols[i + 1]];
        d[i + 2] = s[cols[i + 2]];
        d[i + 3] = s[cols[i + 3]];
    }
}

void copy_row_keyed(uint8_t* d, const uint8_t* s, const uint32_t* cols, uint32_t n, uint8_t key)
{
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t v = s[cols[i]];
        if (v != key)
            d[i] = v;
    }
}

} // namespace

void image_scale_copy(Image* dst, int32_t dst_x, int32_t dst_y, uint32_t dst_w, uint32_t dst_h, const Image* src,
                      int32_t src_x, int32_t src_y, uint32_t src_w, uint32_t src_h, uint32_t key, uint32_t transparent)
{
    // The clipping works in 32-bit arithmetic with the order of steps of the original
    // effect code; a left or top clip keeps the right or bottom part of the source, and a
    // source cut short by its own edge is stretched over the whole destination.
    const int64_t DW = dst->width, DH = dst->height, SW = src->width, SH = src->height;
    if (src_x < 0 || src_y < 0 || src_w == 0 || src_h == 0 || dst_w == 0 || dst_h == 0)
        return;
    uint32_t step_x = (src_w * 1024u) / dst_w;
    uint32_t step_y = (src_h * 1024u) / dst_h;

    if (dst_x < 0) {
        dst_w += (uint32_t)dst_x;
        dst_x = 0;
        uint32_t t = (dst_w * step_x) >> 10;
        src_x = (int32_t)((uint32_t)src_x + src_w - t);
        src_w = t;
    }
    if (dst_y < 0) {
        dst_h += (uint32_t)dst_y;
        dst_y = 0;
        uint32_t t = (dst_h * step_y) >> 10;
        src_y = (int32_t)((uint32_t)src_y + src_h - t);
        src_h = t;
    }
    if (src_x < 0 || src_y < 0 || src_w == 0 || src_h == 0 || dst_w == 0 || dst_h == 0)
        return;
    step_x = (src_w * 1024u) / dst_w;
    step_y = (src_h * 1024u) / dst_h;

    if (dst_x >= DW || dst_y >= DH)
        return;
    // Sums compared unwrapped: a huge width must clip, never wrap past the test.
    if ((int64_t)dst_x + dst_w > DW) {
        dst_w = (uint32_t)(DW - dst_x);
        src_w = (dst_w * step_x) >> 10;
    }
    if ((int64_t)dst_y + dst_h > DH) {
        dst_h = (uint32_t)(DH - dst_y);
        src_h = (dst_h * step_y) >> 10;
    }
    if (src_x >= SW || src_y >= SH)
        return;
    if ((int64_t)src_x + src_w > SW)
        src_w = (uint32_t)(SW - src_x);
    if ((int64_t)src_y + src_h > SH)
        src_h = (uint32_t)(SH - src_y);
    if (src_w == 0 || src_h == 0 || dst_w == 0 || dst_h == 0)
        return;
    step_x = (src_w * 1024u) / dst_w;
    step_y = (src_h * 1024u) / dst_h;

    if (column_offsets.size() < dst_w)
        column_offsets.resize(dst_w);
    uint32_t* cols = column_offsets.data();
    for (uint32_t i = 0, fx = 0; i < dst_w; ++i, fx += step_x)
        cols[i] = (uint32_t)src_x + (fx >> 10);

    const bool keyed = (transparent & 0xFFu) != 0;
    // A destination row whose source row repeats the previous one is the previous
    // destination row again, unless the copy reads what it writes.
    const bool reuse_rows = !keyed && dst->pixels != src->pixels;
    const uint8_t key_byte = (uint8_t)key;
    uint32_t previous_row = UINT32_MAX;
    uint8_t* previous_dst = nullptr;
    for (uint32_t j = 0, fy = 0; j < dst_h; ++j, fy += step_y) {
        uint32_t row = (uint32_t)src_y + (fy >> 10);
        const uint8_t* s = src->pixels + (size_t)row * (size_t)SW;
        uint8_t* d = dst->pixels + (size_t)(dst_y + j) * (size_t)DW + (size_t)dst_x;
        if (keyed)
            copy_row_keyed(d, s, cols, dst_w, key_byte);
        else if (reuse_rows && row == previous_row)
            std::memcpy(d, previous_dst, dst_w);
        else
            copy_row(d, s, cols, dst_w);
        previous_row = row;
        previous_dst = d;
    }
}
