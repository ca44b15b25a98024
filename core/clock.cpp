// The parts of the clock and the random numbers that do not depend on the platform.
#include "core/clock.h"

#include <cstdlib>
#include <cstring>

namespace {
int32_t part_start_time;
bool show_ended;
} // namespace

void clock_mark()
{
    part_start_time = clock_now();
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
    if (show_ended)
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
    std::srand(seed);
}

int32_t random_below(int32_t n)
{
    return random_scale(std::rand(), n);
}

uint32_t random_seed_value(int hour, int minute, int second)
{
    return (uint32_t)((minute + 1) * second * (hour + 1));
}
