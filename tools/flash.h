// Flash analysis after WCAG 2.3.1: the general and the red flash rule, counted per pixel
// so that a flash of any region counts by its own area, not by the picture's mean.
#pragma once

#include <cstdint>

// A transition: relative luminance moves by at least 0.1 from its last extreme, the
// darker end below 0.8 (general rule); or the red quantity max(0, (R - G - B) × 320)
// moves by more than 20 with its high end a saturated red, R / (R + G + B) >= 0.8 (red
// rule). A flash is a pair of opposing transitions; a second with more than three
// flashes, more than kFlashLimit transitions, fails.
constexpr int kFlashLimit = 6;
// Transitions counted per pixel and window; more than this count as this many.
constexpr int kFlashCountCap = 16;
constexpr int32_t kFlashWindowMs = 1000;

// The one-second window (time - 1 s, time] that ends at a frame: the most transitions
// that area of the picture made in it, under each rule.
struct FlashWindow {
    int32_t time;
    int general;
    int red;
};

// Starts an analysis of pictures of width × height pixels; area (0..1] is the share of
// the picture that must flash together for a window to count (the area rule).
void flash_begin(int32_t width, int32_t height, double area);

// Adds the picture shown from time (milliseconds, not decreasing) on: width × height
// pixels of red, green and blue bytes, rows from the top. Returns the window ending at
// it. The pixels are read only during the call.
FlashWindow flash_add(const uint8_t* rgb, int32_t time);
