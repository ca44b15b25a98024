// The layer's conversion onto framebuffers in memory: placement, scaling, pixel
// formats and the widening of 6-bit colours.
#include <gtest/gtest.h>
#include <linux/fb.h>
#include <linux/ioctl.h>
#include <linux/kd.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/vgalayer/fbconvert.h"
#include "display/vgalayer/vgalayer.h"

// The layer's device calls meet a framebuffer in memory: this definition stands before
// the C library's, so the layer's framebuffer questions get a 320 x 240 XRGB screen, its
// waits for the retrace return at once and its console questions fail (no console is
// touched). Everything else goes to the kernel.
extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    switch (request) {
    case FBIOGET_FSCREENINFO: {
        fb_fix_screeninfo fix{};
        fix.type = FB_TYPE_PACKED_PIXELS;
        fix.visual = FB_VISUAL_TRUECOLOR;
        fix.line_length = 320 * 4;
        fix.smem_len = 320 * 4 * 240;
        *static_cast<fb_fix_screeninfo*>(arg) = fix;
        return 0;
    }
    case FBIOGET_VSCREENINFO: {
        fb_var_screeninfo var{};
        var.xres = var.xres_virtual = 320;
        var.yres = var.yres_virtual = 240;
        var.bits_per_pixel = 32;
        var.red = {16, 8, 0};
        var.green = {8, 8, 0};
        var.blue = {0, 8, 0};
        *static_cast<fb_var_screeninfo*>(arg) = var;
        return 0;
    }
    case FBIO_WAITFORVSYNC: return 0;
    case KDGETMODE: return -1; // no console here
    default: return (int)syscall(SYS_ioctl, fd, request, arg);
    }
}

namespace {

TEST(VgaLayer, PlacementIsTheLargestWholeScaleCentred)
{
    struct Case {
        int w, h, fb_w, fb_h;
        struct {
            int scale, x, y; // scale 0: the mode does not fit
        } want;
    };
    const Case cases[] = {
        {320, 240, 1280, 800, {3, 160, 40}}, {640, 480, 1280, 800, {1, 320, 160}}, {320, 200, 640, 480, {2, 0, 40}},
        {320, 240, 320, 240, {1, 0, 0}},     {800, 600, 640, 480, {0, 0, 0}},      {360, 480, 1920, 1080, {2, 600, 60}},
        {320, 240, 1281, 801, {3, 160, 40}}, {320, 240, 319, 2000, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        const Placement p = whole_placement(c.fb_w, c.fb_h, c.w, c.h);
        const bool fits = placement_fits(p, c.fb_w, c.fb_h);
        EXPECT_EQ(fits ? p.scale : 0, c.want.scale) << c.w << "x" << c.h << " on " << c.fb_w << "x" << c.fb_h;
        if (c.want.scale > 0) {
            EXPECT_EQ(p.x, c.want.x);
            EXPECT_EQ(p.y, c.want.y);
        }
    }
}

TEST(VgaLayer, SixBitColoursWidenToFullRangeInEachFormat)
{
    EXPECT_EQ(fb_widen(0), 0);
    EXPECT_EQ(fb_widen(63), 255);
    EXPECT_EQ(fb_widen(32), 130);
    EXPECT_EQ(fb_widen(1), 4);
    for (int v = 1; v < 64; ++v)
        EXPECT_GT(fb_widen(v), fb_widen(v - 1));

    FbSurface xrgb{nullptr, 0, 0, 0, 4, {16, 8}, {8, 8}, {0, 8}};
    EXPECT_EQ(fb_pack(xrgb, 63, 0, 0), 0x00ff0000u);
    EXPECT_EQ(fb_pack(xrgb, 63, 32, 1), 0x00ff8204u);
    EXPECT_EQ(fb_pack(xrgb, 63, 63, 63), 0x00ffffffu);
    FbSurface rgb565{nullptr, 0, 0, 0, 2, {11, 5}, {5, 6}, {0, 5}};
    EXPECT_EQ(fb_pack(rgb565, 63, 63, 63), 0xffffu);
    EXPECT_EQ(fb_pack(rgb565, 63, 0, 0), 0xf800u);
    EXPECT_EQ(fb_pack(rgb565, 0, 33, 0), 33u << 5) << "green keeps all six bits";
    EXPECT_EQ(fb_pack(rgb565, 1, 0, 2), 0u << 11 | 1u) << "red 1 -> 4 -> 0; blue 2 -> 8 -> 1";
    FbSurface bgr{nullptr, 0, 0, 0, 4, {0, 8}, {8, 8}, {16, 8}};
    EXPECT_EQ(fb_pack(bgr, 63, 0, 1), 0x000400ffu);
}

// A framebuffer in memory with a row stride wider than its rows, filled with a marker
// so that writes outside the picture's place show.
struct MemoryFb {
    std::vector<uint8_t> bytes;
    FbSurface surface;
    MemoryFb(int w, int h, int bpp, int stride_pad, FbChannel r, FbChannel g, FbChannel b)
        : bytes((size_t)(w * bpp + stride_pad) * h + 64, 0x5A), surface{bytes.data(), w, h, w * bpp + stride_pad,
                                                                        bpp,          r, g, b}
    {
    }
    uint32_t pixel(int x, int y) const
    {
        const uint8_t* p = bytes.data() + (size_t)y * surface.stride + (size_t)x * surface.bytes_per_pixel;
        uint32_t v = 0;
        for (int i = surface.bytes_per_pixel - 1; i >= 0; --i)
            v = v << 8 | p[i];
        return v;
    }
};

// Shows a 7x5 picture and checks every pixel of the surface: lut colour inside the
// place, black (cleared) outside, and the stride padding untouched.
void check_show(MemoryFb& fb, int scale, int at_x, int at_y)
{
    const int w = 7, h = 5;
    std::vector<uint8_t> picture(w * h);
    const Image image = {w, h, picture.data()};
    for (int i = 0; i < w * h; ++i)
        picture[i] = (uint8_t)(i * 37);
    uint32_t lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = fb_pack(fb.surface, i, 63 - (i & 63), i >> 2);
    const Placement place = whole_placement(fb.surface.width, fb.surface.height, w, h);
    ASSERT_EQ(place.scale, scale);
    ASSERT_EQ(place.x, at_x);
    ASSERT_EQ(place.y, at_y);
    fb_clear(fb.surface);
    std::vector<uint8_t> row((size_t)w * scale * fb.surface.bytes_per_pixel);
    fb_show(fb.surface, place, image, lut, row.data());
    for (int y = 0; y < fb.surface.height; ++y) {
        for (int x = 0; x < fb.surface.width; ++x) {
            int px = x - at_x, py = y - at_y;
            bool inside = px >= 0 && py >= 0 && px < w * scale && py < h * scale;
            uint32_t want = inside ? lut[picture[(py / scale) * w + px / scale]] : 0;
            ASSERT_EQ(fb.pixel(x, y), want) << x << "," << y;
        }
        int used = fb.surface.width * fb.surface.bytes_per_pixel;
        for (int pad = used; pad < fb.surface.stride; ++pad)
            ASSERT_EQ(fb.bytes[(size_t)y * fb.surface.stride + pad], 0x5A) << "stride padding of row " << y;
    }
}

TEST(VgaLayer, ShowScalesAndCentresInEveryPixelFormat)
{
    MemoryFb xrgb(30, 17, 4, 8, {16, 8}, {8, 8}, {0, 8});
    check_show(xrgb, 3, 4, 1);
    MemoryFb rgb565(15, 11, 2, 6, {11, 5}, {5, 6}, {0, 5});
    check_show(rgb565, 2, 0, 0);
    MemoryFb rgb24(22, 16, 3, 2, {16, 8}, {8, 8}, {0, 8});
    check_show(rgb24, 3, 0, 0);
    MemoryFb same(7, 5, 4, 0, {16, 8}, {8, 8}, {0, 8});
    check_show(same, 1, 0, 0);
}

// On a true-colour framebuffer a palette change is drawn by the frame that follows it,
// once: not at the change itself (the present would draw the screen a second time), and
// by the next wait for the retrace when no present comes.
TEST(VgaLayer, APaletteChangeIsDrawnOnceByWhatFollowsIt)
{
    const int memory = memfd_create("framebuffer", 0);
    ASSERT_GE(memory, 0);
    ASSERT_EQ(ftruncate(memory, 320 * 4 * 240), 0);
    setenv("FRAMEBUFFER", ("/proc/self/fd/" + std::to_string(memory)).c_str(), 1);
    ASSERT_EQ(vga_init(), 0);
    ASSERT_EQ(vga_setmode(G320x240x256), 0);
    GraphicsContext physical, virtual_screen;
    ASSERT_EQ(gl_setcontextvga(G320x240x256), 0);
    gl_getcontext(&physical);
    ASSERT_EQ(gl_setcontextvgavirtual(G320x240x256), 0);
    gl_getcontext(&virtual_screen);
    std::memset(virtual_screen.vbuf, 1, 320 * 240);
    const auto* fb = static_cast<const uint32_t*>(mmap(nullptr, 320 * 4 * 240, PROT_READ, MAP_SHARED, memory, 0));
    ASSERT_NE(fb, MAP_FAILED);
    const auto shows = [&](uint32_t colour) { return fb[0] == colour && fb[320 * 240 - 1] == colour; };

    const int red[3] = {63, 0, 0}, green[3] = {0, 63, 0}, blue[3] = {0, 0, 63};
    vga_setpalvec(1, 1, red);
    gl_copyscreen(&physical);
    EXPECT_TRUE(shows(0xFF0000u));
    vga_setpalvec(1, 1, green);
    EXPECT_TRUE(shows(0xFF0000u)) << "the palette change drew the screen before the frame did";
    gl_copyscreen(&physical);
    EXPECT_TRUE(shows(0x00FF00u));
    vga_setpalvec(1, 1, blue);
    vga_waitretrace();
    EXPECT_TRUE(shows(0x0000FFu)) << "a palette change with no frame after it never showed";

    munmap(const_cast<uint32_t*>(fb), 320 * 4 * 240);
    gl_freecontext(&virtual_screen);
    vga_setmode(TEXT);
    close(memory);
}

} // namespace
