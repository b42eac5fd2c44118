#include "tolbex/app/tolbex_app.h"

#include "common/audit_log.h"
#include "common/profile.h"
#include "platform/registry.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/patient_txt.h"
#include "testing/app_test_root.h"
#include "testing/decimal_comma_locale.h"

namespace tv {
namespace {

using testing_root::write_file;
namespace fs = std::filesystem;

class TolbexAppTest : public testing_root::RootTest {
protected:
    void set_machine(const char* name, const std::string& value) {
        ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, name, value));
    }
};

TEST_F(TolbexAppTest, WorkstationSwitchesLookAtThreeLetters) {
    EXPECT_TRUE(is_switch_on("YES, with logging"));
    EXPECT_TRUE(is_switch_on("yes"));
    EXPECT_TRUE(is_switch_on("yEs"));
    EXPECT_FALSE(is_switch_on("ye"));
    EXPECT_FALSE(is_switch_on(" yes"));
    EXPECT_FALSE(is_switch_on(""));
    EXPECT_FALSE(is_switch_on("\xE9yes"));

    set_machine("Enable Signing", "Yes");
    set_machine("Tavisol", "no");
    set_machine("Enable TIMI Rozaze", "YESS");
    CTolbexApp app;
    EXPECT_TRUE(app.settings().switches.signing_enabled);
    EXPECT_FALSE(app.settings().switches.site_switch);
    EXPECT_TRUE(app.settings().switches.timi_enabled);
    EXPECT_FALSE(app.settings().switches.logging_enabled);
    EXPECT_EQ(CTolbexApp::current(), &app);
}

TEST_F(TolbexAppTest, SettingsReadWithTheirDefaultsAndRanges) {
    CTolbexApp::set_export_folder("/x/y");
    EXPECT_EQ(get_profile_string("Settings", "Export Folder", ""), "/x/y");
    EXPECT_FALSE(CTolbexApp::is_merivale_pdf_enabled());
    write_profile_string("Pelwin", "Enable Merivale PDF", "YES");
    EXPECT_TRUE(CTolbexApp::is_merivale_pdf_enabled());

    write_profile_int("Settings", "Left Margin", 12000);
    write_profile_int("Settings", "ECG Scaling", 1);
    write_profile_string("External Program", "Program Name", "/bin/true");
    write_profile_int("External Program", "Visible Window", 1);
    CTolbexApp app;
    app.read_settings();
    EXPECT_EQ(app.get_print_margins().left, 12000);
    EXPECT_EQ(app.get_print_margins().top, 0);
    EXPECT_TRUE(app.settings().profile.ecg_scaling);
    EXPECT_EQ(app.get_external_program().program_name, "/bin/true");
    EXPECT_TRUE(app.get_external_program().visible_window);
    EXPECT_EQ(app.settings().profile.pdf_printer_name, "Adobe PDF");
}

TEST_F(TolbexAppTest, PathsFollowTheUserRootOrTheScreeningProduct) {
    const fs::path user_root = t / "a very long user root folder name that no fixed buffer would hold" / "x";
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, kAnalyserKey, "UserRoot", user_root.string()));
    reset_cached_roots();
    write_file(user_root / "GUI" / "device.dat", "1 \"/g1\" \"Main\"\r\n2 \"/g2\"\r\n");
    CTolbexApp app;
    app.form_paths();
    EXPECT_EQ(app.device_dat_path(), (user_root / "GUI" / "device.dat").string());
    EXPECT_EQ(app.repname_path(), (user_root / "GUI" / "REPNAME.TXT").string());
    EXPECT_TRUE(app.load_archive_configuration());
    EXPECT_TRUE(app.is_any_archive_configured());
    EXPECT_EQ(app.archive_config().get_count(), 2);

    CTolbexApp qds;
    TolbexSettings from_qds = qds.settings();
    from_qds.flags.from_qds = true;
    qds.set_settings(from_qds);
    ASSERT_TRUE(reg_set_string(HKEY_CURRENT_USER, kMainProgramUserKey, "Devices", (t / "q" / "DEV.DAT").string()));
    qds.form_paths();
    EXPECT_EQ(qds.device_dat_path(), (t / "q" / "DEV.DAT").string());
    EXPECT_EQ(qds.patdet_path(), (t / "q" / "PATDET.TXT").string());
    EXPECT_FALSE(qds.load_archive_configuration());
    EXPECT_FALSE(qds.is_any_archive_configured());

    // Unset, the user root is the machine's analysis-system folder; its GUI folder is made.
    platform::registry().delete_value(platform::RegRoot::CurrentUser, kAnalyserKey, "UserRoot");
    reset_cached_roots();
    CTolbexApp plain;
    plain.form_paths();
    EXPECT_TRUE(fs::is_directory(t / "root" / "ANALYSER" / "GUI"));
}

TEST_F(TolbexAppTest, VersionsOfTheAnalysisSystemAndOfReports) {
    EXPECT_EQ(CTolbexApp::get_analyser_revision(), 0.0);
    const fs::path sys = t / "sys";
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "SystemRoot", sys.string()));
    reset_cached_roots();
    write_file(sys / "SYSTEM" / "Version.txt",
               "header\r\nsome.other IS \"V1.0\"\r\ncurrent.software.revision IS \"V8.006\" built\r\n");
    EXPECT_DOUBLE_EQ(CTolbexApp::get_analyser_revision(), 8.006);
    write_file(sys / "SYSTEM" / "Version.txt", "current.software.revision IS \"V7.5");
    EXPECT_DOUBLE_EQ(CTolbexApp::get_analyser_revision(), 7.5);

    EXPECT_EQ(read_report_version((t / "r").string()), 0.0);
    write_file(t / "r" / "version.txt", "V8.006\r\n");
    EXPECT_DOUBLE_EQ(read_report_version((t / "r").string()), 8.006);
    write_file(t / "r" / "version.txt", "garbage");
    EXPECT_EQ(read_report_version((t / "r").string()), 0.0);
}

TEST_F(TolbexAppTest, VersionsReadTheSameUnderADecimalCommaLocale) {
    testing_root::DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << testing_root::DecimalCommaLocale::kMissing;
    const fs::path sys = t / "sys";
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "SystemRoot", sys.string()));
    reset_cached_roots();
    write_file(sys / "SYSTEM" / "Version.txt", "current.software.revision IS \"V8.006\"\r\n");
    EXPECT_DOUBLE_EQ(CTolbexApp::get_analyser_revision(), 8.006);
    write_file(t / "r" / "version.txt", "V8.006\r\n");
    EXPECT_DOUBLE_EQ(read_report_version((t / "r").string()), 8.006);
    // A comma is no decimal point in these files.
    write_file(t / "r" / "version.txt", "V8,006\r\n");
    EXPECT_DOUBLE_EQ(read_report_version((t / "r").string()), 8.0);
}

TEST_F(TolbexAppTest, AuditEntryPointsDoNothingWhenOff) {
    CTolbexApp app;
    const fs::path archive = t / "A";
    fs::create_directories(archive / "R.FUL");
    EXPECT_TRUE(app.audit().open((archive / "R.FUL").string()));
    EXPECT_TRUE(app.audit().write(kAuditPrint, "d", "a", "b"));
    app.audit().close();
    EXPECT_TRUE(fs::is_empty(archive / "R.FUL"));
    EXPECT_EQ(std::distance(fs::directory_iterator(archive), fs::directory_iterator()), 1);

    TolbexSettings logging = app.settings();
    logging.switches.logging_enabled = true;
    app.set_settings(logging);
    ASSERT_TRUE(app.audit().open((archive / "R.FUL").string()));
    EXPECT_TRUE(app.audit().write(kAuditPrint, "desc", (archive / "R.FUL").string(), ""));
    app.audit().close();
    int logs = 0;
    for (auto& e : fs::directory_iterator(archive))
        if (e.path().extension() == ".LOG") {
            ++logs;
            const auto check = read_audit_log_file(e.path().string());
            ASSERT_TRUE(check.crc_ok && check.complete);
            ASSERT_EQ(check.records.size(), 1u);
            EXPECT_EQ(check.records[0].message, "Print report - desc in r.ful");
            EXPECT_EQ(check.records[0].program, "Calvera");
        }
    EXPECT_EQ(logs, 1);
}

TEST_F(TolbexAppTest, LoggingNeedsItsDescriptorFile) {
    set_machine("Enable TIMI Rozaze", "yes");
    CTolbexApp app;
    EXPECT_FALSE(app.start_logging());
    EXPECT_TRUE(app.is_logging_enabled() && app.is_signing_enabled());  // TIMI forces both on
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kNoEventLogFileMessage);

    write_file(t / "msg.bin", "x");
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path", (t / "msg.bin").string()));
    CTolbexApp ok;
    TolbexSettings no_arguments = ok.settings();
    no_arguments.flags.started_without_arguments = true;
    ok.set_settings(no_arguments);
    EXPECT_TRUE(ok.start_logging());
    // Started without arguments: the start is in the event log, and the end at exit.
    const fs::path events = t / "root" / "log" / "eventlog.txt";
    ASSERT_TRUE(fs::exists(events));
    EXPECT_EQ(ok.exit_instance(), 0);
    std::ifstream in(events);
    int lines = 0;
    for (std::string l; std::getline(in, l);) {
        ++lines;
        EXPECT_NE(l.find("Brisco Torvane Medical Calvera"), std::string::npos);
    }
    EXPECT_EQ(lines, 2);
}

TEST_F(TolbexAppTest, AutoDeleteOnlyRemovesPlainFolders) {
    EXPECT_FALSE(is_safe_auto_delete_folder("/", nullptr));
    EXPECT_FALSE(is_safe_auto_delete_folder((t / "missing").string(), nullptr));
    write_file(t / "archive" / "archinfo.dat", "");
    EXPECT_FALSE(is_safe_auto_delete_folder((t / "archive").string(), nullptr));
    write_file(t / "group" / "ARCHDIR.DAT", "");
    EXPECT_FALSE(is_safe_auto_delete_folder((t / "group").string(), nullptr));
    write_file(t / "plain" / "PATIENT.TXT", "");
    EXPECT_TRUE(is_safe_auto_delete_folder((t / "plain").string(), nullptr));
    EXPECT_TRUE(is_safe_auto_delete_folder((t / "plain" / ".." / "plain").string(), nullptr));

    write_file(t / "gui" / "DEVICE.DAT", "1 \"" + (t / "plain").string() + "\"\r\n");
    ArchiveConfigList config;
    ASSERT_TRUE(config.load((t / "gui" / "DEVICE.DAT").string()));
    EXPECT_FALSE(is_safe_auto_delete_folder((t / "plain").string(), &config));

    CTolbexApp app;
    TolbexSettings auto_delete = app.settings();
    auto_delete.flags.auto_delete = true;
    app.set_settings(auto_delete);
    app.set_auto_delete_folder((t / "archive").string());
    app.exit_instance();
    EXPECT_TRUE(fs::exists(t / "archive" / "archinfo.dat"));
    app.set_auto_delete_folder((t / "plain").string());
    app.exit_instance();
    EXPECT_FALSE(fs::exists(t / "plain"));
}

}  // namespace
}  // namespace tv
