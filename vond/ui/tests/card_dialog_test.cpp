// vond's dialogs, offscreen, driven through the dialog test hook and the scripted prompter.
#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QPushButton>

#include <gtest/gtest.h>

#include "common/ui.h"
#include "vond/messages.h"
#include "vond/ui/tests/vond_ui_test.h"
#include "vond/ui/vond_windows.h"

namespace {

namespace fs = std::filesystem;

class VondDialogTest : public tv::vond::test::VondUiTest {
protected:
    static void click(tv::fw::Dialog& d, const char* name) {
        auto* b = d.findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(b, nullptr);
        b->click();
    }
    tv::vond::CardDisk disk;
};

TEST_F(VondDialogTest, CardDialogExitLeavesWithoutInitialising) {
    tv::vond::CardDialogRules rules(disk, t.string());
    tv::vond::QtVondWindows w;
    EXPECT_TRUE(w.available());
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        click(d, "exit");
        return d.result();
    });
    EXPECT_EQ(w.show_card_dialog(rules), 1);
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(VondDialogTest, CardDialogWithoutADriveAsksForOne) {
    tv::vond::CardDialogRules rules(disk, t.string());
    rules.name = "DOE^JOHN";
    tv::vond::QtVondWindows w;
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        click(d, "initialiseCard");
        click(d, "exit");
        return d.result();
    });
    EXPECT_EQ(w.show_card_dialog(rules), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, tv::vond::message_text(132));
    EXPECT_EQ(rules.name, "DOE^JOHN");  // the edit round-trips the value
}

TEST_F(VondDialogTest, ReadDialogWithoutACardSaysSo) {
    tv::vond::ReadDialogRules rules(disk, t.string());
    rules.automatic = false;
    tv::vond::QtVondWindows w;
    tv::fw::Dialog::set_test_hook([](tv::fw::Dialog& d) {
        click(d, "readPatient");
        click(d, "exit");
        return d.result();
    });
    EXPECT_EQ(w.show_read_dialog(rules, 8, '?'), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, tv::vond::message_text(131));
}

TEST_F(VondDialogTest, ProgressDialogsKeepTheirRanges) {
    tv::vond::QtVondWindows w;
    auto p = w.open_progress(false);
    p->set_range(100000);
    p->set_position(70000);
    auto q = w.open_progress(true);
    q->set_range(5000000);
    q->set_position(4000000);
}

}  // namespace
