// Nearest-colour matching between palettes, for load steps.
#pragma once

#include <cstdint>

#include "core/image.h"

// Index of the palette entry nearest to (red, green, blue) by squared distance; ties keep
// the lower index. The intro's load step finds its grey levels with it.
int palette_nearest(int red, int green, int blue, const Palette& palette);

// Rewrites every pixel so that the image shows under to_palette as nearly as possible
// what it showed under from_palette; the presents screen's load step. The palettes are only
// read. Returns 0 (also for an empty image, which stays as it is).
int image_remap_palette(Image* image, const Palette& from_palette, const Palette& to_palette);
