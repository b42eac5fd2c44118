// Received report files through the windows: "/mail <file>" at start-up and File > Import, the
// destination chosen in the Choose Destination Archive dialog.
#include <QAction>
#include <QComboBox>

#include <algorithm>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "common/registry.h"
#include "formats/tests/cef_test_support.h"
#include "formats/transfer_file.h"
#include "framework/qt/qt_text.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "testing/test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::testing::sorted_names;
using uitest::read_file;
using uitest::write_file;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else if (c != '\r') {
            cur.push_back(c);
        }
    }
    return lines;
}

const std::string kOldEntry = "OLD.FUL\r\nEarlier report\r\nWed Jan 02 02:03:55 1980\r\n100\r\nFull\r\n";

// One received file and the index entry it must give.
struct Received {
    const char* name;
    std::function<std::string(const fs::path& work)> make;  // writes the file, gives its path
    std::string description;
    ReportType type;
    std::string size;    // empty: the size of the received file
    const char* member;  // a file the stored report must hold
};

std::string make_tvz(const fs::path& work) {
    const fs::path src = work / "tvz-src";
    fs::create_directories(src);
    write_file(src / "REPINFO.TXT", format_repinfo_text("Mailed Holter", kReportFull, 1196690709, 4321));
    write_file(src / "DATA.BIN", "payload");
    for (const char* name : {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"})
        write_file(src / name, "part of a full report");
    const fs::path tvz = work / "mailed.TVZ";
    EXPECT_EQ(pack_transfer_file({(src / "*.*").string()}, tvz.string()), 0);
    return tvz.string();
}

std::string make_cef(const fs::path& work) {
    // Stored members only: the compressor must be found, but is never run.
    reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", "/bin/true");
    cef_test::CefBuilder b(11, 1, 4769280, "Compressed Holter");
    b.block(cef_test::scrambled("--\r\n--\r\nDoe Jane\r\n"));
    b.member(cef_test::to_bytes("RIFF"));
    b.member(cef_test::to_bytes("10\n20\n"));
    b.member(cef_test::words_to_bytes(std::vector<std::uint16_t>(64, 0x10)));
    b.trailer(410, 1, 4);
    const fs::path cef = work / "mailed.cef";
    EXPECT_TRUE(cef_test::write_bytes(cef.string(), b.finish()));
    return cef.string();
}

const Received kReceived[] = {
    {"TVZ", make_tvz, "Mailed Holter", kReportFull, "4321", "DATA.BIN"},
    {"CEF", make_cef, "Compressed Holter", kReportCef, "", "RAWECG1.DAT"},
};

class MailImportTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        uitest::UiRootTest::SetUp();
        ASSERT_TRUE(set_default_clinic_code("ab12"));
        group = root / "G";
        write_file((group / "ARCHDIR.DAT").string(), "STANDARD\r\nSTANDARD\r\n");
        write_file((group / "STANDARD" / "ARCHINFO.DAT").string(), kOldEntry);
        fs::create_directories(group / "STANDARD" / "OLD.FUL");
        write_profile_string("Archives", "Default Archive", (group / "ARCHDIR.DAT").string());
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        set_import_file_hook({});
        windows.reset();
        core.reset();
        uitest::UiRootTest::TearDown();
    }
    void start(std::vector<std::string> args) {
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        ASSERT_TRUE(windows->init_instance(std::move(args)));
    }
    // The destination dialog: STANDARD of the group, or Cancel.
    void answer_archive_dialog(bool ok) {
        fw::Dialog::set_test_hook([this, ok](fw::Dialog& d) {
            auto* c = dynamic_cast<gui::ChooseArchiveDlg*>(&d);
            if (!c) return int(QDialog::Rejected);
            ++dialogs;
            caption = from_qstring(c->windowTitle());
            if (!ok) return int(QDialog::Rejected);
            const int at = c->folder_box()->findText(to_qstring(group.string()));
            EXPECT_GE(at, 0);
            c->folder_box()->setCurrentIndex(at);
            emit c->folder_box()->activated(at);
            c->archive_box()->setEditText("STANDARD");
            c->on_ok();
            return c->result();
        });
    }
    void expect_stored(const Received& r, const std::string& file) {
        const auto lines = lines_of(read_file((group / "STANDARD" / "ARCHINFO.DAT").string()));
        ASSERT_EQ(lines.size(), 10u);
        EXPECT_EQ(lines[6], r.description);
        EXPECT_EQ(lines[8], r.size.empty() ? std::to_string(fs::file_size(file)) : r.size);
        EXPECT_EQ(lines[9], report_type_store_name(r.type));
        EXPECT_EQ(fs::path(lines[5]).extension().string(), report_type_extension(r.type));
        EXPECT_TRUE(fs::exists(group / "STANDARD" / lines[5] / r.member));
        EXPECT_EQ(caption, "Receiving Mail");
        EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    }

    fs::path group;
    int dialogs = 0;
    std::string caption;
    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
};

TEST_F(MailImportTest, MailSwitchStoresInTheChosenArchiveAndCancelLeavesItAlone) {
    for (const Received& r : kReceived) {
        SCOPED_TRACE(r.name);
        const std::string file = r.make(t);
        const std::string index_before = read_file((group / "STANDARD" / "ARCHINFO.DAT").string());
        const auto archive_before = sorted_names(group / "STANDARD");
        const auto temp_before = sorted_names(root.tmp());

        dialogs = 0;
        answer_archive_dialog(false);
        start({"/mail", file});
        EXPECT_EQ(dialogs, 1);
        EXPECT_EQ(read_file((group / "STANDARD" / "ARCHINFO.DAT").string()), index_before);
        EXPECT_EQ(sorted_names(group / "STANDARD"), archive_before);
        EXPECT_EQ(sorted_names(root.tmp()), temp_before);
        EXPECT_EQ(core->exit_code(), 0);  // the user's own choice
        windows.reset();
        core.reset();

        answer_archive_dialog(true);
        start({"/mail", file});
        EXPECT_EQ(dialogs, 2);
        expect_stored(r, file);
        EXPECT_EQ(sorted_names(root.tmp()), temp_before);
        EXPECT_TRUE(fs::exists(file));  // the received file stays where it was
        windows.reset();
        core.reset();
        write_file((group / "STANDARD" / "ARCHINFO.DAT").string(), kOldEntry);
    }
}

TEST_F(MailImportTest, FileImportAsksAgainForAnythingButACompressedReport) {
    const Received& r = kReceived[0];
    const std::string file = r.make(t);
    write_file((t / "notes.TXT").string(), "x");
    start({});
    CMainFrame* frame = windows->main_frame();
    frame->update_command_ui();
    ASSERT_NE(nullptr, frame->action(menu::kImport));
    EXPECT_TRUE(frame->action(menu::kImport)->isEnabled());

    std::vector<std::string> picks = {(t / "notes.TXT").string(), file, "unused"};
    int asked = 0;
    set_import_file_hook([&] { return picks[static_cast<std::size_t>(asked++)]; });
    answer_archive_dialog(true);
    frame->execute_command(menu::kImport);
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kNotCompressedReportText);
    EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Warning);
    scripted.shown.clear();
    expect_stored(r, file);

    // Cancel in the file dialog ends at once.
    set_import_file_hook([&] { return std::string(); });
    dialogs = 0;
    frame->execute_command(menu::kImport);
    EXPECT_EQ(dialogs, 0);
}

}  // namespace
}  // namespace tv
