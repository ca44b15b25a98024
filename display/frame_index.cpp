// The frame index line and its CRC-32, shared by the headless renderer and the browser.
#include "display/frame_index.h"

#include <array>
#include <cstdio>

namespace {

// The reflected polynomial 0xEDB88320, one table entry per byte value.
constexpr std::array<uint32_t, 256> make_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = make_table();
static_assert(kTable[1] == 0x77073096u && kTable[255] == 0x2D02EF8Du);

} // namespace

uint32_t frame_crc(const uint8_t* data, size_t size)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = kTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

int frame_index_line(char* line, int frame, int32_t time, const Image& image, const Palette& palette)
{
    const uint32_t image_crc = frame_crc(image.pixels, (size_t)image.width * (size_t)image.height);
    const uint32_t palette_crc = frame_crc(palette.rgb, sizeof palette.rgb);
    // Four numbers of at most 11 characters, three tabs and the line end fit with room.
    static_assert(kFrameIndexLineSize > 4 * 11 + 4);
    return std::snprintf(line, kFrameIndexLineSize, "%d\t%d\t%08x\t%08x\n", frame, (int)time, (unsigned)image_crc,
                         (unsigned)palette_crc);
}
