// The real clock: a monotonic millisecond reading, sleeping and spinning frame pacing; the
// random seed from the time of day.
#include <cstdlib>
#include <ctime>

#include "core/clock.h"

int32_t clock_source_now()
{
    // The monotonic clock, so a step of the time of day neither freezes nor cuts a part.
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // Wraps modulo 2^32 on purpose: only differences of readings are used.
    return (int32_t)((uint32_t)ts.tv_sec * 1000u + (uint32_t)(ts.tv_nsec / 1000000));
}

int clock_source_wait(int32_t frame_start, int32_t period)
{
    int32_t now = clock_now();
    int32_t remaining = period - (int32_t)((uint32_t)now - (uint32_t)frame_start);
    int32_t sleep_ms = (remaining / 10) * 10;
    if (sleep_ms > 0) {
        timespec ts;
        ts.tv_sec = sleep_ms / 1000;
        ts.tv_nsec = (long)(sleep_ms - ts.tv_sec * 1000) * 1000000L;
        nanosleep(&ts, nullptr);
    }
    // The sleep covers only whole 10 ms steps; the spin makes the frame exact to the
    // millisecond and never early.
    const int32_t deadline = (int32_t)((uint32_t)frame_start + (uint32_t)period);
    while ((int32_t)((uint32_t)clock_now() - (uint32_t)deadline) < 0) {
    }
    return 0;
}

uint32_t random_seed()
{
    time_t t = time(nullptr);
    const tm* utc = gmtime(&t);
    const uint32_t seed = random_seed_value(utc->tm_hour, utc->tm_min, utc->tm_sec);
    std::srand(seed);
    return seed;
}
