// Reading, recovering and renaming the reports of one archive (the archive folder is "arc" on
// disk and "ARC" in ARCHDIR.DAT throughout).
#include <sys/time.h>

#include "brackmor/tests/brackmor_fixture.h"
#include "platform/fs.h"

namespace tv::brackmor::testing {
namespace {

class ReportCheckTest : public BrackmorTest {
protected:
    // Runs the check on a fresh group holding one archive.
    RunResult check_archive(const std::vector<std::string>& tree, const std::string& archinfo,
                            std::vector<std::string> options = {}, const std::string& input = "") {
        fs::remove_all(base());
        make({"ARCHDIR.DAT=ARC|Arch|", "arc/"});
        make(tree);
        if (!archinfo.empty()) make({"arc/ARCHINFO.DAT=" + archinfo});
        options.push_back("/NW");
        return check(options, input);
    }
    int removed(const RunResult& r) const {
        const auto p = r.out.find("#Reports  removed: ");
        return p == std::string::npos ? -1 : std::stoi(r.out.substr(p + 19, 4));
    }
};

TEST_F(ReportCheckTest, ReadingTheIndex) {
    const std::string d300(300, 'd');
    struct Case {
        const char* what;
        std::vector<std::string> tree;
        std::string archinfo, expected;
        int removed;
        bool asked = false;
    };
    // A dropped record whose folder is still there comes back in recovery, named after the folder.
    const std::string recovered = "X.OSB|X.OSB: <date>|<date>|0|Ostrabel|";
    const Case cases[] = {
        {"CR, trailing blanks and a C without CONFIRM.TXT",
         {"arc/x.osb/"},
         "x.osb  \t|Desc  |05/03/07 14:30:00 |77C |Ostrabel |",
         "x.osb|Desc|<date>|77|Ostrabel|",
         0},
        {"description of blanks",
         {"arc/X.OSB/"},
         "X.OSB|  \t|05/03/07 14:30:00|1|Ostrabel|",
         "X.OSB|<Blank Name>|<date>|1|Ostrabel|",
         0},
        {"no description line",
         {"arc/X.OSB/"},
         "X.OSB|05/03/07 14:30:00|1|Ostrabel|",
         "X.OSB|<Blank Name>|<date>|1|Ostrabel|",
         0},
        {"whole long lines",
         {"arc/X.OSB/"},
         "X.OSB|" + d300 + "|05/03/07 14:30:00|1|Ostrabel|",
         "X.OSB|" + d300 + "|<date>|1|Ostrabel|",
         0},
        {"the browser's types, their type names as read",
         {"arc/A.SGN/signed.dat", "arc/B.O12/", "arc/C.O12/", "arc/D.RR/", "arc/E.CFR/{ECG.DAT,CONFIG.DAT}",
          "arc/F.IMG/{SUMMARY.TXT,PAGE.0,PAGE.1}", "arc/G.IMG/{SUMMARY.TXT,PAGE.0,CONFIRM.TXT}",
          "arc/H.FUL/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,COMBFLAG.DAT}", "arc/I.CEF/{CEFDESC.TXT,RAWECG1.DAT}",
          "arc/J.CFR/{RAWECG1.DAT,PATIENT.TXT}", "arc/K.CFR/{os12ecg1.dat,os12pac.dat}",
          "arc/L.CEF/{CEFDESC.TXT,os12ecg1.dat}"},
         "A.SGN|a|Mon Mar 05 14:30:00 2007|1|Signed Report|B.O12|b|Mon Mar 05 14:30:00 2007|2|Full Ostrabel12|"
         "C.O12|c|Mon Mar 05 14:30:00 2007|3|Full Ostrabel 12|D.RR|d|Mon Mar 05 14:30:00 2007|4|VAR Udiri|"
         "E.CFR|e|Mon Mar 05 14:30:00 2007|5|Ostrabel CF|F.IMG|f|Mon Mar 05 14:30:00 2007|6|Formatted|"
         "G.IMG|g|Mon Mar 05 14:30:00 2007|7|Formatted|H.FUL|h|Mon Mar 05 14:30:00 2007|8|Full|"
         "I.CEF|i|05/03/07 14:30|9|CEF|J.CFR|j|05/03/07 14:30:00|10|Formated|K.CFR|k|05/03/07 14:30:00|11|x|"
         "L.CEF|l|05/03/07 14:30:00|12|CEF|",
         "A.SGN|a|Mon Mar 05 14:30:00 2007|1|Signed Report|B.O12|b|Mon Mar 05 14:30:00 2007|2|Full Ostrabel12|"
         "C.O12|c|Mon Mar 05 14:30:00 2007|3|Full Ostrabel 12|D.RR|d|Mon Mar 05 14:30:00 2007|4|VAR Udiri|"
         "E.CFR|e|Mon Mar 05 14:30:00 2007|5|Ostrabel CF|F.IMG|f|Mon Mar 05 14:30:00 2007|6|Formatted|"
         "G.IMG|g|Mon Mar 05 14:30:00 2007|7C|Formatted|H.FUL|h|Mon Mar 05 14:30:00 2007|8|Full|"
         "I.CEF|i|05/03/07 14:30|9|CEF|J.CFR|j|<date>|10|Formated|K.CFR|k|<date>|11|x|L.CEF|l|<date>|12|CEF|",
         0},
        {"a type name the browser does not know",
         {"arc/X.OSB/"},
         "X.OSB|D|05/03/07 14:30:00|1|Nonsense|",
         "X.OSB|D|<date>|1|Nonsense|",
         0},
        {"the type is the folder's, whatever the type name says",
         {"arc/X.PRT/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,COMBFLAG.DAT}"},
         "X.PRT|D|05/03/07 14:30:00|1|Full|",
         "X.PRT|D|<date>|1|Full|",
         0},
        {"date not recognised", {"arc/X.OSB/"}, "X.OSB|D|yesterday|1|Ostrabel|", recovered, 1},
        {"size line missing: the next record's name is no type name",
         {"arc/A.OSB/", "arc/B.OSB/"},
         "A.OSB|a|05/03/07 14:30:00|Ostrabel|B.OSB|b|05/03/07 14:30:00|2|Ostrabel|",
         "B.OSB|b|<date>|2|Ostrabel|A.OSB|A.OSB: <date>|<date>|0|Ostrabel|",
         1},
        {"type-name line missing",
         {"arc/A.OSB/", "arc/B.OSB/"},
         "A.OSB|a|05/03/07 14:30:00|1|B.OSB|b|05/03/07 14:30:00|2|Ostrabel|",
         "B.OSB|b|<date>|2|Ostrabel|A.OSB|A.OSB: <date>|<date>|0|Ostrabel|",
         1},
        {"folder gone, no files required", {}, "Y.OSB|D|05/03/07 14:30:00|1|Ostrabel|", "(none)", 1},
        {"stray lines cost no report",
         {"arc/X.OSB/"},
         "STRAY|X.OSB|D|05/03/07 14:30:00|1|Ostrabel|ALSO|STRAY|",
         "X.OSB|D|<date>|1|Ostrabel|",
         0},
        {"a record in step after a stray line is counted and deleted",
         {"arc/L.FUL/MAIN.DAT"},
         "STRAY|L.FUL|Lost|05/03/07 14:30:00|1|Full|",
         "(none)",
         1,
         true},
        {"suffix after the first dot",
         {"arc/X.FUL.OSB/"},
         "X.FUL.OSB|D|05/03/07 14:30:00|1|Ostrabel|",
         "(none)",
         1,
         true},
    };
    for (const Case& c : cases) {
        const RunResult r = check_archive(c.tree, c.archinfo, {"/DR"}, "Y\nY\nY\n");
        EXPECT_EQ(r.code, 0) << c.what;
        EXPECT_EQ(mask(read("arc/ARCHINFO.DAT")), c.expected) << c.what;
        EXPECT_EQ(removed(r), c.removed) << c.what;
        EXPECT_EQ(r.out.find("Confirm Folder Deletion") != std::string::npos, c.asked) << c.what;
    }
    EXPECT_FALSE(exists("arc/X.FUL.OSB"));  // no known suffix: deleted on Y in recovery
    EXPECT_NE(log().find("Deleted report directory: "), std::string::npos);
}

// Names that would leave the archive folder are invalid and never deleted.
TEST_F(ReportCheckTest, HostileNamesAreNeverFollowed) {
    make({"victim.FUL/MAIN.DAT"});  // beside the group folder: g/../victim.FUL is root/victim.FUL
    fs::rename(at("victim.FUL"), root_.path() + "/victim.FUL");
    const RunResult r =
        check_archive({},
                      "../../victim.FUL|a|05/03/07 14:30:00|1|Full|..\\..\\victim.FUL|b|05/03/07 14:30:00|1|Full|"
                      "C:victim.FUL|c|05/03/07 14:30:00|1|Full|..|d|05/03/07 14:30:00|1|Full|",
                      {"/DR"}, "Y\nY\nY\nY\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(fs::exists(root_.path() + "/victim.FUL/MAIN.DAT"));
    EXPECT_EQ(r.out.find("Confirm Folder Deletion"), std::string::npos);
    EXPECT_EQ(read("arc/ARCHINFO.DAT"), "(none)");
}

// A size line is read as the browser reads it: white space of every kind before the number.
TEST_F(ReportCheckTest, ASizeLineWithAVerticalTabIsKeptAsRead) {
    const RunResult r = check_archive({"arc/K.OSB/"}, "K.OSB|Kept|05/03/07 14:30:00|\v12|Ostrabel|");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(removed(r), 0);
    EXPECT_EQ(read("arc/ARCHINFO.DAT"), "K.OSB|Kept|05/03/07 14:30:00|\v12|Ostrabel|");
}

TEST_F(ReportCheckTest, RecoveringUnlistedFolders) {
    const std::string name70(70, 'n');
    struct Case {
        const char* what;
        std::vector<std::string> tree;
        std::string expected;
    };
    const Case cases[] = {
        {"PATIENT.TXT's third line", {"arc/R.OSB/patient.txt=V8.0|||x|Jones Peter  |"}, "R.OSB|Jones Peter|"},
        {"at most 63 characters",
         {"arc/R.OSB/PATIENT.TXT=V8.0|x|" + name70 + "|"},
         "R.OSB|" + name70.substr(0, 63) + "|"},
        {"TIMI data", {"arc/R.TIM/DATA.TIMI=head|Patient ID #:  P123|"}, "R.TIM|Patient P123|"},
        {"TIMI summary", {"arc/R.SUM/TIMI_SUMMARY.TXT=a|b|Patient ID:    S9|"}, "R.SUM|Patient S9|"},
        {"TIMI arrhythmia", {"arc/R.ARR/TIMI_ARRH.TXT=a|b|Patient ID:   A7|"}, "R.ARR|Patient A7|"},
        {"a short line", {"arc/R.TIM/DATA.TIMI=head|short|"}, "R.TIM|Patient |"},
        {"no name: folder and time", {"arc/R.SGN/signed.dat"}, "R.SGN|R.SGN: <date>|"},
        {"12-lead", {"arc/R.O12/"}, "R.O12|R.O12: <date>|"},
        {"VAR Udiri", {"arc/r.rr/"}, "r.rr|r.rr: <date>|"},
        {"mixed case, listed as on disk",
         {"arc/BB26B9c5.FUL/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,COMBFLAG.DAT}"},
         "BB26B9c5.FUL|BB26B9c5.FUL: <date>|"},
    };
    for (const Case& c : cases) {
        const RunResult r = check_archive(c.tree, "");
        EXPECT_EQ(r.code, 0) << c.what;
        const std::string index = mask(read("arc/ARCHINFO.DAT"));
        EXPECT_EQ(index.substr(0, c.expected.size()), c.expected) << c.what << "\n" << index;
        EXPECT_NE(r.out.find("#Reports  added:      1"), std::string::npos) << c.what;
    }
}

// Date from the folder's time, size of its regular files only, CONFIRM.TXT gives the C.
TEST_F(ReportCheckTest, RecoveredRecordFromTheFolder) {
    make(
        {"ARCHDIR.DAT=ARC|Arch|", "arc/J.CEF/A.CEF=12345", "arc/J.CEF/CONFIRM.TXT=ab", "arc/J.CEF/SUB/BIG=xxxxxxxxxx"});
    const struct timeval times[2] = {{1173105000, 0}, {1173105000, 0}};  // 05/03/07 14:30:00 UTC
    ASSERT_EQ(::utimes(at("arc/J.CEF").c_str(), times), 0);
    EXPECT_EQ(check({"/NW"}).code, 0);
    EXPECT_EQ(read("arc/ARCHINFO.DAT"),
              "J.CEF|J.CEF: " + read("arc/ARCHINFO.DAT").substr(13, 17) + "|05/03/07 14:30:00|7C|CEF|");
}

TEST_F(ReportCheckTest, UnrecoverableFolderDeletedOnlyOnYes) {
    for (const char* answer : {"N", "", "y"}) {
        check_archive({"arc/JONES.XYZ/.dot", "arc/JONES/x"}, "", {"/DR"}, "N\n" + std::string(answer) + "\n");
        EXPECT_EQ(exists("arc/JONES.XYZ"), *answer != 'y') << answer;
        EXPECT_TRUE(exists("arc/JONES/x"));  // asked first, answered N
    }
    EXPECT_NE(log().find("Deleted report directory: " + base() + "/arc/JONES.XYZ"), std::string::npos);
}

// A hidden folder that taking the lock could not settle is named for the operator, once on the
// console and once in the log, and never offered, even with /DR and every answer Y: a group
// member may have renamed a report so. One whose owner still holds its change record locked
// (another machine's store) is not named.
TEST_F(ReportCheckTest, LeftoversOfInterruptedStoresAndDeletions) {
    const std::vector<std::string> named = {"arc/.TVNEW.77.0.1a2b/", "arc/.TVDEL.78.1.1a2c/x"};
    const std::vector<std::string> kept = {"arc/.TVNEW.79.0.1a2d/", "arc/.other/", "arc/.TVDEL/",
                                           "arc/.TVNEW.80-1-deadbeef.0/", "arc/.TVREC.80-1-deadbeef.0"};
    std::vector<std::string> tree = named;
    tree.insert(tree.end(), kept.begin(), kept.end());
    fs::remove_all(base());
    make({"ARCHDIR.DAT=ARC|Arch|", "arc/"});
    make(tree);
    const struct timeval times[2] = {{std::time(nullptr) - 2 * 86400, 0}, {std::time(nullptr) - 2 * 86400, 0}};
    for (const char* name : {".TVNEW.77.0.1a2b", ".TVDEL.78.1.1a2c", ".other", ".TVDEL", ".TVNEW.80-1-deadbeef.0"})
        ASSERT_EQ(::utimes(at(std::string("arc/") + name).c_str(), times), 0);
    write("arc/.TVREC.80-1-deadbeef.0", "operation\nstore\n");
    platform::FileLock live;
    ASSERT_TRUE(live.lock(at("arc/.TVREC.80-1-deadbeef.0"), true, false));
    // Renaming reports and dropping empty archives take the archive's lock twice more.
    const RunResult r = check({"/NW", "/DR", "/RN", "/RE"}, "Y\nY\nY\nY\n");
    EXPECT_EQ(r.code, 0);
    for (const auto& stays : named) EXPECT_TRUE(exists(stays)) << stays;
    for (const auto& stays : kept) EXPECT_TRUE(exists(stays)) << stays;
    auto count = [](const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    for (const char* name : {".TVNEW.77.0.1a2b", ".TVDEL.78.1.1a2c"}) {
        EXPECT_NE(r.out.find(base() + "/arc/" + name + " is hidden and was left by an interrupted change or renamed"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(count(r.out, name), 1) << r.out;
        EXPECT_EQ(count(log(), name), 1) << log();
    }
    EXPECT_EQ(r.out.find("Confirm Folder Deletion"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(".TVNEW.80-1-deadbeef.0 is hidden"), std::string::npos) << r.out;
}

TEST_F(ReportCheckTest, RenamingAfterPatients) {
    check_archive({"arc/A.OSB/PATIENT.TXT=V8|x|New Name|", "arc/B.OSB/PATIENT.TXT=V8|x|Bo|", "arc/C.OSB/"},
                  "A.OSB|Old|05/03/07 14:30:00|1|Ostrabel|B.OSB|Keep|05/03/07 14:30:00|1|Ostrabel|"
                  "C.OSB|Also kept|05/03/07 14:30:00|1|Ostrabel|",
                  {"/RN", "/EL"});
    EXPECT_EQ(read("arc/ARCHINFO.DAT"),
              "A.OSB|New Name|05/03/07 14:30:00|1|Ostrabel|"
              "B.OSB|Keep|05/03/07 14:30:00|1|Ostrabel|"
              "C.OSB|Also kept|05/03/07 14:30:00|1|Ostrabel|");
    EXPECT_EQ(read("arc/ARCHINFO.SAV").substr(0, 10), "A.OSB|Old|");
    EXPECT_FALSE(exists("arc/ARCHINFO.1.SAV"));
    EXPECT_NE(log().find("Making report names the same as the patient's name in \"PATIENT.TXT\".||"
                         "Changing report names to be the same as the patient's names...|...In archive Arch|"
                         "Changing report name from \"Old\" to \"New Name\"|"
                         "Finished changing report names to be the same as the patient's names.||#ARCHIVESADDED:0|"),
              std::string::npos)
        << log();
}

}  // namespace
}  // namespace tv::brackmor::testing
