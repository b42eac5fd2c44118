// Runs the built vond as its callers do: a fresh machine root per test, card folders named in
// the drive map, the named objects of the root removed afterwards.
#pragma once
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/tape_mappings.h"
#include "platform/drives.h"
#include "platform/shared_memory.h"
#include "testing/test_root.h"
#include "tools/cardgen/card_builder.h"

namespace vondtest {

namespace fs = std::filesystem;

using RunResult = tv::platform::testing::CapturedRun;

inline std::string slurp(const fs::path& p) {
    auto b = cardgen::read_bytes(p);
    return std::string(b.begin(), b.end());
}

class VondTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(out); }
    void TearDown() override {
        for (const char* n :
             {"RAWECG1.MMF", "RAWECG2.MMF", "RAWECG3.MMF", "ECGCTRL.MMF", "Patient Events", "VOND TERMINATOR"})
            tv::platform::SharedMemory::unlink(n);
    }

    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& extra_env = {},
                  int limit_seconds = 120) {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        return tv::platform::testing::run_captured(argv, environment(extra_env), t.string(), limit_seconds);
    }

    // The same under strace with `strace_args` before the program ("-e", "inject=...").
    RunResult run_traced(const std::vector<std::string>& strace_args, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null"};
        argv.insert(argv.end(), strace_args.begin(), strace_args.end());
        argv.push_back(program);
        argv.insert(argv.end(), args.begin(), args.end());
        return tv::platform::testing::run_captured(argv, traced_environment(), t.string(), 120);
    }

    // A run held stopped right after its `when`-th call of `syscall`, until resume().
    struct HeldRun {
        pid_t tracer = -1, child = -1;
        bool stopped = false;
    };
    // Only calls on `paths` (the card's folder, a file in it or an output) count when any are given.
    HeldRun hold(const std::vector<std::string>& args, const std::string& syscall, int when = 1,
                 const std::vector<fs::path>& paths = {}) {
        HeldRun h;
        std::vector<std::string> argv = {"/usr/bin/strace",
                                         "-f",
                                         "-qq",
                                         "-o",
                                         (t / "held-trace.txt").string(),
                                         "-e",
                                         "trace=" + syscall,
                                         "-e",
                                         "inject=" + syscall + ":signal=STOP:when=" + std::to_string(when)};
        for (const fs::path& p : paths) argv.insert(argv.end(), {"-P", p.string()});
        argv.push_back(program);
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env = traced_environment();
        h.tracer = ::fork();
        if (h.tracer == 0) {
            std::vector<char*> a, e;
            for (auto& x : argv) a.push_back(x.data());
            a.push_back(nullptr);
            for (auto& x : env) e.push_back(x.data());
            e.push_back(nullptr);
            const int err = ::open((t / "held-stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            if (::chdir(t.c_str()) != 0) ::_exit(126);
            ::execve(a[0], a.data(), e.data());
            ::_exit(127);
        }
        // A process may end while its /proc file is read (a short-lived child of the program): the
        // read then fails with ESRCH, which the stream library throws; that process is simply gone.
        auto proc = [](const fs::path& p) {
            try {
                std::ifstream in(p);
                return std::string(std::istreambuf_iterator<char>(in), {});
            } catch (const std::exception&) {
                return std::string();
            }
        };
        // Every traced call stops the child for a moment: only a stop that lasts is the one asked for.
        int still = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string kids =
                proc(fs::path("/proc") / std::to_string(h.tracer) / "task" / std::to_string(h.tracer) / "children");
            // The tracer's last child is the program (it may start a short-lived one of its own first).
            std::istringstream pids(kids);
            for (pid_t p = 0; pids >> p;) h.child = p;
            if (h.child > 0) {
                const std::string stat = proc(fs::path("/proc") / std::to_string(h.child) / "stat");
                const auto close = stat.rfind(')');
                const bool stopped = close != std::string::npos && close + 2 < stat.size() &&
                                     (stat[close + 2] == 't' || stat[close + 2] == 'T');
                still = stopped ? still + 1 : 0;
                if (still >= 40) {
                    h.stopped = true;
                    return h;
                }
            }
            int status = 0;
            if (::waitpid(h.tracer, &status, WNOHANG) == h.tracer) {
                h.tracer = -1;  // ended without meeting the call
                return h;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "the held run never stopped at " << syscall << " (child " << h.child << ": "
                      << proc(fs::path("/proc") / std::to_string(h.child) / "stat") << "):\n"
                      << slurp(t / "held-trace.txt");
        return h;
    }
    // Lets a held run go on; its exit code (what strace passes on).
    static int resume(HeldRun& h) {
        if (h.tracer < 0) return -1;
        int status = 0;
        // A continue that comes before the stop has fully taken hold is lost: it is sent until the run ends.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (::waitpid(h.tracer, &status, WNOHANG) != h.tracer) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(h.tracer, SIGKILL);
                ::kill(h.child, SIGKILL);
                ::waitpid(h.tracer, &status, 0);
                ADD_FAILURE() << "the held run did not end";
                break;
            }
            if (h.child > 0) ::kill(h.child, SIGCONT);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        h.tracer = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -1000 - WTERMSIG(status) : -1;
    }

    // The leak check cannot run under a tracer.
    std::vector<std::string> traced_environment() const {
        std::vector<std::string> env = environment({});
        bool given = false;
        for (auto& e : env)
            if (e.rfind("ASAN_OPTIONS=", 0) == 0) given = true, e += ":detect_leaks=0";
        if (!given) env.push_back("ASAN_OPTIONS=detect_leaks=0");
        return env;
    }

    std::vector<std::string> environment(const std::vector<std::string>& extra_env) const {
        std::vector<std::string> env = {
            "TORVANE_ROOT=" + root.string(),    "TMPDIR=" + tmp.string(), "TZ=UTC", "LC_ALL=C", "HOME=" + t.string(),
            "PATH=/usr/local/bin:/usr/bin:/bin"};
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
        // The trace is on unless the test says otherwise.
        bool trace_given = false;
        for (const auto& e : extra_env) trace_given = trace_given || e.rfind("VOND_TRACE=", 0) == 0;
        if (!trace_given) env.push_back("VOND_TRACE=1");
        env.insert(env.end(), extra_env.begin(), extra_env.end());
        return env;
    }

    // The analysis system's side of the card mappings: it holds them while vond fills them, and
    // they stay readable after vond has ended for as long as the holders live.
    static std::vector<std::unique_ptr<tv::platform::SharedMemory>> hold_card_mappings() {
        std::vector<std::unique_ptr<tv::platform::SharedMemory>> held;
        held.push_back(tv::platform::SharedMemory::open(tv::kEcgCtrlName, tv::kEcgCtrlBytes, true));
        for (const char* n : tv::kRawEcgNames)
            held.push_back(tv::platform::SharedMemory::open(n, tv::kRawEcgBytes, true));
        held.push_back(tv::platform::SharedMemory::open(tv::kPatientEventsName, tv::kCardPatientEventBytes, true));
        for (const auto& h : held) EXPECT_TRUE(h);
        return held;
    }

    void map_card(char letter, const fs::path& folder, const std::string& label, std::uint64_t capacity = 0) {
        tv::platform::MappedDrive d;
        d.letter = letter;
        d.folder = folder.string();
        d.label = label;
        d.kind = tv::platform::DriveKind::Removable;
        d.capacity = capacity;
        ASSERT_TRUE(tv::platform::map_drive(d));
    }

    // Runs `body` in a child with a mount namespace of its own; the child's failures fail the test.
    static void in_mount_namespace(const std::function<void()>& body) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                std::fprintf(stderr, "mount namespace: %s\n", std::strerror(errno));
                ::_exit(2);
            }
            body();
            std::fflush(nullptr);
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }

    std::string program = VOND_PROGRAM;  // the vond that run() starts
    tv::platform::testing::TempRoot temp_root_{tv::platform::testing::TmpDir::Beside};
    const fs::path t = temp_root_.made(), root = temp_root_.path(), tmp = temp_root_.tmp(), out = t / "out";
};

inline std::vector<std::uint16_t> words(const fs::path& p) {
    auto b = cardgen::read_bytes(p);
    std::vector<std::uint16_t> w(b.size() / 2);
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = tv::load_le16(&b[2 * i]);
    return w;
}

}  // namespace vondtest
