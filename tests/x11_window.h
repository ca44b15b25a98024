// Looking at and poking a program's window from a second X connection, as a window
// manager or a user would: its picture, its size, a key, a close request. A window that
// vanishes meanwhile is treated as absent (an empty picture, a key sent to nobody).
#pragma once

#include <X11/Xlib.h>

#include <sys/types.h>

#include <cstdint>
#include <vector>

// The viewable window named title (its own, not a window manager's frame around it),
// waiting up to timeout_ms for one; 0 if none.
Window x11_find_window(Display* display, const char* title, int timeout_ms);

// The window's picture as 0xRRGGBB values, rows from the top (a 24-bit TrueColor server).
std::vector<uint32_t> x11_window_pixels(Display* display, Window window, int* width, int* height);

// A key press and release of keysym sent to the window.
void x11_send_key(Display* display, Window window, unsigned long keysym);

// The close request a window manager sends when the user closes the window.
void x11_close_window(Display* display, Window window);

// Starts a window manager (openbox) on the display the connection is to, and waits up to
// five seconds until it manages the screen; its process id, or -1.
pid_t x11_start_window_manager(Display* display, const char* display_name);

// Ends the window manager x11_start_window_manager started.
void x11_stop_window_manager(pid_t pid);
