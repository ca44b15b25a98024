// The effect primitives per frame: both filters in their literal and program forms at the
// parts' settings, the zooming grid and the fire part's blits.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "core/clock.h"
#include "core/image.h"
#include "fx/blit.h"
#include "fx/filters.h"
#include "fx/grid.h"

namespace {

constexpr int kW = 320, kH = 240;

// A frame that stays alive under repeated filtering: noise to start with, and fresh bright
// spots before every pass, as the parts' own drawing adds between passes.
struct Frame {
    std::vector<uint8_t> pixels;
    std::mt19937 rng{2024};
    Frame() : pixels(kW * kH)
    {
        for (auto& p : pixels)
            p = (uint8_t)rng();
    }
    void refresh()
    {
        for (int i = 0; i < 64; ++i)
            pixels[rng() % pixels.size()] = (uint8_t)(160 + rng() % 96);
    }
};

void per_pixel(benchmark::State& state)
{
    state.counters["ns_per_pixel"] = benchmark::Counter((double)state.iterations() * kW * kH,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <bool kFast>
void blur(benchmark::State& state)
{
    Frame f;
    const uint8_t decay = (uint8_t)state.range(0);
    for (auto _ : state) {
        f.refresh();
        (kFast ? filter_blur : filter_blur_reference)(f.pixels.data(), kW, kH, decay);
        benchmark::ClobberMemory();
    }
    per_pixel(state);
}
BENCHMARK(blur<false>)->Name("blur_literal")->Arg(1)->Arg(2);
BENCHMARK(blur<true>)->Name("blur_fast")->Arg(1)->Arg(2);

template <bool kFast>
void streak(benchmark::State& state)
{
    Frame f;
    const uint8_t decay = (uint8_t)state.range(0), shift = (uint8_t)state.range(1);
    for (auto _ : state) {
        f.refresh();
        (kFast ? filter_streak : filter_streak_reference)(f.pixels.data(), kW, kH, decay, shift);
        benchmark::ClobberMemory();
    }
    per_pixel(state);
}

// Decay 0 to 4 with the shifts 0 to 3 and every even shift up to 42.
void streak_settings(benchmark::internal::Benchmark* b)
{
    for (int decay = 0; decay <= 4; ++decay) {
        for (int shift = 0; shift <= 3; ++shift)
            b->Args({decay, shift});
        for (int shift = 4; shift <= 42; shift += 2)
            b->Args({decay, shift});
    }
}
BENCHMARK(streak<false>)->Name("streak_literal")->Apply(streak_settings);
BENCHMARK(streak<true>)->Name("streak_fast")->Apply(streak_settings);

void grid(benchmark::State& state)
{
    Image* screen = nullptr;
    image_alloc(&screen, kW, kH);
    grid_tables_init();
    random_seed_set(1);
    for (auto _ : state) {
        grid_draw(screen);
        benchmark::ClobberMemory();
    }
    image_free(&screen);
}
BENCHMARK(grid);

// The fire part's blits per frame: a centred skull as a sprite (key 0, half of it
// transparent) and the 80 x 60 thumbnail as a plain copy.
void fire_blits(benchmark::State& state)
{
    const int side = (int)state.range(0);
    Image *screen = nullptr, *skull = nullptr, *thumb = nullptr;
    image_alloc(&screen, kW, kH);
    image_alloc(&skull, side, side);
    image_alloc(&thumb, 80, 60);
    std::mt19937 rng(5);
    for (int i = 0; i < side * side; ++i)
        skull->pixels[i] = rng() % 2 ? 0 : (uint8_t)rng();
    for (auto _ : state) {
        image_blit(screen, (kW - side) >> 1, (kH - side) >> 1, skull, 0, 0, side, side, 0, 1);
        image_blit(screen, 236, 4, thumb, 0, 0, 80, 60, 0, 0);
        benchmark::ClobberMemory();
    }
    image_free(&screen);
    image_free(&skull);
    image_free(&thumb);
}
BENCHMARK(fire_blits)->Arg(128)->Arg(200);

} // namespace
