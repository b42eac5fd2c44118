// While the window thread waits for another program it keeps handling events; what the user
// could do meanwhile must not start a second intake or close the program under the wait.
#include <QAction>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include "common/runner.h"
#include "framework/qt/frame.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

class ChildRunGuardTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        UiRootTest::SetUp();
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        ASSERT_TRUE(windows->init_instance({}));
        uitest::settle();
    }
    void TearDown() override {
        windows.reset();
        core.reset();
        UiRootTest::TearDown();
    }
    CMainFrame* frame() { return windows->main_frame(); }
    // Opens the menu that holds the command, as a click on its title does, and reads its item.
    bool card_intake_enabled() {
        QAction* action = frame()->action(menu::kCardStoreInArchive);
        EXPECT_NE(action, nullptr);
        if (!action) return false;
        QMenu* menu = nullptr;
        for (QObject* o : action->associatedObjects())
            if (auto* m = qobject_cast<QMenu*>(o)) menu = m;
        EXPECT_NE(menu, nullptr);
        if (!menu) return false;
        menu->popup(frame()->geometry().center());
        const bool enabled = action->isEnabled();
        menu->hide();
        return enabled;
    }

    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
};

TEST_F(ChildRunGuardTest, CardIntakeAndClosingWaitForTheChildToEnd) {
    ASSERT_TRUE(frame()->isVisible());
    ASSERT_TRUE(card_intake_enabled());
    // The child runs until the test has looked.
    const std::string release = root / "release";
    bool looked = false, enabled_meanwhile = true, ran_meanwhile = true, visible_after_close = false;
    std::size_t shown_before = 0;
    QTimer::singleShot(0, [&] {
        looked = true;
        enabled_meanwhile = card_intake_enabled();
        ran_meanwhile = frame()->execute_command(menu::kCardStoreInArchive);
        shown_before = scripted.shown.size();
        frame()->close();
        visible_after_close = frame()->isVisible();
        uitest::write_file(release, "");
    });
    const int code = run_child({"sh", "-c", "while [ ! -e '" + release + "' ]; do sleep 0.05; done; exit 3"}).code();
    EXPECT_EQ(3, code);
    ASSERT_TRUE(looked) << "the window thread did not handle events during the wait";
    EXPECT_FALSE(enabled_meanwhile);
    EXPECT_FALSE(ran_meanwhile);
    EXPECT_TRUE(visible_after_close);
    ASSERT_EQ(shown_before + 1, scripted.shown.size());
    EXPECT_EQ(fw::kChildStillRunningText, scripted.shown.back().text);

    // Over: both work again.
    uitest::settle();
    EXPECT_TRUE(card_intake_enabled());
    frame()->close();
    uitest::settle();
    EXPECT_FALSE(frame()->isVisible());
}

}  // namespace
}  // namespace tv
