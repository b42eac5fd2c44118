#include "tolbex/letters/letter_options.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "common/files.h"
#include "common/profile.h"
#include "platform/registry.h"
#include "testing/app_test_root.h"

namespace tv::letters {
namespace {

using platform::RegValue;
using testing_root::stored_profile_value;
using testing_root::write_file;
namespace fs = std::filesystem;

class LetterOptionsTest : public testing_root::RootTest {};

TEST_F(LetterOptionsTest, LetterOptionsDefaultsAndStoredForm) {
    const LetterOptions d = read_letter_options();
    EXPECT_EQ("", d.template_name);
    EXPECT_EQ("", d.letter_name);
    EXPECT_EQ(get_temp_folder(), d.letter_folder);
    EXPECT_TRUE(d.prompt_for_template);
    EXPECT_FALSE(d.fixed_letter_name);
    EXPECT_TRUE(d.save_with_report);

    ASSERT_TRUE(write_letter_options({"/t/a.doc", "Letter", "/out", false, true, false}));
    EXPECT_EQ(RegValue::string("/t/a.doc"), stored_profile_value("Letter Options", "Template Name"));
    EXPECT_EQ(RegValue::string("Letter"), stored_profile_value("Letter Options", "Letter Name"));
    EXPECT_EQ(RegValue::string("/out"), stored_profile_value("Letter Options", "Letter Folder"));
    EXPECT_EQ(RegValue::from_dword(0), stored_profile_value("Letter Options", "Prompt for Template?"));
    EXPECT_EQ(RegValue::from_dword(1), stored_profile_value("Letter Options", "Fixed Letter Name?"));
    EXPECT_EQ(RegValue::from_dword(0), stored_profile_value("Letter Options", "Save With Report?"));
    EXPECT_EQ((LetterOptions{"/t/a.doc", "Letter", "/out", false, true, false}), read_letter_options());
}

TEST_F(LetterOptionsTest, LetterOptionsChecksInOrder) {
    const std::string templ = (t / "tpl.doc").string();
    write_file(templ, "x");
    const std::string missing_folder = (t / "new" / "letters").string();
    using F = LetterOptionsRules::Field;
    struct Case {
        LetterOptions o;
        std::deque<MsgResult> answers;
        F field;  // kNone: accepted
        const char* text;
    };
    const std::string bad_name =
        "The fixed letter name is not valid.\n\nA file name may not contain any of the following characters:  "
        "\\ / : * ? < > | \"";
    const Case cases[] = {
        {{"/no/such.doc", "", "/tmp", true, false, true},
         {},
         F::kTemplate,
         "The letter template document does not exist."},
        {{templ, "a.b", "/tmp", true, true, true}, {}, F::kLetterName, bad_name.c_str()},
        {{templ, "", "/tmp", true, true, true}, {}, F::kLetterName, bad_name.c_str()},
        {{"", "a.b", "/tmp", true, false, true}, {}, F::kNone, nullptr},  // the name is not used
        {{"", "", "", true, false, false}, {}, F::kFolder, "Please specify a non-blank output folder."},
        {{"", "", "C:\\x", true, false, false},
         {},
         F::kFolder,
         "The output folder must begin with a drive letter followed by a colon (:),\nor it must be a UNC path "
         "that begins with \"\\\\\"."},
        {{"", "", "rel/x", true, false, false}, {}, F::kFolder, nullptr},
        {{"", "", missing_folder, true, false, false}, {MsgResult::Cancel}, F::kFolder, nullptr},
        {{templ, "Letter", missing_folder, false, true, false}, {MsgResult::Ok}, F::kNone, nullptr},
        {{"", "", "", true, false, true}, {}, F::kNone, nullptr},  // the folder is not used
    };
    for (const Case& c : cases) {
        scripted.shown.clear();
        scripted.answers = c.answers;
        LetterOptionsRules rules;
        const bool accepted = rules.ok(c.o, scripted);
        EXPECT_EQ(c.field == F::kNone, accepted) << c.o.letter_folder;
        EXPECT_EQ(c.field, rules.failed_field()) << c.o.letter_folder;
        if (c.text) {
            ASSERT_FALSE(scripted.shown.empty());
            EXPECT_EQ(c.text, scripted.shown.back().text);
            EXPECT_EQ("Invalid Data", scripted.shown.back().caption);
            EXPECT_EQ(MsgIcon::Error, scripted.shown.back().icon);
        }
        if (accepted) {
            EXPECT_EQ(c.o, read_letter_options());
        }
    }
    EXPECT_TRUE(fs::is_directory(missing_folder));
    // A refused OK writes nothing.
    LetterOptionsRules rules;
    EXPECT_FALSE(rules.ok({"/no/such.doc", "", "", true, false, true}, scripted));
    EXPECT_NE("/no/such.doc", read_letter_options().template_name);
}

}  // namespace
}  // namespace tv::letters
