// Float to int conversion as the motion code needs it.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Toward zero like a plain conversion, but defined for every float: out of range saturates and
// NaN gives 0 (a plain cast of either is undefined behaviour).
inline std::int32_t TruncateToInt32(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (value < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}
