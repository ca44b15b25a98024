// The X11 back-end's pixel work without a server: channel layouts and pixel values, and
// the frame conversion against a literal one, on padded rows and in foreign layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "display/x11/display_x11.h"
#include "display/x11/x11_convert.h"

namespace {

TEST(X11Convert, ChannelLayoutsAndPixelValues)
{
    const ChannelLayout c16 = channels_from_masks(0xF800, 0x07E0, 0x001F);
    EXPECT_EQ(c16.red_shift, 11);
    EXPECT_EQ(c16.green_shift, 5);
    EXPECT_EQ(c16.blue_shift, 0);
    EXPECT_EQ(c16.red_width, 5);
    EXPECT_EQ(c16.green_width, 6);
    EXPECT_EQ(c16.blue_width, 5);
    EXPECT_EQ(channel_pixel(c16, 255, 0, 0), 0xF800u);
    EXPECT_EQ(channel_pixel(c16, 255, 255, 255), 0xFFFFu);
    EXPECT_EQ(channel_pixel(c16, 128, 128, 128), 0x8410u);

    const ChannelLayout c24 = channels_from_masks(0xFF0000, 0x00FF00, 0x0000FF);
    EXPECT_EQ(c24.red_shift, 16);
    EXPECT_EQ(c24.green_shift, 8);
    EXPECT_EQ(c24.red_width + c24.green_width + c24.blue_width, 24);
    for (int v : {0, 1, 127, 128, 254, 255})
        EXPECT_EQ(channel_pixel(c24, (uint8_t)v, (uint8_t)(255 - v), (uint8_t)(v / 2)),
                  (uint32_t)(v * 65536 + (255 - v) * 256 + v / 2));

    // 15 bits, 8-bit TrueColor with red at the bottom, and 10-bit channels.
    const ChannelLayout c15 = channels_from_masks(0x7C00, 0x03E0, 0x001F);
    EXPECT_EQ(channel_pixel(c15, 255, 255, 255), 0x7FFFu);
    const ChannelLayout c8 = channels_from_masks(0x07, 0x38, 0xC0);
    EXPECT_EQ(c8.green_shift, 3);
    EXPECT_EQ(c8.blue_width, 2);
    EXPECT_EQ(channel_pixel(c8, 255, 0, 0), 0x07u);
    EXPECT_EQ(channel_pixel(c8, 0, 0, 255), 0xC0u);
    EXPECT_EQ(channel_pixel(c8, 0x80, 0x40, 0x40), 0x04u | (0x2u << 3) | (0x1u << 6));
    const ChannelLayout c30 = channels_from_masks(0x3FF00000, 0x000FFC00, 0x000003FF);
    EXPECT_EQ(c30.red_width, 10);
    EXPECT_EQ(channel_pixel(c30, 255, 1, 0), (0x3FCu << 20) | (0x004u << 10));

    const ChannelLayout none = channels_from_masks(0, 0, 0);
    EXPECT_EQ(channel_pixel(none, 255, 255, 255), 0u);
}

// Every element size and pixel size, with a table and with indices unchanged: each frame
// element against the one worked out for its picture pixel, on rows padded past the
// picture, whose padding must stay untouched.
TEST(X11Convert, FrameMatchesTheLiteralConversionOnPaddedRows)
{
    std::mt19937 random(7);
    const int32_t width = 37, height = 11; // odd, so no loop may assume a multiple of four
    std::vector<uint8_t> pixels((size_t)(width * height));
    for (uint8_t& p : pixels)
        p = (uint8_t)random();
    const Image image{width, height, pixels.data()};
    uint32_t values[256];
    for (uint32_t& v : values)
        v = (uint32_t)random();
    PixelTable table;
    pixel_table_fill(&table, values);

    for (int32_t bits : {8, 16, 32})
        for (int32_t size : {1, 2})
            for (bool indexed : {false, true}) {
                if (indexed && bits != 8)
                    continue;
                SCOPED_TRACE(std::to_string(bits) + " bits, pixel size " + std::to_string(size) +
                             (indexed ? ", indices" : ", table"));
                const int32_t bytes = bits / 8;
                const int32_t stride = width * size * bytes + 12;
                std::vector<uint8_t> frame((size_t)(stride * height * size), 0xAB);
                ASSERT_TRUE(frame_convert_handles(bits));
                frame_convert(image, indexed ? nullptr : &table, {frame.data(), stride, bits, size});
                int wrong = 0;
                for (int32_t y = 0; y < height * size; ++y) {
                    const uint8_t* row = frame.data() + (size_t)(y * stride);
                    for (int32_t x = 0; x < width * size; ++x) {
                        const uint8_t index = pixels[(size_t)((y / size) * width + x / size)];
                        const uint32_t full = indexed ? index : values[index];
                        const uint32_t want = bits == 32 ? full : full & ((1u << bits) - 1);
                        uint32_t got = 0;
                        std::memcpy(&got, row + x * bytes, (size_t)bytes);
                        wrong += got != want;
                    }
                    for (int32_t b = width * size * bytes; b < stride; ++b)
                        wrong += row[b] != 0xAB;
                }
                EXPECT_EQ(wrong, 0);
            }
    EXPECT_FALSE(frame_convert_handles(24));
}

// Frames laid out as some servers want them (three-byte elements, the other byte order)
// go through Xlib's own pixel writer; each element is read back byte by byte.
TEST(X11Convert, FrameFillWritesEveryLayout)
{
    std::mt19937 random(11);
    const int32_t width = 13, height = 5;
    std::vector<uint8_t> pixels((size_t)(width * height));
    for (uint8_t& p : pixels)
        p = (uint8_t)random();
    const Image image{width, height, pixels.data()};

    const struct {
        int bits, order;
    } layouts[] = {{24, LSBFirst}, {24, MSBFirst}, {32, MSBFirst}, {16, MSBFirst}, {32, LSBFirst}, {16, LSBFirst}};
    for (const auto& layout : layouts)
        for (int size : {1, 2}) {
            SCOPED_TRACE(std::to_string(layout.bits) + (layout.order == MSBFirst ? " bits MSB first" : " bits LSB first") +
                         ", pixel size " + std::to_string(size));
            const int depth = std::min(layout.bits, 24);
            uint32_t values[256];
            for (uint32_t& v : values)
                v = (uint32_t)random() & ((1u << depth) - 1);
            PixelTable table;
            pixel_table_fill(&table, values);

            const int bytes = layout.bits / 8;
            const int stride = width * size * bytes + 8;
            std::vector<uint8_t> data((size_t)(stride * height * size), 0xAB);
            XImage frame{};
            frame.width = width * size;
            frame.height = height * size;
            frame.format = ZPixmap;
            frame.data = (char*)data.data();
            frame.byte_order = layout.order;
            frame.bitmap_unit = 32;
            frame.bitmap_bit_order = MSBFirst;
            frame.bitmap_pad = 32;
            frame.depth = depth;
            frame.bytes_per_line = stride;
            frame.bits_per_pixel = layout.bits;
            ASSERT_NE(XInitImage(&frame), 0);

            frame_fill(&frame, image, &table, size);
            int wrong = 0;
            for (int y = 0; y < height * size; ++y)
                for (int x = 0; x < width * size; ++x) {
                    const uint8_t* at = data.data() + y * stride + x * bytes;
                    uint32_t got = 0;
                    for (int b = 0; b < bytes; ++b)
                        got |= (uint32_t)at[layout.order == MSBFirst ? bytes - 1 - b : b] << (8 * b);
                    wrong += got != values[pixels[(size_t)((y / size) * width + x / size)]];
                }
            EXPECT_EQ(wrong, 0);
            EXPECT_EQ(data[(size_t)(stride - 1)], 0xAB); // row padding untouched
        }
}

} // namespace
