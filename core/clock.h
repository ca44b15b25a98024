// The millisecond clock, per-part start mark, frame pacing and the shared random numbers.
#pragma once

#include <cstdint>

// The clock itself (clock_now, clock_wait, random_seed) is a platform piece chosen at
// link time: core_clock_system reads the monotonic clock (the seed alone reads the time of
// day); core_clock_sleeping is the same clock with a clock_wait that only sleeps (the
// screen saver's, where the spin would cost more than its precision is worth);
// core_clock_virtual is the headless renderer's and the tests' clock, which only moves
// when a frame waits.

// Current millisecond reading. Only differences of two readings mean anything.
int32_t clock_now();

// Stores clock_now() as the part start time. Every run step calls it first.
void clock_mark();

// Milliseconds since the last clock_mark (32-bit wrapping difference); once the show has
// been ended, kShowEndedElapsed instead.
int32_t clock_elapsed();

// Called by a back-end, at most once a frame, when the viewer ends the show (a key, the
// window closed): from then on every part's time has run out, so the running step ends
// after its frame and each later one before its first, and the timeline goes on to its
// usual shut-down. Nothing else of the show changes.
void clock_end_show();

// Whether clock_end_show has been called.
bool clock_show_ended();

// What clock_elapsed reports after clock_end_show: a day, past every part's end time.
constexpr int32_t kShowEndedElapsed = 24 * 60 * 60 * 1000;

// Waits until at least period milliseconds have passed since frame_start: sleeps the
// whole 10 ms steps of the remaining time, then spins for the rest. Returns 0.
int clock_wait(int32_t frame_start, int32_t period);

// Seeds the C library's generator once, at start-up, from the time of day (UTC).
void random_seed();

// Seeds the shared generator with seed; for a program whose viewer gave a seed, so its
// show repeats a run's random numbers. Called by the timeline before a round of the show.
void random_seed_set(uint32_t seed);

// A pseudo-random number in 0 .. n-1 (n >= 1), drawn from the one shared generator.
int32_t random_below(int32_t n);

// The product behind random_below for a given rand() value, exposed for the tests.
int32_t random_scale(int32_t r, int32_t n);

// The seed random_seed uses for a UTC time of day.
uint32_t random_seed_value(int hour, int minute, int second);
