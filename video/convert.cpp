// A presented frame as true-colour pixels: through its palette, enlarged nearest-neighbour.
#include "video/convert.h"

#include <cstring>

namespace {

// One row of source pixels, each written scale times; scale fixed at compile time for the
// common sizes, so the inner loop is a few plain stores.
template <int kScale>
void widen_row(const uint8_t* from, int width, const uint32_t* colours, uint32_t* to)
{
    for (int x = 0; x < width; ++x) {
        const uint32_t c = colours[from[x]];
        for (int s = 0; s < kScale; ++s)
            to[s] = c;
        to += kScale;
    }
}

void widen_row_any(const uint8_t* from, int width, const uint32_t* colours, int scale, uint32_t* to)
{
    for (int x = 0; x < width; ++x) {
        const uint32_t c = colours[from[x]];
        for (int s = 0; s < scale; ++s)
            to[s] = c;
        to += scale;
    }
}

} // namespace

void video_convert(const Image& image, const Palette& palette, int scale, uint32_t* out, int stride)
{
    uint32_t colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = (uint32_t)palette.rgb[3 * i] << 16 | (uint32_t)palette.rgb[3 * i + 1] << 8 | palette.rgb[3 * i + 2];
    const size_t row_bytes = (size_t)image.width * (size_t)scale * sizeof(uint32_t);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* from = image.pixels + (size_t)y * (size_t)image.width;
        uint32_t* first = out + (size_t)y * (size_t)scale * (size_t)stride;
        switch (scale) {
        case 1: widen_row<1>(from, image.width, colours, first); break;
        case 2: widen_row<2>(from, image.width, colours, first); break;
        case 3: widen_row<3>(from, image.width, colours, first); break;
        case 4: widen_row<4>(from, image.width, colours, first); break;
        default: widen_row_any(from, image.width, colours, scale, first); break;
        }
        for (int s = 1; s < scale; ++s)
            std::memcpy(first + (size_t)s * (size_t)stride, first, row_bytes);
    }
}

void video_widen(const uint32_t* pixels, int width, int height, int scale, uint32_t* out, int stride)
{
    const size_t row_bytes = (size_t)width * (size_t)scale * sizeof(uint32_t);
    for (int y = 0; y < height; ++y) {
        const uint32_t* from = pixels + (size_t)y * (size_t)width;
        uint32_t* first = out + (size_t)y * (size_t)scale * (size_t)stride;
        for (int x = 0; x < width; ++x)
            for (int s = 0; s < scale; ++s)
                first[x * scale + s] = from[x];
        for (int s = 1; s < scale; ++s)
            std::memcpy(first + (size_t)s * (size_t)stride, first, row_bytes);
    }
}
