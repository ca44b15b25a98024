// The filters as the parts run them on CPUs without SSE2, in plain integer code. Each row
// is a recurrence through the running value L; it is solved in four interleaved runs from
// guessed starts, so the CPU overlaps four chains of steps, and then repaired from the
// true left value, which gives exactly the values of the pixel-by-pixel form.
#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "fx/filters.h"

namespace {

// One pixel. The literal sum is S = ((L << LS) + C) >> SS with C the pixel's sum without
// its L term; with q = C >> LS it equals (L + q) >> K for K = SS - LS (the bits of C below
// LS can never carry into the result), so the runs work with q and the step is one add,
// one shift and the decay: less the decay, floored at 0.
template <int K>
inline int step(int L, int q, int decay)
{
    const int v = ((L + q) >> K) - decay;
    return v < 0 ? 0 : v;
}

// Four runs to a row, each but the first starting kWarm pixels before its run from a
// guess (a half or less of L is left after each step, so 8 steps leave little of a wrong
// guess). Rows narrower than kRuns * 2 * kWarm are filtered pixel by pixel, so a warm-up
// never reaches in front of the row.
constexpr int kRuns = 4;
constexpr int kWarm = 8;

// Scratch rows, grown to the widest block seen: the sums and the filtered row before it
// is copied back.
std::vector<uint16_t> sums;
std::vector<uint8_t> row_out;

void reserve_rows(int w)
{
    const size_t need = (size_t)w;
    if (sums.size() < need) {
        sums.resize(need);
        row_out.resize(need);
    }
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
    const int safe = (int)(readable - reach < w ? readable - reach : w);
    int x = 0;
    for (; x < safe; ++x) {
        int sum = 0;
        for (int t = 0; t < kTerms; ++t)
            sum += row[x + offsets[t]] << kShift[t];
        q[x] = (uint16_t)(sum >> Down);
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

// Filters one row of w pixels with the q values c into out,
// from the running value L of the pixel before it; returns the row's last value.
template <int K>
int solve_row(const uint16_t* c, int w, int decay, int L, uint8_t* out)
{
    const int m = w / kRuns;
    if (m < 2 * kWarm) {
        for (int i = 0; i < w; ++i) {
            L = step<K>(L, c[i], decay);
            out[i] = (uint8_t)L;
        }
        return L;
    }
    // The guess: q >> (K - 1), near the step's fixed point, at most a pixel value.
    int s[kRuns], guessed[kRuns];
    for (int j = 1; j < kRuns; ++j) {
        const int first = c[j * m - kWarm] >> (K - 1);
        s[j] = first > 255 ? 255 : first;
        for (int t = -kWarm; t < 0; ++t)
            s[j] = step<K>(s[j], c[j * m + t], decay);
        guessed[j] = s[j];
    }
    s[0] = L;
    const uint16_t* c1 = c + m;
    const uint16_t* c2 = c + 2 * m;
    const uint16_t* c3 = c + 3 * m;
    static_assert(kRuns == 4, "the run loop below walks four runs");
    for (int i = 0; i < m; ++i) {
        s[0] = step<K>(s[0], c[i], decay);
        s[1] = step<K>(s[1], c1[i], decay);
        s[2] = step<K>(s[2], c2[i], decay);
        s[3] = step<K>(s[3], c3[i], decay);
        out[i] = (uint8_t)s[0];
        out[i + m] = (uint8_t)s[1];
        out[i + 2 * m] = (uint8_t)s[2];
        out[i + 3 * m] = (uint8_t)s[3];
    }
    // In order, each run whose true left value differs from its guess is recomputed until
    // it meets the run's values again: from there on the same steps give the same results.
    const int end = kRuns * m;
    for (int j = 1; j < kRuns; ++j) {
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
    uint16_t* q = sums.data();
    uint8_t* out = row_out.data();
    row_sums<LS, Shifts...>(row, w, readable, offsets, q);
    L = solve_row<SS - LS>(q, w, decay, L, out);
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
