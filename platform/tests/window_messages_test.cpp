#include "platform/window_messages.h"

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "testing/test_root.h"

namespace tv::platform {
namespace {

using testing::TempRoot;
using testing::fork_child;
using testing::wait_child;

// Waits until the window exists (the other process made it).
bool wait_for_window(const std::string& cls, const std::string& title) {
    for (int i = 0; i < 500; ++i) {
        if (find_window(cls, title)) return true;
        ::usleep(10000);
    }
    return false;
}

TEST(WindowMessages, RegisteredNumbersAreStableAndCaseBlind) {
    const unsigned a = register_window_message("MSG_TOLBEX_CLOSED");
    EXPECT_GE(a, 0xC000u);
    EXPECT_LE(a, 0xFFFFu);
    EXPECT_EQ(a, register_window_message("msg_tolbex_closed"));
    EXPECT_NE(a, register_window_message("MSG_REDRAW_QUORRIL"));
    EXPECT_EQ(0u, register_window_message(""));
}

TEST(WindowMessages, FindWindowByClassAndTitleOrTitleAlone) {
    TempRoot root;
    EXPECT_FALSE(find_window("Cls", "Title"));
    auto w = WindowEndpoint::create("Cls", "Title");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->address().socket_path.rfind(root.path() + "/run/windows/", 0), 0u);
    EXPECT_TRUE(find_window("Cls", "Title"));
    EXPECT_TRUE(find_window("CLS", "Title"));   // classes compare without case
    EXPECT_FALSE(find_window("Cls", "title"));  // titles exactly
    EXPECT_FALSE(find_window("Other", "Title"));
    EXPECT_TRUE(find_window("", "Title"));  // any class
    std::string error;
    EXPECT_FALSE(WindowEndpoint::create("Cls", "Title", &error));  // one live window per name
    EXPECT_FALSE(error.empty());
    w.reset();
    EXPECT_FALSE(find_window("Cls", "Title"));
    EXPECT_FALSE(find_window("", "Title"));
}

TEST(WindowMessages, StaleSocketOfEndedProgramIsReplacedAndNotFound) {
    TempRoot root;
    // A program that died without cleaning up leaves its socket file behind.
    pid_t pid = fork_child([] {
        auto w = WindowEndpoint::create("Cls", "Stale");
        if (!w) return 1;
        ::_exit(0);  // no destructor: the file stays
    });
    ASSERT_EQ(0, wait_child(pid));
    struct stat st;
    ASSERT_EQ(0, ::stat(window_socket_path("Cls", "Stale").c_str(), &st));
    EXPECT_FALSE(find_window("Cls", "Stale"));
    EXPECT_FALSE(find_window("", "Stale"));
    EXPECT_FALSE(send_window_message({"Cls", "Stale", window_socket_path("Cls", "Stale")}, "X", 0, 0, 500));
    EXPECT_TRUE(WindowEndpoint::create("Cls", "Stale"));
}

TEST(WindowMessages, RegisteredMessageAndCopyDataAcrossProcesses) {
    TempRoot root;
    // The window lives in a child process and answers three messages.
    pid_t pid = fork_child([] {
        auto w = WindowEndpoint::create("PeerClass", "Peer");
        if (!w) return 10;
        int handled = 0, bad = 0;
        for (int round = 0; round < 500 && handled < 3; ++round) {
            handled += w->process(
                [&](const WindowMessage& m) -> std::int64_t {
                    if (m.kind == WindowMessage::Kind::Registered) {
                        if (m.name != "MSG_HELLO" || m.wparam != 7 || m.lparam != 0xFFFFFFFFFFull) ++bad;
                        return 42;
                    }
                    if (m.dw_data != 1 || m.sender_class != "Asker" || m.sender_title != "T") ++bad;
                    return static_cast<std::int64_t>(m.data.size());
                },
                20);
        }
        return handled == 3 && bad == 0 ? 0 : 11;
    });
    ASSERT_TRUE(wait_for_window("PeerClass", "Peer"));
    WindowAddress peer = find_window("PeerClass", "Peer");
    EXPECT_EQ(42, send_window_message(peer, "MSG_HELLO", 7, 0xFFFFFFFFFFull, 5000).value_or(-1));
    std::string bytes(92, '\0');
    bytes[28] = 'A';
    EXPECT_EQ(92, send_copy_data(peer, 1, bytes, 5000, {"Asker", "T"}).value_or(-1));
    // An empty copy-data (the confirmation query carries no bytes).
    EXPECT_EQ(0, send_copy_data(peer, 1, {}, 5000, {"Asker", "T"}).value_or(-1));
    EXPECT_EQ(0, wait_child(pid));
}

TEST(WindowMessages, SendTimesOutWhenTheWindowDoesNotAnswer) {
    TempRoot root;
    auto w = WindowEndpoint::create("Slow", "Slow");
    ASSERT_TRUE(w);
    // Nobody calls process(): the connection waits in the backlog.
    EXPECT_FALSE(send_window_message(w->address(), "X", 0, 0, 100));
    EXPECT_FALSE(send_window_message({}, "X", 0, 0, 100));
    EXPECT_FALSE(send_copy_data(w->address(), 1, std::string(kMaxCopyData + 1, 'x'), 100));
}

TEST(WindowMessages, HostileRequestsAreDroppedAndTheWindowKeepsServing) {
    TempRoot root;
    auto w = WindowEndpoint::create("Srv", "Srv");
    ASSERT_TRUE(w);
    std::atomic<bool> stop{false};
    std::atomic<int> seen{0};
    std::thread server([&] {
        while (!stop) seen += w->process([](const WindowMessage&) -> std::int64_t { return 5; }, 20);
    });
    auto raw_send = [&](const std::string& bytes) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string path = w->address().socket_path;
        std::memcpy(addr.sun_path, path.c_str(), path.size());
        ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ::close(fd);
    };
    raw_send("garbage that is not a request");
    std::string huge("TVWM\x01\0\0\0\0\0\0\0", 12);
    huge += std::string(16, '\0');
    huge += std::string("\xff\xff\xff\x7f", 4);  // a name length far past any limit
    raw_send(huge);
    raw_send("");
    EXPECT_EQ(5, send_window_message(w->address(), "OK", 1, 2, 5000).value_or(-1));
    stop = true;
    server.join();
    EXPECT_EQ(1, seen.load());
}

}  // namespace
}  // namespace tv::platform
