#include <QAction>
#include <QCoreApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPrinter>
#include <QTest>
#include <QTreeView>
#include <clocale>
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/profile.h"
#include "common/text.h"
#include "tools/demo/demo_root.h"
#include "framework/qt/folder_dialog.h"
#include "framework/qt/print_job.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/window_helpers.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/app/ui/clinic_code_dialog.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "testing/decimal_comma_locale.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/browser/ui/timi_open.h"
#include "tolbex/timi/tests/timi_test_support.h"
#include "tolbex/timi/ui/timi_windows.h"

namespace tv {
namespace {

using uitest::Peer;
using uitest::read_file;
using uitest::write_file;

using uitest::settle;

class MainWindowTest : public uitest::UiRootTest {
protected:
    void make_demo() {
        std::string error;
        ASSERT_TRUE(demo::make_demo_root(&summary, &error)) << error;
    }
    // A group folder with one archive and no reports.
    std::string make_group(const std::string& name) {
        const std::string folder = root / name;
        write_file(folder + "/ARCHDIR.DAT", "STANDARD\r\nSTANDARD\r\n");
        write_file(folder + "/STANDARD/ARCHINFO.DAT", "");
        return folder + "/ARCHDIR.DAT";
    }
    void start(std::vector<std::string> args = {}) {
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        ASSERT_TRUE(windows->init_instance(std::move(args)));
        settle();
    }
    void stop() {
        windows.reset();
        core.reset();
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        stop();
        uitest::UiRootTest::TearDown();
    }
    CMainFrame* frame() { return windows->main_frame(); }
    std::vector<fw::ChildFrame*> children() { return frame()->child_frames(); }
    int clinic_code_warnings() const {
        int n = 0;
        for (const auto& t : shown_texts()) n += t.find("Clinic Code has not been set") != std::string::npos;
        return n;
    }
    std::vector<std::string> shown_texts() const {
        std::vector<std::string> out;
        for (const auto& s : scripted.shown) out.push_back(s.text);
        return out;
    }

    demo::DemoSummary summary;
    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
};

TEST_F(MainWindowTest, StartOnDemoRootReopensTheGroupsAndTilesThem) {
    make_demo();
    start();
    ASSERT_TRUE(frame()->isVisible());
    EXPECT_EQ(kMainFrameTitle, frame()->windowTitle().toStdString());
    ASSERT_EQ(2u, open_archive_documents().size());
    for (BrowserListCore* doc : open_archive_documents()) EXPECT_GT(doc->get_row_count(), 0);
    // Two documents: tiled in rows filling the client area.
    auto frames = children();
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(0, frames[0]->x());
    EXPECT_EQ(0, frames[1]->x());
    EXPECT_EQ(frames[0]->width(), frames[1]->width());
    EXPECT_GE(frames[0]->width(), frame()->mdi_area()->viewport()->width() / 2);
    EXPECT_EQ(0, frames[0]->y());
    EXPECT_EQ(frames[0]->height(), frames[1]->y());
    // The demo root names its clinic: nothing stops the start.
    EXPECT_EQ(0, clinic_code_warnings()) << ::testing::PrintToString(shown_texts());
}

TEST_F(MainWindowTest, StartWithoutAClinicCodeWarnsOnce) {
    start();
    ASSERT_TRUE(frame()->isVisible());
    EXPECT_EQ(1, clinic_code_warnings()) << ::testing::PrintToString(shown_texts());
    stop();
    scripted.shown.clear();
    ASSERT_TRUE(set_default_clinic_code("ab12"));
    start();
    EXPECT_EQ(0, clinic_code_warnings()) << ::testing::PrintToString(shown_texts());
}

TEST_F(MainWindowTest, DefaultClinicCodeCommandStoresTheCode) {
    ASSERT_TRUE(set_default_clinic_code("WXYZ"));
    start();
    frame()->update_command_ui();
    ASSERT_NE(nullptr, frame()->action(menu::kClinicCode));
    EXPECT_TRUE(frame()->action(menu::kClinicCode)->isEnabled());

    std::string caption, first_text;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto& dlg = dynamic_cast<gui::ClinicCodeDlg&>(d);
        caption = from_qstring(dlg.windowTitle());
        first_text = from_qstring(dlg.code_edit()->text());
        dlg.code_edit()->setText(QStringLiteral("AB 1"));
        dlg.on_ok();  // refused: stays open
        EXPECT_EQ(0, dlg.result());
        dlg.code_edit()->setText(QStringLiteral("ab12"));
        dlg.on_ok();
        return dlg.result();
    });
    EXPECT_TRUE(frame()->execute_command(menu::kClinicCode));
    EXPECT_EQ("Default Clinic Code", caption);
    EXPECT_EQ("WXYZ", first_text);
    ASSERT_EQ(1u, scripted.shown.size()) << ::testing::PrintToString(shown_texts());
    EXPECT_EQ("The Clinic Code not must contain spaces or punctuation.", scripted.shown[0].text);
    EXPECT_EQ("ab12", get_default_clinic_code());

    // Cancel keeps the stored code whatever was typed.
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto& dlg = dynamic_cast<gui::ClinicCodeDlg&>(d);
        dlg.code_edit()->setText(QStringLiteral("ZZZZ"));
        dlg.on_cancel();
        return dlg.result();
    });
    EXPECT_TRUE(frame()->execute_command(menu::kClinicCode));
    EXPECT_EQ("ab12", get_default_clinic_code());
}

TEST_F(MainWindowTest, ReportOpenedFromATiledBrowserComesUpMaximised) {
    make_demo();
    start();
    auto frames = children();
    ASSERT_EQ(2u, frames.size());
    ASSERT_FALSE(frames[0]->isMaximized());  // tiled
    auto* browser = dynamic_cast<gui::CBrowserFrame*>(frames[0]->active_view());
    ASSERT_NE(nullptr, browser);
    gui::CBrowserListView& list = *browser->list_view();
    int item = -1;
    for (int i = 0; i < list.list_model().item_count() && item < 0; ++i)
        if (is_formatted_type(list.browser_document().core().get_record_type(list.list_model().row_of_item(i))))
            item = i;
    ASSERT_GE(item, 0);
    QTreeView* tree = list.tree();
    const QModelIndex at = list.table_model()->index(item, 0);
    tree->scrollTo(at);
    const QPointF where = tree->visualRect(at).center();
    QMouseEvent click(QEvent::MouseButtonDblClick, where, tree->viewport()->mapToGlobal(where), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tree->viewport(), &click);
    settle();

    fw::ChildFrame* report = nullptr;
    for (fw::ChildFrame* f : children())
        if (dynamic_cast<gui::CPellarnDoc*>(f->active_document())) report = f;
    ASSERT_NE(nullptr, report) << ::testing::PrintToString(shown_texts());
    EXPECT_TRUE(report->isVisible());
    EXPECT_FALSE(report->isMinimized());
    EXPECT_TRUE(report->isMaximized());
    EXPECT_EQ(report, frame()->active_child());
}

TEST_F(MainWindowTest, FourGroupsOrMoreAreCascaded) {
    for (int n = 0; n < 4; ++n)
        write_profile_string("Archives", format_string("Archive %d", n), make_group(format_string("G%d", n)));
    // A vanished group is skipped silently; the list goes on to the next.
    write_profile_string("Archives", "Archive 4", root / "gone/ARCHDIR.DAT");
    start();
    auto frames = children();
    ASSERT_EQ(4u, frames.size());
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GT(frames[i]->x(), frames[i - 1]->x());
        EXPECT_GT(frames[i]->y(), frames[i - 1]->y());
    }
}

TEST_F(MainWindowTest, DisabledBrowsingOpensNoGroupAndKeepsTheRememberedOnes) {
    make_demo();
    const std::string before0 = get_profile_string("Archives", "Archive 0", "");
    start({"/disable_browse"});
    EXPECT_EQ(nullptr, windows->framework().find_template(kArchiveDocTypeId));
    EXPECT_TRUE(children().empty());
    EXPECT_FALSE(windows->open_group(before0));
    ASSERT_TRUE(frame()->close());
    EXPECT_EQ(before0, get_profile_string("Archives", "Archive 0", ""));
    EXPECT_NE("", get_profile_string("Archives", "Archive 1", ""));
}

TEST_F(MainWindowTest, MenuPruningFollowsTheWorkstation) {
    // TIMI off, browsing off, no configuration, no mail, no Merivale PDF.
    start({"/disable_browse"});
    const fw::MenuModel& m = frame()->menu_model();
    for (fw::CommandId id : {184u, 32868u, 32866u, 32821u, 32813u, 32814u, 32824u, 32842u, 32845u, 217u,
                             225u, 226u,   32818u, 32819u, 32811u, 32816u, 32782u, 32788u, 32815u, 32822u})
        EXPECT_EQ(nullptr, fw::find_menu_command(m, id)) << id;
    EXPECT_NE(nullptr, fw::find_menu_command(m, menu::kWindowCascade));
    EXPECT_NE(nullptr, fw::find_menu_command(m, menu::kAbout));
    EXPECT_NE(nullptr, fw::find_menu_command(m, menu::kItemOpen));
    // Sub-menus left empty are gone.
    EXPECT_EQ(std::string::npos, fw::describe_menu(m).find("&Mail/"));
    EXPECT_EQ(std::string::npos, fw::describe_menu(m).find("&Merivale PDF"));
    EXPECT_NE(std::string::npos, fw::describe_menu(m).find("&RTF file..."));  // the report window's exports stay
    stop();

    // TIMI on and a configured group with browsing: those commands stay.
    reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable TIMI Rozaze", "YES please");
    // TIMI turns logging on, which needs the event log's message file.
    write_file(root / "log/messages.dll", "x");
    reg_set_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path", root / "log/messages.dll");
    make_demo();
    start();
    const fw::MenuModel& m2 = frame()->menu_model();
    for (fw::CommandId id : {184u, 32868u, 32818u, 32819u, 32811u, 32782u, 32788u, 32815u})
        EXPECT_NE(nullptr, fw::find_menu_command(m2, id)) << id;
    EXPECT_EQ(nullptr, fw::find_menu_command(m2, 32866u));
    // The status bar's texts of the commands that have one.
    const std::pair<fw::CommandId, const char*> status[] = {
        {32782u, "Opens an archive for viewing."},
        {220u, "Store a Ostrabel 2/3 recording in a folder"},
        {32822u, "Stores a Ostrabel recording in an archive."},
        {32828u, "Stores a Ostrabel CF recording in an archive."},
        {32821u, "Sends a Ostrabel recording in a mail message."},
        {32849u, "Sets the default compression to be used when creating a compressed ECG"}};
    const fw::MenuModel full = menu::build_main_menu();
    for (const auto& [id, text] : status) {
        const fw::MenuItem* item = fw::find_menu_command(full, id);
        ASSERT_NE(item, nullptr) << id;
        EXPECT_EQ(item->status, text) << id;
    }
    ASSERT_NE(frame()->action(32828u), nullptr);
    EXPECT_EQ(frame()->action(32828u)->statusTip().toStdString(), "Stores a Ostrabel CF recording in an archive.");
}

TEST_F(MainWindowTest, WithTimiOnTheTimiWindowsOpenFromTheBrowsersRequests) {
    reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable TIMI Rozaze", "YES");
    write_file(root / "log/messages.dll", "x");
    reg_set_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path", root / "log/messages.dll");
    register_timi_strings();
    start();
    fw::DocTemplate* timi = windows->framework().find_template(kTimiDocTypeId);
    ASSERT_NE(nullptr, timi);
    EXPECT_EQ(timi->doc_string(fw::DocString::FilterExt), ".TIMI");
    EXPECT_EQ(timi->doc_string(fw::DocString::FilterName), "Torvane TIMI Files (*.TIMI)");
    EXPECT_EQ(timi->doc_string(fw::DocString::RegFileTypeName), "TIMI Document");
    for (fw::CommandId id : {239u, 32860u, 32856u, 191u, 245u})
        EXPECT_NE(nullptr, fw::find_menu_command(frame()->menu_model(), id)) << id;
    ASSERT_TRUE(gui::timi_opener());

    timi_test::DaySpec day;
    for (const char* time : {"10:00:00", "10:00:30", "10:01:00"}) day.rows.push_back(timi_test::day_row(1, time, "61"));
    write_file(root / "A/TIMI77_1.TXT", timi_test::day_file_text(day));
    write_file(root / "day.TIMI", (root / "A/TIMI77_1.TXT") + "\r\n");
    const gui::TimiOpenRequest request{root / "day.TIMI", root / "A", "", "Week one", "77"};
    EXPECT_EQ(gui::timi_opener()(request), gui::TimiOpenResult::Opened);
    auto* doc = dynamic_cast<TIMIDoc*>(timi->documents().front().get());
    ASSERT_NE(nullptr, doc);
    EXPECT_EQ(doc->get_data()->row_count(), 3);
    EXPECT_EQ(doc->title(), kUnsavedTimiTitle);
    EXPECT_EQ(doc->store().display_name(), "Week one");
    EXPECT_EQ(doc->store().data_folder(), root / "A");
    settle();
    frame()->update_command_ui();
    EXPECT_TRUE(frame()->action(239)->isEnabled());
    EXPECT_FALSE(frame()->action(245)->isEnabled());

    write_file(root / "bad.TIMI", root / "none/TIMI1_1.TXT");
    EXPECT_EQ(gui::timi_opener()({root / "bad.TIMI", root / "A", "", "x", ""}), gui::TimiOpenResult::NoData);
    doc->set_modified(false);
    stop();
    EXPECT_FALSE(gui::timi_opener());
}

TEST_F(MainWindowTest, ClosingRemembersTheOpenGroupsAndDropsStaleOnes) {
    make_demo();
    write_profile_string("Archives", "Archive 2", root / "old2/ARCHDIR.DAT");
    write_profile_string("Archives", "Archive 3", root / "old3/ARCHDIR.DAT");
    start();
    std::vector<std::string> paths;
    for (BrowserListCore* d : open_archive_documents()) paths.push_back(d->get_path_name());
    ASSERT_EQ(2u, paths.size());
    ASSERT_TRUE(frame()->close());
    EXPECT_TRUE(frame()->is_closing());
    EXPECT_EQ(paths[0], get_profile_string("Archives", "Archive 0", ""));
    EXPECT_EQ(paths[1], get_profile_string("Archives", "Archive 1", ""));
    EXPECT_EQ("", get_profile_string("Archives", "Archive 2", ""));
    EXPECT_EQ("", get_profile_string("Archives", "Archive 3", ""));
}

TEST_F(MainWindowTest, CancellingTheSaveQuestionKeepsTheRememberedGroups) {
    make_demo();
    const std::string g0 = get_profile_string("Archives", "Archive 0", "");
    write_profile_string("Archives", "Archive 2", "kept");
    start();
    ASSERT_FALSE(windows->framework().documents().empty());
    windows->framework().documents().front()->set_modified(true);
    scripted.shown.clear();
    scripted.answers = {MsgResult::Cancel};
    EXPECT_FALSE(frame()->close());
    EXPECT_FALSE(frame()->is_closing());
    ASSERT_EQ(1u, scripted.shown.size());  // the save question
    EXPECT_EQ(g0, get_profile_string("Archives", "Archive 0", ""));
    EXPECT_EQ("kept", get_profile_string("Archives", "Archive 2", ""));
    EXPECT_EQ(2u, open_archive_documents().size());
}

TEST_F(MainWindowTest, PlacementIsSavedAndComesBackNormal) {
    start();
    frame()->showNormal();
    frame()->setGeometry(40, 50, 520, 380);
    settle();
    const QRect placed = frame()->geometry();
    ASSERT_TRUE(frame()->close());
    EXPECT_NE("", get_profile_string("WindowPos", "Settings", ""));
    stop();

    start();
    EXPECT_FALSE(frame()->isMinimized());
    EXPECT_FALSE(frame()->isMaximized());
    EXPECT_EQ(placed.size(), frame()->geometry().size());
    EXPECT_EQ(placed.topLeft(), frame()->geometry().topLeft());
    // Minimised when closed: comes back normal.
    frame()->showMinimized();
    settle();
    ASSERT_TRUE(frame()->close());
    stop();
    start();
    EXPECT_TRUE(frame()->isVisible());
    EXPECT_FALSE(frame()->isMinimized());
    // Hidden when closed (as after saying goodbye to the analysis system): comes back shown.
    frame()->hide();
    ASSERT_TRUE(frame()->close());
    stop();
    start();
    EXPECT_TRUE(frame()->isVisible());
    EXPECT_FALSE(frame()->isMinimized());
}

TEST_F(MainWindowTest, ClosingInPrintPreviewOnlyLeavesThePreview) {
    make_demo();
    write_profile_string("Archives", "Archive 2", "kept");
    start();
    int left = 0;
    frame()->set_preview_mode(true, [&] { ++left; });
    EXPECT_FALSE(frame()->close());
    EXPECT_EQ(1, left);
    EXPECT_FALSE(frame()->in_preview());
    EXPECT_EQ("kept", get_profile_string("Archives", "Archive 2", ""));
    EXPECT_EQ(2u, open_archive_documents().size());
}

class FromGuiTest : public MainWindowTest {
protected:
    void write_revision(const std::string& revision) {
        write_file(platform::analyser_default_root() + "/system/version.txt",
                   "product IS \"x\"\r\ncurrent.software.revision IS \"V" + revision + "\"\r\n");
    }
};

TEST_F(FromGuiTest, RevisionEightSendsThreeMessagesInOrderAndHides) {
    write_revision("8.006");
    const std::string record = root / "received.txt";
    Peer peer(root / "ready", {"--main", "--record", record});
    ASSERT_TRUE(peer.ready());
    start({"/from_gui"});
    ASSERT_TRUE(core->is_from_gui());
    ASSERT_TRUE(frame()->close());
    EXPECT_EQ("MSG_TOLBEX_ABOUT_TO_TERMINATE 0 0\nMSG_TOLBEX_CLOSED 0 0\nMSG_REDRAW_QUORRIL 0 0\n", read_file(record));
    EXPECT_FALSE(frame()->isVisible());
}

TEST_F(FromGuiTest, BelowEightOnlyClosedAndWithoutTheSwitchNothing) {
    write_revision("7.5");
    const std::string record = root / "received.txt";
    Peer peer(root / "ready", {"--main", "--record", record});
    ASSERT_TRUE(peer.ready());
    start({"/from_gui"});
    ASSERT_TRUE(frame()->close());
    EXPECT_EQ("MSG_TOLBEX_CLOSED 0 0\n", read_file(record));
    stop();
    start();
    ASSERT_TRUE(frame()->close());
    EXPECT_EQ("MSG_TOLBEX_CLOSED 0 0\n", read_file(record));
}

TEST_F(FromGuiTest, ConfirmationQueryAnswersWithThePeersUser) {
    start({"/enable_confirm_cnav"});
    EXPECT_TRUE(core->is_confirm_cnav());
    EXPECT_EQ("", frame()->get_confirming_user(2000));
    EXPECT_EQ(kConfirmNoWindow, frame()->query_status());
    {
        Peer peer(root / "ready1", {"--identity", "--user", "DR SMITH"});
        ASSERT_TRUE(peer.ready());
        EXPECT_EQ("DR SMITH", frame()->get_confirming_user(10000));
        EXPECT_EQ(kConfirmOk, frame()->query_status());
    }
    {
        Peer peer(root / "ready2", {"--identity", "--never-answer"});
        ASSERT_TRUE(peer.ready());
        EXPECT_EQ("", frame()->get_confirming_user(1500));
        EXPECT_EQ(kConfirmSendFailed, frame()->query_status());
    }
}

// A report document as the status panes see it.
class FakeReport : public fw::Document, public ReportDocumentStatus {
public:
    bool is_read_only() const override { return read_only; }
    std::string get_confirmation() const override { return confirmation; }
    bool on_open_document(const std::string&) override { return true; }
    bool read_only = false;
    std::string confirmation;
};

TEST_F(MainWindowTest, StatusPanesShowTheActiveReportsState) {
    EXPECT_EQ(" Not confirmed", confirmation_pane_text(""));
    EXPECT_EQ(
        " Confirmed by DR. M\xfc"
        "LLER",
        confirmation_pane_text("Dr. M\xfcller"));
    WindowedParts parts;
    parts.report = {[] { return std::make_unique<FakeReport>(); }, [](fw::Document&) { return new fw::View; }};
    core = std::make_unique<CTolbexApp>();
    windows = std::make_unique<TolbexWindowApp>(*core, parts);
    ASSERT_TRUE(windows->init_instance({}));
    frame()->update_command_ui();
    EXPECT_FALSE(frame()->pane_enabled(menu::kConfirmationPane));
    EXPECT_EQ("", frame()->pane_text(menu::kReadOnlyPane));
    auto* doc = dynamic_cast<FakeReport*>(
        windows->framework().open_document_file(root / "R.IMG", windows->framework().find_template(kReportDocTypeId)));
    ASSERT_NE(nullptr, doc);
    doc->read_only = true;
    doc->confirmation = "dr quillon";
    frame()->update_command_ui();
    EXPECT_TRUE(frame()->pane_enabled(menu::kConfirmationPane));
    EXPECT_EQ(" Confirmed by DR QUILLON", frame()->pane_text(menu::kConfirmationPane));
    EXPECT_EQ(kReadOnlyText, frame()->pane_text(menu::kReadOnlyPane));
}

TEST_F(MainWindowTest, LeavingCompareModeClosesTheReportWindows) {
    WindowedParts parts;
    parts.report = {[] { return std::make_unique<FakeReport>(); }, [](fw::Document&) { return new fw::View; }};
    make_demo();
    core = std::make_unique<CTolbexApp>();
    windows = std::make_unique<TolbexWindowApp>(*core, parts);
    ASSERT_TRUE(windows->init_instance({}));
    settle();
    fw::DocTemplate* reports = windows->framework().find_template(kReportDocTypeId);
    ASSERT_NE(nullptr, windows->framework().open_document_file(root / "A.IMG", reports));
    ASSERT_NE(nullptr, windows->framework().open_document_file(root / "B.IMG", reports));
    set_compare_mode(true);
    frame()->resize(frame()->width() + 10, frame()->height());
    settle();
    set_compare_mode(false);
    settle();
    EXPECT_TRUE(reports->documents().empty());
    EXPECT_EQ(2u, open_archive_documents().size());
}

// A report folder of one page.
std::string make_report(const std::string& folder) {
    write_file(folder + "/VERSION.TXT", "V8.006\r\n");
    write_file(folder + "/SUMMARY.TXT", "x\r\n");
    write_file(folder + "/PAGE.0", testing::label_record());
    return folder;
}

TEST_F(MainWindowTest, ClosingAReportWindowEndsCompareMode) {
    start();
    ASSERT_NE(nullptr, gui::open_report(make_report(root / "R.IMG")));
    ASSERT_EQ(1u, children().size());
    set_compare_mode(true);
    ASSERT_TRUE(children().front()->close());
    settle();
    EXPECT_FALSE(is_compare_mode());
    EXPECT_TRUE(frame()->isVisible());  // browsing is on: the main window stays
}

TEST_F(MainWindowTest, ClosingTheReportWindowWithoutBrowsingClosesTheMainWindow) {
    const std::string folder = make_report(root / "R.IMG");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/disable_browse"}, std::vector<std::string>{"/preview", folder}}) {
        SCOPED_TRACE(args.front());
        start(args);
        if (children().empty()) {
            ASSERT_NE(nullptr, gui::open_report(folder));
        }
        ASSERT_EQ(1u, children().size());
        ASSERT_TRUE(frame()->isVisible());
        ASSERT_TRUE(children().front()->close());
        settle();
        EXPECT_FALSE(frame()->isVisible());
        stop();
    }
}

TEST_F(MainWindowTest, StartUnderADecimalCommaLocaleKeepsThePointForNumbers) {
    testing_root::DecimalCommaLocale comma;  // what the toolkit takes from such a user's environment
    if (!comma.active()) GTEST_SKIP() << testing_root::DecimalCommaLocale::kMissing;
    const std::string user_time = std::setlocale(LC_TIME, nullptr);
    start({"/disable_browse"});
    EXPECT_STREQ(".", std::localeconv()->decimal_point);
    EXPECT_EQ("8.006", format_string("%.3f", 8.006));
    EXPECT_EQ(user_time, std::setlocale(LC_TIME, nullptr));
}

TEST_F(MainWindowTest, ScreenshotShowsTheListWithItsColumnHeadings) {
    make_demo();
    start();
    frame()->resize(1000, 700);
    frame()->execute_command(menu::kWindowTileHorz);
    settle();
    auto* browser = fw::find_view_of_class<gui::CBrowserFrame>();
    ASSERT_NE(nullptr, browser);
    gui::CBrowserListView* view = browser->list_view();
    ASSERT_NE(nullptr, view);
    QTreeView* tree = view->tree();
    ASSERT_NE(nullptr, tree);
    QHeaderView* header = tree->header();
    ASSERT_TRUE(header->isVisible());
    for (int c = 0; c < kBrowserColumnCount; ++c)
        EXPECT_EQ(browser_column_title(c), tree->model()->headerData(c, Qt::Horizontal).toString().toStdString());
    EXPECT_GT(tree->model()->rowCount(), 0);

    const QImage shot = frame()->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // The heading strip and the rows are drawn: text makes more than one colour in each.
    auto colours_in = [&](QWidget* w) {
        const QRect r(w->mapTo(frame(), QPoint(0, 0)), w->size());
        std::set<QRgb> seen;
        for (int y = r.top(); y <= r.bottom() && y < shot.height(); ++y)
            for (int x = r.left(); x <= r.right() && x < shot.width(); ++x) seen.insert(shot.pixel(x, y));
        return seen.size();
    };
    EXPECT_GT(colours_in(header), 2u);
    EXPECT_GT(colours_in(tree->viewport()), 2u);
    // The first heading's section lies inside the grabbed header strip.
    EXPECT_GT(header->sectionSize(0), 0);
}

TEST_F(MainWindowTest, ArchiveGroupCommandsOpenWhatThePickerChose) {
    make_demo();
    start();
    const std::size_t before = open_archive_documents().size();
    const std::string fresh = root / "NewGroup";
    ASSERT_TRUE(create_folder_path(fresh));
    fw::set_browse_for_folder_hook([&](const std::string& title, const std::string&) {
        EXPECT_EQ(kCreateGroupCaption, title);
        return fresh;
    });
    EXPECT_TRUE(frame()->execute_command(menu::kCreateGroup));
    fw::set_browse_for_folder_hook({});
    EXPECT_TRUE(platform::find_name_ci(fresh, "ARCHDIR.DAT").has_value());
    EXPECT_EQ(before + 1, open_archive_documents().size());

    // Find: both demo groups and the new one lie below the root; all are open already.
    fw::set_browse_for_folder_hook([&](const std::string&, const std::string&) { return root.path(); });
    scripted.shown.clear();
    EXPECT_TRUE(frame()->execute_command(menu::kFindGroups));
    fw::set_browse_for_folder_hook({});
    EXPECT_EQ(before + 1, open_archive_documents().size());
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_NE(std::string::npos, scripted.shown.back().text.find("valid archives have been found"));
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// The menus and windows as the user meets them: keys, the File menu's recent files, the Window
// menu and where new windows come up.
class DesktopTest : public MainWindowTest {
protected:
    void TearDown() override {
        fw::set_browse_for_folder_hook({});
        fw::set_print_dialog_hook({});
        MainWindowTest::TearDown();
    }
    void activate() {
        frame()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame()));
    }
    // Opens a menu of the menu bar as a click on its title does.
    QMenu* open_menu(const char* title) {
        for (QAction* a : frame()->menuBar()->actions()) {
            if (a->text() != QLatin1String(title) || !a->menu()) continue;
            frame()->menuBar()->setActiveAction(a);
            settle();
            return a->menu();
        }
        return nullptr;
    }
    static std::vector<QAction*> entries(QMenu& menu) {
        std::vector<QAction*> out;
        for (QAction* a : menu.actions())
            if (a->isVisible() && !a->isSeparator()) out.push_back(a);
        return out;
    }
    // The entries after the menu's last separator.
    static std::vector<QAction*> last_group(QMenu& menu) {
        std::vector<QAction*> out;
        for (QAction* a : menu.actions()) {
            if (!a->isVisible()) continue;
            if (a->isSeparator())
                out.clear();
            else
                out.push_back(a);
        }
        return out;
    }
    void click(QMenu& menu, QAction* entry) {
        QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(entry).center());
        settle();
    }
    void enable_timi() {
        reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable TIMI Rozaze", "YES");
        write_file(root / "log/messages.dll", "x");
        reg_set_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path", root / "log/messages.dll");
        register_timi_strings();
    }
    gui::TimiOpenRequest day_list(const std::string& name) {
        timi_test::DaySpec day;
        for (const char* time : {"10:00:00", "10:00:30"}) day.rows.push_back(timi_test::day_row(1, time, "61"));
        const std::string day_file = root / (name + "/TIMI77_1.TXT");
        write_file(day_file, timi_test::day_file_text(day));
        write_file(root / (name + ".TIMI"), day_file + "\r\n");
        return {root / (name + ".TIMI"), root / name, "", name, "77"};
    }
    fw::ChildFrame* child_of(const fw::Document* doc) {
        for (fw::ChildFrame* f : children())
            if (f->active_document() == doc) return f;
        return nullptr;
    }
    QRect client() { return frame()->mdi_area()->viewport()->rect(); }
};

TEST_F(DesktopTest, PrintedShortcutsRunTheirCommands) {
    make_demo();
    start();
    ASSERT_GE(children().size(), 1u);
    activate();
    std::vector<std::string> ran;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        ran.push_back(dynamic_cast<gui::ArchiveListDlg*>(&d) ? "select" : "other dialog");
        return 0;
    });
    fw::set_browse_for_folder_hook([&](const std::string& title, const std::string&) {
        ran.push_back(title);
        return std::string();
    });
    fw::set_print_dialog_hook([&](QPrinter&, int, int) {
        ran.push_back("print");
        return false;
    });
    QTest::keyClick(frame(), Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(frame(), Qt::Key_F, Qt::ControlModifier);
    // Ctrl+P goes to the active window: the browser prints its catalogue.
    QTest::keyClick(frame()->active_child(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ((std::vector<std::string>{"select", kFindGroupsCaption, "print"}), ran);
}

TEST_F(DesktopTest, RecentFilesAreRememberedAcrossARestartAndReopen) {
    make_demo();
    start();
    const std::string report = make_report(root / "R.IMG");
    ASSERT_NE(nullptr, gui::open_report(report));
    QMenu* file = open_menu("&File");
    ASSERT_NE(nullptr, file);
    std::vector<std::string> shown;
    for (QAction* a : entries(*file))
        if (a->text().startsWith(QLatin1Char('&')) && a->text().at(1).isDigit())
            shown.push_back(a->text().toStdString());
    file->hide();
    ASSERT_EQ(3u, shown.size()) << ::testing::PrintToString(shown);
    EXPECT_EQ(0u, shown[0].rfind("&1 ", 0));
    EXPECT_NE(std::string::npos, shown[0].find("SUMMARY.TXT"));
    EXPECT_NE(std::string::npos, shown[1].find("ARCHDIR.DAT"));
    const std::string first = get_profile_string("Recent File List", "File1", "");
    EXPECT_EQ(join_path(report, "SUMMARY.TXT"), first);
    EXPECT_NE("", get_profile_string("Recent File List", "File3", ""));
    ASSERT_TRUE(frame()->close());
    stop();

    // Without browsing nothing opens by itself: the list is what the last run left.
    start({"/disable_browse"});
    ASSERT_TRUE(children().empty());
    file = open_menu("&File");
    ASSERT_NE(nullptr, file);
    std::vector<std::string> again;
    QAction* report_entry = nullptr;
    for (QAction* a : entries(*file)) {
        if (!a->text().startsWith(QLatin1Char('&')) || !a->text().at(1).isDigit()) continue;
        again.push_back(a->text().toStdString());
        EXPECT_TRUE(a->isEnabled());
        if (a->text().contains(QLatin1String("SUMMARY.TXT"))) report_entry = a;
    }
    EXPECT_EQ(shown, again);
    ASSERT_NE(nullptr, report_entry);
    click(*file, report_entry);
    ASSERT_EQ(1u, children().size());
    EXPECT_NE(nullptr, dynamic_cast<gui::CPellarnDoc*>(children().front()->active_document()));
}

TEST_F(DesktopTest, WindowMenuListsTheWindowsAndBringsABrowserBackOverAMaximisedReport) {
    make_demo();
    start();
    ASSERT_NE(nullptr, gui::open_report(make_report(root / "R.IMG")));
    settle();
    auto frames = children();
    ASSERT_EQ(3u, frames.size());
    ASSERT_TRUE(frames[2]->isMaximized());
    QMenu* window = open_menu("&Window");
    ASSERT_NE(nullptr, window);
    std::vector<QAction*> listed = last_group(*window);
    ASSERT_EQ(3u, listed.size());
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ("&" + std::to_string(i + 1) + " " + frames[i]->windowTitle().toStdString(),
                  listed[i]->text().toStdString());
        EXPECT_EQ(i == 2, listed[i]->isChecked()) << i;
    }
    click(*window, listed[0]);
    EXPECT_EQ(frames[0], frame()->active_child());
    EXPECT_TRUE(frames[0]->isVisible());
    EXPECT_FALSE(frames[0]->isMinimized());
    EXPECT_EQ(client(), frames[0]->geometry());  // on top, in the place the report had

    // Tile with a maximised child: every window in a row of its own.
    window = open_menu("&Window");
    ASSERT_NE(nullptr, window);
    QAction* tile = frame()->action(menu::kWindowTileHorz);
    ASSERT_NE(nullptr, tile);
    click(*window, tile);
    int y = 0;
    for (fw::ChildFrame* f : frames) {
        EXPECT_FALSE(f->isMaximized());
        EXPECT_EQ(y, f->y());
        EXPECT_EQ(client().width(), f->width());
        EXPECT_GE(f->height(), client().height() / 3 - 1);
        y = f->geometry().bottom() + 1;
    }
    // Cascade from a maximised report: staggered, each large enough to work in, the active on top.
    frames[2]->showMaximized();
    settle();
    window = open_menu("&Window");
    ASSERT_NE(nullptr, window);
    click(*window, frame()->action(menu::kWindowCascade));
    EXPECT_EQ(frames[2], frame()->active_child());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_FALSE(frames[i]->isMaximized()) << i;
        EXPECT_GE(frames[i]->width(), client().width() / 2) << i;
        EXPECT_GE(frames[i]->height(), client().height() / 2) << i;
        EXPECT_TRUE(client().contains(frames[i]->geometry())) << i;
        if (i > 0) {
            EXPECT_NE(frames[i - 1]->pos(), frames[i]->pos()) << i;
        }
    }
}

TEST_F(DesktopTest, NewWindowShowsASecondWindowOnTheDocument) {
    make_demo();
    start();
    const std::size_t before = children().size();
    QMenu* window = open_menu("&Window");
    ASSERT_NE(nullptr, window);
    click(*window, frame()->action(fw::cmd::WindowNew));
    auto frames = children();
    ASSERT_EQ(before + 1, frames.size());
    EXPECT_TRUE(frames.back()->isVisible());
    EXPECT_EQ(frames.back(), frame()->active_child());
}

TEST_F(DesktopTest, TimiWindowOpensUsableBesideAMinimisedWindowAndMaximisedOverAMaximisedOne) {
    enable_timi();
    make_demo();
    start();
    frame()->resize(1000, 700);
    settle();
    ASSERT_TRUE(gui::timi_opener());
    auto frames = children();
    ASSERT_EQ(2u, frames.size());
    frames[1]->showMinimized();
    settle();
    ASSERT_EQ(gui::timi_opener()(day_list("A")), gui::TimiOpenResult::Opened);
    settle();
    fw::DocTemplate* timi = windows->framework().find_template(kTimiDocTypeId);
    ASSERT_EQ(1u, timi->documents().size());
    fw::ChildFrame* first = child_of(timi->documents().front().get());
    ASSERT_NE(nullptr, first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isMinimized());
    EXPECT_EQ(first, frame()->active_child());
    EXPECT_GE(first->width(), client().width() / 2);
    EXPECT_GE(first->height(), client().height() / 2);
    EXPECT_TRUE(client().contains(first->geometry())) << first->geometry().x() << "," << first->geometry().y();
    timi->documents().front()->set_modified(false);

    first->showMaximized();
    settle();
    ASSERT_EQ(gui::timi_opener()(day_list("B")), gui::TimiOpenResult::Opened);
    settle();
    ASSERT_EQ(2u, timi->documents().size());
    fw::ChildFrame* second = child_of(timi->documents().back().get());
    ASSERT_NE(nullptr, second);
    EXPECT_TRUE(second->isMaximized());
    EXPECT_EQ(second, frame()->active_child());
    EXPECT_EQ(client(), second->geometry());
    for (const auto& d : timi->documents()) d->set_modified(false);
}

}  // namespace
}  // namespace tv
