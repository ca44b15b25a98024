// The console layer on KMS or the Linux framebuffer: the device, the modes, the palette
// and the screen contexts; the console's terminal is terminal.cpp's.
#include "display/vgalayer/vgalayer.h"

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/vgalayer/fbconvert.h"
#include "display/vgalayer/kms.h"
#include "display/vgalayer/terminal.h"

namespace {

// The screen from vga_init to the end of the process: KMS, else the framebuffer.
bool use_kms = false;
char device_text[48] = "";
int fb_fd = -1;
uint8_t* fb_map = nullptr;
size_t fb_map_size = 0;
// The screen's size and pixel format; its pixels too on the framebuffer, while KMS
// hands out a buffer for each frame.
FbSurface surface;
bool indexed = false;
bool vsync_works = true;

// The mode set: TEXT, or a graphics mode with its placement and the layer's copy of
// the physical screen (what the framebuffer shows, as palette indices).
int current_mode = TEXT;
const vga_modeinfo* current_info = nullptr;
Placement placement;
uint8_t* shadow = nullptr;
std::vector<uint8_t> scratch_row;

int palette6[768];
uint32_t lut[256];
// A true-colour palette change not yet drawn: the next frame or retrace draws it.
bool palette_pending = false;

GraphicsContext current_context;

// Puts the physical screen on display: into the back buffer and flipped on the vertical
// blank, or straight onto the framebuffer. Nothing while the terminal is switched away.
void redraw()
{
    palette_pending = false;
    if (current_mode == TEXT || !terminal_shown())
        return;
    const Image screen = {current_info->width, current_info->height, shadow};
    fb_show(use_kms ? kms_back_buffer() : surface, placement, screen, lut, scratch_row.data());
    if (use_kms)
        kms_flip();
}

void set_colour_map(int start, int count)
{
    uint16_t red[256], green[256], blue[256];
    for (int i = 0; i < count; ++i) {
        const int* c = palette6 + 3 * (start + i);
        red[i] = (uint16_t)(fb_widen(c[0]) * 257);
        green[i] = (uint16_t)(fb_widen(c[1]) * 257);
        blue[i] = (uint16_t)(fb_widen(c[2]) * 257);
    }
    fb_cmap map;
    map.start = (uint32_t)start;
    map.len = (uint32_t)count;
    map.red = red;
    map.green = green;
    map.blue = blue;
    map.transp = nullptr;
    ioctl(fb_fd, FBIOPUTCMAP, &map);
}

bool usable_format(const fb_fix_screeninfo& fix, const fb_var_screeninfo& var)
{
    if (fix.type != FB_TYPE_PACKED_PIXELS)
        return false;
    if (fix.visual == FB_VISUAL_PSEUDOCOLOR)
        return var.bits_per_pixel == 8;
    if (fix.visual == FB_VISUAL_TRUECOLOR)
        return var.bits_per_pixel == 16 || var.bits_per_pixel == 24 || var.bits_per_pixel == 32;
    return false;
}

void close_device()
{
    if (fb_map != nullptr)
        munmap(fb_map, fb_map_size);
    fb_map = nullptr;
    if (fb_fd >= 0)
        close(fb_fd);
    fb_fd = -1;
}

} // namespace

void screen_give_up()
{
    if (use_kms)
        kms_release();
    else if (fb_map != nullptr && terminal_shown())
        fb_clear(surface);
}

void screen_take_back()
{
    if (use_kms)
        kms_take();
    else
        fb_clear(surface);
    if (indexed)
        set_colour_map(0, 256);
    redraw();
}

int vga_init()
{
    if (fb_fd >= 0 || use_kms)
        return 0;
    if (!terminal_open())
        return -2;
    if (const char* card = kms_open()) {
        use_kms = true;
        std::snprintf(device_text, sizeof device_text, "KMS on %s", card);
        surface = FbSurface{nullptr, kms_width(), kms_height(), 0, 4, {16, 8}, {8, 8}, {0, 8}};
        return 0;
    }
    const char* device = std::getenv("FRAMEBUFFER");
    if (device == nullptr || *device == '\0')
        device = "/dev/fb0";
    fb_fd = open(device, O_RDWR | O_CLOEXEC);
    if (fb_fd < 0)
        return -1;
    fb_fix_screeninfo fix;
    fb_var_screeninfo var;
    if (ioctl(fb_fd, FBIOGET_FSCREENINFO, &fix) != 0 || ioctl(fb_fd, FBIOGET_VSCREENINFO, &var) != 0 ||
        !usable_format(fix, var) || var.xres == 0 || var.yres == 0) {
        close_device();
        return -1;
    }
    int bytes_per_pixel = (int)var.bits_per_pixel / 8;
    size_t stride = fix.line_length != 0 ? fix.line_length : (size_t)var.xres_virtual * (size_t)bytes_per_pixel;
    size_t size = fix.smem_len != 0 ? fix.smem_len : stride * var.yres_virtual;
    size_t first = (size_t)var.yoffset * stride + (size_t)var.xoffset * (size_t)bytes_per_pixel;
    // The visible screen must lie inside the memory the driver lets us map.
    if (stride < (size_t)var.xres * (size_t)bytes_per_pixel || first + stride * var.yres > size) {
        close_device();
        return -1;
    }
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fb_fd, 0);
    if (map == MAP_FAILED) {
        close_device();
        return -1;
    }
    fb_map = static_cast<uint8_t*>(map);
    fb_map_size = size;
    indexed = fix.visual == FB_VISUAL_PSEUDOCOLOR;
    surface.base = fb_map + first;
    surface.width = (int)var.xres;
    surface.height = (int)var.yres;
    surface.stride = (int)stride;
    surface.bytes_per_pixel = bytes_per_pixel;
    surface.red = FbChannel{(int)var.red.offset, (int)var.red.length};
    surface.green = FbChannel{(int)var.green.offset, (int)var.green.length};
    surface.blue = FbChannel{(int)var.blue.offset, (int)var.blue.length};
    std::snprintf(device_text, sizeof device_text, "framebuffer %s", device);
    return 0;
}

const char* vga_device()
{
    return device_text;
}

const char* vga_console_error()
{
    return terminal_error();
}

int vga_getkey()
{
    const int key = terminal_key();
    return key < 0 ? 0 : key;
}

int vga_hasmode(int mode)
{
    const vga_modeinfo* info = vga_getmodeinfo(mode);
    if (surface.width == 0 || info == nullptr)
        return 0;
    return placement_fits(whole_placement(surface.width, surface.height, info->width, info->height), surface.width,
                          surface.height);
}

int vga_setmode(int mode)
{
    if (mode == TEXT) {
        if (current_mode != TEXT) {
            terminal_give_back();
            current_mode = TEXT;
            current_info = nullptr;
            std::free(shadow);
            shadow = nullptr;
            current_context = GraphicsContext{};
        }
        return 0;
    }
    if (!vga_hasmode(mode))
        return -1;
    const vga_modeinfo* info = vga_getmodeinfo(mode);
    uint8_t* screen = static_cast<uint8_t*>(std::calloc((size_t)info->width * (size_t)info->height, 1));
    if (screen == nullptr)
        return -1;
    std::free(shadow);
    shadow = screen;
    placement = whole_placement(surface.width, surface.height, info->width, info->height);
    scratch_row.assign((size_t)info->width * (size_t)placement.scale * (size_t)surface.bytes_per_pixel, 0);
    if (!terminal_take())
        return -2;
    current_mode = mode;
    current_info = info;
    // A new mode starts black: black palette, black screen, black margins.
    std::memset(palette6, 0, sizeof palette6);
    for (int i = 0; i < 256; ++i)
        lut[i] = indexed ? (uint32_t)i : 0;
    if (!terminal_shown())
        return 0;
    if (indexed)
        set_colour_map(0, 256);
    if (!use_kms) {
        fb_clear(surface);
        return 0;
    }
    if (!kms_take()) {
        vga_setmode(TEXT);
        return -1;
    }
    // Both buffers black, margins included: the frames draw only the picture's place.
    fb_clear(kms_back_buffer());
    kms_flip();
    fb_clear(kms_back_buffer());
    return 0;
}

int vga_getcolors()
{
    return current_mode == TEXT ? 16 : 256;
}

int vga_setpalvec(int start, int count, const int* pal)
{
    if (start < 0 || count <= 0 || start >= 256)
        return 0;
    if (count > 256 - start)
        count = 256 - start;
    terminal_follow();
    for (int i = 0; i < 3 * count; ++i)
        palette6[3 * start + i] = pal[i] & 63;
    if (current_mode == TEXT)
        return count;
    if (indexed) {
        if (terminal_shown())
            set_colour_map(start, count);
        return count;
    }
    for (int i = start; i < start + count; ++i)
        lut[i] = fb_pack(surface, palette6[3 * i], palette6[3 * i + 1], palette6[3 * i + 2]);
    // A true-colour framebuffer has no colour map: the shown picture is drawn again, once,
    // by the frame that follows (or the retrace wait, when no frame comes first).
    palette_pending = true;
    return count;
}

int vga_waitretrace()
{
    terminal_follow();
    if (palette_pending)
        redraw();
    if (use_kms) {
        if (terminal_shown())
            kms_wait_vblank();
        return 0;
    }
    if (fb_fd < 0 || !vsync_works || !terminal_shown())
        return 0;
    uint32_t crtc = 0;
    if (ioctl(fb_fd, FBIO_WAITFORVSYNC, &crtc) != 0)
        vsync_works = false;
    return 0;
}

int gl_setcontextvga(int mode)
{
    if (mode == TEXT || mode != current_mode)
        return -1;
    current_context = GraphicsContext{current_info->width, current_info->height, current_info->linewidth, shadow, true};
    return 0;
}

void gl_getcontext(GraphicsContext* gc)
{
    *gc = current_context;
}

void gl_clearscreen(int colour)
{
    if (current_context.vbuf == nullptr)
        return;
    std::memset(current_context.vbuf, colour & 0xff,
                (size_t)current_context.bytewidth * (size_t)current_context.height);
    if (current_context.physical) {
        terminal_follow();
        redraw();
    }
}

void gl_enablepageflipping(GraphicsContext*) {}

int gl_setcontextvgavirtual(int mode)
{
    const vga_modeinfo* info = vga_getmodeinfo(mode);
    if (info == nullptr)
        return -1;
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc((size_t)info->linewidth * (size_t)info->height, 1));
    if (buffer == nullptr)
        return -1;
    current_context = GraphicsContext{info->width, info->height, info->linewidth, buffer, false};
    return 0;
}

void gl_copyscreen(GraphicsContext* gc)
{
    const GraphicsContext& from = current_context;
    if (from.vbuf == nullptr || gc->vbuf == nullptr || gc->vbuf == from.vbuf)
        return;
    int width = from.width < gc->width ? from.width : gc->width;
    int height = from.height < gc->height ? from.height : gc->height;
    for (int y = 0; y < height; ++y)
        std::memcpy(gc->vbuf + (size_t)y * (size_t)gc->bytewidth, from.vbuf + (size_t)y * (size_t)from.bytewidth,
                    (size_t)width);
    if (gc->physical && gc->vbuf == shadow) {
        terminal_follow();
        redraw();
    }
}

void gl_freecontext(GraphicsContext* gc)
{
    if (gc == nullptr)
        return;
    if (!gc->physical && gc->vbuf != nullptr) {
        if (current_context.vbuf == gc->vbuf)
            current_context = GraphicsContext{};
        std::free(gc->vbuf);
    }
    *gc = GraphicsContext{};
}
