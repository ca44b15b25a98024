// Colour packing and the per-frame conversion onto the framebuffer.
#include "display/vgalayer/fbconvert.h"

#include <cstring>

uint8_t fb_widen(int component)
{
    int v = component & 63;
    return (uint8_t)((v << 2) | (v >> 4));
}

uint32_t fb_pack(const FbSurface& surface, int red, int green, int blue)
{
    const PixelFormat format = {surface.red, surface.green, surface.blue, 0};
    return pixel_value(format, fb_widen(red), fb_widen(green), fb_widen(blue));
}

void fb_clear(const FbSurface& surface)
{
    size_t bytes = (size_t)surface.width * (size_t)surface.bytes_per_pixel;
    for (int y = 0; y < surface.height; ++y)
        std::memset(surface.base + (size_t)y * (size_t)surface.stride, 0, bytes);
}

void fb_show(const FbSurface& surface, const Placement& place, const Image& picture, const uint32_t lut[256],
             uint8_t* row)
{
    const int bpp = surface.bytes_per_pixel;
    uint8_t* first = surface.base + (size_t)place.y * (size_t)surface.stride + (size_t)place.x * (size_t)bpp;
    convert_frame(picture, lut, {first, surface.stride, bpp, place.scale, row});
}
