// The zooming grid of light lines laid over the picture-set, scroll and fire frames.
#pragma once

#include <cstdint>

#include "core/image.h"

// Fills the row and column distance tables; pictures_load calls it in the load phase,
// before the first grid_draw.
void grid_tables_init();

// Advances the grid by one step and brightens its lines in image. Once per frame,
// after the frame's picture and before display_present. The grid's motion carries on
// from one caller to the next for the whole run.
void grid_draw(Image* image);
