#include "common/runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <algorithm>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tv {
namespace {

const std::string kChild = TV_TEST_CHILD;

class CountingPump : public MessagePump {
public:
    int pumps = 0, cursors = 0;
    void pump() override { ++pumps; }
    void restore_wait_cursor() override { ++cursors; }
};

class RunnerTest : public ::testing::Test {
protected:
    void TearDown() override { set_message_pump(nullptr); }
};

// Children of this process that are still listed (running, or ended and not reaped).
int listed_children() {
    int count = 0;
    const std::string me = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // "pid (comm) state ppid ...": the command may hold blanks, so read after the last ')'.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && std::to_string(ppid) == me) ++count;
    }
    return count;
}

TEST_F(RunnerTest, ChildEndsTellExitFromSignal) {
    using How = ChildEnd::How;
    struct Case {
        std::vector<std::string> argv;
        How how;
        int exit_code, signal, code;
    } cases[] = {
        {{kChild, "exit", "0"}, How::Exited, 0, 0, 0},
        {{kChild, "exit", "123"}, How::Exited, 123, 0, 123},
        {{kChild, "exit-minus-one"}, How::Exited, 255, 0, -1},
        {{kChild, "kill-self"}, How::Signalled, 0, SIGKILL, -2},
        {{"sh", "-c", "kill -TERM $$"}, How::Signalled, 0, SIGTERM, -2},
        {{"/nonexistent/VOND.EXE", "/wav"}, How::NotStarted, 0, 0, -1},
        {{""}, How::NotStarted, 0, 0, -1},
        {{}, How::NotStarted, 0, 0, -1},
    };
    CountingPump pump;
    set_message_pump(&pump);
    for (const Case& c : cases)
        for (bool pumping : {false, true}) {
            const ChildEnd end = run_child(c.argv, pumping);
            const std::string what = (c.argv.empty() ? std::string("{}") : c.argv.back()) + (pumping ? " pumping" : "");
            EXPECT_EQ(c.how, end.how) << what;
            EXPECT_EQ(c.exit_code, end.exit_code) << what;
            EXPECT_EQ(c.signal, end.signal) << what;
            EXPECT_EQ(c.code, end.code()) << what;
        }
    EXPECT_FALSE(child_run_in_progress());
}

TEST_F(RunnerTest, AGuardIsHeldWhileAPumpingWaitRuns) {
    struct Watching : CountingPump {
        std::vector<bool> seen;  // child_run_in_progress() at each change and each pump
        int cursor_depth = 0, deepest = 0;
        void pump() override {
            CountingPump::pump();
            seen.push_back(child_run_in_progress());
        }
        void begin_wait_cursor() override { deepest = std::max(deepest, ++cursor_depth); }
        void end_wait_cursor() override { --cursor_depth; }
        void child_runs_changed() override { seen.push_back(child_run_in_progress()); }
    } pump;
    set_message_pump(&pump);
    EXPECT_FALSE(child_run_in_progress());
    EXPECT_EQ(5, run_child({kChild, "sleep", "600", "5"}).code());
    EXPECT_FALSE(child_run_in_progress());
    ASSERT_GE(pump.seen.size(), 3u);
    EXPECT_TRUE(pump.seen.front());  // taken before the first pump
    EXPECT_FALSE(pump.seen.back());  // let go after the end
    EXPECT_EQ(1, pump.deepest);
    EXPECT_EQ(0, pump.cursor_depth);

    // A child that holds its guard until it is reaped; ending it by request reads as a signal.
    ChildProgram child;
    ASSERT_TRUE(child.start({kChild, "sleep", "60000", "0"}, platform::Stdin::Null, true));
    EXPECT_TRUE(child_run_in_progress());
    ChildEnd end;
    EXPECT_FALSE(child.poll(end));
    EXPECT_TRUE(child.request_end());
    ASSERT_TRUE(child.wait_for(60000, end));
    EXPECT_EQ(ChildEnd::How::Signalled, end.how);
    EXPECT_EQ(SIGTERM, end.signal);
    EXPECT_FALSE(child_run_in_progress());
    EXPECT_FALSE(child.request_end());
}

TEST_F(RunnerTest, StandardStreamsFromAndIntoFiles) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("runner_io_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string in = (dir / "in.txt").string(), out = (dir / "out.txt").string();
    std::ofstream(in) << "message\n";
    std::ofstream(out) << "an older and longer text that the run replaces";
    platform::ChildIo io(platform::Stdin::File);
    io.input_file = in;
    io.output_file = out;
    EXPECT_EQ(3, run_child({"/bin/sh", "-c", "cat; echo said >&2; exit 3"}, false, io).code());
    std::ifstream said(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(said), {}), "message\nsaid\n");
    // A stream that cannot be opened fails the start; nothing runs.
    io.input_file = (dir / "missing").string();
    EXPECT_EQ(ChildEnd::How::NotStarted, run_child({"/bin/true"}, false, io).how);
    std::filesystem::remove_all(dir);
}

TEST_F(RunnerTest, StartWithoutWaiting) {
    ChildProgram polled;
    ASSERT_TRUE(polled.start({kChild, "sleep", "50", "4"}));
    ChildEnd end;
    while (!polled.poll(end)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(end.code(), 4);
    EXPECT_FALSE(polled.running());

    // A detached child is reaped in the background: none stays behind as a zombie.
    ASSERT_TRUE(start_child_detached({kChild, "exit", "3"}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (listed_children() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(listed_children(), 0);

    EXPECT_FALSE(start_child_detached({"/nonexistent/x"}));
    EXPECT_FALSE(start_child_detached({""}));
    EXPECT_EQ(run_child({"/nonexistent/PROGRAM.EXE", "/x"}, false).code(), -1);
}

TEST_F(RunnerTest, PumpsMessagesWhileTheProgramRuns) {
    CountingPump pump;
    set_message_pump(&pump);
    ChildProgram sleeper;
    ASSERT_TRUE(sleeper.start({kChild, "sleep", "2000", "7"}));
    EXPECT_EQ(sleeper.wait_pumping(500).code(), 7);
    // A two-second run waited in half-second slices pumps between them.
    EXPECT_GE(pump.pumps, 2);
    EXPECT_EQ(pump.cursors, pump.pumps);

    EXPECT_EQ(run_child({kChild, "exit-minus-one"}).code(), -1);
    EXPECT_EQ(run_child({kChild, "kill-self"}).code(), -2);
}

TEST_F(RunnerTest, PumpingAMissingProgramFailsAtOnce) {
    CountingPump pump;
    set_message_pump(&pump);
    EXPECT_EQ(run_child({"/nonexistent/KELMOTH.EXE", "/type", "1"}).code(), -1);
    EXPECT_EQ(pump.pumps, 0);  // no worker was started, nothing was waited for
}

}  // namespace
}  // namespace tv
