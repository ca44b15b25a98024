// Rounding a floating-point step to its own type, also where the CPU computes in more bits.
#pragma once

#include <cfloat>

// With x87 maths (32-bit x86 without SSE2) every result stays in an 80-bit register until it
// is stored, and a value rounded later, or twice, can differ from the same step rounded at
// once. The parts' and effects' float steps whose results become positions, levels or map
// entries go through these: called on each step's result, they store it to memory when the
// compiler evaluates in more bits (FLT_EVAL_METHOD above 0), and are the identity
// elsewhere. They own nothing.
template <typename T>
inline T rounded(T v)
{
    if constexpr (FLT_EVAL_METHOD == 0) {
        return v;
    } else {
        volatile T stored = v;
        return stored;
    }
}

inline float rounded_float(float v)
{
    return rounded(v);
}
inline double rounded_double(double v)
{
    return rounded(v);
}
