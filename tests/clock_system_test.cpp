// The real clock's frame pacing: it sleeps the whole 10 ms steps, spins the rest (or, in
// the sleeping clock, only sleeps), never returns early, and a step of the time of day
// under it changes nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <atomic>

#include "core/clock.h"

// The time of day as the program reads it, moved by the test as a time server's correction
// would move it: these take the C library's place for the whole test program.
static std::atomic<long long> g_step_us{0};

extern "C" int clock_gettime(clockid_t id, timespec* t) noexcept
{
    static auto real = (int (*)(clockid_t, timespec*))dlsym(RTLD_NEXT, "clock_gettime");
    const int r = real(id, t);
    if (r == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE || id == CLOCK_TAI)) {
        const long long ns = (long long)t->tv_sec * 1000000000LL + t->tv_nsec + g_step_us * 1000LL;
        t->tv_sec = (time_t)(ns / 1000000000LL);
        t->tv_nsec = (long)(ns % 1000000000LL);
    }
    return r;
}

extern "C" int gettimeofday(timeval* __restrict tv, void* __restrict) noexcept
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    tv->tv_sec = t.tv_sec;
    tv->tv_usec = t.tv_nsec / 1000;
    return 0;
}

namespace {

#ifdef TARQLE_WAIT_CPU_MS
constexpr double kMostWaitCpuMs = TARQLE_WAIT_CPU_MS;
#else
constexpr double kMostWaitCpuMs = 12.0;
#endif

double monotonic_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double cpu_ms()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Wait {
    int32_t total;  // ms from the frame start to the return
    int32_t waited; // ms spent inside clock_wait
    double cpu;     // CPU ms spent inside clock_wait
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
            // Only the part below one 10 ms step is spun, or nothing.
            EXPECT_LT(best.cpu, kMostWaitCpuMs) << "waited from " << already;
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

TEST(SystemClock, StepsOfTheTimeOfDayDoNotPace)
{
    // Back 3 s and forward an hour, in the middle of a frame.
    for (long long step_ms : {-3000LL, 3600 * 1000LL}) {
        g_step_us = 0;
        clock_mark();
        const int32_t start = clock_now();
        const double before = monotonic_ms();
        g_step_us = step_ms * 1000;
        clock_wait(start, 60);
        const double waited = monotonic_ms() - before;
        const int32_t elapsed = clock_elapsed();
        g_step_us = 0;
        EXPECT_GE(waited, 59) << "step " << step_ms << " ms";
        EXPECT_LT(waited, 1000) << "step " << step_ms << " ms";
        EXPECT_GE(elapsed, 60) << "step " << step_ms << " ms";
        EXPECT_LT(elapsed, 1000) << "step " << step_ms << " ms";
    }
}

} // namespace
