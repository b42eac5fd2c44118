// The archive dialogs as windows: the ARCHDIR.DAT chooser, the folder picker and "Choose
// Destination Archive" creating a new archive.
#include <QComboBox>
#include <QPushButton>

#include "framework/qt/qt_text.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class BrowserDialogsTest : public uitest::UiRootTest {
protected:
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        gui::set_archive_file_hook({});
        fw::set_browse_for_folder_hook({});
        UiRootTest::TearDown();
    }
};

TEST_F(BrowserDialogsTest, ArchiveFileMustBeArchdirAndFolderPickerDropsTheSeparator) {
    std::vector<std::string> picks = {"/x/ARCHDIR.BAK", "/x/archdir.dat"};
    gui::set_archive_file_hook([&](bool) {
        std::string p = picks.front();
        picks.erase(picks.begin());
        return p;
    });
    EXPECT_EQ(gui::choose_archive_file(nullptr, true), "/x/archdir.dat");
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, kWrongArchiveFileCaption);
    gui::set_archive_file_hook([](bool) { return std::string(); });
    EXPECT_EQ(gui::choose_archive_file(nullptr, true), "");

    fw::set_browse_for_folder_hook([](const std::string&, const std::string&) { return std::string("/data/x/"); });
    EXPECT_EQ(fw::browse_for_folder("t", ""), "/data/x");
    EXPECT_EQ(fw::strip_trailing_separator("/"), "/");
}

TEST_F(BrowserDialogsTest, ChooseDestinationCreatesANewArchiveCutTo15Characters) {
    const fs::path g = fs::path(root.path()) / "G";
    testing_root::make_test_group(g, {{"STANDARD", "STANDARD", {}}});
    {
        gui::ChooseArchiveDlg empty(false);
        empty.on_init_dialog();
        EXPECT_EQ(empty.folder_box()->count(), 0);
        EXPECT_FALSE(empty.ok_button()->isEnabled());
    }
    gui::ChooseArchiveDlg dialog(false);
    dialog.set_caption("Copying Reports");
    dialog.set_create_group([] { return std::string(); });
    gui::set_archive_file_hook([&](bool) { return (g / "ARCHDIR.DAT").string(); });
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto& c = static_cast<gui::ChooseArchiveDlg&>(d);
        c.on_locate();
        EXPECT_EQ(from_qstring(c.folder_box()->currentText()), g.string());
        EXPECT_EQ(from_qstring(c.archive_box()->currentText()), "STANDARD");
        c.archive_box()->setEditText("");
        EXPECT_FALSE(c.ok_button()->isEnabled());
        c.archive_box()->setEditText("A Much Longer Name!!");
        EXPECT_TRUE(c.ok_button()->isEnabled());
        c.on_ok();
        return c.result();
    });
    scripted.answers = {MsgResult::Ok};
    EXPECT_EQ(dialog.exec_modal(), QDialog::Accepted);
    EXPECT_EQ(from_qstring(dialog.windowTitle()), "Copying Reports");
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Confirm Creation of New Archive");
    EXPECT_EQ(dialog.get_archive_index(), 1);
    EXPECT_EQ(dialog.get_group_folder(), g.string());
    EXPECT_TRUE(fs::is_directory(dialog.get_archive_path()));
    EXPECT_NE(testing_root::read_all(g / "ARCHDIR.DAT").find("\r\nA Much Longer N\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tv
