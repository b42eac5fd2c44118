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

TEST(Ui, ConsoleWritesToStderrAndDeclines) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tv::ui().message_box("Overwrite the file?", "Export", tv::MsgIcon::Question, tv::MsgButtons::YesNo),
              tv::MsgResult::No);
    tv::show_error("No card");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Export: Overwrite the file?\nNo card\n");
}
