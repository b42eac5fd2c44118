#include "tolbex/browser/app_commands.h"

#include <unistd.h>

#include "common/profile.h"
#include "common/text.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/last_groups.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/tests/browser_test_group.h"

namespace tv {
namespace {

using namespace testing_root;

class AppCommandsTest : public RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        config.load((t / "DEVICE.DAT").string());
    }
    // Opens documents as the framework would, remembering the paths.
    OpenGroupFn opener() {
        return [this](const std::string& path) {
            auto doc = std::make_unique<BrowserListCore>();
            if (!doc->open_document(path)) return false;
            opened.push_back(path);
            docs.push_back(std::move(doc));
            return true;
        };
    }
    ArchiveConfigList config;
    std::vector<std::string> opened;
    std::vector<std::unique_ptr<BrowserListCore>> docs;
};

TEST_F(AppCommandsTest, FindNeverFollowsLinksAndEnds) {
    make_test_group(t / "base" / "a" / "G1", {{"STANDARD", "STANDARD", {}}});
    make_test_group(t / "base" / "b" / "deep" / "G2", {{"S", "S", {}}});
    write_file(t / "base" / "c" / "archdir.dat", "");  // a group without archives is not one
    // A loop back to the base and a link to a group: neither is followed.
    fs::create_directory_symlink(t / "base", t / "base" / "b" / "loop");
    fs::create_directory_symlink(t / "base" / "a" / "G1", t / "base" / "zlink");
    std::vector<std::string> searched;
    const auto found = find_archive_groups((t / "base").string(), [&](const std::string& f) { searched.push_back(f); });
    EXPECT_EQ(found, (std::vector<std::string>{(t / "base" / "a" / "G1" / "ARCHDIR.DAT").string(),
                                               (t / "base" / "b" / "deep" / "G2" / "ARCHDIR.DAT").string()}));
    for (const auto& f : searched) EXPECT_EQ(f.find("loop"), std::string::npos) << f;

    bool cascade = false;
    EXPECT_EQ(find_and_open_archive_groups((t / "base").string(), opener(), scripted, &cascade), 2);
    EXPECT_TRUE(cascade);
    EXPECT_EQ(scripted.shown.back().text, "2 valid archives have been found and opened.");
    EXPECT_EQ(find_and_open_archive_groups((t / "base" / "c").string(), opener(), scripted, &cascade), 0);
    EXPECT_FALSE(cascade);
    EXPECT_EQ(scripted.shown.back().text,
              "No valid archives found in folder: " + to_upper_copy((t / "base" / "c").string()));
}

TEST_F(AppCommandsTest, CreateGroup) {
    const std::string folder = (t / "new").string();
    fs::create_directories(folder);
    EXPECT_EQ(create_archive_group("", config, opener(), scripted), "");
    EXPECT_EQ(create_archive_group(folder, config, opener(), scripted), folder);
    EXPECT_EQ(read_all(t / "new" / "ARCHDIR.DAT"), "STANDARD\r\nSTANDARD\r\n");
    EXPECT_TRUE(fs::is_directory(t / "new" / "STANDARD"));
    EXPECT_EQ(scripted.shown.back().caption, "Archive Group Created Successfully");
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(config.get_count(), 0);  // an empty configuration stays empty
    // Already a group: opened, added to a configuration that lists others.
    ASSERT_EQ(config.add((t / "other").string()), kConfigOk);
    EXPECT_EQ(create_archive_group(folder, config, opener(), scripted), folder);
    EXPECT_EQ(scripted.shown.back().text, "The folder that you selected is already an archive group.");
    EXPECT_TRUE(config.contains(folder));
    // A place where no folder can be made.
    write_file(t / "file", "x");
    EXPECT_EQ(create_archive_group((t / "file").string(), config, opener(), scripted), "");
    EXPECT_EQ(scripted.shown.back().caption, "Failed to create folder");
    EXPECT_FALSE(fs::exists(t / "file" / "ARCHDIR.DAT"));
    // A link in the first archive's place is never taken for it: nothing is listed or made.
    fs::create_directories(t / "linked");
    fs::create_directories(t / "private");
    fs::create_directory_symlink(t / "private", t / "linked" / "STANDARD");
    EXPECT_EQ(create_archive_group((t / "linked").string(), config, opener(), scripted), "");
    EXPECT_EQ(scripted.shown.back().caption, "Failed to create folder");
    EXPECT_FALSE(fs::exists(t / "linked" / "ARCHDIR.DAT"));
    EXPECT_TRUE(fs::is_empty(t / "private"));
}

TEST_F(AppCommandsTest, SelectAndAddToConfiguration) {
    const std::string g = (t / "G").string();
    make_test_group(t / "G", {{"STANDARD", "STANDARD", {}}});
    EXPECT_EQ(add_group_to_configuration(config, g, scripted), kConfigOk);
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_EQ(add_group_to_configuration(config, g, scripted), kConfigExists);
    EXPECT_EQ(scripted.shown.back().caption, "Archive Configuration File not updated");
    EXPECT_TRUE(open_configured_group(config, g + "/ARCHDIR.DAT", opener(), scripted));
    // The group vanished: Cancel keeps the entry, OK removes it.
    fs::remove_all(t / "G");
    scripted.answers = {MsgResult::Cancel};
    EXPECT_FALSE(open_configured_group(config, g + "/ARCHDIR.DAT", opener(), scripted));
    EXPECT_EQ(scripted.shown.back().caption, kGroupNotFoundCaption);
    EXPECT_TRUE(config.contains(g));
    scripted.answers = {MsgResult::Ok};
    EXPECT_FALSE(open_configured_group(config, g + "/ARCHDIR.DAT", opener(), scripted));
    EXPECT_FALSE(config.contains(g));
    EXPECT_EQ(scripted.shown.back().caption, "Archive Successfully Removed");
}

TEST_F(AppCommandsTest, NearlyFullDrivesOfferToEmptyTheBin) {
    EXPECT_TRUE(is_nearly_full(400ull << 20, 10ull << 30));
    EXPECT_FALSE(is_nearly_full(600ull << 20, 2ull << 30));
    EXPECT_FALSE(is_nearly_full(0, 0));
    make_test_group(t / "G1", {{"STANDARD", "STANDARD", {}}, {"DELETED", "Deleted Reports", {{"D.FUL", "d"}}}});
    make_test_group(t / "G2", {{"STANDARD", "STANDARD", {}}, {"deleted", "Deleted Reports", {{"E.FUL", "e"}}}});
    auto open = opener();
    ASSERT_TRUE(open((t / "G1" / "ARCHDIR.DAT").string()));
    ASSERT_TRUE(open((t / "G2" / "ARCHDIR.DAT").string()));
    std::vector<BrowserListCore*> list{docs[0].get(), docs[1].get()};
    int asked = 0;
    const VolumeQueryFn full = [&](const std::string&) {
        ++asked;
        return std::optional<VolumeFigures>(VolumeFigures{100ull << 20, 10ull << 30});
    };
    scripted.answers = {MsgResult::No, MsgResult::Yes};
    EXPECT_EQ(offer_deleted_report_removal(list, scripted, full), 1);
    EXPECT_EQ(asked, 1);  // one file system, examined once
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_NE(scripted.shown[0].text.find("is nearly full.\n\nWould you like to free "), std::string::npos);
    for (const auto& asked_box : scripted.shown) EXPECT_EQ(asked_box.default_button, MsgResult::No);
    EXPECT_TRUE(fs::exists(t / "G1" / "DELETED"));
    EXPECT_FALSE(fs::exists(t / "G2" / "deleted"));
    EXPECT_EQ(read_all(t / "G2" / "ARCHDIR.DAT"), "STANDARD\r\nSTANDARD\r\n");
    EXPECT_EQ(docs[1]->get_archive_count(), 1);
    scripted.shown.clear();
    const VolumeQueryFn roomy = [](const std::string&) {
        return std::optional<VolumeFigures>(VolumeFigures{600ull << 20, 2ull << 30});
    };
    EXPECT_EQ(offer_deleted_report_removal(list, scripted, roomy), 0);
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(AppCommandsTest, ArchiveGroupsOfTheLastRun) {
    make_test_group(t / "A", {{"STANDARD", "STANDARD", {}}});
    make_test_group(t / "B", {{"STANDARD", "STANDARD", {}}});
    make_test_group(t / "C", {{"STANDARD", "STANDARD", {}}});
    const std::string a = (t / "A" / "ARCHDIR.DAT").string(), b = (t / "B" / "ARCHDIR.DAT").string(),
                      c = (t / "C" / "ARCHDIR.DAT").string();
    write_profile_string("Archives", "Archive 0", a);
    write_profile_string("Archives", "Archive 1", (t / "vanished" / "ARCHDIR.DAT").string());
    write_profile_string("Archives", "Archive 2", b);
    write_profile_string("Archives", "Default Archive", c);
    EXPECT_EQ(archive_groups_to_reopen((t / "B").string()), (std::vector<std::string>{a, b, b, c}));
    EXPECT_EQ(startup_arrangement(1), StartupArrangement::None);
    EXPECT_EQ(startup_arrangement(3), StartupArrangement::TileHorizontally);
    EXPECT_EQ(startup_arrangement(4), StartupArrangement::Cascade);

    // A cancelled save keeps the remembered groups.
    EXPECT_FALSE(save_archive_group_list(true, {c}, [] { return false; }));
    EXPECT_EQ(get_profile_string("Archives", "Archive 0", ""), a);
    EXPECT_EQ(get_profile_string("Archives", "Archive 2", ""), b);
    // Browsing off: asked, nothing changed.
    EXPECT_TRUE(save_archive_group_list(false, {c}, [] { return true; }));
    EXPECT_EQ(get_profile_string("Archives", "Archive 0", ""), a);
    EXPECT_TRUE(save_archive_group_list(true, {c}, [] { return true; }));
    EXPECT_EQ(get_profile_string("Archives", "Archive 0", ""), c);
    EXPECT_EQ(get_profile_string("Archives", "Archive 1", ""), "");
    EXPECT_EQ(get_profile_string("Archives", "Archive 2", ""), "");
    EXPECT_EQ(get_profile_string("Archives", "Default Archive", ""), c);
}

}  // namespace
}  // namespace tv
