// The archive browser's report commands in the running application, offscreen: Open, Compare and
// Print reports, and the wait dialogs that moving, copying, deleting and loading put on screen
// (their texts recorded as they are shown, not raced).
#include <QComboBox>
#include <QPrinter>
#include <QCoreApplication>
#include <QMdiArea>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "common/files.h"
#include "framework/qt/print_job.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_dialogs.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/browser/ui/browser_data_view.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/reports/render/page_render.h"
#include "tolbex/reports/ui/report_doc_ui.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kWrongCompareCaption = "Wrong number or kind of reports selected";
constexpr const char* kLoadingText = "Loading Report\nPlease Wait...";
constexpr const char* kMoveCopyText = "Moving/Copying Reports\nPlease Wait.";

class BrowserReportCommandsTest : public uitest::BrowserAppTest {
protected:
    BrowserReportCommandsTest() : BrowserAppTest("ab12") {}
    void SetUp() override {
        BrowserAppTest::SetUp();
        install_page_renderer();  // as the program does at start
        make_group({{"STANDARD",
                     "STANDARD",
                     {{"R1.IMG", "Ann Alder"},
                      {"R2.IMG", "Ben Brook"},
                      {"R3.IMG", "Cat Crane"},
                      {"R4.IMG", "Dan Dale"},
                      {"R5.IMG", "Fay Firm", "Wed Jan 02 02:03:55 1980", "100C"},
                      {"F1.FUL", "Eve Full"}}},
                    {"ARCH2", "Second", {{"S1.FUL", "Sam Second"}}}});
        for (const char* name : {"R1.IMG", "R2.IMG", "R3.IMG", "R4.IMG", "R5.IMG"}) make_formatted(name, name);
        testing_root::write_file(report_folder("R5.IMG") / "CONFIRM.TXT", "dr quillon");
        ASSERT_TRUE(start_app());
        set_settings([this](TolbexSettings& s) {
            s.profile.pdf_printer_name = "PDF Out";
            s.profile.pdf_output_folder = (fs::path(root.path()) / "PDF").string();
        });
        ASSERT_TRUE(windows->main_frame()->isVisible());
        ASSERT_NE(open_browser(), nullptr);
        set_wait_text_observer([this](const TextWaitDlg& dialog, const std::string& text) {
            shown_waits.push_back(text);
            if (dynamic_cast<const MoveCopyWaitDlg*>(&dialog) && windows->main_frame()->isEnabled())
                main_enabled_while_waiting = true;
        });
    }
    void TearDown() override {
        set_wait_text_observer({});
        gui::set_report_print_operation({});
        fw::Dialog::set_test_hook({});
        set_compare_mode(false);
        BrowserAppTest::TearDown();
    }

    std::vector<fw::ChildFrame*> report_frames() { return frames_of<gui::CPellarnDoc>(); }
    std::set<std::string> report_titles() {
        std::set<std::string> out;
        for (fw::ChildFrame* f : report_frames()) out.insert(f->active_document()->title());
        return out;
    }
    Texts shown_captions() const {
        Texts out;
        for (const auto& s : scripted.shown) out.push_back(s.caption);
        return out;
    }
    // The destination dialog of Move and Copy answers with this group's archive `archive`.
    void choose_destination(const std::string& archive) {
        fw::Dialog::set_test_hook([this, archive](fw::Dialog& d) {
            auto* c = dynamic_cast<gui::ChooseArchiveDlg*>(&d);
            if (!c) return int(QDialog::Rejected);
            const int at = c->folder_box()->findText(to_qstring(group.string()));
            c->folder_box()->setCurrentIndex(at);
            emit c->folder_box()->activated(at);
            c->archive_box()->setEditText(to_qstring(archive));
            c->on_ok();
            return c->result();
        });
    }

    // Selects one report by clicking its line and opens it with the Return key. Nothing else runs
    // after it: what a status pane says then is what the next paint shows.
    void open_by_keyboard(const std::string& name) {
        QTest::mouseClick(list().tree()->viewport(), Qt::LeftButton, {}, line_of(name));
        QTest::keyClick(list().tree(), Qt::Key_Return);
    }
    // Where the named report's line is in the list's viewport (scrolled into view).
    QPoint line_of(const std::string& name) {
        const QModelIndex at = list().table_model()->index(item_named(name), 0);
        list().tree()->scrollTo(at);
        return list().tree()->visualRect(at).center();
    }
    CMainFrame& main_frame() { return *windows->main_frame(); }
    // The main window is the one the user works in.
    void bring_to_front() {
        main_frame().activateWindow();
        settle();
        ASSERT_TRUE(main_frame().isActiveWindow());
    }
    std::string details_text() { return browser->data_view()->display_text(); }

    Texts shown_waits;
    bool main_enabled_while_waiting = false;
};

TEST_F(BrowserReportCommandsTest, OpenShowsTheLoadingNoticeAndTitlesTheMaximisedReport) {
    ASSERT_TRUE(run(gui::browser_cmd::Open, {"Ann Alder"}));
    const std::vector<fw::ChildFrame*> frames = report_frames();
    ASSERT_EQ(frames.size(), 1u) << ::testing::PrintToString(shown_captions());
    EXPECT_TRUE(frames[0]->isMaximized());
    auto* doc = dynamic_cast<gui::CPellarnDoc*>(frames[0]->active_document());
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->title(), "Ann Alder (STANDARD)");
    EXPECT_EQ(doc->core().report_name(), "Ann Alder");
    EXPECT_EQ(doc->core().page_count(), 1);
    EXPECT_EQ(shown_waits, Texts{kLoadingText});
    const Texts log = audit_messages();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("View formatted report - Ann Alder in ", 0), 0u) << log[0];
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(BrowserReportCommandsTest, NoLoadingNoticeWithoutAMainWindowOnScreen) {
    windows->main_frame()->hide();
    ASSERT_NE(gui::open_report(report_folder("R2.IMG").string()), nullptr);
    EXPECT_TRUE(shown_waits.empty());
}

TEST_F(BrowserReportCommandsTest, OpenRefusesWithoutOneFormattedReport) {
    const struct {
        Texts selected;
        const char* text;
    } cases[] = {
        {{}, "You must have a single report selected to view it."},
        {{"Eve Full"}, "You can only view formatted reports."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(run(gui::browser_cmd::Open, c.selected));
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text, c.text);
        EXPECT_TRUE(report_frames().empty());
        EXPECT_TRUE(shown_waits.empty());
    }
}

TEST_F(BrowserReportCommandsTest, CompareTilesThreeReportsSideBySide) {
    // A report already open is closed first.
    ASSERT_TRUE(run(gui::browser_cmd::Open, {"Dan Dale"}));
    ASSERT_EQ(report_frames().size(), 1u);

    select({"Ann Alder", "Ben Brook", "Cat Crane"});
    ASSERT_TRUE(browser->execute(gui::browser_cmd::Compare));
    settle();
    EXPECT_TRUE(scripted.shown.empty()) << ::testing::PrintToString(shown_captions());
    EXPECT_TRUE(is_compare_mode());
    EXPECT_EQ(report_titles(),
              (std::set<std::string>{"Ann Alder (STANDARD)", "Ben Brook (STANDARD)", "Cat Crane (STANDARD)"}));
    EXPECT_TRUE(browser->frame()->isMinimized());

    // Side by side: one row across the whole client area, in three equal columns.
    std::vector<fw::ChildFrame*> frames = report_frames();
    ASSERT_EQ(frames.size(), 3u);
    std::sort(frames.begin(), frames.end(), [](fw::ChildFrame* a, fw::ChildFrame* b) { return a->x() < b->x(); });
    const QRect area = windows->main_frame()->mdi_area()->viewport()->rect();
    int x = 0;
    for (fw::ChildFrame* f : frames) {
        EXPECT_FALSE(f->isMaximized());
        EXPECT_EQ(f->y(), 0);
        EXPECT_EQ(f->height(), area.height());
        EXPECT_EQ(f->x(), x);
        EXPECT_NEAR(f->width(), area.width() / 3, 1);
        x += f->width();
    }
    EXPECT_EQ(x, area.width());

    // Closing one view ends the comparison: the others go, the browser comes back.
    ASSERT_TRUE(frames[1]->close());
    settle();
    EXPECT_FALSE(is_compare_mode());
    EXPECT_TRUE(report_frames().empty());
    EXPECT_FALSE(browser->frame()->isMinimized());
}

TEST_F(BrowserReportCommandsTest, ConfirmationPaneTellsTheOpenedReportsStateWithoutAMenuOpened) {
    // The window is activated while the report loads; the pane must not wait for another
    // activation (one that comes late here only because the loading notice took the focus).
    bring_to_front();
    open_by_keyboard("Ann Alder");
    ASSERT_EQ(report_frames().size(), 1u) << ::testing::PrintToString(shown_captions());
    EXPECT_EQ(main_frame().pane_text(menu::kConfirmationPane), " Not confirmed");
    settle();

    main_frame().activate_child(browser->frame());
    settle();
    EXPECT_FALSE(main_frame().pane_enabled(menu::kConfirmationPane));
    open_by_keyboard("Fay Firm");
    ASSERT_EQ(report_frames().size(), 2u) << ::testing::PrintToString(shown_captions());
    EXPECT_TRUE(main_frame().pane_enabled(menu::kConfirmationPane));
    EXPECT_EQ(main_frame().pane_text(menu::kConfirmationPane), " Confirmed by DR QUILLON");
    settle();
    EXPECT_EQ(main_frame().pane_text(menu::kConfirmationPane), " Confirmed by DR QUILLON");
}

// Opened again by its file, a report is described as the browser describes it: its title, its
// name, its confirmation, and the PDF file the print dialog proposes.
TEST_F(BrowserReportCommandsTest, AReportReopenedFromTheRecentListIsDescribedAsFromTheBrowser) {
    std::string proposed;
    fw::set_print_dialog_hook([&](QPrinter& printer, int, int) {
        proposed = from_qstring(printer.docName());
        return false;
    });
    ASSERT_TRUE(run(gui::browser_cmd::Open, {"Fay Firm"}));
    ASSERT_EQ(report_frames().size(), 1u);
    ASSERT_TRUE(report_frames()[0]->close());
    settle();
    ASSERT_TRUE(report_frames().empty());
    // A report outside any archive is titled by its folder.
    const fs::path loose = fs::path(root.path()) / "LOOSE" / "L.IMG";
    testing_root::write_file(loose / "PAGE.0", testing::label_record());
    testing_root::write_file(loose / "PAGE.1", testing::text_record(3200, 6400, "loose"));
    testing_root::write_file(loose / "CONFIRM.TXT", "dr loose\r\n");
    const struct {
        fs::path folder;
        std::string title, name, confirmation;
    } cases[] = {
        {report_folder("R5.IMG"), "Fay Firm (STANDARD)", "Fay Firm", " Confirmed by DR QUILLON"},
        {loose, "Report: " + loose.string(), "L.IMG", " Confirmed by DR LOOSE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        if (c.folder == loose) {
            ASSERT_NE(gui::open_report(loose.string()), nullptr);
        }
        const std::vector<std::string>& recent = windows->framework().recent_files().items();
        const auto entry = std::find(recent.begin(), recent.end(), (c.folder / "SUMMARY.TXT").string());
        ASSERT_NE(entry, recent.end()) << ::testing::PrintToString(recent);
        if (c.folder != loose) {
            ASSERT_NE(windows->framework().open_recent_file(entry - recent.begin()), nullptr);
        }
        settle();
        ASSERT_EQ(report_frames().size(), 1u) << ::testing::PrintToString(shown_captions());
        auto* doc = dynamic_cast<gui::CPellarnDoc*>(report_frames()[0]->active_document());
        EXPECT_EQ(doc->title(), c.title);
        EXPECT_EQ(report_frames()[0]->windowTitle().toStdString().rfind(c.title, 0), 0u);
        EXPECT_EQ(doc->core().report_name(), c.name);
        EXPECT_EQ(main_frame().pane_text(menu::kConfirmationPane), c.confirmation);
        proposed.clear();
        ASSERT_EQ(main_frame().active_child(), report_frames()[0]);
        QTest::keyClick(main_frame().active_child(), Qt::Key_P, Qt::ControlModifier);
        settle();
        EXPECT_EQ(proposed, file_name_from_text(c.title) + ".pdf");
        ASSERT_TRUE(report_frames()[0]->close());
        settle();
    }
    fw::set_print_dialog_hook({});
}

TEST_F(BrowserReportCommandsTest, DetailsPaneFollowsAConfirmationMadeInTheReportWindow) {
    bring_to_front();
    open_by_keyboard("Ben Brook");
    settle();
    ASSERT_EQ(report_frames().size(), 1u) << ::testing::PrintToString(shown_captions());
    EXPECT_EQ(details_text().rfind("Report not confirmed.", 0), 0u) << details_text();
    EXPECT_FALSE(browser->letters_button()->isEnabled());
    ASSERT_TRUE(main_frame().execute_command(menu::kConfirmReport));
    settle();
    // Meanwhile a letter is written for it by the word processor.
    testing_root::write_file(report_folder("R2.IMG") / "LETTER.DOC", "letter");
    main_frame().activate_child(browser->frame());
    settle();
    EXPECT_EQ(main_frame().active_child(), browser->frame());
    const QModelIndexList selected = list().tree()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].row(), item_named("Ben Brook"));
    EXPECT_EQ(details_text().rfind("Report confirmed by ", 0), 0u) << details_text();
    EXPECT_TRUE(browser->letters_button()->isEnabled());
}

TEST_F(BrowserReportCommandsTest, CompareModeEndsWhenABrowserListIsFocusedMadeOrClosed) {
    const std::string other = testing_root::make_test_group(fs::path(root.path()) / "OTHER",
                                                            {{"STANDARD", "STANDARD", {{"O1.FUL", "Olga Other"}}}});
    enum Way { kFocus, kCreate, kClose };
    for (const Way way : {kFocus, kCreate, kClose}) {
        SCOPED_TRACE(way);
        bring_to_front();
        if (way == kClose) {
            ASSERT_NE(gui::open_archive_group(other), nullptr);
        }
        main_frame().activate_child(browser->frame());
        // Picked with the mouse: the list has the focus when the comparison starts.
        QTreeView* tree = list().tree();
        for (const char* name : {"Cat Crane", "Ann Alder"})
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, line_of(name));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier, line_of("Ben Brook"));
        ASSERT_TRUE(tree->hasFocus());
        ASSERT_EQ(list().list_model().selected_items().size(), 2u);
        ASSERT_TRUE(main_frame().execute_command(gui::browser_cmd::Compare));
        settle();
        ASSERT_TRUE(is_compare_mode());
        ASSERT_EQ(report_frames().size(), 2u);
        switch (way) {
            case kFocus: {
                // The user brings the browser back and clicks into its list.
                browser->frame()->showNormal();
                bring_to_front();
                QWidget* viewport = list().tree()->viewport();
                QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(viewport->width() / 2, viewport->height() - 2));
                break;
            }
            case kCreate: ASSERT_NE(gui::open_archive_group(other), nullptr); break;
            case kClose: {
                auto* doc = dynamic_cast<gui::CBrowserListDoc*>(windows->framework().find_open_document(other));
                ASSERT_NE(doc, nullptr);
                ASSERT_TRUE(doc->views().front()->frame()->close());
                break;
            }
        }
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        settle();
        EXPECT_FALSE(is_compare_mode());
        EXPECT_TRUE(report_frames().empty());

        // A resize of the main window no longer tiles what is left.
        fw::ChildFrame* window = browser->frame();
        window->showNormal();
        const QRect placed(10, 10, 300, 200);
        window->setGeometry(placed);
        main_frame().resize(main_frame().width() + 20, main_frame().height() + 10);
        settle();
        EXPECT_EQ(window->geometry(), placed);
        if (auto* doc = windows->framework().find_open_document(other)) doc->on_close_document();
        settle();
    }
}

TEST_F(BrowserReportCommandsTest, CompareRefusesAnyOtherNumberOrKind) {
    const Texts cases[] = {
        {"Ann Alder"},
        {"Ann Alder", "Ben Brook", "Cat Crane", "Dan Dale"},
        {"Ann Alder", "Eve Full"},
        {"Ann Alder", "Ben Brook", "Eve Full"},
    };
    for (const Texts& selected : cases) {
        SCOPED_TRACE(::testing::PrintToString(selected));
        ASSERT_TRUE(run(gui::browser_cmd::Compare, selected));
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].caption, kWrongCompareCaption);
        EXPECT_EQ(scripted.shown[0].text,
                  "You must select two or three  formatted reports before choosing the \"compare\" option.\n\nYou "
                  "cannot compare reports that are not formatted.");
        EXPECT_FALSE(is_compare_mode());
        EXPECT_TRUE(report_frames().empty());
        EXPECT_FALSE(browser->frame()->isMinimized());
    }
}

TEST_F(BrowserReportCommandsTest, PrintReportsPrintsEachFormattedReportAndStopsAtAFailure) {
    // The "/print" operation itself, on the PDF printer instead of the default one.
    Texts printed;
    int fail_at = -1;
    gui::set_report_print_operation([&](const std::string& folder) {
        printed.push_back(fs::path(folder).filename().string());
        if (static_cast<int>(printed.size()) == fail_at) return 1;
        return print_report_command(*core, folder, 0, 0, 1, 0, "N", "PDF Out");
    });
    ASSERT_TRUE(run(gui::browser_cmd::PrintReports, {"Ann Alder", "Eve Full", "Ben Brook"}));
    EXPECT_EQ(printed, (Texts{"R1.IMG", "R2.IMG"}));
    EXPECT_TRUE(scripted.shown.empty()) << ::testing::PrintToString(shown_captions());
    const fs::path pdf = fs::path(root.path()) / "PDF";
    for (const char* patient : {"Ann Alder", "Ben Brook"})
        EXPECT_EQ(uitest::read_file((pdf / (std::string(patient) + ".pdf")).string()).rfind("%PDF", 0), 0u) << patient;
    const Texts log = audit_messages();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& m) { return m.rfind("Print report", 0) == 0; }),
              2);

    // A failed print ends the command.
    printed.clear();
    fail_at = 1;
    select({"Ann Alder", "Ben Brook", "Cat Crane"});
    ASSERT_TRUE(browser->execute(gui::browser_cmd::PrintReports));
    EXPECT_EQ(printed, (Texts{"R1.IMG"}));

    // Nothing formatted: nothing printed, and the user is told.
    printed.clear();
    select({"Eve Full"});
    ASSERT_TRUE(browser->execute(gui::browser_cmd::PrintReports));
    EXPECT_TRUE(printed.empty());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "No formatted reports were selected for printing.");
    EXPECT_EQ(scripted.shown[0].caption, "No reports printed");

    // The default printer where none is set up: the user learns so, and of Print to File.
    if (!QPrinterInfo::defaultPrinter().isNull()) return;  // never print on a real printer
    gui::set_report_print_operation({});
    scripted.shown.clear();
    select({"Ann Alder"});
    ASSERT_TRUE(browser->execute(gui::browser_cmd::PrintReports));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, fw::kNoPrinterSetUp);
}

TEST_F(BrowserReportCommandsTest, MoveCopyAndDeleteNameEachReportInTheWaitDialog) {
    const struct {
        fw::CommandId command;
        Texts selected;
        const char* destination;
    } cases[] = {
        {gui::browser_cmd::Copy, {"Ann Alder", "Ben Brook"}, "Second"},
        {gui::browser_cmd::Move, {"Cat Crane"}, "Second"},
        {gui::browser_cmd::Delete, {"Dan Dale", "Eve Full"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        shown_waits.clear();
        scripted.shown.clear();
        scripted.answers = {MsgResult::Yes};  // Delete's question
        choose_destination(c.destination);
        Texts expected{kMoveCopyText};
        for (const std::string& name : select(c.selected)) expected.push_back(name);
        ASSERT_TRUE(browser->execute(c.command));
        EXPECT_EQ(shown_waits, expected);
        // Gone once the work is done; the main window was disabled meanwhile and is usable again.
        EXPECT_FALSE(main_enabled_while_waiting);
        EXPECT_TRUE(windows->main_frame()->isEnabled());
    }
    EXPECT_EQ(item_named("Dan Dale"), -1);  // "All Archives" never lists "Deleted Reports"
    EXPECT_NE(testing_root::read_all(group / "ARCH2" / "ARCHINFO.DAT").find("Cat Crane"), std::string::npos);
    EXPECT_NE(testing_root::read_all(group / "DELETED" / "ARCHINFO.DAT").find("[STANDARD] Dan Dale"),
              std::string::npos);
}

}  // namespace
}  // namespace tv
