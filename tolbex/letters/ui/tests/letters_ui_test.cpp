#include "tolbex/letters/ui/letters_ui.h"

#include <gtest/gtest.h>

#include "framework/qt/tests/qt_test_app.h"
#include "testing/app_test_root.h"
#include "tolbex/letters/office_word_processor.h"
#include "tolbex/transfer/report_handover.h"

namespace tv::gui {
namespace {

using testing_root::write_file;

class LettersUiTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        fw::testing::qt_app();
        set_letter_file_chooser([this](const std::string& caption, const std::string& start,
                                       const std::string& filter) -> std::optional<std::string> {
            asked.push_back(caption + "|" + start + "|" + filter);
            return pick;
        });
        set_letter_opener([this](const std::string& path) {
            opened.push_back(path);
            return open_works;
        });
        register_letter_handlers();
        folder = (t / "R.IMG").string();
        write_file(t / "R.IMG" / "PATIENT.TXT", "x");
    }
    void TearDown() override {
        letters::shutdown_office();  // started ahead when a letter was asked for
        clear_report_handlers();
        set_letter_file_chooser({});
        set_letter_opener({});
        RootTest::TearDown();
    }
    std::string folder;
    std::vector<std::string> asked, opened;
    std::optional<std::string> pick;
    bool open_works = true;
};

TEST_F(LettersUiTest, HandlersAreRegistered) {
    EXPECT_TRUE(has_letter_handler());
    EXPECT_TRUE(has_view_letters_handler());
}

TEST_F(LettersUiTest, NoLetterOpensNothing) {
    EXPECT_TRUE(hand_over_view_letters(folder));
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(opened.empty());
}

TEST_F(LettersUiTest, OneLetterOpensAtOnce) {
    write_file(t / "R.IMG" / "Doe.DOC", "");
    EXPECT_TRUE(hand_over_view_letters(folder));
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(opened, std::vector<std::string>{folder + "/Doe.DOC"});
}

TEST_F(LettersUiTest, SeveralLettersLetTheUserPick) {
    write_file(t / "R.IMG" / "Doe.doc", "");
    write_file(t / "R.IMG" / "Doe (1).doc", "");
    EXPECT_TRUE(hand_over_view_letters(folder));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "Open Letter|" + folder + "/|Letters (*.doc *.DOC)");
    EXPECT_TRUE(opened.empty());  // cancelled
    pick = folder + "/Doe.doc";
    EXPECT_TRUE(hand_over_view_letters(folder));
    EXPECT_EQ(opened, std::vector<std::string>{*pick});
}

TEST_F(LettersUiTest, FailedOpenIsTold) {
    write_file(t / "R.IMG" / "Doe.doc", "");
    open_works = false;
    EXPECT_TRUE(hand_over_view_letters(folder));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "The letter could not be opened: the desktop's opener, xdg-open (package xdg-utils), could not be "
              "started.\n\nThe letter is kept with the report as \"" +
                  folder + "/Doe.doc\".");
    EXPECT_EQ(scripted.shown[0].caption, "Cannot Open Letter");
}

TEST_F(LettersUiTest, CancelledTemplateChoiceMakesNoLetter) {
    EXPECT_FALSE(hand_over_letter(folder, "Doe"));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].substr(0, asked[0].find('|')), "Select Letter Template Document");
}

// A container that does not verify gives no letter: the forged details beside it are not read and
// no template is asked for.
TEST_F(LettersUiTest, UnverifiedSignedReportMakesNoLetter) {
    write_file(t / "R.IMG" / "signed.dat", "not a container");
    EXPECT_FALSE(hand_over_letter(folder, "Doe"));
    EXPECT_TRUE(asked.empty());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Error);
}

}  // namespace
}  // namespace tv::gui
