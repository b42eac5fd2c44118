// Two system accounts in one group for the tests of what several operators share, made with
// groupadd/useradd (tests run as root) and removed again however the test ends.
#pragma once
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace tv::testing_root {

// Waits for a forked child: its exit code, or -signal when a signal ended it.
inline int wait_child(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The process running `program` in the folder `cwd` that a tracer holds stopped; 0 when there is
// none. Tests that stop a run under strace find it so, to act while it waits.
inline pid_t stopped_process(const std::filesystem::path& cwd, const std::filesystem::path& program) {
    namespace fs = std::filesystem;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), &::closedir);
    while (const dirent* e = proc ? ::readdir(proc.get()) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) continue;
        const fs::path p = fs::path("/proc") / e->d_name;
        std::error_code ec;
        if (fs::read_symlink(p / "cwd", ec) != cwd || fs::read_symlink(p / "exe", ec) != program) continue;
        std::ifstream in(p / "stat");
        const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && (stat[close + 2] == 't' || stat[close + 2] == 'T'))
            return pid;
    }
    return 0;
}

class TwoAccounts {
public:
    TwoAccounts() {
        if (::geteuid() != 0) return;
        const std::string tag = "tva" + std::to_string(::getpid() % 100000);
        if (!run("groupadd " + tag)) return;
        group_ = tag;
        for (int i = 0; i < 2; ++i) {
            const std::string user = tag + char('a' + i);
            if (!run("useradd -M -N -g " + tag + " -s /usr/sbin/nologin " + user)) return;
            users_.push_back(user);
            if (const passwd* pw = ::getpwnam(user.c_str())) uids_.push_back(pw->pw_uid);
        }
        if (const group* g = ::getgrnam(tag.c_str())) gid_ = g->gr_gid;
        char counts[] = "/tmp/tv-counts-XXXXXX";
        if (gid_ != 0 && ::mkdtemp(counts) && share(counts)) counts_ = counts;
    }
    ~TwoAccounts() {
        if (!counts_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(counts_, ignored);
        }
        for (const auto& u : users_) run("userdel " + u);
        if (!group_.empty()) run("groupdel " + group_);
    }
    TwoAccounts(const TwoAccounts&) = delete;
    TwoAccounts& operator=(const TwoAccounts&) = delete;

    // False where the accounts could not be made (not root, no useradd): the test skips.
    bool ok() const { return uids_.size() == 2 && gid_ != 0; }
    gid_t gid() const { return gid_; }
    uid_t uid(int i) const { return uids_[static_cast<std::size_t>(i)]; }

    const std::string& name(int i) const { return users_[static_cast<std::size_t>(i)]; }
    // Gives account `i` a password the system's logon check takes (chpasswd); false when it cannot.
    bool set_password(int i, const std::string& password) const {
        return run("echo '" + name(i) + ":" + password + "' | chpasswd");
    }

    // Makes `folder` (created when missing) the group's, setgid and group-writable (02770).
    bool share(const std::string& folder) const {
        ::mkdir(folder.c_str(), 0700);
        return ::chown(folder.c_str(), 0, gid_) == 0 && ::chmod(folder.c_str(), 02770) == 0;
    }

    // Runs `work` in a forked child as account `i` with `mask` as its umask; the child's exit code.
    // A program it starts from a coverage build writes its counts into a folder of the accounts
    // (GCOV_PREFIX), removed with them: the build folder is not theirs to write, and gcc's runtime
    // would say so on the program's standard error, which the tests compare.
    int run_as(int i, const std::function<bool()>& work, mode_t mask = 002) const {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(1, &gid_) != 0 || ::setgid(gid_) != 0 || ::setuid(uid(i)) != 0) ::_exit(2);
            ::umask(mask);
            if (!counts_.empty()) ::setenv("GCOV_PREFIX", counts_.c_str(), 1);
            ::_exit(work() ? 0 : 1);
        }
        return child < 0 ? -1000 : wait_child(child);
    }

private:
    static bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

    std::string group_;
    std::vector<std::string> users_;
    std::vector<uid_t> uids_;
    gid_t gid_ = 0;
    std::string counts_;  // the accounts' folder for coverage counts
};

}  // namespace tv::testing_root
