// The report window's export, letter, mail and external-program commands, driven through the
// command routing with the folder picker and page-range dialog replaced by hooks.
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include "common/audit_log.h"
#include "common/text.h"
#include "platform/system.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/reports/ui/report_view.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tools/demo/emf_writer.h"

namespace tv::gui {
namespace {

namespace fs = std::filesystem;
using uitest::read_file;
using uitest::write_file;

// --- the hand-over entries ---

class HandoverTest : public uitest::UiRootTest {
protected:
    void TearDown() override {
        clear_report_handlers();
        uitest::UiRootTest::TearDown();
    }
};

TEST_F(HandoverTest, MailTypeFollowsTheProductNamedInVersionTxt) {
    const std::string folder = root / "R.IMG";
    fs::create_directories(folder);
    EXPECT_EQ(make_mail_entry(folder, "A", 1, 2).type, kReportFormatted);  // no version.txt
    write_file(folder + "/version.txt", "V8.006\r\nGavrille\r\n");
    const MailReportEntry e = make_mail_entry(folder, "Mira Alder", 4096, 1709542800);
    EXPECT_EQ(e, (MailReportEntry{folder, "Mira Alder", kReportFormatted520, 4096, 1709542800}));
    write_file(folder + "/version.txt", "V8.006\r\nGavrille \r\n");  // compared whole
    EXPECT_EQ(formatted_report_type(folder), kReportFormatted);
    write_file(folder + "/version.txt", "V8.006\r\nQuorril\r\n");
    EXPECT_EQ(formatted_report_type(folder), kReportFormatted);
    EXPECT_EQ(make_external_entry(folder, "Mira Alder"), (ExternalJobEntry{folder, "Mira Alder", 0}));
}

TEST_F(HandoverTest, ExternalKindsByReportType) {
    const std::pair<ReportType, int> kinds[] = {{kReportFull, 2},      {kReportPartial, 1},    {kReportRawEcg, 3},
                                                {kReportOstrabel, 4},  {kReportOstrabelCf, 5}, {kReportCef, 6},
                                                {kReportFormatted, 0}, {kReportUntyped, 0},    {kReportUnknown, 0},
                                                {kReportTimiData, 0}};
    for (const auto& [type, kind] : kinds) EXPECT_EQ(external_job_kind(type), kind) << type;
}

TEST_F(HandoverTest, LettersAreDocFilesOnly) {
    const std::string folder = root / "R.IMG";
    fs::create_directories(folder + "/OLD.DOC");  // a folder is no letter
    write_file(folder + "/DOC", "x");
    write_file(folder + "/notes.docx", "x");
    EXPECT_FALSE(folder_has_letters(folder));
    EXPECT_FALSE(folder_has_letters(""));
    EXPECT_FALSE(folder_has_letters(root / "missing"));
    write_file(folder + "/letter.doc", "x");
    EXPECT_TRUE(folder_has_letters(folder));
}

TEST_F(HandoverTest, NothingIsHandedOverWithoutAHandler) {
    EXPECT_FALSE(has_mail_handler());
    EXPECT_FALSE(hand_over_mail({MailReportEntry{}}));
    EXPECT_FALSE(hand_over_external_jobs({ExternalJobEntry{}}));
    EXPECT_FALSE(hand_over_letter("/f", "n"));
    EXPECT_FALSE(hand_over_view_letters("/f"));
    int calls = 0;
    set_letter_handler([&](const std::string&, const std::string&) { return ++calls == 1; });
    EXPECT_TRUE(hand_over_letter("/f", "n"));
    EXPECT_FALSE(hand_over_letter("/f", "n"));  // the handler's refusal comes back
    set_letter_handler({});
    EXPECT_FALSE(has_letter_handler());
}

// --- the page range ---

TEST(PageRange, RefusalsAndTheirText) {
    EXPECT_EQ(page_range_refusal({1, 3}, 1, 3), "");
    EXPECT_EQ(page_range_refusal({3, 3}, 1, 3), "");
    EXPECT_EQ(page_range_refusal({0, 2}, 1, 3), "Start and end must be in order and in the range 1 - 3");
    EXPECT_NE(page_range_refusal({1, 4}, 1, 3), "");
    EXPECT_NE(page_range_refusal({3, 2}, 1, 3), "");
    EXPECT_NE(page_range_refusal({1, 0}, 1, 3), "");  // end page 0
    EXPECT_NE(page_range_refusal({4, 4}, 1, 3), "");  // start beyond the page count
    EXPECT_NE(page_range_refusal({1, 1}, 1, 0), "");  // a report without pages has no valid range
}

// --- the commands of a report window ---

class ReportCommandsTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        uitest::UiRootTest::SetUp();
        archive = root / "G/STANDARD";
        report = archive + "/R.IMG";
        out = root / "OUT";
        fs::create_directories(out);
        write_file(report + "/VERSION.TXT", "V8.006\r\n");
        write_file(report + "/SUMMARY.TXT", "x\r\n");
        write_file(report + "/PAGE.0", testing::label_record());
        page1 = testing::hline_record(0, 200352, 3200);
        write_file(report + "/PAGE.1", page1);
        write_file(report + "/PAGE.2", testing::text_record(3200, 6400, "two"));
        write_file(report + "/PAGE.3", testing::text_record(3200, 6400, "three"));
        fw::set_browse_for_folder_hook([this](const std::string& title, const std::string& initial) {
            folder_asks.push_back(title + "|" + initial);
            return folder_answer;
        });
        set_page_range_hook([this](const std::string& caption, int minimum, int maximum, PageRange preset) {
            range_asks.push_back(caption + "|" + std::to_string(minimum) + "|" + std::to_string(maximum) + "|" +
                                 std::to_string(preset.start) + "-" + std::to_string(preset.end));
            if (range_answers.empty()) return std::optional<PageRange>();
            std::optional<PageRange> r = range_answers.front();
            range_answers.erase(range_answers.begin());
            return r;
        });
    }
    void TearDown() override {
        view.reset();
        doc.reset();
        fw::set_browse_for_folder_hook({});
        set_page_range_hook({});
        clear_report_handlers();
        uitest::UiRootTest::TearDown();
    }
    void open() {
        doc = std::make_unique<CPellarnDoc>();
        ASSERT_TRUE(doc->on_open_document(report + "/SUMMARY.TXT"));
        doc->core().set_report_name("Mira Alder");
        doc->core().set_report_size(12345);
        doc->core().set_report_time(1709542800);
        view = std::make_unique<CPellarnView>(*doc);
        view->on_initial_update();
    }
    // Right-clicks the view at a client pixel at 100 %; `shown` sees the menu, which then closes.
    void right_click(int px, int py, const std::function<void(QMenu&)>& shown) {
        bool seen = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || seen) return;
            seen = true;
            shown(*menu);
            menu->close();
        });
        poll.start(5);
        const QPointF at(px, py);
        QMouseEvent release(QEvent::MouseButtonRelease, at, view->mapToGlobal(at), Qt::RightButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &release);
        EXPECT_TRUE(seen);
    }
    static QAction* menu_action(QMenu& menu, const char* text) {
        for (QAction* a : menu.actions())
            if (a->text() == QString::fromLatin1(text)) return a;
        return nullptr;
    }
    bool enabled(fw::CommandId id) { return fw::route_update({view.get(), doc.get()}, id).enabled(); }
    void run(fw::CommandId id) { ASSERT_TRUE(fw::route_command({view.get(), doc.get()}, id)); }
    uitest::Texts audit_messages() const { return uitest::audit_messages(archive); }

    std::string archive, report, out, page1;
    std::string folder_answer;
    std::vector<std::string> folder_asks, range_asks;
    std::vector<std::optional<PageRange>> range_answers;
    std::unique_ptr<CPellarnDoc> doc;
    std::unique_ptr<CPellarnView> view;
};

TEST_F(ReportCommandsTest, HandOverCommandsNeedAHandler) {
    CTolbexApp app;  // Send to External Program also needs the program named
    TolbexSettings named = app.settings();
    named.profile.external_program.program_name = "feed";
    app.set_settings(named);
    open();
    for (fw::CommandId id : {report_view_cmd::SendMail, report_view_cmd::SendToExternal, report_view_cmd::CreateLetter,
                             report_view_cmd::ViewLetters})
        EXPECT_FALSE(enabled(id)) << id;
    for (fw::CommandId id : {report_cmd::ExportBmp, report_cmd::ExportPcx, report_cmd::ExportRtf})
        EXPECT_TRUE(enabled(id)) << id;

    std::vector<std::pair<std::string, std::string>> letters;
    set_letter_handler([&](const std::string& folder, const std::string& name) {
        letters.emplace_back(folder, name);
        write_file(folder + "/Letter1.DOC", "letter");  // what letter creation leaves behind
        return true;
    });
    int views_of_letters = 0;
    set_view_letters_handler([&](const std::string&) { return ++views_of_letters > 0; });
    set_mail_handler([](const std::vector<MailReportEntry>&) { return true; });
    set_external_program_handler([](const std::vector<ExternalJobEntry>&) { return true; });
    EXPECT_TRUE(enabled(report_view_cmd::SendMail));
    EXPECT_TRUE(enabled(report_view_cmd::SendToExternal));
    EXPECT_TRUE(enabled(report_view_cmd::CreateLetter));
    EXPECT_FALSE(enabled(report_view_cmd::ViewLetters));  // no letter yet

    run(report_view_cmd::CreateLetter);
    ASSERT_EQ(letters.size(), 1u);
    EXPECT_EQ(letters[0], std::make_pair(report, std::string("Mira Alder")));
    EXPECT_TRUE(view->letters_present());  // looked again after the command
    EXPECT_TRUE(enabled(report_view_cmd::ViewLetters));

    // Letters deleted meanwhile: View Letters looks again and turns itself off.
    fs::remove(report + "/Letter1.DOC");
    run(report_view_cmd::ViewLetters);
    EXPECT_EQ(views_of_letters, 1);
    EXPECT_FALSE(enabled(report_view_cmd::ViewLetters));
}

TEST_F(ReportCommandsTest, EveryReportCommandIsOnTheMenuAndTheHelpCommandsExplain) {
    const fw::MenuModel menu = menu::build_main_menu();
    for (fw::CommandId id :
         {fw::cmd::FilePrint, fw::cmd::FilePrintPreview, report_cmd::ExportBmp, report_cmd::ExportPcx,
          report_cmd::ExportRtf, report_cmd::Zoom, report_cmd::Goto, report_cmd::Confirm, report_cmd::Unconfirm,
          report_cmd::SaveTraced, report_view_cmd::InsertTextHelp, report_view_cmd::DeleteTextHelp,
          report_view_cmd::EditTextHelp, report_view_cmd::ViewLetters, report_view_cmd::CreateLetter,
          report_view_cmd::SendMail, report_view_cmd::SendToExternal, 203u})
        EXPECT_NE(nullptr, fw::find_menu_command(menu, id)) << id;

    open();
    EXPECT_EQ(fw::route_update({view.get(), doc.get()}, fw::cmd::FilePrint).text(), "&Print...\tCtrl+P");
    for (fw::CommandId id :
         {report_view_cmd::InsertTextHelp, report_view_cmd::DeleteTextHelp, report_view_cmd::EditTextHelp}) {
        EXPECT_TRUE(enabled(id)) << id;
        run(id);
    }
    ASSERT_EQ(scripted.shown.size(), 3u);
    EXPECT_EQ(scripted.shown[0].caption, "How to insert text");
    EXPECT_EQ(scripted.shown[1].caption, "How to delete text");
    EXPECT_EQ(scripted.shown[2].caption, "How to edit text");
    EXPECT_NE(scripted.shown[2].text.find("right mouse button"), std::string::npos);
}

TEST_F(ReportCommandsTest, MailGetsOneEntryOfTheReport) {
    write_file(report + "/VERSION.TXT", "V8.006\r\nGavrille\r\n");
    open();
    std::vector<std::vector<MailReportEntry>> sent;
    set_mail_handler([&](const std::vector<MailReportEntry>& e) {
        sent.push_back(e);
        return true;
    });
    run(report_view_cmd::SendMail);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), 1u);
    EXPECT_EQ(sent[0][0], (MailReportEntry{report, "Mira Alder", kReportFormatted520, 12345, 1709542800}));
}

TEST_F(ReportCommandsTest, ExternalProgramSavesOnlyWhatChangedAndTracesIt) {
    CTolbexApp app;
    uitest::set_settings(app);
    open();
    std::vector<std::vector<ExternalJobEntry>> jobs;
    set_external_program_handler([&](const std::vector<ExternalJobEntry>& j) {
        jobs.push_back(j);
        return true;
    });

    // Unmodified: nothing saved, nothing traced.
    run(report_view_cmd::SendToExternal);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0], (std::vector<ExternalJobEntry>{{report, "Mira Alder", 0}}));
    EXPECT_EQ(read_file(report + "/PAGE.1"), page1);
    EXPECT_TRUE(audit_messages().empty());

    // Modified: saved through the traced save before the hand-over.
    ASSERT_GE(doc->add_annotation(0, "Hi", 100, 200), 0);
    run(report_view_cmd::SendToExternal);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(read_file(report + "/PAGE.1").size(), page1.size() + 33 + 34);
    EXPECT_FALSE(doc->is_modified());
    EXPECT_FALSE(doc->core().is_modified());
    ASSERT_EQ(audit_messages().size(), 1u);
    EXPECT_EQ(audit_messages()[0].rfind("Save modified report - Mira Alder in ", 0), 0u);
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(ReportCommandsTest, ExternalProgramGetsNothingWhenTheSaveIsRefused) {
    CTolbexApp app;
    uitest::set_settings(app);
    open();
    int jobs = 0;
    set_external_program_handler([&](const std::vector<ExternalJobEntry>&) { return ++jobs > 0; });
    ASSERT_GE(doc->add_annotation(0, "Hi", 100, 200), 0);
    // The log file's name taken by a folder: the log cannot be opened, even for root.
    fs::create_directories(AuditLog::make_file_name(archive, platform::system().now()));
    run(report_view_cmd::SendToExternal);
    EXPECT_EQ(jobs, 0);
    EXPECT_EQ(read_file(report + "/PAGE.1"), page1);
    EXPECT_TRUE(doc->core().is_modified());
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown.back().text, kSaveNoLogMessage);
}

TEST_F(ReportCommandsTest, BitmapExportAsksRangeAndFolderAndKeepsTheFolder) {
    open();
    ASSERT_TRUE(CTolbexApp::set_export_folder(root / "earlier"));
    folder_answer = out + "/";
    range_answers = {PageRange{0, 1}, PageRange{2, 1}, PageRange{1, 1}};  // two refusals first
    run(report_cmd::ExportBmp);
    ASSERT_EQ(range_asks.size(), 3u);
    EXPECT_EQ(range_asks[0], "Export as BMP files|1|3|1-3");
    EXPECT_EQ(range_asks[1], "Export as BMP files|1|3|0-1");  // the dialog keeps what was typed
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].text, "Start and end must be in order and in the range 1 - 3");
    EXPECT_EQ(scripted.shown[0].caption, kPageRangeRefusalCaption);
    ASSERT_EQ(folder_asks.size(), 1u);
    EXPECT_EQ(folder_asks[0], "Export as BMP files|" + (root / "earlier"));
    EXPECT_EQ(CTolbexApp::get_export_folder(), out);

    const std::string bmp = read_file(out + "/PAGE0001.BMP");
    ASSERT_EQ(bmp.size(), 1098302u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_FALSE(fs::exists(out + "/PAGE0002.BMP"));
    // Row 39 from the top carries the line; it is row 3520 - 1 - 39 from the bottom.
    const std::size_t line_row = 62 + static_cast<std::size_t>(3520 - 1 - 39) * 312;
    EXPECT_EQ(bmp.substr(line_row, 312), std::string(312, '\0'));
    EXPECT_EQ(bmp.substr(62, 312), std::string(312, '\xff'));
}

TEST_F(ReportCommandsTest, BitmapOverwriteIsAskedOnceAndCancelWritesNothing) {
    open();
    folder_answer = out;
    write_file(out + "/page0002.pcx", "old");  // any case counts
    range_answers = {PageRange{1, 3}};
    scripted.answers = {MsgResult::Cancel};
    run(report_cmd::ExportPcx);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kBitmapOverwriteQuestion);
    EXPECT_FALSE(fs::exists(out + "/PAGE0001.PCX"));
    EXPECT_EQ(read_file(out + "/page0002.pcx"), "old");

    range_answers = {PageRange{2, 3}};
    scripted.answers = {MsgResult::Ok};
    run(report_cmd::ExportPcx);
    EXPECT_EQ(scripted.shown.size(), 2u);  // asked once for the whole range
    EXPECT_FALSE(fs::exists(out + "/PAGE0001.PCX"));
    EXPECT_FALSE(fs::exists(out + "/PAGE0002.PCX"));  // the existing spelling was replaced
    EXPECT_EQ(read_file(out + "/page0002.pcx").substr(0, 4), std::string("\x0a\x03\x01\x01", 4));
    EXPECT_GT(read_file(out + "/PAGE0003.PCX").size(), 35328u);  // more than a white page: it holds text
}

TEST_F(ReportCommandsTest, CancelInTheDialogsEndsQuietly) {
    open();
    range_answers = {std::nullopt};
    run(report_cmd::ExportBmp);
    EXPECT_TRUE(folder_asks.empty());
    folder_answer = "";  // the picker cancelled
    range_answers = {PageRange{1, 1}};
    run(report_cmd::ExportRtf);
    EXPECT_EQ(folder_asks.size(), 1u);
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(ReportCommandsTest, RtfExportQuestions) {
    write_file(report + "/ECG12.emf", "metafile");
    open();
    folder_answer = out;
    range_answers = {PageRange{1, 3}};
    scripted.answers = {MsgResult::No};  // the 12-lead section would be missing
    run(report_cmd::ExportRtf);
    EXPECT_EQ(scripted.shown.at(0).text, kRtfWithout12LeadQuestion);
    EXPECT_TRUE(range_asks.empty());

    scripted.answers = {MsgResult::Yes};
    run(report_cmd::ExportRtf);
    EXPECT_EQ(range_asks.at(0), "Export as RTF file|1|3|1-3");
    const std::string rtf = read_file(out + "/REPORT.RTF");
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\r\n", 0), 0u);
    EXPECT_NE(rtf.find(" three\r\n"), std::string::npos);

    // An existing REPORT.RTF: Cancel keeps it.
    write_file(out + "/REPORT.RTF", "mine");
    range_answers = {PageRange{1, 1}};
    scripted.answers = {MsgResult::Yes, MsgResult::Cancel};
    run(report_cmd::ExportRtf);
    EXPECT_EQ(scripted.shown.back().text, kRtfOverwriteQuestion);
    EXPECT_EQ(read_file(out + "/REPORT.RTF"), "mine");
}

TEST_F(ReportCommandsTest, RtfExportIntoAnUnwritableFolderSaysSo) {
    open();
    folder_answer = out + "/missing/deeper";
    range_answers = {PageRange{1, 3}};
    run(report_cmd::ExportRtf);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kRtfWriteFailed);
    EXPECT_EQ(scripted.shown[0].caption, kRtfWriteFailedCaption);
    EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Error);
}

// Text can go only where it is kept: the page files. The 12-lead pages (contents and pictures)
// have no file of their own, so their menu offers no Insert Text.
TEST_F(ReportCommandsTest, InsertTextIsOfferedOnlyOnPagesThatKeepIt) {
    EmfWriter strip({100, 100});
    strip.polyline({{0, 0}, {100, 100}});
    write_file(report + "/R-128-60.emf", strip.finish());
    write_file(report + "/emflist.dat", testing::emf_list({{"R-128-60.emf", "Strip"}}, 1));
    open();
    ASSERT_EQ(doc->core().page_count(), 5);  // PAGE.1 to PAGE.3, the contents, the strip
    const int pitch = kPageViewportHeight;
    const struct {
        int page;
        bool offered;
    } cases[] = {{0, true}, {2, true}, {3, false}, {4, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        right_click(300, c.page * pitch + 500, [&](QMenu& menu) {
            QAction* insert = menu_action(menu, "Insert Text...");
            ASSERT_NE(insert, nullptr);
            EXPECT_EQ(insert->isEnabled(), c.offered);
        });
    }
    EXPECT_EQ(doc->core().add_annotation(3, "lost", 100, 200), -1);
    EXPECT_FALSE(doc->core().is_modified());
}

// A report confirmed in the index whose CONFIRM.TXT has gone: Unconfirm still unconfirms it,
// and says that the file was not there to delete.
TEST_F(ReportCommandsTest, UnconfirmWithTheConfirmationFileGoneSaysSo) {
    write_file(archive + "/ARCHINFO.DAT", "R.IMG\r\nMira Alder\r\nThu Jan 03 02:03:55 1980\r\n2048C\r\nFormatted\r\n");
    open();
    ReportArchive listed(archive, "STANDARD");
    ReportRecord* record = listed.find_record("R.IMG");
    ASSERT_NE(record, nullptr);
    ASSERT_TRUE(record->is_confirmed());
    doc->core().set_archive(listed, *record);
    ASSERT_TRUE(enabled(report_cmd::Unconfirm));
    run(report_cmd::Unconfirm);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, kConfirmDeleteCaption);
    EXPECT_EQ(scripted.shown[0].text, format_string(kConfirmDeleteFailed, (report + "/CONFIRM.TXT").c_str()));
    EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Error);
    EXPECT_EQ(read_file(archive + "/ARCHINFO.DAT").find("2048C"), std::string::npos);
    EXPECT_FALSE(enabled(report_cmd::Unconfirm));
    EXPECT_TRUE(enabled(report_cmd::Confirm));
}

}  // namespace
}  // namespace tv::gui
