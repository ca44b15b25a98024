// The back-ends' one conversion without a server: channels and pixel values, the frame
// against a literal conversion on padded rows, the reduction against the area average, the
// placement; and the X11 back-end's frames in layouts the conversion does not write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "display/x11/display_x11.h"
#include "display/convert/pixel_convert.h"

namespace {

TEST(PixelConvert, ChannelsAndPixelValues)
{
    const PixelFormat c16 = {channel_from_mask(0xF800), channel_from_mask(0x07E0), channel_from_mask(0x001F), 0};
    EXPECT_EQ(c16.red.shift, 11);
    EXPECT_EQ(c16.green.shift, 5);
    EXPECT_EQ(c16.blue.shift, 0);
    EXPECT_EQ(c16.red.width, 5);
    EXPECT_EQ(c16.green.width, 6);
    EXPECT_EQ(c16.blue.width, 5);
    EXPECT_EQ(pixel_value(c16, 255, 0, 0), 0xF800u);
    EXPECT_EQ(pixel_value(c16, 255, 255, 255), 0xFFFFu);
    EXPECT_EQ(pixel_value(c16, 128, 128, 128), 0x8410u);

    const PixelFormat c24 = {channel_from_mask(0xFF0000), channel_from_mask(0x00FF00), channel_from_mask(0x0000FF), 0};
    EXPECT_EQ(c24.red.shift, 16);
    EXPECT_EQ(c24.green.shift, 8);
    EXPECT_EQ(c24.red.width + c24.green.width + c24.blue.width, 24);
    for (int v : {0, 1, 127, 128, 254, 255})
        EXPECT_EQ(pixel_value(c24, (uint8_t)v, (uint8_t)(255 - v), (uint8_t)(v / 2)),
                  (uint32_t)(v * 65536 + (255 - v) * 256 + v / 2));

    // 15 bits, 8-bit TrueColor with red at the bottom, 10-bit channels, and an opaque
    // alpha over red in the lowest byte (the canvas's RGBA words).
    const PixelFormat c15 = {channel_from_mask(0x7C00), channel_from_mask(0x03E0), channel_from_mask(0x001F), 0};
    EXPECT_EQ(pixel_value(c15, 255, 255, 255), 0x7FFFu);
    const PixelFormat c8 = {channel_from_mask(0x07), channel_from_mask(0x38), channel_from_mask(0xC0), 0};
    EXPECT_EQ(c8.green.shift, 3);
    EXPECT_EQ(c8.blue.width, 2);
    EXPECT_EQ(pixel_value(c8, 255, 0, 0), 0x07u);
    EXPECT_EQ(pixel_value(c8, 0, 0, 255), 0xC0u);
    EXPECT_EQ(pixel_value(c8, 0x80, 0x40, 0x40), 0x04u | (0x2u << 3) | (0x1u << 6));
    const PixelFormat c30 = {channel_from_mask(0x3FF00000), channel_from_mask(0x000FFC00), channel_from_mask(0x3FF), 0};
    EXPECT_EQ(c30.red.width, 10);
    EXPECT_EQ(pixel_value(c30, 255, 1, 0), (0x3FCu << 20) | (0x004u << 10));
    const PixelFormat rgba = {{0, 8}, {8, 8}, {16, 8}, 0xFF000000u};
    EXPECT_EQ(pixel_value(rgba, 0x12, 0x34, 0x56), 0xFF563412u);

    const PixelFormat none = {channel_from_mask(0), channel_from_mask(0), channel_from_mask(0), 0};
    EXPECT_EQ(pixel_value(none, 255, 255, 255), 0u);
}

// Every pixel size, at the scales the programs use and an odd large one, with and without
// the scratch row: each output pixel against the one worked out for its picture pixel, on
// rows padded past the picture, whose padding must stay untouched.
TEST(PixelConvert, FrameMatchesTheLiteralConversionOnPaddedRows)
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

    for (int32_t bytes : {1, 2, 3, 4})
        for (int32_t scale : {1, 2, 3, 4, 5})
            for (bool scratch : {false, true}) {
                SCOPED_TRACE(std::to_string(bytes) + " bytes, scale " + std::to_string(scale) +
                             (scratch ? ", scratch row" : ""));
                const int32_t stride = width * scale * bytes + 12;
                std::vector<uint8_t> frame((size_t)(stride * height * scale), 0xAB);
                std::vector<uint8_t> row((size_t)stride);
                convert_frame(image, values, {frame.data(), stride, bytes, scale, scratch ? row.data() : nullptr});
                int wrong = 0;
                for (int32_t y = 0; y < height * scale; ++y) {
                    const uint8_t* at = frame.data() + (size_t)(y * stride);
                    for (int32_t x = 0; x < width * scale; ++x) {
                        const uint32_t full = values[pixels[(size_t)((y / scale) * width + x / scale)]];
                        const uint32_t want = bytes == 4 ? full : full & ((1u << (8 * bytes)) - 1);
                        uint32_t got = 0;
                        for (int32_t b = 0; b < bytes; ++b) // little-endian, as the machines we build for
                            got |= (uint32_t)at[x * bytes + b] << (8 * b);
                        wrong += got != want;
                    }
                    for (int32_t b = width * scale * bytes; b < stride; ++b)
                        wrong += at[b] != 0xAB;
                }
                EXPECT_EQ(wrong, 0);
            }
}

// The reduction against the literal area average in floating point: every output pixel
// the mean of the picture's colours over the rectangle it covers, at shrinks by whole and
// by odd factors; at the picture's own size it is the plain conversion.
TEST(PixelConvert, ReductionIsTheAreaAverage)
{
    std::mt19937 random(11);
    const int32_t width = 40, height = 30;
    std::vector<uint8_t> pixels((size_t)(width * height));
    for (uint8_t& p : pixels)
        p = (uint8_t)random();
    const Image image{width, height, pixels.data()};
    Palette palette;
    for (uint8_t& c : palette.rgb)
        c = (uint8_t)random();
    const PixelFormat rgb = {{16, 8}, {8, 8}, {0, 8}, 0};
    // How much of picture cell [i, i + 1) lies in output cell o of n over a length of size.
    const auto overlap = [](int i, int o, int n, int size) {
        const double a = (double)o * size / n, b = (double)(o + 1) * size / n;
        return std::max(0.0, std::min(b, i + 1.0) - std::max(a, (double)i));
    };
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{40, 30}, {20, 15}, {25, 19}, {7, 29}, {1, 1}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const int32_t stride = w * 4 + 8;
        std::vector<uint8_t> out((size_t)(stride * h));
        reduce_frame(image, palette, rgb, w, h, {out.data(), stride, 4, 1, nullptr});
        int wrong = 0;
        for (int oy = 0; oy < h; ++oy)
            for (int ox = 0; ox < w; ++ox) {
                double sum[3] = {0, 0, 0}, area = 0;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) {
                        const double a = overlap(x, ox, w, width) * overlap(y, oy, h, height);
                        area += a;
                        for (int c = 0; c < 3; ++c)
                            sum[c] += a * palette.rgb[3 * pixels[(size_t)(y * width + x)] + c];
                    }
                uint32_t got;
                std::memcpy(&got, out.data() + (size_t)(oy * stride + ox * 4), 4);
                for (int c = 0; c < 3; ++c)
                    wrong += std::abs((int)((got >> (16 - 8 * c)) & 0xFF) - sum[c] / area) > 0.51;
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(PixelConvert, PlacementIsTheLargestWholeScaleCentredOrTheSmoothFit)
{
    struct Case {
        int w, h;
        Placement want;
    };
    for (const Case& c : {Case{960, 720, {0, 0, 960, 720, 3}}, Case{1000, 700, {180, 110, 640, 480, 2}},
                          Case{320, 240, {0, 0, 320, 240, 1}}, Case{200, 100, {-60, -70, 320, 240, 1}},
                          Case{1920, 1080, {320, 60, 1280, 960, 4}}, Case{3840, 2160, {480, 0, 2880, 2160, 9}}}) {
        const Placement p = whole_placement(c.w, c.h, 320, 240);
        EXPECT_EQ(std::vector<int>({p.x, p.y, p.width, p.height, p.scale}),
                  std::vector<int>({c.want.x, c.want.y, c.want.width, c.want.height, c.want.scale}))
            << c.w << "x" << c.h;
        EXPECT_EQ(placement_fits(p, c.w, c.h), c.w >= 320 && c.h >= 240) << c.w << "x" << c.h;
    }
    const Placement smooth = fitted_placement(1920, 1080, 320, 240);
    EXPECT_EQ(std::vector<int>({smooth.x, smooth.y, smooth.width, smooth.height}),
              std::vector<int>({240, 0, 1440, 1080}));
    const Placement tall = fitted_placement(640, 1000, 320, 240);
    EXPECT_EQ(std::vector<int>({tall.x, tall.y, tall.width, tall.height}), std::vector<int>({0, 260, 640, 480}));
}

// Frames laid out as some servers want them (three-byte elements, the other byte order)
// go through Xlib's own pixel writer; each element is read back byte by byte.
TEST(PixelConvert, X11FrameFillWritesEveryLayout)
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
            SCOPED_TRACE(std::to_string(layout.bits) +
                         (layout.order == MSBFirst ? " bits MSB first" : " bits LSB first") + ", pixel size " +
                         std::to_string(size));
            const int depth = std::min(layout.bits, 24);
            uint32_t values[256];
            for (uint32_t& v : values)
                v = (uint32_t)random() & ((1u << depth) - 1);

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

            frame_fill(&frame, image, values, size);
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
