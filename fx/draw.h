// Clipped drawing primitives: straight lines and filled rectangles.
#pragma once

#include <cstdint>

#include "core/image.h"

// Draws the line from (x1, y1) to (x2, y2) in colour; only pixels inside the image are written.
void image_line(Image* image, int x1, int y1, int x2, int y2, uint8_t colour);

// Sets rows y0..y1-1, columns x0..x1-1 to value, the corners clamped to the image and
// put in order first.
void image_fill_rect(Image* image, int x0, int y0, int x1, int y1, uint8_t value);
