// The X11 back-ends' shared state record and frame image: made in a shared segment when
// the server takes one, filled from the screen image, released. Used by display/x11 and
// by the screen saver's back-end, each of which fills the record in its own set-up.
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

// Called by a back-end's display_open once x11 holds the connection and the visual
// (and again when the picture's size changes): creates a zeroed width x height frame
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

// Called by a back-end's display_close, or before a frame of a new size is made: lets go
// of a frame made by x11_image_create (detaching its segment from x11.display) and sets
// both pointers to null. Nothing happens when *image is null.
void x11_frame_release(XImage** image, XShmSegmentInfo** segment);
