// The last stretch of the whole show in the headless renderer: the scroll with words,
// the fire, the whiteout and the closing picture, counted from the end of the index.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/run_program.h"

namespace {

struct IndexLine {
    long frame, time;
    std::string image_crc, palette_crc;
};

bool blank(const IndexLine& l)
{
    return l.image_crc == "35b9ef0c" && l.palette_crc == "f5a0f415";
}

// count frames ending right before line end, period ms apart, none of them blank.
void expect_stretch(const std::vector<IndexLine>& lines, size_t end, size_t count, long period, const char* part)
{
    ASSERT_GE(end, count + 1) << part;
    for (size_t i = end - count; i < end; ++i) {
        EXPECT_FALSE(blank(lines[i])) << part << " frame " << lines[i].frame;
        if (i > end - count) {
            EXPECT_EQ(lines[i].time - lines[i - 1].time, period) << part << " frame " << lines[i].frame;
        }
    }
    EXPECT_TRUE(blank(lines[end - count - 1])) << part << " is not preceded by its own start";
}

TEST(ShowEnd, ScrollFireWhiteoutClosing)
{
    const std::string folder = make_run_folder("words-fire-closing-show-end");
    if (read_file(folder + "/grafika/words.pcx").empty())
        GTEST_SKIP() << "the build has not made the pictures";
    RunResult r = run_program({program_path("tarqle-render")}, "0\n", folder, 120);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string banner_end = "--- The First Veltrian Linux Demogroup ---\n\n";
    ASSERT_GE(r.out.size(), banner_end.size());
    EXPECT_EQ(r.out.substr(r.out.size() - banner_end.size()), banner_end);

    std::istringstream index(read_file(folder + "/frames/index.tsv"));
    std::vector<IndexLine> lines;
    IndexLine l;
    while (index >> l.frame >> l.time >> l.image_crc >> l.palette_crc)
        lines.push_back(l);
    ASSERT_GT(lines.size(), 800u);

    // From the end: blank, closing 87 @ 83 ms, blank, whiteout 19 @ 70 ms right after
    // fire 359 @ 60 ms, blank, words 329 @ 70 ms, blank.
    const size_t n = lines.size();
    EXPECT_TRUE(blank(lines[n - 1]));
    expect_stretch(lines, n - 1, 87, 83, "closing");
    const size_t whiteout_end = n - 1 - 87 - 1;
    for (size_t i = whiteout_end - 19; i < whiteout_end; ++i) {
        EXPECT_EQ(lines[i].image_crc, lines[whiteout_end - 20].image_crc) << "the whiteout keeps the fire's last frame";
        if (i > whiteout_end - 19) {
            EXPECT_EQ(lines[i].time - lines[i - 1].time, 70);
        }
    }
    const size_t fire_end = whiteout_end - 19;
    EXPECT_EQ(lines[fire_end].time - lines[fire_end - 1].time, 60) << "the whiteout starts one fire frame later";
    expect_stretch(lines, fire_end, 359, 60, "fire");
    expect_stretch(lines, fire_end - 359 - 1, 329, 70, "words");
}

} // namespace
