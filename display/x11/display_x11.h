// The X11 back-end's own state and set-up steps, open to its tests and benchmarks; the
// rest of the system uses only the five operations of display/display.h.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstdint>

#include "display/convert/pixel_convert.h"

// Everything display_open creates; all zero before it and again after display_close.
struct X11Display {
    Display* display;
    int screen;
    XVisualInfo visual_info; // copy of the chosen visual's entry
    Visual* visual;
    Window window;
    GC gc;
    Cursor cursor;
    Colormap colormap;         // 0 when none is held
    Atom delete_window;        // WM_DELETE_WINDOW: the window manager's close request
    uint8_t pixel_size;        // 1 or 2
    uint8_t use_shared_memory; // 1 when frames travel through a shared segment
    int32_t window_width, window_height;
    PixelFormat format;       // TrueColor only
    XImage* frame;            // what display_present fills and sends
    XShmSegmentInfo* segment; // the frame's segment, with shared memory only
    uint32_t table[256];      // TrueColor pixel per palette index
};

extern X11Display x11;

// Called by display_open: connects to the server named by DISPLAY, checks the default
// visual, and creates the window (centred, pixel_size times width x height, not
// resizable, invisible pointer, taking part in the window manager's close protocol and
// listening for keys), its GC and its colours; fills x11. Failures print
// their message on standard error and end the program with status 255. Returns 0.
int x11_window_setup(int argc, char** argv, const char* title, int width, int height, int pixel_size);

// Called by display_open after x11_window_setup: creates a zeroed width x height frame
// image for the visual, in a shared segment when x11.use_shared_memory is 1. When the
// server refuses the segment, it is released and a plain image made instead, with
// x11.use_shared_memory set to 0. The caller owns *image and *segment (display_close
// releases them). Result: 0 done, -1 no image, -2 no pixel memory or segment, -3 no
// segment record.
int x11_image_create(XImage** image, XShmSegmentInfo** segment, int width, int height, Display* display,
                     Visual* visual);

// Called by display_present for every frame: writes image into frame, each pixel a
// pixel_size square, through table (TrueColor) or as the index itself (table null), in
// whatever element size, byte order and row stride the frame image has. Nothing is kept.
void frame_fill(XImage* frame, const Image& image, const uint32_t* table, int pixel_size);
