// Part three: thirty blobs raising and lowering a field that reveals two pictures.
#pragma once

#include <cstdint>

#include "core/image.h"

// One blob: centre on the screen and velocity in pixels per unit of frame speed.
struct Blob {
    float x, y, vx, vy;
};

constexpr int kBlobCount = 30;
constexpr int kBlobSize = 64; // the field table is kBlobSize x kBlobSize bytes

// The blobs' states: set by blobs_precalc, moved by blobs_draw, never reset.
extern Blob blobs[kBlobCount];

// Load step, called by the entry point before the music starts: allocates the field
// table, runs blobs_precalc and builds the blobs palette. A failed allocation prints
// its message and ends the program without shutting the music library down.
void blobs_load();

// Third run step, on a blank screen: loads picture 1 (texture of the lowered regions)
// and picture 2 (raised regions), both exactly the screen's size, with their colours
// into the work palette; sends the blobs palette; draws 70 ms frames until duration
// tenths of a second have passed since the step began; frees both pictures. The screen
// keeps the last frame. Ends the program on a missing or wrongly sized picture.
void blobs_run(Image* screen, const char* picture1_path, const char* picture2_path, uint32_t duration);

// Releases the field table; called once at shut-down.
void blobs_free();

// Fills the field table and draws the 30 starting states from the shared generator.
// Called by blobs_load only, after the table is allocated.
void blobs_precalc();

// Moves every blob by speed steps of its velocity, bouncing off the edges of the
// 40..280 x 40..200 box, and stamps it into pixels (320 x 240, rows of 320): even blobs
// raise the field, odd blobs lower it. The show's speeds are 7 to 11.
void blobs_draw(uint8_t* pixels, int speed);

// Turns field values into picture texture: values up to 105 take picture 1's pixel,
// values from 150 picture 2's, the rest the neutral 127. All three images are 320 x 240.
void blobs_colour(Image* screen, const Image* picture1, const Image* picture2);

// The field table (row r, column c at r * kBlobSize + c), valid from blobs_load to
// blobs_free, and the blobs palette built by blobs_load.
const uint8_t* blobs_field_table();
const Palette& blobs_palette();
