// Part four: the picture set shared by the flicker, mosaic and slides, and its flicker script.
#pragma once

#include <cstdint>

#include "core/image.h"

constexpr int kPictureCount = 17;

// The picture set, its grey-ramp palette and the slide buffer: owned here from
// pictures_load to pictures_free, read by the mosaic and the slides.
extern Image* picture_set[kPictureCount];
extern Palette picture_palette;
extern Image* slide_buffer;

void pictures_load();

// The frame pacing the flicker, the mosaic and the slides share. Begin marks the part's
// start, sends the grey ramp and gives the first frame's start time; the result is the
// part time (tenths of a second). Frame end lays the grid over the frame, presents it,
// waits out the period and returns the next frame's part time and start time.
int picture_part_begin(int32_t* frame_start);
int picture_part_frame_end(Image* screen, int32_t* frame_start, int32_t period);

void flicker_run(Image* screen);
void pictures_free();
