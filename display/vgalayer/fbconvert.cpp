// Placement, colour packing and the per-frame conversion onto the framebuffer.
#include "display/vgalayer/fbconvert.h"

#include <cstring>

namespace {

// One picture row widened into scratch memory as framebuffer pixels of type P, each
// repeated scale times; the framebuffer itself is only written, never read, since
// reading video memory is slow.
template <typename P>
void widen_row(const uint8_t* src, int width, int scale, const uint32_t lut[256], uint8_t* row)
{
    P* out = reinterpret_cast<P*>(row);
    if (scale == 1) {
        for (int x = 0; x < width; ++x)
            out[x] = (P)lut[src[x]];
        return;
    }
    for (int x = 0; x < width; ++x) {
        P v = (P)lut[src[x]];
        for (int s = 0; s < scale; ++s)
            *out++ = v;
    }
}

// Three-byte pixels have no integer type: low byte first, as the framebuffer stores them.
void widen_row_24(const uint8_t* src, int width, int scale, const uint32_t lut[256], uint8_t* row)
{
    for (int x = 0; x < width; ++x) {
        uint32_t v = lut[src[x]];
        for (int s = 0; s < scale; ++s) {
            *row++ = (uint8_t)v;
            *row++ = (uint8_t)(v >> 8);
            *row++ = (uint8_t)(v >> 16);
        }
    }
}

uint32_t place_channel(const FbChannel& channel, int component)
{
    uint32_t v = fb_widen(component);
    if (channel.length <= 0)
        return 0;
    v = channel.length >= 8 ? v << (channel.length - 8) : v >> (8 - channel.length);
    return v << channel.offset;
}

} // namespace

FbPlacement fb_place(int width, int height, int fb_width, int fb_height)
{
    if (width <= 0 || height <= 0)
        return FbPlacement{0, 0, 0};
    int scale_x = fb_width / width;
    int scale_y = fb_height / height;
    int scale = scale_x < scale_y ? scale_x : scale_y;
    if (scale <= 0)
        return FbPlacement{0, 0, 0};
    return FbPlacement{scale, (fb_width - width * scale) / 2, (fb_height - height * scale) / 2};
}

uint8_t fb_widen(int component)
{
    int v = component & 63;
    return (uint8_t)((v << 2) | (v >> 4));
}

uint32_t fb_pack(const FbSurface& surface, int red, int green, int blue)
{
    return place_channel(surface.red, red) | place_channel(surface.green, green) | place_channel(surface.blue, blue);
}

void fb_clear(const FbSurface& surface)
{
    size_t bytes = (size_t)surface.width * (size_t)surface.bytes_per_pixel;
    for (int y = 0; y < surface.height; ++y)
        std::memset(surface.base + (size_t)y * (size_t)surface.stride, 0, bytes);
}

void fb_show(const FbSurface& surface, FbPlacement place, const uint8_t* picture, int width, int height,
             const uint32_t lut[256], uint8_t* row)
{
    int bpp = surface.bytes_per_pixel;
    size_t row_bytes = (size_t)width * (size_t)place.scale * (size_t)bpp;
    uint8_t* first = surface.base + (size_t)place.y * (size_t)surface.stride + (size_t)place.x * (size_t)bpp;
    // Each picture row is converted once and then copied to its scale screen rows.
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = picture + (size_t)y * (size_t)width;
        switch (bpp) {
        case 4: widen_row<uint32_t>(src, width, place.scale, lut, row); break;
        case 3: widen_row_24(src, width, place.scale, lut, row); break;
        case 2: widen_row<uint16_t>(src, width, place.scale, lut, row); break;
        default: widen_row<uint8_t>(src, width, place.scale, lut, row); break;
        }
        uint8_t* dst = first + (size_t)y * (size_t)place.scale * (size_t)surface.stride;
        for (int s = 0; s < place.scale; ++s, dst += surface.stride)
            std::memcpy(dst, row, row_bytes);
    }
}
