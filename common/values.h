// Small helpers on single values that every folder needs: 32-bit clamping and the ASCII
// character tests the file formats use (never the locale's).
#pragma once
#include <algorithm>
#include <cstdint>

#include "platform/ascii.h"

namespace tv {

// The value within the 32-bit signed range.
inline std::int32_t clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}
// The value within [lo, hi] (a `hi` below `lo` counts as `lo`); the bounds lie within 32 bits.
inline std::int32_t clamp32(std::int64_t v, std::int64_t lo, std::int64_t hi) {
    return static_cast<std::int32_t>(std::clamp(v, lo, std::max(lo, hi)));
}

using platform::ascii_lower;
using platform::is_alnum;
using platform::is_alpha;
using platform::ascii_upper;
using platform::is_digit;

}  // namespace tv
