// The archive browser's windows driven offscreen: open a group, list, sort, filter and search,
// the details pane, the archive dialogs, delete/copy/move/rename, the minute refresh and a grab.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeView>

#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/timer.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/browser/ui/archive_dialogs_ui.h"
#include "tolbex/browser/ui/browser_data_view.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using testing_root::make_test_group;
using testing_root::read_all;
using testing_root::TestArchive;

class BrowserWindowTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        UiRootTest::SetUp();
        app = std::make_unique<fw::Application>();
        main = new fw::MainFrame(*app);
        main->resize(1200, 900);
        gui::register_archive_template(*app);
        g = fs::path(root.path()) / "GROUP";
        path = make_test_group(g, {{"STANDARD", "STANDARD", {{"A1.FUL", "John Smith"}, {"A2.FUL", "Mary King"}}},
                                   {"ARCH2", "Second", {{"B1.FUL", "Anne Ashcroft"}}}});
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        gui::set_archive_file_hook({});
        fw::set_browse_for_folder_hook({});
        app->close_all_documents();
        delete main;
        app.reset();
        UiRootTest::TearDown();
    }

    gui::CBrowserListDoc* open() {
        gui::CBrowserListDoc* doc = gui::open_archive_group(path);
        if (doc && !doc->views().empty()) frame = dynamic_cast<gui::CBrowserFrame*>(doc->views().front());
        return doc;
    }
    gui::CBrowserListView& list() { return *frame->list_view(); }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (int i = 0; i < list().list_model().item_count(); ++i) out.push_back(list().list_model().item_text(i, 0));
        return out;
    }
    int item_named(const std::string& name) {
        for (int i = 0; i < list().list_model().item_count(); ++i)
            if (list().list_model().item_text(i, 0) == name) return i;
        return -1;
    }
    std::vector<std::string> box_items(QComboBox* box) {
        std::vector<std::string> out;
        for (int i = 0; i < box->count(); ++i) out.push_back(from_qstring(box->itemText(i)));
        return out;
    }

    fw::ManualTimers timers;  // before any view makes its timer
    std::unique_ptr<fw::Application> app;
    fw::MainFrame* main = nullptr;
    gui::CBrowserFrame* frame = nullptr;
    fs::path g;
    std::string path;
};

TEST_F(BrowserWindowTest, OpenGroupListSortFilterAndSearch) {
    gui::CBrowserListDoc* doc = open();
    ASSERT_NE(doc, nullptr);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(gui::open_archive_group(path), doc);  // the open one, not a second window
    EXPECT_EQ(app->documents().size(), 1u);
    EXPECT_EQ(doc->doc_template()->file_type_id(), "Calvera.Archive");
    EXPECT_EQ(doc->doc_template()->resource_id(), 130);
    EXPECT_EQ(doc->title(), "Archives in folder " + g.string());
    ASSERT_NE(frame->frame(), nullptr);
    EXPECT_EQ(from_qstring(frame->frame()->windowTitle()), doc->title());

    gui::BrowserTableModel* model = list().table_model();
    ASSERT_EQ(model->columnCount(), 6);
    const char* titles[] = {"Name", "Archive", "Date", "Size (bytes)", "Type", "Confirmed"};
    for (int c = 0; c < 6; ++c) EXPECT_EQ(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), titles[c]);
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_EQ(model->data(model->index(0, 1), Qt::DisplayRole).toString(), "Second");  // sorted by archive, any case
    EXPECT_EQ(box_items(frame->archive_box()), (std::vector<std::string>{"All Archives", "STANDARD", "Second"}));
    EXPECT_EQ(box_items(frame->search_box()).size(), 4u);
    EXPECT_FALSE(frame->text_box()->isEnabled());

    // Header clicks: ascending, then descending on the same column.
    QHeaderView* header = list().tree()->header();
    emit header->sectionClicked(0);
    EXPECT_EQ(names(), (std::vector<std::string>{"Anne Ashcroft", "John Smith", "Mary King"}));
    emit header->sectionClicked(0);
    EXPECT_EQ(names(), (std::vector<std::string>{"Mary King", "John Smith", "Anne Ashcroft"}));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    // View menu: ascending by name.
    EXPECT_TRUE(frame->execute(gui::browser_cmd::SortFirst + 1));
    EXPECT_EQ(names().front(), "Anne Ashcroft");

    // Archive filter.
    frame->archive_box()->setCurrentIndex(2);
    EXPECT_EQ(names(), (std::vector<std::string>{"Anne Ashcroft"}));
    frame->archive_box()->setCurrentIndex(0);
    EXPECT_EQ(model->rowCount(), 3);

    // "Sounds Like" Smyth finds Smith once the text box is done.
    frame->search_box()->setCurrentIndex(1);
    EXPECT_TRUE(frame->text_box()->isEnabled());
    frame->text_box()->setText("Smyth");
    emit frame->text_box()->editingFinished();
    EXPECT_EQ(names(), (std::vector<std::string>{"John Smith"}));
    frame->search_box()->setCurrentIndex(2);  // part of word
    frame->text_box()->setText("ary");
    emit frame->text_box()->editingFinished();
    EXPECT_EQ(names(), (std::vector<std::string>{"Mary King"}));

    // Commands whose work has not landed are disabled; the others are enabled.
    fw::CommandUi mail_state(gui::browser_cmd::SendMail);
    EXPECT_TRUE(frame->update_state(mail_state));
    EXPECT_FALSE(mail_state.enabled());
    EXPECT_FALSE(main->command_state(gui::browser_cmd::CreateLetter).enabled());
    EXPECT_TRUE(main->command_state(gui::browser_cmd::Copy).enabled());
}

TEST_F(BrowserWindowTest, DetailsPaneFollowsTheSelection) {
    ASSERT_NE(open(), nullptr);
    gui::BrowserDataView* pane = frame->data_view();
    pane->resize(300, 200);
    pane->layout_text();
    EXPECT_EQ(pane->display_text(), gui::kNoSingleItemText);
    EXPECT_EQ(pane->total_size(), QSize(616, 66));  // one short line: the minimum area

    const int john = item_named("John Smith");
    list().select_items({john});
    EXPECT_EQ(list().list_model().selected_items().size(), 1u);
    const std::string text = pane->display_text();
    EXPECT_NE(text.find("Patient Name: \tJohn Smith\n"), std::string::npos) << text;
    EXPECT_GT(pane->total_size().height(), 66);
    EXPECT_EQ(list().current_report_folder(), (g / "STANDARD" / "A1.FUL").string());
    EXPECT_FALSE(frame->letters_button()->isEnabled());
    EXPECT_FALSE(frame->play_button()->isEnabled());

    // Two selected: no single item, no folder for Letters and Play.
    list().select_items({john, item_named("Mary King")});
    EXPECT_EQ(pane->display_text(), gui::kNoSingleItemText);
    EXPECT_EQ(list().current_report_folder(), "");

    // A voice message enables Play.
    testing_root::write_file(g / "STANDARD" / "A1.FUL" / "PATIENT.WAV", "RIFF");
    list().select_items({item_named("John Smith")});
    EXPECT_TRUE(frame->play_button()->isEnabled());
}

TEST_F(BrowserWindowTest, CreateAndDeleteArchiveThroughTheDialogs) {
    ASSERT_NE(open(), nullptr);
    std::vector<std::string> shown_names;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* n = dynamic_cast<gui::NewArchiveDlg*>(&d)) {
            const int at = n->folder_box()->findText(to_qstring(g.string()));
            EXPECT_GE(at, 0);
            n->folder_box()->setCurrentIndex(at);
            shown_names.clear();
            for (int i = 0; i < n->archive_box()->count(); ++i)
                shown_names.push_back(from_qstring(n->archive_box()->itemText(i)));
            n->archive_box()->setEditText("deleted reports");
            n->on_ok();  // refused: the dialog stays
            EXPECT_NE(n->result(), QDialog::Accepted);
            n->archive_box()->setEditText("Twenty Characters!!!");
            n->on_ok();
            return n->result();
        }
        if (auto* del = dynamic_cast<gui::DeleteArchiveDlg*>(&d)) {
            const int at = del->archive_box()->findText("Twenty Characte");
            EXPECT_GE(at, 0);
            del->archive_box()->setCurrentIndex(at);
            del->on_ok();
            return del->result();
        }
        return int(QDialog::Rejected);
    });
    EXPECT_TRUE(frame->execute(gui::browser_cmd::CreateArchive));
    EXPECT_EQ(shown_names, (std::vector<std::string>{"STANDARD", "Second"}));
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown.front().text, kReservedArchiveNameText);
    EXPECT_EQ(box_items(frame->archive_box()),
              (std::vector<std::string>{"All Archives", "STANDARD", "Second", "Twenty Characte"}));
    const std::string dir = read_all(g / "ARCHDIR.DAT");
    EXPECT_NE(dir.find("\r\nTwenty Characte\r\n"), std::string::npos);

    scripted.shown.clear();
    scripted.answers = {MsgResult::Yes};  // confirm the archive deletion
    EXPECT_TRUE(frame->execute(gui::browser_cmd::DeleteArchive));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Confirm Archive Deletion");
    EXPECT_EQ(box_items(frame->archive_box()),
              (std::vector<std::string>{"All Archives", "STANDARD", "Second", "Deleted Reports"}));
    EXPECT_TRUE(fs::is_directory(g / "DELETED"));
    EXPECT_EQ(read_all(g / "ARCHDIR.DAT").find("Twenty"), std::string::npos);
}

TEST_F(BrowserWindowTest, DeleteArchiveQuestionsDefaultToNo) {
    // A file where the "Deleted Reports" folder would go: the move fails and the space question follows.
    testing_root::write_file(g / "DELETED", "");
    ASSERT_NE(open(), nullptr);
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto* del = dynamic_cast<gui::DeleteArchiveDlg*>(&d);
        if (!del) return int(QDialog::Rejected);
        del->archive_box()->setCurrentIndex(del->archive_box()->findText("Second"));
        del->on_ok();
        return del->result();
    });
    scripted.answers = {MsgResult::Yes};  // to the confirmation; the rest get their safe answers
    EXPECT_TRUE(frame->execute(gui::browser_cmd::DeleteArchive));
    for (const char* caption : {"Confirm Archive Deletion", "Cannot move reports to \"Deleted Reports\" archive"}) {
        const auto it = std::find_if(scripted.shown.begin(), scripted.shown.end(),
                                     [&](const ScriptedUi::Shown& s) { return s.caption == caption; });
        ASSERT_NE(it, scripted.shown.end()) << caption;
        EXPECT_EQ(it->default_button, MsgResult::No) << caption;
    }
    EXPECT_TRUE(fs::exists(g / "ARCH2" / "B1.FUL"));
}

TEST_F(BrowserWindowTest, DeleteArchiveWithNothingToDeleteAndEmptyDialog) {
    make_test_group(g, {{"STANDARD", "STANDARD", {}}});
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(frame->execute(gui::browser_cmd::DeleteArchive));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "No archives to delete");
    // The dialog itself: OK with nothing to choose ends as Cancel.
    gui::DeleteArchiveDlg dialog(frame->list_view()->browser_document().core());
    fw::Dialog::set_test_hook([](fw::Dialog& d) {
        d.on_ok();
        return d.result();
    });
    EXPECT_EQ(dialog.exec_modal(), QDialog::Rejected);
    EXPECT_EQ(dialog.get_archive_index(), -1);
}

TEST_F(BrowserWindowTest, DeleteCopyMoveAndRenameReports) {
    ASSERT_NE(open(), nullptr);
    // Delete with nothing selected.
    EXPECT_TRUE(frame->execute(gui::browser_cmd::Delete));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "You must select one or more reports before you can delete them.");

    // Delete moves into "Deleted Reports", which "All Archives" never lists.
    scripted.shown.clear();
    scripted.answers = {MsgResult::Yes};
    list().select_items({item_named("John Smith")});
    EXPECT_TRUE(frame->execute(gui::browser_cmd::Delete));
    EXPECT_EQ(names().size(), 2u);
    EXPECT_EQ(item_named("John Smith"), -1);
    const std::string dir = read_all(g / "ARCHDIR.DAT");
    EXPECT_NE(dir.find("DELETED\r\nDeleted Reports\r\n"), std::string::npos);
    frame->archive_box()->setCurrentIndex(3);
    EXPECT_EQ(from_qstring(frame->archive_box()->currentText()), "Deleted Reports");
    EXPECT_EQ(names(), (std::vector<std::string>{"[STANDARD] John Smith"}));
    frame->archive_box()->setCurrentIndex(0);

    // Copy "Anne Ashcroft" into STANDARD through the destination dialog.
    int dialogs = 0;
    std::string caption;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto* c = dynamic_cast<gui::ChooseArchiveDlg*>(&d);
        if (!c) return int(QDialog::Rejected);
        ++dialogs;
        caption = from_qstring(c->windowTitle());
        const int at = c->folder_box()->findText(to_qstring(g.string()));
        EXPECT_GE(at, 0);
        c->folder_box()->setCurrentIndex(at);
        emit c->folder_box()->activated(at);
        c->archive_box()->setEditText(dialogs == 1 ? "STANDARD" : "Second");
        c->on_ok();
        return c->result();
    });
    scripted.shown.clear();
    list().select_items({item_named("Anne Ashcroft")});
    EXPECT_TRUE(frame->execute(gui::browser_cmd::Copy));
    EXPECT_EQ(caption, "Copying Reports");
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    EXPECT_EQ(names().size(), 3u);
    EXPECT_NE(read_all(g / "STANDARD" / "ARCHINFO.DAT").find("Anne Ashcroft"), std::string::npos);

    // Move "Mary King" into "Second".
    list().select_items({item_named("Mary King")});
    EXPECT_TRUE(frame->execute(gui::browser_cmd::Move));
    EXPECT_EQ(caption, "Moving Reports");
    EXPECT_EQ(read_all(g / "STANDARD" / "ARCHINFO.DAT").find("Mary King"), std::string::npos);
    EXPECT_NE(read_all(g / "ARCH2" / "ARCHINFO.DAT").find("Mary King"), std::string::npos);
    EXPECT_FALSE(fs::exists(g / "STANDARD" / "A2.FUL"));

    // Rename: nothing current, then in place; blank text becomes dashes, long text is cut.
    scripted.shown.clear();
    EXPECT_TRUE(frame->execute(gui::browser_cmd::Rename));
    ASSERT_EQ(scripted.shown.size(), 1u);
    const int mary = item_named("Mary King");
    list().select_items({mary});
    EXPECT_TRUE(list().begin_rename());
    EXPECT_NE(list().tree()->indexWidget(list().table_model()->index(mary, 0)), nullptr);
    gui::BrowserTableModel* model = list().table_model();
    // The list is read again after each change: the item is found by its new text.
    EXPECT_TRUE(model->setData(model->index(mary, 0), QStringLiteral("Mary King-Smith"), Qt::EditRole));
    const int renamed = item_named("Mary King-Smith");
    ASSERT_GE(renamed, 0);
    EXPECT_NE(read_all(g / "ARCH2" / "ARCHINFO.DAT").find("\r\nMary King-Smith\r\n"), std::string::npos);
    EXPECT_TRUE(model->setData(model->index(renamed, 0), QStringLiteral("   "), Qt::EditRole));
    const int dashes = item_named("----------");
    ASSERT_GE(dashes, 0);
    EXPECT_TRUE(model->setData(model->index(dashes, 0), QString(70, QChar('x')), Qt::EditRole));
    EXPECT_GE(item_named(std::string(63, 'x')), 0);

    // An editor still open when a command runs is taken and closed first: the command works on
    // the renamed row, and no editor is left over rows the command changed.
    const int xs = item_named(std::string(63, 'x'));
    list().select_items({xs});
    ASSERT_TRUE(list().begin_rename());
    QPointer<QLineEdit> editor = qobject_cast<QLineEdit*>(list().tree()->indexWidget(model->index(xs, 0)));
    ASSERT_FALSE(editor.isNull());
    editor->setText(QStringLiteral("Taken first"));
    EXPECT_TRUE(frame->execute(gui::browser_cmd::SortFirst + 1));  // by name, ascending
    EXPECT_TRUE(editor.isNull() || !editor->isVisible());
    EXPECT_GE(item_named("Taken first"), 0);
}

TEST_F(BrowserWindowTest, MinuteTimerReloadsAfterAnotherProcessChangedAnIndex) {
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(timers.fire_interval(gui::kRefreshIntervalMs), 1);
    EXPECT_TRUE(scripted.shown.empty());  // nothing changed
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::FILE* f = std::fopen((g / "ARCH2" / "ARCHINFO.DAT").c_str(), "abe");
        const char entry[] = "B2.FUL\r\nPeter Newman\r\nWed Jan 02 02:03:55 1980\r\n1\r\nFull\r\n";
        const bool ok = f && std::fwrite(entry, 1, sizeof entry - 1, f) == sizeof entry - 1 && std::fclose(f) == 0;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(timers.fire_interval(gui::kRefreshIntervalMs), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, kArchiveChangedCaption);
    EXPECT_EQ(list().table_model()->rowCount(), 4);
    EXPECT_GE(item_named("Peter Newman"), 0);
}

TEST_F(BrowserWindowTest, GrabShowsTheListWithItsHeadings) {
    ASSERT_NE(open(), nullptr);
    main->show();
    fw::ChildFrame* child = frame->frame();
    ASSERT_NE(child, nullptr);
    child->showMaximized();
    QCoreApplication::processEvents();
    const QImage image = child->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 400);
    // Not blank: more than a handful of colours, and the header row differs from the background.
    QRgb first = image.pixel(0, 0);
    int differing = 0;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            if (image.pixel(x, y) != first) ++differing;
    EXPECT_GT(differing, 100);
    QHeaderView* header = list().tree()->header();
    EXPECT_TRUE(header->isVisible());
    EXPECT_EQ(header->count(), 6);
    EXPECT_EQ(list().table_model()->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "Size (bytes)");
    const QImage heading = header->grab().toImage();
    EXPECT_FALSE(heading.isNull());
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST_F(BrowserWindowTest, CreateLetterTakesExactlyOneFormattedReport) {
    path = make_test_group(g, {{"STANDARD", "STANDARD", {{"A1.FUL", "John Smith"}, {"C1.IMG", "Mary King"}}}});
    std::vector<std::string> handed;
    set_letter_handler([&](const std::string& folder, const std::string& name) {
        handed.push_back(folder + "|" + name);
        return true;
    });
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(main->command_state(gui::browser_cmd::CreateLetter).enabled());
    BrowserListModel& model = list().list_model();
    model.selection_changed({});
    EXPECT_TRUE(frame->execute(gui::browser_cmd::CreateLetter));
    const int full = item_named("John Smith"), formatted = item_named("Mary King");
    model.item_selected(full, {full});
    EXPECT_TRUE(frame->execute(gui::browser_cmd::CreateLetter));
    model.item_selected(formatted, {formatted});
    EXPECT_TRUE(frame->execute(gui::browser_cmd::CreateLetter));
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].caption, "Not exactly one report selected");
    EXPECT_EQ(scripted.shown[1].text, "You can only create a letter for a formatted report.");
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed[0].substr(handed[0].find('|')), "|Mary King");
    EXPECT_NE(handed[0].find("C1.IMG"), std::string::npos);
    clear_report_handlers();
}

}  // namespace
}  // namespace tv
