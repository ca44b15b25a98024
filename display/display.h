// The five display operations; every program links exactly one back-end for them.
#pragma once

#include "core/image.h"

// Called once by the entry point with the program title, 320 and 240: asks for the
// display mode and opens the display. Every failure ends the program inside it. The
// argument vector is only read during the call.
void display_open(int argc, char** argv, const char* title, int width, int height);

// Makes these 256 colours the ones that show pixel values: at once on an indexed
// display, from the next display_present on a true-colour one. The palette is copied;
// the caller may change it right after the call.
void display_set_palette(const Palette& palette);

// Shows the whole image (the screen image), converted, doubled or scaled as the mode
// needs. Does not wait; the image is only read during the call.
void display_present(const Image& image);

// Waits for the vertical retrace where the display has one; only blank_screen calls it.
void display_wait_retrace();

// Releases everything display_open created. Called once at the end of a run or first
// in the fatal-exit sequence; safe at any time, also before display_open finished.
void display_close();
