// Speed of the X11 back-end's per-frame work: the conversion at each element and pixel
// size against a memset of the same bytes, and whole frames sent to the server named by
// DISPLAY (skipped without one).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/shared.h"
#include "display/display.h"
#include "display/x11/display_x11.h"

namespace {

// The picture and table every benchmark converts: all indices, a colour per index.
struct Source {
    std::vector<uint8_t> pixels;
    Image image;
    PixelTable table;
};

const Source& source()
{
    static const Source made = [] {
        Source s;
        s.pixels.resize((size_t)(kScreenWidth * kScreenHeight));
        for (size_t i = 0; i < s.pixels.size(); ++i)
            s.pixels[i] = (uint8_t)(i * 7 + i / 320);
        s.image = {kScreenWidth, kScreenHeight, s.pixels.data()};
        uint32_t values[256];
        for (uint32_t i = 0; i < 256; ++i)
            values[i] = i * 0x010203u;
        pixel_table_fill(&s.table, values);
        return s;
    }();
    return made;
}

// Arguments: bits per pixel, pixel size.
void BM_Convert(benchmark::State& state)
{
    const Source& src = source();
    const int32_t bits = (int32_t)state.range(0), size = (int32_t)state.range(1);
    const int32_t stride = kScreenWidth * size * bits / 8;
    std::vector<uint8_t> frame((size_t)(stride * kScreenHeight * size));
    for (auto _ : state) {
        frame_convert(src.image, &src.table, {frame.data(), stride, bits, size});
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)frame.size());
}
BENCHMARK(BM_Convert)->Args({32, 2})->Args({32, 1})->Args({16, 2})->Args({16, 1});

// The write floor: the 640 x 480 x 32-bit frame's bytes written by memset.
void BM_MemsetFrame(benchmark::State& state)
{
    std::vector<uint8_t> frame(640 * 480 * 4);
    int value = 0;
    for (auto _ : state) {
        std::memset(frame.data(), ++value, frame.size());
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)frame.size());
}
BENCHMARK(BM_MemsetFrame);

// Whole frames at pixel size 2 (argument 1: shared memory, 0: plain), each followed by
// XSync so the time includes the server taking the picture.
void BM_PresentToServer(benchmark::State& state)
{
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        state.SkipWithError("no DISPLAY");
        return;
    }
    const Source& src = source();
    char program[] = "bench_x11";
    char* argv[] = {program, nullptr};
    x11_window_setup(1, argv, "bench_x11", kScreenWidth, kScreenHeight, 2);
    x11.use_shared_memory = state.range(0) != 0 && XShmQueryExtension(x11.display) ? 1 : 0;
    if (x11_image_create(&x11.frame, &x11.segment, x11.window_width, x11.window_height, x11.display, x11.visual) != 0) {
        display_close();
        state.SkipWithError("no frame image");
        return;
    }
    if (x11.use_shared_memory != state.range(0)) {
        display_close();
        state.SkipWithError("shared memory refused");
        return;
    }
    for (auto _ : state) {
        display_present(src.image);
        XSync(x11.display, False);
    }
    state.counters["fps"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    display_close();
}
BENCHMARK(BM_PresentToServer)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace
