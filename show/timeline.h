// The show's timeline: start-up, load phase, the run steps in order, shut-down.
#pragma once

#include "core/image.h"

// Blacks out the work palette and the image, sends both and waits for the retrace.
// Called by the timeline before most steps, and by tests that run parts in sequence.
void blank_screen(Image* screen);

// Runs the whole show once and returns 0; the entry point of every program, which links
// one display back-end, one music back-end and one clock.
int show_main(int argc, char** argv);
