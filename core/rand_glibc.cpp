// The additive feedback generator behind the native C library's rand.
#include "core/rand_glibc.h"

namespace {
constexpr int kWords = 31;
constexpr int kSeparation = 3;
constexpr int kDiscarded = 10 * kWords;
static_assert(sizeof(RandGlibc::table) / sizeof(RandGlibc::table[0]) == kWords);
} // namespace

void rand_glibc_seed(RandGlibc& generator, uint32_t seed)
{
    if (seed == 0)
        seed = 1;
    // The seed's bits go in as a signed word, as in the C library.
    int32_t word = (int32_t)seed;
    generator.table[0] = word;
    for (int i = 1; i < kWords; ++i) {
        // word = 16807 * word mod (2^31 - 1), without overflow (Schrage's method); the
        // divisions truncate toward zero, also for a negative first word.
        const int32_t hi = word / 127773;
        const int32_t lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0)
            word += 2147483647;
        generator.table[i] = word;
    }
    generator.front = kSeparation;
    generator.rear = 0;
    for (int i = 0; i < kDiscarded; ++i)
        rand_glibc_next(generator);
}

int32_t rand_glibc_next(RandGlibc& generator)
{
    const uint32_t sum = (uint32_t)generator.table[generator.front] + (uint32_t)generator.table[generator.rear];
    generator.table[generator.front] = (int32_t)sum;
    generator.front = generator.front + 1 == kWords ? 0 : generator.front + 1;
    generator.rear = generator.rear + 1 == kWords ? 0 : generator.rear + 1;
    // The lowest bit is the least random one and is dropped.
    return (int32_t)(sum >> 1);
}
