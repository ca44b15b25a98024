// The seventh part of the show: the rippling picture scroll with words.
#pragma once

#include <cstdint>

#include "core/image.h"

// Loads the five scroll pictures and the words sheet, allocates the work images. Load
// phase, once; ends the program on a missing or wrongly sized picture.
void words_load();

// Plays the part into screen for duration tenths of a second, 70 ms a frame, with the
// ramp of the three factors as the work palette. Leaves its last frame and the ramp.
void words_run(Image* screen, float red, float green, float blue, uint32_t duration);

// Releases everything words_load made. Once, at shut-down.
void words_free();

// Where a run of the part stands between frames.
struct WordsRun {
    int frame = 0;
    int offset = 0;                // scroll offset into the current picture, 0..319
    int picture = 0;               // current scroll picture, 0..4
    int word = 0;                  // number of the word record shown
    int32_t last_change = -999999; // part time of the last word change
};

// Draws one frame of the part at part time v into screen (not presented) and advances
// run. Needs words_load; words_run calls it once per frame.
void words_frame(Image* screen, WordsRun* run, int32_t v);

// Renders the interference pattern of phase into the displacement map (words_run only;
// needs words_load).
void words_pattern(int phase);

// The two ring centres of the pattern at phase (they may lie outside the pattern).
struct WordsCentres {
    int32_t ax, ay, bx, by;
};
WordsCentres words_pattern_centres(int phase);

// Replaces each of the count pixels of map, a displacement pattern (64 = in place), by
// the band pixel its value points at along storage order, clamped to the band's ends.
void words_ripple(uint8_t* map, const uint8_t* band, int count);

// Reduces a words sheet to transparent 0, dim 1 (values 1..199) and bright 255.
void words_reduce(Image* picture);

// Fills the work palette with the ramp min(255, trunc(factor * i)) per component.
void words_ramp(float red, float green, float blue);

// Pastes the width x height rectangle at (left, top) of sheet onto screen at (x, y) with
// 0 transparent, cutting away whatever would fall outside the screen.
void words_paste(Image* screen, const Image* sheet, int x, int y, int left, int top, int width, int height);

// A word's rectangle on the sheet (right and bottom exclusive).
struct WordRect {
    int32_t left, top, right, bottom;
};

// The word words_run shows now (its last frame's word once the part has ended).
WordRect words_current();
