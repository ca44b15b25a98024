// Part four: the picture set shared by the flicker, mosaic and slides, and the flicker script.
#include "parts/pictures.h"

#include <cstdlib>
#include <cstring>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "fx/grid.h"
#include "parts/part_pictures.h"

Image* picture_set[kPictureCount];
Palette picture_palette;
Image* slide_buffer;

namespace {

// The script of all three picture-set parts names pictures by their index here.
const char* const kPicturePaths[kPictureCount] = {
    "grafika/aaa/b1.pcx", "grafika/aaa/b2.pcx", "grafika/aaa/b3.pcx", "grafika/aaa/b4.pcx", "grafika/aaa/c1.pcx",
    "grafika/aaa/c2.pcx", "grafika/aaa/c3.pcx", "grafika/aaa/e1.pcx", "grafika/aaa/e2.pcx", "grafika/aaa/e3.pcx",
    "grafika/aaa/e4.pcx", "grafika/aaa/d1.pcx", "grafika/aaa/d5.pcx", "grafika/aaa/d6.pcx", "grafika/aaa/d2.pcx",
    "grafika/aaa/d3.pcx", "grafika/aaa/d4.pcx",
};

enum PictureIndex { B1 = 0, B2, B3, B4, C1, C2, C3, E1, E2, E3, E4, D1, D5, D6, D2, D3, D4 };
static_assert(D4 == kPictureCount - 1);

constexpr int kFramePeriod = 60;
constexpr int kEndTime = 230;

// Flicker's drawing actions, f being the frame counter.
enum class Action { Show, Pair, Cycle, Zoom, Flash };

struct Cue {
    int until; // last part time of the cue, inclusive
    Action action;
    int first;
    int second;
};

const Cue kScript[] = {
    {9, Action::Pair, B1, B2},  {11, Action::Show, C2, 0},  {21, Action::Pair, B3, B4}, {24, Action::Show, C3, 0},
    {39, Action::Cycle, B1, 0}, {54, Action::Zoom, C1, 0},  {64, Action::Pair, E1, E2}, {66, Action::Show, D5, 0},
    {76, Action::Pair, E3, E4}, {79, Action::Show, D6, 0},  {94, Action::Cycle, E1, 0}, {109, Action::Zoom, D1, 0},
    {124, Action::Flash, 0, 0}, {139, Action::Zoom, D5, 0}, {154, Action::Flash, 0, 0}, {169, Action::Zoom, C2, 0},
    {184, Action::Flash, 0, 0}, {199, Action::Zoom, D3, 0}, {214, Action::Flash, 0, 0}, {229, Action::Zoom, D2, 0},
};

void show(Image* screen, int index)
{
    std::memcpy(screen->pixels, picture_set[index]->pixels, (size_t)kScreenWidth * kScreenHeight);
}

void draw_cue(Image* screen, const Cue& cue, int f)
{
    switch (cue.action) {
    case Action::Show: show(screen, cue.first); break;
    case Action::Pair: show(screen, ((f >> 1) & 1) == 0 ? cue.first : cue.second); break;
    case Action::Cycle: show(screen, cue.first + ((f >> 1) & 3)); break;
    case Action::Zoom: {
        // Over 16 frames the source rectangle shrinks towards the centre and grows back.
        const int k = std::abs((f & 15) - 7);
        image_scale_copy(screen, 0, 0, kScreenWidth, kScreenHeight, picture_set[cue.first], 13 * k, 13 * k,
                         (uint32_t)(320 - 26 * k), (uint32_t)(240 - 26 * k), 0, 0);
        break;
    }
    case Action::Flash:
        // Even frames keep the last picture, so this frame's grid brightens it again.
        if ((f & 1) != 0)
            show(screen, random_below(kPictureCount));
        break;
    }
}

} // namespace

void pictures_load()
{
    for (int i = 0; i < kPictureCount; ++i) {
        load_or_exit(kPicturePaths[i], &picture_set[i], &picture_palette);
        // Every frame copies whole pictures as 76800 bytes: a smaller one would be read past its end.
        if (picture_set[i]->width != kScreenWidth || picture_set[i]->height != kScreenHeight)
            refuse_size(&picture_set[i]);
    }
    alloc_or_exit(&slide_buffer, kScreenWidth, kScreenHeight, true);
    for (int i = 0; i < 256; ++i)
        picture_palette.rgb[3 * i] = picture_palette.rgb[3 * i + 1] = picture_palette.rgb[3 * i + 2] = (uint8_t)i;
    grid_tables_init();
}

int picture_part_begin(int32_t* frame_start)
{
    clock_mark();
    const int t = clock_elapsed() / 100;
    *frame_start = clock_now();
    display_set_palette(picture_palette);
    return t;
}

int picture_part_frame_end(Image* screen, int32_t* frame_start, int32_t period)
{
    grid_draw(screen);
    display_present(*screen);
    clock_wait(*frame_start, period);
    *frame_start = clock_now();
    return clock_elapsed() / 100;
}

void flicker_run(Image* screen)
{
    int32_t frame_start;
    int t = picture_part_begin(&frame_start);
    image_fill(screen, 0);
    int f = 0;
    const Cue* cue = kScript;
    while (t < kEndTime) {
        while (t > cue->until)
            ++cue;
        draw_cue(screen, *cue, f);
        t = picture_part_frame_end(screen, &frame_start, kFramePeriod);
        ++f;
    }
}

void pictures_free()
{
    for (Image*& picture : picture_set)
        image_free(&picture);
    image_free(&slide_buffer);
}
