// The real clock's frame pacing for a program that runs for hours unattended (the screen
// saver): it sleeps to the millisecond the frame ends and never spins.
#include <cerrno>
#include <ctime>

#include "core/clock.h"

int clock_source_wait(int32_t frame_start, int32_t period)
{
    const int32_t deadline = clock_after(frame_start, period);
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        // clock_now reads whole milliseconds of this clock (plus a fixed offset after a
        // seek): the deadline's reading starts remaining milliseconds after the start of
        // the current one. Woken a millisecond early, the loop sleeps again.
        const int32_t remaining = clock_between(clock_now(), deadline);
        if (remaining <= 0)
            return 0;
        const long long at =
            (long long)now.tv_sec * 1000000000LL + now.tv_nsec / 1000000 * 1000000 + (long long)remaining * 1000000LL;
        const timespec until = {(time_t)(at / 1000000000LL), (long)(at % 1000000000LL)};
        // Interrupted by a signal, it sleeps again for what is left.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
}
