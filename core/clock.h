// The millisecond clock, per-part start mark, frame pacing and the shared random numbers.
#pragma once

#include <cstdint>

#include "core/rand_glibc.h"

// The clock itself (clock_now, clock_wait, random_seed) is a platform piece chosen at
// link time: core_clock_system reads the monotonic clock (the seed alone reads the time of
// day); core_clock_sleeping is the same clock with a clock_wait that only sleeps (the
// screen saver's, where the spin would cost more than its precision is worth);
// core_clock_virtual is the headless renderer's and the tests' clock, which only moves
// when a frame waits.

// Current millisecond reading. Only differences of two readings mean anything. While the
// show is replayed (below) the reading of the replay, else the platform's reading moved by
// the last hand-over.
int32_t clock_now();

// The platform's own reading and frame wait, defined by the clock a program links; only
// clock_now and clock_wait call them. The wait measures on clock_now.
int32_t clock_source_now();
int clock_source_wait(int32_t frame_start, int32_t period);

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

// Milliseconds since the last clock_mark (32-bit wrapping difference); once the show has
// been ended, or while a seek waits, kShowEndedElapsed instead.
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
// whole 10 ms steps of the remaining time, then spins for the rest. Returns 0. While the
// show is replayed it only moves the replay's reading to the end of the period, and hands
// over to the live clock when that end lies past the replay's goal; while a seek waits it
// returns at once.
int clock_wait(int32_t frame_start, int32_t period);

// Show time: milliseconds since the tune started. The timeline calls clock_show_begin with
// the reading at which it started the tune (music_start_time), once per round.
void clock_show_begin(int32_t at);
int32_t clock_show_time();

// A seek, asked by a back-end (a key, at most once a frame) for show time show_ms: the
// running round ends at once, unseen, as after clock_end_show, and the timeline replays
// the run phase up to show_ms. A later seek before the timeline takes it replaces it.
void clock_seek(int32_t show_ms);

// Called by the timeline after each run phase: whether a seek is waiting, and its show
// time in *show_ms; takes it.
bool clock_take_seek(int32_t* show_ms);

// Called by the timeline right before it replays the run phase from a state the show holds
// at show time from (its start, or a part's start it put back): show time starts at from
// with this call, the clock runs without waiting, and the back-ends show nothing, until a
// frame wait ends past show time goal. Then handover is called (the timeline shows the
// frame held in the screen image, the last one presented at or before goal), and the show
// goes on on the live clock, whose reading from then on is goal in show time.
void clock_replay(int32_t from, int32_t goal, void (*handover)());

// Whether a replay is running and nothing ends it early (no seek waiting, the show not
// ended): the show then holds what the whole run on the virtual clock holds at this show
// time, which the timeline keeps at the part starts.
bool clock_replay_running();

// Ends a replay whose run phase came to its end before the goal (the load phase's whole
// replay that keeps the part starts' states): the live clock goes on as before
// clock_replay, with its show time, and nothing is handed over. Nothing without a replay.
void clock_replay_end();

// Whether the show is being replayed or is ending for a seek: display_present shows nothing
// then (display_set_palette still takes the palette).
bool clock_replaying();

// A viewer's pause, asked by a back-end between two frames: from clock_pause until
// clock_resume clock_now keeps the reading it had at clock_pause, so the show's time (every
// part's, show time) stands still, and afterwards it goes on from there. Nothing may wait
// on the clock while it is paused (a frame wait would never end): the back-end holds the
// show inside its present until it resumes, ends or seeks.
void clock_pause();
void clock_resume();

// A paused show's step to its next frame, asked by a back-end: the clock goes on as after
// clock_resume until the back-end pauses it again at the next present, but the pause's
// listener (below) hears of neither, so the tune stays silent.
void clock_step();

// Called once by the timeline: changed(true) is called when the show's time comes to
// stand still for the viewer (clock_pause, but not again after a step), changed(false)
// when it goes on (clock_resume), each after the clock has changed.
void clock_on_pause(void (*changed)(bool paused));

// Seeds the shared generator from the time of day (UTC), at start-up and at each new
// round of a looping show; returns the seed, so a replay can seed alike.
uint32_t random_seed();

// Seeds the shared generator with seed; for a program whose viewer gave a seed, so its
// show repeats a run's random numbers. Called by the timeline before a round of the show.
void random_seed_set(uint32_t seed);

// The shared generator's whole state, and putting it back: for the timeline's saved
// states at the part starts. The generator is the C library's rand sequence (core/rand_glibc),
// kept here so its state can be copied.
RandGlibc random_state();
void random_state_set(const RandGlibc& state);

// A pseudo-random number in 0 .. n-1 (n >= 1), drawn from the one shared generator.
int32_t random_below(int32_t n);

// The product behind random_below for a given value of the C library's rand sequence,
// exposed for the tests.
int32_t random_scale(int32_t r, int32_t n);

// The seed random_seed uses for a UTC time of day.
uint32_t random_seed_value(int hour, int minute, int second);
