// The filters as the parts run them. Each row is a recurrence through the running value
// L; it is solved in eight vector lanes from guessed starts and then repaired from the
// true left value, which gives exactly the values of the pixel-by-pixel form.
#include "fx/filters.h"

#include <emmintrin.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// One pixel. The literal sum is S = ((L << LS) + C) >> SS with C the pixel's sum
// without its L term; with q = C >> LS it equals (L + q) >> K for K = SS - LS (the bits of
// C below LS can never carry into the result), so the rows work with q and the step is one
// add, one shift and the decay: less the decay, floored at 0. With decay 0 the floor never
// acts, so one form serves both.
template <int K>
inline int step(int L, int q, int decay)
{
    const int v = ((L + q) >> K) - decay;
    return v < 0 ? 0 : v;
}

// Eight 16-bit lanes to a register, each lane starting kWarm pixels before its run (a
// half or less of L is left after each step, so 8 steps leave little of a wrong guess).
// The sums row has kWarm slots in front of its first pixel for lane 0's warm-up, and
// kAfter behind its last for the lanes' last block.
constexpr int kLanes = 8;
constexpr int kWarm = 8;
constexpr int kAfter = 16;
static_assert(kWarm > 0 && kWarm % 8 == 0, "the warm-up is whole blocks of 8 steps");

// Scratch rows, grown to the widest block seen: the sums and the filtered row before it
// is copied back.
std::vector<uint16_t> sums;
std::vector<uint8_t> row_out;

void reserve_rows(int w)
{
    const size_t need = (size_t)w + kWarm + kAfter;
    if (sums.size() < need) {
        sums.resize(need);
        row_out.resize(need);
    }
}

template <int Shift>
inline void add_term(const uint8_t* p, __m128i& lo, __m128i& hi)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_loadu_si128((const __m128i*)p);
    lo = _mm_add_epi16(lo, _mm_slli_epi16(_mm_unpacklo_epi8(v, zero), Shift));
    hi = _mm_add_epi16(hi, _mm_slli_epi16(_mm_unpackhi_epi8(v, zero), Shift));
}

template <int... Shifts, size_t... I>
inline void add_terms(const uint8_t* p, const ptrdiff_t* offsets, __m128i& lo, __m128i& hi, std::index_sequence<I...>)
{
    (add_term<Shifts>(p + offsets[I], lo, hi), ...);
}

// Fills q[0..w) for the row starting at row: the sum of p[x + offset] << shift over the
// terms, shifted right by Down. Everything summed is known before the row is filtered:
// the row itself and the row below are still old, the row above already new. readable is
// the number of bytes of the block from row on; a read at or past the block's end (only
// the blur's last pixel with a decay) counts as 0, so nothing outside the block is touched.
template <int Down, int... Shifts>
void row_sums(const uint8_t* row, int w, ptrdiff_t readable, const std::array<ptrdiff_t, sizeof...(Shifts)>& offsets,
              uint16_t* q)
{
    constexpr int kTerms = sizeof...(Shifts);
    constexpr int kShift[kTerms] = {Shifts...};
    ptrdiff_t reach = 0;
    for (ptrdiff_t o : offsets)
        reach = o > reach ? o : reach;
    int x = 0;
    for (; x + 16 <= w && x + 16 + reach <= readable; x += 16) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        add_terms<Shifts...>(row + x, offsets.data(), lo, hi, std::make_index_sequence<kTerms>());
        _mm_storeu_si128((__m128i*)(q + x), _mm_srli_epi16(lo, Down));
        _mm_storeu_si128((__m128i*)(q + x + 8), _mm_srli_epi16(hi, Down));
    }
    for (; x < w; ++x) {
        int sum = 0;
        for (int t = 0; t < kTerms; ++t) {
            const ptrdiff_t i = x + offsets[t];
            sum += (i < readable ? row[i] : 0) << kShift[t];
        }
        q[x] = (uint16_t)(sum >> Down);
    }
}

// Transposes an 8 x 8 block of 16-bit values held as eight rows.
inline void transpose8(__m128i v[8])
{
    const __m128i b0 = _mm_unpacklo_epi16(v[0], v[1]), b1 = _mm_unpackhi_epi16(v[0], v[1]);
    const __m128i b2 = _mm_unpacklo_epi16(v[2], v[3]), b3 = _mm_unpackhi_epi16(v[2], v[3]);
    const __m128i b4 = _mm_unpacklo_epi16(v[4], v[5]), b5 = _mm_unpackhi_epi16(v[4], v[5]);
    const __m128i b6 = _mm_unpacklo_epi16(v[6], v[7]), b7 = _mm_unpackhi_epi16(v[6], v[7]);
    const __m128i c0 = _mm_unpacklo_epi32(b0, b2), c1 = _mm_unpackhi_epi32(b0, b2);
    const __m128i c2 = _mm_unpacklo_epi32(b1, b3), c3 = _mm_unpackhi_epi32(b1, b3);
    const __m128i c4 = _mm_unpacklo_epi32(b4, b6), c5 = _mm_unpackhi_epi32(b4, b6);
    const __m128i c6 = _mm_unpacklo_epi32(b5, b7), c7 = _mm_unpackhi_epi32(b5, b7);
    v[0] = _mm_unpacklo_epi64(c0, c4);
    v[1] = _mm_unpackhi_epi64(c0, c4);
    v[2] = _mm_unpacklo_epi64(c1, c5);
    v[3] = _mm_unpackhi_epi64(c1, c5);
    v[4] = _mm_unpacklo_epi64(c2, c6);
    v[5] = _mm_unpackhi_epi64(c2, c6);
    v[6] = _mm_unpacklo_epi64(c3, c7);
    v[7] = _mm_unpackhi_epi64(c3, c7);
}

// Packs the eight lanes' results of one block (after transpose8, lane j's eight values in
// v[j]) to bytes, two lanes to a register.
inline void pack_lanes(const __m128i v[8], __m128i bytes[4])
{
#pragma GCC unroll 8
    for (int j = 0; j < 4; ++j)
        bytes[j] = _mm_packus_epi16(v[2 * j], v[2 * j + 1]);
}

inline void store_lanes(const __m128i bytes[4], uint8_t* o, int m)
{
#pragma GCC unroll 8
    for (int j = 0; j < 4; ++j, o += 2 * m) {
        _mm_storel_epi64((__m128i*)o, bytes[j]);
        _mm_storel_epi64((__m128i*)(o + m), _mm_srli_si128(bytes[j], 8));
    }
}

// Filters one row of w pixels with the q values c (readable from c[-kWarm] to
// c[w + kAfter)) into out (w + kAfter bytes), from the running value L of the pixel before
// it; returns the row's last value.
//
// The row is cut into 8 runs of m pixels, one to a 16-bit lane. Lane j starts kWarm
// pixels before its run from a guess and walks its warm-up and its run in step with the
// other lanes; lane 0 is given the true L at the end of its warm-up. Every step maps L to S
// monotonically and pulls values together (L weighs a half or less), so after the warm-up
// a lane almost always holds the true value. Then, in order, each run whose true left
// value differs from its lane's guess is recomputed until it meets the lane's values
// again: from there on the same steps from the same value give the same results, so the
// row comes out exactly as pixel by pixel. Cost: (kWarm + m) / m vector steps per pixel,
// two 8 x 8 transposes per 64 pixels, and a few scalar steps where a guess was wrong.
template <int K, bool DECAY>
int solve_row(const uint16_t* c, int w, int decay, int L, uint8_t* out)
{
    const int m = w / kLanes;
    if (m < 8) {
        // Too narrow for the lanes: a lane's last block would reach past the next run's
        // first block.
        for (int i = 0; i < w; ++i) {
            L = step<K>(L, c[i], decay);
            out[i] = (uint8_t)L;
        }
        return L;
    }

    // Steps per lane, in whole blocks of 8. A lane's last block may run past its run into
    // the next lane's first output block; that block is stored once more at the end.
    const int steps = (kWarm + m + 7) & ~7;
    // For K = 1 (the streak) the lanes hold S + bias with bias = 2 * decay + 1: then one
    // rounding average (a + b + 1) >> 1 of the lane and q is the next S + bias, and the
    // floor at 0 is a floor at bias; two operations per step, one without a decay.
    const int bias = K == 1 ? 2 * decay + 1 : 0;
    const __m128i bv = _mm_set1_epi16((int16_t)bias);
    const __m128i dv = _mm_set1_epi16((int16_t)decay);
    __m128i state = _mm_setzero_si128(), guess = _mm_setzero_si128(), first_block[4] = {};
    for (int tb = 0; tb < steps; tb += 8) {
        const uint16_t* base = c - kWarm + tb;
        __m128i v[8];
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j)
            v[j] = _mm_loadu_si128((const __m128i*)(base + (ptrdiff_t)j * m));
        transpose8(v);
        // The guess: q >> (K - 1), near the step's fixed point (q, q / 3 and q / 7 for K =
        // 1, 2 and 3; the blur's steps forget a wrong start fastest), at most 255 so that
        // every lane value stays a pixel value.
        if (tb == 0)
            state = _mm_add_epi16(_mm_min_epi16(_mm_srli_epi16(v[0], K - 1), _mm_set1_epi16(255)), bv);
#pragma GCC unroll 8
        for (int t = 0; t < 8; ++t) {
            if constexpr (K == 1) {
                state = _mm_avg_epu16(state, v[t]);
                if (DECAY)
                    state = _mm_max_epi16(state, bv);
            } else {
                state = _mm_srli_epi16(_mm_add_epi16(state, v[t]), K);
                if (DECAY)
                    state = _mm_subs_epu16(state, dv);
            }
            v[t] = state;
        }
        if (tb + 8 == kWarm) {
            guess = _mm_sub_epi16(state, bv);
            state = _mm_insert_epi16(state, L + bias, 0);
        }
        if (tb >= kWarm) {
            if constexpr (K == 1) {
#pragma GCC unroll 8
                for (int t = 0; t < 8; ++t)
                    v[t] = _mm_sub_epi16(v[t], bv);
            }
            transpose8(v);
            __m128i bytes[4];
            pack_lanes(v, bytes);
            store_lanes(bytes, out + tb - kWarm, m);
            if (tb == kWarm) {
#pragma GCC unroll 8
                for (int j = 0; j < 4; ++j)
                    first_block[j] = bytes[j];
            }
        }
    }
    if (steps - kWarm > 8)
        store_lanes(first_block, out, m);

    alignas(16) uint16_t guessed[kLanes];
    _mm_store_si128((__m128i*)guessed, guess);
    const int end = kLanes * m;
    for (int j = 1; j < kLanes; ++j) {
        int i = j * m;
        int v = out[i - 1];
        if (v == guessed[j])
            continue;
        for (; i < end; ++i) {
            v = step<K>(v, c[i], decay);
            if (v == out[i])
                break;
            out[i] = (uint8_t)v;
        }
    }
    L = out[end - 1];
    for (int i = end; i < w; ++i) {
        L = step<K>(L, c[i], decay);
        out[i] = (uint8_t)L;
    }
    return L;
}

// One row whose literal sum is ((L << LS) + C) >> SS, C being the sum of the terms
// p[x + offset] << shift; filtered through the row scratch and copied back. Returns the
// row's last value, the L of the next row's first pixel.
template <int LS, int SS, int... Shifts>
int filter_row(uint8_t* row, int w, ptrdiff_t readable, const std::array<ptrdiff_t, sizeof...(Shifts)>& offsets,
               int decay, int L)
{
    uint16_t* q = sums.data() + kWarm;
    uint8_t* out = row_out.data();
    row_sums<LS, Shifts...>(row, w, readable, offsets, q);
    if (decay != 0)
        L = solve_row<SS - LS, true>(q, w, decay, L, out);
    else
        L = solve_row<SS - LS, false>(q, w, decay, L, out);
    std::memcpy(row, out, (size_t)w);
    return L;
}

} // namespace

void filter_blur(uint8_t* pixels, int width, int height, uint8_t decay)
{
    if (width < 1 || height < 2)
        return;
    reserve_rows(width);
    const ptrdiff_t w = width, n = w * height;
    int L = pixels[0];
    for (int r = 0; r < height; ++r) {
        uint8_t* row = pixels + r * w;
        const ptrdiff_t readable = n - r * w;
        if (r == 0)
            L = filter_row<0, 3, 2, 0, 1>(row, width, readable, {0, 1, w}, decay, L);
        else if (r < height - 1)
            L = filter_row<0, 3, 2, 0, 0, 0>(row, width, readable, {0, 1, w, -w}, decay, L);
        else if (decay != 0)
            L = filter_row<0, 3, 2, 0, 1>(row, width, readable, {0, 1, -w}, decay, L);
        else // without a decay the last row leaves the right neighbour out and counts L twice
            L = filter_row<1, 3, 2, 1>(row, width, readable, {0, -w}, decay, L);
    }
}

void filter_streak(uint8_t* pixels, int width, int height, uint8_t decay, uint8_t shift)
{
    if (width < 1 || height < 2 || shift > width)
        return;
    reserve_rows(width);
    const ptrdiff_t w = width, n = w * height, s = shift;
    int L = pixels[0];
    for (int r = 0; r < height; ++r) {
        uint8_t* row = pixels + r * w;
        const ptrdiff_t readable = n - r * w;
        if (r == 0)
            L = filter_row<2, 3, 0, 0, 1>(row, width, readable, {0, s, w - s}, decay, L);
        else if (r < height - 1)
            L = filter_row<2, 3, 0, 0, 0, 0>(row, width, readable, {0, s, w - s, -w}, decay, L);
        else
            L = filter_row<1, 2, 0, 0>(row, width, readable, {0, -w}, decay, L);
    }
}
