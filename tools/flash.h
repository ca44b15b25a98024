// Flash analysis after WCAG 2.3.1: the general and the red flash rule, read two ways. Per
// pixel: each pixel's own transitions, so that a flash counts by the area that makes it.
// Per frame: a region of a 10° field makes a transition at a frame where enough of it moves
// at once, whichever pixels they are, as broadcasters' analysers count. Besides both, the
// picture's mean relative luminance under the general rule.
#pragma once

#include <cstdint>

// A transition: relative luminance moves by at least 0.1 from its last extreme, the
// darker end below 0.8 (general rule); or the red quantity max(0, (R - G - B) × 320)
// moves by more than 20 with its high end a saturated red, R / (R + G + B) >= 0.8 (red
// rule). A flash is a pair of opposing transitions; a second with more than three
// flashes, more than kFlashLimit transitions, fails.
constexpr int kFlashLimit = 6;
// Transitions counted per pixel or region and window; more than this count as this many.
constexpr int kFlashCountCap = 16;
constexpr int32_t kFlashWindowMs = 1000;

// The one-second window (time - 1 s, time] that ends at a frame: the most transitions in
// it under each reading and rule.
struct FlashWindow {
    int32_t time;
    int general; // per pixel: the most that the area (flash_begin) made
    int red;
    int frame_general; // per frame: the most that one region (or the whole picture) made
    int frame_red;
    int mean; // the picture's mean relative luminance, general rule
};

// Starts an analysis of pictures of width × height pixels. field (0..1] is the share of
// the picture's width and of its height that a 10° field of view covers: the regions of
// the per-frame reading are that big, sliding over the picture, and a region (or the whole
// picture) makes a transition at a frame where at least a quarter of its pixels make one
// in the same direction, opposite to the region's last. area (0..1] is the share of the
// picture that must flash together in the per-pixel reading.
void flash_begin(int32_t width, int32_t height, double field, double area);

// Adds the picture shown from time (milliseconds, not decreasing) on: width × height
// pixels of red, green and blue bytes, rows from the top. Returns the window ending at
// it. The pixels are read only during the call.
FlashWindow flash_add(const uint8_t* rgb, int32_t time);
