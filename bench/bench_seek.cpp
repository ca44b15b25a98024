// From a viewer's seek to the new picture presented, for a seek to each part's start and
// to its last millisecond (the longest replay from a kept state): one show of the demo's
// data on the virtual clock, whose back-end (the tests') asks the seeks from its present
// as tarqle-sdl's keys do, timed on the steady clock; and the load phase's whole replay
// that keeps the part starts' states. Compare with 150 ms.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "display/null/display_null.h"
#include "display/viewer/viewer.h"
#include "show/timeline.h"
#include "sound/music.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr int kSeeksPerPart = 15;

struct Timings {
    // Seconds from viewer_seek to the new picture: to part k's start (goal k) and to its end
    // (goal kShowParts + k).
    std::vector<double> seek[2 * kShowParts];
    double load_replay = 0; // seconds the load phase's whole replay took
    bool replay_seen = false;
    SteadyClock::time_point last_live; // the load phase's last blank screen
    SteadyClock::time_point asked;
    int seeks = 0;
    int goal = -1; // the goal a seek waits for, or -1
};
Timings timings;

double seconds_since(SteadyClock::time_point from)
{
    return std::chrono::duration<double>(SteadyClock::now() - from).count();
}

void on_present(size_t)
{
    if (viewer_ended())
        return;
    if (!viewer_frame_seen()) {
        timings.replay_seen = true;
        return;
    }
    if (!timings.replay_seen) {
        // The load phase's blank screens, before its replay.
        timings.last_live = SteadyClock::now();
        return;
    }
    if (timings.seeks == 0)
        timings.load_replay = seconds_since(timings.last_live);
    if (timings.goal >= 0)
        timings.seek[timings.goal].push_back(seconds_since(timings.asked));
    if (timings.seeks == kSeeksPerPart * 2 * kShowParts) {
        viewer_end();
        return;
    }
    // Steps of five go round all eighteen goals, each time from a different one, forward
    // and back, so the ended round's rest differs too.
    timings.goal = timings.seeks * 5 % (2 * kShowParts);
    ++timings.seeks;
    const int k = timings.goal % kShowParts;
    const int32_t end = k + 1 < kShowParts ? show_parts[k + 1].start_ms : kShowLength;
    timings.asked = SteadyClock::now();
    viewer_seek(timings.goal < kShowParts ? show_parts[k].start_ms : end - 1);
}

// The show runs once, in the build folder (the demo's data), its messages kept out of the
// report.
const Timings& measured()
{
    static bool done = false;
    if (done)
        return timings;
    done = true;
    if (chdir(TARQLE_BUILD_DIR) != 0)
        return timings;
    std::fflush(stdout);
    const int out = dup(STDOUT_FILENO);
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return timings;
    music_choose({0, 0, 44100, 0, false});
    null_display.after_present = on_present;
    timings.last_live = SteadyClock::now();
    show_plan({false, true, 1, 0});
    show_plan_seeks();
    char name[] = "bench-seek";
    char* argv[] = {name, nullptr};
    show_main(1, argv);
    std::fflush(stdout);
    dup2(out, STDOUT_FILENO);
    close(out);
    return timings;
}

void report(benchmark::State& state, std::vector<double> seconds)
{
    if (seconds.empty()) {
        state.SkipWithError("the show did not run: no demo data in the build folder");
        return;
    }
    size_t i = 0;
    for (auto _ : state)
        state.SetIterationTime(seconds[i++ % seconds.size()]);
    std::sort(seconds.begin(), seconds.end());
    state.counters["median_ms"] = 1000 * seconds[seconds.size() / 2];
    state.counters["worst_ms"] = 1000 * seconds.back();
}

void seek_to_part_start(benchmark::State& state)
{
    report(state, measured().seek[state.range(0)]);
}
BENCHMARK(seek_to_part_start)
    ->DenseRange(0, kShowParts - 1)
    ->UseManualTime()
    ->Iterations(kSeeksPerPart)
    ->Unit(benchmark::kMillisecond);

void seek_to_part_end(benchmark::State& state)
{
    report(state, measured().seek[kShowParts + state.range(0)]);
}
BENCHMARK(seek_to_part_end)
    ->DenseRange(0, kShowParts - 1)
    ->UseManualTime()
    ->Iterations(kSeeksPerPart)
    ->Unit(benchmark::kMillisecond);

void load_phase_whole_replay(benchmark::State& state)
{
    const double seconds = measured().load_replay;
    report(state, seconds > 0 ? std::vector<double>{seconds} : std::vector<double>{});
}
BENCHMARK(load_phase_whole_replay)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
