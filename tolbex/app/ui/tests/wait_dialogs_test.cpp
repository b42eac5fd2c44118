#include "framework/qt/wait_dialogs.h"

#include <future>

#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include "framework/qt/timer.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

class WaitDialogTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        uitest::UiRootTest::SetUp();
        main.resize(300, 200);
        main.show();
        fw::set_main_window(&main);
    }
    void TearDown() override {
        fw::set_main_window(nullptr);
        uitest::UiRootTest::TearDown();
    }
    QWidget main;
};

TEST_F(WaitDialogTest, NestedWaitsPutBackTheEnabledStateTheyFound) {
    {
        PleaseWaitDlg outer("Copying...");
        EXPECT_FALSE(main.isEnabled());
        EXPECT_TRUE(outer.isEnabled());
        EXPECT_TRUE(outer.isVisible());
        EXPECT_EQ("Copying...", outer.text());
        outer.set_text("Still copying");
        EXPECT_EQ("Still copying", outer.text());
        {
            MoveCopyWaitDlg inner;
            EXPECT_FALSE(main.isEnabled());
            EXPECT_EQ("Moving/Copying Reports\nPlease Wait.", inner.text());
        }
        // The outer operation still runs: the window stays disabled.
        EXPECT_FALSE(main.isEnabled());
    }
    EXPECT_TRUE(main.isEnabled());

    // Disabled by someone else before: a wait leaves it disabled.
    main.setEnabled(false);
    { PleaseWaitDlg w("x"); }
    EXPECT_FALSE(main.isEnabled());
    main.setEnabled(true);
}

TEST_F(WaitDialogTest, MoveCopyWaitNamesTheReportBelowItsHeadingAndTellsTheObserver) {
    std::vector<std::string> told;
    set_wait_text_observer([&](const TextWaitDlg& dialog, const std::string& text) {
        EXPECT_TRUE(dialog.isVisible());
        told.push_back(text);
    });
    {
        MoveCopyWaitDlg dlg;
        EXPECT_EQ("", dlg.report_text());
        dlg.set_report_text("Ann Alder");
        dlg.set_report_text("Ben Brook");
        EXPECT_EQ("Moving/Copying Reports\nPlease Wait.", dlg.text());
        EXPECT_EQ("Ben Brook", dlg.report_text());
    }
    set_wait_text_observer({});
    { LoadingReportDlg untold; }
    EXPECT_EQ((std::vector<std::string>{"Moving/Copying Reports\nPlease Wait.", "Ann Alder", "Ben Brook"}), told);
}

TEST_F(WaitDialogTest, FixedTextDialogsShowTheirTexts) {
    EXPECT_EQ("Please wait while the pages that you selected are exported.", ExportWaitDlg().text());
    EXPECT_EQ("Loading Report\nPlease Wait...", LoadingReportDlg().text());
    EXPECT_EQ("Searching for Archives\nPlease Wait.", SearchingArchivesDlg().text());
    EXPECT_EQ("Uncompressing Report Files\nPlease Wait.", ReceivingMailDlg().text());
    EXPECT_EQ("Compressing Report Files\nPlease Wait.", CompressWaitDlg().text());
    // These do not touch the main window.
    EXPECT_TRUE(main.isEnabled());
}

TEST_F(WaitDialogTest, ExternalProgramWaitWithoutProcessClosesAtFirstTick) {
    fw::ManualTimers timers;
    ExternalProgramWaitDlg dlg;
    QTimer::singleShot(0, [&] {
        ASSERT_EQ(1u, timers.count());
        EXPECT_EQ(kWaitTickMs, timers.interval(0));
        timers.fire(0);
    });
    EXPECT_EQ(QDialog::Accepted, dlg.run());
    EXPECT_FALSE(dlg.stopped_by_user());
}

TEST_F(WaitDialogTest, StopWaitingQuestionHoldsTheDialogUntilAnswered) {
    fw::ManualTimers timers;
    bool running = true;
    ExternalProgramWaitDlg dlg;
    dlg.set_running([&] { return running; });
    bool seen_open_after_no = false;
    QTimer::singleShot(0, [&] {
        timers.fire(0);  // still running
        EXPECT_TRUE(dlg.isVisible());
        // "No": back to waiting; the program has ended meanwhile, so the next tick closes.
        scripted.answers = {MsgResult::No};
        running = false;
        dlg.on_stop_waiting();
        seen_open_after_no = dlg.isVisible();
        timers.fire(0);
    });
    dlg.run();
    EXPECT_TRUE(seen_open_after_no);
    EXPECT_FALSE(dlg.stopped_by_user());
    ASSERT_EQ(1u, scripted.shown.size());
    EXPECT_EQ(kStopWaitingQuestion, scripted.shown[0].text);
    EXPECT_EQ(MsgButtons::YesNo, scripted.shown[0].buttons);

    ExternalProgramWaitDlg dlg2;
    dlg2.set_running([] { return true; });
    QTimer::singleShot(0, [&] {
        scripted.answers = {MsgResult::Yes};
        dlg2.on_stop_waiting();
    });
    dlg2.run();
    EXPECT_TRUE(dlg2.stopped_by_user());
}

TEST_F(WaitDialogTest, EscapeAndTheCloseButtonAskBeforeTheWaitEnds) {
    fw::ManualTimers timers;
    ExternalProgramWaitDlg dlg;
    dlg.set_running([] { return true; });
    bool open_after_escape = false, open_after_close = false;
    QTimer::singleShot(0, [&] {
        dlg.activateWindow();
        scripted.answers = {MsgResult::No};
        QTest::keyClick(&dlg, Qt::Key_Escape);
        open_after_escape = dlg.isVisible();
        scripted.answers = {MsgResult::No};
        dlg.close();  // the title bar's close button
        open_after_close = dlg.isVisible();
        scripted.answers = {MsgResult::Yes};
        QTest::keyClick(&dlg, Qt::Key_Escape);
    });
    dlg.run();
    EXPECT_TRUE(open_after_escape);
    EXPECT_TRUE(open_after_close);
    EXPECT_TRUE(dlg.stopped_by_user());
    ASSERT_EQ(3u, scripted.shown.size());
    for (const auto& shown : scripted.shown) {
        EXPECT_EQ(kStopWaitingQuestion, shown.text);
        EXPECT_EQ(MsgResult::No, shown.default_button);  // a hasty Enter keeps waiting
    }
}

TEST_F(WaitDialogTest, WorkerWaitEndsOnlyAtTheTickAfterTheWorkEnded) {
    fw::ManualTimers timers;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    WorkerWaitDlg dlg("Please exit", [gate] {
        gate.wait();
        return 42u;
    });
    bool open_while_working = false;
    // Runs once the dialog's own loop (and so its timer and worker) is there. The re-poll waits a
    // few milliseconds: a zero-delay re-post would be taken again by the processEvents() that
    // run() makes before it creates the timer, and never return.
    std::function<void()> drive = [&] {
        if (timers.count() == 0) {
            QTimer::singleShot(5, drive);
            return;
        }
        timers.fire(0);  // the work still runs
        open_while_working = dlg.isVisible();
        release.set_value();
        while (!dlg.worker_finished()) std::this_thread::yield();
        timers.fire(0);
    };
    QTimer::singleShot(0, drive);
    dlg.run();
    EXPECT_TRUE(open_while_working);
    EXPECT_EQ(42u, dlg.result());
}

}  // namespace
}  // namespace tv
