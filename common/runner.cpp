#include "common/runner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "common/text.h"
#include "platform/process.h"

namespace tv {

namespace {

std::atomic<MessagePump*> g_pump{nullptr};

// Reaps a child nobody waits for, so that it leaves no zombie behind.
void reap_in_background(pid_t pid) {
    try {
        std::thread([pid] {
            platform::ChildProcess child{pid};
            platform::wait_process(child);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays unreaped until this process ends.
    }
}

}  // namespace

int run_program_with_show(const std::string& command_line, bool wait, int show, ProcessInfo* out,
                          bool wait_for_input_idle) {
    // Neither the show command nor a new console has a meaning for a Linux child, and a program
    // without a message queue is idle for input as soon as it runs.
    (void)show;
    (void)wait_for_input_idle;
    std::vector<std::string> argv;
    split_command_line(command_line, argv);
    if (argv.empty() || argv[0].empty()) return platform::kExitNotStarted;
    platform::ChildProcess child;
    if (!platform::spawn_process(argv, child)) return platform::kExitNotStarted;
    if (wait) return platform::wait_process(child);
    if (out)
        out->pid = child.pid;
    else
        reap_in_background(child.pid);
    return 0;
}

int run_program(const std::string& command_line, bool wait, bool hidden, ProcessInfo* out, bool wait_for_input_idle) {
    return run_program_with_show(command_line, wait, hidden ? SW_HIDE : SW_SHOW, out, wait_for_input_idle);
}

int run_program_pumping_messages(const std::string& command_line, bool hidden, int slice_ms) {
    // A program that cannot be found fails at once, without a thread to wait for.
    std::vector<std::string> argv;
    split_command_line(command_line, argv);
    if (argv.empty() || platform::resolve_program(argv[0]).empty()) return platform::kExitNotStarted;

    // The worker writes the exit code once, before it ends; this thread reads it after the join.
    struct Block {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        int exit_code = platform::kExitNotStarted;
    };
    auto block = std::make_shared<Block>();
    std::thread worker;
    try {
        worker = std::thread([block, command_line, hidden] {
            const int code = run_program(command_line, true, hidden);
            std::lock_guard<std::mutex> lock(block->mutex);
            block->exit_code = code;
            block->done = true;
            block->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return platform::kExitNotStarted;
    }

    const auto slice = std::chrono::milliseconds(slice_ms > 0 ? slice_ms : 1);
    for (;;) {
        pump_messages();
        if (MessagePump* pump = g_pump.load()) pump->restore_wait_cursor();
        std::unique_lock<std::mutex> lock(block->mutex);
        if (block->ended.wait_for(lock, slice, [&] { return block->done; })) break;
    }
    worker.join();
    return block->exit_code;
}

int wait_program(ProcessInfo& info) {
    if (info.pid <= 0) return platform::kExitUnknown;
    platform::ChildProcess child{static_cast<pid_t>(info.pid)};
    info.pid = -1;
    return platform::wait_process(child);
}

bool program_ended(ProcessInfo& info, int& exit_code) {
    if (info.pid <= 0) {
        exit_code = platform::kExitUnknown;
        return true;
    }
    platform::ChildProcess child{static_cast<pid_t>(info.pid)};
    if (!platform::try_wait_process(child, exit_code)) return false;
    info.pid = -1;
    return true;
}

void set_message_pump(MessagePump* pump) { g_pump.store(pump); }

void pump_messages() {
    if (MessagePump* pump = g_pump.load()) pump->pump();
}

void discard_input_messages(void* window) {
    if (MessagePump* pump = g_pump.load()) pump->discard_input(window);
}

}  // namespace tv
