// The radial fire: a small rising-heat buffer wrapped around the screen centre through
// two polar maps, with the flashing skull, the grid, a bar with a running figure and a
// framed thumbnail.
#include "parts/fire.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "core/clock.h"
#include "core/rounding.h"
#include "core/seek_state.h"
#include "core/shared.h"
#include "display/display.h"
#include "fx/blit.h"
#include "fx/draw.h"
#include "fx/filters.h"
#include "fx/grid.h"
#include "fx/tables.h"
#include "parts/part_pictures.h"

namespace {

constexpr int kMapWidth = 320;
constexpr int kMapHeight = 240;
constexpr int kMapBytes = kMapWidth * (kMapHeight / 2); // the upper half; the lower is turned
static_assert(kMapWidth == kScreenWidth && kMapHeight == kScreenHeight,
              "the polar maps cover the upper half of the screen image");
static_assert(kMapBytes == 38400);
static_assert(kFireWidth == 64 && kFireHeight == 70);
constexpr int kThumbWidth = 80;
constexpr int kThumbHeight = 60;
constexpr int kFramePeriod = 60;

const char* const kSkullPath = "grafika/fire/skull.pcx";
const char* const kSheetPath = "grafika/fire/fire.pcx";

// One frame of the running figure: its rectangle on the sprite sheet (x1, y1
// exclusive) and where it stands on the bar.
struct FigureFrame {
    int32_t x0, y0, x1, y1, dest_x, dest_y;
};
constexpr FigureFrame kFigure[] = {
    {3, 100, 47, 253, 5, 50},    {47, 114, 89, 249, 5, 50},   {91, 100, 139, 253, 5, 50},
    {140, 132, 183, 249, 5, 50}, {183, 121, 221, 250, 5, 50}, {-1, -1, -1, -1, -1, -1},
};

// The sheet must hold every frame of the figure.
constexpr int32_t sheet_min(bool width)
{
    int32_t m = 0;
    for (const FigureFrame& f : kFigure) {
        const int32_t edge = width ? f.x1 : f.y1;
        m = edge > m ? edge : m;
    }
    return m;
}
static_assert(sheet_min(true) == 221 && sheet_min(false) == 253);

uint8_t* radius_map;
uint8_t* angle_map;
Image* fire_buffer;
Image* skull;
Image* sprite_sheet;
Image* thumbnail;

uint8_t* map_or_fail()
{
    uint8_t* map = (uint8_t*)std::malloc(kMapBytes);
    if (!map) {
        std::printf("Cann't allocate memory !\n");
        fatal_exit(false, 1);
    }
    return map;
}

} // namespace

bool fire_skull_shown(int32_t t, int end)
{
    if (t <= 9)
        return false;
    if (t <= 24)
        return random_below(100) <= 19;
    if (t <= 39)
        return random_below(100) <= 49;
    if (t >= end - 30)
        return true;
    return random_below(100) <= 79;
}

void fire_load()
{
    radius_map = map_or_fail();
    angle_map = map_or_fail();
    load_or_exit(kSkullPath, &skull, &work_palette);
    if (skull->width > kScreenWidth || skull->height > kScreenHeight)
        refuse_size(&skull);
    load_or_exit(kSheetPath, &sprite_sheet, &work_palette);
    if (sprite_sheet->width < sheet_min(true) || sprite_sheet->height < sheet_min(false))
        refuse_size(&sprite_sheet);
    alloc_or_exit(&thumbnail, kThumbWidth, kThumbHeight, true);
    // The heat buffer's failure leaves the music library up, as it always has.
    alloc_or_exit(&fire_buffer, kFireWidth, kFireHeight, false);
    // The heat is the one thing of the fire that a frame leaves for the next.
    seek_state_declare(fire_buffer->pixels, (size_t)kFireWidth * kFireHeight);
}

void fire_free()
{
    if (fire_buffer != nullptr)
        seek_state_withdraw(fire_buffer->pixels);
    std::free(radius_map);
    std::free(angle_map);
    radius_map = nullptr;
    angle_map = nullptr;
    for (Image** image : {&fire_buffer, &skull, &thumbnail, &sprite_sheet}) {
        image_free(image);
        *image = nullptr;
    }
}

void fire_precalc(uint8_t* radius, uint8_t* angle, int width, int height, int orientation, int)
{
    // Only the polar maps exist, whatever the shape asked for.
    const int cx = width / 2;
    const int cy = height / 2;
    const float scale = (float)rounded_double(255.0 / rounded_double(std::sqrt((double)(cx * cx + cy * cy))));
    for (int y = 0; y < cy; ++y)
        for (int x = 0; x < width; ++x) {
            const int k = y * width + x;
            const int dx = x - cx;
            const int dy = cy - y;
            int r = (int)rounded_double(scale * rounded_double(std::sqrt((double)(dx * dx + dy * dy))));
            r = r > 255 ? 255 : r;
            radius[k] = (uint8_t)(orientation ? r : 255 - r);

            // Straight above the centre dx counts as 1, so that column gets atan(dy).
            const double q = rounded_double((double)dy / (dx == 0 ? 1 : dx));
            float theta = (float)rounded_double(std::atan(q));
            if (q < 0)
                theta = (float)rounded_double(theta + M_PI);
            const int a = (int)rounded_double(theta * 81.16902097686662);
            angle[k] = (uint8_t)(a > 255 ? 255 : a);
        }
}

void fire_palette()
{
    for (int k = 0; k < 256; ++k) {
        int grey = 0;
        if (k >= 79) {
            grey = (512 * (k - 79)) / 176;
            grey = grey > 255 ? 255 : grey;
        }
        work_palette.rgb[3 * k] = work_palette.rgb[3 * k + 1] = work_palette.rgb[3 * k + 2] = (uint8_t)grey;
    }
}

bool fire_seeding(int32_t elapsed, int end)
{
    return elapsed * 0.01 < end - 25;
}

void fire_propagate(uint8_t* p)
{
    // In place, in storage order: left is the value just written, the rows below still
    // hold the previous frame's heat. Row ends wrap into the neighbouring rows.
    int left = p[kFireWidth - 1];
    for (int i = 0; i < kFireWidth * (kFireHeight - 2); ++i) {
        int v = (p[i + kFireWidth] + 2 * left + p[i + kFireWidth + 1] + 4 * p[i + 2 * kFireWidth]) >> 3;
        if (v > 0)
            --v;
        p[i] = (uint8_t)v;
        left = v;
    }
}

void fire_seed(uint8_t* p, bool seeding)
{
    uint8_t* row68 = p + (kFireHeight - 2) * kFireWidth;
    uint8_t* row69 = p + (kFireHeight - 1) * kFireWidth;
    if (!seeding) {
        std::memset(row68, 0, kFireWidth);
        std::memset(row69, 0, kFireWidth);
        return;
    }
    uint8_t previous = 0;
    for (int x = 0; x < kFireWidth; ++x) {
        const int32_t r = random_below(256);
        const uint8_t v = r <= 91 ? 255 : r <= 127 ? 0 : previous;
        row68[x] = row69[x] = v;
        previous = v;
    }
}

void fire_map(uint8_t* screen, const uint8_t* radius, const uint8_t* angle, const uint8_t* fire, int frame)
{
    const int32_t shift =
        (sine_table[(8 * frame) & (kTableSize - 1)] + cosine_table[(20 * frame) & (kTableSize - 1)]) >> 3;
    const uint8_t turn = (uint8_t)shift;
    uint8_t* mirror = screen + kMapWidth * kMapHeight - 1;
    for (int k = 0; k < kMapBytes; ++k) {
        const int row = 64 - (radius[k] >> 2);
        const int column = (uint8_t)(angle[k] + turn) >> 2;
        const uint8_t v = fire[row * kFireWidth + column];
        screen[k] = v;
        *(mirror - k) = v;
    }
}

void fire_frame(Image* screen, FireRun* run, int32_t elapsed, int end)
{
    const int32_t t = (int32_t)(elapsed * 0.01);
    fire_propagate(fire_buffer->pixels);
    fire_seed(fire_buffer->pixels, fire_seeding(elapsed, end));
    fire_map(screen->pixels, radius_map, angle_map, fire_buffer->pixels, run->frame);

    if (fire_skull_shown(t, end))
        image_blit(screen, (kScreenWidth - skull->width) >> 1, (kScreenHeight - skull->height) >> 1, skull, 0, 0,
                   skull->width, skull->height, 0, 1);
    grid_draw(screen);
    filter_streak(screen->pixels, kScreenWidth, kScreenHeight, 0, 2);

    // The thumbnail shows the frame before the bar, the figure and the blur.
    image_scale_copy(thumbnail, 0, 0, kThumbWidth, kThumbHeight, screen, 0, 0, kScreenWidth, kScreenHeight, 0, 0);
    frame_border(thumbnail, 255);

    image_fill_rect(screen, 0, 0, 60, kScreenHeight, 120);
    if (kFigure[run->figure].x0 < 0)
        run->figure = 0;
    const FigureFrame& ff = kFigure[run->figure];
    image_blit(screen, ff.dest_x, ff.dest_y, sprite_sheet, ff.x0, ff.y0, ff.x1 - ff.x0, ff.y1 - ff.y0, 255, 1);
    if (random_below(100) <= 74)
        ++run->figure;

    filter_blur(screen->pixels, kScreenWidth, kScreenHeight, 2);
    image_blit(screen, 316 - kThumbWidth, 4, thumbnail, 0, 0, kThumbWidth, kThumbHeight, 0, 0);
    ++run->frame;
}

void fire_run(Image* screen, int end, int, int, int orientation, int map_shape)
{
    clock_mark();
    int32_t elapsed = clock_elapsed();
    int32_t frame_start = clock_now();
    fire_precalc(radius_map, angle_map, kMapWidth, kMapHeight, orientation, map_shape);
    fire_palette();
    display_set_palette(work_palette);

    FireRun run;
    while ((int32_t)(elapsed * 0.01) < end) {
        fire_frame(screen, &run, elapsed, end);
        display_present(*screen);
        clock_wait(frame_start, kFramePeriod);
        frame_start = clock_now();
        elapsed = clock_elapsed();
    }
}
