// Whole-run checksums of the first three parts with the generated pictures: every
// frame's time and CRCs, against the files under tests/golden/. After a deliberate
// change of the art or of a part, TARQLE_GOLDEN_WRITE=1 build/presents_intro_blobs_golden_test writes
// the files anew (see the README).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/clock.h"
#include "core/clock_virtual.h"
#include "core/shared.h"
#include "display/null/display_null.h"
#include "fx/tables.h"
#include "parts/blobs.h"
#include "parts/intro.h"
#include "parts/presents.h"
#include "tests/parts_support.h"

namespace {

// Runs one part's load and run steps from the build folder (where the pictures are),
// with a fixed seed, and compares or writes its frame list.
void check_golden(const std::string& name, const std::function<void(Image*)>& load_and_run)
{
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(TARQLE_BUILD_DIR), 0);
    tables_init();
    random_seed_set(25480);
    OwnedImage screen(kScreenWidth, kScreenHeight);
    null_display_reset();
    clock_virtual_set(0);
    testing::internal::CaptureStdout();
    must_return([&] { load_and_run(screen.image); });
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(previous), 0);

    std::ostringstream got;
    for (const NullFrame& f : null_display.frames) {
        char line[64];
        std::snprintf(line, sizeof line, "%d\t%08x\t%08x\n", f.time, f.image_crc, f.palette_crc);
        got << line;
    }
    const std::string path = std::string(TARQLE_SOURCE_DIR) + "/tests/golden/" + name + ".tsv";
    if (std::getenv("TARQLE_GOLDEN_WRITE") != nullptr) {
        std::ofstream(path) << got.str();
        return;
    }
    std::ifstream file(path);
    ASSERT_TRUE(file.good()) << path << " is missing: run TARQLE_GOLDEN_WRITE=1 build/presents_intro_blobs_golden_test";
    std::stringstream want;
    want << file.rdbuf();
    EXPECT_EQ(got.str(), want.str()) << name << ": frames differ from " << path;
}

TEST(Golden, Presents)
{
    check_golden("presents", [](Image* screen) {
        presents_load();
        presents_run(screen);
        presents_free();
    });
}

TEST(Golden, Intro)
{
    check_golden("intro", [](Image* screen) {
        intro_load();
        intro_run(screen);
        intro_free();
    });
}

TEST(Golden, Blobs)
{
    check_golden("blobs", [](Image* screen) {
        blobs_load();
        blobs_run(screen, "grafika/blobs/blobs1.pcx", "grafika/blobs/blobs2.pcx", 125);
        blobs_free();
    });
}

} // namespace
