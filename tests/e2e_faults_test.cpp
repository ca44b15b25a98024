// What the headless show does when its pictures, its tune or its input fail it: each
// drill a whole tarqle-render run in a folder of its own, bounded in time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "tests/e2e_support.h"
#include "tests/run_program.h"
#include "tools/pictures/pcx_write.h"

namespace {

namespace fs = std::filesystem;

// Every picture the show reads, in the phase that reads it first, and which wrong sizes
// its reader refuses ("small": 16 x 16, "large": 1000 x 1000).
struct Picture {
    const char* path;
    bool run_phase; // read by a run step (music playing), not by a load step
    bool small_refused;
    bool large_refused;
};

const Picture kPictures[] = {
    {"grafika/prese/presents.pcx", false, true, true},
    {"grafika/intro/taze.pcx", false, true, true},
    {"grafika/intro/inttxt.pcx", false, true, false}, // lettering: at least its pieces' size
    {"grafika/blobs/blobs1.pcx", true, true, true},
    {"grafika/blobs/blobs2.pcx", true, true, true},
    {"grafika/aaa/b1.pcx", false, true, true},
    {"grafika/aaa/b2.pcx", false, true, true},
    {"grafika/aaa/b3.pcx", false, true, true},
    {"grafika/aaa/b4.pcx", false, true, true},
    {"grafika/aaa/c1.pcx", false, true, true},
    {"grafika/aaa/c2.pcx", false, true, true},
    {"grafika/aaa/c3.pcx", false, true, true},
    {"grafika/aaa/d1.pcx", false, true, true},
    {"grafika/aaa/d2.pcx", false, true, true},
    {"grafika/aaa/d3.pcx", false, true, true},
    {"grafika/aaa/d4.pcx", false, true, true},
    {"grafika/aaa/d5.pcx", false, true, true},
    {"grafika/aaa/d6.pcx", false, true, true},
    {"grafika/aaa/e1.pcx", false, true, true},
    {"grafika/aaa/e2.pcx", false, true, true},
    {"grafika/aaa/e3.pcx", false, true, true},
    {"grafika/aaa/e4.pcx", false, true, true},
    {"grafika/words.pcx", false, true, false},      // words: at least one word's size
    {"grafika/fire/skull.pcx", false, false, true}, // skull: at most the screen
    {"grafika/fire/fire.pcx", false, true, false},  // figure frames: at least the sheet's size
    {"grafika/dornvask.pcx", true, true, true},
};
static_assert(std::size(kPictures) == 26);

const std::string kBanner = "--------------- TAZE\xA0QUORM ----------------\n"
                            "- Dornvask - '98 - Frostmoot - Veltria -\n"
                            "--- The First Veltrian Linux Demogroup ---\n\n";

// A run folder whose grafika/ links every picture of the build, one by one, so a drill
// can take one away or put another in its place.
std::string picture_folder(const std::string& name)
{
    const std::string folder = make_run_folder("e2e-" + name);
    fs::remove(fs::path(folder) / "grafika");
    const fs::path source = fs::path(TARQLE_BUILD_DIR) / "grafika";
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
        const fs::path target = fs::path(folder) / "grafika" / fs::relative(entry.path(), source);
        if (entry.is_directory())
            fs::create_directories(target);
        else
            fs::create_symlink(entry.path(), target);
    }
    return folder;
}

// The image and palette CRCs of an index line.
std::string crcs(const std::string& line)
{
    const size_t second_tab = line.find('\t', line.find('\t') + 1);
    return second_tab == std::string::npos ? line : line.substr(second_tab + 1);
}

// The run's output ends with exactly tail, nothing of the banner came, the status is 1,
// the music file is whole, no player outlived the show, and the frames show the phase the
// show ended in: only blank frames before the music, part frames after it started.
void expect_fatal_exit(const ShowEnd& end, const std::string& folder, const std::string& tail, bool run_phase)
{
    EXPECT_FALSE(end.timed_out);
    EXPECT_EQ(end.status, 1) << end.out << end.err;
    EXPECT_FALSE(end.left_behind);
    EXPECT_TRUE(end.out.ends_with(tail)) << "output ends:\n"
                                         << end.out.substr(end.out.size() - std::min<size_t>(end.out.size(), 300));
    EXPECT_EQ(end.out.find("TAZE"), std::string::npos);
    long data = 0;
    EXPECT_EQ(wav_problem(read_file(folder + "/music.wav"), &data), "");
    const std::vector<std::string> lines = index_lines(folder);
    ASSERT_FALSE(lines.empty());
    std::set<std::string> pictures;
    for (const std::string& line : lines)
        pictures.insert(crcs(line));
    if (run_phase) {
        EXPECT_GT(pictures.size(), 1u) << "no part frame before the failure";
    } else {
        EXPECT_EQ(pictures.size(), 1u) << "a part frame before the load phase ended";
        EXPECT_EQ(data, 0) << "music played before the load phase ended";
    }
}

ShowEnd run_show(const std::string& folder, int timeout_seconds = 60)
{
    return show_finish(show_start({program_path("tarqle-render")}, wav_writer_answers(), folder), timeout_seconds);
}

std::string bad_file(const std::string& path)
{
    return "ERROR: Bad pcx file " + path;
}

std::string cannot_load(const std::string& path)
{
    return "Cann't load image " + path + " !\n";
}

TEST(ShowFaults, EveryMissingPictureEndsTheShowAtItsStep)
{
    for (const Picture& p : kPictures) {
        SCOPED_TRACE(p.path);
        const std::string folder = picture_folder("missing");
        fs::remove(fs::path(folder) / p.path);
        const ShowEnd end = run_show(folder);
        expect_fatal_exit(end, folder, bad_file(p.path) + cannot_load(p.path), p.run_phase);
    }
}

// A video run that a missing picture ends, in the load phase or at the show's very end,
// leaves no video and the frame index of an earlier run as it was.
TEST(ShowFaults, AFailedVideoLeavesNoFileAndTheEarlierIndex)
{
    for (const char* path : {"grafika/fire/skull.pcx", "grafika/dornvask.pcx"}) {
        SCOPED_TRACE(path);
        const std::string folder = picture_folder("video-missing");
        fs::remove(fs::path(folder) / path);
        fs::create_directory(folder + "/frames");
        std::ofstream(folder + "/frames/index.tsv") << "earlier\n";
        const RunResult r = run_program(
            {program_path("tarqle-render"), "--video", "v.mkv", "--scale", "1", "--fps", "5", "--until", "1"}, "",
            folder, 120);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(r.out.ends_with(bad_file(path) + cannot_load(path))) << r.out;
        EXPECT_FALSE(fs::exists(folder + "/v.mkv"));
        EXPECT_FALSE(fs::exists(folder + "/v.mkv.part"));
        EXPECT_TRUE(read_file(folder + "/frames/index.tsv") == "earlier\n") << "the earlier index was replaced";
    }
}

TEST(ShowFaults, DamagedPicturesAreNamedByDecoderAndCaller)
{
    for (const Picture& p : kPictures) {
        SCOPED_TRACE(p.path);
        const std::string original = read_file(std::string(TARQLE_BUILD_DIR) + "/" + p.path);
        ASSERT_GT(original.size(), 128u + 769u);

        // Cut in the middle of the coded pixels: the codes run past the end of the file.
        std::string folder = picture_folder("truncated");
        fs::remove(fs::path(folder) / p.path);
        std::ofstream(folder + "/" + p.path, std::ios::binary)
            << original.substr(0, 128 + (original.size() - 128 - 769) / 2);
        expect_fatal_exit(run_show(folder), folder,
                          "PCX file " + std::string(p.path) + " was malformed" + cannot_load(p.path), p.run_phase);

        // A header that is not a PCX header.
        folder = picture_folder("header");
        fs::remove(fs::path(folder) / p.path);
        std::string broken = original;
        broken[0] = 'P';
        broken[1] = 'K';
        std::ofstream(folder + "/" + p.path, std::ios::binary) << broken;
        expect_fatal_exit(run_show(folder), folder, bad_file(p.path) + cannot_load(p.path), p.run_phase);
    }
}

TEST(ShowFaults, PicturesOfTheWrongSizeAreRefusedOrShownSafely)
{
    struct Size {
        int width, height;
        bool Picture::*refused;
    };
    for (const Size& size : {Size{16, 16, &Picture::small_refused}, Size{1000, 1000, &Picture::large_refused}}) {
        std::vector<uint8_t> pixels((size_t)size.width * (size_t)size.height);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = (uint8_t)(i * 7 + i / 13);
        Palette palette{};
        for (int i = 0; i < 768; ++i)
            palette.rgb[i] = (uint8_t)(i / 3);
        for (const Picture& p : kPictures) {
            SCOPED_TRACE(std::string(p.path) + " as " + std::to_string(size.width) + "x" + std::to_string(size.height));
            const std::string folder = picture_folder("size");
            fs::remove(fs::path(folder) / p.path);
            ASSERT_EQ(pcx_write(folder + "/" + p.path, pixels.data(), size.width, size.height, palette), 0);
            const ShowEnd end = run_show(folder);
            if (p.*size.refused) {
                expect_fatal_exit(end, folder, "Wrong image size!\n", p.run_phase);
            } else {
                // Taken as it is: the whole show runs, with nothing read outside the picture.
                EXPECT_EQ(end.status, 0) << end.out << end.err;
                EXPECT_FALSE(end.left_behind);
                EXPECT_TRUE(end.out.ends_with(kBanner)) << end.out;
            }
        }
    }
}

TEST(ShowFaults, MissingOrBrokenTuneGivesASilentWholeShow)
{
    const std::string silent = make_run_folder("e2e-silent");
    RunResult quiet = run_program({program_path("tarqle-render")}, "0\n", silent, 60);
    ASSERT_EQ(quiet.status, 0);

    for (const std::string tune : {"", "Extended Module: and then nothing"}) {
        SCOPED_TRACE(tune.empty() ? "no tune" : "broken tune");
        const std::string folder = make_run_folder("e2e-tune");
        fs::remove(fs::path(folder) / "music");
        fs::create_directory(fs::path(folder) / "music");
        if (!tune.empty())
            std::ofstream(folder + "/music/tarqle.xm", std::ios::binary) << tune;
        const ShowEnd end = run_show(folder);
        EXPECT_FALSE(end.timed_out);
        EXPECT_EQ(end.status, 0);
        EXPECT_FALSE(end.left_behind);
        EXPECT_NE(end.out.find(" at 44100 Hz\n\nMikMod Error\n"), std::string::npos) << end.out;
        EXPECT_TRUE(end.out.ends_with(kBanner)) << end.out;
        long data = -1;
        EXPECT_EQ(wav_problem(read_file(folder + "/music.wav"), &data), "");
        EXPECT_EQ(data, 0);
        // The same show, frame for frame, as without music.
        EXPECT_EQ(read_file(folder + "/frames/index.tsv"), read_file(silent + "/frames/index.tsv"));
    }
}

TEST(ShowFaults, EndOfInputAtEverySoundMenu)
{
    const std::string answers = wav_writer_answers();
    // Nothing, then each answer in turn: input ends at the mode, device and frequency menus.
    size_t cut = 0;
    for (int menu = 0; menu < 3; ++menu) {
        SCOPED_TRACE(menu);
        const std::string folder = make_run_folder("e2e-eof");
        const ShowEnd end =
            show_finish(show_start({program_path("tarqle-render")}, answers.substr(0, cut), folder), 30);
        EXPECT_FALSE(end.timed_out);
        EXPECT_EQ(end.status, 1);
        EXPECT_FALSE(end.left_behind);
        EXPECT_TRUE(end.out.ends_with(": End of input: no answer given.\n")) << end.out;
        EXPECT_FALSE(fs::exists(folder + "/frames/index.tsv"));
        cut = answers.find('\n', cut) + 1;
    }
}

TEST(ShowUnderMemcheck, WholeShowWithMusicIsClean)
{
    if (access("/usr/bin/valgrind", X_OK) != 0)
        GTEST_SKIP() << "valgrind is not installed (scripts/setup-deps.sh installs it)";
    const std::string folder = make_run_folder("e2e-memcheck");
    // Every process (the demo and its player) reports on its own; a definite leak, an
    // invalid access or a use of an uninitialised value makes it end with status 99.
    const ShowEnd end =
        show_finish(show_start({"/usr/bin/valgrind", "--tool=memcheck", "--leak-check=full",
                                "--errors-for-leak-kinds=definite", "--track-origins=yes", "--error-exitcode=99",
                                "--log-file=memcheck.%p", program_path("tarqle-render")},
                               wav_writer_answers(), folder),
                    240);
    EXPECT_FALSE(end.timed_out);
    EXPECT_EQ(end.status, 0);
    EXPECT_FALSE(end.left_behind);
    EXPECT_TRUE(end.out.ends_with(kBanner)) << end.out;
    int reports = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.path().filename().string().starts_with("memcheck."))
            continue;
        ++reports;
        const std::string report = read_file(entry.path());
        EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << report;
        EXPECT_TRUE(report.find("definitely lost: 0 bytes") != std::string::npos ||
                    report.find("All heap blocks were freed") != std::string::npos)
            << report;
    }
    EXPECT_GE(reports, 2) << "no report of the player";
    // The same frames at the same moments as the show outside the checker. Their pixels
    // may differ: the checker computes 80-bit arithmetic (the blobs' grey ramps) in 64 bits.
    const std::string plain = make_run_folder("e2e-memcheck-plain");
    ASSERT_EQ(run_program({program_path("tarqle-render")}, "0\n", plain, 60).status, 0);
    const std::vector<std::string> checked = index_lines(folder), expected = index_lines(plain);
    ASSERT_EQ(checked.size(), expected.size());
    for (size_t i = 0; i < checked.size(); ++i)
        ASSERT_EQ(checked[i].substr(0, checked[i].find('\t', checked[i].find('\t') + 1)),
                  expected[i].substr(0, expected[i].find('\t', expected[i].find('\t') + 1)));
}

} // namespace
