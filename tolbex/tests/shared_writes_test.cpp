// What the programs write into an archive that a colleague of the same group can write too: a
// staging folder swapped for a link while /store runs, records planted by a colleague, a second
// workstation in a PID namespace of its own, and a run killed at each step and then run again.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <optional>

#include "common/ui.h"
#include "platform/process_owner.h"
#include "testing/test_accounts.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/signing/signature_page.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

// This test program changes a report as the report window does, when its environment asks,
// before any test runs: TV_TEST_REPORT_DO "confirm" or "unconfirm" the report TV_TEST_REPORT_NAME
// of the archive folder TV_TEST_REPORT_FOLDER, or "page": the signature page added to the folder
// TV_TEST_REPORT_FOLDER. The change runs in a process of its own that can be stopped at any step;
// its messages go to standard error, and it ends 3 when the change failed.
const bool g_report_child = [] {
    const char* change = std::getenv("TV_TEST_REPORT_DO");
    const char* folder = std::getenv("TV_TEST_REPORT_FOLDER");
    const char* name = std::getenv("TV_TEST_REPORT_NAME");
    if (!change || !folder) return false;
    bool done = false;
    if (std::string_view(change) == "page") {
        tv::signing::SignatureRecord signer;
        signer.signer_name = "Anna Smith";
        const auto added = tv::signing::add_signature_page(folder, {signer});
        if (!added) tv::show_error(added.error().message);
        done = added.ok();
    } else {
        tv::ReportArchive archive(folder, "STANDARD");
        tv::ReportRecord* record = name ? archive.find_record(name) : nullptr;
        tv::ReportDocument doc;
        if (record && doc.load(record->get_folder_path(), {})) {
            doc.set_archive(archive, *record);
            done = std::string_view(change) == "confirm" ? doc.confirm() : doc.unconfirm();
        }
    }
    std::_Exit(done ? 0 : 3);
}();

std::string good_tvz(const std::string& description) {
    return tvz_literal_entry("REPINFO.TXT", description + "\r\n510\r\n1196690709\r\n77\r\n") +
           tvz_literal_entry("DATA.BIN", "payload") + report_files_tvz("510");
}

// Names and contents of everything below `folder` (links as their targets' names).
std::map<std::string, std::string> contents(const fs::path& folder, const std::set<std::string>& skip = {}) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename().string();
        if (skip.count(name) || name.ends_with(".SAV") || name == tv::kIndexLockFileName) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        files[it->path().string()] = it->is_symlink()        ? "-> " + fs::read_symlink(it->path()).string()
                                     : it->is_regular_file() ? read_file(it->path())
                                                             : "<folder>";
    }
    return files;
}

class SharedWritesTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        if (!accounts.ok()) GTEST_SKIP() << "the test accounts could not be made (root, groupadd and useradd needed)";
        for (const fs::path& p : {root, t}) fs::permissions(p, fs::perms(0755));
        for (const fs::path& p : {g, a, o}) ASSERT_TRUE(accounts.share(p.string()));
        write_file(g / "ARCHDIR.DAT", "STANDARD\r\nSTANDARD\r\nOTHER\r\nOTHER\r\n");
        write_file(a / "ARCHINFO.DAT", "");
        write_file(o / "ARCHINFO.DAT", "");
        for (const fs::path& f : {g / "ARCHDIR.DAT", a / "ARCHINFO.DAT", o / "ARCHINFO.DAT"}) {
            ASSERT_EQ(::chown(f.c_str(), 0, accounts.gid()), 0);
            fs::permissions(f, fs::perms(0664));
        }
        write_file(t / "src" / "good.TVZ", good_tvz("Good"));
        for (const char* n : {"MAIN.DAT", "PATIENT.DAT", "COMBTIME.DAT", "COMBFLAG.DAT"})
            write_file(t / "src" / "full" / n, "report");
        write_file(t / "src" / "full" / "PATIENT.TXT", patient_txt("ABCD1234566"));
        for (const auto& e : fs::recursive_directory_iterator(t / "src"))
            fs::permissions(e.path(), fs::perms(e.is_directory() ? 0755 : 0644));
        fs::permissions(t / "src", fs::perms(0755));
        // The operator's own private folder, which nothing done in the archive may reach.
        write_file(home / ".ssh" / "authorized_keys", "ssh-ed25519 AAAA operator\n");
        write_file(home / "Work" / "letter.txt", "private");
        // The operator's own private archive index: a write led there by a link would take it.
        write_file(home / "ARCHINFO.DAT", "OWN.FUL\r\nmine\r\nMon Dec 03 14:05:09 2007\r\n1\r\nFull\r\n");
        for (const auto& e : fs::recursive_directory_iterator(home))
            ASSERT_EQ(::chown(e.path().c_str(), accounts.uid(0), accounts.gid()), 0);
        ASSERT_EQ(::chown(home.c_str(), accounts.uid(0), accounts.gid()), 0);
        fs::permissions(home, fs::perms(0700));
        // A work folder each: the operator's, the colleague's, and the operator's traced runs'.
        for (int slot = 0; slot < 3; ++slot) {
            const fs::path w = work(slot);
            fs::create_directories(w / "root");
            for (const fs::path& p : {w, w / "root"})
                ASSERT_EQ(::chown(p.c_str(), accounts.uid(slot == 1), accounts.gid()), 0);
        }
    }

    fs::path work(int slot) const { return t / ("w" + std::to_string(slot)); }
    std::vector<std::string> env_of(int slot) const {
        const fs::path w = work(slot);
        // No leak check: LeakSanitizer does not work under the tracer some runs have.
        std::vector<std::string> changes = {"TORVANE_ROOT=" + (w / "root").string(), "TMPDIR=" + w.string(),
                                            "HOME=" + w.string(), "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
        changes.insert(changes.end(), child_env.begin(), child_env.end());
        return environment(changes);
    }

    // `argv` as account `i` in the work folder `slot` (its own by default): its code (-1 killed)
    // and what it said.
    RunResult as(int i, const std::vector<std::string>& argv, int slot = -1) const {
        if (slot < 0) slot = i < 0 ? 2 : i;
        const fs::path w = work(slot);
        if (i < 0) return tv::platform::testing::run_captured(argv, env_of(slot), w.string(), 60);  // root
        accounts.run_as(i, [&] {
            const RunResult r = tv::platform::testing::run_captured(argv, env_of(slot), w.string(), 60);
            std::ofstream(w / "result.txt", std::ios::binary) << r.code << "\n" << r.out << r.err;
            return true;
        });
        RunResult r;
        const std::string text = read_file(w / "result.txt");
        r.code = std::atoi(text.c_str());
        r.out = text.substr(text.find('\n') + 1);
        return r;
    }
    RunResult store_as(int i, const std::string& source = "") {
        return as(i, {TOLBEX_PROGRAM, "/store", source.empty() ? (t / "src" / "good.TVZ").string() : source, g.string(),
                      "STANDARD"});
    }

    // `argv` as account `account` (-1 root) under a tracer that stops it after the `n`th call of
    // `call`; while it is stopped `meanwhile` runs. False when the run made fewer such calls.
    bool stopped_at(const std::vector<std::string>& argv, const std::string& call, int n,
                    const std::function<void()>& meanwhile, RunResult& result, int account = 0,
                    const std::string& program = TOLBEX_PROGRAM) {
        std::vector<std::string> traced = {"/usr/bin/strace",
                                           "-f",
                                           "-qq",
                                           "-o",
                                           "/dev/null",
                                           "-e",
                                           "trace=" + call,
                                           "-e",
                                           "inject=" + call + ":signal=STOP:when=" + std::to_string(n),
                                           "--"};
        traced.insert(traced.end(), argv.begin(), argv.end());
        // The traced run is waited for in a process of its own, not a thread: the run forks to
        // change account, and a fork beside a thread that is polling could copy a lock that thread
        // holds, so that the copy never gets past it.
        const fs::path out = work(2) / "traced-result.txt";
        const pid_t runner = ::fork();
        if (runner == 0) {
            const RunResult r = as(account, traced, 2);
            std::ofstream(out, std::ios::binary) << r.code << "\n" << r.out;
            ::_exit(0);
        }
        auto done = [&, finished = false]() mutable {
            int status = 0;
            return finished = finished || ::waitpid(runner, &status, WNOHANG) == runner;
        };
        // Stopped by the signal, not for a moment at a traced call: still stopped 100 ms on.
        auto stopped_for_good = [&] {
            const pid_t pid = tv::testing_root::stopped_process(work(2), program);
            for (int i = 0; pid && i < 20; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (tv::testing_root::stopped_process(work(2), program) != pid) return pid_t{0};
            }
            return pid;
        };
        pid_t stopped = 0;
        while (!done() && !(stopped = stopped_for_good())) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (stopped) meanwhile();
        // On a busy machine a stop at a traced call can outlast the wait above, and the stop asked
        // for then comes later: it is let go as well, so that the run always ends.
        while (!done()) {
            if (stopped) ::kill(stopped, SIGCONT);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const std::string text = read_file(out);
        result.code = std::atoi(text.c_str());
        result.out = text.substr(text.find('\n') + 1);
        return stopped != 0;
    }

    // The colleague's move: `folder` goes to `aside`, and a link to the operator's private folder
    // takes its name.
    void swap_for_link(const fs::path& folder, const fs::path& aside) {
        accounts.run_as(1, [&] {
            std::error_code ec;
            fs::rename(folder, aside, ec);
            if (!ec) fs::create_directory_symlink(home, folder, ec);
            return !ec;
        });
    }

    // The colleague's move: every folder of the archives that `swapped` names goes aside, and a
    // link to the operator's private folder takes its name (staging folders by default).
    void swap_staging_for_link(
        const fs::path& target, const std::function<bool(const std::string&)>& swapped = [](const std::string& n) {
            return n.starts_with(".TVNEW.");
        }) {
        accounts.run_as(1, [&] {
            int k = 0;
            for (const fs::path& archive : {a, o})
                for (const auto& e : fs::directory_iterator(archive)) {
                    const std::string name = e.path().filename().string();
                    if (!swapped(name) || e.is_symlink() || !e.is_directory()) continue;
                    std::error_code ec;
                    fs::rename(e.path(), archive / (".moved" + std::to_string(k++)), ec);
                    if (!ec) fs::create_directory_symlink(target, e.path(), ec);
                }
            return true;
        });
    }

    // The first report `archive` lists.
    std::string first_listed(const fs::path& archive) {
        const auto lines = index_lines(archive / "ARCHINFO.DAT");
        return lines.empty() ? std::string() : lines[0];
    }

    // The index and the folders agree in both archives: each entry once, each a real folder,
    // every report folder listed.
    void expect_agree(const std::string& what) {
        for (const fs::path& archive : {a, o}) expect_agree(what, archive);
    }
    void expect_agree(const std::string& what, const fs::path& a) {
        const auto lines = index_lines(a / "ARCHINFO.DAT");
        ASSERT_EQ(lines.size() % 5, 0u) << what;
        std::set<std::string> listed;
        for (std::size_t i = 0; i < lines.size(); i += 5) {
            EXPECT_TRUE(listed.insert(lines[i]).second) << what << ": listed twice: " << lines[i];
            EXPECT_FALSE(fs::is_symlink(a / lines[i])) << what << ": a link is listed: " << lines[i];
            EXPECT_TRUE(fs::is_directory(a / lines[i])) << what << ": no folder for " << lines[i];
        }
        for (const auto& e : fs::directory_iterator(a)) {
            const std::string name = e.path().filename().string();
            if (name[0] != '.' && e.is_directory()) {
                EXPECT_EQ(listed.count(name), 1u) << what << ": unlisted " << name;
            }
        }
    }

    const tv::testing_root::TwoAccounts accounts;
    const fs::path g = t / "G", a = g / "STANDARD", o = g / "OTHER", home = t / "home";
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    // Variables for the move child of this test program (killed_changes_test.cpp).
    std::vector<std::string> child_env;
};

// A colleague swaps the staging folder for a link to the operator's private folder after each
// step of /store and "/storefolder": nothing outside the archive changes, no link is listed, and
// the next store leaves index and folders in agreement.
TEST_F(SharedWritesTest, AStagingFolderSwappedForALinkNeverLeadsOutOfTheArchive) {
    const auto before = contents(home);
    // A move from STANDARD into OTHER stages in OTHER; this test program moves (see child_env).
    const std::vector<std::vector<std::string>> commands = {
        {TOLBEX_PROGRAM, "/store", (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"},
        {TOLBEX_PROGRAM, "/storefolder", (t / "drop").string(), g.string(), "STANDARD", "NONE"},
        {self},
    };
    // The received-files folder is the operator's; each run finds one transfer file in it.
    auto fill_drop = [&] {
        write_file(t / "drop" / "one.TVZ", good_tvz("Dropped"));
        for (const fs::path& p : {t / "drop", t / "drop" / "one.TVZ"})
            ASSERT_EQ(::chown(p.c_str(), accounts.uid(0), accounts.gid()), 0);
    };
    int swapped = 0, moves_swapped = 0;
    for (const auto& argv : commands) {
        for (const char* call : {"mkdirat", "fchmod", "fsync", "fdatasync", "renameat2"}) {
            for (int n = 1;; ++n) {
                ASSERT_LT(n, 200) << call;
                const bool move = argv[0] == self;
                const std::string what = (move ? "a move" : argv[1]) + " " + call + " #" + std::to_string(n);
                fill_drop();
                child_env.clear();
                if (move)
                    child_env = {"TV_TEST_MOVE_FROM=" + a.string(), "TV_TEST_MOVE_TO=" + o.string(),
                                 "TV_TEST_MOVE_NAME=" + first_listed(a)};
                RunResult r;
                bool seen = false;
                const bool stopped = stopped_at(
                    argv, call, n,
                    [&] {
                        for (const fs::path& archive : {a, o})
                            for (const auto& e : fs::directory_iterator(archive)) {
                                if (!e.path().filename().string().starts_with(".TVNEW.") || e.is_symlink()) continue;
                                seen = true;
                                // Made under umask 002, yet never open to the group while it fills:
                                // only from its making to its closing, while it is empty (and found
                                // empty once closed).
                                if (std::string(call) != "mkdirat" || !fs::is_empty(e.path())) {
                                    EXPECT_EQ(e.status().permissions() & fs::perms::group_write, fs::perms::none)
                                        << what << ": " << e.path();
                                }
                            }
                        swap_staging_for_link(home);
                    },
                    r, 0, argv[0]);
                child_env.clear();
                swapped += seen;
                moves_swapped += seen && move;
                EXPECT_EQ(contents(home), before) << what << r.out;
                if (seen) {
                    EXPECT_NE(r.code, 0) << what << ": a store whose staging was swapped succeeded";
                }
                expect_agree(what);
                const RunResult later = store_as(0);
                EXPECT_EQ(later.code, 0) << what << later.out;
                expect_agree(what + ", then a store");
                EXPECT_EQ(contents(home), before) << what;
                if (HasFailure() || !stopped) break;
            }
        }
    }
    EXPECT_GT(swapped, 6);
    EXPECT_GT(moves_swapped, 0);

    // The destination archive itself swapped for a link while a move runs: nothing reaches the
    // private folder, and the report stays listed where it was.
    int destinations = 0;
    for (const char* call : {"mkdirat", "renameat2"}) {
        for (int n = 1;; ++n) {
            ASSERT_LT(n, 20) << call;
            const std::string what =
                std::string("a move, its destination swapped at ") + call + " #" + std::to_string(n);
            const std::string name = first_listed(a);
            child_env = {"TV_TEST_MOVE_FROM=" + a.string(), "TV_TEST_MOVE_TO=" + o.string(),
                         "TV_TEST_MOVE_NAME=" + name};
            RunResult r;
            const bool stopped = stopped_at(
                {self}, call, n, [&] { swap_for_link(o, g / ".OTHER.moved"); }, r, 0, self);
            child_env.clear();
            const bool was_swapped = fs::is_symlink(o);
            destinations += was_swapped;
            EXPECT_EQ(contents(home), before) << what << r.out;
            if (was_swapped) {
                fs::remove(o);
                fs::rename(g / ".OTHER.moved", o);
                const auto lines = index_lines(a / "ARCHINFO.DAT");
                if (r.code != 0) {
                    EXPECT_NE(std::find(lines.begin(), lines.end(), name), lines.end()) << what << r.out;
                }
            }
            // Taking each lock settles what the stopped run left.
            for (const fs::path& archive : {a, o}) EXPECT_TRUE(tv::ArchiveIndexLock(archive.string()).held());
            expect_agree(what);
            if (first_listed(a).empty()) {
                ASSERT_EQ(store_as(0).code, 0);
            }
            if (HasFailure() || !stopped) break;
        }
    }
    EXPECT_GT(destinations, 0);
}

// A colleague swaps the report folder that a deletion (as the browser makes it) has judged for a
// link to the operator's private folder, at each rename and removal of the deletion, or its
// hidden name once it is on its way out: the folder judged is the only one deleted, the link is
// left and named ("replaced by a link"), the deletion fails, and no link stays listed.
TEST_F(SharedWritesTest, AReportFolderSwappedForALinkWhileItIsDeletedIsLeftAndNamed) {
    const auto before = contents(home);
    int swapped = 0;
    for (const char* call : {"renameat2", "unlinkat"}) {
        for (int n = 1;; ++n) {
            ASSERT_LT(n, 60) << call;
            if (first_listed(a).empty()) {
                ASSERT_EQ(store_as(0).code, 0);
            }
            const std::string name = first_listed(a);
            const std::string what = std::string(call) + " #" + std::to_string(n);
            child_env = {"TV_TEST_MOVE_FROM=" + a.string(), "TV_TEST_MOVE_TO=", "TV_TEST_MOVE_NAME=" + name};
            RunResult r;
            bool seen = false;
            const bool stopped = stopped_at(
                {self}, call, n,
                [&] {
                    auto swapped_name = [&](const std::string& entry) {
                        return entry == name || entry.starts_with(".TVDEL.");
                    };
                    for (const auto& e : fs::directory_iterator(a))
                        seen = seen || (swapped_name(e.path().filename().string()) && !e.is_symlink());
                    swap_staging_for_link(home, swapped_name);
                },
                r, 0, self);
            child_env.clear();
            EXPECT_EQ(contents(home), before) << what << r.out;
            if (seen) {
                ++swapped;
                EXPECT_NE(r.code, 0) << what << ": a deletion whose folder was swapped succeeded";
                EXPECT_TRUE(r.out.find("was replaced by a link while it was checked - it is not deleted") !=
                                std::string::npos ||
                            r.out.find("is no longer the folder that was checked") != std::string::npos)
                    << what << r.out;
            }
            // What the colleague left goes before the next round: links, and the folders moved aside.
            for (const fs::path& archive : {a, o})
                for (const auto& e : fs::directory_iterator(archive)) {
                    const std::string entry = e.path().filename().string();
                    if (e.is_symlink())
                        fs::remove(e.path());
                    else if (entry.starts_with(".moved"))
                        fs::remove_all(e.path());
                }
            const RunResult later = store_as(0);
            EXPECT_EQ(later.code, 0) << what << later.out;
            expect_agree(what);
            EXPECT_EQ(contents(home), before) << what;
            if (HasFailure() || !stopped) break;
        }
    }
    EXPECT_GT(swapped, 1);
}

// A colleague plants records of every operation and of every kind of file: root's BRACKMOR and
// the operator's own next /store leave every report, folder and entry as they were.
TEST_F(SharedWritesTest, PlantedRecordsAreNoInstructions) {
    // The operator's reports, stored with umask 077: the colleague can delete none of them.
    ASSERT_EQ(accounts.run_as(
                  0,
                  [&] {
                      return tv::store_report_in_archive(a.string(), (t / "src" / "full").string(), "Victim", 1,
                                                         1196690709, tv::kReportFull) == tv::kStoreOk;
                  },
                  077),
              0);
    const auto lines = index_lines(a / "ARCHINFO.DAT");
    ASSERT_EQ(lines.size(), 5u);
    const std::string victim = lines[0];
    const std::string token = "1-1-0badb007";
    const fs::path evil = g / "EVIL";
    const std::string owner = "\r\nowner=" + token;
    const std::vector<std::string> planted = {
        "store" + owner + "\r\nstaging=" + victim + "\r\nname=UNUSED.FUL",
        "store" + owner + "\r\nstaging=" + victim,
        "store" + owner + "\r\nstaging=.TVNEW." + token + ".0\r\nname=" + victim + "\r\nmade=1:1",
        "store" + owner + "\r\nname=" + victim + "\r\nmade=1:1",
        "move" + owner + "\r\nname=" + victim + "\r\ndestination=" + (t / "w1").string() + "\r\nstored=S.FUL",
        "move" + owner + "\r\nname=" + victim + "\r\ndestination=" + evil.string() + "\r\nstored=S.FUL",
        "delete-ecg" + owner + "\r\nfrom=" + victim + "\r\nlisted=1\r\nto=" + victim,
        "delete-ecg" + owner + "\r\nfrom=Z.O12\r\nlisted=0\r\nto=" + victim + "\r\naside=" + victim,
        "store\r\nowner=2-2-0badb007\r\nstaging=.TVNEW." + token + ".0",
    };
    const std::vector<std::string> unrecorded = {".TVNEW." + token + ".5", ".TVDEL." + token + ".6"};
    // Named once each, as left, in what a run says: never settled, deleted or offered.
    auto named_once = [&](const std::string& out, const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            int n = 0;
            for (std::size_t at = out.find(name); at != std::string::npos; at = out.find(name, at + 1)) ++n;
            EXPECT_EQ(n, 1) << name << "\n" << out;
            EXPECT_NE(out.find(name + " is hidden and was left"), std::string::npos) << name << "\n" << out;
        }
    };
    accounts.run_as(1, [&] {
        for (std::size_t i = 0; i < planted.size(); ++i)
            write_file(a / (".TVREC." + token + "." + std::to_string(i)), "operation=" + planted[i] + "\r\n");
        // A destination of the group's own that lists the copy.
        for (const fs::path& d : {evil, t / "w1"}) {
            std::error_code ec;
            fs::create_directories(d / "S.FUL", ec);
            write_file(d / "ARCHINFO.DAT", "S.FUL\r\nd\r\nMon Dec 03 14:05:09 2007\r\n1\r\nFull\r\n");
        }
        ::mkfifo((a / (".TVREC." + token + ".fifo")).c_str(), 0666);
        std::error_code ec;
        fs::create_symlink(home / "Work" / "letter.txt", a / (".TVREC." + token + ".link"), ec);
        fs::create_directory(a / (".TVREC." + token + ".folder"), ec);
        // Hidden folders of the records' token that no record names.
        for (const std::string& hidden : unrecorded) write_file(a / hidden / "kept", "kept");
        return true;
    });
    auto victims = [&] {
        std::map<std::string, std::string> v;
        for (const auto& [path, text] : contents(a, {"ARCHINFO.DAT"}))
            if (path.find("/.TVREC.") == std::string::npos && path.find("/.TVNEW.") == std::string::npos)
                v[path] = text;
        return v;
    };
    const auto before = victims();
    const std::string index_before = read_file(a / "ARCHINFO.DAT");
    const auto home_before = contents(home);

    const RunResult checked =
        tv::platform::testing::run_captured({BRACKMOR_PROGRAM, g.string(), "/NW"}, environment(), t.string(), 60);
    EXPECT_EQ(checked.out.find("Undid"), std::string::npos) << checked.out;
    EXPECT_EQ(checked.out.find("Finished"), std::string::npos) << checked.out;
    named_once(checked.out, unrecorded);
    for (const std::string& name : unrecorded) EXPECT_EQ(read_file(a / name / "kept"), "kept") << name;
    EXPECT_EQ(victims(), before) << checked.out;
    EXPECT_EQ(read_file(a / "ARCHINFO.DAT"), index_before);
    const RunResult stored = store_as(0);
    EXPECT_EQ(stored.code, 0) << stored.out;
    auto after = victims();
    std::erase_if(after, [&](const auto& kv) { return !before.count(kv.first); });
    EXPECT_EQ(after, before);
    const auto now = index_lines(a / "ARCHINFO.DAT");
    ASSERT_EQ(now.size(), 10u);
    EXPECT_EQ(now[0], victim);
    EXPECT_EQ(now[1], "Victim");
    EXPECT_EQ(contents(home), home_before);
    expect_agree("planted records");
    for (const std::string& name : unrecorded) EXPECT_EQ(read_file(a / name / "kept"), "kept") << name;

    // What cannot be a record is said as what it is, to root as to anyone.
    {
        const tv::ArchiveIndexLock lock(a.string());
        ASSERT_TRUE(lock.held());
        std::string notes;
        for (const std::string& n : lock.notes()) notes += n + "\n";
        for (const char* said : {".fifo as it is: it is not a plain file", ".link as it is: it is a link",
                                 ".folder as it is: it is not a plain file"})
            EXPECT_NE(notes.find(said), std::string::npos) << said << "\n" << notes;
        EXPECT_EQ(notes.find("this account cannot open it"), std::string::npos) << notes;
    }

    // The colleague renames reports of the operator's to hidden names of a process that has
    // ended, one of them a name a planted record gives: each stays whole.
    for (const char* description : {"Renamed one", "Renamed two", "Renamed three"})
        ASSERT_EQ(accounts.run_as(
                      0,
                      [&] {
                          return tv::store_report_in_archive(a.string(), (t / "src" / "full").string(), description, 1,
                                                             1196690709, tv::kReportFull) == tv::kStoreOk;
                      },
                      077),
                  0);
    const auto listed = index_lines(a / "ARCHINFO.DAT");
    ASSERT_EQ(listed.size(), 25u);
    std::vector<std::string> renamed;
    accounts.run_as(1, [&] {
        // This child's token: its process ends with the lambda.
        const std::string& dead = tv::platform::own_process_token();
        std::ofstream(t / "w1" / "token.txt", std::ios::binary) << dead;
        const std::string names[] = {".TVNEW." + dead + ".0", ".TVDEL." + dead + ".1", ".TVNEW." + token + ".0"};
        for (int i = 0; i < 3; ++i) {
            std::error_code ec;
            fs::rename(a / listed[10 + 5 * i], a / names[i], ec);
            if (ec) return false;
        }
        return true;
    });
    const std::string renamed_token = read_file(t / "w1" / "token.txt");
    ASSERT_FALSE(renamed_token.empty());
    std::map<std::string, std::string> hidden_before;
    for (const auto& e : fs::directory_iterator(a))
        if (tv::archive_io::is_passing_report_name(e.path().filename().string()))
            for (const auto& [path, text] : contents(e.path())) hidden_before[path] = text;
    ASSERT_EQ(hidden_before.size(), 3u * 5u + unrecorded.size());
    const RunResult rechecked =
        tv::platform::testing::run_captured({BRACKMOR_PROGRAM, g.string(), "/NW"}, environment(), t.string(), 60);
    const RunResult restored = store_as(0);
    EXPECT_EQ(restored.code, 0) << restored.out;
    std::map<std::string, std::string> hidden_after;
    for (const auto& e : fs::directory_iterator(a))
        if (tv::archive_io::is_passing_report_name(e.path().filename().string()))
            for (const auto& [path, text] : contents(e.path())) hidden_after[path] = text;
    EXPECT_EQ(hidden_after, hidden_before) << rechecked.out;
    named_once(rechecked.out, {".TVNEW." + renamed_token + ".0", ".TVDEL." + renamed_token + ".1"});
    EXPECT_EQ(contents(home), home_before);
    expect_agree("renamed reports");
}

// A second workstation on the same kernel in a PID namespace of its own: its store, stopped while
// it fills its staging folder, keeps it while the first writes, and ends whole; killed there, it
// is settled by the next writer.
TEST_F(SharedWritesTest, AWorkstationInItsOwnPidNamespaceKeepsItsStaging) {
    // Not the namespace's first process, which no signal of its own namespace stops or kills.
    const std::vector<std::string> second = {
        "/usr/bin/unshare", "--pid",   "--fork",       "/bin/sh", "-c",
        "\"$@\"; exit $?",  "sh",      TOLBEX_PROGRAM, "/store",  (t / "src" / "good.TVZ").string(),
        g.string(),         "STANDARD"};
    // Root's: a PID namespace of its own needs it.
    const RunResult probe = as(-1, {"/usr/bin/unshare", "--pid", "--fork", "/bin/true"});
    if (probe.code != 0) GTEST_SKIP() << "no PID namespace here: " << probe.err;
    RunResult r;
    std::string staging;
    // Stopped at each file it copies in turn, until it is stopped while its staging holds a file
    // (the lock given back meanwhile).
    for (int n = 1; staging.empty(); ++n) {
        ASSERT_LT(n, 100);
        ASSERT_TRUE(stopped_at(
            second, "fsync", n,
            [&] {
                for (const auto& e : fs::directory_iterator(a)) {
                    const fs::path p = e.path();
                    if (p.filename().string().starts_with(".TVNEW.") && !fs::is_empty(p))
                        staging = p.filename().string();
                }
                if (staging.empty()) return;
                // The first workstation: only the lock tells the staging alive.
                const RunResult first =
                    as(-1, {TOLBEX_PROGRAM, "/store", (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"}, 0);
                EXPECT_EQ(first.code, 0) << first.out << first.err;
                EXPECT_EQ(first.out.find("Cleared"), std::string::npos) << first.out;
                EXPECT_TRUE(fs::is_directory(a / staging)) << staging;
            },
            r, -1));
        EXPECT_EQ(r.code, 0) << r.out << r.err;
    }
    EXPECT_FALSE(staging.empty());
    EXPECT_EQ(r.code, 0) << r.out;
    expect_agree("a stopped workstation");

    // Killed once its staging is made (the record names it, the folder is filled next): the next
    // writer clears it.
    std::vector<std::string> killed = {"/usr/bin/strace",
                                       "-f",
                                       "-qq",
                                       "-o",
                                       "/dev/null",
                                       "-e",
                                       "trace=fdatasync",
                                       "-e",
                                       "inject=fdatasync:signal=KILL:when=6",
                                       "--"};
    killed.insert(killed.end(), second.begin(), second.end());
    as(-1, killed);
    bool left = false;
    for (const auto& e : fs::directory_iterator(a)) left = left || e.path().filename().string().starts_with(".TVNEW.");
    EXPECT_TRUE(left);
    const RunResult next =
        as(-1, {TOLBEX_PROGRAM, "/store", (t / "src" / "good.TVZ").string(), g.string(), "STANDARD"}, 0);
    EXPECT_EQ(next.code, 0) << next.out;
    for (const auto& e : fs::directory_iterator(a))
        EXPECT_FALSE(e.path().filename().string().starts_with(".TV") && e.path().filename() != tv::kIndexLockFileName)
            << e.path();
    expect_agree("a killed workstation");
}

// A colleague swaps a report folder for a link to the operator's private folder at each step of
// confirming the report, unconfirming it and adding a signature page to it: nothing outside the
// folder changes, the change fails and says the folder was replaced by a link, and the folder it
// held, put back, is as it was, its entry too.
TEST_F(SharedWritesTest, AReportFolderSwappedForALinkWhileItIsConfirmedIsLeftAndNamed) {
    const auto before = contents(home);
    ASSERT_EQ(store_as(0).code, 0);
    const std::string name = first_listed(a);
    // A restored report to add the signature page to, in a folder the colleague can write.
    const fs::path shared = t / "S", restored = shared / "R";
    ASSERT_TRUE(accounts.share(shared.string()));
    auto confirmed = [&] { return index_lines(a / "ARCHINFO.DAT").at(3).ends_with("C"); };
    auto change = [&](const std::string& what) {
        child_env = {"TV_TEST_REPORT_DO=" + what, "TV_TEST_REPORT_FOLDER=" + (what == "page" ? restored : a).string(),
                     "TV_TEST_REPORT_NAME=" + name};
    };
    const std::string kPages[] = {"zero", "one", "two", "three"};
    // Each change from the state it starts in.
    auto prepare = [&](const std::string& what) {
        if (what == "page") {
            fs::remove_all(restored);
            for (int k = 0; k < 4; ++k) write_file(restored / ("PAGE." + std::to_string(k)), kPages[k]);
            for (const auto& e : fs::recursive_directory_iterator(shared))
                ASSERT_EQ(::chown(e.path().c_str(), accounts.uid(0), accounts.gid()), 0);
            return;
        }
        if (confirmed() == (what == "unconfirm")) return;
        change(what == "confirm" ? "unconfirm" : "confirm");
        const RunResult set = as(0, {self});
        ASSERT_EQ(confirmed(), what == "unconfirm") << set.out;
    };
    struct Case {
        std::string what;
        std::vector<const char*> calls;
    };
    const Case cases[] = {{"confirm", {"fsync", "renameat", "fdatasync", "renameat2"}},
                          {"unconfirm", {"unlinkat", "fdatasync", "renameat2"}},
                          {"page", {"renameat2"}}};
    for (const Case& c : cases) {
        int swapped = 0;
        for (const char* call : c.calls) {
            for (int n = 1;; ++n) {
                ASSERT_LT(n, 40) << c.what << " " << call;
                const std::string what = c.what + " " + call + " #" + std::to_string(n);
                prepare(c.what);
                const fs::path folder = c.what == "page" ? restored : a / name;
                const bool was_confirmed = confirmed();
                const auto held = contents(folder);
                change(c.what);
                RunResult r;
                const bool stopped = stopped_at(
                    {self}, call, n, [&] { swap_for_link(folder, folder.string() + ".moved"); }, r, 0, self);
                child_env.clear();
                EXPECT_EQ(contents(home), before) << what << r.out;
                if (fs::is_symlink(folder)) {
                    ++swapped;
                    EXPECT_EQ(r.code, 3) << what << ": a change whose folder was swapped succeeded\n" << r.out;
                    EXPECT_NE(r.out.find("was replaced by a link"), std::string::npos) << what << r.out;
                    fs::remove(folder);
                    fs::rename(folder.string() + ".moved", folder);
                    // What the change did in the folder it held is taken back; a page moved stays moved.
                    if (c.what != "page") {
                        EXPECT_EQ(contents(folder), held) << what;
                        EXPECT_EQ(confirmed(), was_confirmed) << what;
                    }
                }
                expect_agree(what);
                if (HasFailure() || !stopped) break;
            }
        }
        EXPECT_GT(swapped, c.what == "unconfirm" ? 0 : 1) << c.what;
    }
}

// A confirmation killed at each step: the next one finishes it, clears the temporary the killed
// one left in the report folder, and the entry and CONFIRM.TXT agree.
TEST_F(SharedWritesTest, AConfirmationKilledAtAnyStepIsFinishedByTheNext) {
    ASSERT_EQ(store_as(0).code, 0);
    const std::string name = first_listed(a);
    const fs::path report = a / name;
    auto confirmed = [&] { return index_lines(a / "ARCHINFO.DAT").at(3).ends_with("C"); };
    auto run = [&](const std::string& what, std::vector<std::string> argv = {}) {
        child_env = {"TV_TEST_REPORT_DO=" + what, "TV_TEST_REPORT_FOLDER=" + a.string(), "TV_TEST_REPORT_NAME=" + name};
        argv.push_back(self);
        const RunResult r = as(0, argv);
        child_env.clear();
        return r;
    };
    int killed = 0;
    for (const std::string call : {"fsync", "renameat", "fdatasync", "renameat2"}) {
        for (int n = 1;; ++n) {
            ASSERT_LT(n, 20) << call;
            const std::string what = call + " #" + std::to_string(n);
            if (confirmed()) {
                ASSERT_EQ(run("unconfirm").code, 0) << what;
            }
            const RunResult r =
                run("confirm", {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                                "inject=" + call + ":signal=KILL:when=" + std::to_string(n), "--"});
            if (r.code == 0) break;  // the confirmation makes no such call any more
            ++killed;
            if (!confirmed()) {
                const RunResult again = run("confirm");
                EXPECT_EQ(again.code, 0) << what << again.out;
            }
            EXPECT_TRUE(confirmed()) << what;
            EXPECT_EQ(read_file(report / "CONFIRM.TXT"), accounts.name(0)) << what;
            for (const auto& e : fs::directory_iterator(report))
                EXPECT_FALSE(e.path().filename().string().starts_with(".CONFIRM.TXT.tmp"))
                    << what << " left " << e.path();
            expect_agree(what);
            if (HasFailure()) break;
        }
    }
    EXPECT_GT(killed, 3);
}

}  // namespace
}  // namespace cli
