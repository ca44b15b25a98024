// Palette pixels, the scaled frame conversion and the whole-number placement.
#include "display/convert/pixel_convert.h"

#include <cstring>

namespace {

uint32_t channel_bits(uint8_t component, const PixelChannel& channel)
{
    return (uint32_t)((((uint64_t)component << channel.width) >> 8) << channel.shift);
}

// Stores through memcpy: output rows need not be aligned to the pixel size.
template <typename T>
inline void put(uint8_t* at, T value)
{
    std::memcpy(at, &value, sizeof value);
}

// One picture row as output pixels of type T, each kScale times (scale when kScale is 0,
// for the rare large scales). One table look-up per picture pixel; four look-ups before
// their stores at scales 1 and 2, since a store through bytes might alias the table and would otherwise
// hold back the next look-up.
template <typename T, int kScale>
void widen_row(const uint8_t* from, int32_t width, const uint32_t* pixels, int32_t scale, uint8_t* to)
{
    const int32_t times = kScale > 0 ? kScale : scale;
    int32_t x = 0;
    if constexpr (kScale == 1 || kScale == 2) // larger scales measured faster without
        for (; x + 4 <= width; x += 4) {
            const T v[4] = {(T)pixels[from[x]], (T)pixels[from[x + 1]], (T)pixels[from[x + 2]], (T)pixels[from[x + 3]]};
            for (const T one : v)
                for (int32_t s = 0; s < times; ++s, to += sizeof(T))
                    put(to, one);
        }
    for (; x < width; ++x) {
        const T v = (T)pixels[from[x]];
        for (int32_t s = 0; s < times; ++s, to += sizeof(T))
            put(to, v);
    }
}

// Three-byte pixels have no integer type: low byte first.
void widen_row_24(const uint8_t* from, int32_t width, const uint32_t* pixels, int32_t scale, uint8_t* to)
{
    for (int32_t x = 0; x < width; ++x) {
        const uint32_t v = pixels[from[x]];
        for (int32_t s = 0; s < scale; ++s) {
            *to++ = (uint8_t)v;
            *to++ = (uint8_t)(v >> 8);
            *to++ = (uint8_t)(v >> 16);
        }
    }
}

using RowWidener = void (*)(const uint8_t*, int32_t, const uint32_t*, int32_t, uint8_t*);

// The scales the programs use get a loop of their own, so the inner loop is plain stores.
template <typename T>
RowWidener widener_for_scale(int32_t scale)
{
    switch (scale) {
    case 1: return widen_row<T, 1>;
    case 2: return widen_row<T, 2>;
    case 3: return widen_row<T, 3>;
    case 4: return widen_row<T, 4>;
    default: return widen_row<T, 0>;
    }
}

RowWidener widener(int32_t bytes_per_pixel, int32_t scale)
{
    switch (bytes_per_pixel) {
    case 1: return widener_for_scale<uint8_t>(scale);
    case 2: return widener_for_scale<uint16_t>(scale);
    case 3: return widen_row_24;
    default: return widener_for_scale<uint32_t>(scale);
    }
}

} // namespace

PixelChannel channel_from_mask(uint64_t mask)
{
    PixelChannel c{0, 0};
    if (mask == 0)
        return c;
    while ((mask & 1) == 0) {
        mask >>= 1;
        ++c.shift;
    }
    while ((mask & 1) != 0) {
        mask >>= 1;
        ++c.width;
    }
    return c;
}

uint32_t pixel_value(const PixelFormat& format, uint8_t red, uint8_t green, uint8_t blue)
{
    return format.fixed | channel_bits(red, format.red) | channel_bits(green, format.green) |
           channel_bits(blue, format.blue);
}

void palette_pixels(const PixelFormat& format, const Palette& palette, uint32_t pixels[256])
{
    for (int i = 0; i < 256; ++i)
        pixels[i] = pixel_value(format, palette.rgb[3 * i], palette.rgb[3 * i + 1], palette.rgb[3 * i + 2]);
}

void convert_frame(const Image& image, const uint32_t pixels[256], const PixelTarget& target)
{
    const RowWidener widen = widener(target.bytes_per_pixel, target.scale);
    const size_t row_bytes = (size_t)image.width * (size_t)target.scale * (size_t)target.bytes_per_pixel;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* from = image.pixels + (size_t)y * (size_t)image.width;
        uint8_t* first = target.data + (size_t)y * (size_t)target.scale * (size_t)target.stride;
        uint8_t* made = target.scratch != nullptr ? target.scratch : first;
        widen(from, image.width, pixels, target.scale, made);
        for (int32_t s = target.scratch != nullptr ? 0 : 1; s < target.scale; ++s)
            std::memcpy(first + (size_t)s * (size_t)target.stride, made, row_bytes);
    }
}

Placement whole_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height)
{
    int32_t scale = 1;
    if (width > 0 && height > 0) {
        const int32_t across = output_width / width, down = output_height / height;
        scale = across < down ? across : down;
        if (scale < 1)
            scale = 1;
    }
    Placement p;
    p.scale = scale;
    p.width = width * scale;
    p.height = height * scale;
    p.x = (output_width - p.width) / 2;
    p.y = (output_height - p.height) / 2;
    return p;
}

Placement fitted_placement(int32_t output_width, int32_t output_height, int32_t width, int32_t height)
{
    Placement p;
    p.scale = 0;
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

bool placement_fits(const Placement& place, int32_t output_width, int32_t output_height)
{
    return place.x >= 0 && place.y >= 0 && place.x + place.width <= output_width &&
           place.y + place.height <= output_height;
}
