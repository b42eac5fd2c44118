#include "common/runner.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "common/deferred_stop.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace tv {

namespace {

std::atomic<MessagePump*> g_pump{nullptr};
std::atomic<int> g_guards{0};

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

ChildEnd end_from_status(int status) {
    ChildEnd end;
    if (status < 0) {
        end.how = ChildEnd::How::Lost;
    } else if (WIFEXITED(status)) {
        end.how = ChildEnd::How::Exited;
        end.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.how = ChildEnd::How::Signalled;
        end.signal = WTERMSIG(status);
    } else {
        end.how = ChildEnd::How::Lost;
    }
    return end;
}

}  // namespace

int ChildEnd::code() const {
    switch (how) {
        case How::NotStarted: return platform::kExitNotStarted;
        case How::Exited: return exit_code == 255 ? platform::kExitNotStarted : exit_code;
        case How::Signalled:
        case How::Lost: break;
    }
    return platform::kExitUnknown;
}

// --- ChildRunGuard

ChildRunGuard::ChildRunGuard() {
    if (g_guards.fetch_add(1) == 0)
        if (MessagePump* pump = g_pump.load()) pump->child_runs_changed();
}

ChildRunGuard::~ChildRunGuard() {
    if (g_guards.fetch_sub(1) == 1)
        if (MessagePump* pump = g_pump.load()) pump->child_runs_changed();
}

bool child_run_in_progress() { return g_guards.load() > 0; }

// --- ChildProgram

ChildProgram::~ChildProgram() {
    if (running()) end();
    delete guard_;
}

ChildProgram::ChildProgram(ChildProgram&& other) noexcept
    : child_(other.child_), end_(other.end_), guard_(other.guard_) {
    other.child_.pid = -1;
    other.guard_ = nullptr;
}

ChildProgram& ChildProgram::operator=(ChildProgram&& other) noexcept {
    if (this == &other) return *this;
    if (running()) end();
    delete guard_;
    child_ = other.child_;
    end_ = other.end_;
    guard_ = other.guard_;
    other.child_.pid = -1;
    other.guard_ = nullptr;
    return *this;
}

bool ChildProgram::start(const std::vector<std::string>& argv, const platform::ChildIo& io, bool hold_guard) {
    if (running()) end();
    end_ = ChildEnd{};
    if (argv.empty() || argv[0].empty() || !platform::spawn_process(argv, child_, io)) return false;
    if (hold_guard && !guard_) guard_ = new ChildRunGuard;
    return true;
}

void ChildProgram::finished(int status) {
    end_ = end_from_status(status);
    delete guard_;
    guard_ = nullptr;
}

bool ChildProgram::poll(ChildEnd& end) {
    if (running()) {
        int status = -1;
        if (!platform::try_wait_process_status(child_, status)) return false;
        finished(status);
    }
    end = end_;
    return true;
}

ChildEnd ChildProgram::wait() {
    if (running()) {
        int status = -1;
        platform::wait_process_status(child_, status);
        finished(status);
    }
    return end_;
}

// Short polls: a quick child is noticed quickly.
bool ChildProgram::wait_for(int ms, ChildEnd& end) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    auto pause = std::chrono::microseconds(200);
    while (!poll(end)) {
        if (std::chrono::steady_clock::now() >= limit) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
    return true;
}

ChildEnd ChildProgram::wait_pumping(int slice_ms) {
    if (!running()) return end_;
    ChildRunGuard guard;
    MessagePump* pump = g_pump.load();
    if (pump) pump->begin_wait_cursor();
    ChildEnd end;
    do {
        pump_messages();
        if (pump) pump->restore_wait_cursor();
        // A stop held for an all-or-nothing change ends the child that change waits for.
        if (DeferredStop::requested()) {
            end = this->end();
            break;
        }
    } while (!wait_for(slice_ms > 0 ? slice_ms : 1, end));
    if (pump) pump->end_wait_cursor();
    return end;
}

bool ChildProgram::request_end() {
    if (!running()) return false;
    return ::kill(child_.pid, SIGTERM) == 0;
}

ChildEnd ChildProgram::end(int grace_ms) {
    if (!running()) return end_;
    request_end();
    ChildEnd end;
    if (wait_for(grace_ms, end)) return end;
    ::kill(child_.pid, SIGKILL);
    return wait();
}

ChildEnd run_child(const std::vector<std::string>& argv, bool pumping, const platform::ChildIo& io) {
    ChildProgram child;
    if (!child.start(argv, io)) return {};
    return pumping ? child.wait_pumping() : child.wait();
}

ChildEnd run_child_output(const std::vector<std::string>& argv, std::string& said, bool pumping, std::size_t max_bytes,
                          bool last) {
    said.clear();
    // A private folder: nobody else can put a file or a link where the output goes.
    const TempFolder temp;
    const std::string& folder = temp.path();
    if (folder.empty()) return {};
    platform::ChildIo io(platform::Stdin::Null);
    io.output_file = join_path(folder, "output.txt");
    const ChildEnd end = run_child(argv, pumping, io);
    const OutsideFile f = open_outside_file(io.output_file, UINT64_MAX);
    std::string text(f ? std::min<std::uint64_t>(f.size, max_bytes) : 0, '\0');
    if (f && platform::pread_all(f.fd.get(), text.data(), text.size(), last ? f.size - text.size() : 0)) {
        const auto blank = [](char c) { return is_space_char(c); };
        while (!text.empty() && blank(text.back())) text.pop_back();
        const auto first = std::find_if_not(text.begin(), text.end(), blank);
        said.assign(first, text.end());
    }
    return end;
}

bool start_child_detached(const std::vector<std::string>& argv) {
    platform::ChildProcess child;
    if (argv.empty() || argv[0].empty() || !platform::spawn_process(argv, child)) return false;
    reap_in_background(child.pid);
    return true;
}

void set_message_pump(MessagePump* pump) { g_pump.store(pump); }

void pump_messages() {
    if (MessagePump* pump = g_pump.load()) pump->pump();
}

std::vector<std::string> split_program_name(const std::string& program_name) {
    // A link to the program is the administrator's choice, so the test follows it.
    if (program_name.find(' ') != std::string::npos && file_exists(program_name) &&
        ::access(program_name.c_str(), X_OK) == 0)
        return {program_name};
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (char c : program_name) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

}  // namespace tv
