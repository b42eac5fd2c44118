// peak-rss OUT PROGRAM [ARG ...]: runs PROGRAM and writes the largest resident size (KiB) of it
// and of the children it waited for into OUT; exits with its exit code (128 + the signal).
//
// A test cannot measure this for a child it forks itself: the kernel counts the pages the child
// shared with its large parent before the exec. This launcher is small, so what it reports is
// the program's own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: peak-rss OUT PROGRAM [ARG ...]\n");
        return 125;
    }
    const pid_t pid = ::fork();
    if (pid < 0) return 126;
    if (pid == 0) {
        ::execv(argv[2], argv + 2);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {}
    if (std::FILE* out = std::fopen(argv[1], "w")) {
        std::fprintf(out, "%ld\n", usage.ru_maxrss);
        std::fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
