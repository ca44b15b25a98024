// Palette conversion, whole-number scaling and placement for the SDL back-end.
#include "display/sdl/sdl_convert.h"

#include <cstring>

void sdl_palette_pixels(const Palette& palette, uint32_t pixels[256])
{
    for (int i = 0; i < 256; ++i)
        pixels[i] = 0xFF000000u | (uint32_t)palette.rgb[3 * i] << 16 | (uint32_t)palette.rgb[3 * i + 1] << 8 |
                    (uint32_t)palette.rgb[3 * i + 2];
}

void sdl_frame_convert(const Image& image, const uint32_t table[256], uint8_t* out, int32_t pitch, int32_t scale)
{
    const size_t row_bytes = (size_t)image.width * (size_t)scale * sizeof(uint32_t);
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* source = image.pixels + (size_t)y * (size_t)image.width;
        uint8_t* first = out + (size_t)y * (size_t)scale * (size_t)pitch;
        uint32_t* row = reinterpret_cast<uint32_t*>(first);
        // One table look-up a source pixel; the other rows of its square are copies.
        if (scale == 1) {
            for (int32_t x = 0; x < image.width; ++x)
                row[x] = table[source[x]];
        } else {
            for (int32_t x = 0; x < image.width; ++x) {
                const uint32_t v = table[source[x]];
                for (int32_t k = 0; k < scale; ++k)
                    *row++ = v;
            }
        }
        for (int32_t k = 1; k < scale; ++k)
            std::memcpy(first + (size_t)k * (size_t)pitch, first, row_bytes);
    }
}

SdlPlacement sdl_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height)
{
    int32_t scale = 1;
    while (width * (scale + 1) <= output_width && height * (scale + 1) <= output_height)
        ++scale;
    SdlPlacement p;
    p.scale = scale;
    p.width = width * scale;
    p.height = height * scale;
    p.x = (output_width - p.width) / 2;
    p.y = (output_height - p.height) / 2;
    return p;
}

SdlPlacement sdl_smooth_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height)
{
    SdlPlacement p;
    p.scale = 1;
    p.height = output_height;
    p.width = (int32_t)((int64_t)output_height * width / height);
    if (p.width > output_width) {
        p.width = output_width;
        p.height = (int32_t)((int64_t)output_width * height / width);
    }
    p.x = (output_width - p.width) / 2;
    p.y = (output_height - p.height) / 2;
    return p;
}
