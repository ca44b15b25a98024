// The closing screens: the fire's last frame washed out to white, then the closing
// picture with its own colours, fading toward black at the end.
#include "parts/closing.h"

#include <cstring>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "parts/part_pictures.h"

namespace {
constexpr int32_t kWhiteoutPeriod = 70;
constexpr double kWhiteoutEnd = 13;
constexpr int32_t kClosingPeriod = 83;
constexpr double kFadeLength = 20; // the fade fills the last 2 seconds
} // namespace

void whiteout_step(Palette* palette)
{
    for (uint8_t& v : palette->rgb)
        v = v <= 223 ? (uint8_t)(v + 16) : 255;
}

void closing_fade_step(Palette* fade, const Palette& own)
{
    for (int i = 0; i < 768; ++i) {
        const uint8_t d = own.rgb[i] >> 4;
        fade->rgb[i] = fade->rgb[i] > d ? (uint8_t)(fade->rgb[i] - d) : 0;
    }
}

void whiteout_run(Image* screen)
{
    clock_mark();
    int32_t elapsed = clock_elapsed();
    int32_t frame_start = clock_now();
    while (elapsed * 0.01 < kWhiteoutEnd) {
        whiteout_step(&work_palette);
        display_set_palette(work_palette);
        display_present(*screen);
        clock_wait(frame_start, kWhiteoutPeriod);
        frame_start = clock_now();
        elapsed = clock_elapsed();
    }
}

void closing_run(Image* screen, uint32_t end_time, const char* path)
{
    clock_mark();
    int32_t elapsed = clock_elapsed();
    int32_t frame_start = clock_now();
    Image* picture = nullptr;
    load_or_exit(path, &picture, &work_palette);
    if (picture->width != screen->width || picture->height != screen->height)
        refuse_size(&picture);
    std::memcpy(screen->pixels, picture->pixels, (size_t)screen->width * (size_t)screen->height);

    Palette fade = work_palette;
    // In double, so that an end below the fade's length starts the fade at once
    // instead of wrapping round.
    const double end = end_time;
    while (elapsed * 0.01 < end) {
        if (elapsed * 0.01 < end - kFadeLength) {
            display_set_palette(work_palette);
        } else {
            closing_fade_step(&fade, work_palette);
            display_set_palette(fade);
        }
        display_present(*screen);
        clock_wait(frame_start, kClosingPeriod);
        frame_start = clock_now();
        elapsed = clock_elapsed();
    }
    image_free(&picture);
}
