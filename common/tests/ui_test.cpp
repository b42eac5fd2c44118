#include "common/ui.h"

#include <gtest/gtest.h>

TEST(Ui, SafeAnswers) {
    EXPECT_EQ(tv::safe_answer(tv::MsgButtons::Ok), tv::MsgResult::Ok);
    EXPECT_EQ(tv::safe_answer(tv::MsgButtons::OkCancel), tv::MsgResult::Cancel);
    EXPECT_EQ(tv::safe_answer(tv::MsgButtons::YesNo), tv::MsgResult::No);
    EXPECT_EQ(tv::safe_answer(tv::MsgButtons::YesNoCancel), tv::MsgResult::Cancel);
    EXPECT_EQ(tv::safe_answer(tv::MsgButtons::RetryCancel), tv::MsgResult::Cancel);
}

TEST(Ui, ScriptedAnswersThenSafeAnswers) {
    tv::ScriptedUi scripted;
    scripted.answers = {tv::MsgResult::Yes, tv::MsgResult::Retry};
    tv::set_ui(&scripted);
    EXPECT_EQ(tv::ui().message_box("Delete?", "Archive", tv::MsgIcon::Question, tv::MsgButtons::YesNo),
              tv::MsgResult::Yes);
    EXPECT_EQ(tv::ui().message_box("Again?", "", tv::MsgIcon::Warning, tv::MsgButtons::RetryCancel),
              tv::MsgResult::Retry);
    EXPECT_EQ(tv::ui().message_box("More?", "", tv::MsgIcon::Question, tv::MsgButtons::YesNoCancel),
              tv::MsgResult::Cancel);
    tv::show_error("Disk full", "Error While Storing");
    tv::set_ui(nullptr);

    ASSERT_EQ(scripted.shown.size(), 4u);
    EXPECT_EQ(scripted.shown[0].text, "Delete?");
    EXPECT_EQ(scripted.shown[0].caption, "Archive");
    EXPECT_EQ(scripted.shown[3].text, "Disk full");
    EXPECT_EQ(scripted.shown[3].caption, "Error While Storing");
    EXPECT_EQ(scripted.shown[3].icon, tv::MsgIcon::Error);
    EXPECT_EQ(scripted.shown[3].buttons, tv::MsgButtons::Ok);
}

TEST(Ui, DefaultButtonByPlace) {
    using tv::MsgButtons, tv::MsgDefault, tv::MsgResult;
    struct Case {
        MsgButtons buttons;
        MsgDefault def;
        MsgResult expected;
    };
    const Case cases[] = {
        {MsgButtons::Ok, MsgDefault::First, MsgResult::Ok},
        {MsgButtons::Ok, MsgDefault::Third, MsgResult::Ok},
        {MsgButtons::OkCancel, MsgDefault::Second, MsgResult::Cancel},
        {MsgButtons::YesNo, MsgDefault::First, MsgResult::Yes},
        {MsgButtons::YesNo, MsgDefault::Second, MsgResult::No},
        {MsgButtons::YesNo, MsgDefault::Third, MsgResult::Yes},
        {MsgButtons::YesNoCancel, MsgDefault::Third, MsgResult::Cancel},
        {MsgButtons::RetryCancel, MsgDefault::First, MsgResult::Retry},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tv::default_button(c.buttons, c.def), c.expected) << int(c.buttons) << " " << int(c.def);
}

TEST(Ui, ScriptedRecordsTheDefaultButton) {
    tv::ScriptedUi scripted;
    tv::set_ui(&scripted);
    tv::ui().message_box("Delete?", "", tv::MsgIcon::Question, tv::MsgButtons::YesNo);
    tv::ui().message_box("Delete for good?", "", tv::MsgIcon::Question, tv::MsgButtons::YesNo, tv::MsgDefault::Second);
    tv::set_ui(nullptr);
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].default_button, tv::MsgResult::Yes);
    EXPECT_EQ(scripted.shown[1].default_button, tv::MsgResult::No);
}

TEST(Ui, ConsoleWritesToStderrAndDeclines) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tv::ui().message_box("Overwrite the file?", "Export", tv::MsgIcon::Question, tv::MsgButtons::YesNo),
              tv::MsgResult::No);
    // A hidden run keeps its safe answer whichever button Enter would press.
    EXPECT_EQ(tv::ui().message_box("Keep going?", "", tv::MsgIcon::Question, tv::MsgButtons::OkCancel,
                                   tv::MsgDefault::First),
              tv::MsgResult::Cancel);
    tv::show_error("No card");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Export: Overwrite the file?\nKeep going?\nNo card\n");
}
