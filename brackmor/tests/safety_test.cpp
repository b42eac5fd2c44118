// What the check must never do: lose a report the browser keeps, follow a link, write over an
// index it could not read, leave a group without its index, or stop at a fixed count.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>

#include <map>
#include <set>
#include <tuple>

#include "brackmor/folder_tools.h"
#include "brackmor/program.h"
#include "common/generations.h"
#include "common/safe_open.h"
#include "brackmor/tests/brackmor_fixture.h"
#include "testing/test_accounts.h"
#include "tolbex/archive/archive_group.h"

namespace tv::brackmor::testing {
namespace {

using SafetyTest = BrackmorTest;

// Nothing is read, checked or deleted through a link: a linked archive, report folder, index or
// PATIENT.TXT is reported and left as it is, and so is what it points to.
TEST_F(SafetyTest, LinksAreNeverFollowed) {
    const std::string outside = root_.path() + "/outside";
    make({"ARCHDIR.DAT=LINKED|Linked|..|Up|../outside|Out|/tmp|Abs|ARC|Arch|IDX|Indexed|", "arc/OK.OSB/",
          "arc/ARCHINFO.DAT=L.FUL|Linked report|05/03/07 14:30:00|1|Full|OK.OSB|ok|05/03/07 14:30:00|1|Ostrabel|",
          "arc/JUNK.XYZ/.dot", "arc/P.OSB/", "IDX/R.OSB/"});
    fs::create_directories(outside + "/REP.FUL");
    fs::create_directories(outside + "/keep");
    std::ofstream(outside + "/REP.FUL/MAIN.DAT") << "x";
    std::ofstream(outside + "/keep/file") << "x";
    std::ofstream(outside + "/secret.txt") << "V8\r\nx\r\nSecret Name\r\n";
    const std::string outside_index = "REP.FUL\r\nOutside\r\n05/03/07 14:30:00\r\n1\r\nFull\r\n";
    std::ofstream(outside + "/ARCHINFO.DAT") << outside_index;
    fs::create_directory_symlink(outside, at("LINKED"));
    fs::create_directory_symlink(outside, at("UNLISTED"));
    fs::create_directory_symlink(outside + "/REP.FUL", at("arc/L.FUL"));
    fs::create_directory_symlink(outside + "/REP.FUL", at("arc/U.FUL"));
    fs::create_directory_symlink(outside + "/keep", at("arc/JUNK.XYZ/keep"));
    fs::create_symlink(outside + "/secret.txt", at("arc/P.OSB/PATIENT.TXT"));
    fs::create_symlink(outside + "/ARCHINFO.DAT", at("IDX/ARCHINFO.DAT"));
    const RunResult r = check({"/NW", "/DR", "/DA"}, "Y\nY\nY\nY\n");
    EXPECT_EQ(r.code, 4);                  // the linked index could not be checked
    EXPECT_FALSE(exists("arc/JUNK.XYZ"));  // deleted, with the link inside it but not what it points to
    EXPECT_TRUE(fs::exists(outside + "/keep/file"));
    EXPECT_TRUE(fs::exists(outside + "/REP.FUL/MAIN.DAT"));
    EXPECT_TRUE(fs::is_symlink(at("LINKED")) && fs::is_symlink(at("UNLISTED")) && fs::is_symlink(at("arc/U.FUL")));
    EXPECT_EQ(read(outside + "/ARCHINFO.DAT"), replace_all(outside_index, "\r\n", "|"));
    EXPECT_FALSE(fs::exists(outside + "/ARCHINFO.SAV"));
    EXPECT_FALSE(exists("IDX/ARCHINFO.SAV"));
    EXPECT_EQ(read("ARCHDIR.DAT"), "LINKED|Linked|arc|Arch|IDX|Indexed|");
    EXPECT_EQ(mask(read("arc/ARCHINFO.DAT")),
              "L.FUL|Linked report|<date>|1|Full|OK.OSB|ok|<date>|1|Ostrabel|P.OSB|P.OSB: <date>|<date>|0|Ostrabel|");
    for (const std::string& line :
         std::vector<std::string>{"Leaving Linked: LINKED is a link and is not checked.",
                                  base() + "/UNLISTED is a link",
                                  base() + "/arc/L.FUL is a link - its record is left as it is.",
                                  base() + "/arc/U.FUL is a link - it is not recovered.",
                                  base() + "/IDX/ARCHINFO.DAT is a link - this archive is left as it is."})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
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

// What a second account of the group cannot read is never taken for missing or invalid: a group
// folder behind a folder it cannot search, a report folder, and a sub-folder of a folder it
// deletes are named and left as they are, and the run ends with 8.
TEST_F(SafetyTest, WhatThisAccountCannotReadIsNamedAndLeft) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    make({"ARCHDIR.DAT=arc|Arch|", "arc/ARCHINFO.DAT=R.FUL|Private|05/03/07 14:30:00|4|Full|",
          "arc/R.FUL/{MAIN.DAT,PATIENT.DAT,COMBTIME.DAT,COMBFLAG.DAT}", "arc/JUNK.XYZ/gone",
          "arc/JUNK.XYZ/private/secret"});
    fs::create_directories(root_.path() + "/private/g");
    for (const std::string& folder : {root_.path(), root_.tmp(), base(), at("arc"), at("arc/JUNK.XYZ")})
        ASSERT_TRUE(accounts.share(folder));
    for (const std::string& folder : {root_.path() + "/private", at("arc/R.FUL"), at("arc/JUNK.XYZ/private")})
        ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    auto second = [&](const std::vector<std::string>& args) {
        const int code = accounts.run_as(1, [&]() -> bool { ::_exit(run(args, "Y\nY\n").code); });
        return RunResult{code, mask(read(root_.tmp() + "/stdout.txt"))};
    };

    const RunResult hidden = second({root_.path() + "/private/g", "/NW"});
    EXPECT_EQ(hidden.code, kExitUnreadable);
    EXPECT_EQ(hidden.out, "\nThe directory \"" + root_.path() + "/private/g\" cannot be read by this account.\n");

    const RunResult r = second({base(), "/NW", "/DR"});
    EXPECT_EQ(r.code, kExitUnreadable) << r.out;
    EXPECT_NE(r.out.find("The folder \"" + at("arc/R.FUL") + "\" cannot be read by this account"), std::string::npos)
        << r.out;
    EXPECT_EQ(read("arc/ARCHINFO.DAT"), "R.FUL|Private|05/03/07 14:30:00|4|Full|");
    EXPECT_TRUE(exists("arc/R.FUL/MAIN.DAT"));
    // JUNK.XYZ went under a hidden name, and all of it but the sub-folder this account cannot read.
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(at("arc"))) names.insert(e.path().filename().string());
    EXPECT_FALSE(exists("arc/JUNK.XYZ"));
    EXPECT_FALSE(names.count("gone"));
    EXPECT_TRUE(names.count("secret"));
    EXPECT_NE(r.out.find("Unable to delete directory: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/private\n"), std::string::npos) << r.out;
}

// The replacement BRACKMOR makes, in the folder `folder` opened as it opens its archives.
bool replace_in(const std::string& folder, std::string_view name, const std::string& content, bool generations) {
    const platform::UniqueFd dir = open_folder_no_link(folder);
    return dir && replace_with_generations_at(dir.get(), name, content, generations);
}

// A write that fails leaves the old index and its generations as they were.
TEST_F(SafetyTest, FailedWriteKeepsTheOldIndex) {
    make({"ARCHINFO.DAT=old|", "ARCHINFO.SAV=older|"});
    const pid_t pid = platform::testing::fork_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return replace_in(base(), "ARCHINFO.DAT", std::string(100, 'x'), true) ? 1 : 0;
    });
    EXPECT_EQ(platform::testing::wait_child(pid), 0);
    EXPECT_EQ(read("ARCHINFO.DAT"), "old|");
    EXPECT_EQ(read("ARCHINFO.SAV"), "older|");
    EXPECT_EQ(std::distance(fs::directory_iterator(base()), fs::directory_iterator()), 2);
}

// Other accounts of the group rewrite the indexes too: a new index follows the umask, a
// replaced one keeps its mode and group, and the generations keep theirs.
TEST_F(SafetyTest, IndexesStayWritableForTheGroup) {
    const struct { mode_t umask, file; } cases[] = {{002, 0664}, {022, 0644}};
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
        const bool made = replace_in(base() + "/" + folder, "ARCHINFO.DAT", std::string("a|"), true);
        ::chmod(at(folder + "/ARCHINFO.DAT").c_str(), 0660);
        ::chown(at(folder + "/ARCHINFO.DAT").c_str(), static_cast<uid_t>(-1), 4242);
        const bool replaced = replace_in(base() + "/" + folder, "ARCHINFO.DAT", std::string("b|"), true);
        ::umask(old);
        ASSERT_TRUE(made && replaced);
        EXPECT_EQ(read(folder + "/ARCHINFO.DAT"), "b|");
        EXPECT_EQ(stat_of(folder + "/ARCHINFO.DAT").st_mode & 07777, 0660u);
        EXPECT_EQ(stat_of(folder + "/ARCHINFO.DAT").st_gid, 4242u);
        EXPECT_EQ(stat_of(folder + "/ARCHINFO.SAV").st_mode & 07777, 0660u);
        // With none to replace, the umask decides.
        fs::remove(at(folder + "/ARCHINFO.DAT"));
        ::umask(c.umask);
        const bool fresh = replace_in(base() + "/" + folder, "ARCHINFO.DAT", std::string("c|"), false);
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
