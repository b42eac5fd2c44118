// A new user's first round on the demo root, offscreen: the report commands of mail, letters,
// export and the external program, and the browser's Play and Letters buttons, through the
// running application. The sound player is a script on PATH that logs what it was given; the
// letter is opened through the opener hook.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/registry.h"
#include "framework/qt/folder_dialog.h"
#include "framework/qt/qt_text.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/browser/browser_list_model.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/intake/ui/intake_dialogs.h"
#include "tolbex/letters/office_word_processor.h"
#include "tolbex/letters/ui/letters_ui.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/reports/ui/report_view.h"
#include "tolbex/browser/archive_documents.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/tests/signing_fixture.h"
#include "tolbex/timi/ui/timi_windows.h"
#include "tools/demo/demo_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class DemoWalkthroughTest : public uitest::BrowserAppTest {
protected:
    void SetUp() override {
        BrowserAppTest::SetUp();
        std::string error;
        ASSERT_TRUE(demo::make_demo_root(&summary, &error)) << error;
        // The sound card's player, standing in: logs the file it was given.
        const fs::path bin = t / "bin";
        testing_root::write_file(bin / "aplay", "#!/bin/sh\nfor a; do last=$a; done\necho \"$last\" >> '" +
                                                    (t / "played.txt").string() + "'\n");
        fs::permissions(bin / "aplay", fs::perms::owner_all);
        old_path = std::getenv("PATH");
        ::setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
        ASSERT_TRUE(start_app(/*logging=*/false));  // the settings as the demo root has them
        settle();
        ASSERT_NE(open_browser(find_group_index(summary.group_folders[0])), nullptr);
        doc = dynamic_cast<gui::CBrowserListDoc*>(browser->document());
        ASSERT_NE(doc, nullptr);
    }
    void TearDown() override {
        gui::set_letter_opener({});
        fw::set_browse_for_folder_hook({});
        close_app();
        letters::shutdown_office();
        ::setenv("PATH", old_path.c_str(), 1);
        BrowserAppTest::TearDown();
    }
    // Makes the first report of the type the only selected and the current one; its folder.
    std::string select_first(ReportType type) {
        const BrowserListModel& model = list().list_model();
        for (std::int32_t item = 0; item < model.item_count(); ++item) {
            const std::int32_t row = model.row_of_item(item);
            if (doc->core().get_record_type(row) != type) continue;
            list().select_items({item});
            settle();
            return doc->core().get_report_folder(row);
        }
        return {};
    }

    // Every entry of the recent-file list opens again: a file that is there, not a window title
    // nor a temporary copy gone with its window.
    void expect_recent_files_open_again() {
        for (const std::string& entry : windows->framework().recent_files().items())
            EXPECT_TRUE(fs::is_regular_file(entry)) << entry;
    }
    void close_frames_of(fw::Document* d) {
        for (fw::View* v : std::vector<fw::View*>(d->views()))
            if (fw::ChildFrame* f = v->frame()) f->close();
        settle();
    }

    demo::DemoSummary summary;
    std::string old_path;
    gui::CBrowserListDoc* doc = nullptr;
};

TEST_F(DemoWalkthroughTest, ASignedReportOpensWithoutLeavingItsTemporaryCopyInTheRecentFiles) {
    ASSERT_FALSE(select_first(kReportSigned).empty());
    ASSERT_TRUE(browser->execute(gui::browser_cmd::Open));
    settle();
    const std::vector<gui::CPellarnDoc*> reports = documents_of<gui::CPellarnDoc>();
    ASSERT_EQ(reports.size(), 1u);
    close_frames_of(reports.front());
    ASSERT_TRUE(documents_of<gui::CPellarnDoc>().empty());
    expect_recent_files_open_again();
}

TEST_F(DemoWalkthroughTest, TheReportCommandsWorkOnTheDemoRoot) {
    using namespace gui::browser_cmd;
    // A recording: its sound plays, and it goes to a folder as a transfer file.
    const std::string full = select_first(kReportFull);
    ASSERT_FALSE(full.empty());
    ASSERT_TRUE(browser->play_button()->isEnabled());
    browser->play_button()->click();
    EXPECT_EQ(uitest::read_file((t / "played.txt").string()), full + "/PATIENT.WAV\n");
    EXPECT_FALSE(browser->letters_button()->isEnabled());
    // No external program is named on the demo root: nothing to send to.
    EXPECT_FALSE(enabled(ExternalProgram));
    ASSERT_TRUE(enabled(Export));
    const fs::path out = t / "exported";
    fs::create_directories(out);
    fw::set_browse_for_folder_hook([&](const std::string&, const std::string&) { return out.string(); });
    ASSERT_TRUE(browser->execute(Export));
    EXPECT_EQ(platform::testing::sorted_names(out).size(), 1u);

    // A formatted report: a letter from the demo template without a question, then Letters opens it.
    const std::string formatted = select_first(kReportFormatted);
    ASSERT_FALSE(formatted.empty());
    ASSERT_TRUE(enabled(CreateLetter));
    std::string why;
    if (!letters::office_available(&why)) GTEST_SKIP() << "LibreOffice is not usable here: " << why;
    std::vector<std::string> opened;
    gui::set_letter_opener([&](const std::string& path) {
        opened.push_back(path);
        return true;
    });
    scripted.shown.clear();
    ASSERT_TRUE(browser->execute(CreateLetter));
    settle();
    ASSERT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(fs::path(opened[0]).parent_path(), fs::path(formatted));
    EXPECT_EQ(fs::path(opened[0]).extension(), ".doc");
    ASSERT_TRUE(browser->letters_button()->isEnabled());
    browser->letters_button()->click();
    EXPECT_EQ(opened, (std::vector<std::string>{opened[0], opened[0]}));
    // Every field of the template filled from the report.
    std::unique_ptr<letters::WordProcessor> wp = letters::start_office_word_processor();
    ASSERT_TRUE(wp->open(opened[0]));
    const std::string text = wp->text();
    wp->close();
    EXPECT_NE(text.find("Dear Dr. "), std::string::npos) << text;
    EXPECT_EQ(text.find('<'), std::string::npos) << text;

    // The same report in its own window: its letter is there to view, a new one can be made, and
    // there is still no external program.
    ASSERT_TRUE(browser->execute(Open));
    settle();
    const std::vector<fw::ChildFrame*> reports = frames_of<gui::CPellarnDoc>();
    ASSERT_FALSE(reports.empty());
    fw::ChildFrame* report = reports.back();
    const std::vector<fw::CommandTarget*> route = {report->active_view(), report->active_document()};
    auto on = [&](fw::CommandId id) { return fw::route_update(route, id).enabled(); };
    EXPECT_TRUE(on(gui::report_view_cmd::ViewLetters));
    EXPECT_TRUE(on(gui::report_view_cmd::CreateLetter));
    EXPECT_FALSE(on(gui::report_view_cmd::SendToExternal));
    ASSERT_TRUE(fw::route_command(route, gui::report_view_cmd::ViewLetters));
    EXPECT_EQ(opened.size(), 3u);
}

// The demo's recorder card, read through the built card program from the Recording menu into the
// demo group's STANDARD archive.
TEST_F(DemoWalkthroughTest, TheDemoCardGoesIntoAnArchiveFromTheRecordingMenu) {
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kCardProgramKey, "Install Path", VOND_PROGRAM));
    ASSERT_TRUE(reg_set_string(HKEY_LOCAL_MACHINE, kSzipKey, "Install Path", TV_SZIP_PROGRAM));
    const std::string group = summary.group_folders[0];
    const std::string archive = (fs::path(group) / "STANDARD").string();
    const std::int32_t before = ReportArchive(archive, "STANDARD").get_count();
    std::vector<std::string> asked;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* details = dynamic_cast<gui::PatientDetailsDlg*>(&d)) {
            asked.push_back("details");
            // The transfer file name starts with the demo clinic's code; the operator adds the rest.
            EXPECT_EQ(from_qstring(details->field("Transfer Filename:")->text()), demo::kDemoClinicCode);
            details->field("Transfer Filename:")
                ->setText(to_qstring(std::string(demo::kDemoClinicCode) + "000123" + compute_check_digit("000123")));
            details->field("Description of recording:")->setText("Demo card");
            details->on_ok();
            return details->result();
        }
        if (auto* choose = dynamic_cast<gui::ChooseArchiveDlg*>(&d)) {
            asked.push_back("archive");
            const int at = choose->folder_box()->findText(to_qstring(group));
            EXPECT_GE(at, 0);
            choose->folder_box()->setCurrentIndex(at);
            emit choose->folder_box()->activated(at);
            choose->archive_box()->setEditText("STANDARD");
            choose->on_ok();
            return choose->result();
        }
        ADD_FAILURE() << "unexpected dialog " << from_qstring(d.windowTitle());
        return int(QDialog::Rejected);
    });
    CMainFrame* frame = windows->main_frame();
    ASSERT_NE(frame->action(menu::kCardStoreInArchive), nullptr);
    EXPECT_TRUE(frame->execute_command(menu::kCardStoreInArchive));
    settle();
    fw::Dialog::set_test_hook({});
    for (const auto& m : scripted.shown) ADD_FAILURE() << m.text;  // no message on the way
    EXPECT_EQ(asked, (std::vector<std::string>{"details", "archive"}));
    const ReportArchive after(archive, "STANDARD");
    ASSERT_EQ(after.get_count(), before + 1);
    const ReportRecord* stored = after.get_record(after.get_count() - 1);
    EXPECT_EQ(stored->get_description(), "Demo card");
    EXPECT_EQ(get_extension_upper(stored->get_name()), "CFR");
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// The demo patient's week: TIMI opens the seven days in one window, its data and summary go into
// the archive, and TIMI Arrhythmia stores its summary beside them.
TEST_F(DemoWalkthroughTest, TheDemoWeekRunsThroughTimiAndTimiArrhythmia) {
    using namespace gui::browser_cmd;
    ASSERT_EQ(summary.timi_days.size(), 7u);
    // Stored reports reload the list, so the week's items are looked up each time.
    const auto select_week = [&] {
        const BrowserListModel& model = list().list_model();
        std::vector<std::int32_t> week;
        for (std::int32_t item = 0; item < model.item_count(); ++item)
            for (const std::string& day : summary.timi_days)
                if (doc->core().get_report_folder(model.row_of_item(item)) == day) week.push_back(item);
        list().select_items(week);
        settle();
        return week.size();
    };
    ASSERT_EQ(select_week(), 7u);
    ASSERT_TRUE(enabled(Timi));
    ASSERT_TRUE(browser->execute(Timi));
    settle();
    for (const auto& m : scripted.shown) ADD_FAILURE() << m.caption << ": " << m.text;
    const std::vector<TIMIDoc*> timis = documents_of<TIMIDoc>();
    ASSERT_FALSE(timis.empty());
    TIMIDoc* timi = timis.back();
    ASSERT_NE(timi->get_data(), nullptr);
    EXPECT_EQ(timi->get_data()->row_count(), 20160);
    EXPECT_EQ(timi->title(), kUnsavedTimiTitle);

    const std::string archive = fs::path(summary.timi_days[0]).parent_path().string();
    const auto count = [&](ReportType type) {
        const ReportArchive a(archive, "");
        int n = 0;
        for (std::int32_t i = 0; i < a.get_count(); ++i) n += a.get_record(i)->get_type() == type;
        return n;
    };
    ASSERT_TRUE(timi->execute(timi_cmd::SaveData));
    ASSERT_TRUE(timi->execute(timi_cmd::SaveSummary));
    settle();
    for (const auto& m : scripted.shown) ADD_FAILURE() << m.caption << ": " << m.text;
    EXPECT_EQ(count(kReportTimiData), 1);
    EXPECT_EQ(count(kReportTimiSummary), 1);
    EXPECT_FALSE(timi->is_modified());
    expect_recent_files_open_again();
    // The stored summary names the file it is.
    {
        const ReportArchive a(archive, "");
        for (std::int32_t i = 0; i < a.get_count(); ++i) {
            if (a.get_record(i)->get_type() != kReportTimiSummary) continue;
            const std::string file = *platform::find_name_ci(a.get_record(i)->get_folder_path(), "TIMI_SUMMARY.TXT");
            const std::string text = uitest::read_file(file);
            EXPECT_EQ(text.substr(0, text.find("\r\n\r\n")), "Quorril TIMI summary file\r\nFilename: " + file);
            EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(file)), a.get_record(i)->get_size());
        }
    }

    // Signed, the stored data opens again in a TIMI window that holds the signature.
    std::string data_folder;
    {
        const ReportArchive a(archive, "");
        for (std::int32_t i = 0; i < a.get_count(); ++i)
            if (a.get_record(i)->get_type() == kReportTimiData) data_folder = a.get_record(i)->get_folder_path();
    }
    const signing::testing::TestIdentity id = signing::testing::make_identity("Anna Smith", "Clinic CA");
    ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/anna.pem", id.cert_pem));
    auto signed_report =
        signing::sign_and_store_report(signing::testing::signer_record(id), data_folder, "Nyland week - signed", "");
    ASSERT_TRUE(signed_report) << signed_report.error().message;
    reload_archive_documents();
    settle();
    const BrowserListModel& model = list().list_model();
    for (std::int32_t item = 0; item < model.item_count(); ++item)
        if (doc->core().get_report_folder(model.row_of_item(item)) == *signed_report) list().select_items({item});
    settle();
    scripted.shown.clear();
    ASSERT_TRUE(browser->execute(Open));
    settle();
    ASSERT_EQ(scripted.shown.size(), 1u);  // the signature, then the window
    EXPECT_NE(scripted.shown[0].text.find("Anna Smith"), std::string::npos) << scripted.shown[0].text;
    scripted.shown.clear();
    TIMIDoc* opened = nullptr;
    for (TIMIDoc* d : documents_of<TIMIDoc>())
        if (!d->get_signatures().empty()) opened = d;
    ASSERT_NE(opened, nullptr);
    ASSERT_NE(opened->get_data(), nullptr);
    EXPECT_EQ(opened->get_data()->row_count(), 20160);
    EXPECT_EQ(opened->get_signatures().at(0).signer_name, "Anna Smith");
    close_frames_of(opened);
    expect_recent_files_open_again();

    ASSERT_EQ(select_week(), 7u);
    ASSERT_TRUE(browser->execute(TimiArrhythmia));
    settle();
    for (const auto& m : scripted.shown) ADD_FAILURE() << m.caption << ": " << m.text;
    EXPECT_EQ(count(kReportTimiArrhythmia), 1);
}

}  // namespace
}  // namespace tv
