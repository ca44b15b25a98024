// The show's timeline: start-up, load phase, the run steps in order, shut-down.
#pragma once

#include <cstdint>

#include "core/image.h"

// Blacks out the work palette and the image, sends both and waits for the retrace.
// Called by the timeline before most steps, and by tests that run parts in sequence.
void blank_screen(Image* screen);

// What a program that offers the viewer choices asks of the show; a program that never
// calls show_plan runs the show once, seeded from the clock, as it always has.
struct ShowPlan {
    // When the closing screen ends, the show starts again from the presents screen, each
    // round with its parts' data loaded afresh, until the viewer ends it.
    bool loop;
    // Every round seeds the random numbers with seed; otherwise each round seeds afresh
    // from the clock (random_seed).
    bool seeded;
    uint32_t seed;
};

// Called at most once, by a program's main before show_main; plan is copied.
void show_plan(const ShowPlan& plan);

// Runs the whole show (once, or in rounds as show_plan asked) and returns 0; the entry
// point of every program, which links one display back-end, one music back-end and one clock.
int show_main(int argc, char** argv);
