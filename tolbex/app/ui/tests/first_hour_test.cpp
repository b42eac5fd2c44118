// What a new user meets in the first hour, offscreen, driven as the user drives it: a double-click
// on the selected row, the PDF file the print dialog offers, the Window menu after New Window,
// the status bar around Find, and the access keys of every menu.
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTest>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "common/registry.h"
#include "framework/qt/folder_dialog.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_dialogs.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/timi/ui/timi_windows.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLongName = "Hartigan, Bram / Formatted (Cardiology, second opinion)";

class FirstHourTest : public uitest::BrowserAppTest {
protected:
    void SetUp() override {
        BrowserAppTest::SetUp();
        make_group({{"STANDARD", "STANDARD", {{"R1.IMG", kLongName}, {"R2.IMG", "Ann Alder"}}}});
        make_formatted("R1.IMG", "first page");
        home = fs::path(root.path()) / "home";
        fs::create_directories(home);
        if (const char* h = std::getenv("HOME")) old_home = h;
        ::setenv("HOME", home.c_str(), 1);
        ASSERT_TRUE(start_app());
        ASSERT_NE(open_browser(), nullptr);
        frame()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame()));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            warnings().push_back(text.toStdString());
        });
    }
    void TearDown() override {
        qInstallMessageHandler(nullptr);
        warnings().clear();
        fw::set_browse_for_folder_hook({});
        ::setenv("HOME", old_home.c_str(), 1);
        BrowserAppTest::TearDown();
    }
    static std::vector<std::string>& warnings() {
        static std::vector<std::string> w;
        return w;
    }
    CMainFrame* frame() { return windows->main_frame(); }
    QRect row_rect(int item) { return list().tree()->visualRect(list().tree()->model()->index(item, 0)); }
    std::vector<fw::ChildFrame*> report_frames() { return frames_of<gui::CPellarnDoc>(); }

    // Answers the print dialog as a user who takes what it offers: the file it proposes, then OK.
    // A warning about the file is noted and closed, and the print cancelled.
    void answer_print_dialog_with_ok(int polls = 200) {
        if (polls == 0) return;
        QTimer::singleShot(20, &alive, [this, polls] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                refused.push_back(from_qstring(box->text()));
                box->reject();
                if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) dialog->reject();
                return;
            }
            auto* dialog = qobject_cast<QPrintDialog*>(modal);
            if (!dialog) return answer_print_dialog_with_ok(polls - 1);
            const auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("filename"));
            proposed.push_back(name ? from_qstring(name->text()) : std::string());
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            answer_print_dialog_with_ok(3);  // a warning comes at once, if it comes
        });
    }

    QObject alive;  // pending answers go with the test
    fs::path home;
    std::string old_home;
    std::vector<std::string> proposed, refused;
};

TEST_F(FirstHourTest, DoubleClickOnTheSelectedRowOpensTheReportInFront) {
    const int item = item_named(kLongName);
    ASSERT_GE(item, 0);
    QWidget* rows = list().tree()->viewport();
    const QPoint at = row_rect(item).center();
    QTest::mouseClick(rows, Qt::LeftButton, {}, at);
    settle();
    ASSERT_EQ(list().list_model().selected_items().size(), 1u);
    // The row is selected: the double-click's first click is one on a selected row.
    QTest::mousePress(rows, Qt::LeftButton, {}, at);
    QTest::mouseRelease(rows, Qt::LeftButton, {}, at);
    QTest::mouseDClick(rows, Qt::LeftButton, {}, at);
    QTest::mouseRelease(rows, Qt::LeftButton, {}, at);
    // Longer than the wait for a slow second click, which would have started the rename.
    QTest::qWait(QApplication::doubleClickInterval() + 200);
    settle();
    ASSERT_EQ(report_frames().size(), 1u);
    EXPECT_EQ(frame()->active_child(), report_frames().front());
    EXPECT_EQ(QApplication::activeWindow(), frame());
    EXPECT_EQ(list().tree()->findChild<QLineEdit*>(), nullptr) << "the rename editor opened";
    EXPECT_EQ(list().list_model().selected_items().size(), 1u);
    for (const std::string& w : warnings()) EXPECT_EQ(w.find("closeEditor"), std::string::npos) << w;
}

// The only printer here is the dialog's PDF file: what it offers is the whole name of the
// report or of the browser as a file in the home folder, and OK prints there the first time.
TEST_F(FirstHourTest, PrintDialogOffersTheWholeNameAsAFileAndPrintsThereFirstTime) {
    std::vector<std::string> names{browser->frame()->windowTitle().toStdString()};
    answer_print_dialog_with_ok();
    QTest::keyClick(frame()->active_child(), Qt::Key_P, Qt::ControlModifier);
    settle();
    ASSERT_TRUE(select({kLongName}).size() == 1 && browser->execute(gui::browser_cmd::Open));
    settle();
    ASSERT_EQ(report_frames().size(), 1u);
    names.push_back(report_frames().front()->windowTitle().toStdString());
    ASSERT_EQ(frame()->active_child(), report_frames().front());
    answer_print_dialog_with_ok();
    QTest::keyClick(frame()->active_child(), Qt::Key_P, Qt::ControlModifier);
    settle();
    for (const auto& m : scripted.shown) ADD_FAILURE() << m.text;

    std::vector<std::string> expected;
    for (std::string name : names) {
        EXPECT_GT(name.size(), 31u) << name;
        for (char& c : name) c = c == '/' ? '_' : c;
        expected.push_back((home / (name + ".pdf")).string());
    }
    EXPECT_EQ(proposed, expected);
    EXPECT_TRUE(refused.empty()) << refused.front();
    for (const std::string& pdf : expected) EXPECT_GT(fs::exists(pdf) ? fs::file_size(pdf) : 0u, 0u) << pdf;
}

// The preview window and a PDF file's Title carry the whole name; only a print job's is short.
TEST_F(FirstHourTest, PreviewAndPdfTitlesAreTheWholeName) {
    ASSERT_TRUE(select({kLongName}).size() == 1 && browser->execute(gui::browser_cmd::Open));
    settle();
    ASSERT_EQ(report_frames().size(), 1u);
    const QString title = report_frames().front()->windowTitle();
    ASSERT_GT(title.size(), 31);
    QString shown;
    QTimer::singleShot(50, &alive, [&] {
        if (auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget())) {
            shown = preview->windowTitle();
            preview->reject();
        }
    });
    auto* doc = dynamic_cast<gui::CPellarnDoc*>(report_frames().front()->active_document());
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->execute(fw::cmd::FilePrintPreview));
    EXPECT_EQ(shown, title);

    const fs::path out = fs::path(root.path()) / "PDF";
    uitest::set_settings(*core, [&](TolbexSettings& s) {
        s.profile.pdf_printer_name = "PDF Out";
        s.profile.pdf_output_folder = out.string();
    });
    const std::string folder = report_folder("R1.IMG").string();
    ASSERT_EQ(0, print_report_command(*core, folder, 0, 0, 1, 0, std::string("N") + kLongName, "PDF Out"));
    std::string info;
    for (const auto& e : fs::directory_iterator(out)) {
        if (std::FILE* p = ::popen(("pdfinfo '" + e.path().string() + "' 2>/dev/null").c_str(), "r")) {
            char buf[4096];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) info.append(buf, n);
            ::pclose(p);
        }
    }
    const std::size_t at = info.find("Title:");
    ASSERT_NE(at, std::string::npos) << info;
    const std::size_t value = info.find_first_not_of(' ', at + 6);
    EXPECT_EQ(info.substr(value, info.find('\n', value) - value), kLongName) << info;
}

// The longest report type fits its column in the list's own font.
TEST_F(FirstHourTest, TheTypeColumnHoldsTheLongestTypeWhole) {
    QTreeView* tree = list().tree();
    const int needed = tree->fontMetrics().horizontalAdvance(QStringLiteral("TIMI Arrhythmia Summary"));
    EXPECT_GT(tree->columnWidth(kColumnType), needed);
}

// Every heading shows whole in the heading's font, and with it a value no longer than its heading.
TEST_F(FirstHourTest, EveryColumnHoldsItsHeadingWhole) {
    QTreeView* tree = list().tree();
    for (int c = 0; c < kBrowserColumnCount; ++c) {
        const QString heading = tree->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_GT(tree->columnWidth(c), tree->header()->fontMetrics().horizontalAdvance(heading)) << c;
    }
    EXPECT_GT(tree->columnWidth(kColumnConfirmed), tree->fontMetrics().horizontalAdvance(QStringLiteral("Yes")));
}

TEST_F(FirstHourTest, EachWindowOfADocumentHasItsOwnEntryInTheWindowMenu) {
    const QString title = browser->frame()->windowTitle();
    frame()->action(fw::cmd::WindowNew)->trigger();
    settle();
    std::vector<QString> listed;
    for (fw::ChildFrame* f : frame()->child_frames()) listed.push_back(f->windowTitle());
    EXPECT_EQ(listed, (std::vector<QString>{title + ":1", title + ":2"}));
    // The Window menu as a click on its title opens it.
    QMenu* window = nullptr;
    for (QAction* a : frame()->menuBar()->actions())
        if (a->text() == QStringLiteral("&Window")) window = a->menu();
    ASSERT_NE(window, nullptr);
    frame()->menuBar()->setActiveAction(window->menuAction());
    settle();
    std::set<QString> entries;
    for (QAction* e : window->actions()) {
        if (!e->isVisible() || !e->text().startsWith(QLatin1Char('&')) || !e->text().at(1).isDigit()) continue;
        EXPECT_TRUE(entries.insert(e->text()).second) << e->text().toStdString();
    }
    window->hide();
    EXPECT_EQ(entries.size(), 2u);
    // One window again: the plain title.
    frame()->child_frames().back()->close();
    settle();
    ASSERT_EQ(frame()->child_frames().size(), 1u);
    EXPECT_EQ(frame()->child_frames().front()->windowTitle(), title);
}

// The prompter that notes what the status bar said, and whether the search's dialog was still
// up, when a message came.
class StatusAtMessage : public Ui {
public:
    explicit StatusAtMessage(fw::MainFrame& frame) : frame_(frame) {}
    MsgResult message_box(const std::string& text, const std::string&, MsgIcon, MsgButtons, MsgDefault) override {
        status.push_back(frame_.pane_text(0));
        for (QWidget* w : QApplication::topLevelWidgets())
            searching_shown = searching_shown || (dynamic_cast<SearchingArchivesDlg*>(w) && w->isVisible());
        texts.push_back(text);
        return MsgResult::Ok;
    }
    std::vector<std::string> status, texts;
    bool searching_shown = false;

private:
    fw::MainFrame& frame_;
};

TEST_F(FirstHourTest, FindPutsTheStatusTextBackWhenTheSearchEnds) {
    const std::string before = frame()->pane_text(0);
    fw::set_browse_for_folder_hook([&](const std::string&, const std::string&) { return root.path(); });
    StatusAtMessage prompter(*frame());
    set_ui(&prompter);
    QTest::keyClick(frame(), Qt::Key_F, Qt::ControlModifier);
    settle();
    set_ui(&scripted);
    ASSERT_EQ(prompter.texts.size(), 1u);
    EXPECT_NE(prompter.texts[0].find("valid archive"), std::string::npos) << prompter.texts[0];
    EXPECT_EQ(prompter.status, (std::vector<std::string>{before}));
    EXPECT_FALSE(prompter.searching_shown);
    EXPECT_EQ(frame()->pane_text(0), before);
}

// Two items of one menu, or two menus of the bar, with one access key: the key reaches only one.
void expect_one_item_per_key(const std::vector<fw::MenuItem>& items, const std::string& where) {
    std::map<char, std::string> taken;
    for (const fw::MenuItem& item : items) {
        if (item.kind == fw::MenuItem::Kind::Separator) continue;
        for (std::size_t at = item.text.find('&'); at != std::string::npos && at + 1 < item.text.size();
             at = item.text.find('&', at + 2)) {
            if (item.text[at + 1] == '&') continue;
            const char key = static_cast<char>(std::tolower(static_cast<unsigned char>(item.text[at + 1])));
            const auto [was, fresh] = taken.emplace(key, item.text);
            EXPECT_TRUE(fresh) << where << ": \"" << was->second << "\" and \"" << item.text << "\" share '" << key
                               << "'";
            break;
        }
        if (item.kind == fw::MenuItem::Kind::Popup) expect_one_item_per_key(item.items, where + " > " + item.text);
    }
}

TEST_F(FirstHourTest, EveryMenuHasOneItemPerAccessKey) {
    close_app();
    // Everything offered: TIMI and mail.
    reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable TIMI Rozaze", "YES");
    testing_root::write_file(fs::path(root.path()) / "log/messages.dll", "x");
    reg_set_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path",
                   (fs::path(root.path()) / "log/messages.dll").string());
    reg_set_string(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem",
                   "MAPI", "1");
    ASSERT_TRUE(start_app());
    const fw::MenuModel& shown = frame()->menu_model();
    ASSERT_NE(fw::find_menu_command(shown, timi_cmd::SaveSummary), nullptr);
    ASSERT_NE(fw::find_menu_command(shown, menu::kItemSendMail), nullptr);
    expect_one_item_per_key(shown.items, "menu bar");
    expect_one_item_per_key(menu::build_main_menu().items, "menu bar");
    expect_one_item_per_key(timi_window_menu().items, "TIMI window");
}

}  // namespace
}  // namespace tv
