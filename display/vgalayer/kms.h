// The console layer's output through KMS: the first DRM device with a connected
// connector and dumb buffers, two buffers in the console's own mode, flips on the
// vertical blank. Only the console layer calls these, from its main flow unless said.
#pragma once

#include "display/vgalayer/fbconvert.h"

// Opens the first DRM device that has dumb buffers, a connected connector lit by a
// CRTC and lets us be its master, and makes two black buffers of that CRTC's mode.
// Called once by vga_init; nothing on screen changes. Result: the device's path
// (kept by this module), or null when none can be used, with everything closed again.
const char* kms_open();

// The size of the console's mode on the device opened.
int kms_width();
int kms_height();

// Becomes master again if needed and puts the front buffer on the screen in place of
// the console. Called when a graphics mode is set and when the console's terminal
// comes back to us. Result: false when the device refused.
bool kms_take();

// The buffer to draw the next frame into. Waits first for the flip of the last frame
// to complete (about one refresh at most): until then the other buffer is on screen. A
// flip that has not completed after 100 ms is lost: one line on standard error says so,
// and from then on the buffer is the one on screen, handed out after the next vertical
// blank.
FbSurface kms_back_buffer();

// Shows the back buffer from the next vertical blank on; the other becomes the back
// buffer. Does not wait for the blank. Nothing after a lost flip (the buffer drawn is
// already on screen).
void kms_flip();

// Waits for the next vertical blank of the CRTC; returns at once where the driver
// counts none.
void kms_wait_vblank();

// Gives the screen back: the CRTC shows what the console showed before kms_take, and
// another program (the console, a display server) may become master. Called when the
// console's terminal is switched away and from the exit paths; async-signal-safe
// (ioctls only), and does nothing when the screen is not ours.
void kms_release();
