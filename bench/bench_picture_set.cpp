// One frame of each picture-set part, drawing and grid: the flicker's copy and pulse zoom,
// the mosaic's finest tiling, and a sliding step.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "core/clock.h"
#include "core/image.h"
#include "fx/grid.h"
#include "parts/pictures.h"
#include "parts/slides.h"

namespace {

struct PictureSet {
    PictureSet()
    {
        for (int i = 0; i < kPictureCount; ++i) {
            image_alloc(&picture_set[i], 320, 240);
            for (int p = 0; p < 320 * 240; ++p)
                picture_set[i]->pixels[p] = (uint8_t)(p * (i + 3) >> 4);
        }
        image_alloc(&slide_buffer, 320, 240);
        image_alloc(&screen, 320, 240);
        grid_tables_init();
        random_seed_set(1);
    }
    ~PictureSet()
    {
        pictures_free();
        image_free(&screen);
    }
    Image* screen = nullptr;
};

void flicker_show(benchmark::State& state)
{
    PictureSet set;
    for (auto _ : state) {
        std::memcpy(set.screen->pixels, picture_set[3]->pixels, 320 * 240);
        grid_draw(set.screen);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(flicker_show);

void flicker_pulse_zoom(benchmark::State& state)
{
    PictureSet set;
    for (auto _ : state) {
        const int k = 8; // the smallest source rectangle: the most enlargement
        image_scale_copy(set.screen, 0, 0, 320, 240, picture_set[4], 13 * k, 13 * k, 320 - 26 * k, 240 - 26 * k, 0, 0);
        grid_draw(set.screen);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(flicker_pulse_zoom);

void mosaic_ten_by_ten(benchmark::State& state)
{
    PictureSet set;
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j)
                image_scale_copy(set.screen, i * 32, j * 24, 32, 24, picture_set[(i + j) % kPictureCount], 0, 0, 320,
                                 240, 0, 0);
        grid_draw(set.screen);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(mosaic_ten_by_ten);

void slides_step(benchmark::State& state)
{
    PictureSet set;
    for (auto _ : state) {
        slides_draw_step(picture_set[5], 1, 80);
        std::memcpy(set.screen->pixels, slide_buffer->pixels, 320 * 240);
        grid_draw(set.screen);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(slides_step);

} // namespace
