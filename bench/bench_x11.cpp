// Speed of the X11 back-end's whole frames sent to the server named by DISPLAY (skipped
// without one); the conversion alone is measured in bench_pixel_convert.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "core/shared.h"
#include "display/display.h"
#include "display/x11/display_x11.h"

namespace {

// The picture every benchmark presents: all indices.
struct Source {
    std::vector<uint8_t> pixels;
    Image image;
};

const Source& source()
{
    static const Source made = [] {
        Source s;
        s.pixels.resize((size_t)(kScreenWidth * kScreenHeight));
        for (size_t i = 0; i < s.pixels.size(); ++i)
            s.pixels[i] = (uint8_t)(i * 7 + i / 320);
        s.image = {kScreenWidth, kScreenHeight, s.pixels.data()};
        return s;
    }();
    return made;
}

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
