// crashwriter: drives one writer of a shared file in a loop, for tests that kill it at random
// moments, starve it of space, or run two of it at once.
//
//   crashwriter KIND FOLDER [--count N] [--progress FILE] [--fsize BYTES] [--tag TEXT] [--first K]
//
// KIND archinfo | generations | archdir | device | hive: steps the folder's file through its cycle of known
//      contents (crash_scenarios.h), starting from the state the file is in.
//      store: stores reports with descriptions "<tag> K", "<tag> K+1" ... into the archive FOLDER.
//      touch: rewrites FOLDER's ARCHINFO.DAT, toggling the description of its "Seed" report.
//      audit: appends audit records "<tag> K" ... to this month's log in FOLDER.
// --count   steps to take (0: until killed; the default is 1).
// --progress  one byte is appended to FILE after each completed step, so a watcher knows how
//             many steps finished whatever moment it kills the writer at.
// --fsize   the largest file this process may write (RLIMIT_FSIZE, SIGXFSZ ignored): writes
//           beyond it fail with EFBIG, as on a full disk.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tools/crashwriter/crash_scenarios.h"

namespace {

// The exit codes.
enum ExitCode : int {
    kExitDone = 0,          // all steps done
    kExitFailed = 2,        // the writer reported failure
    kExitUnknownState = 3,  // the file was in no known state
    kExitUsage = 64,        // bad usage
};

// A fixed clock (one month's log file for every writer) and short pauses while waiting for the
// log's lock, so that writers taking turns many times stay quick.
class WriterSystem final : public tv::platform::RealSystem {
public:
    std::int64_t now() override { return 1700000000; }
    void sleep_ms(int ms) override { RealSystem::sleep_ms(ms > 100 ? ms / 100 : ms); }
};

struct Options {
    std::string kind, folder, progress, tag = "W";
    long count = 1, first = 0, fsize = -1;
};

bool parse_long(const char* text, long& out) {
    const tv::ParsedInteger n = tv::parse_integer(text, 0, LONG_MAX);
    if (!n.whole(std::strlen(text))) return false;
    out = static_cast<long>(n.value);
    return true;
}

bool parse_options(int argc, char** argv, Options& o) {
    if (argc < 3) return false;
    o.kind = argv[1];
    o.folder = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        if (a == "--count") {
            if (!parse_long(v, o.count)) return false;
        } else if (a == "--first") {
            if (!parse_long(v, o.first)) return false;
        } else if (a == "--fsize") {
            if (!parse_long(v, o.fsize)) return false;
        } else if (a == "--progress") {
            o.progress = v;
        } else if (a == "--tag") {
            o.tag = v;
        } else {
            return false;
        }
    }
    return true;
}

class Progress {
public:
    explicit Progress(const std::string& path) {
        if (!path.empty()) fd_.reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    }
    bool ok(const std::string& path) const { return path.empty() || fd_; }
    // One byte per completed step: a single small append is never seen half done.
    void done() const {
        if (fd_) tv::platform::write_all(fd_.get(), "+", 1);
    }

private:
    tv::platform::UniqueFd fd_;
};

bool more(const Options& o, long done) { return o.count == 0 || done < o.count; }

int run_cycle(const Options& o, const tv::crash::Scenario& scenario, const Progress& progress) {
    auto state = scenario.identify(o.folder);
    if (!state) return kExitUnknownState;
    for (long done = 0; more(o, done); ++done) {
        if (!scenario.step(o.folder, *state)) return kExitFailed;
        state = scenario.next(*state);
        progress.done();
    }
    return kExitDone;
}

int run_store(const Options& o, const Progress& progress) {
    const std::string source = tv::create_temp_folder();
    if (source.empty()) return kExitFailed;
    {
        tv::platform::UniqueFile f = tv::platform::open_file(tv::join_path(source, "PATIENT.TXT"), "wb");
        if (!f) return kExitFailed;
        std::fputs("Crash\r\nWriter\r\n", f.get());
        if (!tv::platform::close_file(f)) return kExitFailed;
    }
    int result = 0;
    for (long done = 0; more(o, done); ++done) {
        const int n = static_cast<int>(o.first + done);
        if (tv::store_report_in_archive(o.folder, source, tv::crash::record_text(o.tag, n), 1, 1000000000 + n,
                                        tv::kReportFull) != tv::kStoreOk) {
            result = kExitFailed;
            break;
        }
        progress.done();
    }
    tv::delete_folder_tree(source, true, false);
    return result;
}

int run_touch(const Options& o, const Progress& progress) {
    for (long done = 0; more(o, done); ++done) {
        bool seen = false;
        const tv::Result<void> changed =
            tv::change_archive_index(o.folder, [&](tv::ArchiveIndexEntries& index) -> tv::Result<void> {
                for (auto& r : index.records())
                    if (r && r->get_description().rfind("Seed", 0) == 0) {
                        r->set_description(done % 2 == 0 ? "Seed odd" : "Seed even");
                        seen = true;
                        break;
                    }
                if (!seen) return tv::fail(tv::kArchiveNotFound);
                return {};
            });
        if (!seen) return kExitUnknownState;
        if (!tv::crash::shown(changed)) return kExitFailed;
        progress.done();
    }
    return kExitDone;
}

int run_audit(const Options& o, const Progress& progress) {
    static WriterSystem system;
    tv::platform::set_system(&system);
    tv::AuditLog log("crashwriter");
    const std::string inside = tv::join_path(o.folder, "ARCHINFO.DAT");
    for (long done = 0; more(o, done); ++done) {
        // Busy means another writer holds the log: the record waits for its turn.
        int tries = 0;
        while (!log.open(inside))
            if (++tries >= 200) return kExitFailed;
        const std::string text = tv::crash::record_text(o.tag, static_cast<int>(o.first + done));
        if (!log.write_entry("%s", text, "", "")) return kExitFailed;
        progress.done();
    }
    return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: crashwriter archinfo|generations|archdir|device|hive|store|touch|audit FOLDER [--count N] "
                     "[--progress FILE] [--fsize BYTES] [--tag TEXT] [--first K]\n");
        return kExitUsage;
    }
    if (o.fsize >= 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(o.fsize), static_cast<rlim_t>(o.fsize)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            std::perror("setrlimit");
            return kExitUsage;
        }
    }
    const Progress progress(o.progress);
    if (!progress.ok(o.progress)) return kExitUsage;
    if (const tv::crash::Scenario* s = tv::crash::find_scenario(o.kind)) return run_cycle(o, *s, progress);
    if (o.kind == "store") return run_store(o, progress);
    if (o.kind == "touch") return run_touch(o, progress);
    if (o.kind == "audit") return run_audit(o, progress);
    std::fprintf(stderr, "crashwriter: unknown kind %s\n", o.kind.c_str());
    return kExitUsage;
}
