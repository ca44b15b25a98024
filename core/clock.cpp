// The parts of the clock and the random numbers that do not depend on the platform.
#include "core/clock.h"

#include <cstring>

#include "core/rand_glibc.h"
#include "core/seek_state.h"

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
// Whether the parts' time has run out.
bool time_out;
// The live reading is the platform's moved by this, so it goes on from where it stood.
int32_t live_offset;
int32_t show_origin;
// Between clock_stand and clock_run: the reading clock_now keeps.
bool standing;
int32_t stood_at;
void (*wait_listener)(int32_t frame_end);

RandGlibc seeded_with(uint32_t seed)
{
    RandGlibc generator;
    rand_glibc_seed(generator, seed);
    return generator;
}

// The shared generator; unseeded it runs as the C library's does, as if seeded with 1.
RandGlibc generator = seeded_with(1);
[[maybe_unused]] const bool generator_kept = seek_state_declare(&generator, sizeof generator);

} // namespace

int32_t clock_now()
{
    return standing ? stood_at : clock_after(clock_source_now(), live_offset);
}

void clock_stand(int32_t reading)
{
    stood_at = reading;
    standing = true;
}

void clock_run()
{
    if (!standing)
        return;
    standing = false;
    live_offset = clock_between(clock_source_now(), stood_at);
}

void clock_on_wait(void (*before_wait)(int32_t frame_end))
{
    wait_listener = before_wait;
}

void clock_time_out(bool out)
{
    time_out = out;
}

namespace {
// clock_wait without the pacing.
int wait_from(int32_t frame_start, int32_t period)
{
    const int32_t frame_end = clock_after(frame_start, period);
    if (wait_listener != nullptr)
        wait_listener(frame_end);
    // The last frame of a round that ends at once needs no wait.
    if (time_out)
        return 0;
    if (standing) {
        if (clock_between(stood_at, frame_end) > 0)
            stood_at = frame_end;
        return 0;
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
        const int32_t behind = clock_between(paced_to, frame_start);
        if (behind >= 0)
            frame_start = clock_after(paced_to, behind / period * period);
    }
    paced_to = clock_after(frame_start, period);
    return wait_from(frame_start, period);
}

void clock_show_begin(int32_t at)
{
    show_origin = at;
}

int32_t clock_show_time()
{
    return clock_between(show_origin, clock_now());
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
        const int32_t due = clock_after(show_origin, mark_due_ms);
        const int32_t late = clock_between(due, part_start_time);
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

int32_t clock_elapsed()
{
    if (time_out)
        return kShowEndedElapsed;
    return clock_between(part_start_time, clock_now());
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

int32_t random_below(int32_t n)
{
    return random_scale(rand_glibc_next(generator), n);
}

uint32_t random_seed_value(int hour, int minute, int second)
{
    return (uint32_t)((minute + 1) * second * (hour + 1));
}
