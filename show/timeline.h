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
    // Show time the first round starts at (0: the beginning); the run phase is replayed up
    // to it unseen, so the show there is what a whole run has there.
    int32_t start_ms;
};

// Called at most once, by a program's main before show_main; plan is copied.
void show_plan(const ShowPlan& plan);

// Called by a program whose viewer seeks, before show_main: each round's load phase then
// replays the whole run phase once, unseen and before the tune starts, to keep the state
// at every part start, so that every seek, the first too, replays only from the part
// start before its goal. Without it a seek replays from the show's start.
void show_plan_seeks();

// The nine parts on the show time axis: a short name (for a command line), a title (for
// a chapter or an overlay) and the show time of the part's first frame in the
// virtual-clock run.
struct ShowPart {
    const char* name;
    const char* title;
    int32_t start_ms;
};
constexpr int kShowParts = 9;

// The program's title, and the show time at which the closing screens end in the
// virtual-clock run.
constexpr const char* kShowTitle = "tarqle for LINUX by brusk";
constexpr int32_t kShowLength = 141491;
extern const ShowPart show_parts[kShowParts];

// The part running at show time ms (0 before the second part's start).
int show_part_at(int32_t ms);

// The show time at which part k started in the latest round, or -1 before it has; for the
// tests that hold show_parts against a run.
int32_t show_part_started(int k);

// "SECONDS" (with a fraction) or a part's name as show time in *ms; false for anything
// else or past the show's end.
bool show_time_parse(const char* text, int32_t* ms);

// A whole number from 0 to 4294967295, in decimal, as a round's seed in *seed; false for
// anything else (a sign, a fraction, too large).
bool show_seed_parse(const char* text, uint32_t* seed);

// The value of a viewer's "--seed" (show_seed_parse) or "--start" (show_time_parse), the
// options every program that offers them reads alike, into *plan; called by those
// programs' entry points with one of the two as option. Null when taken, else what was
// expected of the value, for the program's own message.
const char* show_plan_option(const char* option, const char* value, ShowPlan* plan);

// Runs the whole show (once, or in rounds as show_plan asked) and returns 0; the entry
// point of every program, which links one display back-end, one music back-end and one clock.
int show_main(int argc, char** argv);
