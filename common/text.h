// Text, line-checksum and date helpers. Text is Windows-1252 bytes; character tests are
// ASCII-only (bytes >= 0x80 are never white space, never letters).
#pragma once
#include <cstdarg>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"

namespace tv {

// ASCII character tests, safe for any byte.
bool is_space_char(char c);  // " \t\n\v\f\r"

void trim_trailing_chars(char* text, const char* set);
void trim_trailing_chars(std::string& text, std::string_view set);
void make_upper_in_place(char* text);
void make_upper_in_place(std::string& text);
std::string to_upper_copy(std::string text);
std::string to_lower_copy(std::string text);
bool is_blank(const char* text);
bool is_blank(std::string_view text);

// User locale's date order: 0 month-day-year, 1 day-month-year, 2 year-month-day.
int get_locale_date_order();
char get_locale_date_separator();
bool is_date_separator(char c);
// The same answers for a strftime date format such as "%d.%m.%Y" (the locale's D_FMT).
int date_order_from_format(std::string_view date_format);
char date_separator_from_format(std::string_view date_format);

// Reads the next non-blank line of `stream` (trailing " \n\r\t" trimmed, leading kept) into
// `line`, folding it into `*checksum` when given. The whole physical line is read whatever its
// length. False at end of file (line then empty).
bool read_nonblank_line(std::FILE* stream, std::string& line, std::uint32_t* checksum = nullptr);
// Buffer form for callers with fixed fields: keeps the first size-1 bytes of the physical line
// and discards the rest of it (the checksum covers what is returned).
bool read_nonblank_line(std::FILE* stream, char* buffer, std::size_t size, std::uint32_t* checksum = nullptr);
// Folds one line into a running checksum (XOR of little-endian words, tail zero-padded).
void fold_line_checksum(std::string_view line, std::uint32_t& checksum);
// Reads one physical line of any length without its line end (LF or CR LF); blank lines too.
// False at end of file with nothing read.
bool read_text_line(std::FILE* stream, std::string& line);
// Reads a number at a fixed position of a text: blanks may pad it on the left within the field,
// then at least one digit must follow; digits are read up to the field's width.
bool read_fixed_number(std::string_view text, std::size_t pos, std::size_t width, int& value);

// A decimal integer at the front of `text` as the index readers take it: white space " \t\n\v\f\r", an optional
// sign, digits; the first other character ends it. Digits beyond [min, max] clamp the value to the bound passed.
struct ParsedInteger {
    std::int64_t value = 0;  // 0 without digits
    std::size_t end = 0;     // offset after the last digit; 0 without digits
    bool has_digits = false;
    bool in_range = false;  // digits read, and the number lies within [min, max]
    bool ok() const { return in_range; }
    // Nothing but the number (and the white space before it) stands in a text of `size` characters.
    bool whole(std::size_t size) const { return in_range && end == size; }
};
ParsedInteger parse_integer(std::string_view text, std::int64_t min = INT32_MIN, std::int64_t max = INT32_MAX);

// The line splitters (CR LF and LF) live in platform/codepage.h, which the hives read with too.
using platform::split_lines;
using platform::take_line;

// printf-style formatting; the result is cut at 2047 characters.
std::string format_string(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vformat_string(const char* format, std::va_list args);

// How the bytes of a text given to escape_control_chars are read.
enum class TextBytes {
    FileName,     // a name as the file system has it: UTF-8, or bytes that are not
    Windows1252,  // an index or profile text
};

// `text` with each control character written as "\xHH" (each of its bytes so), for a name from
// outside that goes into a log line, a question or a header, where a CR or LF would start a line
// the program did not write and a direction control would make it read otherwise. Always C0
// controls and DEL; for a file name also the C1 controls (U+0080-U+009F), the direction controls
// (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069) and every byte that is no part of valid
// UTF-8; for Windows-1252 text the five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D), which stand for C1 controls.
std::string escape_control_chars(std::string_view text, TextBytes bytes = TextBytes::FileName);

// A recorder's person name ("FAMILY^GIVEN^MIDDLE^PREFIX^SUFFIX") as a person reads it: "Family,
// Prefix Given Middle Suffix", a part in capitals only with its words capitalised. Text without '^'
// is returned as it is.
std::string person_name_text(std::string_view stored);

// Appends the tokens of a Windows-style command line (double quotes only, no escapes; the
// program's operands and parameter files): blanks separate tokens (a TAB does not end one);
// "..." is one token without its quotes; "" gives an empty token. No length limit.
void split_windows_command_line(std::string_view text, std::vector<std::string>& tokens);

std::string get_user_name();

// Decimal text grouped as the user's locale groups digits, no decimal places.
std::string format_thousands(std::int32_t value);
std::string format_thousands_64(std::int64_t value);
// Groups a run of decimal digits: `grouping` as in localeconv (sizes from the right, the last
// repeating, CHAR_MAX or an empty text ending the grouping); `separator` goes between groups.
std::string group_digits(std::string_view digits, std::string_view separator, std::string_view grouping);

}  // namespace tv
