// The framework's rules without a window: command routing, the menu model's edits and the
// recently-used file list with its profile.
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "framework/core/command.h"
#include "framework/core/menu_model.h"
#include "framework/core/recent_files.h"
#include "testing/app_test_root.h"

namespace tv::fw {
namespace {

// View, document, child frame, main frame: the first with a handler takes the command.
TEST(CommandRouting, TheFirstTargetWithAHandlerTakesIt) {
    CommandTarget view, doc, frame;
    std::string ran;
    doc.on_command(1, [&] { ran += "doc1 "; });
    frame.on_command(1, [&] { ran += "frame1 "; });
    frame.on_command_range(10, 19, [&](CommandId id) { ran += "frame" + std::to_string(id) + " "; });
    doc.on_update_command(2, [](CommandUi& ui) { ui.enable(false); });
    frame.on_command(2, [&] { ran += "frame2 "; });
    view.on_update_command_range(10, 12, [](CommandUi& ui) { ui.set_check(); });
    const std::vector<CommandTarget*> route{&view, nullptr, &doc, &frame};

    EXPECT_TRUE(route_command(route, 1));
    EXPECT_TRUE(route_command(route, 15));
    EXPECT_FALSE(route_command(route, 3));
    EXPECT_EQ(ran, "doc1 frame15 ");

    const struct {
        CommandId id;
        bool handled, enabled, checked;
    } cases[] = {
        {1, true, true, false},    // a command handler alone leaves it enabled
        {2, true, false, false},   // the document's update handler decides before the frame's command
        {11, true, true, true},    // the view's update range
        {15, true, true, false},   // the frame's command range
        {3, false, false, false},  // nobody handles it: disabled
    };
    for (const auto& c : cases) {
        const CommandUi ui = route_update(route, c.id);
        EXPECT_EQ(ui.handled, c.handled) << c.id;
        EXPECT_EQ(ui.enabled(), c.enabled) << c.id;
        EXPECT_EQ(ui.checked(), c.checked) << c.id;
    }
}

// Closing a document from its own command replaces (or drops) the handler while it runs.
TEST(CommandRouting, AHandlerMayReplaceItselfWhileItRuns) {
    CommandTarget doc;
    int runs = 0;
    doc.on_command(1, [&] {
        ++runs;
        doc.on_command(1, {});
    });
    EXPECT_TRUE(doc.execute(1));
    EXPECT_FALSE(doc.execute(1));
    EXPECT_EQ(runs, 1);
}

TEST(MenuModel, RemovedCommandsLeaveNoEmptyMenusOrStraySeparators) {
    MenuModel menu{{
        MenuItem::popup("&File", {MenuItem::command(1, "&Open"), MenuItem::separator(), MenuItem::command(2, "&Mail"),
                                  MenuItem::separator(), MenuItem::separator(), MenuItem::command(3, "E&xit")}),
        MenuItem::separator(),
        MenuItem::popup("&Mail", {MenuItem::separator(), MenuItem::command(2, "&Send"),
                                  MenuItem::popup("&Sub", {MenuItem::command(2, "&Again")})}),
        MenuItem::popup("&Tools", {MenuItem::command(4, "&Tape"), MenuItem::separator()}),
    }};
    EXPECT_EQ(remove_menu_command(menu, 2), 3);
    EXPECT_EQ(find_menu_command(menu, 2), nullptr);
    ASSERT_NE(find_menu_command(menu, 4), nullptr);
    EXPECT_EQ(find_menu_command(menu, 4)->text, "&Tape");
    prune_menu(menu);
    prune_menu(menu);  // the empty "&Mail" goes once its emptied sub-menu has gone
    EXPECT_EQ(describe_menu(menu), "&File/&Open\n&File/-\n&File/E&xit\n-\n&Tools/&Tape\n");
}

class RecentFiles : public testing_root::RootTest {};

TEST_F(RecentFiles, TheSameFileMovesUpAndTheListIsCapped) {
    const std::string a = (t / "a.IMG").string(), b = (t / "b.IMG").string(), c = (t / "c.IMG").string();
    for (const auto& p : {a, b, c}) testing::write_file(p, "x");
    ASSERT_EQ(::link(a.c_str(), (t / "hard").c_str()), 0);
    RecentFileList list(2);
    list.add(a);
    list.add(b);
    list.add((t / "sub" / ".." / "a.IMG").string());  // the same file by another spelling
    EXPECT_EQ(list.items(), (std::vector<std::string>{(t / "sub" / ".." / "a.IMG").string(), b}));
    list.add((t / "hard").string());  // and by a hard link
    list.add(c);
    EXPECT_EQ(list.items(), (std::vector<std::string>{c, (t / "hard").string()}));
    EXPECT_TRUE(list.remove_path(a));
    EXPECT_FALSE(list.remove_path(b));
    list.add("");
    EXPECT_EQ(list.items(), (std::vector<std::string>{c}));
}

TEST_F(RecentFiles, TheProfileHoldsExactlyTheList) {
    ASSERT_TRUE(write_profile_string("Recent File List", "File1", "/one"));
    ASSERT_TRUE(write_profile_string("Recent File List", "File3", "/three"));  // a gap: skipped
    ASSERT_TRUE(write_profile_string("Recent File List", "File4", "/four"));
    RecentFileList list;
    list.read_list();
    EXPECT_EQ(list.items(), (std::vector<std::string>{"/one", "/three", "/four"}));
    list.remove(0);
    ASSERT_TRUE(list.write_list());
    EXPECT_EQ(get_profile_string("Recent File List", "File1", "-"), "/three");
    EXPECT_EQ(get_profile_string("Recent File List", "File2", "-"), "/four");
    EXPECT_EQ(get_profile_string("Recent File List", "File3", "-"), "-");  // past the end: removed
    EXPECT_EQ(get_profile_string("Recent File List", "File4", "-"), "-");
}

TEST(RecentFileMenuText, NumbersMnemonicsAndShortening) {
    EXPECT_EQ(recent_file_menu_text(0, "/a/R&D.IMG"), "&1 /a/R&&D.IMG");
    EXPECT_EQ(recent_file_menu_text(9, "/a"), "1&0 /a");
    EXPECT_EQ(recent_file_menu_text(11, "/a"), "1&2 /a");
    const std::string deep = "/archive/group/standard/a-long-folder-name/another-one/REPORT.IMG";
    EXPECT_EQ(recent_file_menu_text(0, deep, 30), "&1 /.../another-one/REPORT.IMG");
    // Never less than the file name, however short the limit.
    EXPECT_EQ(recent_file_menu_text(0, deep, 5), "&1 /.../REPORT.IMG");
    EXPECT_EQ(recent_file_menu_text(0, "C:\\x\\y\\zzzzzzzzzz.IMG", 12), "&1 C:\\...\\zzzzzzzzzz.IMG");
}

}  // namespace
}  // namespace tv::fw
