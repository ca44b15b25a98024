// The sine and cosine tables: 1024 steps to the circle, amplitude 1023, cut toward zero.
#include "fx/tables.h"

#include <cmath>

#include "core/rounding.h"

int32_t sine_table[kTableSize];
int32_t cosine_table[kTableSize];

void tables_init()
{
    // The step is the double nearest 2*pi/1024; 256 steps of it give exactly the double
    // nearest pi/2, whose sine is exactly 1.0, so the quarter points come out whole.
    constexpr double kStep = 0.006135923151542565;
    for (int i = 0; i < kTableSize; ++i) {
        const double angle = rounded_double(i * kStep);
        cosine_table[i] = (int32_t)rounded_double(1023.0 * rounded_double(std::cos(angle)));
        sine_table[i] = (int32_t)rounded_double(1023.0 * rounded_double(std::sin(angle)));
    }
}
