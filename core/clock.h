// The millisecond clock, per-part start mark, frame pacing and the shared random numbers.
#pragma once

#include <cstdint>

// The clock itself (clock_now, clock_wait, random_seed) is a platform piece chosen at
// link time: core_clock_system reads the monotonic clock (the seed alone reads the time of
// day); core_clock_sleeping is the same clock with a clock_wait that only sleeps (the
// screen saver's, where the spin would cost more than its precision is worth);
// core_clock_virtual is the headless renderer's and the tests' clock, which only moves
// when a frame waits.

// Current millisecond reading. Only differences of two readings mean anything. While the
// clock stands (clock_stand) the reading it stands at, else the platform's reading moved
// by the last clock_stand.
int32_t clock_now();

// The platform's own reading and frame wait, defined by the clock a program links; only
// clock_now and clock_wait call them. The wait measures on clock_now.
int32_t clock_source_now();
int clock_source_wait(int32_t frame_start, int32_t period);

// The reading ms milliseconds after reading, and the milliseconds from reading from to
// reading to: the 32-bit wrapping arithmetic every use of the readings goes through.
constexpr int32_t clock_after(int32_t reading, int32_t ms)
{
    return (int32_t)((uint32_t)reading + (uint32_t)ms);
}
constexpr int32_t clock_between(int32_t from, int32_t to)
{
    return (int32_t)((uint32_t)to - (uint32_t)from);
}

// Stores clock_now() as the part start time. Every run step calls it first.
void clock_mark();

// Called by the timeline before a run step whose first frame the virtual-clock run shows
// at show time show_ms: the step's clock_mark keeps the step to that time. A step that
// starts late counts its time from it, and its first frame wait is as much shorter; one
// that would start early waits for it (up to a second). So a live show that fell behind or
// ran ahead (a step ends at its first frame past its end, a blank screen waits for a real
// retrace) presents each step's frames where the whole run does and keeps to the tune,
// and a slow machine shows fewer frames, never a longer show. In the virtual-clock run the
// two times are the same.
void clock_mark_due(int32_t show_ms);

// Milliseconds since the last clock_mark (32-bit wrapping difference); while the parts'
// time is out (clock_time_out), kShowEndedElapsed instead.
int32_t clock_elapsed();

// What clock_elapsed reports while the parts' time is out: a day, past every part's end
// time.
constexpr int32_t kShowEndedElapsed = 24 * 60 * 60 * 1000;

// Called by the show when the round must end at once (the viewer ended the show, or a seek
// cuts the round short): with out, every part's time has run out, so the running step
// ends after its frame and each later one before its first, and no frame waits; without,
// the parts' time runs again.
void clock_time_out(bool out);

// Waits until at least period milliseconds have passed since frame_start: sleeps the
// whole 10 ms steps of the remaining time, then spins for the rest. Returns 0. First the
// show's wait listener (clock_on_wait) hears of the frame's end. While the clock stands it
// does not wait but moves the reading it stands at to the frame's end, so the show runs
// ahead unseen; while the parts' time is out it returns at once.
int clock_wait(int32_t frame_start, int32_t period);

// Called once by the show: before every frame wait, before_wait(end) is called with the
// reading at which the frame ends; it may stand or run the clock (a replay that reaches
// its goal hands over to the live clock there).
void clock_on_wait(void (*before_wait)(int32_t frame_end));

// The clock stands at reading: clock_now returns it, and frame waits move it instead of
// waiting (above), until clock_run. For a viewer's pause (the show's time stands) and for
// a replay (the show runs ahead unseen).
void clock_stand(int32_t reading);

// The clock runs on from the reading it stands at: the live reading goes on from there.
// Nothing when it runs.
void clock_run();

// Show time: milliseconds since the tune started. The show calls clock_show_begin with
// the reading at which it started the tune (music_start_time), once per round, and with
// the reading a replay's show time is counted from.
void clock_show_begin(int32_t at);
int32_t clock_show_time();

// Seeds the shared generator from the time of day (UTC), at start-up and at each new
// round of a looping show; returns the seed, so a replay can seed alike.
uint32_t random_seed();

// Seeds the shared generator with seed; for a program whose viewer gave a seed, so its
// show repeats a run's random numbers. Called by the timeline before a round of the show.
void random_seed_set(uint32_t seed);

// A pseudo-random number in 0 .. n-1 (n >= 1), drawn from the one shared generator.
int32_t random_below(int32_t n);

// The product behind random_below for a given value of the C library's rand sequence,
// exposed for the tests.
int32_t random_scale(int32_t r, int32_t n);

// The seed random_seed uses for a UTC time of day.
uint32_t random_seed_value(int hour, int minute, int second);
