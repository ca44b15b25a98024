// The programs without an output of their own: they play through the library's drivers.
#include "sound/output.h"

MDRIVER* own_output_driver()
{
    return nullptr;
}

// With no own output the player never prepares, starts, moves or holds one.
void own_output_prepare() {}

int64_t own_output_start(int64_t, int64_t)
{
    return 0;
}

void own_output_follow(int64_t, int64_t) {}

int64_t own_output_latency()
{
    return 0;
}

void own_output_hold() {}
