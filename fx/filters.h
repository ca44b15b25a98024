// The two in-place smoothing filters: a soft blur and a rightward streak.
#pragma once

#include <cstdint>

// Filter a width x height block in place, in storage order, carrying the running value
// of the last pixel written; the parts call them once or twice a frame on the screen image
// or a work image they own. A decay above 0 is subtracted from every result, floored at 0.
// Blocks the filters do not define (width < 1, height < 2, shift > width) are left as
// they are. Nothing outside the block is read or written.
void filter_blur(uint8_t* pixels, int width, int height, uint8_t decay);
void filter_streak(uint8_t* pixels, int width, int height, uint8_t decay, uint8_t shift);

// The same filters written literally, one pixel at a time: the reference the program's
// forms are checked and measured against (tests and benchmarks only).
void filter_blur_reference(uint8_t* pixels, int width, int height, uint8_t decay);
void filter_streak_reference(uint8_t* pixels, int width, int height, uint8_t decay, uint8_t shift);
