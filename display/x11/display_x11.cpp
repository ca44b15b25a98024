// The X11 back-end: the display-mode menu, the window and its colours, and each frame
// converted for the visual and sent, through shared memory when the server takes it.
#include "display/x11/display_x11.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/prompt.h"
#include "core/shared.h"
#include "display/display.h"
#include "display/viewer/viewer.h"

namespace {

const char* const kModePrompt = "Choose display mode:\n"
                                "1. Pixel size 1, Shared Memory Extension ON\n"
                                "2. Pixel size 2, Shared Memory Extension ON\n"
                                "3. Pixel size 1, Shared Memory Extension OFF\n"
                                "4. Pixel size 2, Shared Memory Extension OFF\n"
                                "Type corresponding number : ";

[[noreturn]] void setup_failed(const char* message)
{
    std::fputs(message, stderr);
    std::exit(-1);
}

bool is_truecolor()
{
    return x11.visual_info.c_class == TrueColor;
}

bool is_pseudocolor()
{
    return x11.visual_info.c_class == PseudoColor && x11.visual_info.depth == 8;
}

} // namespace

int x11_window_setup(int argc, char** argv, const char* title, int width, int height, int pixel_size)
{
    x11.display = XOpenDisplay("");
    if (x11.display == nullptr) {
        std::fprintf(stderr, "%s: cannot connect to X server!\n", argc > 0 && argv[0] != nullptr ? argv[0] : title);
        std::exit(-1);
    }
    Display* dpy = x11.display;
    x11.screen = DefaultScreen(dpy);

    XVisualInfo want;
    want.visualid = XVisualIDFromVisual(DefaultVisual(dpy, x11.screen));
    int count = 0;
    XVisualInfo* list = XGetVisualInfo(dpy, VisualIDMask, &want, &count);
    if (list == nullptr || count <= 0)
        setup_failed("Suitable visuals not found!\n");
    int best = 0;
    for (int i = 1; i < count; ++i)
        if (list[i].depth > list[best].depth)
            best = i;
    x11.visual_info = list[best];
    x11.visual = list[best].visual;
    XFree(list);

    if (!is_truecolor() && !is_pseudocolor())
        setup_failed("This version of the Demo needs TruColor or 8 Bit PseudoColor Display!\n");
    x11.pixel_size = (uint8_t)pixel_size;
    x11.window_width = width * pixel_size;
    x11.window_height = height * pixel_size;

    const Window root = RootWindow(dpy, x11.screen);
    x11.colormap = XCreateColormap(dpy, root, x11.visual, AllocNone);
    XSetWindowAttributes attributes;
    attributes.colormap = x11.colormap;
    // Centred; a screen smaller than the window puts it at the top left corner.
    const int x = std::max(0, (DisplayWidth(dpy, x11.screen) - x11.window_width) / 2);
    const int y = std::max(0, (DisplayHeight(dpy, x11.screen) - x11.window_height) / 2);
    x11.window = XCreateWindow(dpy, root, x, y, (unsigned)x11.window_width, (unsigned)x11.window_height, 0,
                               x11.visual_info.depth, InputOutput, x11.visual, CWColormap, &attributes);
    if (x11.window == 0)
        setup_failed("Can not create window!\n");
    if (!is_truecolor()) {
        XFreeColormap(dpy, x11.colormap);
        x11.colormap = 0;
    }

    if (is_truecolor()) {
        x11.format = {channel_from_mask(x11.visual_info.red_mask), channel_from_mask(x11.visual_info.green_mask),
                      channel_from_mask(x11.visual_info.blue_mask), 0};
        Palette grey;
        for (int i = 0; i < 256; ++i)
            grey.rgb[3 * i] = grey.rgb[3 * i + 1] = grey.rgb[3 * i + 2] = (uint8_t)i;
        display_set_palette(grey);
    } else {
        // A private colormap with every cell ours, starting from the server's colours
        // so nothing else on the screen flashes before the first palette arrives.
        x11.colormap = XCreateColormap(dpy, root, x11.visual, AllocAll);
        XColor cells[256];
        const int n = std::min(256, x11.visual_info.colormap_size);
        for (int i = 0; i < n; ++i) {
            cells[i].pixel = (unsigned long)i;
            cells[i].flags = DoRed | DoGreen | DoBlue;
        }
        XQueryColors(dpy, DefaultColormap(dpy, x11.screen), cells, n);
        for (int i = 0; i < n; ++i) {
            work_palette.rgb[3 * i] = (uint8_t)(cells[i].red >> 8);
            work_palette.rgb[3 * i + 1] = (uint8_t)(cells[i].green >> 8);
            work_palette.rgb[3 * i + 2] = (uint8_t)(cells[i].blue >> 8);
        }
        display_set_palette(work_palette);
    }

    x11.gc = XCreateGC(dpy, x11.window, 0, nullptr);
    if (x11.gc == nullptr)
        setup_failed("Can not create GC!\n");
    XSetBackground(dpy, x11.gc, WhitePixel(dpy, x11.screen));
    XSetForeground(dpy, x11.gc, BlackPixel(dpy, x11.screen));
    XClearWindow(dpy, x11.window);

    XSizeHints hints;
    std::memset(&hints, 0, sizeof hints);
    hints.flags = PPosition | PSize | PMinSize | PMaxSize;
    hints.width = hints.min_width = hints.max_width = x11.window_width;
    hints.height = hints.min_height = hints.max_height = x11.window_height;
    XSetStandardProperties(dpy, x11.window, title, title, None, argv, argc, &hints);
    // Closing the window asks the program (instead of the server cutting the connection),
    // and Esc is heard: both end the show as the viewer's end does.
    x11.delete_window = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, x11.window, &x11.delete_window, 1);
    XSelectInput(dpy, x11.window, KeyPressMask);

    // An invisible pointer: a cursor whose mask has no bit set.
    XColor black, exact;
    XAllocNamedColor(dpy, DefaultColormap(dpy, x11.screen), "black", &black, &exact);
    static const char kEmptyBits[20] = {};
    const Pixmap empty = XCreateBitmapFromData(dpy, x11.window, kEmptyBits, 10, 10);
    x11.cursor = XCreatePixmapCursor(dpy, empty, empty, &black, &black, 0, 0);
    XDefineCursor(dpy, x11.window, x11.cursor);
    XFreePixmap(dpy, empty);

    XSync(dpy, True);
    XMapRaised(dpy, x11.window);
    XFlush(dpy);
    return 0;
}

void display_open(int argc, char** argv, const char* title, int width, int height)
{
    const long answer = ask_number(kModePrompt, 1, 4);
    const int pixel_size = (answer == 2 || answer == 4) ? 2 : 1;
    const bool shared_asked = answer <= 2;
    x11_window_setup(argc, argv, title, width, height, pixel_size);
    if (shared_asked)
        x11.use_shared_memory = XShmQueryExtension(x11.display) ? 1 : 0;
    if (x11_image_create(&x11.frame, &x11.segment, x11.window_width, x11.window_height, x11.display, x11.visual) != 0) {
        std::printf("Cann't allocate image!\n");
        display_close();
        std::exit(1);
    }
    // Said after the attempt: a server may offer the extension and still refuse the segment.
    if (shared_asked)
        std::printf(x11.use_shared_memory ? "INFO: Shared memory extension in use\n"
                                          : "INFO: Shared memory extension not in use\n");
}

void display_set_palette(const Palette& palette)
{
    if (x11.display == nullptr)
        return;
    if (is_truecolor()) {
        palette_pixels(x11.format, palette, x11.table);
    } else if (is_pseudocolor()) {
        XColor cells[256];
        for (int i = 0; i < 256; ++i) {
            cells[i].pixel = (unsigned long)i;
            cells[i].red = (unsigned short)(palette.rgb[3 * i] << 8);
            cells[i].green = (unsigned short)(palette.rgb[3 * i + 1] << 8);
            cells[i].blue = (unsigned short)(palette.rgb[3 * i + 2] << 8);
            cells[i].flags = DoRed | DoGreen | DoBlue;
        }
        XStoreColors(x11.display, x11.colormap, cells, std::min(256, x11.visual_info.colormap_size));
        XSetWindowColormap(x11.display, x11.window, x11.colormap);
    }
}

namespace {

// Takes every event waiting, without blocking: the window closed or Esc pressed ends the
// show (viewer_end) after this frame.
void take_events()
{
    bool end = false;
    while (XPending(x11.display) > 0) {
        XEvent event;
        XNextEvent(x11.display, &event);
        if (event.type == ClientMessage && event.xclient.format == 32 &&
            (Atom)event.xclient.data.l[0] == x11.delete_window)
            end = true;
        else if (event.type == KeyPress && XLookupKeysym(&event.xkey, 0) == XK_Escape)
            end = true;
    }
    if (end && !viewer_ended())
        viewer_end();
}

} // namespace

void display_present(const Image& image)
{
    XImage* frame = x11.frame;
    if (frame == nullptr)
        return;
    frame_fill(frame, image, is_truecolor() ? x11.table : nullptr, x11.pixel_size);
    if (x11.use_shared_memory)
        XShmPutImage(x11.display, x11.window, x11.gc, frame, 0, 0, 0, 0, (unsigned)frame->width,
                     (unsigned)frame->height, False);
    else
        XPutImage(x11.display, x11.window, x11.gc, frame, 0, 0, 0, 0, (unsigned)frame->width, (unsigned)frame->height);
    take_events();
}

void display_wait_retrace() {}

void display_close()
{
    Display* dpy = x11.display;
    x11_frame_release(&x11.frame, &x11.segment);
    if (dpy != nullptr) {
        if (x11.cursor != 0)
            XFreeCursor(dpy, x11.cursor);
        if (x11.colormap != 0)
            XFreeColormap(dpy, x11.colormap);
        if (x11.gc != nullptr)
            XFreeGC(dpy, x11.gc);
        XCloseDisplay(dpy);
    }
    x11 = X11Display{};
}
