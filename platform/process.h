// Child processes. Exit codes follow the Windows programs' conventions:
// -1 = could not start (and a child's exit status 255, which is what exit(-1) gives),
// -2 = no exit code (killed by a signal, or the wait failed).
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace tv::platform {

inline constexpr int kExitNotStarted = -1;
inline constexpr int kExitUnknown = -2;

// Maps a waitpid status to the convention above.
int exit_code_from_status(int status);

// The installed program for a name as the system spells it: an existing file is taken as is;
// otherwise the name is looked up case-insensitively in its folder (itself resolved
// case-insensitively), first as given, then without a trailing ".EXE" (any case); a bare name is
// searched along PATH the same way. Only executable regular files count. Empty when none.
std::string resolve_program(const std::string& program);

struct ChildProcess {
    pid_t pid = -1;
};

// Starts argv[0] (resolved with resolve_program; the child's argv[0] is the resolved path) with
// the remaining arguments, inheriting the environment and current folder. No file descriptor
// beyond 0-2 is inherited (everything is opened close-on-exec, and the rest is closed too); the
// child starts with no blocked signals and default handlers. Returns false when it could not start.
// With Stdin::Null the child reads /dev/null instead of our stdin (a console program must not take
// the terminal's input from us), with Stdin::File the file `ChildIo::input_file`; with Stdout::Null it
// writes its output to /dev/null (a program started hidden says nothing on our console).
enum class Stdin { Inherit, Null, File };
enum class Stdout { Inherit, Null };
// The standard streams a child starts with; `output_file`, when set, takes its stdout and stderr
// (created 0600, or truncated). A file that cannot be opened fails the start.
struct ChildIo {
    ChildIo(Stdin in = Stdin::Inherit, Stdout out = Stdout::Inherit)  // NOLINT: a bare Stdin says all most callers need
        : input(in), output(out) {}
    Stdin input;
    Stdout output;
    std::string input_file;
    std::string output_file;
};
bool spawn_process(const std::vector<std::string>& argv, ChildProcess& child, const ChildIo& io = {});
// Waits for the child; its exit code by the convention above.
int wait_process(ChildProcess& child);
// The same with the raw waitpid status, for callers that tell an exit from a signal: `status` is
// -1 when the wait failed or there is no child. The child is reaped (pid -1) once it has ended.
void wait_process_status(ChildProcess& child, int& status);
// Non-blocking: true once the child has ended (or there is no child).
bool try_wait_process_status(ChildProcess& child, int& status);

}  // namespace tv::platform
