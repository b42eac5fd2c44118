// A fresh machine root for one test: TORVANE_ROOT and TMPDIR point into a new temporary
// folder, which is removed again afterwards, together with the root's named objects.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <signal.h>
#include <sstream>
#include <thread>
#include <vector>
#include <regex.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/shared_memory.h"

namespace tv::platform::testing {

// Whole-text match against a POSIX extended regular expression.
inline bool full_match(const std::string& text, const std::string& pattern) {
    regex_t re;
    if (::regcomp(&re, ("^" + pattern + "$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
    const bool ok = ::regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    ::regfree(&re);
    return ok;
}

// Where TMPDIR points in a TempRoot.
enum class TmpDir {
    Inside,  // <root>/tmp
    Beside,  // <made>/root and <made>/tmp: the folder made also holds work files outside the root
    Root,    // the root itself
};

// Makes a folder under TMPDIR (or /tmp when TMPDIR is no folder) and points TORVANE_ROOT and
// TMPDIR into it. The destructor removes it, even where a test took write permission away, and
// puts both variables back as they were.
class TempRoot {
public:
    explicit TempRoot(TmpDir tmp = TmpDir::Inside) {
        save("TORVANE_ROOT", old_root_);
        save("TMPDIR", old_tmp_);
        std::string base = old_tmp_ && std::filesystem::is_directory(*old_tmp_) ? *old_tmp_ : "/tmp";
        base += "/tvroot.XXXXXX";
        const bool made = ::mkdtemp(base.data()) != nullptr;
        EXPECT_TRUE(made) << base;
        made_ = base;
        path_ = tmp == TmpDir::Beside ? made_ + "/root" : made_;
        tmp_ = tmp == TmpDir::Root ? path_ : tmp == TmpDir::Inside ? path_ + "/tmp" : made_ + "/tmp";
        std::filesystem::create_directories(path_);
        std::filesystem::create_directories(tmp_);
        ::setenv("TORVANE_ROOT", path_.c_str(), 1);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
    }
    ~TempRoot() {
        // Named objects outlive the folder: those a killed process left go, and a test leaves
        // none held.
        const std::vector<std::string> held = SharedMemory::remove_abandoned();
        std::string names;
        for (const auto& n : held) names += " \"" + n + "\"";
        EXPECT_TRUE(held.empty()) << "named objects still held at the end:" << names;
        std::error_code ec;
        ::chmod(made_.c_str(), 0700);
        for (auto it = std::filesystem::recursive_directory_iterator(made_, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
        std::filesystem::remove_all(made_, ec);
        restore("TORVANE_ROOT", old_root_);
        restore("TMPDIR", old_tmp_);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& path() const { return path_; }  // TORVANE_ROOT
    const std::string& tmp() const { return tmp_; }    // TMPDIR
    const std::string& made() const { return made_; }  // the folder removed at the end
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    static void save(const char* name, std::optional<std::string>& into) {
        if (const char* v = std::getenv(name)) into = v;
    }
    static void restore(const char* name, const std::optional<std::string>& v) {
        if (v)
            ::setenv(name, v->c_str(), 1);
        else
            ::unsetenv(name);
    }
    std::string made_, path_, tmp_;
    std::optional<std::string> old_root_, old_tmp_;
};

// The names in a folder, sorted; none when it does not exist.
inline std::vector<std::string> sorted_names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `body` in a forked child; the child's result is its exit status (0 = passed).
template <class F>
pid_t fork_child(F body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

inline int wait_child(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

struct CapturedRun {
    int code = -1;  // exit status, or -1 when killed (time limit, signal)
    std::string out, err;
};

// Runs `argv` in the folder `work` with exactly the environment `env` and no standard input, so
// that what a program leaves in its current folder stays with the test; standard output and error
// go to files in `work` and come back as text. After `limit_seconds` the program is killed and the
// test fails.
inline CapturedRun run_captured(std::vector<std::string> argv, std::vector<std::string> env, const std::string& work,
                                int limit_seconds) {
    CapturedRun r;
    const std::string out = work + "/stdout.txt", err = work + "/stderr.txt";
    std::vector<char*> args, envp;
    for (auto& s : argv) args.push_back(s.data());
    args.push_back(nullptr);
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(0);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || ::chdir(work.c_str()) != 0) ::_exit(126);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    EXPECT_GT(pid, 0);
    if (pid <= 0) return r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds);
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << argv[0] << " did not finish in time";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
    auto slurp = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

}  // namespace tv::platform::testing
