// The 32-bit x86 builds (i686-sse2, and i686 with x87 maths and no SSE) beside this one:
// their data are this build's bytes, their effect primitives pass their own tests, and
// their headless program shows this build's whole show, frame for frame, under the
// user-mode emulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/run_program.h"

namespace fs = std::filesystem;

namespace {

const char* const kBaselines[] = {"i686-sse2", "i686"};

std::string baseline_dir(const std::string& baseline)
{
    return std::string(TARQLE_I386_BUILD_DIR) + "/" + baseline;
}

// The program under the user-mode emulator, with the 32-bit libraries of this machine.
std::vector<std::string> emulated(const std::string& program)
{
    return {"/usr/bin/qemu-i386-static", "-L", "/", program};
}

// Every file under the two data folders, relative to dir.
std::vector<std::string> data_files(const std::string& dir)
{
    std::vector<std::string> files;
    for (const char* data : {"grafika", "music"})
        for (const auto& e : fs::recursive_directory_iterator(fs::path(dir) / data))
            if (e.is_regular_file())
                files.push_back(fs::relative(e.path(), dir).string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(I386, DataAreThisBuildsBytes)
{
    const std::vector<std::string> ours = data_files(TARQLE_BUILD_DIR);
    ASSERT_GT(ours.size(), 10u);
    for (const char* baseline : kBaselines) {
        SCOPED_TRACE(baseline);
        ASSERT_EQ(data_files(baseline_dir(baseline)), ours);
        for (const std::string& f : ours)
            EXPECT_TRUE(read_file(baseline_dir(baseline) + "/" + f) ==
                        read_file(std::string(TARQLE_BUILD_DIR) + "/" + f))
                << f;
    }
}

// The i686 build's own code has no SSE register in it (the C library is the system's);
// the filters run in MMX.
TEST(I386, PlainBaselineHasNoSse)
{
    const std::string program = baseline_dir("i686") + "/tarqle-render";
    RunResult r = run_program({"/usr/bin/objdump", "-d", "--no-show-raw-insn", program}, "", "/tmp", 60);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(r.out.size(), 100000u);
    EXPECT_EQ(r.out.find("%xmm"), std::string::npos);
    EXPECT_NE(r.out.find("emms"), std::string::npos) << "the filters' MMX form";
    const std::string sse2_program = baseline_dir("i686-sse2") + "/tarqle-render";
    RunResult sse2 = run_program({"/usr/bin/objdump", "-d", "--no-show-raw-insn", sse2_program}, "", "/tmp", 60);
    EXPECT_NE(sse2.out.find("%xmm"), std::string::npos);
}

// The filters' forms against the literal ones, the lines, the tables and the grid.
TEST(I386, EffectPrimitivesPassTheirTests)
{
    for (const char* baseline : kBaselines) {
        RunResult r = run_program(emulated(baseline_dir(baseline) + "/fx_test"), "", "/tmp", 120);
        EXPECT_EQ(r.status, 0) << baseline << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find("[  PASSED  ]"), std::string::npos) << baseline;
    }
}

TEST(I386, HeadlessShowIsFrameForFrameThisBuilds)
{
    const std::string ours = make_run_folder("i386-x86-64");
    RunResult a = run_program({program_path("tarqle-render")}, "0\n", ours, 60);
    ASSERT_EQ(a.status, 0) << a.err;
    const std::string index = read_file(ours + "/frames/index.tsv");
    EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), 2305);
    for (const char* baseline : kBaselines) {
        SCOPED_TRACE(baseline);
        // The 32-bit program runs on its own build's data.
        const std::string folder = std::string(TARQLE_BUILD_DIR) + "/test-runs/i386-" + baseline;
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const char* data : {"grafika", "music"})
            fs::create_directory_symlink(fs::path(baseline_dir(baseline)) / data, fs::path(folder) / data);
        RunResult b = run_program(emulated(baseline_dir(baseline) + "/tarqle-render"), "0\n", folder, 240);
        ASSERT_EQ(b.status, 0) << b.err;
        EXPECT_EQ(b.out, a.out);
        EXPECT_TRUE(read_file(folder + "/frames/index.tsv") == index)
            << "diff " << ours << "/frames/index.tsv " << folder << "/frames/index.tsv";
    }
}

} // namespace
