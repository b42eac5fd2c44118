// Small helpers on single values that every folder needs: 32-bit clamping and the ASCII
// character tests the file formats use (never the locale's).
#pragma once
#include <algorithm>
#include <cstdint>

namespace tv {

// The value within the 32-bit signed range.
inline std::int32_t clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace tv
