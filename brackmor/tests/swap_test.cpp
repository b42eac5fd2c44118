// A colleague of the group swaps a folder for a link while the check waits at its deletion
// question: whatever the answer, nothing outside the group is deleted, written or created, and
// the swap is named with its own exit code.
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "brackmor/program.h"
#include "brackmor/tests/brackmor_fixture.h"
#include "testing/test_accounts.h"

namespace tv::brackmor::testing {
namespace {

using SwapTest = BrackmorTest;

// Every entry under `folder` with its kind, mode, owner and size, and every file's sha256.
std::string tree_digest(const std::string& folder) {
    const std::string command =
        "cd '" + folder +
        "' && find . -printf '%p %y %m %u %s\\n' | sort && find . -type f -exec sha256sum {} + | "
        "sort";
    std::string out;
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, got);
        ::pclose(p);
    }
    return out;
}

TEST_F(SwapTest, AFolderSwappedForALinkWhileTheQuestionIsOpen) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    // The operator's private folder holds what the group's names would lead to.
    const std::string home = root_.path() + "/home";
    struct Case {
        const char* swapped;  // below the group folder; "" the group folder itself
        const char* target;   // below the operator's folder
    };
    for (const Case& c : {Case{"", ""}, Case{"ZARC", "Documents"}, Case{"AARC/Work", "Documents/Work"}}) {
        SCOPED_TRACE(std::string("swapped: ") + (*c.swapped ? c.swapped : "the group folder"));
        fs::remove_all(base());
        fs::remove_all(home);
        fs::remove_all(base() + ".away");
        make({"ARCHDIR.DAT=AARC|First|ZARC|Docs|", "AARC/Work/notes.txt=unlisted",
              "AARC/ARCHINFO.DAT=K.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|", "AARC/K.OSB/", "ZARC/Work/x",
              "ZARC/ARCHINFO.DAT=L.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|", "ZARC/L.OSB/"});
        for (const std::string& f : {root_.path(), base(), at("AARC"), at("AARC/Work"), at("ZARC"), at("ZARC/Work")})
            ASSERT_TRUE(accounts.share(f));
        for (const std::string f : {"", "/AARC", "/AARC/Work", "/Documents", "/Documents/Work"}) {
            fs::create_directories(home + f);
            std::ofstream(home + f + "/own.txt") << "the operator's own" << f;
            ASSERT_EQ(::chown((home + f).c_str(), accounts.uid(0), accounts.gid()), 0);
            ASSERT_EQ(::chown((home + f + "/own.txt").c_str(), accounts.uid(0), accounts.gid()), 0);
        }
        ASSERT_EQ(::chmod(home.c_str(), 0700), 0);
        const std::string run_folder = root_.path() + "/run";
        fs::create_directories(run_folder);
        ASSERT_EQ(::chown(run_folder.c_str(), accounts.uid(0), accounts.gid()), 0);
        const std::string before = tree_digest(home);

        Dialogue run(run_folder, {base(), "/DR", "/NW"}, [&] {
            const gid_t gid = accounts.gid();
            if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(accounts.uid(0)) != 0) ::_exit(125);
            ::umask(002);
        });
        ASSERT_TRUE(run.wait_for(at("AARC/Work") + "\n\nThis will permanantly")) << run.out();
        const std::string swapped = *c.swapped ? at(c.swapped) : base();
        ASSERT_EQ(accounts.run_as(1,
                                  [&] {
                                      return ::rename(swapped.c_str(), (swapped + ".away").c_str()) == 0 &&
                                             ::symlink((home + "/" + c.target).c_str(), swapped.c_str()) == 0;
                                  }),
                  0);
        run.answer("Y\nY\nY\n");
        EXPECT_EQ(run.finish(), kExitReplaced) << run.out();
        EXPECT_EQ(tree_digest(home), before) << run.out();
        EXPECT_NE(run.out().find("was replaced by a link while it was checked"), std::string::npos) << run.out();
        EXPECT_EQ(run.out().find("another program is changing"), std::string::npos) << run.out();
        // What was judged inside the group went, through the folders opened when it was judged.
        const std::string group = *c.swapped ? base() : base() + ".away";
        EXPECT_EQ(fs::exists(group + "/AARC/Work"), std::string(c.swapped) == "AARC/Work") << run.out();
        EXPECT_TRUE(fs::exists(group + "/AARC/K.OSB")) << run.out();
    }
}

// The group folder swapped for a link to the operator's folder, which holds indexes and
// generations of the same names, while the index files are being replaced: stopped at each
// flush of the check, the swap changes nothing outside the group.
TEST_F(SwapTest, TheGroupSwappedWhileItsIndexesAreReplaced) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is needed";
    const std::string home = root_.path() + "/home", run_folder = root_.path() + "/run";
    int stops = 0;
    for (int n = 1;; ++n) {
        ASSERT_LT(n, 50);
        SCOPED_TRACE("stopped at fsync #" + std::to_string(n));
        for (const std::string& f : {base(), base() + ".away", home, run_folder}) fs::remove_all(f);
        make({"ARCHDIR.DAT=ARC|Arch|", "arc/ARCHINFO.DAT=K.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|", "arc/K.OSB/",
              "arc/ARCHINFO.SAV=old", "ARCHDIR.SAV=old"});
        for (const std::string& f : {root_.path(), base(), at("arc")}) ASSERT_TRUE(accounts.share(f));
        for (const std::string f : {"", "/arc"}) {
            fs::create_directories(home + f);
            for (const char* name : {"ARCHDIR.DAT", "ARCHDIR.SAV", "ARCHDIR.1.SAV", "ARCHINFO.DAT", "ARCHINFO.SAV"})
                std::ofstream(home + f + "/" + name) << "the operator's own " << name;
        }
        for (const auto& e : fs::recursive_directory_iterator(home))
            ASSERT_EQ(::chown(e.path().c_str(), accounts.uid(0), accounts.gid()), 0);
        ASSERT_EQ(::chown(home.c_str(), accounts.uid(0), accounts.gid()), 0);
        fs::create_directories(run_folder);
        ASSERT_EQ(::chown(run_folder.c_str(), accounts.uid(0), accounts.gid()), 0);
        const std::string before = tree_digest(home);

        const pid_t child = ::fork();
        if (child == 0) {
            const gid_t gid = accounts.gid();
            if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(accounts.uid(0)) != 0) ::_exit(125);
            ::umask(002);
            if (::chdir(run_folder.c_str()) != 0) ::_exit(126);
            ::setenv("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1", 1);  // no leak check under a tracer
            std::freopen("/dev/null", "r", stdin);
            std::freopen("/dev/null", "w", stdout);
            const std::string inject = "inject=fsync:signal=STOP:when=" + std::to_string(n);
            std::vector<std::string> args = {
                "/usr/bin/strace", "-f",   "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e", inject, "--",
                BRACKMOR_PROGRAM,  base(), "/NW"};
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        int status = 0;
        bool ended = false;
        pid_t stopped = 0;
        // Stopped by the signal, not for a moment at a traced call: still stopped 100 ms on.
        auto stopped_for_good = [&] {
            const pid_t pid = testing_root::stopped_process(run_folder, BRACKMOR_PROGRAM);
            for (int i = 0; pid && i < 20; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (testing_root::stopped_process(run_folder, BRACKMOR_PROGRAM) != pid) return pid_t{0};
            }
            return pid;
        };
        while (!(ended = ::waitpid(child, &status, WNOHANG) == child) && !(stopped = stopped_for_good()))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (stopped) {
            ++stops;
            ASSERT_EQ(accounts.run_as(1,
                                      [&] {
                                          return ::rename(base().c_str(), (base() + ".away").c_str()) == 0 &&
                                                 ::symlink(home.c_str(), base().c_str()) == 0;
                                      }),
                      0);
            ::kill(stopped, SIGCONT);
            // A stop asked for at a later traced call is let go as well.
            while (!(ended = ::waitpid(child, &status, WNOHANG) == child)) {
                if (const pid_t again = testing_root::stopped_process(run_folder, BRACKMOR_PROGRAM))
                    ::kill(again, SIGCONT);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        EXPECT_EQ(tree_digest(home), before);
        if (HasFailure() || !stopped) break;
        // What was written went into the group held open, now under its other name.
        EXPECT_TRUE(fs::exists(base() + ".away/arc/K.OSB"));
    }
    EXPECT_GE(stops, 2);
}

}  // namespace
}  // namespace tv::brackmor::testing
