// The zooming grid: its motion, its distance tables and the brightening of its lines.
#include "fx/grid.h"

#include <cstddef>

#include "core/clock.h"
#include "core/rounding.h"
#include "core/seek_state.h"

namespace {

// One set of globals for the whole run: every caller continues where the last one left.
GridState state = {0, 0, 1.0f, 1.0f, 0.01357f, 0.0248f};
// Each part that lays the grid goes on with its motion where the one before left it.
[[maybe_unused]] const bool state_kept = seek_state_declare(&state, sizeof state);

// Distances from the centre in pixels: the half-height 120 in 11 steps and the
// half-width 160 in 15 steps, computed in 8-bit fixed point.
int32_t row_distance[kGridRows];
int32_t column_distance[kGridColumns];

// A quarter of the way toward 255.
inline uint8_t brighten(uint8_t v)
{
    return (uint8_t)((3 * v + 255) >> 2);
}

// Whole rows and columns only: a line outside the image is skipped, never cut.
void brighten_row(Image* image, int32_t row)
{
    if (row < 0 || row >= image->height)
        return;
    uint8_t* p = image->pixels + (ptrdiff_t)row * image->width;
    for (int32_t x = 0; x < image->width; ++x)
        p[x] = brighten(p[x]);
}

void brighten_column(Image* image, int32_t column)
{
    if (column < 0 || column >= image->width)
        return;
    uint8_t* p = image->pixels + column;
    for (int32_t y = 0; y < image->height; ++y, p += image->width)
        *p = brighten(*p);
}

int32_t clamp_offset(int32_t v)
{
    return v < -20 ? -20 : (v > 20 ? 20 : v);
}

void advance_scale(float& scale, float& speed)
{
    scale = rounded_float(scale + speed);
    if (scale > 5.0f)
        speed = -speed;
    if (scale < 1.0f)
        speed = -speed;
}

// The scale times a distance, in single precision, cut toward zero.
int32_t scaled(float scale, int32_t distance)
{
    return (int32_t)rounded_float(scale * (float)distance);
}

// The lines centre - k and centre + k for each distance but the last, whose line below or
// to the right of the centre is left out.
void draw_lines(Image* image, bool rows, int32_t centre, float scale, const int32_t* distance, int count)
{
    auto brighten_line = rows ? brighten_row : brighten_column;
    for (int i = 0; i < count - 1; ++i) {
        const int32_t k = scaled(scale, distance[i]);
        brighten_line(image, centre - k);
        brighten_line(image, centre + k);
    }
    brighten_line(image, centre - scaled(scale, distance[count - 1]));
}

} // namespace

void grid_tables_init()
{
    for (int i = 0; i < kGridRows; ++i)
        row_distance[i] = ((i * 30720) / 11) >> 8;
    for (int i = 0; i < kGridColumns; ++i)
        column_distance[i] = ((i * 40960) / 15) >> 8;
}

void grid_draw(Image* image)
{
    state.offset_y = clamp_offset(state.offset_y + random_below(9) - 4);
    state.offset_x = clamp_offset(state.offset_x + random_below(9) - 4);
    advance_scale(state.scale_x, state.speed_x);
    advance_scale(state.scale_y, state.speed_y);

    draw_lines(image, true, state.offset_y + 120, state.scale_y, row_distance, kGridRows);
    draw_lines(image, false, state.offset_x + 160, state.scale_x, column_distance, kGridColumns);
}

GridState grid_state()
{
    return state;
}

void grid_state_set(const GridState& new_state)
{
    state = new_state;
}

int32_t grid_row_distance(int i)
{
    return row_distance[i];
}

int32_t grid_column_distance(int i)
{
    return column_distance[i];
}
