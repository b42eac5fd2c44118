#include "common/report_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "testing/test_root.h"

namespace fs = std::filesystem;
using tv::OutsideRefusal;
using tv::ReportFileKind;
using tv::ReportFolder;

namespace {

void put(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

// A group G with archive A and report R, and a file of the operator's outside it.
class ReportFiles : public ::testing::Test {
protected:
    void SetUp() override {
        put(report / "PATIENT.TXT", "text");
        put(elsewhere / "own.txt", "the operator's own");
    }
    tv::platform::testing::TempRoot temp_;
    const fs::path group = fs::path(temp_.path()) / "G", report = group / "A" / "R.IMG",
                   elsewhere = fs::path(temp_.path()) / "own";
};

}  // namespace

// Each member the folder could hold in a file's place, read as that file.
TEST_F(ReportFiles, OnlyAPlainFileOfOneNameWithinItsKindsLimitIsRead) {
    fs::create_symlink(elsewhere / "own.txt", report / "LINK.TXT");
    fs::create_symlink("/dev/zero", report / "ZERO.TXT");
    ASSERT_EQ(::mkfifo((report / "FIFO.TXT").c_str(), 0600), 0);
    fs::create_hard_link(elsewhere / "own.txt", report / "TWICE.TXT");
    fs::create_directories(report / "SUB.TXT");
    std::ofstream(report / "HUGE.1", std::ios::binary).close();
    fs::resize_file(report / "HUGE.1", tv::report_file_limit(ReportFileKind::Page) + 1);
    const ReportFolder folder(report.string());
    ASSERT_TRUE(folder.is_open());
    const struct {
        const char* name;
        ReportFileKind kind;
        OutsideRefusal why;
    } cases[] = {
        {"patient.txt", ReportFileKind::Text, OutsideRefusal::None},  // found without regard to case
        {"LINK.TXT", ReportFileKind::Text, OutsideRefusal::Link},
        {"ZERO.TXT", ReportFileKind::Text, OutsideRefusal::Link},
        {"FIFO.TXT", ReportFileKind::Text, OutsideRefusal::NotRegular},
        {"TWICE.TXT", ReportFileKind::Text, OutsideRefusal::HardLinked},
        {"SUB.TXT", ReportFileKind::Text, OutsideRefusal::NotRegular},
        {"HUGE.1", ReportFileKind::Page, OutsideRefusal::TooLarge},
        {"MISSING.TXT", ReportFileKind::Text, OutsideRefusal::Missing},
        {"../A/R.IMG/PATIENT.TXT", ReportFileKind::Text, OutsideRefusal::Missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OutsideRefusal why{};
        const auto text = folder.read(c.name, c.kind, &why);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(text.value_or("-"), c.why == OutsideRefusal::None ? "text" : "-");
        EXPECT_EQ(static_cast<bool>(folder.open(c.name, c.kind)), c.why == OutsideRefusal::None);
    }
    EXPECT_EQ(folder.path_of("patient.txt"), (report / "PATIENT.TXT").string());
    EXPECT_TRUE(folder.has_file("PATIENT.TXT"));
    EXPECT_FALSE(folder.has_file("LINK.TXT"));
    EXPECT_EQ(tv::read_report_file((report / "patient.txt").string(), ReportFileKind::Text).value_or(""), "text");
}

// The folder keeps reading what it opened: a swap of its name for a link after the open changes
// nothing, and a folder that is a link when it is opened, at any step below the group, is refused.
TEST_F(ReportFiles, TheFolderIsReachedWithoutALinkAndStaysWhatWasOpened) {
    const ReportFolder opened(report.string());
    const ReportFolder chained = ReportFolder::in_group(group.string(), "a", "r.img");
    ASSERT_TRUE(chained.is_open());
    EXPECT_EQ(chained.path(), report.string());
    fs::rename(report, group / "A" / "OLD.IMG");
    put(elsewhere / "PATIENT.TXT", "the operator's own");
    fs::create_directory_symlink(elsewhere, report);
    EXPECT_EQ(opened.read("PATIENT.TXT", ReportFileKind::Text).value_or(""), "text");
    EXPECT_EQ(chained.read("PATIENT.TXT", ReportFileKind::Text).value_or(""), "text");

    OutsideRefusal why{};
    EXPECT_FALSE(ReportFolder(report.string()).is_open());
    EXPECT_EQ(ReportFolder(report.string()).refusal(), OutsideRefusal::Link);
    EXPECT_FALSE(ReportFolder::in_group(group.string(), "A", "R.IMG").is_open());
    EXPECT_FALSE(tv::read_report_file((report / "PATIENT.TXT").string(), ReportFileKind::Text, &why));
    EXPECT_EQ(why, OutsideRefusal::Link);

    // The archive a link: refused though the report below it is a plain folder.
    fs::rename(group / "A", group / "B");
    fs::create_directory_symlink(group / "B", group / "A");
    const ReportFolder through = ReportFolder::in_group(group.string(), "A", "OLD.IMG");
    EXPECT_FALSE(through.is_open());
    EXPECT_EQ(through.refusal(), OutsideRefusal::Link);
    EXPECT_TRUE(ReportFolder::in_group(group.string(), "B", "OLD.IMG").is_open());
    EXPECT_FALSE(ReportFolder().read("PATIENT.TXT", ReportFileKind::Text));
}

// A name is one component of the folder it is looked up in: "..", a name with a slash, or one
// that climbs out finds nothing and opens nothing, though what it would reach is there.
TEST_F(ReportFiles, ANameThatIsNotOneComponentLeavesNothingOpen) {
    put(report / "SUB" / "INNER.TXT", "inner");
    const ReportFolder folder(report.string());
    ASSERT_TRUE(folder.is_open());
    for (const char* name : {"..", ".", "SUB/INNER.TXT", "../R.IMG/PATIENT.TXT", "../../../own/own.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(folder.find(name), std::nullopt);
        EXPECT_FALSE(folder.has_file(name));
        EXPECT_FALSE(folder.open(name, ReportFileKind::Text));
        EXPECT_FALSE(folder.read(name, ReportFileKind::Text));
        EXPECT_FALSE(ReportFolder(folder.fd(), name, "x").is_open());
    }
    // Neither as an archive nor as a report of a group.
    EXPECT_FALSE(ReportFolder::in_group(group.string(), "..", "own").is_open());
    EXPECT_FALSE(ReportFolder::in_group(group.string(), "A", "../../own").is_open());
    EXPECT_FALSE(ReportFolder::in_group(group.string(), "A/R.IMG", "SUB").is_open());
    EXPECT_TRUE(ReportFolder::in_group(group.string(), "A", "R.IMG").is_open());
}

// Of several spellings of one name, the exact one is found, else the smallest by its bytes, so
// every reader of the folder takes the same file.
TEST_F(ReportFiles, OfSeveralSpellingsTheExactOneElseTheSmallestIsFound) {
    put(report / "page.1", "lower");
    put(report / "Page.1", "mixed");
    put(report / "PAGE.1", "upper");
    const ReportFolder folder(report.string());
    EXPECT_EQ(folder.find("page.1").value_or(""), "page.1");
    EXPECT_EQ(folder.find("Page.1").value_or(""), "Page.1");
    EXPECT_EQ(folder.find("pAGE.1").value_or(""), "PAGE.1");
    EXPECT_EQ(folder.read("pAgE.1", ReportFileKind::Page).value_or(""), "upper");
    fs::remove(report / "PAGE.1");
    EXPECT_EQ(folder.find("pAGE.1").value_or(""), "Page.1");
}
