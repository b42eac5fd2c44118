#include <gtest/gtest.h>

#include "tolbex/timi/grid/grid_mask.h"

namespace tv {
namespace {

TEST(GridMask, CharacterClasses) {
    struct Case {
        char mask;
        std::string takes, refuses;
    };
    const Case cases[] = {
        {'0', "05", " a+-"},    {'9', "09 ", "a+-"},
        {'#', "09 +-", "a*"},   {'L', "aZ\xE9\xC0\x8A", "0 -\xD7\xF7"},
        {'?', "aZ \xFF", "0-"}, {'A', "aZ09", " -"},
        {'a', "aZ09 ", "-."},   {'&', "a0 -~\x80\xA0", std::string("\x7F\x1F", 2)},
        {'C', "a0 -~", "\x7F"}, {'x', std::string("ax0\x7F\x01", 5), ""},  // no mask character: everything
    };
    for (const Case& c : cases) {
        for (char ch : c.takes) EXPECT_TRUE(grid_mask_char_accepts(c.mask, ch)) << c.mask << " " << int(ch);
        for (char ch : c.refuses) EXPECT_FALSE(grid_mask_char_accepts(c.mask, ch)) << c.mask << " " << int(ch);
    }
}

TEST(GridMask, SetMaskBuildsPositionsLiteralsAndLimit) {
    struct Case {
        std::string mask;
        bool on;
        std::string mask_string, literal_string;
        std::size_t limit;
    };
    const std::string N(1, kGridMaskNoEntry);
    const Case cases[] = {
        {"", false, "", "", 0},
        {"(999)", true, N + "999" + N, "(" + N + N + N + ")", 5},
        {"\\0\\\\9", true, N + N + "9", "0\\" + N, 5},  // escaped mask character and backslash
        {"99\\", true, "99", N + N, 3},                 // a trailing backslash adds no position
        {"\\", true, "", "", 1},
    };
    for (const Case& c : cases) {
        GridMask m(c.mask);
        EXPECT_EQ(m.on(), c.on) << c.mask;
        EXPECT_EQ(m.mask_string(), c.mask_string) << c.mask;
        EXPECT_EQ(m.literal_string(), c.literal_string) << c.mask;
        EXPECT_EQ(m.length_limit(), c.limit) << c.mask;
        EXPECT_EQ(m.mask_text(), c.mask);
    }
    GridMask m("99");
    m.set_mask("");
    EXPECT_FALSE(m.on());
    EXPECT_EQ(m.positions(), 0u);
}

TEST(GridMask, TypingChecksAndTypesLiterals) {
    struct Case {
        std::string mask;
        std::size_t pos;
        char ch;
        bool accepted;
        std::string literals;
        std::size_t position;
    };
    const Case cases[] = {
        {"(999", 0, '5', true, "(", 1},  // the parenthesis is typed first
        {"(999", 1, '5', true, "", 1},    {"(999", 1, 'x', false, "", 1},
        {"0", 0, 'x', false, "", 0},  // a letter at a "0" position
        {"#", 0, '-', true, "", 0},       {"0", 0, '-', false, "", 0},
        {"(999", 4, '5', false, "", 4},                                          // mask full
        {"(999", 99, '5', false, "", 99}, {"(999) 999", 4, '7', true, ") ", 6},  // a run of literals is typed whole
        {"99)", 2, '5', false, ")", 3},                                 // the literal ends the mask: no read past it
        {"99-", 2, '-', false, "-", 3},   {"0", 0, '\b', true, "", 0},  // non-printable characters pass
        {"0", 5, '\x7F', true, "", 5},    {"", 3, 'x', true, "", 3},    // mask off
        {"\\", 0, 'x', false, "", 0},                                   // no positions at all
    };
    for (const Case& c : cases) {
        GridMaskTyping t = GridMask(c.mask).type_char(c.pos, static_cast<unsigned char>(c.ch));
        EXPECT_EQ(t.accepted, c.accepted) << c.mask << " @" << c.pos << " " << c.ch;
        EXPECT_EQ(t.literals, c.literals) << c.mask << " @" << c.pos;
        EXPECT_EQ(t.position, c.position) << c.mask << " @" << c.pos;
    }
}

}  // namespace
}  // namespace tv
