// The stand-in console layer of the back-end's tests: every call lands in fake_layer.
#include "tests/vga_fake_layer.h"

#include <algorithm>
#include <cstring>

#include "display/vgalayer/vgalayer.h"

FakeLayer fake_layer;

namespace {
GraphicsContext current;
}

int vga_init()
{
    return fake_layer.init_result;
}

const char* vga_device()
{
    return "framebuffer /dev/fb0";
}

const char* vga_console_error()
{
    return "its terminal is not a virtual console";
}

int vga_getkey()
{
    if (fake_layer.keys.empty())
        return 0;
    const int key = fake_layer.keys.front();
    fake_layer.keys.erase(fake_layer.keys.begin());
    return key;
}

int vga_hasmode(int mode)
{
    return std::count(fake_layer.available.begin(), fake_layer.available.end(), mode) > 0;
}

int vga_setmode(int mode)
{
    fake_layer.modes_set.push_back(mode);
    if (mode != TEXT && fake_layer.setmode_result != 0)
        return fake_layer.setmode_result;
    fake_layer.mode = mode;
    if (mode != TEXT) {
        const vga_modeinfo* info = vga_getmodeinfo(mode);
        // Not black, so that the back-end's clearing shows.
        fake_layer.screen.assign((size_t)info->width * info->height, 0xEE);
    }
    return 0;
}

int vga_getcolors()
{
    return fake_layer.mode == TEXT ? 16 : 256;
}

int vga_setpalvec(int start, int count, const int* pal)
{
    fake_layer.palette.assign(pal, pal + 3 * count);
    fake_layer.palette_start = start;
    fake_layer.palette_count = count;
    return count;
}

int vga_waitretrace()
{
    ++fake_layer.retraces;
    return 0;
}

int gl_setcontextvga(int mode)
{
    const vga_modeinfo* info = vga_getmodeinfo(mode);
    current = GraphicsContext{info->width, info->height, info->linewidth, fake_layer.screen.data(), true};
    return 0;
}

void gl_getcontext(GraphicsContext* gc)
{
    *gc = current;
}

void gl_clearscreen(int colour)
{
    std::memset(current.vbuf, colour, (size_t)current.bytewidth * current.height);
}

void gl_enablepageflipping(GraphicsContext*) {}

int gl_setcontextvgavirtual(int mode)
{
    const vga_modeinfo* info = vga_getmodeinfo(mode);
    current = GraphicsContext{info->width, info->height, info->linewidth,
                              new uint8_t[(size_t)info->linewidth * info->height](), false};
    ++fake_layer.virtual_screens;
    return 0;
}

void gl_copyscreen(GraphicsContext* gc)
{
    std::memcpy(gc->vbuf, current.vbuf, (size_t)current.bytewidth * current.height);
    if (gc->physical)
        ++fake_layer.copies;
}

void gl_freecontext(GraphicsContext* gc)
{
    if (!gc->physical && gc->vbuf != nullptr) {
        delete[] gc->vbuf;
        --fake_layer.virtual_screens;
    }
    *gc = GraphicsContext{};
}
