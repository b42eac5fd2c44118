// A fresh machine root for one test: TORVANE_ROOT and TMPDIR point into a new temporary
// folder, which is removed again afterwards.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tv::platform::testing {

// Whole-text match against a POSIX extended regular expression.
inline bool full_match(const std::string& text, const std::string& pattern) {
    regex_t re;
    if (::regcomp(&re, ("^" + pattern + "$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
    const bool ok = ::regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    ::regfree(&re);
    return ok;
}

class TempRoot {
public:
    TempRoot() {
        save("TORVANE_ROOT", old_root_);
        save("TMPDIR", old_tmp_);
        std::string base = std::filesystem::temp_directory_path().string() + "/tvplat.XXXXXX";
        char* made = ::mkdtemp(base.data());
        EXPECT_NE(made, nullptr);
        path_ = base;
        ::setenv("TORVANE_ROOT", path_.c_str(), 1);
        std::filesystem::create_directories(path_ + "/tmp");
        ::setenv("TMPDIR", (path_ + "/tmp").c_str(), 1);
    }
    ~TempRoot() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        restore("TORVANE_ROOT", old_root_);
        restore("TMPDIR", old_tmp_);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& path() const { return path_; }
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
    std::string path_;
    std::optional<std::string> old_root_, old_tmp_;
};

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

}  // namespace tv::platform::testing
