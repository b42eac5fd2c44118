#include "common/profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "common/profile_names.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/test_files.h"
#include "testing/test_root.h"

namespace tv {
namespace {

using platform::testing::TempRoot;

std::string user_hive_path() { return platform::user_registry_dir() + "/HKCU.reg"; }

// The user's hive as every release has written it: the profile's values must keep these bytes,
// and a hive written so must read back the same.
constexpr std::string_view kGoldenHive =
    "TORVANE REGISTRY 1\r\n"
    "\r\n[Software]\r\n"
    "\r\n[Software\\Torvane Medical]\r\n"
    "\r\n[Software\\Torvane Medical\\Calvera]\r\n"
    "\r\n[Software\\Torvane Medical\\Calvera\\Settings]\r\n"
    "\"Export Folder\"=\"/data/out \xE9t\xE9\"\r\n"
    "\"Left Margin\"=dword:fffffa24\r\n"
    "\"Min\"=dword:80000000\r\n"
    "\r\n[Software\\Torvane Medical\\Calvera\\Recent File List]\r\n"
    "\"File1\"=\"C:\\\\a \\\"b\\\"\\x09c\"\r\n"
    "\r\n[Software\\Torvane Medical\\Calvera\\TIMI Print]\r\n"
    "\r\n[Software\\Torvane Medical\\Calvera\\TIMI Print\\Body Font]\r\n"
    "\"height\"=dword:00000078\r\n";

void write_golden_values() {
    ASSERT_TRUE(write_profile_string("Settings", "Export Folder", "/data/out \xE9t\xE9"));
    ASSERT_TRUE(write_profile_int("Settings", "Left Margin", -1500));
    ASSERT_TRUE(write_profile_int("Settings", "CEF BitRed", 2));
    ASSERT_TRUE(write_profile_string("Recent File List", "File1", "C:\\a \"b\"\tc"));
    ASSERT_TRUE(write_profile_int("TIMI Print\\Body Font", "height", 120));
    ASSERT_TRUE(write_profile_int("Settings", "Min", INT_MIN));
    ASSERT_TRUE(delete_profile_value("Settings", "CEF BitRed"));
}

TEST(Profile, StoredBytesAreTheGoldenHive) {
    TempRoot root;
    write_golden_values();
    auto hive = platform::read_whole_file(user_hive_path());
    ASSERT_TRUE(hive.has_value());
    EXPECT_EQ(*hive, kGoldenHive);
}

TEST(Profile, TheGoldenHiveReadsBack) {
    TempRoot root;
    std::filesystem::create_directories(platform::user_registry_dir());
    testing::write_file(user_hive_path(), std::string(kGoldenHive));
    EXPECT_EQ(get_profile_string("Settings", "Export Folder", ""), "/data/out \xE9t\xE9");
    EXPECT_EQ(get_profile_int("Settings", "Left Margin", 0), -1500);
    EXPECT_EQ(get_profile_int("Settings", "Min", 0), INT_MIN);
    EXPECT_EQ(get_profile_int("Settings", "CEF BitRed", 4), 4);
    EXPECT_EQ(get_profile_string("Recent File List", "File1", ""), "C:\\a \"b\"\tc");
    EXPECT_EQ(get_profile_int("TIMI Print\\Body Font", "height", 0), 120);
    // Sections and entries are found without regard to case, as the registry does.
    EXPECT_EQ(get_profile_int("SETTINGS", "left margin", 0), -1500);
    EXPECT_EQ(profile_section_key("TIMI Print"), "Software\\Torvane Medical\\Calvera\\TIMI Print");
    // Rewriting a value with what it holds leaves every byte as it was.
    ASSERT_TRUE(write_profile_int("Settings", "Left Margin", -1500));
    EXPECT_EQ(platform::read_whole_file(user_hive_path()).value_or(""), kGoldenHive);
}

// The card program keeps its last drive under its own key, in the bytes it always wrote.
TEST(Profile, TheCardProgramsDriveIsStoredUnderItsOwnKey) {
    TempRoot root;
    const ProgramProfile card(kCardProgramProfileKey);
    EXPECT_EQ(card.get_int(kCardProgramSettingsSection, kDefaultDriveValue, 63), 63);
    ASSERT_TRUE(card.write_int(kCardProgramSettingsSection, kDefaultDriveValue, 'E'));
    EXPECT_EQ(platform::read_whole_file(user_hive_path()).value_or(""),
              "TORVANE REGISTRY 1\r\n"
              "\r\n[Software]\r\n"
              "\r\n[Software\\Torvane Medical]\r\n"
              "\r\n[Software\\Torvane Medical\\VOND]\r\n"
              "\r\n[Software\\Torvane Medical\\VOND\\Settings]\r\n"
              "\"Default Drive\"=dword:00000045\r\n");
    EXPECT_EQ(card.get_int(kCardProgramSettingsSection, kDefaultDriveValue, 63), 'E');
    EXPECT_EQ(get_profile_int(kCardProgramSettingsSection, kDefaultDriveValue, 63), 63);
}

TEST(Profile, MissingOrOtherKindReadsAsTheDefault) {
    TempRoot root;
    EXPECT_EQ(get_profile_string("eMail", "Default Address", "none"), "none");
    EXPECT_EQ(get_profile_int("eMail", "Size Warning Threshold", 4), 4);
    ASSERT_TRUE(write_profile_string("eMail", "Size Warning Threshold", "8192"));
    ASSERT_TRUE(write_profile_int("eMail", "Default Address", 7));
    EXPECT_EQ(get_profile_int("eMail", "Size Warning Threshold", 100), 100);
    EXPECT_EQ(get_profile_string("eMail", "Default Address", "d"), "d");
    // An overwrite changes the kind.
    ASSERT_TRUE(write_profile_int("eMail", "Size Warning Threshold", 8192));
    EXPECT_EQ(get_profile_int("eMail", "Size Warning Threshold", 100), 8192);
    // A string longer than a reader accepts is not cut: the default stands.
    ASSERT_TRUE(write_profile_string("eMail", "From Address", std::string(1024, 'a')));
    EXPECT_EQ(get_profile_string("eMail", "From Address", "d"), "d");
    EXPECT_FALSE(delete_profile_value("eMail", "No Such Entry"));
    EXPECT_FALSE(delete_profile_value("No Such Section", "x"));
}

TEST(Profile, UnwritableHiveReportsFailure) {
    TempRoot root;
    // A folder where the hive file should be: nothing can be written.
    std::filesystem::create_directories(user_hive_path());
    EXPECT_FALSE(write_profile_string("Settings", "x", "y"));
    EXPECT_FALSE(write_profile_int("Settings", "x", 1));
    EXPECT_EQ(get_profile_string("Settings", "x", "def"), "def");
}

}  // namespace
}  // namespace tv
