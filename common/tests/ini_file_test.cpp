#include "common/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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
    static std::string read(const std::string& path) {
        std::string out;
        std::FILE* f = std::fopen(path.c_str(), "rbe");
        if (!f) return out;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        return out;
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
    EXPECT_FALSE(raw.modified());
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

TEST_F(IniFileTest, LargeSectionIsReadAndWrittenWhole) {
    std::string text = "[Big]\r\n";
    for (int i = 0; i < 2000; ++i) text += "key" + std::to_string(i) + "=value number " + std::to_string(i) + "\r\n";
    text += "[After]\r\nlast=yes\r\n";
    ASSERT_GT(text.size(), 8192u * 4);
    const std::string path = write("big.ini", text);
    {
        tv::IniFile ini;
        ASSERT_TRUE(ini.load(path));
        EXPECT_EQ(ini.sections()[0].keys.size(), 2000u);
        EXPECT_EQ(ini.get_value("Big", "key1999"), "value number 1999");
        EXPECT_EQ(ini.get_value("After", "last"), "yes");
        ini.set_value("After", "last", "still");
    }  // saved on destruction
    tv::IniFile again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.sections()[0].keys.size(), 2000u);
    EXPECT_EQ(again.get_value("Big", "key1999"), "value number 1999");
    EXPECT_EQ(again.get_value("After", "last"), "still");
}

TEST_F(IniFileTest, SaveKeepsForeignLinesAndWritesCrLf) {
    const std::string path = write("s.ini",
                                   "; header comment\n"
                                   "[One]\n"
                                   "a=1\n"
                                   "; dropped with the section body\n"
                                   "\n"
                                   "[Other]\n"
                                   "keep=me\n"
                                   "[one]\n"
                                   "b=2\n");
    tv::IniFile ini;
    ASSERT_TRUE(ini.load(path));
    ASSERT_EQ(ini.sections().size(), 2u);  // the repeated [one] joins [One]
    EXPECT_EQ(ini.get_value("One", "b"), "2");
    ini.set_value("one", "a", "changed");
    ini.set_value("New", "", "bare value");
    ini.set_value("New", "k", "v\r\nx=injected");
    EXPECT_TRUE(ini.modified());
    ASSERT_TRUE(ini.save());
    EXPECT_FALSE(ini.modified());
    EXPECT_EQ(read(path),
              "; header comment\r\n"
              "[One]\r\n"
              "a=changed\r\n"
              "b=2\r\n"
              "\r\n"
              "[Other]\r\n"
              "keep=me\r\n"
              "[New]\r\n"
              "bare value\r\n"
              "k=v  x=injected\r\n");

    // The file is replaced, never rewritten in place.
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ini.set_value("One", "a", "again");
    ASSERT_TRUE(ini.save());
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
}

TEST_F(IniFileTest, SaveCreatesMissingFileAndNeedsAPath) {
    tv::IniFile none;
    none.set_value("S", "k", "v");
    EXPECT_FALSE(none.save());
    none.set_path("");
    EXPECT_FALSE(none.save());
    none.set_path(root_ + "/new.ini");
    ASSERT_TRUE(none.save());
    EXPECT_EQ(read(root_ + "/new.ini"), "[S]\r\nk=v\r\n");
}

TEST_F(IniFileTest, UnmodifiedFileIsNotRewritten) {
    const std::string text = "[A]\nx = 1   \n";
    const std::string path = write("u.ini", text);
    {
        tv::IniFile ini;
        ini.set_trim_values(true);
        ASSERT_TRUE(ini.load(path));
        EXPECT_EQ(ini.get_value("A", "x "), "1");
    }
    EXPECT_EQ(read(path), text);
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
