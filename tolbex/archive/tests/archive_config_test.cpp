#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/report_archive.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/ui.h"
#include "tolbex/archive/tests/archive_test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class ArchiveConfigTest : public testing_root::ArchiveTestRoot {
protected:
    void SetUp() override {
        ArchiveTestRoot::SetUp();
        if (HasFatalFailure()) return;
        file_ = root_ + "/DEVICE.DAT";
    }
    std::string file_;
};

TEST_F(ArchiveConfigTest, LoadAndSaveGoldenBytes) {
    write(file_, "1 \"/data/G1\" \"Main\"\n2 \"/media/G2\"\n");
    ArchiveConfigList list;
    ASSERT_TRUE(list.load(file_));
    ASSERT_EQ(list.get_count(), 2);
    EXPECT_EQ(list.get_path(0), "/data/G1");
    EXPECT_EQ(list.get_name(0), "Main");
    EXPECT_EQ(list.get_name(1), "");
    EXPECT_EQ(list.get_path(5), "");
    ASSERT_EQ(list.save(), 0);
    EXPECT_EQ(read(file_), "1 \"/data/G1\" \"Main\"\r\n2 \"/media/G2\"\r\n");
    EXPECT_EQ(list.get_file_path(), file_);
}

TEST_F(ArchiveConfigTest, ScanRules) {
    // Leading blanks, CR LF, a name without its closing quote, an empty name, spaces in paths.
    write(file_, "  3 \"/net/a b\" \"Net\"\r\n0 \"/f\" \"open\n1 \"/e\" \"\"\n");
    ArchiveConfigList list;
    ASSERT_TRUE(list.load(file_));
    ASSERT_EQ(list.get_count(), 3);
    EXPECT_EQ(list.get_path(0), "/net/a b");
    EXPECT_EQ(list.get_name(1), "open");
    EXPECT_EQ(list.get_name(2), "");
    EXPECT_TRUE(list.get_load_error().empty());

    for (const char* bad : {"x \"/p\"\n", "1 /p\n", "1 \"\"\n", "99999999999 \"/p\"\n"}) {
        write(file_, bad);
        EXPECT_FALSE(list.load(file_)) << bad;
        EXPECT_EQ(list.get_count(), 0) << bad;
        EXPECT_FALSE(list.get_load_error().empty()) << bad;
    }
}

TEST_F(ArchiveConfigTest, BlankLinesAreSkipped) {
    write(file_, "1 \"/g1\"\n2 \"/g2\"\n\n   \n3 \"/g3\"\n");
    ArchiveConfigList list;
    EXPECT_TRUE(list.load(file_));
    EXPECT_EQ(list.get_count(), 3);
}

TEST_F(ArchiveConfigTest, MalformedLineBlocksRewrites) {
    const std::string text = "1 \"/g1\"\ngarbage\n2 \"/g2\" \"Kept\"\n";
    write(file_, text);
    ArchiveConfigList list;
    EXPECT_FALSE(list.load(file_));
    EXPECT_EQ(list.get_count(), 1);
    EXPECT_EQ(list.add("/g3"), kConfigRefused);
    const Error refused = list.refusal();
    EXPECT_EQ(list.remove("/g1"), kConfigRefused);
    EXPECT_EQ(list.save(), 1);
    EXPECT_EQ(read(file_), text);  // the group after the bad line survives
    EXPECT_EQ(list.get_count(), 1);
    EXPECT_EQ(refused.code, kArchiveConfigRefused);
    EXPECT_NE(refused.message.find("entry 2"), std::string::npos);
    EXPECT_TRUE(ui_.shown.empty());

    // Over-long fields are not cut into a different path either.
    write(file_, "1 \"/" + std::string(200, 'p') + "\"\n");
    EXPECT_FALSE(list.load(file_));
    EXPECT_EQ(list.add("/g3"), kConfigRefused);
}

TEST_F(ArchiveConfigTest, LimitOf128Entries) {
    std::string text;
    for (int i = 0; i < 130; ++i) text += "1 \"/g" + std::to_string(i) + "\"\n";
    write(file_, text);
    ArchiveConfigList list;
    EXPECT_FALSE(list.load(file_));
    EXPECT_EQ(list.get_count(), 128);

    text.clear();
    for (int i = 0; i < 128; ++i) text += "1 \"/g" + std::to_string(i) + "\"\n";
    write(file_, text);
    ASSERT_TRUE(list.load(file_));
    EXPECT_EQ(list.add("/new"), kConfigFull);
}

TEST_F(ArchiveConfigTest, AddRemoveContains) {
    ArchiveConfigList list;
    EXPECT_FALSE(list.load(file_));  // missing: empty, but add may create it
    EXPECT_EQ(list.remove("/G1"), kConfigExists);
    ASSERT_EQ(list.add("/G1"), kConfigOk);
    EXPECT_EQ(list.add("/g1"), kConfigExists);
    EXPECT_TRUE(list.contains("/g1"));
    ASSERT_EQ(list.add("/G2"), kConfigOk);
    EXPECT_EQ(read(file_), "1 \"/G1\"\r\n1 \"/G2\"\r\n");
    EXPECT_EQ(list.remove("/g1"), kConfigOk);
    EXPECT_FALSE(list.contains("/G1"));
    EXPECT_EQ(read(file_), "1 \"/G2\"\r\n");
    EXPECT_EQ(list.add("/with\"quote"), kConfigRefused);
    EXPECT_EQ(list.add("/line\nbreak"), kConfigRefused);
    EXPECT_EQ(list.add(""), kConfigRefused);
    EXPECT_EQ(list.get_count(), 1);

    ArchiveConfigList reread;
    ASSERT_TRUE(reread.load(file_));
    EXPECT_EQ(reread.get_count(), 1);
}

TEST_F(ArchiveConfigTest, SaveFailureKeepsEntryInMemory) {
    ArchiveConfigList list;
    fs::create_directories(root_ + "/dir");
    list.load(root_ + "/dir/missing/DEVICE.DAT");  // its folder does not exist
    EXPECT_EQ(list.add("/G1"), kConfigSaveFailed);
    EXPECT_TRUE(list.contains("/G1"));
    ArchiveConfigList none;
    EXPECT_EQ(none.save(), 1);  // never loaded: no path
}

}  // namespace
}  // namespace tv
