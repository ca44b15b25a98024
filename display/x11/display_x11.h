// The X11 back-end's own state and set-up steps, open to its tests and benchmarks; the
// rest of the system uses only the five operations of display/display.h.
#pragma once

#include "display/x11/x11_frame.h"

// Called by display_open: connects to the server named by DISPLAY, checks the default
// visual, and creates the window (centred, pixel_size times width x height, not
// resizable, invisible pointer, taking part in the window manager's close protocol and
// listening for keys), its GC and its colours; fills x11. Failures print
// their message on standard error and end the program with status 255. Returns 0.
int x11_window_setup(int argc, char** argv, const char* title, int width, int height, int pixel_size);
