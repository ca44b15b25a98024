// The player's work for a seek: the tune loaded afresh and mixed silently up to a part's
// start, for each of the nine parts, as the player does it before the tune plays on.
#include <benchmark/benchmark.h>

#include "show/timeline.h"
#include "sound/mikmod_settings.h"

namespace {

// The library started once on its no-sound driver, as the offline mixdown starts it, at
// the rate tarqle-sdl plays at.
bool start_library()
{
    static int started = -1;
    if (started < 0) {
        music_register_loaders();
        MikMod_RegisterDriver(&drv_nos);
        music_set_levels();
        md_mode = kMusicModes[3];
        md_mixfreq = 44100;
        md_device = (UWORD)MikMod_DriverFromAlias(drv_nos.Alias);
        started = MikMod_Init("") == 0 ? 1 : 0;
    }
    return started == 1;
}

void BM_TuneAtPartStart(benchmark::State& state)
{
    const ShowPart& part = show_parts[state.range(0)];
    state.SetLabel(part.name);
    if (!start_library()) {
        state.SkipWithError("the music library does not start");
        return;
    }
    const long frames = (long)((int64_t)part.start_ms * md_mixfreq / 1000);
    for (auto _ : state) {
        MODULE* module = music_load_at(TARQLE_BUILD_DIR "/music/tarqle.xm", frames, false);
        if (module == nullptr) {
            state.SkipWithError("the tune does not load");
            return;
        }
        Player_Stop();
        Player_Free(module);
    }
}
BENCHMARK(BM_TuneAtPartStart)->DenseRange(0, kShowParts - 1)->Unit(benchmark::kMillisecond);

} // namespace
