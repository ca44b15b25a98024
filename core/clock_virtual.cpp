// The virtual clock of the headless renderer and the tests: it starts at 0 and moves
// only when a frame waits, so a whole show runs in a fraction of a second, alike every time.
#include "core/clock.h"
#include "core/clock_virtual.h"

namespace {
int32_t virtual_now;
} // namespace

void clock_virtual_set(int32_t now)
{
    virtual_now = now;
}

int32_t clock_source_now()
{
    return virtual_now;
}

int clock_source_wait(int32_t frame_start, int32_t period)
{
    // Measured on the show's reading, which a seek may have moved away from this one.
    const int32_t remaining = clock_between(clock_now(), clock_after(frame_start, period));
    if (remaining > 0)
        virtual_now = clock_after(virtual_now, remaining);
    return 0;
}

uint32_t random_seed()
{
    // The seed the time-of-day formula gives at 12:34:56 UTC.
    const uint32_t seed = random_seed_value(12, 34, 56);
    random_seed_set(seed);
    return seed;
}
