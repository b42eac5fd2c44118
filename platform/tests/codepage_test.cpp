#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace tv::platform {
namespace {

TEST(Codepage, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::string utf8 = cp1252_to_utf8(all);
    EXPECT_EQ(utf8_to_cp1252(utf8), all);
    // The undefined bytes keep their C1 code points.
    EXPECT_EQ(cp1252_to_utf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(Codepage, GoldenConversions) {
    EXPECT_EQ(cp1252_to_utf8("\x80"), "\xE2\x82\xAC");            // euro sign
    EXPECT_EQ(cp1252_to_utf8("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");  // été
    EXPECT_EQ(cp1252_to_utf8("\x9F"), "\xC5\xB8");                // Ÿ
    EXPECT_EQ(cp1252_to_utf8("\x93q\x94"), "\xE2\x80\x9Cq\xE2\x80\x9D");
    EXPECT_EQ(utf8_to_cp1252("\xE2\x80\x94"), "\x97");  // em dash
    EXPECT_EQ(utf8_to_cp1252("abc"), "abc");
}

TEST(Codepage, UnmappableAndInvalidInputBecomesTheReplacement) {
    EXPECT_EQ(utf8_to_cp1252("\xE2\x82\xAC\xE4\xB8\xAD"), "\x80?");  // a CJK character has no form
    EXPECT_EQ(utf8_to_cp1252("\xF0\x9F\x98\x80", '#'), "#");         // neither has an emoji
    EXPECT_EQ(utf8_to_cp1252("\xC2\x80"), "?");                      // C1 control that 0x80 does not stand for
    EXPECT_EQ(utf8_to_cp1252("a\xFF"
                             "b"),
              "a?b");
    EXPECT_EQ(utf8_to_cp1252("a\x80"
                             "b"),
              "a?b");                          // stray continuation byte
    EXPECT_EQ(utf8_to_cp1252("a\xC3"), "a?");  // cut short at the end
    EXPECT_EQ(utf8_to_cp1252("\xE2\x82"
                             "x"),
              "?x");                                   // cut short in the middle
    EXPECT_EQ(utf8_to_cp1252("\xC0\xAF"), "??");       // overlong '/'
    EXPECT_EQ(utf8_to_cp1252("\xED\xA0\x80"), "???");  // surrogate
    EXPECT_EQ(utf8_to_cp1252(std::string("\0x", 2)), std::string("\0x", 2));
}

}  // namespace
}  // namespace tv::platform
