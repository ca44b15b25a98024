// Speed of the video's per-frame picture work: palette conversion and ×3 enlargement of
// one screen image, against a memset of the same output bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/shared.h"
#include "video/convert.h"

namespace {

constexpr int kScale = 3;
constexpr size_t kOutPixels = (size_t)kScreenWidth * kScale * kScreenHeight * kScale;

void BM_VideoConvertScale3(benchmark::State& state)
{
    std::vector<uint8_t> pixels((size_t)(kScreenWidth * kScreenHeight));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (uint8_t)(i * 7 + i / 320);
    const Image image{kScreenWidth, kScreenHeight, pixels.data()};
    Palette palette;
    for (int i = 0; i < 768; ++i)
        palette.rgb[i] = (uint8_t)(i * 5);
    std::vector<uint32_t> out(kOutPixels);
    for (auto _ : state) {
        video_convert(image, palette, kScale, out.data(), kScreenWidth * kScale);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(kOutPixels * 4));
}
BENCHMARK(BM_VideoConvertScale3);

void BM_MemsetSameBytes(benchmark::State& state)
{
    std::vector<uint32_t> out(kOutPixels);
    int value = 0;
    for (auto _ : state) {
        std::memset(out.data(), ++value, kOutPixels * 4);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(kOutPixels * 4));
}
BENCHMARK(BM_MemsetSameBytes);

} // namespace
