// The offline mixdown: the very samples the show's player writes, and silence with the
// show's message when the tune is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "sound/mixdown.h"
#include "tests/run_program.h"

namespace {

// The number before ". name" in the show's device menu, as the menu's answer.
std::string menu_number(const std::string& menu, const std::string& name)
{
    const size_t at = menu.find(". " + name);
    if (at == std::string::npos)
        return "?";
    const size_t line = menu.rfind('\n', at) + 1;
    return menu.substr(line, at - line);
}

TEST(Mixdown, SameSamplesAsTheShowsPlayerWritesToAWavFile)
{
    std::vector<int16_t> mixed;
    ASSERT_EQ(mixdown_tune(TARQLE_BUILD_DIR "/music/tarqle.xm", 44100, &mixed), 0);
    // The tune lasts about as long as the show (141.5 s) and is not silent.
    EXPECT_NEAR((double)mixed.size() / 2 / 44100, 141.5, 2.0);
    int peak = 0;
    for (int16_t s : mixed)
        peak = std::max(peak, std::abs((int)s));
    EXPECT_GT(peak, 4000);

    // The show, 16-bit stereo at 44100 Hz into music.wav; it stops its player when the
    // virtual clock's show is over, so its file is a prefix of the whole tune; when the
    // player reaches the tune's end first, its last buffer runs on past the end, where the
    // mix stops at a chunk of its own.
    const std::string folder = make_run_folder("mixdown-player");
    const RunResult menu = run_program({program_path("tarqle-render")}, "4\n", folder, 60);
    const std::string answers = "4\n" + menu_number(menu.out, "Wav disk writer") + "\n44100\n";
    const RunResult r = run_program({program_path("tarqle-render")}, answers, folder, 120);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string wav = read_file(folder + "/music.wav");
    ASSERT_GT(wav.size(), 44u + 44100u * 4);
    const size_t bytes = std::min(wav.size() - 44, mixed.size() * 2);
    EXPECT_LT(wav.size() - 44 - bytes, 65536u) << "more than a buffer past the tune's end";
    EXPECT_EQ(std::memcmp(wav.data() + 44, mixed.data(), bytes), 0);
}

TEST(Mixdown, MissingTunePrintsTheShowsMessageAndGivesNothing)
{
    std::vector<int16_t> mixed(10, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(mixdown_tune("no/such/tune.xm", 44100, &mixed), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "MikMod Error\n");
    EXPECT_TRUE(mixed.empty());
    // The library is left as it was found: the next mix works.
    EXPECT_EQ(mixdown_tune(TARQLE_BUILD_DIR "/music/tarqle.xm", 8000, &mixed), 0);
    EXPECT_GT(mixed.size(), 8000u * 2 * 100);
}

// The program checks its whole command line first: --help is no file name.
TEST(Mixdown, ProgramCommandLine)
{
    const std::string folder = make_run_folder("mixdown-options");
    const std::string program = program_path("tarqle-mixdown");
    const RunResult help = run_program({program, "--help"}, "", folder, 10);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: tarqle-mixdown ", 0), 0u) << help.out;
    EXPECT_TRUE(read_file(folder + "/--help").empty());
    const std::pair<std::vector<std::string>, const char*> bad[] = {{{"--bogus", "out.wav"}, "--bogus: "},
                                                                    {{"out.wav", "-x"}, "-x: "},
                                                                    {{}, "OUT.wav: "},
                                                                    {{"out.wav", "music/tarqle.xm", "x"}, "x: "}};
    for (const auto& [args, named] : bad) {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult r = run_program(argv, "", folder, 10);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind(std::string("tarqle-mixdown: ") + named, 0), 0u) << r.err;
        EXPECT_NE(r.err.find(help.out), std::string::npos) << r.err;
        EXPECT_TRUE(read_file(folder + "/out.wav").empty());
    }
}

} // namespace
