// The frame index line and its CRC-32, shared by the headless renderer and the browser.
#include "display/frame_index.h"

#include <array>
#include <cstdio>

namespace {

// The reflected polynomial 0xEDB88320: table 0 takes one byte; table k advances a byte's
// CRC by k more zero bytes, so four bytes go through in four lookups at once.
using CrcTables = std::array<std::array<uint32_t, 256>, 4>;

constexpr CrcTables make_tables()
{
    CrcTables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (int k = 1; k < 4; ++k)
        for (uint32_t n = 0; n < 256; ++n)
            t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
    return t;
}

constexpr CrcTables kTables = make_tables();
static_assert(kTables[0][1] == 0x77073096u && kTables[0][255] == 0x2D02EF8Du);

} // namespace

uint32_t frame_crc(const uint8_t* data, size_t size)
{
    uint32_t c = 0xFFFFFFFFu;
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        c ^= (uint32_t)data[i] | (uint32_t)data[i + 1] << 8 | (uint32_t)data[i + 2] << 16 | (uint32_t)data[i + 3] << 24;
        c = kTables[3][c & 0xFF] ^ kTables[2][(c >> 8) & 0xFF] ^ kTables[1][(c >> 16) & 0xFF] ^ kTables[0][c >> 24];
    }
    for (; i < size; ++i)
        c = kTables[0][(c ^ data[i]) & 0xFF] ^ (c >> 8);
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

bool frame_index_number(FrameNumbering* numbering, bool replaying, int* number)
{
    if (replaying) {
        ++numbering->next;
        numbering->replayed = true;
        return false;
    }
    if (numbering->replayed) {
        numbering->replayed = false;
        --numbering->next;
    }
    *number = numbering->next++;
    return true;
}
