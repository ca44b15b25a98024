// The real clock's frame pacing as the show has always had it: sleeping the whole 10 ms
// steps, spinning the rest.
#include <ctime>

#include "core/clock.h"

int clock_source_wait(int32_t frame_start, int32_t period)
{
    int32_t now = clock_now();
    int32_t remaining = period - clock_between(frame_start, now);
    int32_t sleep_ms = (remaining / 10) * 10;
    if (sleep_ms > 0) {
        timespec ts;
        ts.tv_sec = sleep_ms / 1000;
        ts.tv_nsec = (long)(sleep_ms - ts.tv_sec * 1000) * 1000000L;
        nanosleep(&ts, nullptr);
    }
    // The sleep covers only whole 10 ms steps; the spin makes the frame exact to the
    // millisecond and never early.
    const int32_t deadline = clock_after(frame_start, period);
    while (clock_between(deadline, clock_now()) < 0) {
    }
    return 0;
}
