// The real clock's frame pacing: it sleeps the whole 10 ms steps, spins the rest, never returns early.
#include <gtest/gtest.h>

#include <time.h>

#include "core/clock.h"

namespace {

double cpu_ms()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

TEST(SystemClock, WaitIsExactAndMostlySleeps)
{
    // Measured with tolerances: a loaded machine may sleep longer, never shorter.
    for (int32_t already : {0, 15, 55, 60, 75}) {
        int32_t start = clock_now();
        while (clock_now() - start < already) {
        }
        double cpu_before = cpu_ms();
        int32_t before = clock_now();
        EXPECT_EQ(clock_wait(start, 60), 0);
        int32_t after = clock_now();
        double cpu = cpu_ms() - cpu_before;
        EXPECT_GE(after - start, 60) << "waited from " << already;
        if (already >= 60) {
            EXPECT_LE(after - before, 1) << "a late frame must not sleep";
        } else {
            EXPECT_LE(after - start, 60 + 25) << "waited from " << already;
            // Only the part below one 10 ms step is spun.
            EXPECT_LT(cpu, 12.0) << "waited from " << already;
        }
    }
}

TEST(SystemClock, ElapsedFollowsMark)
{
    clock_mark();
    timespec ts{0, 30 * 1000000L};
    nanosleep(&ts, nullptr);
    int32_t e = clock_elapsed();
    EXPECT_GE(e, 30);
    EXPECT_LT(e, 200);
}

} // namespace
