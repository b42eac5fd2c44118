#include "tolbex/browser/archive_dialogs.h"
#include "tolbex/archive/report_archive.h"

#include "common/profile.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/tests/browser_test_group.h"

namespace tv {
namespace {

using namespace testing_root;

class ArchiveDialogsTest : public RootTest {
protected:
    std::string group(const std::string& name, const std::vector<TestArchive>& archives) {
        make_test_group(t / name, archives);
        return (t / name).string();
    }
};

TEST_F(ArchiveDialogsTest, ArchiveFileAndListDialogs) {
    EXPECT_TRUE(accept_archive_file("/x/archdir.dat", scripted));
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_FALSE(accept_archive_file("/x/ARCHDIR.BAK", scripted));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kWrongArchiveFileText);
    EXPECT_EQ(scripted.shown[0].caption, kWrongArchiveFileCaption);

    ArchiveConfigList config;
    ArchiveListDialogRules empty(config);
    EXPECT_EQ(empty.initial_selection(), -1);
    EXPECT_EQ(empty.get_archdir_path(), "");
    config.load((t / "DEVICE.DAT").string());
    ASSERT_EQ(config.add((t / "G1").string()), kConfigOk);
    ArchiveListDialogRules list(config);
    ASSERT_EQ(list.folders().size(), 1u);
    list.ok(list.folders()[0]);
    EXPECT_EQ(list.get_archdir_path(), (t / "G1" / "ARCHDIR.DAT").string());
}

TEST_F(ArchiveDialogsTest, NewArchiveNamesAreChecked) {
    const std::string g1 = group("G1", {{"STANDARD", "STANDARD", {}}, {"DELETED", "Deleted Reports", {}}});
    const std::string g2 = group("G2", {{"STANDARD", "STANDARD", {}}});
    ArchiveConfigList config;
    config.load((t / "DEVICE.DAT").string());
    config.add(g1);
    NewArchiveDialogRules dlg(config, {g1, g2});
    EXPECT_EQ(dlg.folders(), (std::vector<std::string>{g1, g2}));
    EXPECT_EQ(dlg.archive_names(g1), (std::vector<std::string>{"STANDARD", "Deleted Reports"}));
    EXPECT_FALSE(dlg.ok(g1, "deleted reports", scripted));
    EXPECT_EQ(scripted.shown.back().text, kReservedArchiveNameText);
    EXPECT_FALSE(dlg.ok(g1, "Standard", scripted));
    EXPECT_EQ(scripted.shown.back().text, kArchiveExistsText);
    EXPECT_FALSE(dlg.ok(g1, "  ", scripted));
    EXPECT_EQ(scripted.shown.back().text, kBlankArchiveNameText);
    EXPECT_EQ(dlg.get_archive_name(), "");
    ASSERT_TRUE(dlg.ok(g1, "Twenty characters!!!", scripted));
    EXPECT_EQ(dlg.get_archive_name(), "Twenty characte");
    EXPECT_EQ(dlg.get_group_folder(), g1);
}

TEST_F(ArchiveDialogsTest, DeleteArchiveListAndEmptyOk) {
    group("G1", {{"STANDARD", "STANDARD", {}}, {"DELETED", "deleted reports", {}}, {"W", "Ward", {}}});
    BrowserListCore doc;
    ASSERT_TRUE(doc.open_document((t / "G1" / "ARCHDIR.DAT").string()));
    DeleteArchiveDialogRules dlg(doc);
    EXPECT_EQ(dlg.names(), (std::vector<std::string>{"Ward"}));
    ASSERT_TRUE(dlg.ok(0));
    EXPECT_EQ(dlg.get_archive_index(), 2);
    // Only undeletable archives: OK with no line is Cancel.
    group("G2", {{"STANDARD", "STANDARD", {}}, {"DELETED", "Deleted Reports", {}}});
    BrowserListCore doc2;
    ASSERT_TRUE(doc2.open_document((t / "G2" / "ARCHDIR.DAT").string()));
    DeleteArchiveDialogRules empty(doc2);
    EXPECT_TRUE(empty.names().empty());
    EXPECT_EQ(empty.initial_selection(), -1);
    EXPECT_FALSE(empty.ok(-1));
    EXPECT_FALSE(empty.ok(0));
    EXPECT_EQ(empty.get_archive_index(), -1);
}

TEST_F(ArchiveDialogsTest, ChooseDestinationListsEachFolderOnce) {
    const std::string g1 = group("G1", {{"STANDARD", "STANDARD", {}}, {"W", "Ward 7", {}}});
    const std::string g2 = group("G2", {{"STANDARD", "STANDARD", {}}});
    const std::string g3 = group("G3", {{"STANDARD", "STANDARD", {}}});
    const std::string dev = (t / "DEVICE.DAT").string();
    ArchiveConfigList config;
    config.load(dev);
    config.add(g1);
    write_profile_string("Archives", "Archive 0", g2 + "/ARCHDIR.DAT");
    write_profile_string("Archives", "Archive 1", (t / "gone" / "ARCHDIR.DAT").string());
    write_profile_string("Archives", "Default Archive", g1 + "/ARCHDIR.DAT");
    // Mail mode: a remembered folder that has gone is not listed; index 0 is preselected.
    write_profile_string("Archives", "Mail Archive", (t / "gone").string());
    write_profile_string("Archives", "Mail Index", "1");
    ChooseArchiveDialogRules dlg(true, dev, {g3, g1});
    EXPECT_EQ(dlg.folders(), (std::vector<std::string>{g1, g2, g3}));
    EXPECT_EQ(dlg.archive_selection(), 0);
    EXPECT_EQ(dlg.archive_names(), (std::vector<std::string>{"STANDARD", "Ward 7"}));
    EXPECT_FALSE(dlg.ok_enabled(""));
    EXPECT_TRUE(dlg.ok_enabled("x"));
    // The exact name chooses without a question and remembers the choice.
    ASSERT_TRUE(dlg.ok("Ward 7", scripted));
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_EQ(dlg.get_archive_index(), 1);
    EXPECT_EQ(dlg.get_archive_path(), g1 + "/W");
    EXPECT_EQ(get_profile_string("Archives", "Mail Archive", ""), g1);
    EXPECT_EQ(get_profile_string("Archives", "Mail Index", ""), "1");
    ChooseArchiveDialogRules again(true, dev, {});
    EXPECT_EQ(again.folders()[0], g1);
    EXPECT_EQ(again.archive_selection(), 1);
    // Locate puts a new folder on top.
    const std::string g4 = group("G4", {{"STANDARD", "STANDARD", {}}});
    again.locate(g4 + "/ARCHDIR.DAT");
    EXPECT_EQ(again.folders()[0], g4);
    EXPECT_EQ(again.folder_selection(), 0);
    again.locate(g1 + "/ARCHDIR.DAT");
    EXPECT_EQ(again.folder_selection(), 1);
    EXPECT_EQ(again.folders().size(), 3u);
    // No folders at all: both lists empty, OK disabled.
    for (const char* e : {"Archive 0", "Archive 1", "Default Archive"}) delete_profile_value("Archives", e);
    ChooseArchiveDialogRules none(false, (t / "none.dat").string(), {});
    EXPECT_TRUE(none.folders().empty());
    EXPECT_FALSE(none.archive_list_enabled());
    EXPECT_FALSE(none.ok_enabled("x"));
    EXPECT_FALSE(none.ok("x", scripted));
}

TEST_F(ArchiveDialogsTest, ChooseDestinationCreatesNewArchives) {
    const std::string g1 = group("G1", {{"STANDARD", "STANDARD", {}}});
    write_file(t / "G1" / "ARCHDIR.DAT", "STANDARD\r\nSTANDARD");  // no line end at the end
    ChooseArchiveDialogRules dlg(false, (t / "none.dat").string(), {g1});
    EXPECT_FALSE(dlg.ok("   ", scripted));
    EXPECT_EQ(scripted.shown.back().text, kBlankArchiveNameText);
    EXPECT_FALSE(dlg.ok("Deleted Reports", scripted));
    EXPECT_EQ(scripted.shown.back().text, kReservedArchiveNameText);
    scripted.answers = {MsgResult::Cancel};
    EXPECT_FALSE(dlg.ok("standard", scripted));  // another case is a new name: asked, cancelled
    EXPECT_EQ(scripted.shown.back().caption, "Confirm Creation of New Archive");
    EXPECT_EQ(read_all(t / "G1" / "ARCHDIR.DAT"), "STANDARD\r\nSTANDARD");
    scripted.answers = {MsgResult::Ok};
    ASSERT_TRUE(dlg.ok("Holter clinic north", scripted));
    EXPECT_EQ(scripted.shown.back().text, "Create a new archive called \"Holter clinic n\"\nin folder \"" + g1 + "\"?");
    EXPECT_EQ(dlg.get_archive_index(), 1);
    const std::string dir = read_all(t / "G1" / "ARCHDIR.DAT");
    const std::string folder = fs::path(dlg.get_archive_path()).filename().string();
    EXPECT_EQ(dir, "STANDARD\r\nSTANDARD\r\n" + folder + "\r\nHolter clinic n\r\n");
    EXPECT_TRUE(fs::is_directory(dlg.get_archive_path()));
    EXPECT_EQ(folder.size(), 8u);
}

TEST_F(ArchiveDialogsTest, FailedCreationWritesNothing) {
    const std::string g1 = group("G1", {{"STANDARD", "STANDARD", {}}});
    // ARCHDIR.DAT cannot be appended to (a folder stands in its place): no entry, no folder left.
    fs::remove(t / "G1" / "ARCHDIR.DAT");
    fs::create_directories(t / "G1" / "ARCHDIR.DAT");
    // The index lock's own file does not count.
    const auto count = [&] {
        long n = 0;
        for (const auto& e : fs::directory_iterator(t / "G1")) n += e.path().filename() != kIndexLockFileName;
        return n;
    };
    const auto before = count();
    EXPECT_FALSE(create_archive_in_group(g1, "New", nullptr));
    EXPECT_EQ(count(), before);
    ASSERT_FALSE(scripted.shown.empty());
    // A group folder that is not there: the folder cannot be made and nothing is written.
    scripted.shown.clear();
    EXPECT_FALSE(create_archive_in_group((t / "missing").string(), "New", nullptr));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, kFolderCreateFailedCaption);
    EXPECT_FALSE(fs::exists(t / "missing"));
}

}  // namespace
}  // namespace tv
