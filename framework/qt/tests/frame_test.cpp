#include <QAction>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "common/ui.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/program_icon.h"
#include "framework/core/menu_model.h"
#include "framework/core/recent_files.h"
#include "framework/qt/tests/qt_test_app.h"
#include "framework/qt/window_helpers.h"

namespace tv::fw {
namespace {

using testing::FrameworkRoot;

constexpr CommandId kViewOnly = 40001, kDocOnly = 40002, kEverywhere = 40003, kNobody = 40004, kHidden = 40005,
                    kAppCmd = 40006, kPane = 1381;

class TestView : public View {
public:
    int updates = 0;
    TestView() {
        on_command(kViewOnly, [this] { log->push_back("view:view-only"); });
        on_command(kEverywhere, [this] { log->push_back("view:everywhere"); });
        on_update_command(kEverywhere, [](CommandUi& ui) { ui.set_check(true); });
    }
    void on_update(View*, long, void*) override { ++updates; }
    std::vector<std::string>* log = nullptr;
};

class TestDoc : public Document {
public:
    static inline std::vector<std::string> log;
    static inline int opened = 0;
    TestDoc() {
        on_command(kDocOnly, [] { log.push_back("doc:doc-only"); });
        on_command(kEverywhere, [] { log.push_back("doc:everywhere"); });
        on_update_command(kHidden, [](CommandUi& ui) { ui.hide(); });
        on_update_command(kPane, [this](CommandUi& ui) { ui.set_text(" Confirmed by " + title()); });
    }
    bool on_open_document(const std::string& path) override {
        ++opened;
        return path.find("missing") == std::string::npos;
    }
};

struct Fixture {
    FrameworkRoot root;
    ScriptedUi scripted;
    Application app;
    MainFrame* frame = nullptr;
    DocTemplate* tmpl = nullptr;
    Fixture() {
        set_ui(&scripted);
        TestDoc::log.clear();
        TestDoc::opened = 0;
        tmpl = app.add_doc_template(std::make_unique<DocTemplate>(
            130, "\nArchive\n\nArchive groups (*.grp)\n.grp\nCalvera.Archive\nArchive group",
            [] { return std::make_unique<TestDoc>(); },
            [](Document&) {
                auto* v = new TestView;
                v->log = &TestDoc::log;
                return v;
            }));
        frame = new MainFrame(app);
        frame->resize(800, 600);
        frame->show();
        app.on_command(kAppCmd, [] { TestDoc::log.push_back("app"); });
    }
    ~Fixture() {
        app.close_all_documents();
        delete frame;
        set_ui(nullptr);
    }
};

TEST(CommandRouting, ViewThenDocumentThenFramesThenApplication) {
    Fixture f;
    std::string dir = f.root.root.path();
    ASSERT_TRUE(f.app.open_document_file(dir + "/a.grp"));
    EXPECT_TRUE(f.app.execute_command(kViewOnly));
    EXPECT_TRUE(f.app.execute_command(kDocOnly));
    EXPECT_TRUE(f.app.execute_command(kEverywhere));  // the view is first
    EXPECT_TRUE(f.app.execute_command(kAppCmd));
    EXPECT_FALSE(f.app.execute_command(kNobody));
    EXPECT_EQ((std::vector<std::string>{"view:view-only", "doc:doc-only", "view:everywhere", "app"}), TestDoc::log);

    EXPECT_TRUE(f.app.command_state(kEverywhere).checked());
    EXPECT_TRUE(f.app.command_state(kDocOnly).enabled());
    EXPECT_FALSE(f.app.command_state(kNobody).enabled());  // nobody handles it
    EXPECT_FALSE(f.app.command_state(kHidden).visible());

    // Without a document only the frames and the application are on the route.
    f.app.close_all_documents();
    EXPECT_FALSE(f.app.command_state(kDocOnly).enabled());
    EXPECT_TRUE(f.app.command_state(kAppCmd).enabled());
    EXPECT_FALSE(f.app.execute_command(kDocOnly));
}

TEST(CommandRouting, MenuActionsAndStatusPanesFollowTheUpdateHandlers) {
    Fixture f;
    MenuModel m;
    m.items = {MenuItem::popup("&File", {MenuItem::command(kDocOnly, "Doc"), MenuItem::command(kHidden, "Hidden"),
                                         MenuItem::command(kNobody, "Nobody")})};
    f.frame->set_menu(m);
    f.frame->set_indicators({{0, ""}, {kPane, "<-------- confirmation status -------->"}});
    f.frame->update_command_ui();
    EXPECT_FALSE(f.frame->action(kDocOnly)->isEnabled());
    EXPECT_FALSE(f.frame->pane_enabled(kPane));
    ASSERT_TRUE(f.app.open_document_file(f.root.root.path() + "/g1.grp"));
    f.frame->update_command_ui();
    EXPECT_TRUE(f.frame->action(kDocOnly)->isEnabled());
    EXPECT_FALSE(f.frame->action(kHidden)->isVisible());
    EXPECT_FALSE(f.frame->action(kNobody)->isEnabled());
    EXPECT_EQ(" Confirmed by g1.grp", f.frame->pane_text(kPane));
    f.frame->action(kDocOnly)->trigger();
    EXPECT_EQ(std::vector<std::string>{"doc:doc-only"}, TestDoc::log);
}

TEST(Documents, OpeningAnOpenPathReturnsTheOpenDocument) {
    Fixture f;
    const std::string dir = f.root.root.path();
    Document* a = f.app.open_document_file(dir + "/one.grp");
    ASSERT_TRUE(a);
    EXPECT_EQ(a, f.app.open_document_file(dir + "/one.grp"));
    EXPECT_EQ(a, f.app.open_document_file(dir + "/./sub/../one.grp"));
    EXPECT_EQ(1, TestDoc::opened);
    EXPECT_EQ(1, count_documents());
    EXPECT_EQ("one.grp", a->title());
    EXPECT_EQ("Calvera.Archive", a->doc_template()->file_type_id());
    // A failed open leaves nothing behind.
    EXPECT_EQ(nullptr, f.app.open_document_file(dir + "/missing.grp"));
    EXPECT_EQ(1, count_documents());
    EXPECT_EQ(1u, f.frame->child_frames().size());
    // The recent list has the opened path first.
    ASSERT_FALSE(f.app.recent_files().items().empty());
    EXPECT_EQ(dir + "/one.grp", f.app.recent_files().items().front());
}

TEST(Documents, SaveModifiedQuestionAndUpdateAllViews) {
    Fixture f;
    const std::string dir = f.root.root.path();
    Document* a = f.app.open_document_file(dir + "/x.grp");
    ASSERT_TRUE(a);
    ChildFrame* second = a->doc_template()->create_new_frame(*a);
    ASSERT_TRUE(second);
    ASSERT_EQ(2u, a->views().size());
    auto* v1 = static_cast<TestView*>(a->views()[0]);
    auto* v2 = static_cast<TestView*>(a->views()[1]);
    const int before1 = v1->updates, before2 = v2->updates;
    a->update_all_views(v1);
    EXPECT_EQ(before1, v1->updates);  // the sender is left out
    EXPECT_EQ(before2 + 1, v2->updates);
    EXPECT_EQ(1, for_each_view([&](View& v) { return &v == v2 ? 7 : 0; }) == 7 ? 1 : 0);

    a->set_modified();
    f.scripted.answers = {MsgResult::Cancel};
    EXPECT_FALSE(f.app.save_all_modified());
    EXPECT_EQ("Save changes to x.grp?", f.scripted.shown.back().text);
    f.scripted.answers = {MsgResult::No};
    EXPECT_TRUE(f.app.save_all_modified());
    f.scripted.answers = {MsgResult::Yes};
    EXPECT_TRUE(f.app.save_all_modified());
    EXPECT_FALSE(a->is_modified());
}

TEST(MdiFrame, EveryWindowCarriesTheProgramIcon) {
    Fixture f;
    set_program_identity("torvane-tolbex");
    EXPECT_EQ(QGuiApplication::desktopFileName(), "torvane-tolbex");
    ASSERT_TRUE(f.app.open_document_file(f.root.root.path() + "/d.grp"));
    const qint64 icon = QGuiApplication::windowIcon().cacheKey();
    EXPECT_EQ(f.frame->windowIcon().cacheKey(), icon);
    EXPECT_EQ(f.frame->child_frames().at(0)->windowIcon().cacheKey(), icon);
    // The sizes a task bar asks for; from 48 up, the trace's peak shows in the trace's red.
    for (int size : {16, 32, 48, 256}) {
        const QImage image = QGuiApplication::windowIcon().pixmap(size, size).toImage();
        ASSERT_EQ(image.width(), size);
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << size;
        if (size < 48) continue;
        const QColor peak = image.pixelColor(size * 25 / 48, size * 11 / 48);
        EXPECT_GT(peak.red(), 120) << size;
        EXPECT_LT(peak.green(), 90) << size;
    }
}

TEST(MdiFrame, CascadeTileAndArrange) {
    Fixture f;
    const std::string dir = f.root.root.path();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(f.app.open_document_file(dir + "/d" + std::to_string(i) + ".grp"));
    auto frames = f.frame->child_frames();
    ASSERT_EQ(3u, frames.size());
    const QRect area = f.frame->mdi_area()->viewport()->rect();

    f.frame->tile_vertically();  // side by side
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(area.height(), frames[i]->height());
        if (i > 0) {
            EXPECT_EQ(frames[i - 1]->geometry().right() + 1, frames[i]->geometry().left());
        }
    }
    f.frame->tile_horizontally();  // in rows
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(area.width(), frames[i]->width());
        if (i > 0) {
            EXPECT_EQ(frames[i - 1]->geometry().bottom() + 1, frames[i]->geometry().top());
        }
    }
    f.frame->cascade();
    EXPECT_LT(frames[0]->geometry().top(), frames[2]->geometry().top());
    EXPECT_LT(frames[0]->geometry().left(), frames[2]->geometry().left());

    frames[0]->showMinimized();
    frames[1]->showMinimized();
    f.frame->arrange_icons();
    EXPECT_EQ(area.height(), frames[0]->geometry().bottom() + 1);
    EXPECT_EQ(frames[0]->geometry().top(), frames[1]->geometry().top());
    EXPECT_EQ(frames[0]->geometry().right() + 1, frames[1]->geometry().left());
}

// Opens the menu bar's popup as a click on its title does; nullptr when there is none.
QMenu* open_menu(MainFrame& frame, const QString& title) {
    for (QAction* a : frame.menuBar()->actions()) {
        if (a->text() != title || !a->menu()) continue;
        frame.menuBar()->setActiveAction(a);
        QCoreApplication::processEvents();
        return a->menu();
    }
    return nullptr;
}

std::vector<QAction*> shown_entries(QMenu& menu) {
    std::vector<QAction*> out;
    for (QAction* a : menu.actions())
        if (a->isVisible() && !a->isSeparator()) out.push_back(a);
    return out;
}

TEST(MenuAccelerators, PrintedKeysRunTheCommandAsItStandsWhenPressed) {
    Fixture f;
    bool allowed = false;
    f.app.on_update_command(kAppCmd, [&](CommandUi& ui) { ui.enable(allowed); });
    MenuModel m;
    m.items = {MenuItem::popup("&File", {MenuItem::command(kAppCmd, "&Select...\tCtrl+O"),
                                         MenuItem::command(kViewOnly, "&Find...\tCtrl+F")})};
    f.frame->set_menu(m);
    ASSERT_TRUE(f.app.open_document_file(f.root.root.path() + "/k.grp"));
    f.frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.frame));
    TestDoc::log.clear();
    // Refused while the command is disabled, taken once it is enabled, without the menu opening.
    QTest::keyClick(f.frame, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(TestDoc::log.empty());
    allowed = true;
    QTest::keyClick(f.frame, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(f.frame, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ((std::vector<std::string>{"app", "view:view-only"}), TestDoc::log);
    EXPECT_EQ("&Select...\tCtrl+O", f.frame->action(kAppCmd)->text().toStdString());
}

TEST(RecentFiles, MenuTextNumbersEscapesAndShortensInTheMiddle) {
    const std::string name(40, 'N');
    const struct {
        std::size_t index;
        std::string path;
        std::size_t max;
        std::string text;
    } cases[] = {
        {0, "/a/b.grp", 50, "&1 /a/b.grp"},
        {9, "/x", 50, "1&0 /x"},
        {1, "/R&D/a&b", 50, "&2 /R&&D/a&&b"},
        {0, "C:\\ANALYSER\\GROUPS\\NORTHWING\\ARCHDIR.DAT", 25, "&1 C:\\...\\ARCHDIR.DAT"},
        {0, "C:\\ANALYSER\\GROUPS\\NORTHWING\\ARCHDIR.DAT", 28, "&1 C:\\...\\NORTHWING\\ARCHDIR.DAT"},
        {2, "/home/user/archives/north/ARCHDIR.DAT", 20, "&3 /.../ARCHDIR.DAT"},
        {0, "/data/" + name, 20, "&1 /.../" + name},               // never shorter than the file name
        {0, "TIMI Data - " + name, 20, "&1 TIMI Data - " + name},  // no folders to leave out
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, recent_file_menu_text(c.index, c.path, c.max)) << c.path;
}

TEST(RecentFiles, FileMenuShowsTheListAndReopensFromIt) {
    Fixture f;
    const std::string dir = f.root.root.path();
    ASSERT_TRUE(write_profile_string("Recent File List", "File1", dir + "/missing.grp"));
    f.app.load_std_profile_settings(4);
    MenuModel m;
    m.items = {MenuItem::popup("&File", {MenuItem::command(cmd::FileMru1, "Recent File"), MenuItem::separator(),
                                         MenuItem::command(kAppCmd, "E&xit")})};
    f.frame->set_menu(m);
    auto texts = [&] {
        QMenu* file = open_menu(*f.frame, "&File");
        std::vector<std::string> out;
        if (!file) return out;
        for (QAction* a : shown_entries(*file))
            out.push_back((a->isEnabled() ? "" : "(off) ") + a->text().toStdString());
        file->hide();
        return out;
    };
    auto choose = [&](const std::string& prefix) {
        QMenu* file = open_menu(*f.frame, "&File");
        ASSERT_NE(nullptr, file);
        for (QAction* a : shown_entries(*file)) {
            if (a->text().toStdString().rfind(prefix, 0) != 0) continue;
            QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(a).center());
            return;
        }
        ADD_FAILURE() << "no entry " << prefix;
    };
    EXPECT_EQ((std::vector<std::string>{"&1 " + dir + "/missing.grp", "E&xit"}), texts());
    // An entry that no longer opens leaves the list and the profile.
    choose("&1 ");
    EXPECT_EQ(1, TestDoc::opened);
    EXPECT_EQ((std::vector<std::string>{"(off) Recent File", "E&xit"}), texts());
    EXPECT_EQ("", get_profile_string("Recent File List", "File1", ""));

    ASSERT_TRUE(f.app.open_document_file(dir + "/a&b.grp"));
    ASSERT_TRUE(f.app.open_document_file(dir + "/c.grp"));
    EXPECT_EQ((std::vector<std::string>{"&1 " + dir + "/c.grp", "&2 " + dir + "/a&&b.grp", "E&xit"}), texts());
    EXPECT_EQ(dir + "/c.grp", get_profile_string("Recent File List", "File1", ""));
    EXPECT_EQ(dir + "/a&b.grp", get_profile_string("Recent File List", "File2", ""));
    f.app.close_all_documents();
    choose("&2 ");
    ASSERT_EQ(1u, f.frame->child_frames().size());
    EXPECT_EQ("a&b.grp", f.frame->active_child()->active_document()->title());
    EXPECT_EQ(dir + "/a&b.grp", get_profile_string("Recent File List", "File1", ""));
}

TEST(MenuModel, PruneRemovesEmptyPopupsAndStraySeparators) {
    using M = MenuItem;
    MenuModel m;
    m.items = {M::popup("File", {M::separator(), M::command(1, "Open"), M::separator(), M::separator(),
                                 M::command(2, "Close"), M::separator()}),
               M::popup("Empty1", {}), M::popup("Empty2", {}), M::separator(),
               M::popup("Mail", {M::command(3, "Send"), M::separator(), M::popup("Sub", {M::command(4, "A")}),
                                 M::separator()})};
    // Start-up removes commands first; a popup emptied by that goes too.
    m.items.push_back(M::popup("Gone", {M::command(9, "X")}));
    EXPECT_EQ(1, remove_menu_command(m, 9));
    prune_menu(m);
    EXPECT_EQ("File/Open\nFile/-\nFile/Close\n-\nMail/Send\nMail/-\nMail/Sub/A\n", describe_menu(m));
    // A separator that becomes last when the item after it goes is dropped too.
    MenuModel n;
    n.items = {M::popup("P", {M::command(1, "A"), M::separator(), M::separator()})};
    prune_menu(n);
    EXPECT_EQ("P/A\n", describe_menu(n));
    EXPECT_NE(nullptr, find_menu_command(m, 4));
    EXPECT_EQ(nullptr, find_menu_command(m, 9));
}

TEST(Placement, RoundTripAndOnlyNormalOrMaximisedRestored) {
    Fixture f;
    WindowPlacement wp;
    ASSERT_TRUE(parse_window_placement("2 3 0 0 0 0 10 10 810 610", wp));
    EXPECT_EQ(3u, wp.show_cmd);
    EXPECT_EQ((Rc{10, 10, 810, 610}), wp.normal);
    EXPECT_EQ("2 3 0 0 0 0 10 10 810 610", format_window_placement(wp));
    const char* c = " 0x1F -12 ";
    EXPECT_EQ(31, parse_int_token(c));
    EXPECT_EQ(-12, parse_int_token(c));
    EXPECT_EQ(0, parse_int_token(c));
    WindowPlacement neg;
    ASSERT_TRUE(parse_window_placement("0 1 4294967295 0 0 0 -8 -8 100 100", neg));
    EXPECT_EQ(-1, neg.min_pos.x);
    EXPECT_EQ(-8, neg.normal.l);
    EXPECT_FALSE(parse_window_placement("", neg));

    // Saved maximised: restored maximised with the normal rectangle kept.
    f.frame->setGeometry(20, 30, 640, 480);
    ASSERT_TRUE(save_window_placement());
    std::string saved;
    {
        WindowPlacement now = get_window_placement(nullptr);
        saved = format_window_placement(now);
        EXPECT_EQ(1u, now.show_cmd);
    }
    f.frame->setGeometry(100, 100, 300, 200);
    restore_window_placement();
    EXPECT_EQ(QRect(20, 30, 640, 480), f.frame->geometry());
    EXPECT_EQ(1, f.app.show_cmd());

    // Hidden (0) and minimised (2, 6, 7) come back as normal and visible.
    for (int show : {0, 2, 6, 7, 99}) {
        WindowPlacement bad = wp;
        bad.show_cmd = static_cast<std::uint32_t>(show);
        bad.normal = {20, 30, 660, 510};
        ASSERT_TRUE(write_profile_string("WindowPos", "Settings", format_window_placement(bad)));
        f.frame->hide();
        restore_window_placement();
        EXPECT_TRUE(f.frame->isVisible()) << show;
        EXPECT_FALSE(f.frame->isMinimized()) << show;
        EXPECT_EQ(1, f.app.show_cmd()) << show;
    }
    // A rectangle on no screen is not used.
    WindowPlacement off = wp;
    off.normal = {100000, 100000, 100640, 100480};
    ASSERT_TRUE(write_profile_string("WindowPos", "Settings", format_window_placement(off)));
    f.frame->setGeometry(5, 5, 300, 200);
    restore_window_placement();
    EXPECT_EQ(QRect(5, 5, 300, 200), f.frame->geometry());
}

TEST(ProfileFont, WriteReadKeepsSixFieldsAndCutsTheFace) {
    FrameworkRoot root;
    LogFont f{-13, 700, true, false, 0, "Arial"};
    ASSERT_TRUE(write_profile_font("Font", f));
    LogFont back{1, 2, false, true, 5, "x"};
    read_profile_font("Font", back);
    EXPECT_EQ(f, back);
    LogFont defaults{9, 400, false, false, 1, std::string(40, 'F')};
    read_profile_font("Missing", defaults);
    EXPECT_EQ(9, defaults.height);
    EXPECT_EQ(31u, defaults.face.size());
}

}  // namespace
}  // namespace tv::fw
