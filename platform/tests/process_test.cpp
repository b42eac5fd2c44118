#include "platform/process.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/test_root.h"

namespace tv::platform {
namespace {

using testing::TempRoot;

int run(const std::vector<std::string>& argv) {
    ChildProcess c;
    if (!spawn_process(argv, c)) return kExitNotStarted;
    return wait_process(c);
}

void make_program(const std::string& path, const std::string& script, mode_t mode = 0755) {
    ASSERT_TRUE(atomic_write_file(path, "#!/bin/sh\n" + script + "\n"));
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(Process, ExitStatusConvention) {
    EXPECT_EQ(exit_code_from_status(0), 0);
    EXPECT_EQ(exit_code_from_status(123 << 8), 123);
    EXPECT_EQ(exit_code_from_status(255 << 8), kExitNotStarted);
    EXPECT_EQ(exit_code_from_status(SIGKILL), kExitUnknown);
}

TEST(Process, ExitCodesOfRealChildren) {
    EXPECT_EQ(run({"/no/such/program"}), kExitNotStarted);
    EXPECT_EQ(run({"no-such-program-anywhere"}), kExitNotStarted);
    EXPECT_EQ(run({}), kExitNotStarted);
    EXPECT_EQ(run({"sh", "-c", "exit 123"}), 123);
    EXPECT_EQ(run({"sh", "-c", "exit 0"}), 0);
    EXPECT_EQ(run({"sh", "-c", "exit 255"}), kExitNotStarted);  // what exit(-1) gives
    EXPECT_EQ(run({"sh", "-c", "kill -9 $$"}), kExitUnknown);
    EXPECT_EQ(run({"sh", "-c", "test \"$1\" = 'a b' && test \"$2\" = ''", "sh", "a b", ""}), 0);

    ChildProcess none;
    EXPECT_EQ(wait_process(none), kExitUnknown);
}

TEST(Process, TryWaitReportsTheEnd) {
    ChildProcess c;
    int status = 99;
    ASSERT_TRUE(spawn_process({"sh", "-c", "exit 7"}, c));
    while (!try_wait_process_status(c, status)) ::usleep(1000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
    EXPECT_EQ(c.pid, -1);
    EXPECT_TRUE(try_wait_process_status(c, status));  // nothing left to wait for
    EXPECT_EQ(status, -1);

    ASSERT_TRUE(spawn_process({"sleep", "60"}, c));
    EXPECT_FALSE(try_wait_process_status(c, status));
    ::kill(c.pid, SIGKILL);
    while (!try_wait_process_status(c, status)) ::usleep(1000);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
}

TEST(Process, ResolvesWindowsProgramNames) {
    TempRoot root;
    std::filesystem::create_directories(root / "Bin");
    make_program(root / "Bin/prog", "exit 42");
    make_program(root / "Bin/Data.exe", "exit 1", 0644);  // not executable
    EXPECT_EQ(resolve_program(root / "Bin/prog"), root / "Bin/prog");
    EXPECT_EQ(resolve_program(root / "Bin/PROG.EXE"), root / "Bin/prog");
    EXPECT_EQ(resolve_program(root / "bin/Prog.exe"), root / "Bin/prog");
    EXPECT_EQ(resolve_program(root / "Bin/Data.exe"), "");
    EXPECT_EQ(resolve_program(root / "Bin/DATA"), "");
    EXPECT_EQ(resolve_program(root / "Bin/other.exe"), "");
    EXPECT_EQ(resolve_program(root / "Bin"), "");  // a folder is no program
    EXPECT_EQ(resolve_program(""), "");
    EXPECT_EQ(run({root / "Bin/PROG.EXE"}), 42);

    // Bare names search PATH the same way.
    std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", ("/nonexistent::" + root / "Bin" + ":/usr/bin:/bin").c_str(), 1);
    EXPECT_EQ(resolve_program("PROG.EXE"), root / "Bin/prog");
    EXPECT_EQ(resolve_program("SH.EXE").empty(), false);
    EXPECT_EQ(run({"Prog.Exe"}), 42);
    ::setenv("PATH", old_path.c_str(), 1);
}

TEST(Process, NoDescriptorLeaksIntoTheChild) {
    // One opened close-on-exec, one without: the child must see neither.
    int clo = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int raw = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(clo, 0);
    ASSERT_GE(raw, 0);
    int hi_clo = ::fcntl(clo, F_DUPFD_CLOEXEC, 60);
    int hi_raw = ::fcntl(raw, F_DUPFD, 61);
    ASSERT_GE(hi_raw, 61);
    std::string script;
    for (int fd : {clo, raw, hi_clo, hi_raw})
        script += "test ! -e /proc/self/fd/" + std::to_string(fd) + " || exit 1; ";
    script += "test -e /proc/self/fd/2 || exit 2; exit 0";
    EXPECT_EQ(run({"sh", "-c", script}), 0);
    for (int fd : {clo, raw, hi_clo, hi_raw}) ::close(fd);
}

TEST(Process, StdinFromDevNullIsNotTheParents) {
    // Our stdin a pipe for the test: only the inheriting child may see it.
    int pipe_fds[2];
    ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
    const int saved = ::fcntl(0, F_DUPFD_CLOEXEC, 10);
    ASSERT_EQ(::dup2(pipe_fds[0], 0), 0);
    const std::string script = "test \"$(readlink /proc/self/fd/0)\" = /dev/null";
    ChildProcess c;
    ASSERT_TRUE(spawn_process({"sh", "-c", script}, c, Stdin::Null));
    EXPECT_EQ(wait_process(c), 0);
    EXPECT_EQ(run({"sh", "-c", script}), 1);
    if (saved >= 0) {
        ::dup2(saved, 0);
        ::close(saved);
    } else {
        ::close(0);
    }
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
}

TEST(Process, SignalStateIsReset) {
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &block, &old), 0);
    auto prev = ::signal(SIGINT, SIG_IGN);
    // A blocked or ignored signal in the parent would otherwise survive into the child.
    EXPECT_EQ(run({"sh", "-c", "kill -TERM $$; exit 0"}), kExitUnknown);
    EXPECT_EQ(run({"sh", "-c", "grep -q '^SigBlk:[[:space:]]*0*$' /proc/self/status"}), 0);
    ::signal(SIGINT, prev);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace
}  // namespace tv::platform
