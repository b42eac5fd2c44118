// Changes of an archive killed at each of their system calls and what the next writer makes of
// them; what a second account cannot read; a check beside a store; locks and logs that cannot
// be had.
#include <algorithm>
#include <map>
#include <optional>

#include "testing/lock_waiters.h"
#include "testing/test_accounts.h"
#include "tolbex/archive/archive_operations.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

const char* const kEcgNames[] = {"os12ecg1.dat", "os12ecg2.dat", "os12ecg3.dat", "os12ecg4.dat", "OS12ECG5.DAT",
                                 "os12ecg6.dat", "os12ecg7.dat", "os12ecg8.dat", "OS12PAC.DAT"};
const char* const kFullFiles[] = {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"};

// This test program moves a report to TV_TEST_MOVE_TO, or deletes it as the browser does, when
// asked to by its environment, before any test runs: the change under test in a process of its
// own that can be stopped or killed at any step. The report is TV_TEST_MOVE_NAME, else M.FUL, of
// the archive TV_TEST_MOVE_FROM. It says what went wrong and ends 3 then, 4 when the report is
// no longer listed.
const bool g_move_child = [] {
    const char* from = std::getenv("TV_TEST_MOVE_FROM");
    const char* to = std::getenv("TV_TEST_MOVE_TO");
    const char* name = std::getenv("TV_TEST_MOVE_NAME");
    if (!from || !to) return false;
    tv::ReportArchive archive(from, "A");
    const std::string report = name ? name : "M.FUL";
    std::vector<tv::Error> notices;
    tv::Result<void> done;
    if (*to) {
        const auto moved =
            tv::archive_ops::transfer_report(archive, report, to, "Moved one", true, true, nullptr, notices);
        if (!moved) done = moved.error();
    } else {
        done = tv::archive_ops::delete_report(archive, report, nullptr);
    }
    for (const tv::Error& e : notices) std::printf("%s\n", e.message.c_str());
    if (!done) std::printf("%s\n", done.error().message.c_str());
    std::fflush(stdout);
    const int gone = !done && (done.error().code == tv::kArchiveNotFound || done.error().code == tv::kArchiveEntryGone);
    std::_Exit(done ? 0 : gone ? 4 : 3);
}();

std::string good_tvz(const std::string& description) {
    return tvz_literal_entry("REPINFO.TXT", description + "\r\n510\r\n1196690709\r\n77\r\n") +
           tvz_literal_entry("DATA.BIN", "payload") + report_files_tvz("510");
}

int count_ecg_files(const fs::path& folder) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        for (const char* name : kEcgNames) n += strcasecmp(e.path().filename().c_str(), name) == 0;
    return n;
}

class KilledChangesTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        write_file(t / "src" / "good.TVZ", good_tvz("Good"));
        write_file(t / "src" / "later.TVZ", good_tvz("Later"));
    }
    // A group with a listed 12-lead report and a full report in STANDARD, and an empty OTHER.
    void make_round() {
        fs::remove_all(g);
        make_group(g, {{"STANDARD", "STANDARD"}, {"OTHER", "OTHER"}});
        const fs::path x = g / "STANDARD" / "X.O12", m = g / "STANDARD" / "M.FUL";
        for (const char* n : kEcgNames) write_file(x / n, std::string(700, 'e'));
        for (const fs::path& f : {x, m}) {
            write_file(f / "PATIENT.TXT", patient_txt("ABCD1234566"));
            for (const char* n : kFullFiles) write_file(f / n, "report");
        }
        append_entry(g / "STANDARD", {"X.O12", "Twelve lead", "Wed Jan 02 02:03:55 1980", "9999", "Full Ostrabel 12"});
        append_entry(g / "STANDARD", {"M.FUL", "Moved one", "Wed Jan 02 02:03:55 1980", "99", "Full"});
    }
    // `argv` under strace, killed before the `n`th call of `call` (the run ends whole when it makes
    // fewer): its code, -1 when killed.
    RunResult run_stepped(std::vector<std::string> argv, const std::string& call, int n,
                          const std::vector<std::string>& env_changes = {}) {
        std::vector<std::string> args = {"/usr/bin/strace",
                                         "-f",
                                         "-qq",
                                         "-o",
                                         "/dev/null",
                                         "-e",
                                         "trace=" + call,
                                         "-e",
                                         "inject=" + call + ":signal=KILL:when=" + std::to_string(n),
                                         "--"};
        args.insert(args.end(), argv.begin(), argv.end());
        std::vector<std::string> changes = {
            "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};  // no leak check under a tracer
        changes.insert(changes.end(), env_changes.begin(), env_changes.end());
        return tv::platform::testing::run_captured(args, environment(changes), t.string(), 60);
    }

    // What every change must leave after the next writer: each report listed once, with its
    // folder and description; the 12-lead report with all its ECG files or none, its name saying
    // which; no hidden leftover; nothing unlisted.
    void expect_whole(const std::string& what) {
        std::map<std::string, int> descriptions;
        std::set<std::string> listed_here;
        for (const char* archive : {"STANDARD", "OTHER"}) {
            const fs::path a = g / archive;
            const auto lines =
                fs::exists(a / "ARCHINFO.DAT") ? index_lines(a / "ARCHINFO.DAT") : std::vector<std::string>{};
            ASSERT_EQ(lines.size() % 5, 0u) << what;
            std::set<std::string> listed;
            for (std::size_t i = 0; i < lines.size(); i += 5) {
                EXPECT_TRUE(listed.insert(lines[i]).second) << what << ": listed twice: " << lines[i];
                EXPECT_TRUE(fs::is_directory(a / lines[i])) << what << ": no folder for " << lines[i];
                ++descriptions[lines[i + 1]];
                if (std::string(archive) == "STANDARD") listed_here.insert(lines[i]);
            }
            for (const auto& e : fs::directory_iterator(a)) {
                const std::string name = e.path().filename().string();
                if (name[0] == '.') {
                    EXPECT_EQ(name, tv::kIndexLockFileName) << what << ": left over: " << e.path();
                    continue;
                }
                if (!e.is_directory()) continue;
                EXPECT_EQ(listed.count(name), 1u) << what << ": unlisted: " << e.path();
                for (const auto& f : fs::directory_iterator(e.path()))
                    EXPECT_NE(f.path().filename().string()[0], '.') << what << ": left over: " << f.path();
            }
        }
        EXPECT_EQ(descriptions["Twelve lead"], 1) << what;
        if (deleting) {
            EXPECT_LE(descriptions["Moved one"], 1) << what;
        } else {
            EXPECT_EQ(descriptions["Moved one"], 1) << what;
        }
        EXPECT_LE(descriptions["Good"], 1) << what;
        EXPECT_EQ(listed_here.count("X.O12") + listed_here.count("X.FUL"), 1u) << what;
        if (listed_here.count("X.O12")) {
            EXPECT_EQ(count_ecg_files(g / "STANDARD" / "X.O12"), 9) << what;
        }
        if (listed_here.count("X.FUL")) {
            EXPECT_EQ(count_ecg_files(g / "STANDARD" / "X.FUL"), 0) << what;
        }
    }

    // Kills the change at every call of each kind that changes the disk, then lets `next`
    // (one later writer) run and checks what is left.
    void kill_at_every_step(const std::vector<std::string>& argv, const std::vector<std::string>& env_changes,
                            const std::function<RunResult()>& next, int least_kills = 11) {
        int kills = 0;
        for (const char* call : {"mkdir", "mkdirat", "rename", "renameat", "renameat2", "unlink", "unlinkat", "rmdir",
                                 "fsync", "fdatasync"}) {
            for (int n = 1;; ++n) {
                ASSERT_LT(n, 400) << call;
                make_round();
                const RunResult r = run_stepped(argv, call, n, env_changes);
                const std::string what = std::string(call) + " #" + std::to_string(n);
                if (r.code != -1) {
                    EXPECT_EQ(r.code, 0) << what << r.err;
                    expect_whole(what + " (not killed)");
                    break;
                }
                ++kills;
                const RunResult later = next();
                EXPECT_EQ(later.code, 0) << what << later.out << later.err;
                EXPECT_EQ(later.out.find("Recovered"), std::string::npos) << what << later.out;
                EXPECT_EQ(later.out.find("Removed"), std::string::npos) << what << later.out;
                expect_whole(what);
                if (HasFailure()) return;
            }
        }
        EXPECT_GE(kills, least_kills);
    }

    RunResult later_store() { return run({"/store", (t / "src" / "later.TVZ").string(), g.string(), "STANDARD"}); }
    RunResult later_check() {
        return tv::platform::testing::run_captured({BRACKMOR_PROGRAM, g.string(), "/NW"}, environment(), t.string(),
                                                   60);
    }

    // The move child's environment: a move into OTHER, or with `deleting` a deletion.
    std::vector<std::string> child_env() const {
        return {"TV_TEST_MOVE_FROM=" + (g / "STANDARD").string(),
                "TV_TEST_MOVE_TO=" + (deleting ? std::string() : (g / "OTHER").string())};
    }
    // The same change run again after a kill: it settles first, then does what is left; a report
    // the killed run took all the way out is no longer listed (4), which is fine.
    RunResult change_again() {
        RunResult again = tv::platform::testing::run_captured({fs::read_symlink("/proc/self/exe").string()},
                                                              environment(child_env()), t.string(), 60);
        const auto lines = index_lines(g / "STANDARD" / "ARCHINFO.DAT");
        if (again.code == 4 && std::find(lines.begin(), lines.end(), "M.FUL") == lines.end()) again.code = 0;
        // A move killed after its copy was listed is finished at the source; the copy's own store
        // record in OTHER, which that run never got to remove, is the next holder's of OTHER's
        // lock, and nothing is left to undo there.
        if (!deleting) {
            const tv::ArchiveIndexLock lock((g / "OTHER").string());
            for (const std::string& note : lock.notes()) EXPECT_EQ(note.find("Undid"), std::string::npos) << note;
        }
        return again;
    }

    const fs::path g = t / "G";
    bool deleting = false;
};

TEST_F(KilledChangesTest, DeletingEcgFilesKilledAtAnyStepIsFinishedOrUndoneByTheNextStore) {
    kill_at_every_step({TOLBEX_PROGRAM, "/delete_os12_ecg", (g / "STANDARD" / "X.O12").string()}, {},
                       [&] { return later_store(); });
}

// Run again after the kill, the same command first settles what the killed run left, and then
// either finishes the conversion or finds it done.
TEST_F(KilledChangesTest, DeletingEcgFilesKilledAtAnyStepAndRunAgainLeavesIndexAndFoldersAgreeing) {
    const std::vector<std::string> argv = {"/delete_os12_ecg", (g / "STANDARD" / "X.O12").string()};
    std::vector<std::string> traced = {TOLBEX_PROGRAM};
    traced.insert(traced.end(), argv.begin(), argv.end());
    kill_at_every_step(traced, {}, [&] {
        RunResult again = run(argv);
        const auto lines = index_lines(g / "STANDARD" / "ARCHINFO.DAT");
        // Finished by the settling at its own lock: nothing is left to convert, and it says so.
        if (again.code == 1 && std::find(lines.begin(), lines.end(), "X.FUL") != lines.end()) again.code = 0;
        return again;
    });
}

TEST_F(KilledChangesTest, AStoreKilledAtAnyStepLeavesNoTraceAfterTheNextCheck) {
    kill_at_every_step({TOLBEX_PROGRAM, "/store", (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"}, {},
                       [&] { return later_check(); });
}

// Run again after the kill, a store settles what the killed one left before it takes its name.
TEST_F(KilledChangesTest, AStoreKilledAtAnyStepAndRunAgainLeavesIndexAndFoldersAgreeing) {
    kill_at_every_step({TOLBEX_PROGRAM, "/store", (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"}, {},
                       [&] { return later_store(); });
}

// A store is on disk when it says so: the new report folder's names are flushed before the index
// that lists it is put in place, so that no flush of the whole file system has to follow.
TEST_F(KilledChangesTest, AStoreFlushesTheReportFolderBeforeTheIndexListsIt) {
    make_round();
    const fs::path trace = t / "store.trace";
    const RunResult r =
        tv::platform::testing::run_captured({"/usr/bin/strace", "-f", "-qq", "-y", "-o", trace.string(), "-e",
                                             "trace=fsync,rename,renameat,renameat2", "--", TOLBEX_PROGRAM, "/store",
                                             (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"},
                                            environment({"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"}), t.string(),
                                            60);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const auto lines = index_lines(g / "STANDARD" / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 15u);
    const std::string folder = "<" + fs::canonical(g / "STANDARD" / lines[10]).string() + ">";
    std::ifstream in(trace);
    std::optional<int> flushed, listed;
    int n = 0;
    for (std::string line; std::getline(in, line); ++n) {
        if (!flushed && line.find("fsync(") != std::string::npos && line.find(folder) != std::string::npos) flushed = n;
        if (line.find("rename") != std::string::npos && line.find("\"ARCHINFO.DAT\")") != std::string::npos) listed = n;
    }
    ASSERT_TRUE(flushed && listed) << folder << "\n" << read_file(trace);
    EXPECT_LT(*flushed, *listed);
}

TEST_F(KilledChangesTest, AMoveKilledAtAnyStepListsTheReportOnceAfterTheNextCheck) {
    kill_at_every_step({fs::read_symlink("/proc/self/exe").string()}, child_env(), [&] { return later_check(); });
}

// A move, and a deletion as the browser makes it, killed at any step and then run again: the same
// command settles what the killed run left, and index and folders agree.
TEST_F(KilledChangesTest, AMoveOrDeletionKilledAtAnyStepAndRunAgainLeavesIndexAndFoldersAgreeing) {
    for (const bool d : {false, true}) {
        deleting = d;
        kill_at_every_step(
            {fs::read_symlink("/proc/self/exe").string()}, child_env(),
            [&] {
                RunResult again = change_again();
                // Taken all the way out by the run again.
                if (deleting) {
                    const auto lines = index_lines(g / "STANDARD" / "ARCHINFO.DAT");
                    EXPECT_EQ(std::find(lines.begin(), lines.end(), "M.FUL"), lines.end()) << again.out;
                    EXPECT_FALSE(fs::exists(g / "STANDARD" / "M.FUL"));
                }
                return again;
            },
            deleting ? 8 : 11);
    }
}

// BRACKMOR /RE takes the group's lock before an archive's, as every writer does, then decides that
// an archive is empty under the archive's lock and keeps both until the group's index no longer
// lists it: a store while it waits goes through, a store queued behind its decision finds the
// archive unlisted and says so, never storing into an archive the group has dropped. A store in
// progress keeps it listed.
TEST_F(KilledChangesTest, RemovingEmptyArchivesBesideAStoreNeverLosesTheReport) {
    make_group(g, {{"STANDARD", "STANDARD"}, {"EMPTY", "Empty"}});
    append_entry(g / "STANDARD", {"M.FUL", "Kept", "Wed Jan 02 02:03:55 1980", "99", "Full"});
    for (const char* n : kFullFiles) write_file(g / "STANDARD" / "M.FUL" / n, "report");
    const std::string group_lock = (g / tv::kIndexLockFileName).string();
    std::optional<tv::ArchiveIndexLock> held;
    held.emplace(g.string());
    ASSERT_TRUE(held->held());
    RunResult check, store;
    std::thread a([&] {
        check = tv::platform::testing::run_captured({BRACKMOR_PROGRAM, g.string(), "/RE", "/NW"}, environment(),
                                                    t.string(), 60);
    });
    // The check waits for the group's lock holding no archive's: a store into the archive it
    // means to drop goes through meanwhile, and keeps the archive.
    ASSERT_TRUE(tv::testing::wait_for_lock_waiters(group_lock, 1));
    store = run({"/store", (t / "src" / "good.TVZ").string(), g.string(), "EMPTY"});
    EXPECT_EQ(store.code, 0) << store.err;
    held.reset();
    a.join();
    EXPECT_EQ(check.code, 0) << check.out;
    EXPECT_EQ(read_file(g / "ARCHDIR.DAT"), "STANDARD\r\nSTANDARD\r\nEMPTY\r\nEmpty\r\n");
    EXPECT_TRUE(fs::exists(g / "EMPTY" / "ARCHINFO.DAT"));

    // Once the check has decided (it holds both locks, the group's first, at its deletion
    // question), a store queued behind it finds the archive unlisted and says so, never storing
    // into an archive the group has dropped.
    fs::remove_all(g);
    make_group(g, {{"STANDARD", "STANDARD"}, {"EMPTY", "Empty"}});
    append_entry(g / "STANDARD", {"M.FUL", "Kept", "Wed Jan 02 02:03:55 1980", "99", "Full"});
    for (const char* n : kFullFiles) write_file(g / "STANDARD" / "M.FUL" / n, "report");
    const std::string answers = (t / "answers").string();
    ASSERT_EQ(::mkfifo(answers.c_str(), 0600), 0);
    std::thread c([&] {
        check = tv::platform::testing::run_captured({"/bin/sh", "-c", "exec \"$0\" \"$1\" /RE /DA /NW < \"$2\"",
                                                     BRACKMOR_PROGRAM, g.string(), answers},
                                                    environment(), t.string(), 60);
    });
    const int to_check = ::open(answers.c_str(), O_WRONLY);
    ASSERT_GE(to_check, 0);
    for (int i = 0; i < 6000 && read_file(t / "stdout.txt").find("(Y/N)? ") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::thread b([&] { store = run({"/store", (t / "src" / "good.TVZ").string(), g.string(), "EMPTY"}); });
    ASSERT_TRUE(tv::testing::wait_for_lock_waiters((g / "EMPTY" / tv::kIndexLockFileName).string(), 1));
    EXPECT_EQ(::write(to_check, "N\n", 2), 2);
    ::close(to_check);
    c.join();
    b.join();
    EXPECT_EQ(check.code, 0) << check.out;
    EXPECT_EQ(read_file(g / "ARCHDIR.DAT"), "STANDARD\r\nSTANDARD\r\n");
    EXPECT_NE(store.code, 0);
    EXPECT_NE(store.err.find("is no longer listed in its group"), std::string::npos) << store.err;
    for (const auto& e : fs::directory_iterator(g / "EMPTY")) EXPECT_EQ(e.path().filename(), tv::kIndexLockFileName);

    // A store in progress (its record and staging there, its owner running) keeps an archive.
    make_group(g, {{"STANDARD", "STANDARD"}, {"EMPTY", "Empty"}});
    tv::ChangeRecord record;
    std::string staging;
    {
        const tv::ArchiveIndexLock lock((g / "EMPTY").string());
        ASSERT_TRUE(record.begin(lock, tv::kRecordStore));
        staging = (g / "EMPTY").string() + "/" +
                  tv::archive_io::make_hidden_folder_at(lock.folder_fd(), tv::archive_io::new_hidden_name("NEW")).name;
        ASSERT_TRUE(record.note("staging", fs::path(staging).filename().string()));
    }
    const RunResult during = tv::platform::testing::run_captured({BRACKMOR_PROGRAM, g.string(), "/RE", "/NW"},
                                                                 environment(), t.string(), 60);
    EXPECT_EQ(during.code, 0) << during.out;
    EXPECT_NE(during.out.find("a report is being stored into it"), std::string::npos) << during.out;
    EXPECT_NE(read_file(g / "ARCHDIR.DAT").find("EMPTY\r\nEmpty\r\n"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(staging));
}

// One account in the group works with umask 077; the other can read neither its report folders
// nor decide anything about them: BRACKMOR and /delete_os12_ecg leave them as they are, say which,
// and end non-zero. A lock file it cannot write gives /store its own code and message.
TEST_F(KilledChangesTest, ASecondAccountLeavesWhatItCannotReadAndSaysWhy) {
    const tv::testing_root::TwoAccounts accounts;
    if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
    for (const fs::path& p : {root, t}) fs::permissions(p, fs::perms(0755));
    const fs::path a = g / "STANDARD", work = t / "second";
    for (const fs::path& p : {g, a}) ASSERT_TRUE(accounts.share(p.string()));
    fs::create_directories(work);
    fs::permissions(work, fs::perms(0777));
    fs::permissions(t / "src", fs::perms(0755));
    write_file(g / "ARCHDIR.DAT", "STANDARD\r\nSTANDARD\r\n");
    write_file(a / "ARCHINFO.DAT", "");
    for (const fs::path& f : {g / "ARCHDIR.DAT", a / "ARCHINFO.DAT"}) {
        ASSERT_EQ(::chown(f.c_str(), 0, accounts.gid()), 0);
        fs::permissions(f, fs::perms(0664));
    }
    for (const char* kind : {"full", "twelve"}) {
        for (const char* n : kFullFiles) write_file(t / "src" / kind / n, "report");
        write_file(t / "src" / kind / "PATIENT.TXT", patient_txt("ABCD1234566", "Their Patient"));
    }
    for (const char* n : kEcgNames) write_file(t / "src" / "twelve" / n, "ecg");
    for (const auto& e : fs::recursive_directory_iterator(t / "src"))
        fs::permissions(e.path(), fs::perms(e.is_directory() ? 0755 : 0644));
    ASSERT_EQ(accounts.run_as(
                  0,
                  [&] {
                      return tv::store_report_in_archive(a.string(), (t / "src" / "full").string(), "Their full", 1,
                                                         1196690709, tv::kReportFull) == tv::kStoreOk &&
                             tv::store_report_in_archive(a.string(), (t / "src" / "twelve").string(),
                                                         "Their twelve lead", 1, 1196690709,
                                                         tv::kReportFullOstrabel12) == tv::kStoreOk;
                  },
                  077),
              0);
    const auto lines = index_lines(a / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 10u);
    const std::string twelve = lines[0].ends_with(".O12") ? lines[0] : lines[5];
    // Every entry, folder and file, less the generations and lock files a check adds.
    auto snapshot = [&] {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(g)) {
            const std::string name = e.path().filename().string();
            if (name.ends_with(".SAV") || name == tv::kIndexLockFileName) continue;
            files[e.path().string()] = e.is_regular_file() ? read_file(e.path()) : "<folder>";
        }
        return files;
    };
    const auto before = snapshot();

    // The second account's runs, each with its own machine root and work folder.
    auto as_second = [&](std::vector<std::string> argv) {
        accounts.run_as(1, [&] {
            const RunResult r =
                tv::platform::testing::run_captured(argv,
                                                    environment({"TORVANE_ROOT=" + (work / "root").string(),
                                                                 "TMPDIR=" + work.string(), "HOME=" + work.string()}),
                                                    work.string(), 60);
            std::ofstream(work / "result.txt", std::ios::binary) << r.code << "\n" << r.out << r.err;
            return true;
        });
        return read_file(work / "result.txt");
    };
    const std::string checked = as_second({BRACKMOR_PROGRAM, g.string(), "/NW"});
    EXPECT_EQ(checked.substr(0, 2), "8\n") << checked;
    for (const std::string& name : {lines[0], lines[5]})
        EXPECT_NE(checked.find((a / name).string() + "\" cannot be read by this account"), std::string::npos)
            << checked;
    EXPECT_EQ(snapshot(), before);

    const std::string converted = as_second({TOLBEX_PROGRAM, "/delete_os12_ecg", (a / twelve).string()});
    EXPECT_EQ(converted.substr(0, 2), "7\n") << converted;
    EXPECT_NE(converted.find((a / twelve).string() + "\" cannot be read by this account"), std::string::npos)
        << converted;
    EXPECT_EQ(snapshot(), before);

    // A lock file that only its owner may write.
    fs::permissions(a / tv::kIndexLockFileName, fs::perms(0644));
    ASSERT_EQ(::chown((a / tv::kIndexLockFileName).c_str(), 0, 0), 0);
    write_file(t / "src" / "good.TVZ", good_tvz("Good"));
    fs::permissions(t / "src" / "good.TVZ", fs::perms(0644));
    const std::string stored =
        as_second({TOLBEX_PROGRAM, "/store", (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"});
    EXPECT_EQ(stored.substr(0, 3), "12\n") << stored;
    EXPECT_NE(stored.find("cannot be opened for writing"), std::string::npos) << stored;
    EXPECT_EQ(snapshot(), before);
}

// A read-only mount of the group: /store says so with its own code, and changes nothing.
TEST_F(KilledChangesTest, AStoreIntoAReadOnlyMountSaysSo) {
    make_group(g, {{"STANDARD", "STANDARD"}});
    const std::string script = "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && shift && exec \"$@\"";
    const RunResult r = tv::platform::testing::run_captured({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, "sh",
                                                             g.string(), TOLBEX_PROGRAM, "/store",
                                                             (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"},
                                                            environment(), t.string(), 60);
    if (r.code == 1 && r.err.find("mount") != std::string::npos) GTEST_SKIP() << "no mount namespace here: " << r.err;
    EXPECT_EQ(r.code, 13) << r.err;
    EXPECT_NE(r.err.find("is read-only for this account"), std::string::npos) << r.err;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(g / "STANDARD")) names.push_back(e.path().filename().string());
    EXPECT_TRUE(names.empty()) << names.front();
}

// An archive folder listed by name that is a link to somewhere else takes nothing.
TEST_F(KilledChangesTest, AStoreIntoAnArchiveThatIsALinkIsRefused) {
    make_group(g, {{"STANDARD", "STANDARD"}});
    const fs::path elsewhere = t / "elsewhere";
    fs::create_directories(elsewhere);
    fs::remove(g / "STANDARD");
    fs::create_directory_symlink(elsewhere, g / "STANDARD");
    const RunResult r = run({"/store", (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"});
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("is a link or no folder, so nothing was stored"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

// BRACKMOR whose log folder is full: the earlier generations stay as they were, and it says so.
TEST_F(KilledChangesTest, BrackmorOnAFullDiskKeepsItsEarlierLogs) {
    make_group(g, {{"STANDARD", "STANDARD"}});
    const fs::path logs = t / "logs";
    fs::create_directories(logs);
    const std::string script =
        "mount -t tmpfs -o size=64k tmpfs \"$1\" && cd \"$1\" && printf old > BRACKMOR.LOG && "
        "printf older > BRACKMOR.SAV && { dd if=/dev/zero of=fill bs=1k 2>/dev/null; true; } && "
        "\"$2\" \"$3\" /NW; echo \"code=$?\"; echo \"log=$(cat BRACKMOR.LOG)\"; echo \"sav=$(cat BRACKMOR.SAV)\"; "
        "ls -A";
    const RunResult r = tv::platform::testing::run_captured({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, "sh",
                                                             logs.string(), BRACKMOR_PROGRAM, g.string()},
                                                            environment(), t.string(), 60);
    if (r.out.find("code=") == std::string::npos) GTEST_SKIP() << "no tmpfs in a mount namespace here: " << r.err;
    EXPECT_NE(r.out.find("code=9\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("BRACKMOR.LOG could not be written"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("A synopsis of the results has been written"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("log=old\nsav=older\nBRACKMOR.LOG\nBRACKMOR.SAV\nfill\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace cli
