// Rectangle copies between images: plain blocks and colour-keyed sprites.
#pragma once

#include <cstdint>

#include "core/image.h"

// Copies width x height pixels from (src_x, src_y) of src to (dst_x, dst_y) of dst.
// With sprite non-zero, source pixels equal to transparent are skipped. The callers keep
// the rectangle inside both images; any part of it outside either is left out. Neither
// image is kept; src and dst may be one image where the rectangles do not overlap.
void image_blit(Image* dst, int dst_x, int dst_y, const Image* src, int src_x, int src_y, int width, int height,
                uint8_t transparent, uint8_t sprite);
