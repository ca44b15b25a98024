// A small PCX encoder for the tests: version 5, run-length coded, 8 bits, one plane.
#include "tests/pcx_write.h"

#include <cstdio>
#include <filesystem>

bool write_pcx(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
               const Palette& palette)
{
    std::vector<uint8_t> out(128, 0);
    out[0] = 10;
    out[1] = 5;
    out[2] = 1;
    out[3] = 8;
    const auto put16 = [&out](int at, int v) {
        out[at] = (uint8_t)(v & 255);
        out[at + 1] = (uint8_t)(v >> 8);
    };
    put16(8, width - 1);
    put16(10, height - 1);
    out[65] = 1;
    put16(66, width);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels.data() + (size_t)y * width;
        for (int x = 0; x < width;) {
            int run = 1;
            while (x + run < width && run < 63 && row[x + run] == row[x])
                ++run;
            if (run > 1 || row[x] >= 192)
                out.push_back((uint8_t)(192 | run));
            out.push_back(row[x]);
            x += run;
        }
    }
    out.push_back(12);
    out.insert(out.end(), palette.rgb, palette.rgb + 768);

    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && written;
}
