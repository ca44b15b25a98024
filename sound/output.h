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

// Player process, with the own output open, right after Player_Start: mixes the first
// buffers of the tune and holds them, so the start has nothing left to prepare.
void own_output_prepare();

// Player process, at the start: returns the time at which the held buffers' first sample
// will be heard, no earlier than earliest (both CLOCK_MONOTONIC microseconds), without
// waiting; the first update sends them, after silence where needed. Every later update of
// the output keeps the heard tune on that clock: sound that fell behind (the output ran
// dry on a busy machine) is skipped, sound that ran ahead waits.
int64_t own_output_start(int64_t earliest);
