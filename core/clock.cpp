// The parts of the clock and the random numbers that do not depend on the platform.
#include "core/clock.h"

#include <cstring>

namespace {
int32_t part_start_time;
// The show time the next clock_mark's step is due at, if the timeline gave one.
bool mark_due;
int32_t mark_due_ms;
// Since the first clock_mark: the reading the step's frames are paced from, where the last
// frame wait ended (or the step started, before its first).
bool pacing;
int32_t paced_to;
// A step may wait for its due time at most this long; more would mean a clock moved
// under the show, not a step that ended early.
constexpr int32_t kLongestEarlyStart = 1000;
bool show_ended;
// The live reading is the platform's moved by this, so it goes on from a replay's goal.
int32_t live_offset;
int32_t show_origin;
bool seek_waiting;
int32_t seek_goal;
// Between clock_replay and the hand-over: the replay's own reading, its goal (show time)
// and what shows the held frame.
bool replaying;
int32_t replay_now;
int32_t replay_goal;
void (*replay_handover)();
// Between clock_pause and clock_resume: the reading clock_now keeps.
bool paused;
int32_t paused_at;
// Whether the pause's listener last heard of a pause; and the listener.
bool pause_told;
void (*pause_changed)(bool paused);
// Before a replay: the show time's origin, put back when a replay ends without a hand-over.
int32_t origin_before_replay;

RandGlibc seeded_with(uint32_t seed)
{
    RandGlibc generator;
    rand_glibc_seed(generator, seed);
    return generator;
}

// The shared generator; unseeded it runs as the C library's does, as if seeded with 1.
RandGlibc generator = seeded_with(1);

int32_t after(int32_t reading, int32_t ms)
{
    return (int32_t)((uint32_t)reading + (uint32_t)ms);
}

int32_t between(int32_t from, int32_t to)
{
    return (int32_t)((uint32_t)to - (uint32_t)from);
}
} // namespace

int32_t clock_now()
{
    if (replaying)
        return replay_now;
    return paused ? paused_at : after(clock_source_now(), live_offset);
}

void clock_pause()
{
    paused_at = clock_now();
    paused = true;
    if (!pause_told && pause_changed != nullptr)
        pause_changed(true);
    pause_told = true;
}

void clock_step()
{
    if (!paused)
        return;
    paused = false;
    live_offset = between(clock_source_now(), paused_at);
}

void clock_resume()
{
    clock_step();
    if (pause_told && pause_changed != nullptr)
        pause_changed(false);
    pause_told = false;
}

void clock_on_pause(void (*changed)(bool paused))
{
    pause_changed = changed;
}

namespace {
// clock_wait without the pacing.
int wait_from(int32_t frame_start, int32_t period)
{
    // The round a seek ends is not seen: its last frame needs no wait.
    if (seek_waiting)
        return 0;
    if (replaying) {
        const int32_t deadline = after(frame_start, period);
        if (between(show_origin, deadline) <= replay_goal) {
            if (between(replay_now, deadline) > 0)
                replay_now = deadline;
            return 0;
        }
        // The next frame lies past the goal: the live clock takes over at the goal.
        replaying = false;
        live_offset = between(clock_source_now(), after(show_origin, replay_goal));
        replay_handover();
    }
    return clock_source_wait(frame_start, period);
}
} // namespace

int clock_wait(int32_t frame_start, int32_t period)
{
    // A frame counts from where the last wait ended, or whole periods later if it ran
    // that late: a frame that started a little after (a late wake-up, a late step start)
    // or overran its period keeps the step's frames where the whole run's are, instead
    // of moving every later one. In the virtual-clock run each frame starts right there.
    if (pacing && period > 0) {
        const int32_t behind = between(paced_to, frame_start);
        if (behind >= 0)
            frame_start = after(paced_to, behind / period * period);
    }
    paced_to = after(frame_start, period);
    return wait_from(frame_start, period);
}

void clock_show_begin(int32_t at)
{
    show_origin = at;
}

int32_t clock_show_time()
{
    return between(show_origin, clock_now());
}

void clock_seek(int32_t show_ms)
{
    seek_waiting = true;
    seek_goal = show_ms;
}

bool clock_take_seek(int32_t* show_ms)
{
    if (!seek_waiting)
        return false;
    seek_waiting = false;
    *show_ms = seek_goal;
    return true;
}

void clock_replay(int32_t from, int32_t goal, void (*handover)())
{
    origin_before_replay = show_origin;
    replay_now = clock_now();
    show_origin = after(replay_now, -from);
    replay_goal = goal;
    replay_handover = handover;
    replaying = true;
}

bool clock_replaying()
{
    return replaying || seek_waiting;
}

bool clock_replay_running()
{
    return replaying && !seek_waiting && !show_ended;
}

void clock_replay_end()
{
    if (!replaying)
        return;
    replaying = false;
    show_origin = origin_before_replay;
}

void clock_mark_due(int32_t show_ms)
{
    mark_due = true;
    mark_due_ms = show_ms;
}

void clock_mark()
{
    part_start_time = clock_now();
    if (mark_due) {
        mark_due = false;
        const int32_t due = after(show_origin, mark_due_ms);
        const int32_t late = between(due, part_start_time);
        if (late > 0) {
            part_start_time = due;
        } else if (late < 0 && -late <= kLongestEarlyStart) {
            wait_from(part_start_time, -late);
            part_start_time = clock_now();
        }
    }
    pacing = true;
    paced_to = part_start_time;
}

void clock_end_show()
{
    show_ended = true;
}

bool clock_show_ended()
{
    return show_ended;
}

int32_t clock_elapsed()
{
    if (show_ended || seek_waiting)
        return kShowEndedElapsed;
    return (int32_t)((uint32_t)clock_now() - (uint32_t)part_start_time);
}

int32_t random_scale(int32_t r, int32_t n)
{
    // C = (2^31 - 1) / 2^62, slightly below 2^-31, so the result never reaches n. The
    // exact integer product is scaled in extended precision (64-bit mantissa).
    constexpr uint64_t kBits = 0x3DFFFFFFFFC00000ull;
    double c;
    std::memcpy(&c, &kBits, sizeof c);
    long double product = (long double)((int64_t)r * (int64_t)n) * (long double)c;
    return (int32_t)product;
}

void random_seed_set(uint32_t seed)
{
    rand_glibc_seed(generator, seed);
}

RandGlibc random_state()
{
    return generator;
}

void random_state_set(const RandGlibc& state)
{
    generator = state;
}

int32_t random_below(int32_t n)
{
    return random_scale(rand_glibc_next(generator), n);
}

uint32_t random_seed_value(int hour, int minute, int second)
{
    return (uint32_t)((minute + 1) * second * (hour + 1));
}
