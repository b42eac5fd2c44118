#include "tolbex/archive/profile.h"

#include <gtest/gtest.h>

#include <climits>

#include "common/registry.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "testing/test_root.h"

namespace tv {
namespace {

using platform::testing::TempRoot;

TEST(Profile, RoundTripThroughTheUserHive) {
    TempRoot root;
    EXPECT_EQ(get_profile_string("Settings", "Export Folder", "none"), "none");
    EXPECT_EQ(get_profile_int("Settings", "CEF BitRed", 4), 4);

    ASSERT_TRUE(write_profile_string("Settings", "Export Folder", "/data/out \xE9t\xE9"));
    ASSERT_TRUE(write_profile_int("Settings", "CEF BitRed", 2));
    ASSERT_TRUE(write_profile_int("Settings", "Left Margin", -1500));
    ASSERT_TRUE(write_profile_int("Settings", "Min", INT_MIN));

    EXPECT_EQ(get_profile_string("Settings", "Export Folder", ""), "/data/out \xE9t\xE9");
    EXPECT_EQ(get_profile_int("Settings", "CEF BitRed", 4), 2);
    EXPECT_EQ(get_profile_int("Settings", "Left Margin", 0), -1500);
    EXPECT_EQ(get_profile_int("Settings", "Min", 0), INT_MIN);
    // Sections and entries are found without regard to case, as the registry does.
    EXPECT_EQ(get_profile_int("SETTINGS", "cef bitred", 4), 2);

    // The values live in the user's hive under the program's key, one key per section.
    auto hive = platform::read_whole_file(platform::user_registry_dir() + "/HKCU.reg");
    ASSERT_TRUE(hive.has_value());
    EXPECT_NE(hive->find("[Software\\Torvane Medical\\Calvera\\Settings]"), std::string::npos);
    EXPECT_EQ(reg_get_dword(HKEY_CURRENT_USER, "Software\\Torvane Medical\\Calvera\\Settings", "CEF BitRed", 9), 2u);

    EXPECT_TRUE(delete_profile_value("Settings", "CEF BitRed"));
    EXPECT_EQ(get_profile_int("Settings", "CEF BitRed", 4), 4);
    EXPECT_FALSE(delete_profile_value("Settings", "CEF BitRed"));
    EXPECT_FALSE(delete_profile_value("NoSuchSection", "x"));
    EXPECT_EQ(get_profile_string("Settings", "Export Folder", ""), "/data/out \xE9t\xE9");
}

TEST(Profile, ValueOfTheOtherKindReadsAsTheDefault) {
    TempRoot root;
    ASSERT_TRUE(write_profile_string("eMail", "Size Warning Threshold", "8192"));
    ASSERT_TRUE(write_profile_int("eMail", "Default Address", 7));
    EXPECT_EQ(get_profile_int("eMail", "Size Warning Threshold", 100), 100);
    EXPECT_EQ(get_profile_string("eMail", "Default Address", "d"), "d");
    // An overwrite changes the kind.
    ASSERT_TRUE(write_profile_int("eMail", "Size Warning Threshold", 8192));
    EXPECT_EQ(get_profile_int("eMail", "Size Warning Threshold", 100), 8192);
}

TEST(Profile, FreshRootsDoNotShareValues) {
    {
        TempRoot root;
        ASSERT_TRUE(write_profile_string("Pelwin", "Clinic", "ABCD"));
        EXPECT_EQ(get_profile_string("Pelwin", "Clinic", ""), "ABCD");
    }
    TempRoot other;
    EXPECT_EQ(get_profile_string("Pelwin", "Clinic", ""), "");
}

TEST(Profile, UnwritableHiveReportsFailure) {
    TempRoot root;
    // A folder where the hive file should be: nothing can be written.
    std::filesystem::create_directories(platform::user_registry_dir() + "/HKCU.reg");
    EXPECT_FALSE(write_profile_string("Settings", "x", "y"));
    EXPECT_FALSE(write_profile_int("Settings", "x", 1));
    EXPECT_EQ(get_profile_string("Settings", "x", "def"), "def");
}

}  // namespace
}  // namespace tv
