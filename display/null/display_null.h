// What the tests' display back-end saw: every frame and palette sent to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/image.h"

// One presented frame, as the headless renderer's index line tells it.
struct NullFrame {
    int32_t time;         // clock_now() when presented
    uint32_t image_crc;   // CRC-32 of the width x height pixel bytes
    uint32_t palette_crc; // CRC-32 of the 768 bytes of the palette last sent
};

struct NullDisplay {
    bool open;
    int palettes;                             // display_set_palette calls since the last reset
    Palette palette;                          // the palette last sent
    std::vector<uint8_t> frame;               // the pixels last presented
    std::vector<NullFrame> frames;            // every present since the last reset
    bool keep_pixels;                         // set by a test to keep every frame's pixels too
    std::vector<std::vector<uint8_t>> pixels; // every frame's pixels, when kept
    void (*after_present)(size_t frames);     // set by a test: called after each present with the count so far
    // Set by a test that pauses the show: called again and again while the show stands held
    // at a present (as a viewing back-end takes the viewer's keys then), until it lets go.
    void (*while_held)(size_t frames);
};

// Reset by display_open and by null_display_reset, updated by every other operation.
extern NullDisplay null_display;

// Forgets everything seen so far, as display_open does, without opening.
void null_display_reset();
