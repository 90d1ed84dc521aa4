#pragma once

#include <cmath>
#include <cstdint>

namespace controls {

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4), as the
// framework's Round did. Values beyond the 64-bit range are clamped.
inline int64_t roundHalfEven(double value)
{
    if (!(value == value))
        return 0;
    if (value >= 9.2e18)
        return INT64_MAX;
    if (value <= -9.2e18)
        return INT64_MIN;
    const double whole = std::floor(value);
    const double fraction = value - whole;
    auto result = int64_t(whole);
    if (fraction > 0.5 || (fraction == 0.5 && (result & 1) != 0))
        ++result;
    return result;
}

} // namespace controls
