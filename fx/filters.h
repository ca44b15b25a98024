// The two in-place smoothing filters: a soft blur and a rightward streak.
#pragma once

#include <cstdint>

// Filter a width x height block in place, in storage order (width >= 1, height >= 2,
// shift <= width). A decay above 0 is subtracted from every result, floored at 0.
void filter_blur(uint8_t* pixels, int width, int height, uint8_t decay);
void filter_streak(uint8_t* pixels, int width, int height, uint8_t decay, uint8_t shift);

// The same filters written literally, one pixel at a time: the reference the fast
// forms are checked and measured against.
void filter_blur_reference(uint8_t* pixels, int width, int height, uint8_t decay);
void filter_streak_reference(uint8_t* pixels, int width, int height, uint8_t decay, uint8_t shift);
