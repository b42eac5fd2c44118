// Code pages and text lines. Core text is Windows-1252 bytes; UTF-8 is met at the edges, code page 850 in
// page files written by OEM tools.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv::platform {

std::string cp1252_to_utf8(std::string_view text);
// Characters with no Windows-1252 form become `replacement`; invalid UTF-8 bytes too.
std::string utf8_to_cp1252(std::string_view text, char replacement = '?');

// Windows-1252 text order without regard to case (letters, accented letters included, fold to
// lower case; other bytes compare by value). Negative, 0 or positive.
int compare_text_nocase(std::string_view a, std::string_view b);
// OEM (code page 850) text as Windows-1252 bytes; box and block characters become the ASCII
// lines and corners they look like.
std::string oem_to_ansi(std::string_view text);

// The lines of `text` without their ends (LF or CR LF); a last piece without a line end is a line, nothing after
// the last line end is none. The views point into `text`.
std::vector<std::string_view> split_lines(std::string_view text);
// Takes the first line that has an end off the front of `text` and returns it without the end (LF or CR LF);
// nothing, and `text` untouched, when no line end is left.
std::optional<std::string_view> take_line(std::string_view& text);

}  // namespace tv::platform
