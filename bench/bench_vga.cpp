// The console's frame on its way to the screen through KMS: the conversion into a dumb
// buffer of the console's mode against a memset of the same bytes, and, run from a text
// console with a DRM device, whole frames with their flips.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "display/vgalayer/fbconvert.h"
#include "display/vgalayer/kms.h"

namespace {

// A dumb buffer's layout: 32-bit pixels, rows padded to 64 bytes as drivers commonly do.
struct DumbBuffer {
    int width, height, pitch;
    std::vector<uint8_t> bytes;
    DumbBuffer(int w, int h) : width(w), height(h), pitch((w * 4 + 63) / 64 * 64), bytes((size_t)pitch * h) {}
    FbSurface surface()
    {
        return FbSurface{bytes.data(), width, height, pitch, 4, {16, 8}, {8, 8}, {0, 8}};
    }
};

// One frame's conversion into a back buffer of the console's mode: the 320x240 screen
// at the largest whole scale, centred (the margins stay black from the mode's start).
void frame_into_dumb_buffer(benchmark::State& state, int screen_width, int screen_height)
{
    DumbBuffer buffer(screen_width, screen_height);
    FbSurface surface = buffer.surface();
    Placement place = whole_placement(screen_width, screen_height, 320, 240);
    std::vector<uint8_t> screen(320 * 240);
    for (size_t i = 0; i < screen.size(); ++i)
        screen[i] = (uint8_t)(i * 7 + i / 320);
    const Image picture = {320, 240, screen.data()};
    uint32_t lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = fb_pack(surface, i, i >> 1, 63 - (i & 63));
    std::vector<uint8_t> row((size_t)320 * place.scale * 4);
    for (auto _ : state) {
        fb_show(surface, place, picture, lut, row.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)320 * place.scale * 240 * place.scale * 4);
}

// The floor for the same frame: the rows of the picture's place set with memset.
void memset_same_bytes(benchmark::State& state, int screen_width, int screen_height)
{
    DumbBuffer buffer(screen_width, screen_height);
    Placement place = whole_placement(screen_width, screen_height, 320, 240);
    size_t row_bytes = (size_t)320 * place.scale * 4;
    uint8_t* first = buffer.bytes.data() + (size_t)place.y * buffer.pitch + (size_t)place.x * 4;
    int value = 0;
    for (auto _ : state) {
        for (int y = 0; y < 240 * place.scale; ++y)
            std::memset(first + (size_t)y * buffer.pitch, ++value, row_bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)row_bytes * 240 * place.scale);
}

void BM_FrameIntoDumbBuffer1280x800(benchmark::State& s)
{
    frame_into_dumb_buffer(s, 1280, 800);
}
void BM_MemsetSameBytes1280x800(benchmark::State& s)
{
    memset_same_bytes(s, 1280, 800);
}
void BM_FrameIntoDumbBuffer1920x1080(benchmark::State& s)
{
    frame_into_dumb_buffer(s, 1920, 1080);
}
void BM_MemsetSameBytes1920x1080(benchmark::State& s)
{
    memset_same_bytes(s, 1920, 1080);
}
BENCHMARK(BM_FrameIntoDumbBuffer1280x800);
BENCHMARK(BM_MemsetSameBytes1280x800);
BENCHMARK(BM_FrameIntoDumbBuffer1920x1080);
BENCHMARK(BM_MemsetSameBytes1920x1080);

// Whole frames through KMS: the wait for the last flip, the conversion into the mapped
// dumb buffer and the flip request, so its rate is the display's refresh rate when the
// driver flips on the vertical blank. Takes the screen for the run; needs a DRM device
// that nobody else is master of (a text console, not a graphical session).
void BM_FrameAndFlipThroughKms(benchmark::State& state)
{
    if (kms_open() == nullptr || !kms_take()) {
        state.SkipWithError("no DRM device to be master of (run from a text console with access to /dev/dri)");
        return;
    }
    FbSurface format = kms_back_buffer();
    Placement place = whole_placement(format.width, format.height, 320, 240);
    std::vector<uint8_t> screen(320 * 240);
    const Image picture = {320, 240, screen.data()};
    uint32_t lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = fb_pack(format, i, i >> 1, 63 - (i & 63));
    std::vector<uint8_t> row((size_t)320 * place.scale * 4);
    uint8_t shade = 0;
    for (auto _ : state) {
        std::memset(screen.data(), ++shade, screen.size());
        fb_show(kms_back_buffer(), place, picture, lut, row.data());
        kms_flip();
    }
    kms_back_buffer();
    kms_release();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameAndFlipThroughKms)->UseRealTime();

} // namespace
