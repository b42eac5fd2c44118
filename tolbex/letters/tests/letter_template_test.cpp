#include "tolbex/letters/letter_template.h"

#include <ostream>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/test_root.h"

namespace tv::letters {
namespace {

// HR.mean (int) 60, pause.longest.length (real) 2.35, patdet.sex (text) "ABC", patdet.name absent.
AnalysisData values() {
    AnalysisData d;
    d.set_int(d.get_field_number("HR.mean"), 60);
    d.set_double(d.get_field_number("pause.longest.length"), 2.35);
    d.set_string(d.get_field_number("patdet.sex"), "ABC");
    return d;
}

struct ConditionCase {
    const char* statement;
    Condition expected;
};

// Readable names in ctest's list rather than the bytes of the case.
void PrintTo(const ConditionCase& c, std::ostream* os) { *os << c.statement; }

class ConditionTest : public ::testing::TestWithParam<ConditionCase> {};

TEST_P(ConditionTest, Evaluates) {
    EXPECT_EQ(evaluate_condition(GetParam().statement, values()), GetParam().expected) << GetParam().statement;
}

constexpr Condition T = Condition::True, F = Condition::False, Syn = Condition::SyntaxError,
                    Unk = Condition::UnknownField, Mis = Condition::TypeMismatch;

INSTANTIATE_TEST_SUITE_P(
    Operators, ConditionTest,
    ::testing::Values(ConditionCase{"<HR.mean>[= 59.6]", T}, ConditionCase{"<HR.mean>[=59.4]", F},
                      ConditionCase{"<HR.mean>[!= 60]", F}, ConditionCase{"<HR.mean>[>= 60]", T},
                      ConditionCase{"<HR.mean>[> 60]", F}, ConditionCase{"<HR.mean>[<61]", T},
                      ConditionCase{"<HR.mean>[<= 59]", F}, ConditionCase{"<HR.mean>[== 5]", Mis},
                      ConditionCase{"<HR.mean>[~= 6]", Mis}, ConditionCase{"<HR.mean>[= 59.6abc]", Syn},
                      ConditionCase{"<HR.mean>[= ]", Syn}, ConditionCase{"<HR.mean>[= 60 ]", T},
                      ConditionCase{"<pause.longest.length>[= 2.35]", T},
                      ConditionCase{"<pause.longest.length>[< 2.4]", T},
                      ConditionCase{"<pause.longest.length>[> \"2.4\"]", F}, ConditionCase{"<patdet.sex>[~= ab]", T},
                      ConditionCase{"<patdet.sex>[~== ab]", F}, ConditionCase{"<patdet.sex>[~== AB]", T},
                      ConditionCase{"<patdet.sex>[!~== AB]", F}, ConditionCase{"<patdet.sex>[!~= x]", T},
                      ConditionCase{"<patdet.sex>[== ABC]", T}, ConditionCase{"<patdet.sex>[== abc]", F},
                      ConditionCase{"<patdet.sex>[!== abc]", T}, ConditionCase{"<patdet.sex>[= abc]", T},
                      ConditionCase{"<patdet.sex>[< abd]", T}, ConditionCase{"<patdet.sex>[> \"ab\"]", T},
                      ConditionCase{"<patdet.sex>[== \"\"]", Syn}, ConditionCase{"<patdet.sex>[= \"\"]", F},
                      ConditionCase{"<patdet.name>[= \"\"]", T}, ConditionCase{"<patdet.name>[!= \"\"]", F},
                      ConditionCase{"<patdet.sex>[~= \"ABCD\"]", F}, ConditionCase{"<no.such>[= 1]", Unk},
                      ConditionCase{"<HR.mean>[# 1]", Syn}, ConditionCase{"<HR.mean>[= \"60\" x]", Syn},
                      ConditionCase{"<>[= 1]", Syn}, ConditionCase{"HR.mean>[= 1]", Syn},
                      ConditionCase{"<HR.mean>(= 1]", Syn}, ConditionCase{"<HR.mean>[= 1", Syn}));

TEST(Straighten, QuoteLikeCharactersBecomeDoubleQuotes) {
    EXPECT_EQ(straighten("`a' \x93"
                         "b\x94 \x92\x8E\x84"),
              "\"a\" \"b\" \"\"\"");
}

TEST(LetterFileName, ForbiddenCharactersAreDropped) {
    EXPECT_EQ(letter_file_name("Smith, John 12.03.2007"), "Smith, John 12032007");
    EXPECT_EQ(letter_file_name("../x\\y"), "xy");
    EXPECT_EQ(letter_file_name("a/b\r\n"), "ab");
    EXPECT_EQ(letter_file_name("..."), "Letter");
    EXPECT_EQ(letter_file_name(""), "Letter");
}

struct FillCase {
    const char* name;
    std::string text, expected;
    std::vector<std::string> messages;  // the start of each message shown
};

void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

class FillTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillTest, Fills) {
    TextWordProcessor wp;
    const platform::testing::TempRoot temp;
    const std::string path = temp.path() + "/letter.txt";
    ASSERT_TRUE(platform::atomic_write_file(path, GetParam().text));
    ASSERT_TRUE(wp.open(path));
    ScriptedUi ui;
    apply_letter(wp, plan_letter(wp, values(), ui));
    EXPECT_EQ(wp.text(), GetParam().expected);
    ASSERT_EQ(ui.shown.size(), GetParam().messages.size());
    for (std::size_t i = 0; i < ui.shown.size(); ++i) {
        EXPECT_EQ(ui.shown[i].text.substr(0, GetParam().messages[i].size()), GetParam().messages[i]) << i;
        EXPECT_EQ(ui.shown[i].caption, "Error while creating letter");
    }
}

const char* const kSyntax = "There is a syntax error in the following conditional statement";
const char* const kUnknown = "The name of the field in the following statement";

INSTANTIATE_TEST_SUITE_P(
    Templates, FillTest,
    ::testing::Values(
        FillCase{"PlainKeepsNextCharacter", "Rate <HR.mean> bpm.", "Rate 60 bpm.", {}},
        FillCase{"PlainBeforeParagraphBreak", "<patdet.sex>\nx", "ABC\nx", {}},
        FillCase{"PlainAtTheEndIsFilled", "x <HR.mean>", "x 60", {}},
        FillCase{"RealDefault", "<pause.longest.length>.", "2.350000.", {}},
        FillCase{"Formatted", "<pause.longest.length>[%05.1f]|<HR.mean>[%x]", "002.4|3c", {}},
        FillCase{"FormatMustSuit",
                 "<HR.mean>[%s] <HR.mean>[%n] <HR.mean>[%d%d]",
                 "<HR.mean>[%s] <HR.mean>[%n] <HR.mean>[%d%d]",
                 {kSyntax, kSyntax, kSyntax}},
        FillCase{
            "UnknownFieldsStay", "<no.such> and <no.such>[%d]", "<no.such> and <no.such>[%d]", {kUnknown, kUnknown}},
        FillCase{"JoinedLines", "Dear \\\nSir\\\n,\\", "Dear Sir,\\", {}},
        FillCase{"KeptAndDropped",
                 "<HR.mean>[>= 60]fast</HR.mean>[>= 60]|<HR.mean>[< 60]slow</HR.mean>[< 60]|",
                 "fast||",
                 {}},
        FillCase{"StraightenedQuotes", "<patdet.sex>[~= 'ab']yes</patdet.sex>[~= 'ab']", "yes", {}},
        FillCase{
            "NestedInDropped", "<HR.mean>[> 70]a<patdet.sex>[= abc]b</patdet.sex>[= abc]c</HR.mean>[> 70]d", "d", {}},
        FillCase{"NestedInKept", "<HR.mean>[< 70]a<patdet.sex>[= x]b</patdet.sex>[= x]c</HR.mean>[< 70]d", "acd", {}},
        FillCase{"AcrossParagraphs", "<HR.mean>[= 60]one\ntwo\n</HR.mean>[= 60]three", "one\ntwo\nthree", {}},
        FillCase{"MissingTerminatorStopsConditionsOnly",
                 "<HR.mean>[= 60]x <HR.mean>.",
                 "<HR.mean>[= 60]x 60.",
                 {"The following conditional statement terminator cannot be found"}},
        FillCase{"SyntaxErrorStops", "<HR.mean>[= 6x]a</HR.mean>[= 6x]", "<HR.mean>[= 6x]a</HR.mean>[= 6x]", {kSyntax}},
        FillCase{"MismatchStops",
                 "<HR.mean>[== 1]a</HR.mean>[== 1]",
                 "<HR.mean>[== 1]a</HR.mean>[== 1]",
                 {"There is a string/number type mismatch"}}),
    [](const ::testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

TEST(FillLetter, StatementCapIsTold) {
    std::string text;
    for (int i = 0; i <= kMaxStatements; ++i) text += "<HR.mean>[= 60]x</HR.mean>[= 60]";
    TextWordProcessor wp;
    const platform::testing::TempRoot temp;
    const std::string path = temp.path() + "/letter.txt";
    ASSERT_TRUE(platform::atomic_write_file(path, text));
    ASSERT_TRUE(wp.open(path));
    ScriptedUi ui;
    apply_letter(wp, plan_letter(wp, values(), ui));
    EXPECT_EQ(wp.text(), std::string(kMaxStatements, 'x') + "<HR.mean>[= 60]x</HR.mean>[= 60]");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_NE(ui.shown[0].text.find("1000"), std::string::npos);
}

}  // namespace
}  // namespace tv::letters
