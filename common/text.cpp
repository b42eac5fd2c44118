#include "common/text.h"

#include <langinfo.h>
#include <locale.h>
#if defined(__GLIBC__)
#endif

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/bytes.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "common/values.h"

namespace tv {

namespace {

constexpr std::size_t kFormatBuffer = 2048;

bool is_line_trim(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// A locale object built from the environment (LC_* / LANG) for one category, never touching
// the process's global locale. Falls back to "C" when the environment names no usable locale.
class EnvLocale {
public:
    EnvLocale(int mask) {
        loc_ = newlocale(mask, "", static_cast<locale_t>(0));
        if (loc_ == static_cast<locale_t>(0)) loc_ = newlocale(mask, "C", static_cast<locale_t>(0));
    }
    ~EnvLocale() {
        if (loc_ != static_cast<locale_t>(0)) freelocale(loc_);
    }
    EnvLocale(const EnvLocale&) = delete;
    EnvLocale& operator=(const EnvLocale&) = delete;
    // nl_langinfo_l answers for the item, "" when there is no locale at all.
    const char* info(nl_item item) const {
        if (loc_ == static_cast<locale_t>(0)) return "";
        const char* s = nl_langinfo_l(item, loc_);
        return s ? s : "";
    }

private:
    locale_t loc_ = static_cast<locale_t>(0);
};

std::string locale_date_format() {
    EnvLocale loc(LC_TIME_MASK);
    return loc.info(D_FMT);
}

// Reads one physical line (without its LF) into `line`. False at end of file with nothing read.
// getline scans the stream's buffer with memchr, which keeps index reads fast at any line length.
bool read_physical_line(std::FILE* stream, std::string& line) {
    struct Buffer {
        char* data = nullptr;
        std::size_t capacity = 0;
        ~Buffer() { std::free(data); }
    };
    thread_local Buffer buffer;
    const ssize_t n = ::getline(&buffer.data, &buffer.capacity, stream);
    if (n <= 0) {
        line.clear();
        return false;
    }
    const auto len = static_cast<std::size_t>(n);
    line.assign(buffer.data, buffer.data[len - 1] == '\n' ? len - 1 : len);
    return true;
}

}  // namespace

bool is_space_char(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void trim_trailing_chars(char* text, const char* set) {
    if (!text || !*text || !set) return;
    std::size_t n = std::strlen(text);
    while (n > 0 && std::strchr(set, text[n - 1]) != nullptr) --n;
    text[n] = '\0';
}

void trim_trailing_chars(std::string& text, std::string_view set) {
    std::size_t n = text.size();
    while (n > 0 && set.find(text[n - 1]) != std::string_view::npos) --n;
    text.resize(n);
}

void make_upper_in_place(char* text) {
    if (!text) return;
    for (; *text; ++text) *text = ascii_upper(*text);
}

void make_upper_in_place(std::string& text) {
    for (char& c : text) c = ascii_upper(c);
}

std::string to_upper_copy(std::string text) {
    make_upper_in_place(text);
    return text;
}

std::string to_lower_copy(std::string text) {
    for (char& c : text) c = ascii_lower(c);
    return text;
}

bool is_blank(const char* text) { return text ? is_blank(std::string_view(text)) : true; }

bool is_blank(std::string_view text) {
    for (char c : text)
        if (!is_space_char(c)) return false;  // bytes >= 0x80 are never white space
    return true;
}

int date_order_from_format(std::string_view fmt) {
    // The order in which day, month and year fields first appear.
    char order[3] = {};
    int found = 0;
    auto note = [&](char f) {
        for (int i = 0; i < found; ++i)
            if (order[i] == f) return;
        if (found < 3) order[found++] = f;
    };
    for (std::size_t i = 0; i + 1 < fmt.size(); ++i) {
        if (fmt[i] != '%') continue;
        std::size_t j = i + 1;
        while (j < fmt.size() && (fmt[j] == 'E' || fmt[j] == 'O' || fmt[j] == '-' || fmt[j] == '_' || fmt[j] == '0' ||
                                  fmt[j] == '^' || fmt[j] == '#'))
            ++j;
        if (j >= fmt.size()) break;
        switch (fmt[j]) {
            case 'd':
            case 'e': note('d'); break;
            case 'm':
            case 'b':
            case 'B':
            case 'h': note('m'); break;
            case 'y':
            case 'Y':
            case 'C':
            case 'G':
            case 'g': note('y'); break;
            case 'D':
                note('m');
                note('d');
                note('y');
                break;  // %m/%d/%y
            case 'F':
                note('y');
                note('m');
                note('d');
                break;  // %Y-%m-%d
            default: break;
        }
        i = j;
    }
    if (found == 0) return 0;
    if (order[0] == 'm') return 0;
    if (order[0] == 'd') return 1;
    return 2;
}

char date_separator_from_format(std::string_view fmt) {
    if (fmt.find("%D") != std::string_view::npos) return '/';
    if (fmt.find("%F") != std::string_view::npos) return '-';
    // The literal text between the first two fields; one character, else '/'.
    std::size_t i = fmt.find('%');
    if (i == std::string_view::npos) return '/';
    std::size_t j = i + 1;
    while (j < fmt.size() && !platform::is_alpha(fmt[j])) ++j;
    while (j < fmt.size() && (fmt[j] == 'E' || fmt[j] == 'O')) ++j;
    if (j >= fmt.size()) return '/';
    const std::size_t start = j + 1;
    const std::size_t next = fmt.find('%', start);
    if (next == std::string_view::npos || next - start != 1) return '/';
    const char sep = fmt[start];
    return static_cast<unsigned char>(sep) < 0x80 ? sep : '/';
}

int get_locale_date_order() { return date_order_from_format(locale_date_format()); }

char get_locale_date_separator() { return date_separator_from_format(locale_date_format()); }

bool is_date_separator(char c) {
    if (c == '\0') return false;
    if (std::string_view("=^:./-|#\\").find(c) != std::string_view::npos) return true;
    return c == get_locale_date_separator();
}

void fold_line_checksum(std::string_view line, std::uint32_t& checksum) {
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t n = line.size();
    std::uint32_t sum = checksum;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) sum ^= load_le32(p + i);
    for (unsigned k = 0; i < n; ++i, ++k) sum ^= static_cast<std::uint32_t>(p[i]) << (8 * k);
    checksum = sum;
}

bool read_nonblank_line(std::FILE* stream, std::string& line, std::uint32_t* checksum) {
    if (!stream) {
        line.clear();
        return false;
    }
    while (read_physical_line(stream, line)) {
        std::size_t n = line.size();
        while (n > 0 && is_line_trim(line[n - 1])) --n;
        if (n == 0) continue;
        line.resize(n);
        if (checksum) fold_line_checksum(line, *checksum);
        return true;
    }
    line.clear();
    return false;
}

bool read_nonblank_line(std::FILE* stream, char* buffer, std::size_t size, std::uint32_t* checksum) {
    if (!buffer || size == 0) return false;
    buffer[0] = '\0';
    thread_local std::string line;
    if (!read_nonblank_line(stream, line, nullptr)) return false;
    // The line counts as one line even when it is cut, so the lines after it keep their place.
    std::size_t n = std::min(line.size(), size - 1);
    std::memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
    n = std::strlen(buffer);  // the caller sees text up to the first NUL
    while (n > 0 && is_line_trim(buffer[n - 1])) --n;
    buffer[n] = '\0';
    if (checksum) fold_line_checksum(std::string_view(buffer, n), *checksum);
    return true;
}

bool read_text_line(std::FILE* stream, std::string& line) {
    if (!stream || !read_physical_line(stream, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// Reads a number at a fixed position: blanks may pad it on the left within the field, then at
// least one digit must follow; digits are read up to the field's width. Nine digits or fewer never
// leave int's range, so such a field (every date field of an index, half a million a large group)
// is read here without a call; a wider one clamps as parse_integer does.
bool read_fixed_number(std::string_view text, std::size_t pos, std::size_t width, int& value) {
    if (pos > text.size() || width > text.size() - pos) return false;
    std::size_t i = pos;
    const std::size_t end = pos + width;
    while (i < end && text[i] == ' ') ++i;
    if (i == end || !is_digit(text[i])) return false;
    if (width > 9) {
        value = static_cast<int>(parse_integer(text.substr(i, end - i)).value);
        return true;
    }
    int v = 0;
    for (; i < end && is_digit(text[i]); ++i) v = v * 10 + (text[i] - '0');
    value = v;
    return true;
}

ParsedInteger parse_integer(std::string_view text, std::int64_t min, std::int64_t max) {
    ParsedInteger out;
    std::size_t i = 0;
    while (i < text.size() && is_space_char(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Magnitudes saturate at 2^63 + 1, beyond every int64 of either sign.
    constexpr std::uint64_t kTwo63 = std::uint64_t{1} << 63;
    constexpr std::uint64_t kBeyond = kTwo63 + 1;
    std::uint64_t magnitude = 0;
    const std::size_t digits_start = i;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        magnitude = magnitude > (kBeyond - digit) / 10 ? kBeyond : magnitude * 10 + digit;
    }
    if (i == digits_start) return out;
    out.has_digits = true;
    out.end = i;
    const bool fits = magnitude <= (negative ? kTwo63 : kTwo63 - 1);
    std::int64_t v = 0;
    if (!fits)
        v = negative ? INT64_MIN : INT64_MAX;
    else if (negative)
        v = magnitude == kTwo63 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    else
        v = static_cast<std::int64_t>(magnitude);
    out.value = std::clamp(v, min, max);
    out.in_range = fits && out.value == v;
    return out;
}

std::string vformat_string(const char* format, std::va_list args) {
    if (!format) return {};
    char buffer[kFormatBuffer];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) return {};
    // The text ends at its first NUL, as a C string would.
    return std::string(buffer, ::strnlen(buffer, sizeof buffer - 1));
}

std::string format_string(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string s = vformat_string(format, args);
    va_end(args);
    return s;
}

std::string person_name_text(std::string_view stored) {
    if (stored.find('^') == std::string_view::npos) return std::string(stored);
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t caret = stored.find('^', start);
        std::string part(stored.substr(start, caret == std::string_view::npos ? caret : caret - start));
        while (!part.empty() && part.back() == ' ') part.pop_back();
        while (!part.empty() && part.front() == ' ') part.erase(0, 1);
        bool capitals = true;
        for (char c : part)
            if (platform::is_lower(c)) capitals = false;
        bool word_start = true;
        for (char& c : part) {
            if (capitals && !word_start) c = platform::ascii_lower(c);
            word_start = c == ' ' || c == '-' || c == '\'';
        }
        parts.push_back(std::move(part));
        if (caret == std::string_view::npos) break;
        start = caret + 1;
    }
    parts.resize(5);
    std::string rest;
    for (const std::string* p : {&parts[3], &parts[1], &parts[2], &parts[4]})
        if (!p->empty()) rest += (rest.empty() ? "" : " ") + *p;
    if (parts[0].empty()) return rest;
    return rest.empty() ? parts[0] : parts[0] + ", " + rest;
}

namespace {

// The length of the valid UTF-8 sequence at the front of `text` and its code point; 0 when the
// first byte starts none (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t utf8_sequence(std::string_view text, char32_t& code) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = b(0);
    std::size_t length;
    char32_t min;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (b(i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool is_control_code(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool is_windows1252_control(unsigned char b) {
    return b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

}  // namespace

std::string escape_control_chars(std::string_view text, TextBytes bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](std::string_view part) {
        for (const char c : part) {
            out += "\\x";
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 15];
        }
    };
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        bool control;
        if (bytes == TextBytes::Windows1252) {
            control = is_windows1252_control(static_cast<unsigned char>(text[i]));
        } else {
            char32_t code = 0;
            length = utf8_sequence(text.substr(i), code);
            control = length == 0 || is_control_code(code);
            if (length == 0) length = 1;  // one stray byte at a time
        }
        if (control)
            escape(text.substr(i, length));
        else
            out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

void split_windows_command_line(std::string_view text, std::vector<std::string>& tokens) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && is_space_char(text[i])) ++i;
        if (i >= n) break;
        if (text[i] == '"') {
            const std::size_t start = i + 1;
            std::size_t end = text.find('"', start);
            if (end == std::string_view::npos) end = n;
            tokens.emplace_back(text.substr(start, end - start));
            i = end < n ? end + 1 : n;
        } else {
            const std::size_t start = i;
            std::size_t end = text.find(' ', start);
            if (end == std::string_view::npos) end = n;
            if (end > start) tokens.emplace_back(text.substr(start, end - start));
            i = end < n ? end + 1 : n;
        }
    }
}

std::string get_user_name() { return tv::platform::system().user_name(); }

std::string group_digits(std::string_view digits, std::string_view separator, std::string_view grouping) {
    if (separator.empty() || grouping.empty()) return std::string(digits);
    // Group sizes from the right.
    std::vector<std::size_t> cuts;  // lengths of groups from the right, all but the leftmost
    std::size_t remaining = digits.size();
    std::size_t gi = 0;
    std::size_t size = 0;
    for (;;) {
        if (gi < grouping.size()) {
            const unsigned char g = static_cast<unsigned char>(grouping[gi]);
            if (g == 0 && gi > 0) {
                gi = grouping.size();  // 0 repeats the previous size
            } else if (g == 0 || g >= static_cast<unsigned char>(CHAR_MAX)) {
                break;  // no further grouping
            } else {
                size = g;
                ++gi;
            }
        }
        if (size == 0 || remaining <= size) break;
        cuts.push_back(size);
        remaining -= size;
    }
    std::string out(digits.substr(0, remaining));
    std::size_t pos = remaining;
    for (auto it = cuts.rbegin(); it != cuts.rend(); ++it) {
        out.append(separator);
        out.append(digits.substr(pos, *it));
        pos += *it;
    }
    return out;
}

std::string format_thousands_64(std::int64_t value) {
    // Magnitude as unsigned so that the most negative value has a form too.
    const std::uint64_t magnitude = value < 0 ? static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(value)
                                              : static_cast<std::uint64_t>(value);
    const std::string digits = std::to_string(magnitude);

    EnvLocale loc(LC_NUMERIC_MASK);
    std::string separator = loc.info(THOUSEP);
    const std::string grouping = loc.info(GROUPING);
    if (!separator.empty() && static_cast<unsigned char>(separator[0]) >= 0x80) {
        // The locale's separator in our code page; the space-like ones that it lacks read as a
        // no-break space.
        if (std::string_view(loc.info(CODESET)) == "UTF-8")
            separator = tv::platform::utf8_to_cp1252(separator, '\xA0');
        else if (separator.size() != 1)
            separator.assign(1, '\xA0');
    }
    std::string out;
    if (value < 0) out.push_back('-');
    out += group_digits(digits, separator, grouping);
    return out;
}

std::string format_thousands(std::int32_t value) { return format_thousands_64(value); }

}  // namespace tv
