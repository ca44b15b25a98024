// Rectangle copies between images: plain blocks and colour-keyed sprites.
#include "fx/blit.h"

#include <cstddef>

namespace {

// One row of a sprite: the remainder of the width modulo 4 first, then groups of four.
void sprite_row(uint8_t* d, const uint8_t* s, int n, uint8_t key)
{
    int i = 0;
    for (; i < (n & 3); ++i)
        if (s[i] != key)
            d[i] = s[i];
    for (; i < n; i += 4) {
        if (s[i] != key)
            d[i] = s[i];
        if (s[i + 1] != key)
            d[i + 1] = s[i + 1];
        if (s[i + 2] != key)
            d[i + 2] = s[i + 2];
        if (s[i + 3] != key)
            d[i + 3] = s[i + 3];
    }
}

void plain_row(uint8_t* d, const uint8_t* s, int n)
{
    int i = 0;
    for (; i < (n & 3); ++i)
        d[i] = s[i];
    for (; i < n; i += 4) {
        d[i] = s[i];
        d[i + 1] = s[i + 1];
        d[i + 2] = s[i + 2];
        d[i + 3] = s[i + 3];
    }
}

} // namespace

void image_blit(Image* dst, int dst_x, int dst_y, const Image* src, int src_x, int src_y,
                int width, int height, uint8_t transparent, uint8_t sprite)
{
    for (int r = 0; r < height; ++r) {
        uint8_t* d = dst->pixels + (ptrdiff_t)(dst_y + r) * dst->width + dst_x;
        const uint8_t* s = src->pixels + (ptrdiff_t)(src_y + r) * src->width + src_x;
        if (sprite != 0)
            sprite_row(d, s, width, transparent);
        else
            plain_row(d, s, width);
    }
}
