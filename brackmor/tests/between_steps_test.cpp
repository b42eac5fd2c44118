// BRACKMOR between the steps of others: readers that look at the indexes while it rewrites them,
// a second account that works on what a first one, with a narrow umask, made, and lock files
// that a member of the group swapped for links.
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <thread>

#include "brackmor/program.h"
#include "brackmor/tests/brackmor_fixture.h"
#include "common/files.h"
#include "testing/test_accounts.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace tv::brackmor::testing {
namespace {

using BetweenStepsTest = BrackmorTest;

TEST_F(BetweenStepsTest, APollerNeverFindsAnIndexMissingWhileBrackmorRewritesThem) {
    make({"ARCHDIR.DAT=ARC|Arch|", "arc/ARCHINFO.DAT=K.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|", "arc/K.OSB/"});
    std::atomic<bool> stop{false};
    std::atomic<long> looks{0}, missing{0};
    std::thread poller([&] {
        const std::string files[] = {at("ARCHDIR.DAT"), at("arc/ARCHINFO.DAT")};
        while (!stop) {
            for (const std::string& f : files) {
                struct stat st;
                if (::stat(f.c_str(), &st) != 0) ++missing;
                ++looks;
            }
        }
    });
    for (int i = 0; i < 100; ++i) ASSERT_EQ(check({"/NW"}).code, kExitDone) << i;
    stop = true;
    poller.join();
    EXPECT_EQ(missing.load(), 0) << "of " << looks.load() << " looks";
    EXPECT_EQ(read("arc/ARCHINFO.DAT").substr(0, 11), "K.OSB|Kept|");
    EXPECT_EQ(read("arc/ARCHINFO.SAV"), read("arc/ARCHINFO.DAT"));
}

// A group tree as the README sets it up; the first account writes with umask 022, which once
// made a lock file that locked the second out for good.
TEST_F(BetweenStepsTest, ASecondAccountStoresConvertsAndChecksAfterANarrowUmask) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    ASSERT_EQ(::chmod(root_.path().c_str(), 0755), 0);
    ASSERT_TRUE(accounts.share(base()));
    ASSERT_TRUE(accounts.share(at("arc")));
    ASSERT_TRUE(accounts.share(root_.path() + "/src"));
    for (const char* name : {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"})
        std::ofstream(root_.path() + "/src/" + name) << "report";  // what a full report holds
    auto store = [&](ReportType type, std::string* folder) {
        return store_report_in_archive(at("arc"), root_.path() + "/src", "stored", 1, 1196690709, type, folder) ==
               kStoreOk;
    };
    ASSERT_EQ(accounts.run_as(
                  0,
                  [&] {
                      std::ofstream(at("ARCHDIR.DAT"), std::ios::binary) << "arc\r\nArch\r\n";
                      return store(kReportFull, nullptr);
                  },
                  022),
              0);
    struct stat st {};
    ASSERT_EQ(::stat(at("arc/" + std::string(kIndexLockFileName)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);

    std::string twelve_lead;
    const int second = accounts.run_as(1, [&] {
        if (!store(kReportFullOstrabel12, &twelve_lead)) return false;
        if (!(std::ofstream(twelve_lead + "/OS12ECG1.DAT") << "ecg")) return false;
        if (delete_twelve_lead_ecg(twelve_lead, true, nullptr, nullptr) != kDeleteEcgOk) return false;
        const pid_t child = ::fork();
        if (child == 0) {
            // Its log goes where this account may write.
            if (::chdir((root_.path() + "/src").c_str()) != 0) ::_exit(126);
            const int devnull = ::open("/dev/null", O_RDWR);
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::execl(BRACKMOR_PROGRAM, BRACKMOR_PROGRAM, base().c_str(), "/NW", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return testing_root::wait_child(child) == kExitDone;
    });
    EXPECT_EQ(second, 0);
    const ReportArchive after(at("arc"), "arc");
    ASSERT_EQ(after.get_count(), 2);
    EXPECT_EQ(get_extension_upper(after.get_record(1)->get_name()), "FUL");
    EXPECT_FALSE(fs::exists(twelve_lead));
}

// A member of the group plants links at the group's and an archive's lock files, to a root-owned
// group file and to a name in a folder only root writes: root's run refuses each with the lock
// file named, and what the links lead to is neither opened up, changed nor made.
TEST_F(BetweenStepsTest, ALinkedLockFileIsRefusedAndItsTargetLeftAsItIs) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    make({"ARCHDIR.DAT=arc|Arch|", "arc/ARCHINFO.DAT=K.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|", "arc/K.OSB/"});
    ASSERT_EQ(::chmod(root_.path().c_str(), 0755), 0);
    ASSERT_TRUE(accounts.share(base()));
    ASSERT_TRUE(accounts.share(at("arc")));
    const std::string etc = root_.path() + "/etc", victim = etc + "/group-file", missing = etc + "/made";
    ASSERT_EQ(::mkdir(etc.c_str(), 0755), 0);
    std::ofstream(victim) << "root's own";
    ASSERT_EQ(::chown(victim.c_str(), 0, accounts.gid()), 0);
    ASSERT_EQ(::chmod(victim.c_str(), 0640), 0);
    const std::string index_before = read("ARCHDIR.DAT"), archive_before = read("arc/ARCHINFO.DAT");
    for (const char* lock : {".TVINDEX.LCK", "arc/.TVINDEX.LCK"})
        for (const std::string& target : {victim, missing}) {
            SCOPED_TRACE(std::string(lock) + " -> " + target);
            fs::remove(at(lock));  // the plain lock file an earlier run made
            EXPECT_EQ(accounts.run_as(1, [&] { return ::symlink(target.c_str(), at(lock).c_str()) == 0; }), 0);
            const RunResult r = check({"/NW"});
            EXPECT_EQ(r.code, kExitLockDenied) << r.out;
            EXPECT_NE(r.out.find("its lock file .TVINDEX.LCK is a link, which is not followed"), std::string::npos)
                << r.out;
            struct stat st {};
            ASSERT_EQ(::stat(victim.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0640u);
            EXPECT_EQ(read(victim), "root's own");
            EXPECT_FALSE(fs::exists(missing));
            EXPECT_EQ(read("ARCHDIR.DAT"), index_before);
            EXPECT_EQ(read("arc/ARCHINFO.DAT"), archive_before);
            ASSERT_EQ(::unlink(at(lock).c_str()), 0);
        }
    EXPECT_EQ(check({"/NW"}).code, kExitDone);
}

// Archive folders that differ only in case are two archives, each listed as it is spelt on disk.
TEST_F(BetweenStepsTest, CaseVariantArchiveFoldersStayTwoEntries) {
    const struct {
        const char* what;
        std::vector<std::string> tree;
        const char* expected;
    } cases[] = {
        {"both listed", {"ARCHDIR.DAT=arch|Lower|ARCH|Upper|", "arch/", "ARCH/"}, "arch|Lower|ARCH|Upper|"},
        {"one found by the scan",
         {"ARCHDIR.DAT=arch|Lower|", "arch/", "ARCH/ARCHINFO.DAT=K.OSB|Kept|05/03/07 14:30:00|1|Ostrabel|",
          "ARCH/K.OSB/"},
         "arch|Lower|ARCH|ARCH|"},
        {"listed in another case", {"ARCHDIR.DAT=ARCH|Upper|", "arch/"}, "arch|Upper|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(base());
        make(c.tree);
        EXPECT_EQ(check({"/NW"}).code, kExitDone);
        EXPECT_EQ(read("ARCHDIR.DAT"), c.expected);
    }
}

}  // namespace
}  // namespace tv::brackmor::testing
