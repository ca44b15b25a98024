// A program's own sound output: a driver of the music library whose latency is known, so
// the player can say when its first sample is heard and keep the heard tune on time.
#pragma once

#include <mikmod.h>

#include <cstdint>

// The program's own output driver, or null in a program that has none (chosen at link
// time: sound_pulse has one, sound has none). Called by music_setup, which registers it
// and tries it before the library's own sound devices when the program asks for the
// first sound device that starts. The driver is a static record; nobody frees it.
MDRIVER* own_output_driver();

// Player process, with the own output open, right after the tune was started or put at a
// position: mixes the next buffers of the tune and holds them, so the start has nothing
// left to prepare.
void own_output_prepare();

// Player process, at a start: returns the time at which the held buffers' first sample,
// the tune's frame position, will be heard, no earlier than earliest (both
// CLOCK_MONOTONIC microseconds), without waiting; the first update sends them, after
// silence where needed. Every later update of the output keeps the heard tune on that
// clock: sound that fell behind (the output ran dry on a busy machine) is skipped, sound
// that ran ahead waits.
int64_t own_output_start(int64_t earliest, int64_t position);

// Player process, after a seek: the held buffers' first sample, the tune's frame position,
// is due to be heard at at (CLOCK_MONOTONIC microseconds); where the output cannot make
// that, the updates skip ahead until it is on time, as they keep it on time later.
void own_output_follow(int64_t at, int64_t position);

// Player process: the own output's latency now, from the next frame sent to the moment it
// is heard (microseconds); 0 without an own output, or before its stream plays.
int64_t own_output_latency();

// Player process, when the show holds: what the output still holds unheard is dropped, so
// the tune falls silent at once; nothing more is sent until the next start or follow.
void own_output_hold();
