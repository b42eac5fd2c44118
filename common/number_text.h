// Numbers as the files write and read them (the TIMI files, the grid's cells): always with '.' as the
// decimal point, whatever the user's locale.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tv {

// "%.<decimals>f", right-aligned in `width` characters as "%<width>.<decimals>f" pads.
std::string format_fixed(double value, int decimals, int width = 0);
// "%<width>d".
std::string format_int(std::int64_t value, int width = 0);

// The decimal number at the start of `text` (after blanks), 0 when there is none (as atof does).
double leading_number(std::string_view text);
// The integer at the start of `text` (after blanks), 0 when there is none; clamped to int32.
std::int32_t leading_int(std::string_view text);
// parse_integer's read (common/text.h) for the fields whose readers keep only a number's low bits:
// the value is the number modulo 2^64 (a '-' negates it so), never clamped; `in_range` whenever
// digits were read. The caller masks what it keeps.
struct ParsedInteger;
ParsedInteger parse_integer_wrapping(std::string_view text);

// `text` with blanks (and tabs) removed from both ends.
std::string_view trim_blanks(std::string_view text);

// Whole-field conversions: the entire text (blanks around it allowed) must be the number.
bool parse_int_field(std::string_view text, std::int32_t& value);
bool parse_double_field(std::string_view text, double& value);  // finite values only

}  // namespace tv
