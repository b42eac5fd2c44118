// Recording > Tape from the main window: the built KELMOTH (linked beside this test as the program
// looks for it) on the simulated deck, Tape Options, the loading dialog and Patient Details answered
// through the dialog hook, and the CEF saved in the folder the user chose.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include "framework/qt/qt_text.h"
#include "platform/fs.h"
#include "framework/qt/tests/qt_test_app.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/intake/ui/intake_dialogs.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "tolbex/tape/tests/tape_test_support.h"
#include "tolbex/tape/ui/tape_dialogs.h"

namespace tv::tape_test {
namespace {

class TapeMenu : public TapeTest {
protected:
    TapeMenu() { fw::testing::qt_app(); }
    void SetUp() override {
        register_tolbex_strings();
        TapeTest::SetUp();
        // Mail offered, so that Send as Mail stays on the menu.
        ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER,
                                   "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem",
                                   "MAPI", "1"));
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        ASSERT_TRUE(windows->init_instance({}));
        uitest::settle();
        scripted.shown.clear();
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        windows.reset();
        core.reset();
        TapeTest::TearDown();
    }
    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
};

TEST_F(TapeMenu, StoreInFolderFromTheMenuSavesTheTapeAsACef) {
    CMainFrame* frame = windows->main_frame();
    for (fw::CommandId id : {menu::kTapeStoreInArchive, menu::kTapeStoreInFolder, menu::kTapeSendAsMail}) {
        ASSERT_NE(frame->action(id), nullptr) << id;
        EXPECT_TRUE(frame->action(id)->isEnabled()) << id;
    }
    EXPECT_NE(fw::describe_menu(frame->menu_model()).find("&Tape"), std::string::npos);

    tapegen::Options tape;
    tape.type = 2;
    tape.packets = 2000;
    const tapegen::Expected e = play(tape);

    const fs::path folder = t / "chosen";
    fs::create_directories(folder);
    IntakeWindowing w = intake_windowing();
    std::string offered_name;
    w.save_as = [&](const std::string& name, const std::string&) {
        offered_name = name;
        return (folder / name).string();
    };
    set_intake_windowing(w);

    bool details_seen = false;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* options = dynamic_cast<gui::TapeOptionsDlg*>(&d)) {
            options->type_list()->setCurrentIndex(1);
            options->size_slider()->setValue(3);
            options->on_ok();
            return options->result();
        }
        if (auto* loading = dynamic_cast<gui::TapeLoadDlg*>(&d)) return loading->QDialog::exec();
        auto* details = dynamic_cast<gui::PatientDetailsDlg*>(&d);
        EXPECT_NE(details, nullptr);
        if (!details) return static_cast<int>(QDialog::Rejected);
        details_seen = true;
        EXPECT_EQ(from_qstring(details->field("Recorder ID:")->text()), e.serial_text);
        EXPECT_EQ(from_qstring(details->field("Recording Date:")->text()), e.recording_date);
        EXPECT_TRUE(details->play_button()->isHidden());
        EXPECT_FALSE(details->compression_group()->isHidden());
        EXPECT_TRUE(details->compress_box()->isChecked());
        EXPECT_FALSE(details->compress_box()->isEnabled());
        EXPECT_EQ(details->slider()->value(), 3);  // the level Tape Options just stored
        details->field("Patient Name:")->setText("Doe Jane");
        details->field("Transfer Filename:")->setText("abcd1234566");
        // The deck's date, in the user's short form with four year digits, passes the dialog's check.
        details->on_ok();
        return details->result();
    });
    EXPECT_TRUE(frame->execute_command(menu::kTapeStoreInFolder));
    EXPECT_TRUE(details_seen);
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_EQ(offered_name, "ABCD1234566.CEF");
    // Nothing of the intake is left behind.
    EXPECT_TRUE(intake_mappings(shared_objects()).empty());
    for (const auto& name : platform::testing::sorted_names(root.tmp()))
        EXPECT_EQ(name.rfind("runtime-", 0), 0u) << name;  // Qt's own

    fs::create_directories(t / "out");
    CefUnpacker cef((folder / "ABCD1234566.CEF").string(), (t / "out").string());
    ASSERT_EQ(cef.get_error(), 0);
    ASSERT_TRUE(cef.unpack());
    EXPECT_EQ(cef.get_description().channel_count, 3);
    EXPECT_EQ(get_cef_description(cef.get_description()), "Doe Jane");  // the description follows the name
    const std::string patient = platform::read_whole_file((t / "out/PATIENT.TXT").string()).value_or("");
    EXPECT_NE(patient.find("\r\nDoe Jane\r\n"), std::string::npos);
    EXPECT_NE(patient.find("\r\n" + e.recording_date + "\r\n" + e.serial_text + "\r\n" + e.serial_text + "\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tv::tape_test
