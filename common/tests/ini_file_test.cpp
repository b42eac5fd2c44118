#include "common/ini_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <cstdio>

#include "testing/test_root.h"

namespace {

class IniFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = root_ + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wbe");
        EXPECT_NE(f, nullptr);
        if (f) {
            EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
            std::fclose(f);
        }
        return path;
    }
    tv::platform::testing::TempRoot temp_{tv::platform::testing::TmpDir::Root};
    const std::string root_ = temp_.path();
};

const char kSample[] = "[A]\r\nx=1\r\ny=2 ; note\r\n[B]\r\nx=3\r\n";

}  // namespace

TEST_F(IniFileTest, CommentsAndTrimmingAsOptionsSay) {
    const std::string path = write("p.ini", kSample);
    tv::IniFile ini;
    ini.set_strip_comments(true);
    ini.set_trim_values(true);
    ASSERT_TRUE(ini.load(path));
    EXPECT_EQ(ini.get_value("A", "y"), "2");
    EXPECT_EQ(ini.get_value("B", "x"), "3");
    EXPECT_EQ(ini.get_value("a", "X"), "1");

    tv::IniFile raw;
    ASSERT_TRUE(raw.load(path));
    EXPECT_EQ(raw.get_value("A", "y"), "2 ; note");
}

TEST_F(IniFileTest, KeysAsWrittenDuplicatesAndMissingEntries) {
    const std::string path = write("k.ini",
                                   "top=ignored\n"
                                   "[ Patient Details ]\n"
                                   "y =2\n"
                                   "PatientName=Smith^John\n"
                                   "patientname=second\n"
                                   "  ; a comment line\n"
                                   "v=a;b;c\n"
                                   "no equals here\n"
                                   "e=\n"
                                   "[Empty]\n");
    tv::IniFile ini;
    ini.set_strip_comments(true);
    ASSERT_TRUE(ini.load(path));  // the last section is empty, still a readable file
    ASSERT_EQ(ini.sections().size(), 2u);
    EXPECT_EQ(ini.sections()[0].name, "Patient Details");
    EXPECT_EQ(ini.find_section("patient details"), 0);
    EXPECT_EQ(ini.find_section("Empty"), 1);
    EXPECT_EQ(ini.find_section("top"), -1);

    EXPECT_EQ(ini.get_value("Patient Details", "y"), "");
    EXPECT_EQ(ini.get_value("Patient Details", "y "), "2");
    EXPECT_EQ(ini.get_value("Patient Details", "PATIENTNAME"), "Smith^John");
    EXPECT_EQ(ini.get_value("Patient Details", "v"), "a;b");
    EXPECT_EQ(ini.get_value("Patient Details", ""), "no equals here");
    EXPECT_EQ(ini.get_value("Patient Details", "e"), "");
    EXPECT_EQ(ini.find_key(0, "e"), 5);
    EXPECT_EQ(ini.get_value("Nowhere", "y"), "");
    EXPECT_EQ(ini.get_value("Empty", "y"), "");
    EXPECT_EQ(ini.find_key(7, "y"), -1);
    EXPECT_EQ(ini.find_key(-1, "y"), -1);
    EXPECT_EQ(ini.sections()[0].keys.size(), 6u);

    EXPECT_EQ(tv::strip_ini_comment("a;b;c"), "a;b");
    EXPECT_EQ(tv::strip_ini_comment("abc"), "abc");
}

TEST_F(IniFileTest, UnreadableFileLoadsAsFalse) {
    tv::IniFile ini;
    EXPECT_FALSE(ini.load(root_ + "/missing.ini"));
    EXPECT_TRUE(ini.sections().empty());
    EXPECT_FALSE(ini.load(root_));  // a folder
    EXPECT_TRUE(ini.load(write("empty.ini", "")));
    EXPECT_TRUE(ini.sections().empty());
}

TEST_F(IniFileTest, LargeSectionIsReadWhole) {
    std::string text = "[Big]\r\n";
    for (int i = 0; i < 2000; ++i) text += "key" + std::to_string(i) + "=value number " + std::to_string(i) + "\r\n";
    text += "[After]\r\nlast=yes\r\n";
    ASSERT_GT(text.size(), 8192u * 4);
    tv::IniFile ini;
    ASSERT_TRUE(ini.load(write("big.ini", text)));
    EXPECT_EQ(ini.sections()[0].keys.size(), 2000u);
    EXPECT_EQ(ini.get_value("Big", "key1999"), "value number 1999");
    EXPECT_EQ(ini.get_value("After", "last"), "yes");
}

TEST_F(IniFileTest, HostileBytesStayContained) {
    std::string text = "[A]\n";
    text += std::string("k\0ey=va\0lue\n", 12);
    text += "\xFF\xFE=\x80\x81\n[\n]\n[unclosed\n[A";
    tv::IniFile ini;
    ASSERT_TRUE(ini.load(write("h.ini", text)));
    ASSERT_EQ(ini.sections().size(), 1u);
    EXPECT_EQ(ini.get_value("A", std::string("k\0ey", 4)), std::string("va\0lue", 6));
    EXPECT_EQ(ini.get_value("A", "\xFF\xFE"), "\x80\x81");
    EXPECT_EQ(ini.get_value("A", ""), "[");
}
