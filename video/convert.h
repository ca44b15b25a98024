// A presented frame as true-colour pixels: through its palette, enlarged nearest-neighbour.
#pragma once

#include <cstdint>

#include "core/image.h"

// Writes image through palette as 0x00RRGGBB pixels (bytes B, G, R, 0 in memory), every
// pixel repeated scale times across and down, into out: image.height * scale rows of
// stride pixels each (stride >= image.width * scale; the pixels past the picture are left
// alone). Called by the video encoder for each presented frame, and by the tests and
// benchmarks; reads image and palette only during the call.
void video_convert(const Image& image, const Palette& palette, int scale, uint32_t* out, int stride);

// The same for pixels already in true colour: width × height 0x00RRGGBB pixels, rows
// from the top, each repeated scale times across and down into out as above. Called by
// the video encoder for the gentle picture.
void video_widen(const uint32_t* pixels, int width, int height, int scale, uint32_t* out, int stride);
