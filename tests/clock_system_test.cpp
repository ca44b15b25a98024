// The real clock's frame pacing: it sleeps the whole 10 ms steps, spins the rest, never returns early.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>

#include "core/clock.h"

namespace {

double cpu_ms()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Wait {
    int32_t total;   // ms from the frame start to the return
    int32_t waited;  // ms spent inside clock_wait
    double cpu;      // CPU ms spent inside clock_wait
};

// One frame that already took `already` ms, then a wait for a 60 ms period.
Wait wait_after(int32_t already)
{
    int32_t start = clock_now();
    while (clock_now() - start < already) {
    }
    double cpu_before = cpu_ms();
    int32_t before = clock_now();
    EXPECT_EQ(clock_wait(start, 60), 0);
    int32_t after = clock_now();
    return {after - start, after - before, cpu_ms() - cpu_before};
}

TEST(SystemClock, WaitIsExactAndMostlySleeps)
{
    // Never early, on every try. How long it overshoots and how much it spins depend on
    // the machine's load, so those are judged on the best of a few tries.
    for (int32_t already : {0, 15, 55, 60, 75}) {
        Wait best{1 << 30, 1 << 30, 1e9};
        for (int attempt = 0; attempt < 5; ++attempt) {
            Wait w = wait_after(already);
            EXPECT_GE(w.total, 60) << "waited from " << already;
            best.total = std::min(best.total, w.total);
            best.waited = std::min(best.waited, w.waited);
            best.cpu = std::min(best.cpu, w.cpu);
        }
        if (already >= 60) {
            EXPECT_LE(best.waited, 1) << "a late frame must not sleep";
        } else {
            EXPECT_LE(best.total, 60 + 5) << "waited from " << already;
            // Only the part below one 10 ms step is spun.
            EXPECT_LT(best.cpu, 12.0) << "waited from " << already;
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
    EXPECT_LT(e, 500);
}

} // namespace
