// The filters as the parts run them.
#include "fx/filters.h"

void filter_blur(uint8_t* pixels, int width, int height, uint8_t decay)
{
    filter_blur_reference(pixels, width, height, decay);
}

void filter_streak(uint8_t* pixels, int width, int height, uint8_t decay, uint8_t shift)
{
    filter_streak_reference(pixels, width, height, decay, shift);
}
