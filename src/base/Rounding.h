#pragma once

#include <cmath>
#include <cstdint>

// The program's one rounding rule: to the nearest whole number, halves away
// from zero (2.5 -> 3, -2.5 -> -3). std::round is exactly that, whatever the
// current floating-point rounding mode.
inline double roundHalfAway(double v)
{
    return std::round(v);
}

// roundHalfAway() as a whole number. The caller guarantees the value is finite
// and inside the int64_t range.
inline int64_t roundHalfAwayToInt(double v)
{
    return static_cast<int64_t>(std::round(v));
}
