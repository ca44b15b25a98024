// The scaled copy at the console back-end's sizes: cost per destination pixel.
#include <benchmark/benchmark.h>

#include "core/image.h"

namespace {

void scale_copy(benchmark::State& state)
{
    const uint32_t w = (uint32_t)state.range(0), h = (uint32_t)state.range(1);
    Image *src = nullptr, *dst = nullptr;
    image_alloc(&src, 320, 240);
    image_alloc(&dst, w, h);
    for (int i = 0; i < 320 * 240; ++i)
        src->pixels[i] = (uint8_t)(i * 31);
    for (auto _ : state) {
        image_scale_copy(dst, 0, 0, w, h, src, 0, 0, 320, 240, 0, 0);
        benchmark::DoNotOptimize(dst->pixels);
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_pixel"] = benchmark::Counter((double)state.iterations() * w * h,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    image_free(&src);
    image_free(&dst);
}
BENCHMARK(scale_copy)->Args({640, 480})->Args({800, 600})->Args({320, 200})->Args({360, 480});

} // namespace
