// The show's timeline: start-up, load phase, the run steps in order, shut-down; and the
// fatal-exit sequence, which needs the display and the music.
#include "show/timeline.h"

#include <cerrno>
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

const char* const kTitle = kShowTitle;

ShowPlan plan = {false, false, 0, 0};

// The screen image, for the hand-over after a replay.
Image* held_screen;
int32_t part_started[kShowParts];

// Whether the viewer's pause holds the tune: from a pause until its resume, also across
// the steps and seeks made meanwhile.
bool viewer_paused;

// The frame a replay stopped on is in the screen image, its palette already sent; the
// tune goes on from there (unless the viewer holds the show in that present, whose end
// then starts it), but not while the viewer's pause holds it (a step out of that present).
void show_held_frame()
{
    display_present(*held_screen);
    if (!viewer_paused)
        music_play_from(clock_show_time());
}

// The viewer's pause silences the tune; going on plays it from where the show stands.
void follow_pause(bool paused)
{
    viewer_paused = paused;
    if (paused)
        music_hold();
    else
        music_play_from(clock_show_time());
}

void part_begins(int k)
{
    part_started[k] = clock_show_time();
    clock_mark_due(show_parts[k].start_ms);
}

// The seed of the running round.
uint32_t round_seed;

void seed_round()
{
    if (plan.seeded) {
        round_seed = plan.seed;
        random_seed_set(round_seed);
    } else {
        round_seed = random_seed();
    }
}

void seed_again()
{
    random_seed_set(round_seed);
}

// Every part's data, with no picture shown: for a replay, which shows nothing until its goal.
void load_parts()
{
    presents_load();
    words_load();
    intro_load();
    blobs_load();
    pictures_load();
    fire_load();
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
    int32_t at = 0;
    if (music_start_time(&at))
        clock_show_begin(at);
}

// The run phase: the nine parts in order, ending on a blank screen.
void run_phase(Image* screen)
{
    for (int32_t& started : part_started)
        started = -1;
    part_begins(0);
    blank_screen(screen);
    presents_run(screen);
    part_begins(1);
    blank_screen(screen);
    intro_run(screen);
    part_begins(2);
    blank_screen(screen);
    blobs_run(screen, "grafika/blobs/blobs1.pcx", "grafika/blobs/blobs2.pcx", 125);
    part_begins(3);
    blank_screen(screen);
    flicker_run(screen);
    part_begins(4);
    mosaic_run(screen);
    part_begins(5);
    slides_run(screen);
    part_begins(6);
    blank_screen(screen);
    words_run(screen, 1.2f, 1.2f, 1.2f, 230);
    part_begins(7);
    blank_screen(screen);
    fire_run(screen, 215, 4, 1, 1, 1);
    part_begins(8);
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

const ShowPart show_parts[kShowParts] = {
    {"presents", "Presents", 0},    {"intro", "Intro", 11040},   {"blobs", "Blobs", 30240},
    {"flicker", "Pictures", 42770}, {"mosaic", "Mosaic", 65810}, {"slides", "Slides", 78830},
    {"words", "Words", 88370},      {"fire", "Fire", 111400},    {"closing", "Closing", 132940},
};

void show_plan(const ShowPlan& chosen)
{
    plan = chosen;
}

int show_part_at(int32_t ms)
{
    int k = 0;
    while (k + 1 < kShowParts && show_parts[k + 1].start_ms <= ms)
        ++k;
    return k;
}

int32_t show_part_started(int k)
{
    return part_started[k];
}

bool show_time_parse(const char* text, int32_t* ms)
{
    for (const ShowPart& part : show_parts)
        if (std::strcmp(text, part.name) == 0) {
            *ms = part.start_ms;
            return true;
        }
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(seconds >= 0.0 && seconds * 1000.0 < kShowLength))
        return false;
    *ms = (int32_t)(seconds * 1000.0 + 0.5);
    return true;
}

bool show_seed_parse(const char* text, uint32_t* seed)
{
    if (text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno != 0 || n > 0xFFFFFFFFull)
        return false;
    *seed = (uint32_t)n;
    return true;
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
    clock_on_pause(follow_pause);

    // What the parts hold between frames and do not load (the grid's motion) is put back
    // as it was at the first round's start, so every round with one seed is the same.
    const GridState grid_at_start = grid_state();
    held_screen = screen;
    load_phase(screen);
    int32_t goal = plan.start_ms;
    bool replay = goal > 0;
    for (;;) {
        if (replay) {
            // The tune is silent while the run phase is replayed, until the hand-over.
            music_hold();
            clock_replay(goal, show_held_frame);
        }
        run_phase(screen);
        const bool seek = clock_take_seek(&goal);
        if (!seek && (!plan.loop || clock_show_ended()))
            break;
        // A seek replays, also one to the very start: the show's time axis starts again.
        replay = seek;
        if (!seek) {
            // A new round: the tune from its start, the random numbers seeded afresh.
            seed_round();
            goal = 0;
        } else {
            // A seek replays the round with the seed it had.
            seed_again();
        }
        // Every round and every replay starts from the state the run phase first had.
        free_parts();
        grid_state_set(grid_at_start);
        if (seek)
            load_parts();
        else
            load_phase(screen);
    }

    music_stop();
    music_shutdown();
    free_parts();
    image_free(&screen);
    display_close();

    // The byte 0xA0 between the two words is written raw, as it always was.
    std::printf("--------------- TAZE"
                "\xA0"
                "QUORM ----------------\n");
    std::printf("- Dornvask - '98 - Frostmoot - Veltria -\n");
    std::printf("--- The First Veltrian Linux Demogroup ---\n\n");
    return 0;
}
