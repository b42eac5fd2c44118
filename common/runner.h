// Starting other programs and waiting for their exit codes, optionally on a worker thread while
// the window thread keeps handling its messages.
//
// Exit codes: -1 = could not be started (a child's own exit(-1) reads the same), -2 = no exit
// code (killed by a signal, or the wait failed), otherwise the program's own code.
#pragma once
#include <string>

namespace tv {

// A started program that the caller waits for later (wait_program / program_ended).
struct ProcessInfo {
    int pid = -1;
};

// Show commands. A started program has no console window here, so they only say what the
// caller asked for.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

// Starts a Windows-style command line (first token names the program, "..." quotes a token).
// With `wait`: returns the exit code. Without: returns 0; with `out` the caller owns the child
// and must wait for it, without `out` the child is reaped in the background.
int run_program_with_show(const std::string& command_line, bool wait, int show, ProcessInfo* out = nullptr,
                          bool wait_for_input_idle = false);
int run_program(const std::string& command_line, bool wait, bool hidden, ProcessInfo* out = nullptr,
                bool wait_for_input_idle = false);
// Runs the program to its end on a worker thread; the calling (window) thread pumps messages and
// restores the wait cursor between waits of `slice_ms`. Returns the exit code.
int run_program_pumping_messages(const std::string& command_line, bool hidden, int slice_ms);

// Waits for a child started with an out-parameter; its exit code. The info is cleared.
int wait_program(ProcessInfo& info);
// Non-blocking: true and the exit code when the child has ended (the info is then cleared).
bool program_ended(ProcessInfo& info, int& exit_code);

// The window thread's message loop, installed by the windowed programs. Without one, pumping
// does nothing (console programs, tests).
class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Handles every queued message, then the framework's idle work.
    virtual void pump() = 0;
    // Shows the wait cursor again (a message handled meanwhile may have reset it).
    virtual void restore_wait_cursor() {}
    // Drops the window's queued user input (keys, mouse buttons and moves, scrolling); key and
    // button releases stay queued.
    virtual void discard_input(void* window) { (void)window; }
};

// Installs the pump (nullptr removes it). Call from the window thread at start-up.
void set_message_pump(MessagePump* pump);
void pump_messages();
void discard_input_messages(void* window);

}  // namespace tv
