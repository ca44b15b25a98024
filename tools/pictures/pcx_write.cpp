// The PCX encoder of the picture maker; its files round-trip through the demo's decoder.
#include "tools/pictures/pcx_write.h"

#include <cstdio>
#include <filesystem>

namespace {

constexpr int kLongestRun = 63;

void put_word(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    out[at] = (uint8_t)(v & 0xFF);
    out[at + 1] = (uint8_t)(v >> 8);
}

// One row: runs of equal bytes as a code byte (192 + length) and the value; a single
// byte below 192 stands for itself, any other needs a run of one.
void encode_row(std::vector<uint8_t>& out, const uint8_t* row, int n)
{
    int i = 0;
    while (i < n) {
        int run = 1;
        while (i + run < n && run < kLongestRun && row[i + run] == row[i])
            ++run;
        if (run == 1 && row[i] < 0xC0) {
            out.push_back(row[i]);
        } else {
            out.push_back((uint8_t)(0xC0 | run));
            out.push_back(row[i]);
        }
        i += run;
    }
}

} // namespace

std::vector<uint8_t> pcx_encode(const uint8_t* pixels, int32_t width, int32_t height, const Palette& palette)
{
    int32_t bytes_per_line = width + (width & 1);
    std::vector<uint8_t> out(128, 0);
    out[0] = 10; // manufacturer
    out[1] = 5;  // version
    out[2] = 1;  // run-length coding
    out[3] = 8;  // bits per pixel
    put_word(out, 8, (uint32_t)width - 1);
    put_word(out, 10, (uint32_t)height - 1);
    put_word(out, 12, 72); // resolution, dots per inch
    put_word(out, 14, 72);
    out[65] = 1; // planes
    put_word(out, 66, (uint32_t)bytes_per_line);
    put_word(out, 68, 1); // palette info: colour
    std::vector<uint8_t> row((size_t)bytes_per_line, 0);
    for (int32_t y = 0; y < height; ++y) {
        std::copy(pixels + (size_t)y * width, pixels + (size_t)(y + 1) * width, row.begin());
        encode_row(out, row.data(), bytes_per_line);
    }
    out.push_back(12); // the marker in front of the palette
    out.insert(out.end(), palette.rgb, palette.rgb + sizeof(palette.rgb));
    return out;
}

int pcx_write(const std::string& path, const uint8_t* pixels, int32_t width, int32_t height, const Palette& palette)
{
    std::vector<uint8_t> bytes = pcx_encode(pixels, width, height, palette);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return -1;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return -1;
    }
    return 0;
}
