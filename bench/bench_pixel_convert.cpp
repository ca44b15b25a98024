// Speed of the one conversion every back-end calls: a 320 x 240 frame into pixels of each
// size at the scales the programs use, with and without the framebuffer's scratch row,
// against a memset of the same output bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/shared.h"
#include "display/convert/pixel_convert.h"

namespace {

// The picture and table every benchmark converts: all indices, a colour per index.
struct Source {
    std::vector<uint8_t> pixels;
    Image image;
    uint32_t table[256];
};

const Source& source()
{
    static const Source made = [] {
        Source s;
        s.pixels.resize((size_t)(kScreenWidth * kScreenHeight));
        for (size_t i = 0; i < s.pixels.size(); ++i)
            s.pixels[i] = (uint8_t)(i * 7 + i / 320);
        s.image = {kScreenWidth, kScreenHeight, s.pixels.data()};
        Palette palette;
        for (int i = 0; i < 768; ++i)
            palette.rgb[i] = (uint8_t)(i * 5);
        palette_pixels({{16, 8}, {8, 8}, {0, 8}, 0xFF000000u}, palette, s.table);
        return s;
    }();
    return made;
}

size_t output_bytes(int32_t bytes, int32_t scale)
{
    return (size_t)kScreenWidth * (size_t)kScreenHeight * (size_t)(bytes * scale * scale);
}

// Arguments: bytes per pixel, scale, scratch row (1, as the console writes) or not (0).
void BM_ConvertFrame(benchmark::State& state)
{
    const Source& src = source();
    const int32_t bytes = (int32_t)state.range(0), scale = (int32_t)state.range(1);
    const int32_t stride = kScreenWidth * scale * bytes;
    std::vector<uint8_t> out(output_bytes(bytes, scale));
    std::vector<uint8_t> scratch((size_t)stride);
    const PixelTarget target = {out.data(), stride, bytes, scale, state.range(2) != 0 ? scratch.data() : nullptr};
    for (auto _ : state) {
        convert_frame(src.image, src.table, target);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)out.size());
}
BENCHMARK(BM_ConvertFrame)
    ->Args({4, 1, 0})
    ->Args({4, 2, 0})
    ->Args({4, 3, 0})
    ->Args({2, 1, 0})
    ->Args({2, 2, 0})
    ->Args({1, 2, 0})
    ->Args({4, 3, 1})
    ->Args({3, 3, 1})
    ->Args({2, 2, 1});

// The write floor: the same output bytes by memset. Arguments: bytes per pixel, scale.
void BM_MemsetSameBytes(benchmark::State& state)
{
    std::vector<uint8_t> out(output_bytes((int32_t)state.range(0), (int32_t)state.range(1)));
    int value = 0;
    for (auto _ : state) {
        std::memset(out.data(), ++value, out.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)out.size());
}
BENCHMARK(BM_MemsetSameBytes)
    ->Args({4, 1})
    ->Args({4, 2})
    ->Args({4, 3})
    ->Args({2, 1})
    ->Args({2, 2})
    ->Args({1, 2})
    ->Args({3, 3});

} // namespace
