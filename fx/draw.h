// Clipped drawing primitives: straight lines and filled rectangles.
#pragma once

#include <cstdint>

#include "core/image.h"

// Draws the line from (x1, y1) towards (x2, y2) in colour, the end point left out (a
// single pixel when the clipped ends coincide). The intro draws its film scratches with
// it every frame. Any coordinates are taken: the line is cut at the image's edges and only
// pixels inside the image are written.
void image_line(Image* image, int x1, int y1, int x2, int y2, uint8_t colour);

// Sets rows y0..y1-1, columns x0..x1-1 to value, the corners first limited to 0..width
// and 0..height and put in order; the fire part's bar. Any coordinates are taken.
void image_fill_rect(Image* image, int x0, int y0, int x1, int y1, uint8_t value);
