// The picture set refuses pictures it would read past: the show ends before the music starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "tests/run_program.h"
#include "tools/pictures/pcx_write.h"

namespace {

namespace fs = std::filesystem;

TEST(PictureSet, WrongSizeEndsTheShowCleanly)
{
    const std::string folder = make_run_folder("pictures-wrong-size");
    // A copy of the pictures with one of the set a quarter of its size.
    fs::remove(fs::path(folder) / "grafika");
    fs::copy(fs::path(TARQLE_BUILD_DIR) / "grafika", fs::path(folder) / "grafika", fs::copy_options::recursive);
    std::vector<uint8_t> small(160 * 120, 7);
    Palette palette{};
    ASSERT_EQ(pcx_write(folder + "/grafika/aaa/b3.pcx", small.data(), 160, 120, palette), 0);

    RunResult r = run_program({program_path("tarqle-render")}, "0\n", folder, 60);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 1);
    const std::string tail = "Wrong image size!\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    // The load phase ended it: no banner, and only blank frames reached the display.
    EXPECT_EQ(r.out.find("TAZE"), std::string::npos);
    // The picture set loads after the fifth blank screen, and the show stops there.
    const std::string index = read_file(folder + "/frames/index.tsv");
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), 5) << index;
}

} // namespace
