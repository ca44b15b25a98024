// Speed of the SDL back-end's per-frame work: one frame converted into the 960 x 720
// texture's pixels against a memset of the same bytes (the conversion may take at most 3x).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/shared.h"
#include "display/sdl/sdl_convert.h"

namespace {

constexpr int32_t kScale = 3;
constexpr int32_t kPitch = kScreenWidth * kScale * 4;
constexpr size_t kTextureBytes = (size_t)kPitch * kScreenHeight * kScale;

void BM_SdlConvertScale3(benchmark::State& state)
{
    std::vector<uint8_t> pixels((size_t)(kScreenWidth * kScreenHeight));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (uint8_t)(i * 7 + i / 320);
    const Image image = {kScreenWidth, kScreenHeight, pixels.data()};
    Palette palette;
    for (int i = 0; i < 768; ++i)
        palette.rgb[i] = (uint8_t)(i * 5);
    uint32_t table[256];
    sdl_palette_pixels(palette, table);
    std::vector<uint8_t> texture(kTextureBytes);
    for (auto _ : state) {
        sdl_frame_convert(image, table, texture.data(), kPitch, kScale);
        benchmark::DoNotOptimize(texture.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)kTextureBytes);
}
BENCHMARK(BM_SdlConvertScale3);

void BM_MemsetTexture(benchmark::State& state)
{
    std::vector<uint8_t> texture(kTextureBytes);
    uint8_t value = 0;
    for (auto _ : state) {
        std::memset(texture.data(), ++value, kTextureBytes);
        benchmark::DoNotOptimize(texture.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)kTextureBytes);
}
BENCHMARK(BM_MemsetTexture);

} // namespace
