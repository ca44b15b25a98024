// The layer on devices in memory: placement, scaling, pixel formats and the widening of
// 6-bit colours; the terminal taken and given back; a DRM device that stops answering.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fb.h>
#include <linux/ioctl.h>
#include <linux/kd.h>
#include <linux/vt.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/vgalayer/fbconvert.h"
#include "display/vgalayer/kms.h"
#include "display/vgalayer/vgalayer.h"

namespace {

// The stand-in console and DRM device, as the tests set them.
struct FakeDevices {
    int terminal = -1;                 // what /dev/tty opens: a pseudo-terminal's far end
    unsigned terminal_device = 0;      // what TIOCGDEV says it is
    int kdsetmode_error = 0;           // errno of a refused KDSETMODE
    std::vector<std::string> switches; // KDSETMODE and VT_SETMODE calls, in order
    int card = -1;                     // what /dev/dri/card0 opens (memory), -1: no such device
    bool card_answers = true;          // whether a flip asked for completes
    bool flip_pending = false;
    int flips = 0, vblank_waits = 0, events_read = 0;
    std::vector<uint32_t> shown; // the framebuffers the CRTC was set or flipped to
} fake;

int open_fake(const char* path, int flags, va_list args)
{
    const mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(args, int) : 0;
    if (std::strcmp(path, "/dev/tty") == 0)
        return fake.terminal >= 0 ? dup(fake.terminal) : (errno = ENXIO, -1);
    if (std::strncmp(path, "/dev/dri/card", 13) == 0)
        return std::strcmp(path, "/dev/dri/card0") == 0 && fake.card >= 0 ? dup(fake.card) : (errno = ENOENT, -1);
    return (int)syscall(SYS_openat, AT_FDCWD, path, flags, mode);
}

} // namespace

// The layer's device calls meet these definitions before the C library's and libdrm's:
// /dev/tty is a pseudo-terminal that answers the console's questions as a virtual
// console (tty1, in text, in front), the framebuffer questions get a 320 x 240 XRGB
// screen whose retrace waits return at once, and /dev/dri/card0 is a 64 x 48 screen in
// memory whose flips complete while fake.card_answers. Everything else goes to the kernel.
extern "C" int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = open_fake(path, flags, args);
    va_end(args);
    return fd;
}

extern "C" int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = open_fake(path, flags, args);
    va_end(args);
    return fd;
}

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
    case TIOCGDEV: *static_cast<unsigned*>(arg) = fake.terminal_device; return 0;
    case KDGETMODE: *static_cast<int*>(arg) = KD_TEXT; return 0;
    case VT_GETMODE: *static_cast<vt_mode*>(arg) = vt_mode{VT_AUTO, 0, 0, 0, 0}; return 0;
    case VT_GETSTATE: static_cast<vt_stat*>(arg)->v_active = 1; return 0;
    case KDSETMODE:
        if (fake.kdsetmode_error != 0)
            return errno = fake.kdsetmode_error, -1;
        fake.switches.push_back((uintptr_t)arg == KD_TEXT ? "text" : "graphics");
        return 0;
    case VT_SETMODE:
        fake.switches.push_back(static_cast<vt_mode*>(arg)->mode == VT_AUTO ? "auto" : "process");
        return 0;
    default: return (int)syscall(SYS_ioctl, fd, request, arg);
    }
}

int drmGetCap(int, uint64_t, uint64_t* value)
{
    *value = 1;
    return 0;
}
int drmIsMaster(int)
{
    return 1;
}
int drmSetMaster(int)
{
    return 0;
}
int drmDropMaster(int)
{
    return 0;
}
drmModeResPtr drmModeGetResources(int)
{
    static uint32_t one = 1;
    static drmModeRes resources{0, nullptr, 1, &one, 1, &one, 0, nullptr, 0, 0, 0, 0};
    return &resources;
}
void drmModeFreeResources(drmModeResPtr) {}
drmModeConnectorPtr drmModeGetConnectorCurrent(int, uint32_t)
{
    static drmModeConnector connector{};
    connector.connector_id = connector.encoder_id = 1;
    connector.connection = DRM_MODE_CONNECTED;
    return &connector;
}
void drmModeFreeConnector(drmModeConnectorPtr) {}
drmModeEncoderPtr drmModeGetEncoder(int, uint32_t)
{
    static drmModeEncoder encoder{1, 0, 1, 1, 0};
    return &encoder;
}
void drmModeFreeEncoder(drmModeEncoderPtr) {}
drmModeCrtcPtr drmModeGetCrtc(int, uint32_t)
{
    static drmModeCrtc crtc{};
    crtc.crtc_id = crtc.buffer_id = 1;
    crtc.mode_valid = 1;
    crtc.mode.hdisplay = 64;
    crtc.mode.vdisplay = 48;
    return &crtc;
}
void drmModeFreeCrtc(drmModeCrtcPtr) {}
int drmModeCreateDumbBuffer(int, uint32_t width, uint32_t height, uint32_t, uint32_t, uint32_t* handle, uint32_t* pitch,
                            uint64_t* size)
{
    static uint32_t made = 0;
    *handle = ++made;
    *pitch = width * 4;
    *size = (uint64_t)width * 4 * height;
    return 0;
}
int drmModeDestroyDumbBuffer(int, uint32_t)
{
    return 0;
}
int drmModeMapDumbBuffer(int, uint32_t handle, uint64_t* offset)
{
    *offset = (uint64_t)(handle - 1) * 64 * 4 * 48;
    return 0;
}
int drmModeAddFB(int, uint32_t, uint32_t, uint8_t, uint8_t, uint32_t, uint32_t handle, uint32_t* id)
{
    *id = 100 + handle;
    return 0;
}
int drmModeRmFB(int, uint32_t)
{
    return 0;
}
int drmModeSetCrtc(int, uint32_t, uint32_t fb_id, uint32_t, uint32_t, uint32_t*, int, drmModeModeInfoPtr)
{
    fake.shown.push_back(fb_id);
    return 0;
}
int drmModePageFlip(int, uint32_t, uint32_t fb_id, uint32_t, void*)
{
    ++fake.flips;
    fake.flip_pending = true;
    fake.shown.push_back(fb_id);
    return 0;
}
int drmHandleEvent(int, drmEventContextPtr context)
{
    ++fake.events_read;
    if (fake.card_answers && fake.flip_pending) {
        fake.flip_pending = false;
        context->page_flip_handler(0, 0, 0, 0, nullptr);
    }
    return 0;
}
int drmWaitVBlank(int, drmVBlankPtr)
{
    ++fake.vblank_waits;
    return 0;
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

// A graphics mode on a true-colour framebuffer, from a virtual console. Only such a
// console is taken, and only when it lets itself be switched; meanwhile keys come one at
// a time, and what was typed is gone at the end. A palette change is drawn by the frame
// that follows it, once: not at the change itself (the present would draw the screen a
// second time), and by the next wait for the retrace when no present comes.
TEST(VgaLayer, TheConsoleTakenForAFramebufferModeAndGivenBack)
{
    const int memory = memfd_create("framebuffer", 0);
    ASSERT_GE(memory, 0);
    ASSERT_EQ(ftruncate(memory, 320 * 4 * 240), 0);
    setenv("FRAMEBUFFER", ("/proc/self/fd/" + std::to_string(memory)).c_str(), 1);
    const int far_end = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(far_end, 0);
    ASSERT_EQ(unlockpt(far_end), 0);
    fake.terminal = (int)syscall(SYS_openat, AT_FDCWD, ptsname(far_end), O_RDWR | O_NOCTTY);
    ASSERT_GE(fake.terminal, 0);
    termios cooked;
    ASSERT_EQ(tcgetattr(fake.terminal, &cooked), 0);

    // A pseudo-terminal is refused before any screen device is opened.
    fake.terminal_device = makedev(136, 3);
    EXPECT_EQ(vga_init(), -2);
    EXPECT_NE(std::string(vga_console_error()).find("not a virtual console"), std::string::npos);
    EXPECT_STREQ(vga_device(), "");
    // A refused switch changes nothing, and says which request failed.
    fake.terminal_device = makedev(4, 1);
    ASSERT_EQ(vga_init(), 0);
    fake.kdsetmode_error = EPERM;
    EXPECT_EQ(vga_setmode(G320x240x256), -2);
    EXPECT_NE(std::string(vga_console_error()).find("KDSETMODE: Operation not permitted"), std::string::npos)
        << vga_console_error();
    termios now;
    ASSERT_EQ(tcgetattr(fake.terminal, &now), 0);
    EXPECT_EQ(now.c_lflag, cooked.c_lflag);
    fake.kdsetmode_error = 0;

    // In graphics the keys come unechoed, one at a time, and still signal.
    ASSERT_EQ(vga_setmode(G320x240x256), 0);
    EXPECT_EQ(fake.switches, (std::vector<std::string>{"graphics", "process"}));
    ASSERT_EQ(tcgetattr(fake.terminal, &now), 0);
    EXPECT_EQ(now.c_lflag & (ECHO | ICANON | ISIG), (tcflag_t)ISIG);
    ASSERT_EQ(write(far_end, "\x1b", 1), 1);
    pollfd typed{fake.terminal, POLLIN, 0};
    ASSERT_EQ(poll(&typed, 1, 5000), 1);
    EXPECT_EQ(vga_getkey(), 27);
    EXPECT_EQ(vga_getkey(), 0);
    ASSERT_EQ(write(far_end, "reboot\n", 7), 7);
    ASSERT_EQ(poll(&typed, 1, 5000), 1);
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
    // Given back: the line typed during the show is gone, the settings as they were.
    EXPECT_EQ(fake.switches, (std::vector<std::string>{"graphics", "process", "auto", "text"}));
    ASSERT_EQ(tcgetattr(fake.terminal, &now), 0);
    EXPECT_EQ(now.c_lflag, cooked.c_lflag);
    EXPECT_EQ(poll(&typed, 1, 0), 0) << "keys typed during the show reach the shell";
    close(far_end);
}

// Flips through a device that stops answering: after 100 ms the flip counts as lost,
// once, and from then on frames go into the buffer on screen after the vertical blank,
// with no flip asked for whose late event could be taken for another's.
TEST(VgaLayer, ALostFlipEndsPageFlipping)
{
    fake.card = memfd_create("card", 0);
    ASSERT_EQ(ftruncate(fake.card, 2 * 64 * 4 * 48), 0);
    ASSERT_STREQ(kms_open(), "/dev/dri/card0");
    ASSERT_TRUE(kms_take());
    const uint8_t* first = kms_back_buffer().base;
    kms_flip();
    const uint8_t* second = kms_back_buffer().base;
    kms_flip();
    EXPECT_NE(first, second) << "answered flips alternate the buffers";
    fake.card_answers = false;
    testing::internal::CaptureStderr();
    const int flips = fake.flips, waits = fake.vblank_waits;
    EXPECT_EQ(kms_back_buffer().base, second) << "the buffer the lost flip asked for";
    kms_flip();
    fake.card_answers = true;
    const int events = fake.events_read;
    EXPECT_EQ(kms_back_buffer().base, second);
    kms_flip();
    EXPECT_EQ(fake.flips, flips);
    EXPECT_EQ(fake.events_read, events) << "no event waited for";
    EXPECT_EQ(fake.vblank_waits, waits + 2);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(": a page flip did not complete within 100 ms; drawing into one buffer from now on\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line";
    kms_release();
}

} // namespace
