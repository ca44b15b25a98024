// Speed of tarqle-sdl's per-frame picture work at two window sizes: the frame converted
// into a texture of the picture's own size (the renderer enlarges it), and, for contrast,
// into a texture as large as the window's whole-number scale; each against a memset of
// the 76 800 bytes of one indexed frame in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/shared.h"
#include "display/convert/pixel_convert.h"

namespace {

// Arguments: window width and height, and 1 to fill a window-scale texture instead.
void BM_SdlFrame(benchmark::State& state)
{
    std::vector<uint8_t> pixels((size_t)(kScreenWidth * kScreenHeight));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (uint8_t)(i * 7 + i / 320);
    const Image image = {kScreenWidth, kScreenHeight, pixels.data()};
    Palette palette;
    for (int i = 0; i < 768; ++i)
        palette.rgb[i] = (uint8_t)(i * 5);
    uint32_t table[256];
    palette_pixels({{16, 8}, {8, 8}, {0, 8}, 0xFF000000u}, palette, table);
    const bool window_scale = state.range(2) != 0;
    const int32_t scale =
        window_scale
            ? whole_placement((int32_t)state.range(0), (int32_t)state.range(1), kScreenWidth, kScreenHeight).scale
            : 1;
    const int32_t pitch = kScreenWidth * scale * 4;
    std::vector<uint8_t> texture((size_t)pitch * (size_t)(kScreenHeight * scale));
    for (auto _ : state) {
        const Placement where =
            whole_placement((int32_t)state.range(0), (int32_t)state.range(1), kScreenWidth, kScreenHeight);
        benchmark::DoNotOptimize(where);
        convert_frame(image, table, {texture.data(), pitch, 4, scale, nullptr});
        benchmark::DoNotOptimize(texture.data());
        benchmark::ClobberMemory();
    }
    state.counters["texture_bytes"] = (double)texture.size();
}
BENCHMARK(BM_SdlFrame)->Args({960, 720, 0})->Args({3840, 2160, 0})->Args({960, 720, 1})->Args({3840, 2160, 1});

// The yardstick: one indexed frame's bytes written by memset.
void BM_Memset76800(benchmark::State& state)
{
    std::vector<uint8_t> frame((size_t)(kScreenWidth * kScreenHeight));
    uint8_t value = 0;
    for (auto _ : state) {
        std::memset(frame.data(), ++value, frame.size());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Memset76800);

} // namespace
