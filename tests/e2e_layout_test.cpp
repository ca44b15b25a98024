// The two layouts of the headless program (default function alignment, and every function
// aligned to 16 bytes) show the same whole show, frame for frame. Where the compiler's
// default already aligns every function to 16, the two programs have the same code and
// this checks that two runs in different processes give the same show.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/run_program.h"

namespace {

// The program's own functions (not the start-up code's _init, _start and _fini) whose
// address is not a multiple of 16, from nm; "nm failed" when there is no listing.
std::string unaligned_functions(const std::string& program)
{
    RunResult r = run_program({"/usr/bin/nm", "--defined-only", program}, "", "/tmp", 30);
    if (r.status != 0 || r.out.empty())
        return "nm failed";
    std::istringstream in(r.out);
    std::string unaligned;
    for (std::string address, kind, name; in >> address >> kind >> name;) {
        const bool startup = name == "_init" || name == "_start" || name == "_fini";
        if ((kind == "T" || kind == "t") && !startup && name.find('.') == std::string::npos &&
            std::stoul(address, nullptr, 16) % 16 != 0)
            unaligned += name + " ";
    }
    return unaligned;
}

TEST(Layout, AlignedBuildShowsTheSameFrames)
{
    const std::string aligned_program = std::string(TARQLE_BUILD_DIR) + "/align16/tarqle-render";
    EXPECT_EQ(unaligned_functions(aligned_program), "");

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
