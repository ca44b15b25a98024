// The tune in the browser: mixed from the module while the page loads, by the music
// library's own mixer with tarqle-mixdown's settings, and played by the page through Web
// Audio; the show's clock follows it while it plays (core/clock_web.cpp). A held tune is
// silent; it plays on from any show time, the mixed samples being the show's time axis.
#include <emscripten.h>

#include <cstdio>

#include "core/clock.h"
#include "sound/mixdown.h"
#include "sound/music.h"

namespace {

// 1 after music_setup found sound wanted; while it is not 1 every music call does nothing.
int music_enabled;
// The page holds the mixed tune, so music_start can play it.
bool tune_loaded;
// From music_start until music_stop.
bool playing;

bool answers_chosen;
MusicChoice chosen;

// The clock reading at which music_start last returned, for the show's time axis.
bool start_called;
int32_t start_time;

} // namespace

// The page's side (Module.tarqle, web/page.js).
EM_JS(int, web_sound_wanted, (), { return Module.tarqle.soundWanted() ? 1 : 0; });
EM_JS(int, web_tune_ready, (), { return Module.tarqle.tuneReady() ? 1 : 0; });
EM_JS(void, web_tune_start, (), { Module.tarqle.tuneStart(); });
EM_JS(void, web_tune_stop, (), { Module.tarqle.tuneStop(); });
EM_JS(void, web_tune_play_from, (int32_t show_ms), { Module.tarqle.tunePlayFrom(show_ms); });

void music_choose(const MusicChoice& choice)
{
    answers_chosen = true;
    chosen = choice;
}

void music_setup()
{
    const bool wanted = answers_chosen ? chosen.mode > 0 && chosen.mode <= 4 : web_sound_wanted() != 0;
    if (!wanted) {
        music_enabled = 0;
        return;
    }
    // The tune was mixed as 16-bit stereo at tarqle-mixdown's rate; the browser plays it
    // at its output's.
    std::printf("Using %s for %d bit %s %s sound at %u Hz\n\n", "Web Audio", 16, "normal", "stereo",
                (unsigned)kMixdownRate);
    music_enabled = 1;
    tune_loaded = false;
    playing = false;
}

int music_load(const char*)
{
    if (music_enabled != 1 || playing)
        return 0;
    // The page had the same tune mixed as it loaded (sound/web/mix_web.cpp).
    tune_loaded = web_tune_ready() != 0;
    if (!tune_loaded) {
        std::printf("MikMod Error\n");
        return -1;
    }
    return 0;
}

void music_start()
{
    if (music_enabled == 1 && tune_loaded) {
        web_tune_start();
        playing = true;
        // The run phase begins when the tune's first sample is heard: the page's clock
        // stands still until then, so the first frame waits for it like every later one.
        clock_wait(clock_now(), 1);
    }
    start_called = true;
    start_time = clock_now();
}

void music_start_held()
{
    // Ready and silent: the first music_play_from plays it.
    playing = music_enabled == 1 && tune_loaded;
    start_called = true;
    start_time = clock_now();
}

void music_hold()
{
    // The page's clock goes on by itself from the reading it had, so the show's stands.
    if (music_enabled == 1 && playing)
        web_tune_stop();
}

void music_play_from(int32_t show_ms)
{
    // The page's clock stands until the sample at show_ms is heard, then follows the tune,
    // as at the start: the frame presented next is shown with it.
    if (music_enabled == 1 && playing) {
        web_tune_play_from(show_ms);
        clock_wait(clock_now(), 1);
    }
}

bool music_start_time(int32_t* at)
{
    if (!start_called)
        return false;
    *at = start_time;
    return true;
}

void music_stop()
{
    if (music_enabled != 1 || !playing)
        return;
    web_tune_stop();
    playing = false;
}

void music_shutdown()
{
    if (music_enabled != 1)
        return;
    music_stop();
    tune_loaded = false;
    music_enabled = 0;
}
