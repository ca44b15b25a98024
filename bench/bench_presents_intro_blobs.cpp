// One frame of each of the first three parts, drawing only. The goal is at most 1 % of
// the frame period: 600 us for the presents screen and the intro, 700 us for the blobs.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "core/clock.h"
#include "core/shared.h"
#include "fx/tables.h"
#include "parts/blobs.h"
#include "parts/intro.h"
#include "parts/presents.h"

namespace {

Image* pattern_image(int width, int height, int seed)
{
    Image* image = nullptr;
    image_alloc(&image, (uint32_t)width, (uint32_t)height);
    for (int k = 0; k < width * height; ++k)
        image->pixels[k] = (uint8_t)((k % width) * 3 + (k / width) * seed);
    return image;
}

void presents_frame(benchmark::State& state)
{
    for (int i = 0; i < 768; ++i)
        work_palette.rgb[i] = (uint8_t)(i * 7);
    presents_use_picture(pattern_image(kScreenWidth, kScreenHeight, 5));
    Image* screen = pattern_image(kScreenWidth, kScreenHeight, 1);
    int frame = 1; // frames with a streak cost the most
    for (auto _ : state) {
        presents_draw(screen, frame);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
        frame = frame % 21 + 1;
    }
    image_free(&screen);
    presents_free();
}
BENCHMARK(presents_frame)->Unit(benchmark::kMicrosecond);

void intro_frame(benchmark::State& state)
{
    tables_init();
    Palette palette;
    for (int i = 0; i < 768; ++i)
        palette.rgb[i] = (uint8_t)i;
    intro_use_pictures(pattern_image(kScreenWidth, kScreenHeight, 5), pattern_image(320, 243, 7), palette);
    Image* screen = pattern_image(kScreenWidth, kScreenHeight, 1);
    random_seed_set(1);
    int frame = 0;
    for (auto _ : state) {
        intro_draw(screen, 2, frame, 0);
        intro_damage(screen);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
        ++frame;
    }
    image_free(&screen);
    intro_free();
}
BENCHMARK(intro_frame)->Unit(benchmark::kMicrosecond);

void blobs_frame(benchmark::State& state)
{
    random_seed_set(1);
    blobs_load();
    Image* screen = pattern_image(kScreenWidth, kScreenHeight, 1);
    Image* low = pattern_image(kScreenWidth, kScreenHeight, 3);
    Image* high = pattern_image(kScreenWidth, kScreenHeight, 11);
    for (auto _ : state) {
        image_fill(screen, 127);
        blobs_draw(screen->pixels, 9);
        blobs_colour(screen, low, high);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
    image_free(&screen);
    image_free(&low);
    image_free(&high);
    blobs_free();
}
BENCHMARK(blobs_frame)->Unit(benchmark::kMicrosecond);

} // namespace
