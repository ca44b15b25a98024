// The zooming grid of light lines laid over the picture-set, scroll and fire frames.
#pragma once

#include <cstdint>

#include "core/image.h"

// The grid's motion: offsets of the centre (kept in -20..20), the line-spacing scales
// (bouncing between 1.0 and 5.0) and their speeds per call.
struct GridState {
    int32_t offset_x;
    int32_t offset_y;
    float scale_x;
    float scale_y;
    float speed_x;
    float speed_y;
};

constexpr int kGridRows = 12;
constexpr int kGridColumns = 16;

// Fills the row and column distance tables; pictures_load calls it in the load phase,
// before the first grid_draw.
void grid_tables_init();

// Advances the grid by one step and brightens its lines in image. Once per frame,
// after the frame's picture and before display_present. The grid's motion carries on
// from one caller to the next for the whole run. Draws two random_below(9) per call.
void grid_draw(Image* image);

// A copy of the grid's motion as it stands (after the last grid_draw).
GridState grid_state();

// Replaces the grid's motion; for the tests, which start the grid from chosen states.
void grid_state_set(const GridState& state);

// Entry i of the row (0..11) or column (0..15) distance table.
int32_t grid_row_distance(int i);
int32_t grid_column_distance(int i);
