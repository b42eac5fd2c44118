// The command line, the questions, the exit codes and the log's generations.
#include "brackmor/tests/brackmor_fixture.h"

namespace tv::brackmor::testing {
namespace {

const char* const kUsage =
    "\nBRACKMOR version 3.35, compiled on <build>\n\n"
    "BRACKMOR validates and repairs the Quorril archive structure.\n\n"
    "Usage: BRACKMOR <base archive dir> [/RE] [/AE] [/DR] [/DA] [/NW] [/RN]\n\n"
    "/RE: Remove empty archive directories from the ARCHDIR.DAT file.\n"
    "/AE: Add empty archive directories to the ARCHDIR.DAT file.\n"
    "/RN: Replace report names with patient names from PATIENT.TXT.\n"
    "/DR: Physically delete any invalid report  directories.\n"
    "/DA: Physically delete any invalid archive directories - USE WITH CARE!\n"
    "/NW: Stops any warnings about deleting directories. Danger!\n\n"
    "<base archive dir> is the name of a folder that contains an ARCHDIR.DAT file.\n\n"
    "Note: /DA implies /RE, and /RE and /AE are mutually exclusive.\n\n";

using CommandLineTest = BrackmorTest;

TEST_F(CommandLineTest, UsageAndBadArguments) {
    EXPECT_EQ(run({}).out, kUsage);
    EXPECT_EQ(run({}).code, 1);
    const RunResult eight = run({base(), "/NW", "/NW", "/NW", "/NW", "/NW", "/NW", "/NW"});
    EXPECT_EQ(eight.code, 1);
    EXPECT_EQ(eight.out, kUsage);
    const RunResult bad = run({base(), "/NW", "/xx"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.out, "\nBad command line argument: /XX\n");
    const RunResult missing = run({root_.path() + "/nothere"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.out, "\nThe directory \"" + root_.path() + "/nothere\" does not exist.\n");
    EXPECT_FALSE(fs::exists(root_.path() + "/BRACKMOR.LOG"));
}

// The questions before the run: anything but Y, end of input included, ends it with 3 and no log.
TEST_F(CommandLineTest, QuestionsBeforeTheRun) {
    struct Case {
        std::vector<std::string> options;
        std::string input;
        int code;
    };
    const Case cases[] = {
        {{}, "N\n", 3},          {{}, "", 3},       {{}, "y\n", 0},         {{"/NW"}, "", 0},
        {{"/DA", "/NW"}, "", 0}, {{"/re"}, "Y", 0}, {{"/DA"}, "Y\nN\n", 3}, {{"/DA"}, "Y\nY\n", 0},
    };
    for (const Case& c : cases) {
        fs::remove_all(base());
        fs::remove(root_.path() + "/BRACKMOR.LOG");
        fs::create_directories(base());
        const RunResult r = check(c.options, c.input);
        EXPECT_EQ(r.code, c.code) << c.input << r.out;
        EXPECT_EQ(fs::exists(root_.path() + "/BRACKMOR.LOG"), c.code == 0) << c.input;
        const bool warnings = std::find(c.options.begin(), c.options.end(), "/NW") == c.options.end();
        EXPECT_EQ(r.out.find("\nThere is no ARCHDIR.DAT file in the specified archive directory.\n"
                             "Do you want to continue (Y/N)? ") != std::string::npos,
                  warnings);
    }
}

TEST_F(CommandLineTest, TrailingSlashAndOptionLines) {
    make({"ARCHDIR.DAT="});
    EXPECT_EQ(run({base() + "/", "/RN", "/DR", "/AE", "/DA", "/NW"}).code, 0);
    EXPECT_EQ(log(),
              "BRACKMOR V3.35: Archive validation results, dated: <date>||"
              "Physically deleting invalid reports.|Physically deleting empty archives.|"
              "Removing empty archives from \"ARCHDIR.DAT\".|"
              "Making report names the same as the patient's name in \"PATIENT.TXT\".||"
              "Changing report names to be the same as the patient's names...|"
              "Finished changing report names to be the same as the patient's names.||"
              "#Archives added:      0|#Archives removed:    0|#Archives deleted:    0||"
              "#Reports  added:      0|#Reports  removed:    0|#Reports  deleted:    0||");
}

// The last of /DA, /RE and /AE decides: an empty unlisted NEW stays listed only with add-empty.
TEST_F(CommandLineTest, OptionOrder) {
    struct Case {
        std::vector<std::string> options;
        std::string archdir;
        bool new_left;
    };
    const Case cases[] = {
        {{"/DA", "/AE"}, "NEW|NEW|", true},
        {{"/AE", "/DA"}, "", false},
        {{"/AE", "/RE"}, "", true},
        {{}, "", true},
    };
    for (const Case& c : cases) {
        fs::remove_all(base());
        make({"ARCHDIR.DAT=", "NEW/"});
        auto options = c.options;
        options.push_back("/NW");
        EXPECT_EQ(check(options, "Y\n").code, 0);
        EXPECT_EQ(read("ARCHDIR.DAT"), c.archdir) << c.options[0];
        EXPECT_EQ(exists("NEW"), c.new_left);
    }
}

// Five runs keep four logs and three older indexes, each holding the run before it.
TEST_F(CommandLineTest, FiveRunsOfGenerations) {
    make({"ARCHDIR.DAT=A|First|", "A/X.OSB/", "A/ARCHINFO.DAT=X.OSB|RunResult 0|05/03/07 14:30:00|0|Ostrabel|"});
    for (int i = 1; i <= 5; ++i) {
        write("A/ARCHINFO.DAT", "X.OSB\r\nRun " + std::to_string(i) + "\r\n05/03/07 14:30:00\r\n0\r\nOstrabel\r\n");
        write("ARCHDIR.DAT", "A\r\nRun " + std::to_string(i) + "\r\n");
        EXPECT_EQ(check({"/NW", i % 2 ? "/EL" : "/RE"}).code, 0);
    }
    std::vector<std::string> logs;
    for (const auto& e : fs::directory_iterator(root_.path()))
        if (e.path().filename().string().rfind("BRACKMOR", 0) == 0) logs.push_back(e.path().filename());
    std::sort(logs.begin(), logs.end());
    EXPECT_EQ(logs, (std::vector<std::string>{"BRACKMOR.1.SAV", "BRACKMOR.2.SAV", "BRACKMOR.LOG", "BRACKMOR.SAV"}));
    EXPECT_EQ(log().find("BRACKMOR V3.35"), std::string::npos);  // run 5: tagged, no header
    EXPECT_EQ(log("BRACKMOR.SAV").find("BRACKMOR V3.35"), 0u);
    EXPECT_NE(log("BRACKMOR.2.SAV").find("Removing empty"), std::string::npos);  // run 2
    const std::pair<const char*, int> generations[] = {{"DAT", 5}, {"SAV", 5}, {"1.SAV", 4}, {"2.SAV", 3}};
    for (const auto& [suffix, run_no] : generations) {
        EXPECT_EQ(read(std::string("ARCHDIR.") + suffix), "A|Run " + std::to_string(run_no) + "|") << suffix;
        EXPECT_EQ(read(std::string("A/ARCHINFO.") + suffix).substr(0, 12), "X.OSB|Run " + std::to_string(run_no) + "|")
            << suffix;
    }
    EXPECT_FALSE(exists("ARCHDIR.3.SAV"));
}

}  // namespace
}  // namespace tv::brackmor::testing
