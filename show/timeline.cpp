// The show's timeline: start-up, load phase, the run steps in order, shut-down; and the
// fatal-exit sequence, which needs the display and the music.
#include "show/timeline.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/clock.h"
#include "core/seek_state.h"
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
#include "show/viewing.h"
#include "sound/music.h"

namespace {

const char* const kTitle = kShowTitle;

ShowPlan plan = {false, false, 0, 0};
bool seeks_planned;

// The show time each part started at in this round.
int32_t part_started[kShowParts];

// The state the show holds at a part's start, as the whole run on the virtual clock holds
// it there: what every module declared a seek must put back (core/seek_state), the part
// starts seen so far and the screen image. Not kept: the parts' loaded data, which no run
// step changes, the scratch images each frame draws anew, the display's palette (each part
// sends its own before its first frame) and the parts' run records (each run starts them
// afresh).
struct SavedState {
    bool kept;
    int32_t show_ms;
    std::vector<uint8_t> bytes;
};
SavedState saved[kShowParts];

void keep_state(int k, int32_t show_ms)
{
    SavedState& state = saved[k];
    state.kept = true;
    state.show_ms = show_ms;
    state.bytes.resize(seek_state_size());
    seek_state_save(state.bytes.data());
}

void put_back_state(int k)
{
    seek_state_restore(saved[k].bytes.data());
}

// A replay passing a part's start keeps the state there; a live run's states are its own
// clock's, not the whole run's, and are not kept.
void part_begins(int k)
{
    part_started[k] = clock_show_time();
    clock_mark_due(show_parts[k].start_ms);
    if (viewing_replay_running())
        keep_state(k, part_started[k]);
}

void seed_round()
{
    if (plan.seeded)
        random_seed_set(plan.seed);
    else
        random_seed();
}

void run_phase(Image* screen, int first);

// The real standard output while the load phase's replay writes to a scratch file.
int quiet_from = -1;
FILE* quiet_text;

// The rest of the run phase's output goes to a scratch file: the presents' frame count is
// the live run's to tell.
void quiet_begin()
{
    std::fflush(stdout);
    quiet_text = std::tmpfile();
    if (quiet_text == nullptr)
        return;
    quiet_from = dup(STDOUT_FILENO);
    if (quiet_from < 0 || dup2(fileno(quiet_text), STDOUT_FILENO) < 0) {
        if (quiet_from >= 0)
            close(quiet_from);
        quiet_from = -1;
        std::fclose(quiet_text);
    }
}

// Standard output as it was; with pass_on, what the replay wrote is written there too
// (a failing step's message before the program ends).
void quiet_end(bool pass_on)
{
    if (quiet_from < 0)
        return;
    std::fflush(stdout);
    dup2(quiet_from, STDOUT_FILENO);
    close(quiet_from);
    quiet_from = -1;
    if (pass_on) {
        std::rewind(quiet_text);
        char chunk[256];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, quiet_text)) > 0;)
            std::fwrite(chunk, 1, n, stdout);
    }
    std::fclose(quiet_text);
}

// The round's states at the part starts: the first from the load phase, the rest, for a
// program whose viewer seeks, from the whole run phase replayed once, unseen, before the
// tune starts (about 0.4 s); the live run goes on from the first.
void keep_part_starts(Image* screen)
{
    for (SavedState& state : saved)
        state.kept = false;
    keep_state(0, 0);
    if (!seeks_planned)
        return;
    quiet_begin();
    viewing_keep_begin();
    run_phase(screen, 0);
    viewing_keep_end();
    quiet_end(false);
    put_back_state(0);
}

// Puts back the state kept at the latest part start at or before goal and replays from
// there up to goal. Returns the part the run phase starts with.
int replay_to(int32_t goal)
{
    int k = kShowParts - 1;
    while (k > 0 && !(saved[k].kept && saved[k].show_ms <= goal))
        --k;
    put_back_state(k);
    viewing_replay(saved[k].show_ms);
    return k;
}

// The load phase: every part's data, each step on a blank screen, then the tune starts.
void load_phase(Image* screen)
{
    viewing_round_loads();
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
    keep_part_starts(screen);
    viewing_round_starts();
}

// Part k's run step, with the blank screen before it where it has one.
void run_part(Image* screen, int k)
{
    switch (k) {
    case 0:
        blank_screen(screen);
        presents_run(screen);
        break;
    case 1:
        blank_screen(screen);
        intro_run(screen);
        break;
    case 2:
        blank_screen(screen);
        blobs_run(screen, "grafika/blobs/blobs1.pcx", "grafika/blobs/blobs2.pcx", 125);
        break;
    case 3:
        blank_screen(screen);
        flicker_run(screen);
        break;
    case 4: mosaic_run(screen); break;
    case 5: slides_run(screen); break;
    case 6:
        blank_screen(screen);
        words_run(screen, 1.2f, 1.2f, 1.2f, 230);
        break;
    case 7:
        blank_screen(screen);
        fire_run(screen, 215, 4, 1, 1, 1);
        break;
    default:
        whiteout_run(screen);
        blank_screen(screen);
        closing_run(screen, 72, "grafika/dornvask.pcx");
        break;
    }
}

// The run phase from part first on (the state at its start in place), the parts in
// order, ending on a blank screen.
void run_phase(Image* screen, int first)
{
    for (int k = first; k < kShowParts; ++k)
        part_started[k] = -1;
    for (int k = first; k < kShowParts; ++k) {
        part_begins(k);
        run_part(screen, k);
    }
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

void show_plan_seeks()
{
    seeks_planned = true;
    viewing_seeks();
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

const char* show_plan_option(const char* option, const char* value, ShowPlan* plan)
{
    if (std::strcmp(option, "--seed") != 0)
        return show_time_parse(value, &plan->start_ms)
                   ? nullptr
                   : "expected seconds of show time before its end, or a part's name";
    if (!show_seed_parse(value, &plan->seed))
        return "expected a whole number from 0 to 4294967295";
    plan->seeded = true;
    return nullptr;
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
    quiet_end(true);
    show_failed = status != 0;
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
    // The screen image and the part starts seen are the timeline's own state that a seek
    // puts back.
    seek_state_declare(screen->pixels, (size_t)kScreenWidth * kScreenHeight);
    seek_state_declare(part_started, sizeof part_started);
    viewing_begin(screen, plan.start_ms);

    // What the parts hold between frames and do not load (the grid's motion) is put back
    // as it was at the first round's start, so every round with one seed is the same.
    const GridState grid_at_start = grid_state();
    load_phase(screen);
    for (;;) {
        // A start or a seek goes on from the state kept at the part start before its goal.
        int32_t goal = 0;
        run_phase(screen, viewing_seek_waiting(&goal) ? replay_to(goal) : 0);
        const ViewingNext next = viewing_round_ends(plan.loop);
        if (next == kViewingEnd)
            break;
        if (next == kViewingNewRound) {
            // A new round: the tune from its start, the random numbers seeded afresh, the
            // parts' data loaded anew and the grid as the first round had it.
            seed_round();
            free_parts();
            grid_state_set(grid_at_start);
            load_phase(screen);
        }
    }

    music_stop();
    music_shutdown();
    free_parts();
    seek_state_withdraw(screen->pixels);
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
