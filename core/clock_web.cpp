// The browser's clock: the page's millisecond clock, which follows the tune while it plays,
// and a frame wait that gives the page its turn (to show the frame, to take keys) instead
// of spinning.
#include <ctime>

#include "core/clock.h"
#include "core/shared.h"

// What the page supplies (core/clock_web.js).
extern "C" {
// The page's clock in milliseconds: the tune's playing position while it plays (offset so
// the reading never jumps), the page's own clock before and after.
double tarqle_clock_now();
// Gives the page its turn for about ms milliseconds (at least one turn, also for 0); the
// show goes on where it stopped. Nonzero when the viewer has ended the show.
int tarqle_clock_sleep(int ms);
// Marks the start of a frame's wait (the frame's work ends here).
void tarqle_clock_wait_begin(int period);
// Marks the end of a frame's wait (the next frame's work starts here).
void tarqle_clock_wait_end();
}

int32_t clock_source_now()
{
    // Wraps modulo 2^32 like the native reading: only differences are used.
    return (int32_t)(int64_t)tarqle_clock_now();
}

int clock_source_wait(int32_t frame_start, int32_t period)
{
    tarqle_clock_wait_begin(period);
    const int32_t deadline = clock_after(frame_start, period);
    // A frame that is already late still yields once, or the page would never show it.
    // The viewer's end is taken at every turn, also while the clock stands (the tune held up).
    int32_t remaining = clock_between(clock_now(), deadline);
    do {
        if (tarqle_clock_sleep(remaining > 0 ? remaining : 0) != 0)
            fatal_exit(true, 0); // the viewer's end, not a failure
        remaining = clock_between(clock_now(), deadline);
    } while (remaining > 0);
    tarqle_clock_wait_end();
    return 0;
}

uint32_t random_seed()
{
    time_t t = time(nullptr);
    const tm* utc = gmtime(&t);
    const uint32_t seed = random_seed_value(utc->tm_hour, utc->tm_min, utc->tm_sec);
    random_seed_set(seed);
    return seed;
}
