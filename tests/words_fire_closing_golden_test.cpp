// Regression guard: every frame of the scroll with words, the fire, the whiteout and the
// closing picture, drawn from the build's pictures with a fixed seed, against the CRC
// lists in tests/golden. After a deliberate change of the art or of these parts, run
// scripts/update-golden-words-fire-closing.sh and look at the frames before committing the lists.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/clock.h"
#include "core/clock_virtual.h"
#include "core/shared.h"
#include "show/timeline.h"
#include "display/null/display_null.h"
#include "fx/grid.h"
#include "fx/tables.h"
#include "parts/closing.h"
#include "parts/fire.h"
#include "parts/words.h"
#include "tests/run_program.h"

namespace {

std::string frame_list()
{
    std::ostringstream out;
    char line[64];
    for (const NullFrame& f : null_display.frames) {
        std::snprintf(line, sizeof line, "%d\t%08x\t%08x\n", f.time, f.image_crc, f.palette_crc);
        out << line;
    }
    return out.str();
}

// Compares the frames seen since the last reset with tests/golden/<name>.tsv, or
// rewrites that file when TARQLE_UPDATE_GOLDEN is set.
void check_golden(const std::string& name)
{
    const std::string path = std::string(TARQLE_SOURCE_DIR) + "/tests/golden/" + name + ".tsv";
    const std::string seen = frame_list();
    if (std::getenv("TARQLE_UPDATE_GOLDEN")) {
        std::ofstream(path, std::ios::binary) << seen;
        return;
    }
    const std::string expected = read_file(path);
    ASSERT_FALSE(expected.empty()) << path << " is missing";
    std::istringstream e(expected), s(seen);
    std::string el, sl;
    for (int frame = 0; std::getline(e, el); ++frame) {
        ASSERT_TRUE(std::getline(s, sl)) << name << ": only " << frame << " frames";
        ASSERT_EQ(sl, el) << name << " frame " << frame;
    }
    EXPECT_FALSE(std::getline(s, sl)) << name << ": more frames than " << path;
}

TEST(Golden, ScrollFireWhiteoutClosing)
{
    const std::string folder = make_run_folder("words-fire-closing-golden");
    if (read_file(folder + "/grafika/words.pcx").empty())
        GTEST_SKIP() << "the build has not made the pictures";
    ASSERT_EQ(chdir(folder.c_str()), 0);
    random_seed_set(25480);
    tables_init();
    grid_tables_init();
    Image* screen = nullptr;
    ASSERT_EQ(image_alloc(&screen, 320, 240), 0);
    words_load();
    fire_load();

    null_display_reset();
    clock_virtual_set(0);
    blank_screen(screen);
    words_run(screen, 1.2f, 1.2f, 1.2f, 230);
    check_golden("words");

    null_display_reset();
    blank_screen(screen);
    fire_run(screen, 215, 4, 1, 1, 1);
    whiteout_run(screen);
    check_golden("fire_whiteout");

    null_display_reset();
    blank_screen(screen);
    closing_run(screen, 72, "grafika/dornvask.pcx");
    check_golden("closing");

    words_free();
    fire_free();
    image_free(&screen);
}

} // namespace
