// The browser build's arithmetic gives the native results: the shared generator is the
// native C library's rand sequence, its CRC-32 is zlib's, and the products that use long double come out
// alike with 80 bits (x86) and with 128 bits (IEEE quadruple, long double in WebAssembly).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/clock.h"
#include "core/rand_glibc.h"
#include "display/frame_index.h"

namespace {

static_assert(sizeof(long double) > sizeof(double), "the native side computes with x87's 80 bits");
using Quad = __float128; // WebAssembly's long double: IEEE binary128, rounded alike

TEST(BrowserArithmetic, RandGivesTheNativeSequence)
{
    // Seed 0 (counted as 1), the virtual clock's seed, and seeds with the top bit set,
    // which go into the table as negative words.
    std::vector<uint32_t> seeds = {0, 1, 2, 25480, 127773, 2147483647u, 2147483648u, 4294967295u};
    uint32_t x = 12345;
    for (int i = 0; i < 24; ++i)
        seeds.push_back(x = x * 1103515245u + 12345u);
    for (const uint32_t seed : seeds) {
        std::srand(seed);
        RandGlibc generator;
        rand_glibc_seed(generator, seed);
        const int count = seed == 25480 ? 1000000 : 2000;
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(rand_glibc_next(generator), std::rand()) << "seed " << seed << ", number " << i;
    }
}

TEST(BrowserArithmetic, FrameCrcIsZlibs)
{
    std::vector<uint8_t> bytes(76800 + 3);
    uint32_t x = 1;
    for (uint8_t& b : bytes)
        b = (uint8_t)((x = x * 1664525u + 1013904223u) >> 24);
    for (const size_t size : {size_t(0), size_t(1), size_t(7), size_t(768), bytes.size()})
        EXPECT_EQ(frame_crc(bytes.data(), size), (uint32_t)crc32(crc32(0L, Z_NULL, 0), bytes.data(), (uInt)size))
            << size << " bytes";
}

// random_scale's product, r * n * C truncated, in binary128.
int32_t scale_quad(int32_t r, int32_t n)
{
    constexpr uint64_t kBits = 0x3DFFFFFFFFC00000ull;
    double c;
    std::memcpy(&c, &kBits, sizeof c);
    return (int32_t)((Quad)((int64_t)r * (int64_t)n) * (Quad)c);
}

// The least r whose exact product r * n * (2^31 - 1) / 2^62 reaches k: ceil(k * 2^62 / M)
// with M = n * (2^31 - 1), in 64-bit pieces (k < 2^11, M < 2^42).
int64_t first_reaching(int64_t k, int64_t n)
{
    const uint64_t m = (uint64_t)n * 2147483647u;
    const uint64_t q = (1ull << 62) / m;
    const uint64_t rest = (1ull << 62) % m;
    const uint64_t whole = (uint64_t)k * q + (uint64_t)k * rest / m;
    return (int64_t)whole + ((uint64_t)k * rest % m != 0 ? 1 : 0);
}

TEST(BrowserArithmetic, RandomScaleIsTheExactFloorInBothFormats)
{
    // Both formats round monotonically, so each is a step function of r; if every step
    // sits where the exact floor steps (k - 1 just before, k at the first r reaching k),
    // they equal the exact floor for every r from 0 to RAND_MAX. Every n the show draws with
    // is at most 320.
    for (int32_t n = 1; n <= 1024; ++n) {
        ASSERT_EQ(random_scale(0, n), 0);
        ASSERT_EQ(scale_quad(0, n), 0);
        ASSERT_EQ(random_scale(RAND_MAX, n), n - 1);
        ASSERT_EQ(scale_quad(RAND_MAX, n), n - 1);
        for (int32_t k = 1; k < n; ++k) {
            const int64_t r = first_reaching(k, n);
            ASSERT_LE(r, RAND_MAX);
            ASSERT_EQ(random_scale((int32_t)r - 1, n), k - 1) << "r " << r - 1 << " n " << n;
            ASSERT_EQ(random_scale((int32_t)r, n), k) << "r " << r << " n " << n;
            ASSERT_EQ(scale_quad((int32_t)r - 1, n), k - 1) << "r " << r - 1 << " n " << n;
            ASSERT_EQ(scale_quad((int32_t)r, n), k) << "r " << r << " n " << n;
        }
    }
}

// The blobs' ramp level, k * factor * t * 0.125 truncated, in either format.
template <class Extended>
int ramp(int v, int k_offset, double factor)
{
    const int k = (v >> 2) + k_offset;
    const int t = (int)((v + 200) * 0.25);
    return (int)((Extended)k * (Extended)factor * (Extended)t * (Extended)0.125);
}

TEST(BrowserArithmetic, BlobRampsAlikeInBothFormats)
{
    // Every value the ramps are built from, with both ramps' offsets and factors.
    for (int v = 0; v <= 255; ++v) {
        EXPECT_EQ(ramp<long double>(v, 10, 1.0 / 7.0), ramp<Quad>(v, 10, 1.0 / 7.0)) << "lowered, v " << v;
        EXPECT_EQ(ramp<long double>(v, 5, 0.8), ramp<Quad>(v, 5, 0.8)) << "raised, v " << v;
    }
}

} // namespace
