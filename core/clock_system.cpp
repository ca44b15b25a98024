// The real clock: a monotonic millisecond reading and the random seed from the time of
// day. Its frame pacing is one of two files beside it (clock_wait_spin.cpp, clock_wait_sleep.cpp).
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

uint32_t random_seed()
{
    time_t t = time(nullptr);
    const tm* utc = gmtime(&t);
    const uint32_t seed = random_seed_value(utc->tm_hour, utc->tm_min, utc->tm_sec);
    random_seed_set(seed);
    return seed;
}
