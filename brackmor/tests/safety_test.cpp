// What the check must never do: lose a report the browser keeps, follow a link, write over an
// index it could not read, leave a group without its index, or stop at a fixed count.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>

#include <map>
#include <tuple>

#include "brackmor/folder_tools.h"
#include "brackmor/tests/brackmor_fixture.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/store_report.h"

namespace tv::brackmor::testing {
namespace {

using SafetyTest = BrackmorTest;

// Every report as the browser reads the group: name up to case -> what it shows.
using Shown = std::map<std::string, std::tuple<std::string, std::int64_t, std::int32_t, ReportType, bool>>;
Shown shown(const std::string& index) {
    Shown out;
    ArchiveGroup group(index);
    for (int a = 0; a < group.get_count(); ++a)
        for (int i = 0; i < group.get_archive(a)->get_count(); ++i) {
            const ReportRecord* r = group.get_archive(a)->get_record(i);
            out[group.get_archive(a)->get_name() + "/" + BrackmorTest::upper(r->get_name())] = {
                r->get_description(), r->get_time(), r->get_size(), r->get_type(), r->is_confirmed()};
        }
    return out;
}

TEST_F(SafetyTest, GroupFilledByTheBrowserPassesUnchanged) {
    make({"ARCHDIR.DAT=STANDARD|STANDARD|", "STANDARD/", "arch2/"});
    ASSERT_TRUE(append_group_entry(at("ARCHDIR.DAT"), "arch2", "Second"));
    const std::pair<ReportType, const char*> types[] = {{kReportFull, "FUL"},          {kReportPartial, "PRT"},
                                                        {kReportRawEcg, "RAW"},        {kReportOstrabel, "OSB"},
                                                        {kReportOstrabelCf, "CFR"},    {kReportCef, "CEF"},
                                                        {kReportNoske, "NOS"},         {kReportGavrille, "QDS"},
                                                        {kReportFormatted, "IMG"},     {kReportVarUdiri, "RR"},
                                                        {kReportSigned, "SGN"},        {kReportTimiData, "TIM"},
                                                        {kReportTimiSummary, "SUM"},   {kReportFullOstrabel12, "O12"},
                                                        {kReportTimiArrhythmia, "ARR"}};
    int n = 0;
    for (const auto& [type, suffix] : types) {
        for (const char* archive : {"STANDARD", "arch2"}) {
            const std::string source = "src" + std::to_string(++n);
            make({source + "/"});
            for (const auto& f : required_files(suffix)) write(source + "/" + f, "data");
            if (type == kReportFormatted && n % 2) fs::remove(at(source + "/PAGE.2"));  // one page only
            if (type == kReportFormatted) write(source + "/CONFIRM.TXT", "user");
            ASSERT_EQ(store_report_in_archive(at(archive), at(source), "Patient " + std::to_string(n), 1000 + n,
                                              1173105000 + n * 60, type),
                      kStoreOk)
                << suffix;
            fs::remove_all(at(source));
        }
    }
    const Shown before = shown(at("ARCHDIR.DAT"));
    ASSERT_EQ(before.size(), 2 * std::size(types));
    const RunResult r = check({"/NW"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("#Archives added:      0\n#Archives removed:    0\n#Archives deleted:    0\n\n"
                         "#Reports  added:      0\n#Reports  removed:    0\n#Reports  deleted:    0\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(shown(at("ARCHDIR.DAT")), before);
}

TEST_F(SafetyTest, LinksAreNeverFollowed) {
    const std::string outside = root_.path() + "/outside";
    make({"ARCHDIR.DAT=LINKED|Linked|..|Up|../outside|Out|/tmp|Abs|ARC|Arch|", "arc/OK.OSB/",
          "arc/ARCHINFO.DAT=L.FUL|Linked report|05/03/07 14:30:00|1|Full|OK.OSB|ok|05/03/07 14:30:00|1|Ostrabel|",
          "arc/JUNK.XYZ/.dot"});
    fs::create_directories(outside + "/REP.FUL");
    fs::create_directories(outside + "/keep");
    std::ofstream(outside + "/REP.FUL/MAIN.DAT") << "x";
    std::ofstream(outside + "/keep/file") << "x";
    std::ofstream(outside + "/ARCHINFO.DAT") << "REP.FUL\r\nOutside\r\n05/03/07 14:30:00\r\n1\r\nFull\r\n";
    fs::create_directory_symlink(outside, at("LINKED"));
    fs::create_directory_symlink(outside + "/REP.FUL", at("arc/L.FUL"));
    fs::create_directory_symlink(outside + "/keep", at("arc/JUNK.XYZ/keep"));
    const RunResult r = check({"/NW", "/DR", "/DA"}, "Y\nY\nY\nY\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(exists("arc/JUNK.XYZ"));  // deleted, with the link inside it but not what it points to
    EXPECT_TRUE(fs::exists(outside + "/keep/file"));
    EXPECT_TRUE(fs::exists(outside + "/REP.FUL/MAIN.DAT"));
    EXPECT_TRUE(fs::is_symlink(at("LINKED")));
    EXPECT_FALSE(fs::exists(outside + "/ARCHINFO.SAV"));
    EXPECT_EQ(read("ARCHDIR.DAT"), "ARC|Arch|");
}

// An index that is there but cannot be read is reported and left alone, and so is its archive.
TEST_F(SafetyTest, UnreadableIndexIsLeftAsItIs) {
    make({"ARCHDIR.DAT=A|First|B|Second|", "A/ARCHINFO.DAT/", "A/R.OSB/",
          "B/ARCHINFO.DAT=X.OSB|D|05/03/07 14:30:00|1|Ostrabel|", "B/X.OSB/"});
    const RunResult r = check({"/NW", "/EL"});
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(log().find("CANTREADINDEX:" + base() + "/A/ARCHINFO.DAT|"), std::string::npos) << log();
    EXPECT_FALSE(exists("A/ARCHINFO.SAV"));
    EXPECT_TRUE(exists("B/ARCHINFO.SAV"));
    EXPECT_EQ(read("ARCHDIR.DAT"), "A|First|B|Second|");

    fs::remove(at("ARCHDIR.DAT"));
    fs::remove(at("ARCHDIR.SAV"));
    fs::remove(at("B/ARCHINFO.SAV"));
    make({"ARCHDIR.DAT/"});
    EXPECT_EQ(check({"/NW"}).code, 4);
    EXPECT_FALSE(exists("ARCHDIR.SAV"));
    EXPECT_FALSE(exists("B/ARCHINFO.SAV"));
}

// A write that fails leaves the old index and its generations as they were.
TEST_F(SafetyTest, FailedWriteKeepsTheOldIndex) {
    make({"ARCHINFO.DAT=old|", "ARCHINFO.SAV=older|"});
    const pid_t pid = platform::testing::fork_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return replace_with_generations(base(), "ARCHINFO.DAT", std::string(100, 'x'), true) ? 1 : 0;
    });
    EXPECT_EQ(platform::testing::wait_child(pid), 0);
    EXPECT_EQ(read("ARCHINFO.DAT"), "old|");
    EXPECT_EQ(read("ARCHINFO.SAV"), "older|");
    EXPECT_EQ(std::distance(fs::directory_iterator(base()), fs::directory_iterator()), 2);
}

// Other accounts of the group rewrite the indexes too: a new index follows the umask, a
// replaced one keeps its mode and group, and the generations keep theirs.
TEST_F(SafetyTest, IndexesStayWritableForTheGroup) {
    const struct {
        mode_t umask, file;
    } cases[] = {{002, 0664}, {022, 0644}};
    auto stat_of = [&](const std::string& rel) {
        struct stat st {};
        ::lstat(at(rel).c_str(), &st);
        return st;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.umask);
        const std::string folder = "u" + std::to_string(c.umask);
        make({folder + "/"});
        const mode_t old = ::umask(c.umask);
        const bool made = replace_with_generations(base() + "/" + folder, "ARCHINFO.DAT", std::string("a|"), true);
        ::chmod(at(folder + "/ARCHINFO.DAT").c_str(), 0660);
        ::chown(at(folder + "/ARCHINFO.DAT").c_str(), static_cast<uid_t>(-1), 4242);
        const bool replaced = replace_with_generations(base() + "/" + folder, "ARCHINFO.DAT", std::string("b|"), true);
        ::umask(old);
        ASSERT_TRUE(made && replaced);
        EXPECT_EQ(read(folder + "/ARCHINFO.DAT"), "b|");
        EXPECT_EQ(stat_of(folder + "/ARCHINFO.DAT").st_mode & 07777, 0660u);
        EXPECT_EQ(stat_of(folder + "/ARCHINFO.DAT").st_gid, 4242u);
        EXPECT_EQ(stat_of(folder + "/ARCHINFO.SAV").st_mode & 07777, 0660u);
        // With none to replace, the umask decides.
        fs::remove(at(folder + "/ARCHINFO.DAT"));
        ::umask(c.umask);
        const bool fresh = replace_with_generations(base() + "/" + folder, "ARCHINFO.DAT", std::string("c|"), false);
        ::umask(old);
        ASSERT_TRUE(fresh);
        EXPECT_EQ(stat_of(folder + "/ARCHINFO.DAT").st_mode & 07777, c.file);
    }
}

TEST_F(SafetyTest, NoFixedLimits) {
    // Appended, not "A" + to_string(): gcc 12 at -O3 takes the string insert for an overlapping copy.
    auto numbered = [](const char* prefix, int n) { return std::string(prefix).append(std::to_string(n)); };
    std::string archdir = "A0|Archive 0|", archinfo;
    for (int a = 1; a < 45; ++a) {
        archdir.append(numbered("A", a)).append(numbered("|Archive ", a)).append("|");
        make({numbered("A", a) + "/ARCHINFO.DAT=R.OSB|r|05/03/07 14:30:00|1|Ostrabel|", numbered("A", a) + "/R.OSB/"});
    }
    // Enough report folders that they are listed side by side.
    for (int i = 0; i < 20005; ++i) {
        const std::string name = numbered("R", i % 300) + ".OSB";
        archinfo += name + "|r" + std::to_string(i) + "|05/03/07 14:30:00|1|Ostrabel|";
        if (i < 300) make({"A0/" + name + "/"});
    }
    make({"ARCHDIR.DAT=" + archdir, "A0/ARCHINFO.DAT=" + archinfo});
    EXPECT_EQ(check({"/NW"}).code, 0);
    EXPECT_EQ(read("ARCHDIR.DAT").size(), archdir.size());
    EXPECT_EQ(read("A0/ARCHINFO.DAT").size(), archinfo.size());
}

// On a terminal the answer is one key without echo, and the terminal's mode comes back, also
// when the program is ended while it waits.
TEST_F(SafetyTest, TerminalKeyWithoutEcho) {
    fs::create_directories(base());
    for (const bool interrupt : {false, true}) {
        fs::remove(at("ARCHDIR.DAT"));
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::chdir(root_.path().c_str()) != 0) ::_exit(126);
            ::execl(BRACKMOR_PROGRAM, BRACKMOR_PROGRAM, base().c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::string screen;
        auto read_until = [&](const std::string& text) {
            char buf[256];
            for (int i = 0; i < 200 && screen.find(text) == std::string::npos; ++i) {
                struct pollfd p = {master, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0) {
                    const ssize_t n = ::read(master, buf, sizeof buf);
                    if (n <= 0) break;
                    screen.append(buf, static_cast<std::size_t>(n));
                }
            }
        };
        read_until("(Y/N)? ");
        struct termios mode {};
        for (int i = 0; i < 100 && ::tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO); ++i) ::usleep(10000);
        EXPECT_EQ(mode.c_lflag & ECHO, 0u);
        if (interrupt) {
            ::kill(pid, SIGTERM);
            EXPECT_EQ(platform::testing::wait_child(pid), -1000 - SIGTERM);
        } else {
            ASSERT_EQ(::write(master, "y", 1), 1);
            read_until("BRACKMOR.SAV");
            EXPECT_EQ(platform::testing::wait_child(pid), 0);
            EXPECT_EQ(screen.find("? y"), std::string::npos);
        }
        ::tcgetattr(master, &mode);
        EXPECT_NE(mode.c_lflag & ECHO, 0u) << interrupt;
        EXPECT_NE(mode.c_lflag & ICANON, 0u) << interrupt;
        ::close(master);
    }
}

}  // namespace
}  // namespace tv::brackmor::testing
