// Rectangle copies between images: plain blocks and colour-keyed sprites.
#include "fx/blit.h"

#include <algorithm>
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

void image_blit(Image* dst, int dst_x, int dst_y, const Image* src, int src_x, int src_y, int width, int height,
                uint8_t transparent, uint8_t sprite)
{
    // A rectangle reaching past either image (a trembling word near an edge) is cut to the
    // part that lies inside both, the two corners moving together; inside, every call
    // copies exactly the rectangle it names. Sums in 64 bits: no coordinate can wrap.
    int64_t dx = dst_x, dy = dst_y, sx = src_x, sy = src_y, w = width, h = height;
    const int64_t left = std::max<int64_t>({0, -dx, -sx});
    const int64_t top = std::max<int64_t>({0, -dy, -sy});
    dx += left;
    sx += left;
    w -= left;
    dy += top;
    sy += top;
    h -= top;
    w = std::min<int64_t>({w, (int64_t)dst->width - dx, (int64_t)src->width - sx});
    h = std::min<int64_t>({h, (int64_t)dst->height - dy, (int64_t)src->height - sy});
    if (w <= 0 || h <= 0)
        return;
    for (int64_t r = 0; r < h; ++r) {
        uint8_t* d = dst->pixels + (dy + r) * dst->width + dx;
        const uint8_t* s = src->pixels + (sy + r) * src->width + sx;
        if (sprite != 0)
            sprite_row(d, s, (int)w, transparent);
        else
            plain_row(d, s, (int)w);
    }
}
