// The console back-end: the mode menu, the screen contexts, the palette and each
// frame's way from the screen image, scaled to the mode, onto the console screen.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/prompt.h"
#include "display/display.h"
#include "display/viewer/viewer.h"
#include "display/vgalayer/vgalayer.h"

namespace {

struct MenuMode {
    int number;
    const char* text;
};

constexpr MenuMode kMenu[] = {
    {G320x200x256, "320x200 / 256 colors -> fast but wrong"}, {G320x240x256, "320x240 / 256 colors -> RECOMMENDED!!!!"},
    {G320x400x256, "320x400 / 256 colors -> slow"},           {G360x480x256, "360x480 / 256 colors -> slower"},
    {G640x480x256, "640x480 / 256 colors -> the slowest"},    {G800x600x256, "800x600 / 256 colors -> snail"},
};
constexpr int kMenuSize = sizeof kMenu / sizeof kMenu[0];

GraphicsContext physical_context;
GraphicsContext virtual_context;
// The virtual screen's pixels, which every frame is written into; null while closed.
uint8_t* frame_buffer = nullptr;
int mode_width = 0;
int mode_height = 0;
int mode_size = 0;
int palette_buffer[768];

[[noreturn]] void init_failed()
{
    std::printf("ERROR: Can't init vga\n");
    std::exit(1);
}

// The console layer's answer -2: the program is not on a virtual console it controls.
// Refused as a display set-up is, before anything on screen changed.
[[noreturn]] void console_refused()
{
    std::fprintf(stderr,
                 "tarqle-vga: cannot take the console's screen: %s.\n"
                 "tarqle-vga: run it from a text console: switch to one with Ctrl+Alt+F2 (F3, ...), log in there "
                 "and start it again.\n",
                 vga_console_error());
    std::exit(-1);
}

// Esc typed on the console ends the show after this frame (viewer_end), as the other
// programs' Esc does. An Esc that starts another key's sequence (the arrows, Alt+key)
// comes with the rest of it, and ends nothing.
void take_keys()
{
    bool escape = false;
    for (int key = vga_getkey(); key != 0; key = vga_getkey()) {
        if (escape && key != 27)
            escape = false;
        else
            escape = key == 27;
    }
    if (escape && !viewer_ended())
        viewer_end();
}

} // namespace

void display_open(int, char**, const char*, int, int)
{
    const int init = vga_init();
    if (init == -2)
        console_refused();
    if (init != 0)
        init_failed();
    // Standard error, so that standard output stays as the menus and messages have it.
    std::fprintf(stderr, "tarqle-vga: %s\n", vga_device());

    const MenuMode* available[kMenuSize];
    int count = 0;
    for (const MenuMode& m : kMenu)
        if (vga_hasmode(m.number) != 0)
            available[count++] = &m;
    if (count == 0) {
        std::printf("ERROR: Not valid vga mode avaible!");
        std::exit(-1);
    }

    std::printf("Choose a vga mode:\n");
    for (int i = 0; i < count; ++i)
        std::printf(" %d. %s\n", i + 1, available[i]->text);
    int mode = available[ask_number("Type the number of the vga mode:", 1, count) - 1]->number;

    const int set = vga_setmode(mode);
    if (set == -2)
        console_refused();
    if (set != 0)
        init_failed();
    gl_setcontextvga(mode);
    gl_getcontext(&physical_context);
    gl_clearscreen(0);
    gl_enablepageflipping(&physical_context);
    // Without the virtual screen there is nowhere to draw: give the console back first.
    if (gl_setcontextvgavirtual(mode) != 0) {
        vga_setmode(TEXT);
        init_failed();
    }
    gl_getcontext(&virtual_context);
    frame_buffer = virtual_context.vbuf;

    const vga_modeinfo* info = vga_getmodeinfo(mode);
    std::printf("Width: %d  Height: %d  Colors: %d\n", info->width, info->height, info->colors);
    mode_width = info->width;
    mode_height = info->height;
    mode_size = info->width * info->height;
}

void display_set_palette(const Palette& palette)
{
    if (vga_getcolors() != 256)
        return;
    for (int k = 0; k < 768; ++k)
        palette_buffer[k] = palette.rgb[k] >> 2;
    vga_setpalvec(0, 256, palette_buffer);
}

void display_present(const Image& image)
{
    if (frame_buffer == nullptr)
        return;
    if (image.width == mode_width && image.height == mode_height) {
        std::memcpy(frame_buffer, image.pixels, (size_t)mode_size);
    } else {
        Image screen{mode_width, mode_height, frame_buffer};
        image_scale_copy(&screen, 0, 0, (uint32_t)mode_width, (uint32_t)mode_height, &image, 0, 0,
                         (uint32_t)image.width, (uint32_t)image.height, 0, 0);
    }
    gl_copyscreen(&physical_context);
    take_keys();
}

void display_wait_retrace()
{
    vga_waitretrace();
}

void display_close()
{
    frame_buffer = nullptr;
    gl_freecontext(&virtual_context);
    gl_freecontext(&physical_context);
    vga_setmode(TEXT);
}
