// The per-frame conversion of palette indices into the frame image's pixels.
#include "display/x11/x11_convert.h"

#include <array>
#include <cstring>

namespace {

void channel_of_mask(unsigned long mask, int32_t* shift, int32_t* width)
{
    *shift = 0;
    *width = 0;
    if (mask == 0)
        return;
    while ((mask & 1) == 0) {
        mask >>= 1;
        ++*shift;
    }
    while ((mask & 1) != 0) {
        mask >>= 1;
        ++*width;
    }
}

uint32_t channel_value(uint8_t component, int32_t shift, int32_t width)
{
    return (uint32_t)((((uint64_t)component << width) >> 8) << shift);
}

// Stores through memcpy: frame rows need not be aligned to the element size.
template <typename T>
inline void put(uint8_t* at, T value)
{
    std::memcpy(at, &value, sizeof value);
}

// One picture row to one frame row, an element per pixel.
template <typename T>
void convert_row(const uint8_t* src, int32_t width, const T* single, uint8_t* row)
{
    int32_t x = 0;
    for (; x < width % 4; ++x)
        put(row + (size_t)x * sizeof(T), single[src[x]]);
    // Four pixels per step, so the table reads of one step do not wait on each other.
    for (; x < width; x += 4) {
        const T a = single[src[x]], b = single[src[x + 1]], c = single[src[x + 2]], d = single[src[x + 3]];
        uint8_t* r = row + (size_t)x * sizeof(T);
        put(r, a);
        put(r + sizeof(T), b);
        put(r + 2 * sizeof(T), c);
        put(r + 3 * sizeof(T), d);
    }
}

// One picture row to two frame rows: the doubled pixel goes straight into both, so the
// row is read once and nothing is copied afterwards.
template <typename T>
void convert_row_doubled(const uint8_t* src, int32_t width, const T* doubled, uint8_t* top, uint8_t* bottom)
{
    int32_t x = 0;
    for (; x < width % 4; ++x) {
        const T pair = doubled[src[x]];
        put(top + (size_t)x * sizeof(T), pair);
        put(bottom + (size_t)x * sizeof(T), pair);
    }
    // Four pixels per step: four table reads, eight stores.
    for (; x < width; x += 4) {
        const T a = doubled[src[x]], b = doubled[src[x + 1]], c = doubled[src[x + 2]], d = doubled[src[x + 3]];
        uint8_t* t = top + (size_t)x * sizeof(T);
        uint8_t* u = bottom + (size_t)x * sizeof(T);
        put(t, a);
        put(t + sizeof(T), b);
        put(t + 2 * sizeof(T), c);
        put(t + 3 * sizeof(T), d);
        put(u, a);
        put(u + sizeof(T), b);
        put(u + 2 * sizeof(T), c);
        put(u + 3 * sizeof(T), d);
    }
}

template <typename Single, typename Double>
void convert(const Image& image, const Single* single, const Double* doubled, const FrameLayout& frame)
{
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* src = image.pixels + (size_t)y * (size_t)image.width;
        uint8_t* row = frame.data + (size_t)y * (size_t)frame.pixel_size * (size_t)frame.bytes_per_line;
        if (frame.pixel_size == 1)
            convert_row(src, image.width, single, row);
        else
            convert_row_doubled(src, image.width, doubled, row, row + frame.bytes_per_line);
    }
}

// An indexed visual shows the indices themselves.
constexpr std::array<uint8_t, 256> kIdentity = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[(size_t)i] = (uint8_t)i;
    return t;
}();
constexpr std::array<uint16_t, 256> kIdentityDoubled = [] {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[(size_t)i] = (uint16_t)(i * 0x0101);
    return t;
}();

} // namespace

ChannelLayout channels_from_masks(unsigned long red_mask, unsigned long green_mask, unsigned long blue_mask)
{
    ChannelLayout c;
    channel_of_mask(red_mask, &c.red_shift, &c.red_width);
    channel_of_mask(green_mask, &c.green_shift, &c.green_width);
    channel_of_mask(blue_mask, &c.blue_shift, &c.blue_width);
    return c;
}

uint32_t channel_pixel(const ChannelLayout& c, uint8_t red, uint8_t green, uint8_t blue)
{
    return channel_value(red, c.red_shift, c.red_width) + channel_value(green, c.green_shift, c.green_width) +
           channel_value(blue, c.blue_shift, c.blue_width);
}

void pixel_table_fill(PixelTable* table, const uint32_t values[256])
{
    for (int i = 0; i < 256; ++i) {
        const uint32_t v = values[i];
        table->single8[i] = (uint8_t)v;
        table->single16[i] = (uint16_t)v;
        table->single32[i] = v;
        table->double8[i] = (uint16_t)((v & 0xFF) * 0x0101);
        table->double16[i] = (v & 0xFFFF) * 0x00010001u;
        table->double32[i] = (uint64_t)v * 0x0000000100000001u;
    }
}

bool frame_convert_handles(int32_t bits_per_pixel)
{
    return bits_per_pixel == 8 || bits_per_pixel == 16 || bits_per_pixel == 32;
}

void frame_convert(const Image& image, const PixelTable* table, const FrameLayout& frame)
{
    if (table == nullptr) {
        if (frame.pixel_size == 1) {
            // Indices go out unchanged: a plain copy per row.
            for (int32_t y = 0; y < image.height; ++y)
                std::memcpy(frame.data + (size_t)y * (size_t)frame.bytes_per_line,
                            image.pixels + (size_t)y * (size_t)image.width, (size_t)image.width);
        } else {
            convert(image, kIdentity.data(), kIdentityDoubled.data(), frame);
        }
        return;
    }
    switch (frame.bits_per_pixel) {
    case 8:
        convert(image, table->single8, table->double8, frame);
        break;
    case 16:
        convert(image, table->single16, table->double16, frame);
        break;
    case 32:
        convert(image, table->single32, table->double32, frame);
        break;
    }
}
