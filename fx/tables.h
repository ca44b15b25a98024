// The fixed-point sine and cosine tables (1024 steps to the circle, amplitude 1023).
#pragma once

#include <cstdint>

constexpr int kTableSize = 1024;

extern int32_t sine_table[kTableSize];
extern int32_t cosine_table[kTableSize];

// Fills both tables; the entry point calls it once at start-up, before any part reads
// them. The tables are only read afterwards.
void tables_init();

// Reduces any angle in table steps to an index 0..1023: a mod 1024 for a >= 0, and
// 1023 - ((-a) mod 1024) for a < 0 (so -1 gives 1022).
inline int32_t table_index(int32_t a)
{
    return a >= 0 ? (a & 1023) : 1023 - (int32_t)((0u - (uint32_t)a) & 1023u);
}
