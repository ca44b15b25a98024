// The screen saver back-end: the show drawn into a window it is given (the screen saver
// daemon's, or the root window) or into one of its own, at the largest whole scale centred
// on black (the X server enlarging it), or reduced smoothly when the window is smaller
// than the picture. It follows the window's size, never changes the window, and ends
// quietly when the window is gone.
#include "display/saver/display_saver.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xrender.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "core/shared.h"
#include "display/display.h"
#include "display/x11/x11_frame.h"

namespace {

SaverOptions options = {SaverTarget::own_window, 0};

// What the saver keeps beside the X11 record (x11, which holds the connection, the target
// window, its visual and format, the GC and the frame image).
struct SaverState {
    int32_t picture_width, picture_height; // the show's picture, as display_open was given it
    bool own;                              // the window was made here and is destroyed here
    bool offers_shared_memory;             // the server has the extension
    bool gone;                             // the window was destroyed or closed: the saver ends
    bool resized;                          // the window's size changed since the frame was made
    bool margins;                          // the black around the picture must be drawn again
    bool reduced;                          // the window is smaller than the picture
    bool server_enlarges;                  // the frame is the picture's size; the server enlarges it
    Placement place;                       // where the picture goes in the window
    Palette palette;                       // the last palette sent, for the reduction
    // The server's enlargement (XRender, nearest sampling), where it has the extension: the
    // frame goes into a pixmap of the picture's size, drawn from there into the window.
    XRenderPictFormat* render_format; // the window visual's, null without XRender
    Pixmap small;                     // the picture at its own size, on the server
    Picture from, into;               // the pixmap and the window as XRender pictures
};

SaverState saver;

// Stands in for Xlib's handler for the whole run: a window given by someone else can be
// destroyed between any two requests, and one that fails on it means the window is gone.
// Errors on anything else (a window that vanished while the virtual root was looked for)
// are passed over, as a saver has nobody to tell.
int note_error(Display*, XErrorEvent* error)
{
    if (x11.window != 0 && error->resourceid == x11.window &&
        (error->error_code == BadWindow || error->error_code == BadDrawable))
        saver.gone = true;
    return 0;
}

// The connection is lost (the server ended): nothing is left to draw on, so the saver ends
// quietly. Nothing of the connection may be used any more, so the record is let go unread.
int lost_server(Display*)
{
    x11 = X11Display{};
    fatal_exit(true, 0);
}

// The desktop's virtual root, where it has one: a child of the root window carrying the
// __SWM_VROOT property names the window that stands in for the root. Else the root itself.
Window virtual_root(Display* dpy, Window root)
{
    const Atom vroot = XInternAtom(dpy, "__SWM_VROOT", False);
    Window root_back = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, root, &root_back, &parent, &children, &count))
        return root;
    Window found = root;
    for (unsigned int i = 0; i < count && found == root; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        // A child that vanished meanwhile fails here and is passed over (note_error).
        if (XGetWindowProperty(dpy, children[i], vroot, 0, 1, False, XA_WINDOW, &type, &format, &items, &after,
                               &data) == Success &&
            type == XA_WINDOW && format == 32 && items == 1 && data != nullptr)
            found = (Window) * (unsigned long*)data;
        if (data != nullptr)
            XFree(data);
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

// A window of the saver's own, to try it: resizable, black, closed by the window manager.
Window own_window(Display* dpy, const char* title, char** argv, int argc)
{
    const int screen = DefaultScreen(dpy);
    const unsigned width = 2 * (unsigned)saver.picture_width, height = 2 * (unsigned)saver.picture_height;
    const Window window = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, width, height, 0,
                                              BlackPixel(dpy, screen), BlackPixel(dpy, screen));
    XSetStandardProperties(dpy, window, title, title, None, argv, argc, nullptr);
    x11.delete_window = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, window, &x11.delete_window, 1);
    XMapRaised(dpy, window);
    return window;
}

// Whether XRender's nearest sampling enlarges the picture by scale exactly, each picture
// pixel a whole scale x scale block. It samples at (d + 0.5) x a for window pixel d, with
// a = 1 / scale in 16.16 fixed point; the sample must stay inside its block, whose middle
// lies 0.5 / scale from either edge, over the whole width (the rounding of a grows with d,
// and the first step is rounded too).
bool server_enlarges_exactly(int scale, int32_t picture_size)
{
    const int64_t a = (65536 + scale / 2) / scale;
    const int64_t off = a * scale > 65536 ? a * scale - 65536 : 65536 - a * scale;
    return picture_size * off * scale + 2 * scale < 32768;
}

// The server's enlargement by scale from the pixmap into the window, set up on first use.
void enlarge_on_server(int scale)
{
    Display* dpy = x11.display;
    if (saver.small == 0) {
        saver.small = XCreatePixmap(dpy, x11.window, (unsigned)saver.picture_width, (unsigned)saver.picture_height,
                                    (unsigned)x11.visual_info.depth);
        saver.from = XRenderCreatePicture(dpy, saver.small, saver.render_format, 0, nullptr);
        saver.into = XRenderCreatePicture(dpy, x11.window, saver.render_format, 0, nullptr);
        XRenderSetPictureFilter(dpy, saver.from, FilterNearest, nullptr, 0);
    }
    const XFixed a = (XFixed)((65536 + scale / 2) / scale);
    XTransform transform = {{{a, 0, 0}, {0, a, 0}, {0, 0, XDoubleToFixed(1.0)}}};
    XRenderSetPictureTransform(dpy, saver.from, &transform);
}

// Where the picture goes in a width x height window, and a frame image for it: the
// picture's size when the server enlarges it, else the size it has in the window.
void lay_out(int32_t width, int32_t height)
{
    x11.window_width = width;
    x11.window_height = height;
    Placement place = whole_placement(width, height, saver.picture_width, saver.picture_height);
    saver.reduced = !placement_fits(place, width, height);
    if (saver.reduced) {
        place = fitted_placement(width, height, saver.picture_width, saver.picture_height);
        place.width = std::max(place.width, 1);
        place.height = std::max(place.height, 1);
    }
    saver.place = place;
    saver.server_enlarges = !saver.reduced && place.scale > 1 && saver.render_format != nullptr &&
                            server_enlarges_exactly(place.scale, std::max(saver.picture_width, saver.picture_height));
    if (saver.server_enlarges)
        enlarge_on_server(place.scale);
    const int32_t frame_width = saver.server_enlarges ? saver.picture_width : place.width;
    const int32_t frame_height = saver.server_enlarges ? saver.picture_height : place.height;
    x11_frame_release(&x11.frame, &x11.segment);
    x11.use_shared_memory = saver.offers_shared_memory ? 1 : 0;
    if (x11_image_create(&x11.frame, &x11.segment, frame_width, frame_height, x11.display, x11.visual) != 0) {
        std::fputs("Cann't allocate image!\n", stderr);
        fatal_exit(true, 1);
    }
    saver.resized = false;
    saver.margins = true;
}

// Black around the picture, in the window's own format.
void draw_margins()
{
    const Placement& p = saver.place;
    const int32_t w = x11.window_width, h = x11.window_height;
    const XRectangle sides[4] = {
        {0, 0, (unsigned short)w, (unsigned short)std::max(p.y, 0)},
        {0, (short)(p.y + p.height), (unsigned short)w, (unsigned short)std::max(h - p.y - p.height, 0)},
        {0, (short)p.y, (unsigned short)std::max(p.x, 0), (unsigned short)p.height},
        {(short)(p.x + p.width), (short)p.y, (unsigned short)std::max(w - p.x - p.width, 0), (unsigned short)p.height},
    };
    XSetForeground(x11.display, x11.gc, pixel_value(x11.format, 0, 0, 0));
    for (const XRectangle& r : sides)
        if (r.width > 0 && r.height > 0)
            XFillRectangle(x11.display, x11.window, x11.gc, r.x, r.y, r.width, r.height);
    saver.margins = false;
}

// Takes every event waiting, without blocking: the window's new size, its end, a part of
// it uncovered, the window manager's close request (own window only).
void take_events()
{
    while (XPending(x11.display) > 0) {
        XEvent event;
        XNextEvent(x11.display, &event);
        if (event.type == ConfigureNotify && event.xconfigure.window == x11.window) {
            if (event.xconfigure.width != x11.window_width || event.xconfigure.height != x11.window_height) {
                x11.window_width = event.xconfigure.width;
                x11.window_height = event.xconfigure.height;
                saver.resized = true;
            }
        } else if (event.type == DestroyNotify && event.xdestroywindow.window == x11.window) {
            saver.gone = true;
        } else if (event.type == Expose) {
            saver.margins = true;
        } else if (event.type == ClientMessage && saver.own && event.xclient.format == 32 &&
                   (Atom)event.xclient.data.l[0] == x11.delete_window) {
            saver.gone = true;
        }
    }
}

} // namespace

void display_saver_configure(const SaverOptions& given)
{
    options = given;
}

void display_open(int argc, char** argv, const char* title, int width, int height)
{
    saver = SaverState{};
    saver.picture_width = width;
    saver.picture_height = height;
    XSetErrorHandler(note_error);
    XSetIOErrorHandler(lost_server);
    x11.display = XOpenDisplay(nullptr);
    if (x11.display == nullptr) {
        std::fprintf(stderr, "%s: cannot connect to X server!\n", argc > 0 && argv[0] != nullptr ? argv[0] : title);
        std::exit(1);
    }
    Display* dpy = x11.display;
    x11.screen = DefaultScreen(dpy);
    if (options.target == SaverTarget::named || options.target == SaverTarget::typed)
        x11.window = (Window)options.window_id;
    else if (options.target == SaverTarget::root)
        x11.window = virtual_root(dpy, RootWindow(dpy, x11.screen));
    else
        x11.window = own_window(dpy, title, argv, argc);
    saver.own = options.target == SaverTarget::own_window;

    // Listening first, so a change right after the size is read still arrives as an event.
    XSelectInput(dpy, x11.window, StructureNotifyMask | ExposureMask);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(dpy, x11.window, &attributes) || saver.gone) {
        // The daemon's window may be gone already; an id a user typed was wrong.
        if (options.target != SaverTarget::typed)
            fatal_exit(true, 0);
        std::fprintf(stderr, "tarqle-saver: -window-id: no window 0x%" PRIx64 " on this display\n", options.window_id);
        fatal_exit(true, 1);
    }
    XVisualInfo want;
    want.visualid = XVisualIDFromVisual(attributes.visual);
    int count = 0;
    XVisualInfo* list = XGetVisualInfo(dpy, VisualIDMask, &want, &count);
    if (list == nullptr || count <= 0 || list[0].c_class != TrueColor) {
        std::fputs("tarqle-saver: the window's visual is not TrueColor\n", stderr);
        if (list != nullptr)
            XFree(list);
        fatal_exit(true, 1);
    }
    x11.visual_info = list[0];
    x11.visual = list[0].visual;
    XFree(list);
    x11.format = {channel_from_mask(x11.visual_info.red_mask), channel_from_mask(x11.visual_info.green_mask),
                  channel_from_mask(x11.visual_info.blue_mask), 0};
    x11.gc = XCreateGC(dpy, x11.window, 0, nullptr);
    saver.offers_shared_memory = XShmQueryExtension(dpy);
    // Transforms and filters came with XRender 0.6.
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    if (XRenderQueryExtension(dpy, &event_base, &error_base) && XRenderQueryVersion(dpy, &major, &minor) &&
        (major > 0 || minor >= 6))
        saver.render_format = XRenderFindVisualFormat(dpy, x11.visual);
    lay_out(attributes.width, attributes.height);
    XFlush(dpy);
}

void display_set_palette(const Palette& palette)
{
    saver.palette = palette;
    if (x11.display != nullptr)
        palette_pixels(x11.format, palette, x11.table);
}

void display_present(const Image& image)
{
    if (x11.display == nullptr)
        return;
    take_events();
    if (saver.gone)
        fatal_exit(true, 0);
    if (saver.resized)
        lay_out(x11.window_width, x11.window_height);
    if (saver.margins)
        draw_margins();
    XImage* frame = x11.frame;
    const Placement& p = saver.place;
    if (saver.reduced)
        reduce_frame(image, saver.palette, x11.format, p.width, p.height,
                     {(uint8_t*)frame->data, frame->bytes_per_line, frame->bits_per_pixel / 8, 1, nullptr});
    else
        frame_fill(frame, image, x11.table, saver.server_enlarges ? 1 : p.scale);
    // The frame goes where it is shown, or into the pixmap the server enlarges it from.
    const Drawable to = saver.server_enlarges ? saver.small : x11.window;
    const int to_x = saver.server_enlarges ? 0 : p.x, to_y = saver.server_enlarges ? 0 : p.y;
    const unsigned w = (unsigned)frame->width, h = (unsigned)frame->height;
    if (x11.use_shared_memory)
        XShmPutImage(x11.display, to, x11.gc, frame, 0, 0, to_x, to_y, w, h, False);
    else
        XPutImage(x11.display, to, x11.gc, frame, 0, 0, to_x, to_y, w, h);
    if (saver.server_enlarges)
        XRenderComposite(x11.display, PictOpSrc, saver.from, None, saver.into, 0, 0, 0, 0, p.x, p.y, (unsigned)p.width,
                         (unsigned)p.height);
    XFlush(x11.display);
}

void display_wait_retrace() {}

void display_close()
{
    Display* dpy = x11.display;
    if (dpy != nullptr) {
        x11_frame_release(&x11.frame, &x11.segment);
        // The window's picture went with the window when it was destroyed (note_error passes
        // over the failing free then).
        if (saver.small != 0) {
            XRenderFreePicture(dpy, saver.into);
            XRenderFreePicture(dpy, saver.from);
            XFreePixmap(dpy, saver.small);
        }
        if (x11.gc != nullptr)
            XFreeGC(dpy, x11.gc);
        if (saver.own && !saver.gone)
            XDestroyWindow(dpy, x11.window);
        XCloseDisplay(dpy);
    }
    x11 = X11Display{};
    saver.small = 0;
}
