// The two layouts of the headless program (default function alignment, and every function
// aligned to 16 bytes) show the same whole show, frame for frame.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/run_program.h"

namespace {

// The share of the program's own functions whose address is a multiple of 16, from nm.
double aligned_share(const std::string& program)
{
    RunResult r = run_program({"/usr/bin/nm", "--defined-only", program}, "", "/tmp", 30);
    std::istringstream in(r.out);
    long functions = 0, aligned = 0;
    for (std::string address, kind, name; in >> address >> kind >> name;) {
        if ((kind == "T" || kind == "t") && name.find('.') == std::string::npos) {
            ++functions;
            aligned += std::stoul(address, nullptr, 16) % 16 == 0;
        }
    }
    return functions > 0 ? (double)aligned / (double)functions : -1.0;
}

TEST(Layout, AlignedBuildShowsTheSameFrames)
{
    const std::string aligned_program = std::string(TARQLE_BUILD_DIR) + "/align16/tarqle-render";
    // The builds really differ: all functions aligned in one, not all in the other.
    EXPECT_EQ(aligned_share(aligned_program), 1.0);
    EXPECT_LT(aligned_share(program_path("tarqle-render")), 1.0);

    const std::string folder_default = make_run_folder("e2e-layout-default");
    const std::string folder_aligned = make_run_folder("e2e-layout-aligned");
    RunResult a = run_program({program_path("tarqle-render")}, "0\n", folder_default, 60);
    RunResult b = run_program({aligned_program}, "0\n", folder_aligned, 60);
    ASSERT_EQ(a.status, 0) << a.out << a.err;
    ASSERT_EQ(b.status, 0) << b.out << b.err;
    EXPECT_EQ(a.out, b.out);
    const std::string index = read_file(folder_default + "/frames/index.tsv");
    EXPECT_GT(index.size(), 1000u);
    EXPECT_TRUE(index == read_file(folder_aligned + "/frames/index.tsv"));
}

} // namespace
