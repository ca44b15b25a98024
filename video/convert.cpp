// A presented frame as true-colour pixels: through its palette, enlarged nearest-neighbour.
#include "video/convert.h"

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
