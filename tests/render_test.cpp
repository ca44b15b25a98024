// The headless renderer run end to end: the title, the banner, the frame index, a start
// anywhere in the show, the video's chapters.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <vector>

#include "show/timeline.h"
#include "tests/run_program.h"

namespace {

TEST(Render, SilentShowRunsToTheBanner)
{
    const std::string folder = make_run_folder("render-silent");
    RunResult r = run_program({program_path("tarqle-render")}, "0\n", folder, 120);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("*** tarqle for LINUX by brusk *** \n", 0), 0u) << r.out;
    const std::string banner = "--------------- TAZE\xA0QUORM ----------------\n"
                               "- Dornvask - '98 - Frostmoot - Veltria -\n"
                               "--- The First Veltrian Linux Demogroup ---\n\n";
    ASSERT_GE(r.out.size(), banner.size());
    EXPECT_EQ(r.out.substr(r.out.size() - banner.size()), banner);

    // Every line: frame number counting from 0, time never going back, two CRCs.
    std::istringstream index(read_file(folder + "/frames/index.tsv"));
    const std::regex line_form("([0-9]+)\t(-?[0-9]+)\t([0-9a-f]{8})\t([0-9a-f]{8})");
    std::string line;
    long expected_frame = 0, last_time = 0;
    while (std::getline(index, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, line_form)) << line;
        EXPECT_EQ(std::stol(m[1]), expected_frame);
        EXPECT_GE(std::stol(m[2]), last_time);
        last_time = std::stol(m[2]);
        // The blank screens before the load steps, before the music and before the
        // presents screen: black pixels, black palette, at time 0.
        if (expected_frame < 8) {
            EXPECT_EQ(line, std::to_string(expected_frame) + "\t0\t35b9ef0c\tf5a0f415");
        }
        ++expected_frame;
    }
    EXPECT_GE(expected_frame, 15);
}

TEST(Render, PngOfChosenFrames)
{
    const std::string folder = make_run_folder("render-png");
    RunResult r = run_program({program_path("tarqle-render"), "--png", "1,3-4"}, "0\n", folder, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"000001", "000003", "000004"})
        EXPECT_EQ(read_file(folder + "/frames/" + name + ".png").substr(1, 3), "PNG") << name;
    EXPECT_TRUE(read_file(folder + "/frames/000002.png").empty());

    RunResult bad = run_program({program_path("tarqle-render"), "--png", "4-1"}, "0\n", folder, 60);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--png"), std::string::npos);
}

// The gentle picture changes what is shown (true-colour PNG) and nothing of the show itself.
TEST(Render, GentleKeepsTheFrameIndex)
{
    const std::string plain = make_run_folder("render-plain");
    const std::string gentle = make_run_folder("render-gentle");
    ASSERT_EQ(run_program({program_path("tarqle-render")}, "0\n", plain, 120).status, 0);
    RunResult r = run_program({program_path("tarqle-render"), "--gentle", "--png", "1500"}, "0\n", gentle, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string index = read_file(plain + "/frames/index.tsv");
    EXPECT_GT(index.size(), 1000u);
    EXPECT_EQ(read_file(gentle + "/frames/index.tsv"), index);
    const std::string png = read_file(gentle + "/frames/001500.png");
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png[25], 2) << "the gentle picture is written as RGB"; // IHDR colour type
}

// A full disk under the frame index or a picture (/dev/full in their place): the file
// named, no banner, a failure status.
TEST(Render, WriteFailuresAreReported)
{
    namespace fs = std::filesystem;
    const std::string folder = make_run_folder("render-full");
    fs::create_directory(folder + "/frames");
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{}, "frames/index.tsv"},
        {{"--png", "3"}, "frames/000003.png"},
        {{"--video", "v.mkv", "--until", "0.1"}, "frames/index.tsv.part"}};
    for (const auto& [args, file] : runs) {
        fs::create_symlink("/dev/full", folder + "/" + file);
        std::vector<std::string> argv = {program_path("tarqle-render")};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult r = run_program(argv, "0\n", folder, 60);
        EXPECT_NE(r.status, 0) << file;
        EXPECT_NE(r.err.find("tarqle-render: " + file + ": "), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("TAZE"), std::string::npos) << file;
        fs::remove(folder + "/" + file);
    }
    // A file-size limit of 40 KiB, under the index: the same failure, not the signal's end.
    const RunResult limited =
        run_program({"/bin/sh", "-c", "ulimit -f 80; exec " + program_path("tarqle-render")}, "0\n", folder, 60);
    EXPECT_EQ(limited.status, 1);
    EXPECT_NE(limited.err.find("tarqle-render: frames/index.tsv: " + std::string(std::strerror(EFBIG))),
              std::string::npos)
        << limited.err;
}

// A run started at any show time shows the frame the whole run with that seed presents at
// or before it (number, picture, palette), then the whole run's frames. The load phase's
// blank screens come first either way; the tune starts at reading 0 of the virtual clock.
TEST(Render, StartAnywhereGoesOnAsTheWholeRun)
{
    const std::string whole_folder = make_run_folder("render-seed");
    ASSERT_EQ(run_program({program_path("tarqle-render"), "--seed", "9"}, "0\n", whole_folder, 120).status, 0);
    const std::vector<std::string> whole = index_lines(whole_folder);
    ASSERT_GT(whole.size(), 2000u);
    constexpr size_t kLoadBlanks = 7;
    std::vector<std::pair<std::string, int32_t>> starts = {{"50.5", 50500}, {"0.001", 1}};
    for (const ShowPart& part : show_parts)
        starts.emplace_back(part.name, part.start_ms);
    for (const auto& [text, ms] : starts) {
        const std::string folder = make_run_folder("render-start");
        const RunResult r =
            run_program({program_path("tarqle-render"), "--seed", "9", "--start", text}, "0\n", folder, 120);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> lines = index_lines(folder);
        if (ms == 0) {
            EXPECT_EQ(lines, whole) << "a start at 0 is the whole run";
            continue;
        }
        ASSERT_GT(lines.size(), kLoadBlanks) << text;
        size_t held = 0;
        while (held + 1 < whole.size() && std::stol(whole[held + 1].substr(whole[held + 1].find('\t'))) <= ms)
            ++held;
        auto without_time = [](const std::string& line) {
            const size_t a = line.find('\t'), b = line.find('\t', a + 1);
            return line.substr(0, a) + line.substr(b);
        };
        EXPECT_EQ(without_time(lines[kLoadBlanks]), without_time(whole[held])) << text;
        EXPECT_EQ(std::vector<std::string>(lines.begin() + kLoadBlanks + 1, lines.end()),
                  std::vector<std::string>(whole.begin() + (long)held + 1, whole.end()))
            << text;
    }
}

// The video carries the program's title and one chapter per part at its show time.
TEST(Render, VideoHasThePartsAsChapters)
{
    if (system("ffprobe -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no ffprobe to read the chapters with";
    const std::string folder = make_run_folder("render-chapters");
    for (const char* file : {"show.mkv", "show.mp4"}) {
        const RunResult r =
            run_program({program_path("tarqle-render"), "--video", file, "--scale", "1", "--fps", "2", "--until", "45"},
                        "", folder, 300);
        ASSERT_EQ(r.status, 0) << r.err;
        const RunResult probe = run_program(
            {"/bin/sh", "-c",
             std::string("ffprobe -v error -show_chapters -show_entries format_tags=title -of compact ") + file},
            "", folder, 60);
        std::string expected;
        for (const ShowPart& part : show_parts)
            if (part.start_ms < 45000)
                expected += part.title + std::string("@") + std::to_string(part.start_ms) + "\n";
        std::string seen;
        std::istringstream in(probe.out);
        const std::regex chapter(".*start_time=([0-9.]+)\\|.*tag:title=(.*)");
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            if (std::regex_match(line, m, chapter))
                seen += m[2].str() + "@" + std::to_string(std::lround(std::stod(m[1]) * 1000)) + "\n";
        }
        EXPECT_EQ(seen, expected) << file << "\n" << probe.out;
        EXPECT_NE(probe.out.find("format|tag:title=tarqle for LINUX by brusk"), std::string::npos) << probe.out;
    }
}

// The whole command line is checked before the first question and the first file: the
// offending option named, the usage, status 2; --help with status 0.
TEST(Render, CommandLineIsCheckedFirst)
{
    const std::string folder = make_run_folder("render-options");
    const RunResult help = run_program({program_path("tarqle-render"), "--help"}, "", folder, 10);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: tarqle-render ", 0), 0u) << help.out;
    const std::vector<std::vector<std::string>> bad = {
        {"--png", "1", "--bogus"}, {"--png"},
        {"--png", "1", "--video"}, {"--video", "v.mkv", "--until", "0.044"},
        {"--scale", "2"},          {"--start", "nowhere"},
        {"--seed", "-1"}};
    const char* const named[] = {"--bogus: unknown option",
                                 "--png: needs a value",
                                 "--video: needs a value",
                                 "--until: ",
                                 "--scale: needs --video",
                                 "--start: ",
                                 "--seed: "};
    for (size_t i = 0; i < bad.size(); ++i) {
        std::vector<std::string> argv = {program_path("tarqle-render")};
        argv.insert(argv.end(), bad[i].begin(), bad[i].end());
        const RunResult r = run_program(argv, "0\n", folder, 10);
        EXPECT_EQ(r.status, 2) << named[i];
        EXPECT_EQ(r.out, "") << named[i];
        EXPECT_EQ(r.err.rfind(std::string("tarqle-render: ") + named[i], 0), 0u) << r.err;
        EXPECT_NE(r.err.find(help.out), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/frames")) << "nothing is opened";
}

} // namespace
