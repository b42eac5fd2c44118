// The archive dialogs as windows: the ARCHDIR.DAT chooser, the folder picker and "Choose
// Destination Archive" creating a new archive.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>

#include "framework/qt/folder_dialog.h"
#include "framework/qt/qt_text.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

// Answers the next file dialog as a user does: goes to `pick` and presses the accept button.
class FileDialogAnswer {
public:
    explicit FileDialogAnswer(const fs::path& pick) {
        QObject::connect(&poll_, &QTimer::timeout, [this, pick] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || answered_) return;
            answered_ = true;
            dialog->selectFile(QString::fromUtf8(pick.c_str()));
            static_cast<QDialog*>(dialog)->accept();  // the accept button: QFileDialog checks the pick
        });
        poll_.start(5);
    }
    bool answered() const { return answered_; }

private:
    QTimer poll_;
    bool answered_ = false;
};

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

// Group folders whose names are not ASCII, picked through the real file dialogs: Locate lists the
// group's archives, Create writes the new group's index into the folder picked, and the folder
// picker of the export and search commands gives the folder as the file system spells it.
TEST_F(BrowserDialogsTest, FoldersWithNonAsciiNamesArePickedAsSpelled) {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    const fs::path sud = fs::path(root.path()) /
                         "S\xC3\xBC"
                         "d";  // "Süd" in UTF-8
    const fs::path nord = fs::path(root.path()) /
                          "Nord-S\xC3\xBC"
                          "d";
    testing_root::make_test_group(sud, {{"STANDARD", "STANDARD", {}}});
    fs::create_directories(nord);
    CTolbexApp app;
    gui::ChooseArchiveDlg dialog(false);
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto& c = static_cast<gui::ChooseArchiveDlg&>(d);
        {
            FileDialogAnswer answer(sud / "ARCHDIR.DAT");
            c.on_locate();
            EXPECT_TRUE(answer.answered());
        }
        EXPECT_EQ(c.folder_box()->currentText(), QString::fromUtf8(sud.c_str()));
        EXPECT_EQ(c.archive_box()->count(), 1);
        EXPECT_EQ(from_qstring(c.archive_box()->currentText()), "STANDARD");
        {
            FileDialogAnswer answer(nord);
            c.on_create();
            EXPECT_TRUE(answer.answered());
        }
        EXPECT_TRUE(fs::exists(nord / "ARCHDIR.DAT"));
        EXPECT_TRUE(fs::is_directory(nord / "STANDARD"));
        EXPECT_EQ(c.folder_box()->currentText(), QString::fromUtf8(nord.c_str()));
        EXPECT_EQ(c.archive_box()->count(), 1);
        return static_cast<int>(QDialog::Rejected);
    });
    dialog.exec_modal();

    FileDialogAnswer answer(sud);
    EXPECT_EQ(fw::browse_for_folder("Export to", ""), sud.string());
    EXPECT_TRUE(answer.answered());
}

}  // namespace
}  // namespace tv
