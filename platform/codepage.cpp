#include "platform/codepage.h"

#include <array>
#include <cstdint>

namespace tv::platform {
namespace {

// 0x80..0x9F. The five bytes the code page leaves undefined keep their C1 code points, so
// every byte survives a round trip through UTF-8.
// clang-format off
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
// clang-format on

char32_t to_unicode(unsigned char b) { return (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : b; }

// -1 when the character has no Windows-1252 form.
int from_unicode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c) return 0x80 + i;
    return -1;
}

void put_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string cp1252_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) put_utf8(out, to_unicode(static_cast<unsigned char>(ch)));
    return out;
}

std::string utf8_to_cp1252(std::string_view text, char replacement) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < n) {
        unsigned char b = byte(i);
        std::size_t len = 0;
        char32_t c = 0, min = 0;
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            c = b & 0x1F;
            min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            c = b & 0x0F;
            min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            c = b & 0x07;
            min = 0x10000;
        } else {
            out += replacement;  // stray continuation byte or an impossible lead byte
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < len && i + k < n && (byte(i + k) & 0xC0) == 0x80; ++k) c = (c << 6) | (byte(i + k) & 0x3F);
        if (k < len || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // A broken sequence: one replacement for its lead byte, then resynchronise.
            out += replacement;
            i += (k < len) ? k : 1;
            continue;
        }
        int m = from_unicode(c);
        out += m < 0 ? replacement : static_cast<char>(m);
        i += len;
    }
    return out;
}

namespace {

// --- Windows-1252 case folding ---

constexpr std::array<unsigned char, 256> make_fold_table() {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<unsigned char>(c + 32);
    for (int c = 0xC0; c <= 0xDE; ++c)
        if (c != 0xD7) t[c] = static_cast<unsigned char>(c + 32);
    t[0x8A] = 0x9A;
    t[0x8C] = 0x9C;
    t[0x8E] = 0x9E;
    t[0x9F] = 0xFF;
    return t;
}
constexpr std::array<unsigned char, 256> kFold = make_fold_table();

// Code page 850 upper half as Windows-1252. Box and block characters have no Windows-1252 form;
// they become the ASCII lines and corners they look like.
constexpr unsigned char kOem850ToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,  // 80
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x83,  // 90
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,  // A0
    '_',  '_',  '_',  '|',  '+',  0xC1, 0xC2, 0xC0, 0xA9, '+',  '|',  '+',  '+',  0xA2, 0xA5, '+',   // B0
    '+',  '+',  '+',  '+',  '-',  '+',  0xE3, 0xC3, '+',  '+',  '+',  '+',  '+',  '=',  '+',  0xA4,  // C0
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 'i',  0xCD, 0xCE, 0xCF, '+',  '+',  '_',  '_',  0xA6, 0xCC, '_',   // D0
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE, 0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4,  // E0
    0xAD, 0xB1, '=',  0xBE, 0xB6, 0xA7, 0xF7, 0xB8, 0xB0, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, '_',  0xA0,  // F0
};

}  // namespace

int compare_text_nocase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = kFold[static_cast<unsigned char>(a[i])];
        const unsigned char y = kFold[static_cast<unsigned char>(b[i])];
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::string oem_to_ansi(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) c = static_cast<char>(kOem850ToAnsi[u - 0x80]);
    }
    return out;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (auto line = take_line(text)) lines.push_back(*line);
    if (!text.empty()) lines.push_back(text.back() == '\r' ? text.substr(0, text.size() - 1) : text);
    return lines;
}

std::optional<std::string_view> take_line(std::string_view& text) {
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos) return std::nullopt;
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace tv::platform
