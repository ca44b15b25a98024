// Part five: the screen tiled with random pictures of the set, the tiling growing finer.
#include "parts/mosaic.h"

#include <initializer_list>

#include "core/clock.h"
#include "core/shared.h"
#include "parts/pictures.h"

namespace {

constexpr int kFramePeriod = 60;
constexpr int kEndTime = 130;

struct Tile {
    int x, y, w, h;
};

constexpr Tile kFull = {0, 0, 320, 240};
constexpr Tile kQ1 = {0, 0, 160, 120}, kQ2 = {160, 0, 160, 120}, kQ3 = {0, 120, 160, 120}, kQ4 = {160, 120, 160, 120};

constexpr Tile ninth(int x, int y)
{
    return {x, y, 106, 80};
}

// The ninths in the order they replace the quarters, one more every half second.
constexpr Tile kNinths[] = {ninth(106, 80),  ninth(106, 0),   ninth(0, 0),    ninth(0, 80), ninth(0, 160),
                            ninth(106, 160), ninth(212, 160), ninth(212, 80), ninth(212, 0)};

void draw_tile(Image* screen, const Tile& tile)
{
    const Image* picture = picture_set[random_below(kPictureCount)];
    image_scale_copy(screen, tile.x, tile.y, (uint32_t)tile.w, (uint32_t)tile.h, picture, 0, 0, 320, 240, 0, 0);
}

// The quarters still shown, then the first `ninths` ninths.
void draw_quarters_and_ninths(Image* screen, std::initializer_list<Tile> quarters, int ninths)
{
    for (const Tile& q : quarters)
        draw_tile(screen, q);
    for (int i = 0; i < ninths; ++i)
        draw_tile(screen, kNinths[i]);
}

// Uniform grids go column by column from the left, each column from the top.
void draw_grid(Image* screen, int count, int tile_w, int tile_h, bool sixths)
{
    for (int i = 0; i < count; ++i)
        for (int j = 0; j < count; ++j)
            draw_tile(screen, {sixths ? i * 320 / 6 : i * tile_w, j * tile_h, tile_w, tile_h});
}

void draw_layout(Image* screen, int t)
{
    if (t < 10) {
        draw_tile(screen, kFull);
        draw_tile(screen, kQ1);
    } else if (t < 20) {
        draw_tile(screen, kFull);
        draw_tile(screen, kQ1);
        draw_tile(screen, kQ4);
    } else if (t < 30) {
        draw_quarters_and_ninths(screen, {kQ1, kQ2, kQ3, kQ4}, 0);
    } else if (t < 40) {
        draw_quarters_and_ninths(screen, {kQ1, kQ2, kQ3, kQ4}, 1);
    } else if (t < 55) {
        draw_quarters_and_ninths(screen, {kQ1, kQ2, kQ3, kQ4}, 2 + (t - 40) / 5);
    } else if (t < 60) {
        draw_quarters_and_ninths(screen, {kQ2, kQ3, kQ4}, 5);
    } else if (t < 70) {
        draw_quarters_and_ninths(screen, {kQ2, kQ4}, 6 + (t - 60) / 5);
    } else if (t < 75) {
        draw_quarters_and_ninths(screen, {kQ2}, 8);
    } else if (t < 80) {
        draw_quarters_and_ninths(screen, {}, 9);
    } else if (t < 90) {
        draw_grid(screen, 4, 80, 60, false);
    } else if (t < 100) {
        draw_grid(screen, 5, 64, 48, false);
    } else if (t < 110) {
        draw_grid(screen, 6, 53, 40, true);
    } else if (t < 120) {
        draw_grid(screen, 8, 40, 30, false);
    } else {
        draw_grid(screen, 10, 32, 24, false);
    }
}

} // namespace

void mosaic_run(Image* screen)
{
    int32_t frame_start;
    int t = picture_part_begin(&frame_start);
    image_fill(screen, 0);
    int f = 0;
    while (t < kEndTime) {
        // Tiles change on odd frames only; even frames keep the picture under a new grid.
        if ((f & 1) != 0)
            draw_layout(screen, t);
        t = picture_part_frame_end(screen, &frame_start, kFramePeriod);
        ++f;
    }
}
