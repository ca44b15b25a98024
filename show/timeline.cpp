// The show's timeline: start-up, load phase, the run steps in order, shut-down; and the
// fatal-exit sequence, which needs the display and the music.
#include "show/timeline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "fx/grid.h"
#include "fx/tables.h"
#include "parts/blobs.h"
#include "parts/closing.h"
#include "parts/fire.h"
#include "parts/intro.h"
#include "parts/mosaic.h"
#include "parts/pictures.h"
#include "parts/presents.h"
#include "parts/slides.h"
#include "parts/words.h"
#include "sound/music.h"

namespace {

const char* const kTitle = "tarqle for LINUX by brusk";

ShowPlan plan = {false, false, 0};

void seed_round()
{
    if (plan.seeded)
        random_seed_set(plan.seed);
    else
        random_seed();
}

// The load phase: every part's data, each step on a blank screen, then the tune starts.
void load_phase(Image* screen)
{
    blank_screen(screen);
    presents_load();
    blank_screen(screen);
    words_load();
    blank_screen(screen);
    intro_load();
    blank_screen(screen);
    blobs_load();
    blank_screen(screen);
    pictures_load();
    blank_screen(screen);
    fire_load();
    blank_screen(screen);
    music_start();
}

// The run phase: the nine parts in order, ending on a blank screen.
void run_phase(Image* screen)
{
    blank_screen(screen);
    presents_run(screen);
    blank_screen(screen);
    intro_run(screen);
    blank_screen(screen);
    blobs_run(screen, "grafika/blobs/blobs1.pcx", "grafika/blobs/blobs2.pcx", 125);
    blank_screen(screen);
    flicker_run(screen);
    mosaic_run(screen);
    slides_run(screen);
    blank_screen(screen);
    words_run(screen, 1.2f, 1.2f, 1.2f, 230);
    blank_screen(screen);
    fire_run(screen, 215, 4, 1, 1, 1);
    whiteout_run(screen);
    blank_screen(screen);
    closing_run(screen, 72, "grafika/dornvask.pcx");
    blank_screen(screen);
}

void free_parts()
{
    presents_free();
    words_free();
    intro_free();
    blobs_free();
    pictures_free();
    fire_free();
}

} // namespace

void show_plan(const ShowPlan& chosen)
{
    plan = chosen;
}

void blank_screen(Image* screen)
{
    std::memset(work_palette.rgb, 0, sizeof work_palette.rgb);
    display_set_palette(work_palette);
    image_fill(screen, 0);
    display_present(*screen);
    display_wait_retrace();
}

void fatal_exit(bool with_music_shutdown, int status)
{
    display_close();
    music_stop();
    if (with_music_shutdown)
        music_shutdown();
    std::exit(status);
}

int show_main(int argc, char** argv)
{
    // Standard output unbuffered: a pipe or a file gets every message the moment it is
    // printed (the decoder's have no line end), so a signal that ends the show loses none.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("*** %s *** \n", kTitle);
    music_setup();
    display_open(argc, argv, kTitle, kScreenWidth, kScreenHeight);
    tables_init();
    seed_round();

    Image* screen = nullptr;
    if (image_alloc(&screen, kScreenWidth, kScreenHeight) != 0) {
        std::printf("Cann't allocate image!\n");
        display_close();
        std::exit(1);
    }
    music_load("music/tarqle.xm");

    // What the parts hold between frames and do not load (the grid's motion) is put back
    // as it was at the first round's start, so every round with one seed is the same.
    const GridState grid_at_start = grid_state();
    load_phase(screen);
    for (;;) {
        run_phase(screen);
        if (!plan.loop || clock_show_ended())
            break;
        music_stop();
        free_parts();
        grid_state_set(grid_at_start);
        seed_round();
        load_phase(screen);
    }

    music_stop();
    music_shutdown();
    free_parts();
    image_free(&screen);
    display_close();

    // The byte 0xA0 between the two words is written raw, as it always was.
    std::printf("--------------- TAZE" "\xA0" "QUORM ----------------\n");
    std::printf("- Dornvask - '98 - Frostmoot - Veltria -\n");
    std::printf("--- The First Veltrian Linux Demogroup ---\n\n");
    return 0;
}
