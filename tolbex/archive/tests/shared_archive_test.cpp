// Several processes change one archive at once, each from a view it read before the others
// wrote: whatever the order, every report stays listed exactly once, every listed report has its
// folder, and every change a process was told was done is in the file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "tolbex/archive/archive_operations.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "testing/test_accounts.h"
#include "testing/lock_waiters.h"
#include "tolbex/archive/tests/archive_test_root.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

constexpr int kWorkers = 8;
constexpr int kRounds = 20;

class SharedArchiveTest : public testing_root::ArchiveTestRoot {
protected:
    void SetUp() override {
        ArchiveTestRoot::SetUp();
        if (HasFatalFailure()) return;
        a_ = root_ + "/G/A";
        b_ = root_ + "/G/B";
        src_ = root_ + "/src";
        for (const std::string& d : {a_, b_, src_}) fs::create_directories(d);
        write(src_ + "/PATIENT.TXT", "p");
    }
    // A report of worker w, round r, with the extension given, listed in archive A.
    static std::string name(int w, int r, const char* ext) {
        return "W" + std::to_string(w) + "R" + std::to_string(r) + ext;
    }
    void seed() {
        std::string index;
        for (int w = 0; w < kWorkers; ++w)
            for (int r = 0; r < kRounds; ++r)
                for (const char* ext : {".FUL", "X.O12", ".IMG"}) {
                    const std::string n = name(w, r, ext);
                    fs::create_directories(a_ + "/" + n);
                    write(a_ + "/" + n + "/PATIENT.TXT", "p");
                    if (std::string(ext) == "X.O12") write(a_ + "/" + n + "/os12ecg1.dat", "e");
                    index += format_archive_entry(n, n, "Mon Dec 03 14:05:09 2007", "1", "Full");
                }
        write(a_ + "/ARCHINFO.DAT", index);
    }

    // One worker's round: every kind of change on reports of its own, each from the archive as it
    // was read before the round began. Each change that reports success is logged.
    static void work(const std::string& a, const std::string& b, const std::string& src, int w, int r,
                     ReportArchive& view, std::string& log) {
        auto done = [&](const std::string& what) { log += what + "\n"; };
        std::string stored;
        if (store_report_in_archive(a, src, "stored", 1, 1196690709, kReportFull, &stored) == kStoreOk)
            done("listed " + fs::path(stored).filename().string());
        const std::string ful = name(w, r, ".FUL"), o12 = name(w, r, "X.O12"), img = name(w, r, ".IMG");
        if (r % 2 == 0) {
            if (archive_ops::delete_report(view, ful, nullptr)) done("gone " + ful);
        } else {
            std::vector<Error> notices;
            if (auto moved = archive_ops::transfer_report(view, ful, b, "moved", true, true, nullptr, notices)) {
                done("gone " + ful);
                done("in-b " + fs::path(*moved).filename().string());
            }
        }
        if (archive_ops::set_description(view, img, "edited " + img)) done("described " + img);
        const archive_ops::ReportFolderStep nothing = [](int, const std::string&) -> Result<void> { return {}; };
        if (archive_ops::set_confirmed(a, img, true, nothing, nothing)) done("confirmed " + img);
        ReportRecord record = *view.find_record(o12);
        if (delete_listed_ecg_files(record, a + "/" + o12, nullptr) == kDeleteEcgOk) {
            done("gone " + o12);
            done("listed " + record.get_name());
        }
    }

    std::string a_, b_, src_;
};

// Eight processes, twenty rounds; at each round the test holds the archive's lock while every
// worker reads its view, so that all of them write from views that are stale by the time they
// get their turn.
TEST_F(SharedArchiveTest, ManyProcessesOnOneArchiveLoseNothing) {
    seed();
    std::vector<pid_t> children;
    std::vector<int> go(kWorkers), ready(kWorkers);
    for (int w = 0; w < kWorkers; ++w) {
        int to_child[2], to_parent[2];
        ASSERT_EQ(::pipe(to_child), 0);
        ASSERT_EQ(::pipe(to_parent), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string log;
            char c;
            for (int r = 0; r < kRounds; ++r) {
                ReportArchive view(a_, "A");
                if (::write(to_parent[1], "r", 1) != 1 || ::read(to_child[0], &c, 1) != 1) ::_exit(2);
                work(a_, b_, src_, w, r, view, log);
            }
            write(root_ + "/log" + std::to_string(w), log);
            ::_exit(0);
        }
        ::close(to_child[0]);
        ::close(to_parent[1]);
        go[w] = to_child[1];
        ready[w] = to_parent[0];
        children.push_back(pid);
    }
    for (int r = 0; r < kRounds; ++r) {
        char c;
        for (int w = 0; w < kWorkers; ++w) ASSERT_EQ(::read(ready[w], &c, 1), 1);
        platform::FileLock held;
        ASSERT_TRUE(held.lock(a_ + "/" + kIndexLockFileName, true, true));
        for (int w = 0; w < kWorkers; ++w) ASSERT_EQ(::write(go[w], "g", 1), 1);
        // Every worker queues on the lock held here before any of them gets it.
        EXPECT_TRUE(testing::wait_for_lock_waiters(a_ + "/" + kIndexLockFileName, kWorkers));
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    // What the workers were told was done.
    std::set<std::string> listed, gone, in_b, described, confirmed;
    for (int w = 0; w < kWorkers; ++w) {
        const std::string log = read(root_ + "/log" + std::to_string(w));
        std::size_t start = 0;
        for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = log.substr(start, end - start);
            const std::string what = line.substr(0, line.find(' ')), n = line.substr(line.find(' ') + 1);
            std::map<std::string, std::set<std::string>*> sets = {{"listed", &listed},
                                                                  {"gone", &gone},
                                                                  {"in-b", &in_b},
                                                                  {"described", &described},
                                                                  {"confirmed", &confirmed}};
            ASSERT_TRUE(sets.count(what)) << line;
            sets[what]->insert(n);
        }
    }
    EXPECT_EQ(gone.size(), static_cast<std::size_t>(kWorkers * kRounds * 2));
    EXPECT_EQ(described.size(), static_cast<std::size_t>(kWorkers * kRounds));
    EXPECT_EQ(confirmed.size(), static_cast<std::size_t>(kWorkers * kRounds));

    for (const std::string& folder : {a_, b_}) {
        SCOPED_TRACE(folder);
        ReportArchive archive(folder, "X");
        std::map<std::string, int> times;
        for (std::int32_t i = 0; i < archive.get_count(); ++i) {
            const ReportRecord* r = archive.get_record(i);
            ++times[r->get_name()];
            EXPECT_TRUE(fs::is_directory(folder + "/" + r->get_name())) << r->get_name();
            EXPECT_EQ(gone.count(r->get_name()), 0u) << r->get_name();
            if (described.count(r->get_name())) {
                EXPECT_EQ(r->get_description(), "edited " + r->get_name());
            }
            if (confirmed.count(r->get_name())) {
                EXPECT_TRUE(r->is_confirmed()) << r->get_name();
            }
        }
        for (const auto& e : fs::directory_iterator(folder)) {
            if (!e.is_directory()) continue;
            EXPECT_EQ(times[e.path().filename().string()], 1) << e.path();
        }
        for (const std::string& n : folder == a_ ? listed : in_b) EXPECT_EQ(times[n], 1) << n;
    }
}

// Another program that takes the archive's lock finds the entries and the report folders in
// agreement while this one stores, converts or deletes a report: for the first two it holds the
// lock until the work has gone as far as it can without it; for a delete it takes the lock over
// and over until the report is gone.
TEST_F(SharedArchiveTest, AHolderOfTheLockSeesFolderAndEntryTogether) {
    auto seed_report = [&](const std::string& n, int files) {
        fs::create_directories(a_ + "/" + n);
        for (int f = 0; f < files; ++f) write(a_ + "/" + n + "/F" + std::to_string(f), "x");
        write(a_ + "/" + n + "/os12ecg1.dat", "e");
        platform::append_to_file(a_ + "/ARCHINFO.DAT",
                                 format_archive_entry(n, n, "Mon Dec 03 14:05:09 2007", "1", "Full"));
    };
    for (int f = 0; f < 50; ++f) write(src_ + "/F" + std::to_string(f), "x");
    seed_report("X.O12", 1);
    seed_report("DEL.FUL", 2000);
    auto agree = [&] {
        std::set<std::string> listed, folders;
        const ReportArchive a(a_, "A");
        for (std::int32_t i = 0; i < a.get_count(); ++i) listed.insert(a.get_record(i)->get_name());
        for (const auto& e : fs::directory_iterator(a_))
            if (e.is_directory() && e.path().filename().string()[0] != '.')
                folders.insert(e.path().filename().string());
        return listed == folders;
    };
    auto copied = [&] {
        for (const auto& e : fs::directory_iterator(a_))
            if (e.is_directory() && fs::exists(e.path() / "F49") && !fs::exists(e.path() / "F50")) return true;
        return false;
    };
    const struct {
        const char* what;
        std::function<bool()> reached;  // null: watch until the report is gone
        std::function<void()> run;
    } cases[] = {
        {"store", copied, [&] { store_report_in_archive(a_, src_, "stored", 1, 1196690709, kReportFull); }},
        {"12-lead", [&] { return !fs::exists(a_ + "/X.O12/os12ecg1.dat"); },
         [&] {
             ReportRecord record = *ReportArchive(a_, "A").find_record("X.O12");
             delete_listed_ecg_files(record, a_ + "/X.O12", nullptr);
         }},
        {"delete", nullptr,
         [&] {
             ReportArchive view(a_, "A");
             archive_ops::delete_report(view, "DEL.FUL", nullptr);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string lock = a_ + "/" + kIndexLockFileName;
            platform::FileLock held;
            if (c.reached) {
                if (!held.lock(lock, true, true) || ::write(ready[1], "l", 1) != 1) ::_exit(2);
                for (int i = 0; i < 500 && !c.reached(); ++i) ::usleep(10000);
                ::_exit(agree() ? 0 : 1);
            }
            if (::write(ready[1], "l", 1) != 1) ::_exit(2);
            for (int i = 0; i < 100000 && fs::exists(a_ + "/DEL.FUL"); ++i) {
                if (!held.lock(lock, true, true)) ::_exit(2);
                if (!agree()) ::_exit(1);
                held.unlock();
            }
            ::_exit(0);
        }
        char l;
        ASSERT_EQ(::read(ready[0], &l, 1), 1);
        ::close(ready[0]);
        ::close(ready[1]);
        c.run();
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the holder saw them disagree";
    }
    // Afterwards, too, and nothing hidden is left.
    const ReportArchive a(a_, "A");
    EXPECT_EQ(a.get_count(), 2);
    EXPECT_NE(a.find_record("X.FUL"), nullptr);
    for (const auto& e : fs::directory_iterator(a_)) {
        const std::string n = e.path().filename().string();
        EXPECT_TRUE(n == kIndexLockFileName || n == "ARCHINFO.DAT" || a.find_record(n)) << n;
    }
}

// A second operator of the group stores into, and rewrites, what the first one made, with umask
// 002 in a setgid folder.
TEST_F(SharedArchiveTest, TwoAccountsShareOneArchive) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    const std::string shared = root_ + "/shared";
    ASSERT_TRUE(accounts.share(shared));
    ASSERT_TRUE(accounts.share(shared + "/A"));
    fs::permissions(src_, fs::perms::all);
    fs::permissions(src_ + "/PATIENT.TXT", fs::perms::all);
    for (int round = 0; round < 2; ++round)
        for (int account = 0; account < 2; ++account) {
            const std::string id = std::to_string(account) + "/" + std::to_string(round);
            EXPECT_EQ(accounts.run_as(account,
                                      [&] {
                                          std::string stored;
                                          if (store_report_in_archive(shared + "/A", src_, id, 1, 1196690709,
                                                                      kReportFull, &stored) != kStoreOk)
                                              return false;
                                          ReportArchive view(shared + "/A", "A");
                                          return archive_ops::set_description(view,
                                                                              fs::path(stored).filename().string(),
                                                                              "edited " + id)
                                              .ok();
                                      }),
                      0)
                << id;
        }
    ReportArchive archive(shared + "/A", "A");
    ASSERT_EQ(archive.get_count(), 4);
    for (std::int32_t i = 0; i < archive.get_count(); ++i)
        EXPECT_EQ(archive.get_record(i)->get_description().rfind("edited ", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(archive.get_index_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    EXPECT_EQ(st.st_gid, accounts.gid());
}

// Another account of the group swaps a report folder for a link to a private folder of the
// account that copies: the copy is refused by name and nothing of the private folder is stored.
TEST_F(SharedArchiveTest, AReportFolderSwappedForALinkIsNotCopied) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    const std::string shared = root_ + "/shared", from = shared + "/A", to = shared + "/B";
    for (const std::string& d : {shared, from, to}) ASSERT_TRUE(accounts.share(d));
    std::string stored;
    ASSERT_EQ(accounts.run_as(0,
                              [&] {
                                  return store_report_in_archive(from, src_, "theirs", 1, 1196690709, kReportFull,
                                                                 &stored) == kStoreOk;
                              }),
              0);
    ReportArchive archive(from, "A");
    ASSERT_EQ(archive.get_count(), 1);
    const std::string report = archive.get_record(0)->get_folder_path();
    const std::string secret = root_ + "/private";
    fs::create_directories(secret);
    write(secret + "/demo-signer.p12", "PRIVATE-KEY-BYTES");
    write(secret + "/PATIENT.TXT", "p");
    ASSERT_EQ(::chmod(secret.c_str(), 0700), 0);
    ASSERT_EQ(accounts.run_as(1,
                              [&] {
                                  return ::rename(report.c_str(), (report + ".OLD").c_str()) == 0 &&
                                         ::symlink(secret.c_str(), report.c_str()) == 0;
                              }),
              0);
    std::vector<Error> notices;
    const auto copied = archive_ops::transfer_report(archive, fs::path(report).filename().string(), to, "copy", false,
                                                     true, nullptr, notices);
    ASSERT_FALSE(copied);
    EXPECT_NE(copied.error().message.find("is a link to another place"), std::string::npos) << copied.error().message;
    // The lock was taken before the source was looked at: its file is all there is.
    for (auto& e : fs::recursive_directory_iterator(to))
        EXPECT_TRUE(!e.is_regular_file() || e.path().filename() == kIndexLockFileName) << e.path();
}

// What this account cannot look at is never taken for gone: deleting there fails.
TEST_F(SharedArchiveTest, FoldersThisAccountCannotSearchAreNotTakenForGone) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    const std::string closed = root_ + "/closed";
    fs::create_directories(closed + "/.TVDEL.1");
    fs::create_directories(closed + "/R.FUL");
    ASSERT_EQ(::chmod(closed.c_str(), 0700), 0);
    EXPECT_EQ(accounts.run_as(1,
                              [&] {
                                  ReportArchive archive(closed, "C", false, false, false);
                                  archive.add_record(
                                      std::make_unique<ReportRecord>("Full", "1", "x", "R.FUL", closed, "r"));
                                  return probe_entry(closed + "/.TVDEL.1").kind == EntryKind::Unknown &&
                                         !archive_ops::delete_report(archive, "R.FUL", nullptr);
                              }),
              0);
    EXPECT_TRUE(fs::exists(closed + "/.TVDEL.1"));
    EXPECT_TRUE(fs::exists(closed + "/R.FUL"));
}

// Why an account cannot lock an archive is told apart: only a holder makes it "in use".
TEST_F(SharedArchiveTest, ALockThatCannotBeHadSaysWhy) {
    const testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    const std::string shared = root_ + "/shared", denied = shared + "/denied", readonly = root_ + "/readonly";
    ASSERT_TRUE(accounts.share(shared));
    ASSERT_TRUE(accounts.share(denied));
    ASSERT_EQ(::mkdir(readonly.c_str(), 0755), 0);
    const std::string root_lock = denied + "/" + kIndexLockFileName;
    ::close(::open(root_lock.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));  // made by another account
    ASSERT_EQ(::chmod(root_lock.c_str(), 0644), 0);
    auto code_of = [](const std::string& folder) {
        const ArchiveIndexLock lock(folder, 0);
        return lock.held() ? 0 : lock.busy_error().code;
    };
    // A narrow umask no longer keeps the group out of a lock file it makes.
    EXPECT_EQ(accounts.run_as(
                  0, [&] { return code_of(shared) == 0; }, 022),
              0);
    struct stat st {};
    ASSERT_EQ(::stat((shared + "/" + kIndexLockFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    EXPECT_EQ(accounts.run_as(1,
                              [&] {
                                  return code_of(shared) == 0 && code_of(denied) == kArchiveLockDenied &&
                                         code_of(readonly) == kArchiveReadOnly;
                              }),
              0);
    const ArchiveIndexLock held(shared);
    ASSERT_TRUE(held.held());
    EXPECT_EQ(accounts.run_as(1, [&] { return code_of(shared) == kArchiveBusy; }), 0);
}

}  // namespace
}  // namespace tv
