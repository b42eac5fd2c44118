// ASCII character tests and case folding for the file formats and messages (never the locale's):
// bytes >= 0x80 are no letters or digits and keep their case. Here so that the platform layer shares them
// with everything above it (common/values.h hands them on).
#pragma once

namespace tv::platform {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_alpha(char c) { return is_upper(c) || is_lower(c); }
constexpr bool is_alnum(char c) { return is_digit(c) || is_alpha(c); }
constexpr char ascii_upper(char c) { return is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char ascii_lower(char c) { return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace tv::platform
