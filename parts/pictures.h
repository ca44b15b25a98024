// Part four: the picture set shared by the flicker, mosaic and slides, and its flicker script.
#pragma once

#include "core/image.h"

constexpr int kPictureCount = 17;

// The picture set, its grey-ramp palette and the slide buffer: owned here from
// pictures_load to pictures_free, read by the mosaic and the slides.
extern Image* picture_set[kPictureCount];
extern Palette picture_palette;
extern Image* slide_buffer;

void pictures_load();
void flicker_run(Image* screen);
void pictures_free();
