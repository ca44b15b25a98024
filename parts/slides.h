// Part six: pictures sliding in from the four sides.
#pragma once

#include "core/image.h"

void slides_run(Image* screen);

// Copies into the slide buffer the part of picture that has slid in from side (0 right,
// 1 left, 2 bottom, 3 top) at position n: 320 - n columns, or 240 - 3n/4 rows. Called by
// slides_run once a frame; the picture is only read.
void slides_draw_step(const Image* picture, int side, int n);
