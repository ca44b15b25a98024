// The first three parts in the headless renderer's frame index: where each sits on the
// timeline, its frame period, its frame count and the palette it starts with.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "core/shared.h"
#include "parts/blobs.h"
#include "tests/run_program.h"

namespace {

struct IndexLine {
    long frame;
    long time;
    unsigned long image_crc;
    unsigned long palette_crc;
};

std::vector<IndexLine> read_index(const std::string& path)
{
    std::vector<IndexLine> lines;
    std::istringstream in(read_file(path));
    IndexLine l;
    while (in >> l.frame >> l.time >> std::hex >> l.image_crc >> l.palette_crc >> std::dec)
        lines.push_back(l);
    return lines;
}

unsigned long palette_crc(const Palette& p)
{
    return crc32(crc32(0L, Z_NULL, 0), p.rgb, sizeof p.rgb);
}

// Frames first..first+count-1 fall every period milliseconds with one palette.
void expect_part(const std::vector<IndexLine>& index, size_t first, size_t count, long period, const char* part)
{
    ASSERT_GE(index.size(), first + count + 1) << part;
    for (size_t i = 1; i < count; ++i) {
        EXPECT_EQ(index[first + i].time - index[first].time, period * (long)i) << part << " frame " << i;
        EXPECT_EQ(index[first + i].palette_crc, index[first].palette_crc) << part << " frame " << i;
    }
    // The blank screen that follows: black palette.
    EXPECT_EQ(index[first + count].palette_crc, index[0].palette_crc) << part;
    EXPECT_NE(index[first].palette_crc, index[0].palette_crc) << part;
}

TEST(PartsRender, PresentsIntroAndBlobsOnTheTimeline)
{
    const std::string folder = make_run_folder("parts-first-three");
    RunResult r = run_program({program_path("tarqle-render")}, "0\n", folder, 120);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("screens: 184:\n"), std::string::npos) << r.out;

    const std::vector<IndexLine> index = read_index(folder + "/frames/index.tsv");
    // Frames 0..7 are the blank screens of the load phase; each part follows a blank one.
    expect_part(index, 8, 184, 60, "presents");
    expect_part(index, 193, 320, 60, "intro");
    expect_part(index, 514, 179, 70, "blobs");

    Palette presents{};
    for (int i = 0; i < 64; ++i) {
        presents.rgb[3 * i] = presents.rgb[3 * i + 1] = presents.rgb[3 * i + 2] = (uint8_t)(4 * i);
        presents.rgb[3 * (192 + i)] = (uint8_t)(4 * i);
        presents.rgb[3 * (192 + i) + 1] = presents.rgb[3 * (192 + i) + 2] = (uint8_t)i;
    }
    EXPECT_EQ(index[8].palette_crc, palette_crc(presents));
    blobs_load();
    EXPECT_EQ(index[514].palette_crc, palette_crc(blobs_palette()));
    blobs_free();
}

} // namespace
