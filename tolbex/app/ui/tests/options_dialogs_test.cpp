// The Options dialogs run from the main window's menu, offscreen, and the browser's Play button
// with a stand-in player on PATH.
#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "framework/qt/folder_dialog.h"
#include "framework/qt/tests/access_keys.h"
#include "framework/qt/qt_text.h"
#include "common/registry.h"
#include "platform/registry.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/options_dialogs.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/intake/cef_settings.h"
#include "tolbex/intake/ui/intake_dialogs.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::RegValue;
using testing_root::stored_profile_value;

using uitest::settle;

class OptionsDialogsTest : public uitest::UiRootTest {
protected:
    void start() {
        ASSERT_TRUE(set_default_clinic_code("ab12"));
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        ASSERT_TRUE(windows->init_instance({}));
        settle();
        scripted.shown.clear();
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        fw::set_browse_for_folder_hook({});
        gui::set_file_chooser_hook({});
        windows.reset();
        core.reset();
        UiRootTest::TearDown();
    }
    CMainFrame* frame() { return windows->main_frame(); }
    // Runs the menu command with `drive` playing the user in its dialog.
    template <class Dlg>
    void run(fw::CommandId id, std::function<void(Dlg&)> drive) {
        frame()->update_command_ui();
        ASSERT_NE(nullptr, frame()->action(id)) << id;
        EXPECT_TRUE(frame()->action(id)->isEnabled()) << id;
        bool ran = false;
        fw::Dialog::set_test_hook([&](fw::Dialog& d) {
            auto* dlg = dynamic_cast<Dlg*>(&d);
            EXPECT_NE(nullptr, dlg);
            if (!dlg) return 0;
            ran = true;
            drive(*dlg);
            return dlg->result();
        });
        EXPECT_TRUE(frame()->execute_command(id));
        EXPECT_TRUE(ran) << id;
    }
    std::string last_text() const { return scripted.shown.empty() ? std::string() : scripted.shown.back().text; }

    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
};

TEST_F(OptionsDialogsTest, PrintScalingShowsMillimetresAndStoresMicrometres) {
    ASSERT_TRUE(write_profile_int("Settings", "Left Margin", 12345));
    ASSERT_TRUE(write_profile_int("Settings", "Top Margin", 7000));
    start();
    run<gui::PrintScalingDlg>(menu::kPrintScaling, [&](gui::PrintScalingDlg& dlg) {
        EXPECT_EQ("Print Scaling", from_qstring(dlg.windowTitle()));
        EXPECT_FALSE(dlg.scaling_box()->isChecked());
        EXPECT_EQ("12", from_qstring(dlg.margin_edit(0)->text()));
        EXPECT_EQ("0", from_qstring(dlg.margin_edit(1)->text()));
        EXPECT_EQ("7", from_qstring(dlg.margin_edit(3)->text()));
        dlg.margin_edit(1)->setText(QStringLiteral("201"));
        dlg.on_ok();
        EXPECT_EQ(0, dlg.result());
        EXPECT_EQ("Please enter an integer between 0 and 200.", last_text());
        dlg.margin_edit(1)->setText(QStringLiteral("200"));
        dlg.scaling_box()->setChecked(true);
        dlg.on_ok();
    });
    EXPECT_EQ(RegValue::from_dword(12000), stored_profile_value("Settings", "Left Margin"));
    EXPECT_EQ(RegValue::from_dword(200000), stored_profile_value("Settings", "Right Margin"));
    EXPECT_EQ(RegValue::from_dword(0), stored_profile_value("Settings", "Bottom Margin"));
    EXPECT_EQ(RegValue::from_dword(7000), stored_profile_value("Settings", "Top Margin"));
    EXPECT_EQ(RegValue::from_dword(1), stored_profile_value("Settings", "ECG Scaling"));
    // The running program prints with the new values at once.
    EXPECT_EQ(200000, core->get_print_margins().right);
    EXPECT_TRUE(print_settings_of(core->settings()).true_scale);

    run<gui::PrintScalingDlg>(menu::kPrintScaling, [&](gui::PrintScalingDlg& dlg) {
        dlg.margin_edit(0)->setText(QStringLiteral("99"));
        dlg.on_cancel();
    });
    EXPECT_EQ(RegValue::from_dword(12000), stored_profile_value("Settings", "Left Margin"));
    EXPECT_EQ(12000, core->get_print_margins().left);
}

TEST_F(OptionsDialogsTest, MailSettingsNeverStoredShowTheDefaults) {
    // Without mail the start-up pruning removes the command.
    start();
    EXPECT_EQ(nullptr, frame()->action(menu::kMailSettings));
    windows.reset();
    core.reset();
    ASSERT_TRUE(reg_set_dword(HKEY_CURRENT_USER,
                              "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem", "MAPI",
                              1));
    ASSERT_TRUE(menu::is_mail_configured());
    start();
    run<gui::MailSettingsDlg>(menu::kMailSettings, [&](gui::MailSettingsDlg& dlg) {
        EXPECT_EQ("Default eMail Address", from_qstring(dlg.windowTitle()));
        EXPECT_EQ("", from_qstring(dlg.address_edit()->text()));
        EXPECT_EQ("8192", from_qstring(dlg.threshold_edit()->text()));
        dlg.address_edit()->setText(QStringLiteral("Dr Ward"));
        for (const char* bad : {"65536", "-1", "12x"}) {
            dlg.threshold_edit()->setText(QString::fromLatin1(bad));
            dlg.on_ok();
            EXPECT_EQ(0, dlg.result()) << bad;
            EXPECT_EQ("Please enter an integer between 0 and 65535.", last_text());
        }
        dlg.threshold_edit()->setText(QStringLiteral("65535"));
        dlg.on_ok();
    });
    EXPECT_EQ(RegValue::string("Dr Ward"), stored_profile_value("eMail", "Default Address"));
    EXPECT_EQ(RegValue::from_dword(65535), stored_profile_value("eMail", "Size Warning Threshold"));
    run<gui::MailSettingsDlg>(menu::kMailSettings, [&](gui::MailSettingsDlg& dlg) {
        EXPECT_EQ("Dr Ward", from_qstring(dlg.address_edit()->text()));
        dlg.address_edit()->setText(QStringLiteral("x"));
        dlg.on_cancel();
    });
    EXPECT_EQ(RegValue::string("Dr Ward"), stored_profile_value("eMail", "Default Address"));
}

TEST_F(OptionsDialogsTest, ExternalProgramSettingsAskAboutAMissingProgram) {
    start();
    run<gui::ExternalProgramDlg>(menu::kExternalProgramSettings, [&](gui::ExternalProgramDlg& dlg) {
        EXPECT_EQ("External Program Settings", from_qstring(dlg.windowTitle()));
        EXPECT_EQ("", from_qstring(dlg.program_edit()->text()));
        dlg.program_edit()->setText(QStringLiteral("/no/such/feed -q"));
        dlg.error_file_edit()->setText(QStringLiteral("/tmp/feed.err"));
        dlg.visible_box()->setChecked(true);
        scripted.answers = {MsgResult::No};
        dlg.on_ok();
        EXPECT_EQ(0, dlg.result());
        EXPECT_EQ("The external program\n\"/no/such/feed -q\"\ncannot be found.\n\nDo you want to continue?",
                  last_text());
        EXPECT_FALSE(stored_profile_value("External Program", "Program Name"));
        scripted.answers = {MsgResult::Yes};
        dlg.on_ok();
    });
    EXPECT_EQ(RegValue::string("/no/such/feed -q"), stored_profile_value("External Program", "Program Name"));
    EXPECT_EQ(RegValue::string("/tmp/feed.err"), stored_profile_value("External Program", "Error File Name"));
    EXPECT_EQ(RegValue::from_dword(1), stored_profile_value("External Program", "Visible Window"));
    EXPECT_EQ("/no/such/feed -q", core->get_external_program().program_name);
    EXPECT_TRUE(core->get_external_program().visible_window);

    // An existing program passes without a question; Cancel keeps the record.
    scripted.shown.clear();
    run<gui::ExternalProgramDlg>(menu::kExternalProgramSettings, [&](gui::ExternalProgramDlg& dlg) {
        EXPECT_TRUE(dlg.visible_box()->isChecked());
        dlg.program_edit()->setText(QStringLiteral("sh -c true"));
        dlg.on_cancel();
    });
    EXPECT_EQ("/no/such/feed -q", core->get_external_program().program_name);
    run<gui::ExternalProgramDlg>(menu::kExternalProgramSettings, [&](gui::ExternalProgramDlg& dlg) {
        dlg.program_edit()->setText(QStringLiteral("sh -c true"));
        dlg.on_ok();
    });
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_EQ("sh -c true", core->get_external_program().program_name);
}

// Browse... picks the program from the disk: a path with blanks goes into the field in quotes.
TEST_F(OptionsDialogsTest, ExternalProgramBrowseFillsInTheChosenProgram) {
    start();
    const std::string program = (fs::path(root.path()) / "site tools" / "feed").string();
    testing_root::write_file(program, "#!/bin/sh\n");
    ::chmod(program.c_str(), 0755);
    run<gui::ExternalProgramDlg>(menu::kExternalProgramSettings, [&](gui::ExternalProgramDlg& dlg) {
        QPushButton* browse = nullptr;
        for (QPushButton* b : dlg.findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("&Browse...")) browse = b;
        ASSERT_NE(browse, nullptr);
        std::vector<std::string> offered;
        gui::set_file_chooser_hook([&](const std::string& initial) {
            offered.push_back(initial);
            return program;
        });
        dlg.program_edit()->setText(QStringLiteral("/usr/bin/old"));
        browse->click();
        EXPECT_EQ(offered, (std::vector<std::string>{"/usr/bin/old"}));
        EXPECT_EQ('"' + program + '"', from_qstring(dlg.program_edit()->text()));
        dlg.on_ok();
    });
    for (const auto& m : scripted.shown) ADD_FAILURE() << m.text;
    EXPECT_EQ('"' + program + '"', core->get_external_program().program_name);
}

TEST_F(OptionsDialogsTest, DefaultFolderCommandsKeepTheFolderWhenCancelled) {
    start();
    struct Case {
        fw::CommandId id;
        const char* entry;
        const char* caption;
    };
    for (const Case& c : {Case{menu::kCefStoreFolder, "CEF Store", "Select default folder for storing CEF files:"},
                          {menu::kExportFolder, "Export Folder", "Select the default folder for exported reports:"}}) {
        ASSERT_TRUE(write_profile_string("Settings", c.entry, "/old"));
        frame()->update_command_ui();
        ASSERT_NE(nullptr, frame()->action(c.id));
        EXPECT_TRUE(frame()->action(c.id)->isEnabled());
        std::string title, initial;
        fw::set_browse_for_folder_hook([&](const std::string& t, const std::string& i) {
            title = t;
            initial = i;
            return std::string();
        });
        EXPECT_TRUE(frame()->execute_command(c.id));
        EXPECT_EQ(c.caption, title);
        EXPECT_EQ("/old", initial);
        EXPECT_EQ(RegValue::string("/old"), stored_profile_value("Settings", c.entry));
        fw::set_browse_for_folder_hook([](const std::string&, const std::string&) { return "/data/new"; });
        EXPECT_TRUE(frame()->execute_command(c.id));
        EXPECT_EQ(RegValue::string("/data/new"), stored_profile_value("Settings", c.entry));
    }
}

TEST_F(OptionsDialogsTest, LetterOptionsFromTheMenu) {
    start();
    const std::string templ = (fs::path(root.path()) / "tpl.doc").string();
    testing_root::write_file(templ, "x");
    const std::string out = (fs::path(root.path()) / "letters").string();
    run<gui::LetterOptionsDlg>(menu::kLetterOptions, [&](gui::LetterOptionsDlg& dlg) {
        EXPECT_EQ("Letter Creation Options", from_qstring(dlg.windowTitle()));
        EXPECT_TRUE(dlg.ask_template()->isChecked());
        EXPECT_TRUE(dlg.report_name()->isChecked());
        EXPECT_TRUE(dlg.report_folder()->isChecked());
        gui::set_file_chooser_hook([&](const std::string&) { return templ; });
        dlg.browse_template();
        EXPECT_EQ(templ, from_qstring(dlg.template_edit()->text()));
        fw::set_browse_for_folder_hook([&](const std::string& title, const std::string&) {
            EXPECT_EQ("Where should the output letter document be saved?", title);
            return out;
        });
        dlg.browse_folder();
        dlg.default_template()->setChecked(true);
        dlg.fixed_name()->setChecked(true);
        dlg.one_folder()->setChecked(true);
        dlg.name_edit()->setText(QStringLiteral("a:b"));
        dlg.on_ok();
        EXPECT_EQ(0, dlg.result());
        EXPECT_EQ("Invalid Data", scripted.shown.back().caption);
        dlg.name_edit()->setText(QStringLiteral("Letter"));
        scripted.answers = {MsgResult::Ok};  // create the folder
        dlg.on_ok();
    });
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_EQ((letters::LetterOptions{templ, "Letter", out, false, true, false}), letters::read_letter_options());
    run<gui::LetterOptionsDlg>(menu::kLetterOptions, [&](gui::LetterOptionsDlg& dlg) {
        EXPECT_TRUE(dlg.default_template()->isChecked());
        EXPECT_TRUE(dlg.fixed_name()->isChecked());
        EXPECT_TRUE(dlg.one_folder()->isChecked());
        EXPECT_EQ(out, from_qstring(dlg.folder_edit()->text()));
        dlg.report_folder()->setChecked(true);
        dlg.on_cancel();
    });
    EXPECT_FALSE(letters::read_letter_options().save_with_report);
}

// Each key of Letter Creation Options reaches its own control; the two Browse... buttons differ.
TEST_F(OptionsDialogsTest, LetterOptionsAccessKeysReachEachControl) {
    start();
    int chosen = 0;
    gui::set_file_chooser_hook([&](const std::string&) {
        ++chosen;
        return std::string();
    });
    fw::set_browse_for_folder_hook([&](const std::string&, const std::string&) {
        chosen += 10;
        return std::string();
    });
    std::vector<std::string> faults;
    run<gui::LetterOptionsDlg>(menu::kLetterOptions, [&](gui::LetterOptionsDlg& dlg) {
        faults = fw::testing::access_key_faults(dlg);
        dlg.on_cancel();
    });
    for (const std::string& f : faults) ADD_FAILURE() << f;
    EXPECT_EQ(11, chosen);
}

TEST_F(OptionsDialogsTest, DefaultCompressionFromTheMenu) {
    ASSERT_TRUE(set_cef_bitred(false, 0));
    start();
    run<gui::DefaultCompressionDlg>(menu::kDefaultCompression, [&](gui::DefaultCompressionDlg& dlg) {
        EXPECT_EQ("Default ECG Compression", from_qstring(dlg.windowTitle()));
        EXPECT_EQ(dlg.slider()->value(), 3);
        dlg.slider()->setValue(1);
        dlg.on_ok();
    });
    EXPECT_EQ(get_cef_bitred(false), 3);
}

TEST_F(OptionsDialogsTest, AboutShowsTheProductVersion) {
    start();
    std::string text;
    run<gui::AboutDlg>(menu::kAbout, [&](gui::AboutDlg& dlg) {
        text = from_qstring(dlg.version_label()->text());
        dlg.on_ok();
    });
    EXPECT_EQ(0u, text.find("Calvera Version ")) << text;
    EXPECT_GT(text.size(), std::string("Calvera Version ").size()) << text;
}

TEST_F(OptionsDialogsTest, PlayButtonPlaysTheReportsSound) {
    const fs::path bin = fs::path(root.path()) / "bin";
    const fs::path log = fs::path(root.path()) / "played";
    testing_root::write_file(bin / "aplay",
                             "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> " + log.string() + "\n");
    ::chmod((bin / "aplay").c_str(), 0755);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
    const fs::path group = fs::path(root.path()) / "GROUP";
    const std::string path =
        testing_root::make_test_group(group,
                                      {{"STANDARD", "STANDARD", {{"R1.IMG", "Ann Alder"}, {"R2.IMG", "Ben Brook"}}}});
    testing_root::write_file(group / "STANDARD" / "R1.IMG" / "Patient.Wav", "RIFF");
    start();
    gui::CBrowserListDoc* doc = gui::open_archive_group(path);
    ASSERT_NE(nullptr, doc);
    auto* browser = dynamic_cast<gui::CBrowserFrame*>(doc->views().front());
    ASSERT_NE(nullptr, browser);
    settle();
    auto select = [&](const std::string& name) {
        auto& list = *browser->list_view();
        for (int i = 0; i < list.list_model().item_count(); ++i)
            if (list.list_model().item_text(i, 0) == name) list.select_items({i});
        settle();
        frame()->update_command_ui();
        settle();
    };
    select("Ben Brook");
    EXPECT_FALSE(browser->play_button()->isEnabled());
    select("Ann Alder");
    ASSERT_TRUE(browser->play_button()->isEnabled());
    browser->play_button()->click();
    EXPECT_TRUE(scripted.shown.empty());
    // No sound device: the player's own words reach the user.
    testing_root::write_file(bin / "aplay",
                             "#!/bin/sh\necho 'ALSA lib conf.c:5180: no card' >&2\n"
                             "echo 'aplay: main:831: audio open error: No such file or directory' >&2\nexit 1\n");
    browser->play_button()->click();
    setenv("PATH", old_path.c_str(), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "The sound could not be played.\n\naplay: main:831: audio open error: No such file or directory");
    std::ifstream in(log, std::ios::binary);
    const std::string played((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ("-q\n--\n" + (group / "STANDARD" / "R1.IMG" / "Patient.Wav").string() + "\n", played);
}

}  // namespace
}  // namespace tv
