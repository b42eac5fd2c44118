#include "common/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "common/text.h"
#include "platform/ascii.h"

namespace tv {

namespace {

std::string pad_left(std::string text, int width) {
    if (width > 0 && text.size() < static_cast<std::size_t>(width)) text.insert(0, width - text.size(), ' ');
    return text;
}

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string format_fixed(double value, int decimals, int width) {
    if (std::isnan(value)) return pad_left("nan", width);
    if (std::isinf(value)) return pad_left(value < 0 ? "-inf" : "inf", width);
    char buffer[400];  // the longest finite double in fixed form with 15 decimals fits
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return pad_left("0", width);
    return pad_left(std::string(buffer, r.ptr), width);
}

std::string format_int(std::int64_t value, int width) { return pad_left(std::to_string(value), width); }

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank_char(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank_char(text.back())) text.remove_suffix(1);
    return text;
}

double leading_number(std::string_view text) {
    while (!text.empty() && is_blank_char(text.front())) text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0.0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (r.ec != std::errc() || !std::isfinite(value)) return 0.0;
    return value;
}

std::int32_t leading_int(std::string_view text) { return static_cast<std::int32_t>(parse_integer(text).value); }

ParsedInteger parse_integer_wrapping(std::string_view text) {
    ParsedInteger out;
    std::size_t i = 0;
    while (i < text.size() && is_space_char(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t digits_start = i;
    std::uint64_t magnitude = 0;  // unsigned arithmetic wraps modulo 2^64
    for (; i < text.size() && platform::is_digit(text[i]); ++i)
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    if (i == digits_start) return out;
    out.has_digits = out.in_range = true;
    out.end = i;
    out.value = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
    return out;
}

bool parse_int_field(std::string_view text, std::int32_t& value) {
    text = trim_blanks(text);
    const ParsedInteger n = parse_integer(text);
    if (!n.whole(text.size())) return false;
    value = static_cast<std::int32_t>(n.value);
    return true;
}

bool parse_double_field(std::string_view text, double& value) {
    text = trim_blanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    // Only plain decimal notation: no "nan", "inf" or hexadecimal forms.
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+')) return false;
    }
    double v = 0.0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

}  // namespace tv
