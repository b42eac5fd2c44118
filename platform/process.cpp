#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fs.h"

extern char** environ;

namespace tv::platform {
namespace {

bool is_executable_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool ends_with_exe(const std::string& name) {
    return name.size() > 4 && iequals(std::string_view(name).substr(name.size() - 4), ".exe");
}

// The program called `name` in `folder`: as spelled, then in any case, then without ".EXE".
std::string find_in_folder(const std::string& folder, const std::string& name) {
    const std::string dir = folder.empty() ? std::string(".") : folder;
    std::string exact = dir == "/" ? "/" + name : dir + "/" + name;
    if (is_executable_file(exact)) return exact;
    if (auto f = find_name_ci(dir, name); f && is_executable_file(*f)) return *f;
    if (ends_with_exe(name)) {
        std::string stem = name.substr(0, name.size() - 4);
        if (auto f = find_name_ci(dir, stem); f && is_executable_file(*f)) return *f;
    }
    return {};
}

}  // namespace

int exit_code_from_status(int status) {
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        return code == 255 ? kExitNotStarted : code;
    }
    return kExitUnknown;
}

std::string resolve_program(const std::string& program) {
    if (program.empty() || program.find('\0') != std::string::npos) return {};
    std::size_t slash = program.rfind('/');
    if (slash != std::string::npos) {
        if (is_executable_file(program)) return program;
        std::string name = program.substr(slash + 1);
        if (name.empty()) return {};
        std::string folder = slash == 0 ? std::string("/") : resolve_path_ci(program.substr(0, slash));
        return find_in_folder(folder, name);
    }
    const char* path_env = std::getenv("PATH");
    std::string path = path_env ? path_env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t from = 0;
    for (;;) {
        std::size_t end = path.find(':', from);
        std::string dir = path.substr(from, end == std::string::npos ? std::string::npos : end - from);
        std::string found = find_in_folder(dir.empty() ? "." : dir, program);
        if (!found.empty()) return found;
        if (end == std::string::npos) break;
        from = end + 1;
    }
    return {};
}

bool spawn_process(const std::vector<std::string>& argv, ChildProcess& child, const ChildIo& io) {
    child.pid = -1;
    if (argv.empty()) return false;
    std::string program = resolve_program(argv[0]);
    if (program.empty()) return false;

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    args.push_back(program.data());
    for (std::size_t i = 1; i < argv.size(); ++i) args.push_back(const_cast<char*>(argv[i].c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    // Belt and braces beside close-on-exec: a descriptor some library opened without it
    // (and the locks or mappings behind it) must not outlive us in the child.
    bool ok = posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
    if (io.input != Stdin::Inherit) {
        const char* from = io.input == Stdin::Null ? "/dev/null" : io.input_file.c_str();
        ok = ok && posix_spawn_file_actions_addopen(&actions, 0, from, O_RDONLY, 0) == 0;
    }
    if (!io.output_file.empty())
        ok = ok &&
             posix_spawn_file_actions_addopen(&actions, 1, io.output_file.c_str(),
                                              O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600) == 0 &&
             posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
    else if (io.output == Stdout::Null)
        ok = ok && posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ok = ok && posix_spawnattr_setsigmask(&attr, &none) == 0 && posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
         posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    pid_t pid = -1;
    if (ok) ok = ::posix_spawn(&pid, program.c_str(), &actions, &attr, args.data(), environ) == 0;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (!ok) return false;
    child.pid = pid;
    return true;
}

void wait_process_status(ChildProcess& child, int& status) {
    status = -1;
    if (child.pid <= 0) return;
    int s = 0;
    pid_t r;
    do r = ::waitpid(child.pid, &s, 0);
    while (r < 0 && errno == EINTR);
    child.pid = -1;
    if (r > 0) status = s;
}

bool try_wait_process_status(ChildProcess& child, int& status) {
    status = -1;
    if (child.pid <= 0) return true;
    int s = 0;
    pid_t r;
    do r = ::waitpid(child.pid, &s, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    child.pid = -1;
    if (r > 0) status = s;
    return true;
}

int wait_process(ChildProcess& child) {
    if (child.pid <= 0) return kExitUnknown;
    int status = -1;
    wait_process_status(child, status);
    return status < 0 ? kExitUnknown : exit_code_from_status(status);
}

}  // namespace tv::platform
