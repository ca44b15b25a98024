// Palette pixels, the scaled and the reduced frame conversion, and the placements.
#include "display/convert/pixel_convert.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

// One picture row summed into out_width colours (three sums each): picture pixel x covers
// [x * out_width, (x + 1) * out_width) and output pixel o covers [o * width, (o + 1) * width)
// on a common scale, and each adds its colour times the overlap. Every sum's weights add
// up to width.
void reduce_row(const uint8_t* from, int32_t width, const Palette& palette, int32_t out_width, uint64_t* sums)
{
    std::fill(sums, sums + 3 * (size_t)out_width, 0);
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* rgb = palette.rgb + 3 * from[x];
        const int64_t start = (int64_t)x * out_width, end = start + out_width;
        // At most two output pixels share a picture pixel, as the output is no wider.
        for (int64_t o = start / width; o * width < end; ++o) {
            const uint64_t weight = (uint64_t)(std::min(end, (o + 1) * width) - std::max(start, o * width));
            sums[3 * o] += weight * rgb[0];
            sums[3 * o + 1] += weight * rgb[1];
            sums[3 * o + 2] += weight * rgb[2];
        }
    }
}

void put_pixel(uint8_t* at, int32_t bytes_per_pixel, uint32_t value)
{
    switch (bytes_per_pixel) {
    case 1: *at = (uint8_t)value; break;
    case 2: put(at, (uint16_t)value); break;
    case 3:
        at[0] = (uint8_t)value;
        at[1] = (uint8_t)(value >> 8);
        at[2] = (uint8_t)(value >> 16);
        break;
    default: put(at, value); break;
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

void reduce_frame(const Image& image, const Palette& palette, const PixelFormat& format, int32_t width, int32_t height,
                  const PixelTarget& target)
{
    const uint64_t total = (uint64_t)image.width * (uint64_t)image.height;
    std::vector<uint64_t> row(3 * (size_t)width), sums(3 * (size_t)width);
    for (int32_t oy = 0; oy < height; ++oy) {
        std::fill(sums.begin(), sums.end(), 0);
        const int64_t top = (int64_t)oy * image.height, bottom = top + image.height;
        for (int64_t y = top / height; y * height < bottom; ++y) {
            const uint64_t weight = (uint64_t)(std::min(bottom, (y + 1) * height) - std::max(top, y * height));
            reduce_row(image.pixels + (size_t)y * (size_t)image.width, image.width, palette, width, row.data());
            for (size_t i = 0; i < sums.size(); ++i)
                sums[i] += weight * row[i];
        }
        uint8_t* to = target.data + (size_t)oy * (size_t)target.stride;
        for (int32_t ox = 0; ox < width; ++ox, to += target.bytes_per_pixel) {
            const uint64_t* c = &sums[3 * (size_t)ox];
            const auto mean = [&](uint64_t sum) { return (uint8_t)((sum + total / 2) / total); };
            put_pixel(to, target.bytes_per_pixel, pixel_value(format, mean(c[0]), mean(c[1]), mean(c[2])));
        }
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
