// The filters as the parts run them on CPUs with MMX but without SSE2 (the Pentium II
// class). Each row is a recurrence through the running value L; it is solved in four
// 16-bit lanes from guessed starts and then repaired from the true left value, which gives
// exactly the values of the pixel-by-pixel form.
#include <mmintrin.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "fx/filters.h"

namespace {

// One pixel. The literal sum is S = ((L << LS) + C) >> SS with C the pixel's sum without
// its L term; with q = C >> LS it equals (L + q) >> K for K = SS - LS (the bits of C below
// LS can never carry into the result), so the lanes work with q and the step is one add,
// one shift and the decay: less the decay, floored at 0.
template <int K>
inline int step(int L, int q, int decay)
{
    const int v = ((L + q) >> K) - decay;
    return v < 0 ? 0 : v;
}

// Four 16-bit lanes to a register, each lane starting kWarm pixels before its run (a half
// or less of L is left after each step, so 8 steps leave little of a wrong guess), in
// blocks of kBlock steps. The sums row has kWarm slots in front of its first pixel for
// lane 0's warm-up, and kAfter behind its last for the lanes' last block.
constexpr int kLanes = 4;
constexpr int kBlock = 4;
constexpr int kWarm = 8;
constexpr int kAfter = 8;
static_assert(kWarm % kBlock == 0 && kAfter >= kBlock, "the warm-up and the slack are whole blocks");
static_assert(kLanes == 4 && kBlock == 4, "one transpose turns a block of four lanes by four steps");

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

inline __m64 load64(const void* p)
{
    __m64 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store32(void* p, __m64 v)
{
    const int low = _mm_cvtsi64_si32(v);
    std::memcpy(p, &low, sizeof low);
}

template <int Shift>
inline void add_term(const uint8_t* p, __m64& lo, __m64& hi)
{
    const __m64 zero = _mm_setzero_si64();
    const __m64 v = load64(p);
    lo = _mm_add_pi16(lo, _mm_slli_pi16(_mm_unpacklo_pi8(v, zero), Shift));
    hi = _mm_add_pi16(hi, _mm_slli_pi16(_mm_unpackhi_pi8(v, zero), Shift));
}

template <int... Shifts, size_t... I>
inline void add_terms(const uint8_t* p, const ptrdiff_t* offsets, __m64& lo, __m64& hi, std::index_sequence<I...>)
{
    (add_term<Shifts>(p + offsets[I], lo, hi), ...);
}

// Fills q[0..w) for the row starting at row: the sum of p[x + offset] << shift over the
// terms, shifted right by Down. readable is the number of bytes of the block from row on;
// a read at or past the block's end counts as 0, so nothing outside the block is touched.
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
    for (; x + 8 <= w && x + 8 + reach <= readable; x += 8) {
        __m64 lo = _mm_setzero_si64(), hi = _mm_setzero_si64();
        add_terms<Shifts...>(row + x, offsets.data(), lo, hi, std::make_index_sequence<kTerms>());
        lo = _mm_srli_pi16(lo, Down);
        hi = _mm_srli_pi16(hi, Down);
        std::memcpy(q + x, &lo, sizeof lo);
        std::memcpy(q + x + 4, &hi, sizeof hi);
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

// Transposes a 4 x 4 block of 16-bit values held as four rows.
inline void transpose4(__m64 v[4])
{
    const __m64 t0 = _mm_unpacklo_pi16(v[0], v[1]), t1 = _mm_unpackhi_pi16(v[0], v[1]);
    const __m64 t2 = _mm_unpacklo_pi16(v[2], v[3]), t3 = _mm_unpackhi_pi16(v[2], v[3]);
    v[0] = _mm_unpacklo_pi32(t0, t2);
    v[1] = _mm_unpackhi_pi32(t0, t2);
    v[2] = _mm_unpacklo_pi32(t1, t3);
    v[3] = _mm_unpackhi_pi32(t1, t3);
}

// Stores the four lanes' results of one block (after transpose4, lane j's four values in
// v[j]) as bytes at o + j * m.
inline void store_lanes(const __m64 v[4], uint8_t* o, int m)
{
    const __m64 a = _mm_packs_pu16(v[0], v[1]), b = _mm_packs_pu16(v[2], v[3]);
    store32(o, a);
    store32(o + m, _mm_srli_si64(a, 32));
    store32(o + 2 * m, b);
    store32(o + 3 * m, _mm_srli_si64(b, 32));
}

// Filters one row of w pixels with the q values c (readable from c[-kWarm] to
// c[w + kAfter)) into out (w + kAfter bytes), from the running value L of the pixel before
// it; returns the row's last value.
//
// The row is cut into 4 runs of m pixels, one to a lane. Lane j starts kWarm pixels
// before its run from a guess and walks its warm-up and its run in step with the other
// lanes; lane 0 is given the true L at the end of its warm-up. Every step maps L to S
// monotonically and pulls values together, so after the warm-up a lane almost always holds
// the true value. Then, in order, each run whose true left value differs from its lane's
// guess is recomputed until it meets the lane's values again: from there on the same steps
// from the same value give the same results, so the row comes out exactly as pixel by pixel.
template <int K, bool DECAY>
int solve_row(const uint16_t* c, int w, int decay, int L, uint8_t* out)
{
    const int m = w / kLanes;
    if (m < kWarm) {
        // Too narrow for the lanes: a lane's warm-up would reach in front of the row.
        for (int i = 0; i < w; ++i) {
            L = step<K>(L, c[i], decay);
            out[i] = (uint8_t)L;
        }
        return L;
    }

    // Steps per lane, in whole blocks. A lane's last block may run past its run into the
    // next lane's first output block; that block is stored once more at the end.
    const int steps = (kWarm + m + kBlock - 1) & ~(kBlock - 1);
    const __m64 dv = _mm_set1_pi16((short)decay);
    const __m64 pixel_max = _mm_set1_pi16(255);
    const __m64 all_but_lane0 = _mm_set_pi32(-1, (int)0xFFFF0000u);
    __m64 state = _mm_setzero_si64(), guess = _mm_setzero_si64(), first_block[4] = {};
    for (int tb = 0; tb < steps; tb += kBlock) {
        const uint16_t* base = c - kWarm + tb;
        __m64 v[4];
        for (int j = 0; j < 4; ++j)
            v[j] = load64(base + (ptrdiff_t)j * m);
        transpose4(v);
        // The guess: q >> (K - 1), near the step's fixed point, at most 255 so that every
        // lane value stays a pixel value (a - max(a - 255, 0) is min(a, 255)).
        if (tb == 0) {
            const __m64 g = _mm_srli_pi16(v[0], K - 1);
            state = _mm_sub_pi16(g, _mm_subs_pu16(g, pixel_max));
        }
        for (int t = 0; t < kBlock; ++t) {
            state = _mm_srli_pi16(_mm_add_pi16(state, v[t]), K);
            if (DECAY)
                state = _mm_subs_pu16(state, dv);
            v[t] = state;
        }
        if (tb + kBlock == kWarm) {
            guess = state;
            state = _mm_or_si64(_mm_and_si64(state, all_but_lane0), _mm_cvtsi32_si64(L));
        }
        if (tb >= kWarm) {
            transpose4(v);
            store_lanes(v, out + tb - kWarm, m);
            if (tb == kWarm)
                for (int j = 0; j < 4; ++j)
                    first_block[j] = v[j];
        }
    }
    if (steps - kWarm > kBlock)
        store_lanes(first_block, out, m);

    uint16_t guessed[kLanes];
    std::memcpy(guessed, &guess, sizeof guessed);
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

// Both filters leave the MMX registers empty on return: they are the x87 registers, and
// the parts' float maths run right after.
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
    _mm_empty();
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
    _mm_empty();
}
