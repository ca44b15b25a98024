// A presented frame as true-colour pixels: through its palette, enlarged nearest-neighbour.
#include "video/convert.h"

#include <cstddef>
#include <cstring>

#include "display/convert/pixel_convert.h"

namespace {

// 0x00RRGGBB: bytes B, G, R, 0 in memory, as the encoder's scaler reads them.
constexpr PixelFormat kXrgb = {{16, 8}, {8, 8}, {0, 8}, 0};

} // namespace

void video_convert(const Image& image, const Palette& palette, int scale, uint32_t* out, int stride)
{
    uint32_t colours[256];
    palette_pixels(kXrgb, palette, colours);
    convert_frame(image, colours,
                  {reinterpret_cast<uint8_t*>(out), stride * (int32_t)sizeof(uint32_t), 4, scale, nullptr});
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
