#include "common/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "common/number_text.h"
#include "common/values.h"
#include "platform/system.h"

namespace {

// A stream over bytes in memory; closed by the owner.
struct MemStream {
    std::string bytes;
    std::FILE* f = nullptr;
    explicit MemStream(std::string b) : bytes(std::move(b)) {
        f = bytes.empty() ? std::fopen("/dev/null", "re") : ::fmemopen(bytes.data(), bytes.size(), "r");
    }
    ~MemStream() {
        if (f) std::fclose(f);
    }
};

std::vector<std::string> read_all(std::FILE* f, std::uint32_t& sum) {
    std::vector<std::string> lines;
    std::string line;
    while (tv::read_nonblank_line(f, line, &sum)) lines.push_back(line);
    EXPECT_TRUE(line.empty());
    return lines;
}

// Sets LC_ALL for one scope and puts the previous value back.
class ScopedLcAll {
public:
    explicit ScopedLcAll(const char* value) {
        const char* old = std::getenv("LC_ALL");
        had_ = old != nullptr;
        if (old) old_ = old;
        ::setenv("LC_ALL", value, 1);
    }
    ~ScopedLcAll() {
        if (had_)
            ::setenv("LC_ALL", old_.c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

private:
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(TextChars, AsciiOnlyClassesAndCase) {
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char c = static_cast<char>(b);
        EXPECT_FALSE(tv::is_space_char(c));
        EXPECT_EQ(tv::ascii_upper(c), c);
        EXPECT_EQ(tv::ascii_lower(c), c);
    }
    for (char c : std::string(" \t\n\v\f\r")) EXPECT_TRUE(tv::is_space_char(c));
    EXPECT_EQ(tv::to_upper_copy("abc\xE9z1"), "ABC\xE9Z1");
    EXPECT_EQ(tv::to_lower_copy("ABC\xC9Z1"), "abc\xC9z1");

    char text[] = "mixed \xE4 Case";
    tv::make_upper_in_place(text);
    EXPECT_STREQ(text, "MIXED \xE4 CASE");
    tv::make_upper_in_place(static_cast<char*>(nullptr));

    EXPECT_TRUE(tv::is_blank(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(tv::is_blank(""));
    EXPECT_TRUE(tv::is_blank(" \t\r\n"));
    EXPECT_FALSE(tv::is_blank("\xA0"));
    EXPECT_FALSE(tv::is_blank("  x "));
}

TEST(TextEdit, ControlCharactersOfOutsideNamesAreEscaped) {
    using tv::TextBytes;
    const struct {
        std::string_view in;
        TextBytes bytes;
        const char* out;
    } cases[] = {
        {std::string_view("a\r\nOK stored\0\x7F\t", 15), TextBytes::FileName, "a\\x0D\\x0AOK stored\\x00\\x7F\\x09"},
        {"plain name.TVZ", TextBytes::FileName, "plain name.TVZ"},
        {"Jos\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", TextBytes::FileName, "Jos\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        // C1 controls as UTF-8: U+0080, U+009B (the one-byte CSI), U+009F; U+00A0 is not one.
        {"\xC2\x80\xC2\x9B[2J\xC2\x9F\xC2\xA0", TextBytes::FileName, "\\xC2\\x80\\xC2\\x9B[2J\\xC2\\x9F\xC2\xA0"},
        // Direction controls: RLO, LRE, PDI, LRM, ALM; U+2029 and U+2070 are not.
        {"a\xE2\x80\xAE"
         "b\xE2\x80\xAA\xE2\x81\xA9\xE2\x80\x8E\xD8\x9C\xE2\x80\xA9\xE2\x81\xB0",
         TextBytes::FileName,
         "a\\xE2\\x80\\xAEb\\xE2\\x80\\xAA\\xE2\\x81\\xA9\\xE2\\x80\\x8E\\xD8\\x9C\xE2\x80\xA9\xE2\x81\xB0"},
        // Invalid UTF-8: a lone Windows-1252 byte, a stray continuation, an overlong slash, a
        // surrogate, past U+10FFFF, a sequence cut short at the end.
        {"\xE9t\xE9 \x9B \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82", TextBytes::FileName,
         "\\xE9t\\xE9 \\x9B \\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80 \\xE2\\x82"},
        // Windows-1252 text: its letters and signs stay, the undefined bytes and C0 controls do not.
        {"\xE9t\xE9 \x80\x9B\x9F \x81\x8D\x8F\x90\x9D\x1B", TextBytes::Windows1252,
         "\xE9t\xE9 \x80\x9B\x9F \\x81\\x8D\\x8F\\x90\\x9D\\x1B"},
    };
    for (const auto& c : cases) EXPECT_EQ(tv::escape_control_chars(c.in, c.bytes), c.out) << c.in;
}

TEST(TextEdit, Trim) {
    char b[] = "  value \r\n\t";
    tv::trim_trailing_chars(b, " \r\n\t");
    EXPECT_STREQ(b, "  value");
    std::string s = "abc;;,";
    tv::trim_trailing_chars(s, ";,");
    EXPECT_EQ(s, "abc");
}

TEST(TextLines, SkipsBlankLinesAndFoldsChecksumForCrLfAndLf) {
    for (const char* text : {"ab\r\n\r\n   \r\nabcdef\r\n", "ab\n\n   \nabcdef\n", "ab\n\t\n \r\nabcdef"}) {
        MemStream s(text);
        std::uint32_t sum = 0;
        EXPECT_EQ(read_all(s.f, sum), (std::vector<std::string>{"ab", "abcdef"}));
        EXPECT_EQ(sum, 0x64636665u) << text;
    }
    MemStream s("  x  \n");
    std::uint32_t sum = 0;
    EXPECT_EQ(read_all(s.f, sum), (std::vector<std::string>{"  x"}));
    EXPECT_EQ(sum, 0x00782020u);

    MemStream empty("");
    std::string line = "stale";
    EXPECT_FALSE(tv::read_nonblank_line(empty.f, line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(tv::read_nonblank_line(nullptr, line));
}

TEST(TextLines, LongLineIsOneLineInBothForms) {
    const std::string longline(100000, 'L');
    const std::string text = "first\r\n" + longline + "  \r\nnext\r\n\r\nlast";
    {
        MemStream s(text);
        std::uint32_t sum = 0;
        const auto lines = read_all(s.f, sum);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[1], longline);
        EXPECT_EQ(lines[2], "next");
        EXPECT_EQ(lines[3], "last");
        std::uint32_t expect = 0;
        for (const auto& l : lines) tv::fold_line_checksum(l, expect);
        EXPECT_EQ(sum, expect);
    }
    {
        // A fixed buffer keeps the head of the long line and the lines after it keep their place.
        MemStream s(text);
        char buf[8];
        std::uint32_t sum = 0;
        std::vector<std::string> got;
        while (tv::read_nonblank_line(s.f, buf, sizeof buf, &sum)) got.emplace_back(buf);
        EXPECT_EQ(got, (std::vector<std::string>{"first", "LLLLLLL", "next", "last"}));
        std::uint32_t expect = 0;
        for (const auto& l : got) tv::fold_line_checksum(l, expect);
        EXPECT_EQ(sum, expect);
        EXPECT_STREQ(buf, "");
    }
    {
        // The cut is trimmed like any line end.
        MemStream s("abc   def\n");
        char buf[6];
        ASSERT_TRUE(tv::read_nonblank_line(s.f, buf, sizeof buf));
        EXPECT_STREQ(buf, "abc");
    }
    MemStream s("x\n");
    EXPECT_FALSE(tv::read_nonblank_line(s.f, nullptr, 0));
}

TEST(TextLines, BytesAboveAsciiAndNulAreText) {
    MemStream s(std::string("\xA0\xFF\n\0a\n", 6));
    std::uint32_t sum = 0;
    const auto lines = read_all(s.f, sum);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "\xA0\xFF");
    EXPECT_EQ(lines[1], std::string("\0a", 2));
    EXPECT_EQ(sum, 0xFFA0u ^ 0x6100u);
}

TEST(TextLines, SharesTheStreamWithOtherReaders) {
    MemStream s("first\nsecond\n\nthird\n");
    std::string line;
    ASSERT_TRUE(tv::read_nonblank_line(s.f, line));
    char raw[32];
    ASSERT_NE(std::fgets(raw, sizeof raw, s.f), nullptr);
    EXPECT_STREQ(raw, "second\n");
    ASSERT_EQ(std::ungetc('>', s.f), '>');
    ASSERT_TRUE(tv::read_nonblank_line(s.f, line));  // the blank line, now holding '>'
    EXPECT_EQ(line, ">");
    ASSERT_TRUE(tv::read_nonblank_line(s.f, line));
    EXPECT_EQ(line, "third");

    // Threads reading their own streams (the locked path).
    std::vector<std::thread> threads;
    std::vector<std::uint32_t> sums(4, 1);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &sums] {
            MemStream m("ab\r\n\r\n   \r\nabcdef\r\n");
            std::uint32_t sum = 0;
            std::string l;
            while (tv::read_nonblank_line(m.f, l, &sum)) {}
            sums[static_cast<std::size_t>(t)] = sum;
        });
    for (auto& th : threads) th.join();
    for (auto v : sums) EXPECT_EQ(v, 0x64636665u);
}

TEST(TextNumbers, ParseIntegerBlanksSignRangeAndEnd) {
    struct Case {
        const char* text;
        std::int64_t min, max, value;
        std::size_t end;
        bool digits, in_range;
    } cases[] = {
        {" \t\n\v\f\r42x", INT32_MIN, INT32_MAX, 42, 8, true, true},
        {"-17", INT32_MIN, INT32_MAX, -17, 3, true, true},
        {"+5 ", INT32_MIN, INT32_MAX, 5, 2, true, true},
        {"-0", 0, 9, 0, 2, true, true},
        {"2147483647", INT32_MIN, INT32_MAX, INT32_MAX, 10, true, true},
        {"2147483648", INT32_MIN, INT32_MAX, INT32_MAX, 10, true, false},
        {"-2147483648", INT32_MIN, INT32_MAX, INT32_MIN, 11, true, true},
        {"-2147483649", INT32_MIN, INT32_MAX, INT32_MIN, 11, true, false},
        {"9223372036854775807", INT64_MIN, INT64_MAX, INT64_MAX, 19, true, true},
        {"-9223372036854775808", INT64_MIN, INT64_MAX, INT64_MIN, 20, true, true},
        {"99999999999999999999999", INT64_MIN, INT64_MAX, INT64_MAX, 23, true, false},
        {"-99999999999999999999999", INT64_MIN, INT64_MAX, INT64_MIN, 24, true, false},
        {"7", 10, 20, 10, 1, true, false},
        {"", INT32_MIN, INT32_MAX, 0, 0, false, false},
        {" - 4", INT32_MIN, INT32_MAX, 0, 0, false, false},
        {"\xA0"
         "4",
         INT32_MIN, INT32_MAX, 0, 0, false, false},  // no-break space is no white space
    };
    for (const Case& c : cases) {
        const tv::ParsedInteger r = tv::parse_integer(c.text, c.min, c.max);
        EXPECT_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(r.end, c.end) << c.text;
        EXPECT_EQ(r.has_digits, c.digits) << c.text;
        EXPECT_EQ(r.ok(), c.in_range) << c.text;
        EXPECT_EQ(r.whole(std::strlen(c.text)), c.in_range && c.end == std::strlen(c.text)) << c.text;
    }
}

// Fixed fields (the index dates): blank padding on the left, then digits up to the field's width;
// a wide field clamps as parse_integer does. Nothing is stored on failure.
TEST(TextNumbers, FixedFieldsPaddingWidthAndBounds) {
    struct Case {
        std::string_view text;
        std::size_t pos, width;
        bool read;
        int value;
    } cases[] = {
        {"05/03/07", 3, 2, true, 3},
        {"Mar  5 14", 4, 2, true, 5},          // a blank pads
        {"12:3x", 3, 2, true, 3},              // the first other character ends it
        {"999999999", 0, 9, true, 999999999},  // nine digits, the widest read at once
        {"2147483647", 0, 10, true, INT32_MAX},
        {"9999999999", 0, 10, true, INT32_MAX},  // wider fields clamp
        {"  00000000042", 0, 13, true, 42},
        {"2026", 0, 4, true, 2026},
        {"20261", 0, 4, true, 2026},  // the field ends it
        {"  ", 0, 2, false, 0},
        {" \t5", 0, 3, false, 0},  // only blanks pad
        {"-5", 0, 2, false, 0},
        {"+5", 0, 2, false, 0},
        {"x5", 0, 2, false, 0},
        {"12", 0, 0, false, 0},
        {"12", 1, 2, false, 0},  // past the end of the text
        {"12", 3, 0, false, 0},
        {"12", SIZE_MAX, 2, false, 0},
        {"12", 1, SIZE_MAX, false, 0},
    };
    for (const Case& c : cases) {
        int v = -1;
        EXPECT_EQ(tv::read_fixed_number(c.text, c.pos, c.width, v), c.read) << c.text << " " << c.pos;
        EXPECT_EQ(v, c.read ? c.value : -1) << c.text << " " << c.pos;
    }
    // Every field of every short text over digits, blanks and stops reads as parse_integer reads
    // what follows the padding.
    static constexpr std::string_view kAlphabet = " 09-x";
    for (int code = 0; code < 5 * 5 * 5 * 5 * 5 * 5; ++code) {
        std::string text;
        for (int n = code; text.size() < 6; n /= 5) text += kAlphabet[static_cast<std::size_t>(n % 5)];
        for (std::size_t pos = 0; pos <= text.size(); ++pos)
            for (std::size_t width = 0; pos + width <= text.size(); ++width) {
                std::size_t i = pos;
                while (i < pos + width && text[i] == ' ') ++i;
                const bool digit = i < pos + width && tv::is_digit(text[i]);
                int v = -1;
                ASSERT_EQ(tv::read_fixed_number(text, pos, width, v), digit) << text << " " << pos << " " << width;
                if (digit) {
                    ASSERT_EQ(v, tv::parse_integer(std::string_view(text).substr(i, pos + width - i)).value) << text;
                }
            }
    }
}

// The readers that keep only low bits take the number modulo 2^64, as an unsigned C read would;
// the other readers clamp (above).
TEST(TextNumbers, WrappingReadKeepsTheLowBits) {
    struct Case {
        const char* text;
        std::uint64_t value;
        std::size_t end;
        bool digits;
    } cases[] = {
        {" 42x", 42, 3, true},
        {"-1", UINT64_MAX, 2, true},
        {"4294967297", 4294967297u, 10, true},
        {"18446744073709551617", 1, 20, true},  // 2^64 + 1
        {"+300", 300, 4, true},
        {"- 4", 0, 0, false},
        {"", 0, 0, false},
    };
    for (const Case& c : cases) {
        const tv::ParsedInteger r = tv::parse_integer_wrapping(c.text);
        EXPECT_EQ(static_cast<std::uint64_t>(r.value), c.value) << c.text;
        EXPECT_EQ(r.end, c.end) << c.text;
        EXPECT_EQ(r.ok(), c.digits) << c.text;
    }
    // Fields read through the clamping reader: leading and whole.
    EXPECT_EQ(tv::leading_int(" 99999999999 rest"), INT32_MAX);
    EXPECT_EQ(tv::leading_int("x"), 0);
    std::int32_t v = 7;
    EXPECT_TRUE(tv::parse_int_field(" -12\t", v));
    EXPECT_EQ(v, -12);
    for (const char* bad : {"", "+-5", "1 2", "2147483648", "5x"}) EXPECT_FALSE(tv::parse_int_field(bad, v)) << bad;
    EXPECT_EQ(v, -12);
}

TEST(TextLines, SplitAndTakeLinesOfCrLfAndLf) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(tv::split_lines(""), V{});
    EXPECT_EQ(tv::split_lines("a\r\nb\nc"), (V{"a", "b", "c"}));
    EXPECT_EQ(tv::split_lines("a\n\r\n\n"), (V{"a", "", ""}));
    EXPECT_EQ(tv::split_lines("a\r"), V{"a"});
    EXPECT_EQ(tv::split_lines("a\r\rb\r\n"), V{"a\r\rb"});  // a lone CR ends no line

    std::string_view rest = "one\r\ntwo\nthree";
    EXPECT_EQ(tv::take_line(rest), "one");
    EXPECT_EQ(tv::take_line(rest), "two");
    EXPECT_EQ(tv::take_line(rest), std::nullopt);
    EXPECT_EQ(rest, "three");
}

TEST(TextFormat, FormatsAndCutsAt2047) {
    EXPECT_EQ(tv::format_string("%s-%03d-%x", "a", 7, 255u), "a-007-ff");
    const std::string big(5000, 'z');
    const std::string s = tv::format_string("<%s>", big.c_str());
    EXPECT_EQ(s.size(), 2047u);
    EXPECT_EQ(s.substr(0, 3), "<zz");
    EXPECT_EQ(tv::format_string("%s", ""), "");
}

TEST(TextCommandLine, TokensQuotesAndLongPaths) {
    std::vector<std::string> t;
    tv::split_windows_command_line("a \"b c\" \"\" d", t);
    EXPECT_EQ(t, (std::vector<std::string>{"a", "b c", "", "d"}));

    t.clear();
    tv::split_windows_command_line("  /x\ty  \"open", t);
    EXPECT_EQ(t, (std::vector<std::string>{"/x\ty", "open"}));

    t = {"kept"};
    const std::string path(1000, 'p');
    tv::split_windows_command_line("/dir=\"" + path + "\" \"" + path + "\"", t);
    EXPECT_EQ(t, (std::vector<std::string>{"kept", "/dir=\"" + path + "\"", path}));

    t.clear();
    tv::split_windows_command_line("", t);
    tv::split_windows_command_line(" \t ", t);
    EXPECT_TRUE(t.empty());
}

TEST(TextNumbers, GroupingAndCLocale) {
    EXPECT_EQ(tv::group_digits("1234567", ",", "\3"), "1,234,567");
    EXPECT_EQ(tv::group_digits("1234567", ".", "\3\3"), "1.234.567");
    EXPECT_EQ(tv::group_digits("123", ",", "\3"), "123");
    EXPECT_EQ(tv::group_digits("1234", ",", "\3"), "1,234");
    EXPECT_EQ(tv::group_digits("123456789", ",", "\3\2"), "12,34,56,789");
    EXPECT_EQ(tv::group_digits("123456789", ",", std::string("\3\0", 2)), "123,456,789");
    EXPECT_EQ(tv::group_digits("123456789", ",", std::string("\3\x7F", 2)), "123456,789");
    EXPECT_EQ(tv::group_digits("1234567", "", "\3"), "1234567");
    EXPECT_EQ(tv::group_digits("1234567", ",", ""), "1234567");
    EXPECT_EQ(tv::group_digits("12345678901", "\xA0", "\3"),
              "12\xA0"
              "345\xA0"
              "678\xA0"
              "901");

    ScopedLcAll c_locale("C");
    EXPECT_EQ(tv::format_thousands(0), "0");
    EXPECT_EQ(tv::format_thousands(1234567), "1234567");
    EXPECT_EQ(tv::format_thousands(INT32_MIN), "-2147483648");
    EXPECT_EQ(tv::format_thousands_64(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(tv::format_thousands_64(10000000000LL), "10000000000");
}

TEST(TextLocaleDates, OrderAndSeparatorFromTheDateFormat) {
    EXPECT_EQ(tv::date_order_from_format("%m/%d/%y"), 0);
    EXPECT_EQ(tv::date_order_from_format("%d.%m.%Y"), 1);
    EXPECT_EQ(tv::date_order_from_format("%d/%m/%y"), 1);
    EXPECT_EQ(tv::date_order_from_format("%Y-%m-%d"), 2);
    EXPECT_EQ(tv::date_order_from_format("%F"), 2);
    EXPECT_EQ(tv::date_order_from_format("%D"), 0);
    EXPECT_EQ(tv::date_order_from_format("%e/%m/%Ey"), 1);
    EXPECT_EQ(tv::date_order_from_format(""), 0);

    EXPECT_EQ(tv::date_separator_from_format("%d.%m.%Y"), '.');
    EXPECT_EQ(tv::date_separator_from_format("%Y-%m-%d"), '-');
    EXPECT_EQ(tv::date_separator_from_format("%Y. %m. %d."), '/');
    EXPECT_EQ(tv::date_separator_from_format("%Y\xE5\xB9\xB4%m"), '/');
    EXPECT_EQ(tv::date_separator_from_format("%F"), '-');
    EXPECT_EQ(tv::date_separator_from_format("%D"), '/');
    EXPECT_EQ(tv::date_separator_from_format("%"), '/');

    {
        ScopedLcAll c_locale("C");
        EXPECT_EQ(tv::get_locale_date_order(), 0);
        EXPECT_EQ(tv::get_locale_date_separator(), '/');
    }
    {
        ScopedLcAll unknown("no_SUCH.locale");
        EXPECT_EQ(tv::get_locale_date_separator(), '/');
    }

    for (char c : std::string("=^:./-|#\\")) EXPECT_TRUE(tv::is_date_separator(c));
    EXPECT_FALSE(tv::is_date_separator('a'));
    EXPECT_FALSE(tv::is_date_separator(' '));
    EXPECT_FALSE(tv::is_date_separator('\0'));
}

TEST(TextEdit, RecorderPersonNamesReadAsAPersonWritesThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"PELLOW^MARA", "Pellow, Mara"},
        {"O'BRIEN-SMITH^ANN^LEE^DR^JR", "O'Brien-Smith, Dr Ann Lee Jr"},
        {"McNeil^Ross", "McNeil, Ross"},  // already written by a person: kept
        {"PELLOW", "PELLOW"},             // no parts: as stored
        {"Pellow, Mara", "Pellow, Mara"},
        {"^MARA", "Mara"},
        {"PELLOW^", "Pellow"},
        {"^^^", ""},
        {" VAN DER BERG ^ JAN ", "Van Der Berg, Jan"},
        {"\xC9LAN^ZO\xCB", "\xC9lan, Zo\xCB"},  // Windows-1252 letters stay as they are
    };
    for (const auto& [stored, shown] : cases) EXPECT_EQ(tv::person_name_text(stored), shown) << stored;
}
