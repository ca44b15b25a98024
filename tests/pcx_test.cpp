// The PCX decoder against hand-made files: run-length rules, repacking, and every refusal.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pcx/pcx.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put_word(Bytes& b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)(v & 0xFF);
    b[at + 1] = (uint8_t)(v >> 8);
}

// A file: header for x_min..x_max, y_min..y_max with bytes per line, the coded data, the
// marker 12 and a trailer whose bytes are index % 192 (literals, should the data run into it).
Bytes pcx_file(uint32_t x_min, uint32_t y_min, uint32_t x_max, uint32_t y_max, uint32_t bytes_per_line,
               const Bytes& coded, bool marker = true)
{
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    put_word(b, 4, x_min);
    put_word(b, 6, y_min);
    put_word(b, 8, x_max);
    put_word(b, 10, y_max);
    b[65] = 1;
    put_word(b, 66, bytes_per_line);
    b.resize(128 + coded.size() + (marker ? 1 : 0) + 768);
    std::copy(coded.begin(), coded.end(), b.begin() + 128);
    size_t at = 128 + coded.size();
    if (marker)
        b[at++] = 12;
    for (int i = 0; i < 768; ++i)
        b[at + i] = (uint8_t)(i % 192);
    return b;
}

struct Decoded {
    int result = 0;
    std::string printed;
    Bytes pixels;
    bool pixels_null = true;
    int32_t width = -1, height = -1;
    Palette palette{};
};

Decoded decode(const Bytes& file)
{
    Decoded d;
    uint8_t* pixels = nullptr;
    testing::internal::CaptureStdout();
    d.result = pcx_decode_memory("p.pcx", file.data(), file.size(), &pixels, &d.palette, &d.width, &d.height);
    std::fflush(stdout);
    d.printed = testing::internal::GetCapturedStdout();
    d.pixels_null = pixels == nullptr;
    if (pixels != nullptr)
        d.pixels.assign(pixels, pixels + (size_t)d.width * (size_t)d.height);
    std::free(pixels);
    return d;
}

std::string temp_path(const char* name)
{
    return testing::TempDir() + "pcx_test_" + std::to_string(getpid()) + "_" + name;
}

void write_file(const std::string& path, const Bytes& b)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!b.empty()) {
        ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
    }
    std::fclose(f);
}

} // namespace

TEST(PcxDecode, RunLengthRules)
{
    // 4 x 2: a run of 4, literal 9, a run of 2 zeros, the literal 200 stored as a run of 1.
    Decoded d = decode(pcx_file(0, 0, 3, 1, 4, {0xC4, 0x07, 0x09, 0xC2, 0x00, 0xC1, 0xC8}));
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.printed, "");
    EXPECT_EQ(d.width, 4);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(d.pixels, (Bytes{7, 7, 7, 7, 9, 0, 0, 200}));
    for (int i = 0; i < 768; ++i)
        ASSERT_EQ(d.palette.rgb[i], i % 192) << i;

    // Run length 0 consumes its value byte and writes nothing.
    d = decode(pcx_file(0, 0, 2, 0, 3, {0x05, 0xC0, 0x63, 0x06, 0xC1, 0xFF}));
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.pixels, (Bytes{5, 6, 255}));

    // A run of 63 starting 10 bytes before a row end goes on 53 bytes into the next row,
    // and a run longer than what is left is cut at the end of the picture.
    Bytes coded(54, 1);
    coded.insert(coded.end(), {0xFF, 0x2A, 0xFF, 0x33, 0xFF, 0x44});
    d = decode(pcx_file(0, 0, 63, 2, 64, coded));
    ASSERT_EQ(d.result, 0);
    ASSERT_EQ(d.pixels.size(), 192u);
    for (size_t i = 0; i < 192; ++i) {
        uint8_t want = i < 54 ? 1 : i < 117 ? 0x2A : i < 180 ? 0x33 : 0x44;
        ASSERT_EQ(d.pixels[i], want) << i;
    }
}

TEST(PcxDecode, PaddedRowsAndOrigin)
{
    // Width 319 from Xmin 1 to Xmax 319, bytes per line 320: the 320th byte of each
    // decoded row (value 250) is dropped, and the origin does not shift the pixels.
    Bytes coded;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 319; ++x)
            coded.push_back((uint8_t)((x + y) % 190));
        coded.insert(coded.end(), {0xC1, 250});
    }
    Decoded d = decode(pcx_file(1, 7, 319, 9, 320, coded));
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.width, 319);
    EXPECT_EQ(d.height, 3);
    ASSERT_EQ(d.pixels.size(), 957u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 319; ++x)
            ASSERT_EQ(d.pixels[(size_t)y * 319 + x], (x + y) % 190) << x << "," << y;

    // 320 x 240 with bytes per line 320: the decoded block is the picture as it is.
    Bytes rows;
    for (int y = 0; y < 240; ++y)
        rows.insert(rows.end(), {0xFF, (uint8_t)y, 0xFF, (uint8_t)y, 0xFF, (uint8_t)y, 0xFF, (uint8_t)y, 0xFF,
                                 (uint8_t)y, 0xC5, (uint8_t)(y + 1)});
    d = decode(pcx_file(0, 0, 319, 239, 320, rows));
    ASSERT_EQ(d.result, 0);
    ASSERT_EQ(d.pixels.size(), 76800u);
    EXPECT_EQ(d.pixels[0], 0);
    EXPECT_EQ(d.pixels[314], 0);
    EXPECT_EQ(d.pixels[315], 1);
    EXPECT_EQ(d.pixels[239 * 320 + 314], 239);
    EXPECT_EQ(d.pixels[239 * 320 + 319], 240);
}

TEST(PcxDecode, ShortDataRunsIntoTheTrailer)
{
    // No coded data at all: the marker and the trailer's bytes become pixels.
    Decoded d = decode(pcx_file(0, 0, 3, 0, 4, {}));
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.pixels, (Bytes{12, 0, 1, 2}));

    // 769 literal bytes are in the file after the header; 770 are needed: malformed,
    // no pixels, and the palette has been copied already.
    d = decode(pcx_file(0, 0, 769, 0, 770, {}));
    EXPECT_EQ(d.result, -4);
    EXPECT_EQ(d.printed, "PCX file p.pcx was malformed");
    EXPECT_TRUE(d.pixels_null);
    EXPECT_EQ(d.palette.rgb[200], 8);
    EXPECT_EQ(d.palette.rgb[767], 767 % 192);

    // A run whose value byte would be the byte after the file is malformed too.
    Bytes file = pcx_file(0, 0, 999, 0, 1000, {});
    file.back() = 0xC5;
    d = decode(file);
    EXPECT_EQ(d.result, -4);
    EXPECT_TRUE(d.pixels_null);
}

TEST(PcxDecode, RefusesBadFiles)
{
    const char* bad = "ERROR: Bad pcx file p.pcx";
    struct Case {
        const char* what;
        Bytes file;
        int result;
        const char* printed;
    };
    Bytes ok = pcx_file(0, 0, 3, 1, 4, {0xC8, 0x01});
    auto with = [&](size_t at, uint8_t v) {
        Bytes b = ok;
        b[at] = v;
        return b;
    };
    Bytes header_only(ok.begin(), ok.begin() + 100);
    Bytes no_trailer(ok.begin(), ok.begin() + 600);
    std::vector<Case> cases = {
        {"empty", {}, -1, bad},
        {"version 3", with(1, 3), -2, bad},
        {"encoding 0", with(2, 0), -2, bad},
        {"4 bits", with(3, 4), -2, bad},
        {"24 bits", with(3, 24), -2, bad},
        {"manufacturer", with(0, 11), -2, bad},
        {"shorter than the header", header_only, -2, bad},
        {"shorter than the trailer", no_trailer, -2, bad},
        {"Xmax below Xmin", pcx_file(5, 0, 4, 1, 4, {0xC8, 1}), -2, bad},
        {"Ymax below Ymin", pcx_file(0, 9, 3, 8, 4, {0xC8, 1}), -2, bad},
        {"bytes per line below width", pcx_file(0, 0, 3, 1, 3, {0xC8, 1}), -2, bad},
        {"more than the file can hold", pcx_file(0, 0, 65534, 65535, 65535, {0xC8, 1}), -4,
         "PCX file p.pcx was malformed"},
    };
    for (const Case& c : cases) {
        Decoded d = decode(c.file);
        EXPECT_EQ(d.result, c.result) << c.what;
        EXPECT_EQ(d.printed, c.printed) << c.what;
        EXPECT_TRUE(d.pixels_null) << c.what;
    }
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(PcxDecode, HugeClaimAllocatesNothing)
{
    // With the address space capped at 1 GiB, a 4 GiB block could not be allocated
    // (result -3); the claim is refused as malformed before any allocation is tried.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit cap{1u << 30, 1u << 30};
        setrlimit(RLIMIT_AS, &cap);
        Bytes file = pcx_file(0, 0, 65534, 65535, 65535, Bytes(200, 0xC1));
        uint8_t* pixels = nullptr;
        int32_t w = 0, h = 0;
        std::fclose(stdout);
        int r = pcx_decode_memory("p.pcx", file.data(), file.size(), &pixels, nullptr, &w, &h);
        _exit(r == -4 && pixels == nullptr ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST(PcxLoad, FilesOnDisk)
{
    std::string path = temp_path("a.pcx");
    write_file(path, pcx_file(0, 0, 3, 1, 4, {0xC4, 0x07, 0x09, 0xC2, 0x00, 0xC1, 0xC8}));

    uint8_t* data = nullptr;
    long length = file_read_all(path.c_str(), &data);
    ASSERT_EQ(length, 128 + 7 + 1 + 768);
    EXPECT_EQ(data[0], 10);
    EXPECT_EQ(data[length], 0);
    std::free(data);

    Image* image = reinterpret_cast<Image*>(1);
    Palette palette{};
    testing::internal::CaptureStdout();
    int r = pcx_load(path.c_str(), &image, &palette);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(r, 5);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 4);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(Bytes(image->pixels, image->pixels + 8), (Bytes{7, 7, 7, 7, 9, 0, 0, 200}));
    EXPECT_EQ(palette.rgb[193], 1);
    image_free(&image);

    // Without a palette buffer, and then failures: the caller's pointer is null.
    ASSERT_EQ(pcx_load(path.c_str(), &image, nullptr), 5);
    image_free(&image);
    std::string missing = temp_path("missing.pcx");
    image = reinterpret_cast<Image*>(1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(pcx_load(missing.c_str(), &image, &palette), -1);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Bad pcx file " + missing);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(file_read_all(missing.c_str(), &data), -1);
    EXPECT_EQ(data, nullptr);

    std::string empty = temp_path("empty.pcx");
    write_file(empty, {});
    uint8_t* pixels = reinterpret_cast<uint8_t*>(1);
    int32_t w = 0, h = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(pcx_decode(empty.c_str(), &pixels, nullptr, &w, &h), -1);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Bad pcx file " + empty);
    EXPECT_EQ(pixels, nullptr);

    std::string broken = temp_path("broken.pcx");
    Bytes version3 = pcx_file(0, 0, 3, 1, 4, {0xC8, 1});
    version3[1] = 3;
    write_file(broken, version3);
    testing::internal::CaptureStdout();
    EXPECT_EQ(pcx_load(broken.c_str(), &image, nullptr), -1);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Bad pcx file " + broken);
    EXPECT_EQ(image, nullptr);
    for (const std::string& p : {path, empty, broken})
        std::remove(p.c_str());
}
