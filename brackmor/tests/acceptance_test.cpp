// The repair of a damaged group end to end, with its golden logs.
#include "brackmor/tests/brackmor_fixture.h"

namespace tv::brackmor::testing {
namespace {

class AcceptanceTest : public BrackmorTest {
protected:
    void SetUp() override {
        make({"ARCHDIR.DAT=arch1|Cardiology|GONE|Missing|", "NEW/",
              "arch1/SMITH.FUL/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,COMBFLAG.DAT,RAWECG1.DAT,CONFIRM.TXT}",
              "arch1/SMITH2.FUL/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,COMBFLAG.DAT}",
              "arch1/LOST.FUL/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,RAWECG1.DAT}", "arch1/JONES.CEF/A.CEF=abc",
              "arch1/JONES.CEF/PATIENT.TXT=V8.0|x|Jones Peter|",
              "arch1/ARCHINFO.DAT=SMITH.FUL|John Smith|Mon Mar 05 14:30:00 2007|12345|Full|"
              "LOST.FUL|Lost One|05/03/07 14:30:00|100|Full|"
              "SMITH2.FUL|05/03/07 14:30:00|200|Full|"
              "BAD.PRT|Bad|05/03/07 14:30:00|300|Full|"});
        original_ = read("arch1/ARCHINFO.DAT");
    }
    std::string log_at_base() const { return replace_all(log(), base(), "<base>"); }
    std::string original_;
};

TEST_F(AcceptanceTest, RepairsTheGroupAndAsksOnceForEachFolder) {
    const RunResult r = check({"/NW", "/DR"}, "NN");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read("ARCHDIR.DAT"), "arch1|Cardiology|");
    const std::string size =
        std::to_string(fs::file_size(at("arch1/JONES.CEF/A.CEF")) + fs::file_size(at("arch1/JONES.CEF/PATIENT.TXT")));
    EXPECT_EQ(mask(read("arch1/ARCHINFO.DAT")),
              "SMITH.FUL|John Smith|Mon Mar 05 14:30:00 2007|12345C|Full|"
              "SMITH2.FUL|<Blank Name>|<date>|200|Full|"
              "JONES.CEF|Jones Peter|<date>|" +
                  size + "|CEF|");
    EXPECT_EQ(read("arch1/ARCHINFO.SAV"), original_);
    EXPECT_TRUE(exists("arch1/LOST.FUL/MAIN.DAT"));
    EXPECT_TRUE(exists("NEW"));
    std::size_t asked = 0;
    for (std::size_t p = 0; (p = r.out.find("Confirm Folder Deletion", p)) != std::string::npos; ++p) ++asked;
    EXPECT_EQ(asked, 1u);
    EXPECT_NE(r.out.find("#Archives added:      0\n#Archives removed:    1\n#Archives deleted:    0\n\n"
                         "#Reports  added:      1\n#Reports  removed:    2\n#Reports  deleted:    0\n"),
              std::string::npos);
    EXPECT_EQ(log_at_base(),
              "BRACKMOR V3.35: Archive validation results, dated: <date>||"
              "Physically deleting invalid reports.||"
              "Removing Missing: GONE doesn't exist.|"
              "<base>/arch1/LOST.FUL is invalid because of missing files.|"
              "Removed Lost One because LOST.FUL is invalid.|"
              "<base>/arch1/BAD.PRT is invalid because of missing files.|"
              "Removed Bad because BAD.PRT is invalid.|"
              "Recovered: Jones Peter|"
              "<base>/arch1/LOST.FUL is invalid because of missing files.||"
              "#Archives added:      0|#Archives removed:    1|#Archives deleted:    0||"
              "#Reports  added:      1|#Reports  removed:    2|#Reports  deleted:    0||");

    // Again with the tagged log: the folder, now unlisted, is deleted on Y in recovery.
    EXPECT_EQ(check({"/NW", "/DR", "/EL"}, "Y").code, 0);
    EXPECT_FALSE(exists("arch1/LOST.FUL"));
    EXPECT_EQ(log_at_base(),
              "Physically deleting invalid reports.||"
              "REPORTINVALIDFILESMISSING:<base>/arch1/LOST.FUL|"
              "DELETEDREPORTDIR:<base>/arch1/LOST.FUL||"
              "#ARCHIVESADDED:0|#ARCHIVESREMOVED:0|#ARCHIVESDELETED:0||"
              "#REPORTSADDED:0|#REPORTSREMOVED:0|#REPORTSDELETED:1||");
}

TEST_F(AcceptanceTest, TaggedLogOfTheFirstRun) {
    EXPECT_EQ(check({"/NW", "/DR", "/EL", "/AE"}, "").code, 0);
    EXPECT_EQ(read("ARCHDIR.DAT"), "arch1|Cardiology|NEW|NEW|");
    EXPECT_EQ(log_at_base(),
              "Physically deleting invalid reports.|Adding empty archives to \"ARCHDIR.DAT\".||"
              "REMOVENONEXISTANTARCHIVE:Missing|"
              "REPORTINVALIDFILESMISSING:<base>/arch1/LOST.FUL|"
              "REMOVEDREPORT:Lost One|WITHNAME:LOST.FUL|"
              "REPORTINVALIDFILESMISSING:<base>/arch1/BAD.PRT|"
              "REMOVEDREPORT:Bad|WITHNAME:BAD.PRT|"
              "RECOVERED:Jones Peter|"
              "REPORTINVALIDFILESMISSING:<base>/arch1/LOST.FUL|"
              "ADDEDARCHIVE:NEW||"
              "#ARCHIVESADDED:1|#ARCHIVESREMOVED:1|#ARCHIVESDELETED:0||"
              "#REPORTSADDED:1|#REPORTSREMOVED:2|#REPORTSDELETED:0||");
}

// /RE drops the listed empty archive, /DA deletes it after the confirmation; STANDARD stays.
TEST_F(AcceptanceTest, EmptyArchivesRemovedAndDeleted) {
    make({"ARCHDIR.DAT=arch1|Cardiology|EMPTY|Empty one|STANDARD|Standard|", "EMPTY/.TVINDEX.LCK", "EMPTY/ARCHINFO.SAV",
          "STANDARD/"});
    EXPECT_EQ(check({"/NW", "/RE", "/EL"}).code, 0);
    EXPECT_EQ(read("ARCHDIR.DAT"), "arch1|Cardiology|STANDARD|Standard|");
    EXPECT_NE(log().find("REMOVEEMPTYARCHIVE:Empty one|NAMEIS:EMPTY|"), std::string::npos);
    // An archive left without an index but with folders in it is never deleted, whatever the
    // folders are: not even a question is asked.
    // Nor is one that holds anything but its index's files: a user's notes, an audit log.
    make({"ARCHDIR.DAT=arch1|Cardiology|EMPTY|Empty one|HOLDS|Holds folders|NOTED|Notes|LOGGED|Audited|",
          "HOLDS/ODD.XYZ/x", "HOLDS/.STAGE/", "NOTED/NOTES/readme.txt", "LOGGED/TV200712.LOG", "LOGGED/ARCHINFO.SAV"});
    const RunResult r = check({"/NW", "/DA"}, "Y\nN\n");  // EMPTY deleted with its index's files, NEW kept
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(exists("NEW"));
    EXPECT_FALSE(exists("EMPTY"));
    EXPECT_TRUE(exists("HOLDS/ODD.XYZ/x") && exists("HOLDS/.STAGE"));
    EXPECT_TRUE(exists("NOTED/NOTES/readme.txt") && exists("LOGGED/TV200712.LOG"));
    for (const char* kept : {"NOTED", "LOGGED"})
        EXPECT_NE(log_at_base().find("Kept archive directory <base>/" + std::string(kept) + " - it still holds"),
                  std::string::npos)
            << kept;
    EXPECT_EQ(read("ARCHDIR.DAT"), "arch1|Cardiology|STANDARD|STANDARD|");
    EXPECT_NE(log_at_base().find("Deleted archive directory: <base>/EMPTY|"), std::string::npos);
    EXPECT_NE(log_at_base().find(
                  "Kept archive directory <base>/HOLDS - it still holds report folders or other files.|"),
              std::string::npos);
    EXPECT_EQ(r.out.find(base() + "/HOLDS\n\nThis will"), std::string::npos);
    EXPECT_NE(log().find("#Archives deleted:    1"), std::string::npos);
}

}  // namespace
}  // namespace tv::brackmor::testing
