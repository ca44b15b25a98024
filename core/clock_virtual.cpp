// The virtual clock of the headless renderer and the tests: it starts at 0 and moves
// only when a frame waits, so a whole show runs in a fraction of a second, alike every time.
#include <cstdlib>

#include "core/clock.h"
#include "core/clock_virtual.h"

namespace {
int32_t virtual_now;
} // namespace

void clock_virtual_set(int32_t now)
{
    virtual_now = now;
}

int32_t clock_now()
{
    return virtual_now;
}

int clock_wait(int32_t frame_start, int32_t period)
{
    const int32_t deadline = (int32_t)((uint32_t)frame_start + (uint32_t)period);
    if ((int32_t)((uint32_t)deadline - (uint32_t)virtual_now) > 0)
        virtual_now = deadline;
    return 0;
}

void random_seed()
{
    // The seed the time-of-day formula gives at 12:34:56 UTC.
    std::srand(random_seed_value(12, 34, 56));
}
