// libFuzzer target: arbitrary bytes through the PCX decoder, which must refuse or decode
// them without reading or writing outside its buffers or allocating out of proportion.
#include <cstdlib>

#include "pcx/pcx.h"

namespace {
volatile unsigned sink;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t* pixels = nullptr;
    Palette palette;
    int32_t width = 0, height = 0;
    bool with_palette = size > 0 && (data[size - 1] & 1);
    int r = pcx_decode_memory("fuzz.pcx", data, size, &pixels, with_palette ? &palette : nullptr, &width, &height);
    if (r == 0) {
        if (pixels == nullptr || width < 1 || height < 1)
            std::abort();
        // Every byte of the block is read, so a block shorter than its size overflows.
        unsigned sum = 0;
        for (size_t i = 0; i < (size_t)width * (size_t)height; ++i)
            sum += pixels[i];
        sink = sum;
    } else if (pixels != nullptr || r < -4) {
        std::abort();
    }
    std::free(pixels);
    return 0;
}
