// Part six: random pictures of the set sliding in from the four sides over the last frame.
#include "parts/slides.h"

#include <cstring>

#include "core/clock.h"
#include "core/shared.h"
#include "parts/pictures.h"

namespace {

constexpr int kFramePeriod = 45;
constexpr int kEndTime = 95;
constexpr size_t kScreenBytes = (size_t)kScreenWidth * kScreenHeight;

} // namespace

void slides_draw_step(const Image* picture, int side, int n)
{
    const int v = (n * 192) >> 8;
    const uint32_t w = (uint32_t)(320 - n), h = (uint32_t)(240 - v);
    switch (side) {
    case 0: // from the right
        image_scale_copy(slide_buffer, n, 0, w, 240, picture, 0, 0, w, 240, 0, 0);
        break;
    case 1: // from the left
        image_scale_copy(slide_buffer, 0, 0, w, 240, picture, n, 0, w, 240, 0, 0);
        break;
    case 2: // from the bottom
        image_scale_copy(slide_buffer, 0, v, 320, h, picture, 0, 0, 320, h, 0, 0);
        break;
    default: // from the top
        image_scale_copy(slide_buffer, 0, 0, 320, h, picture, 0, v, 320, h, 0, 0);
        break;
    }
}

void slides_run(Image* screen)
{
    const Image* current = picture_set[random_below(kPictureCount)];
    int32_t frame_start;
    int t = picture_part_begin(&frame_start);
    // The composition lives in the slide buffer, so the grid never gets into it.
    std::memcpy(slide_buffer->pixels, screen->pixels, kScreenBytes);
    int n = 320;
    int side = 0;
    while (t < kEndTime) {
        n -= 80;
        if (n < -79) {
            const Image* next;
            do
                next = picture_set[random_below(kPictureCount)];
            while (next == current);
            current = next;
            n = 320;
            side = random_below(4);
        }
        slides_draw_step(current, side, n);
        std::memcpy(screen->pixels, slide_buffer->pixels, kScreenBytes);
        t = picture_part_frame_end(screen, &frame_start, kFramePeriod);
    }
}
