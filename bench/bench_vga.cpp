// The cost of putting one frame on the console: the conversion of the mode's 8-bit
// screen onto the framebuffer, per pixel format and scale (the scaling pass of modes
// other than 320x240 is measured in bench_core).
#include <benchmark/benchmark.h>

#include <vector>

#include "display/vgalayer/fbconvert.h"

namespace {

// Shows a width x height screen on a framebuffer in memory of the given size and format.
void show(benchmark::State& state, int width, int height, int fb_width, int fb_height, int bpp)
{
    FbChannel r{16, 8}, g{8, 8}, b{0, 8};
    if (bpp == 2) {
        r = {11, 5};
        g = {5, 6};
        b = {0, 5};
    }
    std::vector<uint8_t> memory((size_t)fb_width * fb_height * bpp);
    FbSurface surface{memory.data(), fb_width, fb_height, fb_width * bpp, bpp, r, g, b};
    FbPlacement place = fb_place(width, height, fb_width, fb_height);
    std::vector<uint8_t> screen((size_t)width * height);
    for (size_t i = 0; i < screen.size(); ++i)
        screen[i] = (uint8_t)(i * 7 + i / 320);
    uint32_t lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = fb_pack(surface, i, i >> 1, 63 - (i & 63));
    std::vector<uint8_t> row((size_t)width * place.scale * bpp);
    for (auto _ : state) {
        fb_show(surface, place, screen.data(), width, height, lut, row.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Show320x240On1280x800x32(benchmark::State& s) { show(s, 320, 240, 1280, 800, 4); }
void BM_Show640x480On1280x800x32(benchmark::State& s) { show(s, 640, 480, 1280, 800, 4); }
void BM_Show320x240On640x480x32(benchmark::State& s) { show(s, 320, 240, 640, 480, 4); }
void BM_Show320x240On640x480x16(benchmark::State& s) { show(s, 320, 240, 640, 480, 2); }
void BM_Show800x600On1920x1080x32(benchmark::State& s) { show(s, 800, 600, 1920, 1080, 4); }
BENCHMARK(BM_Show320x240On1280x800x32);
BENCHMARK(BM_Show640x480On1280x800x32);
BENCHMARK(BM_Show320x240On640x480x32);
BENCHMARK(BM_Show320x240On640x480x16);
BENCHMARK(BM_Show800x600On1920x1080x32);

} // namespace
