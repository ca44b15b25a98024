// The two filters written literally, one pixel at a time in storage order: the
// reference the fast forms are checked and measured against.
#include "fx/filters.h"

namespace {

inline uint8_t decayed(int s, int decay)
{
    if (decay == 0)
        return (uint8_t)s;
    const int v = s - decay;
    return (uint8_t)(v < 0 ? 0 : v);
}

} // namespace

void filter_blur_reference(uint8_t* p, int width, int height, uint8_t decay)
{
    if (width < 1 || height < 2)
        return;
    const int w = width, n = width * height;
    int L = p[0];
    for (int k = 0; k < n; ++k) {
        const int P = p[k];
        int s;
        if (k < w)
            s = (L + 4 * P + p[k + 1] + 2 * p[k + w]) >> 3;
        else if (k < n - w)
            s = (L + 4 * P + p[k + 1] + p[k + w] + p[k - w]) >> 3;
        else if (decay != 0)
            s = (L + 4 * P + (k + 1 < n ? p[k + 1] : 0) + 2 * p[k - w]) >> 3;
        else
            s = (2 * L + 4 * P + 2 * p[k - w]) >> 3;
        p[k] = decayed(s, decay);
        L = p[k];
    }
}

void filter_streak_reference(uint8_t* p, int width, int height, uint8_t decay, uint8_t shift)
{
    if (width < 1 || height < 2 || shift > width)
        return;
    const int w = width, n = width * height, s = shift;
    int L = p[0];
    for (int k = 0; k < n; ++k) {
        const int P = p[k];
        int sum;
        if (k < w)
            sum = (P + 4 * L + p[k + s] + 2 * p[k + w - s]) >> 3;
        else if (k < n - w)
            sum = (P + 4 * L + p[k + s] + p[k + w - s] + p[k - w]) >> 3;
        else
            sum = (P + 2 * L + p[k - w]) >> 2;
        p[k] = decayed(sum, decay);
        L = p[k];
    }
}
