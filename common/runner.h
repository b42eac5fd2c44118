// Starting other programs and waiting for their exit codes, optionally while the window thread
// keeps handling its messages. Every child the programs start goes through here.
//
// Exit codes: -1 = could not be started (a child's own exit(-1) reads the same), -2 = no exit
// code (killed by a signal, or the wait failed), otherwise the program's own code.
#pragma once
#include <string>
#include <vector>

#include "platform/process.h"

namespace tv {

// How a child program ended.
struct ChildEnd {
    enum class How { NotStarted, Exited, Signalled, Lost };
    How how = How::NotStarted;
    int exit_code = 0;  // Exited: the program's own status byte, 0..255
    int signal = 0;     // Signalled: the signal that ended it
    bool started() const { return how != How::NotStarted; }
    // The convention above: the exit code, -1 not started (or exit status 255), -2 otherwise.
    int code() const;
};

// While a window thread waits for a child it keeps handling messages, so a user could start the
// same command again or close the program under the wait. Every such wait holds a guard; commands
// that must not run twice disable themselves while child_run_in_progress(), and the main window
// refuses to close.
class ChildRunGuard {
public:
    ChildRunGuard();
    ~ChildRunGuard();
    ChildRunGuard(const ChildRunGuard&) = delete;
    ChildRunGuard& operator=(const ChildRunGuard&) = delete;
};
bool child_run_in_progress();

// How long a pumping wait waits for the child between two rounds of messages: the window answers
// within this, so it is short.
inline constexpr int kPumpSliceMs = 50;

// One child program, started with an argument vector (never a shell; argv[0] is found as
// platform::resolve_program finds it). The destructor ends a child still running (end()).
class ChildProgram {
public:
    ChildProgram() = default;
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;
    // The child (and its guard) go with the move; the source is left with none.
    ChildProgram(ChildProgram&& other) noexcept;
    ChildProgram& operator=(ChildProgram&& other) noexcept;

    // False when it could not be started (end().how is then NotStarted). `hold_guard` keeps a
    // ChildRunGuard until the child has been reaped; `io` says where its standard streams come from and go.
    bool start(const std::vector<std::string>& argv, const platform::ChildIo& io = {}, bool hold_guard = false);
    bool running() const { return child_.pid > 0; }
    int pid() const { return child_.pid; }
    // Non-blocking: true once it has ended (or was never started), with how.
    bool poll(ChildEnd& end);
    // Blocks the calling thread until it ends.
    ChildEnd wait();
    // Blocks up to `ms`: true, with how, when it has ended by then.
    bool wait_for(int ms, ChildEnd& end);
    // The window thread's wait: under the wait cursor and a guard, pumps messages and restores the
    // cursor, then waits up to `slice_ms` for the end, until it ends; while a DeferredStop holds
    // a stop, the child is ended (end()) instead.
    ChildEnd wait_pumping(int slice_ms = kPumpSliceMs);
    // Asks it to end (SIGTERM) and returns at once; false when nothing runs. The caller goes on
    // polling or waiting.
    bool request_end();
    // request_end(), then SIGKILL when it has not ended within `grace_ms`; reaps it.
    ChildEnd end(int grace_ms = 2000);

private:
    void finished(int status);
    platform::ChildProcess child_;
    ChildEnd end_;
    ChildRunGuard* guard_ = nullptr;
};

// Starts argv and waits: pumping (the window thread stays live) or blocking.
ChildEnd run_child(const std::vector<std::string>& argv, bool pumping = true, const platform::ChildIo& io = {});
// The same with the child's input from /dev/null and its output (stdout and stderr) into `said`,
// blanks at both ends trimmed and at most `max_bytes` kept (its first, or with `last` its last):
// what a tool tells when it fails. The output goes to a private file, so a child that says much
// never blocks, and no more than `max_bytes` of it is read.
ChildEnd run_child_output(const std::vector<std::string>& argv, std::string& said, bool pumping = true,
                          std::size_t max_bytes = 2000, bool last = false);
// Starts argv without waiting; the child is reaped in the background. False when it did not start.
bool start_child_detached(const std::vector<std::string>& argv);

// A site's program setting ("/opt/feed -q") as the words of its argv: the whole text when it
// names an executable file (a path with blanks), else split at blanks and TABs, where "..." keeps
// blanks inside one word (the quotes are dropped). The check of the setting and its run both take
// the program from here, so a name one accepts the other starts.
std::vector<std::string> split_program_name(const std::string& program_name);

// The window thread's message loop, installed by the windowed programs. Without one, pumping
// does nothing (console programs, tests).
class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Handles every queued message, then the framework's idle work.
    virtual void pump() = 0;
    // Shows the wait cursor again (a message handled meanwhile may have reset it).
    virtual void restore_wait_cursor() {}
    // The wait cursor around a pumping wait.
    virtual void begin_wait_cursor() {}
    virtual void end_wait_cursor() {}
    // The first guard was taken or the last one let go: commands are enabled anew. Called on the
    // thread that took or dropped the guard.
    virtual void child_runs_changed() {}
};

// Installs the pump (nullptr removes it). Call from the window thread at start-up.
void set_message_pump(MessagePump* pump);
void pump_messages();

}  // namespace tv
