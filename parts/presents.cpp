// Part one, the presents screen: the picture in a grey and a red ramp, streaked in
// cycles of 22 frames that calm down as the part goes on, and blurred.
#include "parts/presents.h"

#include <cstdio>
#include <cstring>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "fx/filters.h"
#include "fx/palette_match.h"
#include "parts/part_pictures.h"

namespace {

const char* const kPicturePath = "grafika/prese/presents.pcx";
constexpr int32_t kFramePeriod = 60; // milliseconds
constexpr int kEndTime = 110;        // part time, tenths of a second
constexpr int kCycle = 22;           // frames of one streak cycle
constexpr int kPixels = kScreenWidth * kScreenHeight;

Image* presents_picture;
Palette presents_palette;

} // namespace

void presents_use_picture(Image* picture)
{
    presents_picture = picture;
    // Grey ramp in 0..63, black band 64..191, red ramp in 192..255: the filters average
    // indices as numbers, so each ramp must run dark to light.
    std::memset(presents_palette.rgb, 0, sizeof presents_palette.rgb);
    for (int i = 0; i < 64; ++i) {
        uint8_t* grey = &presents_palette.rgb[3 * i];
        grey[0] = grey[1] = grey[2] = (uint8_t)(4 * i);
        uint8_t* red = &presents_palette.rgb[3 * (192 + i)];
        red[0] = (uint8_t)(4 * i);
        red[1] = red[2] = (uint8_t)i;
    }
    image_remap_palette(presents_picture, work_palette, presents_palette);
}

void presents_load()
{
    Image* picture = nullptr;
    load_or_exit(kPicturePath, &picture, &work_palette);
    if (picture->width != kScreenWidth || picture->height != kScreenHeight)
        refuse_size(&picture);
    presents_use_picture(picture);
}

void presents_draw(Image* screen, int frame_count)
{
    std::memcpy(screen->pixels, presents_picture->pixels, kPixels);
    const int cycle = frame_count / kCycle;
    const int step = frame_count % kCycle;
    // The first frame of each cycle is only blurred; the streak reaches further within a
    // cycle and fades less in later cycles (the decay is 0 from frame 176 on).
    if (step != 0)
        filter_streak(screen->pixels, kScreenWidth, kScreenHeight, (uint8_t)((9 - cycle) >> 1), (uint8_t)(2 * step));
    filter_blur(screen->pixels, kScreenWidth, kScreenHeight, 1);
}

void presents_run(Image* screen)
{
    clock_mark();
    int part_time = (int)(clock_elapsed() * 0.01);
    int32_t frame_start = clock_now();
    display_set_palette(presents_palette);
    image_fill(screen, 0);

    int frame_count = 0;
    while (part_time < kEndTime) {
        presents_draw(screen, frame_count);
        display_present(*screen);
        ++frame_count;
        clock_wait(frame_start, kFramePeriod);
        frame_start = clock_now();
        part_time = (int)(clock_elapsed() * 0.01);
    }
    std::printf("screens: %d:\n", frame_count);
}

void presents_free()
{
    image_free(&presents_picture);
}
