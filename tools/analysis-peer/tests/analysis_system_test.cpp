#include "tolbex/app/analysis_system.h"

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "testing/test_root.h"
#include "platform/window_messages.h"

namespace tv {
namespace {

using platform::testing::TempRoot;

// The peer as a child process; stopped and reaped at the end of the test.
class Peer {
public:
    Peer(const TempRoot& root, std::vector<std::string> args) {
        ready_ = root / ("ready" + std::to_string(counter_++));
        args.push_back("--ready");
        args.push_back(ready_);
        std::vector<char*> argv;
        std::string program = TV_ANALYSIS_PEER;
        argv.push_back(program.data());
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 1000 && ::access(ready_.c_str(), F_OK) != 0; ++i) ::usleep(5000);
    }
    ~Peer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status;
            ::waitpid(pid_, &status, 0);
        }
    }
    bool ready() const { return ::access(ready_.c_str(), F_OK) == 0; }

private:
    static inline int counter_ = 0;
    pid_t pid_ = -1;
    std::string ready_;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(AnalysisSystemClosing, RevisionEightOrMoreSendsThreeMessagesInOrderAroundTheHide) {
    TempRoot root;
    const std::string record = root / "received.txt";
    Peer peer(root, {"--main", "--record", record});
    ASSERT_TRUE(peer.ready());
    std::vector<std::string> order;
    int n = notify_analysis_system_closing(8.006, [&] { order.push_back("hide:" + read_file(record)); });
    EXPECT_EQ(3, n);
    EXPECT_EQ("MSG_TOLBEX_ABOUT_TO_TERMINATE 0 0\nMSG_TOLBEX_CLOSED 0 0\nMSG_REDRAW_QUORRIL 0 0\n", read_file(record));
    // The hide step runs after the first message arrived and before the second.
    ASSERT_EQ(1u, order.size());
    EXPECT_EQ("hide:MSG_TOLBEX_ABOUT_TO_TERMINATE 0 0\n", order[0]);
}

TEST(AnalysisSystemClosing, BelowEightOrUnknownSendsOnlyClosed) {
    TempRoot root;
    const std::string record = root / "received.txt";
    Peer peer(root, {"--main", "--record", record});
    ASSERT_TRUE(peer.ready());
    bool hidden = false;
    EXPECT_EQ(1, notify_analysis_system_closing(7.5, [&] { hidden = true; }));
    EXPECT_EQ(1, notify_analysis_system_closing(0.0));
    EXPECT_FALSE(hidden);
    EXPECT_EQ("MSG_TOLBEX_CLOSED 0 0\nMSG_TOLBEX_CLOSED 0 0\n", read_file(record));
}

TEST(AnalysisSystemClosing, NoQuorrilWindowSendsNothing) {
    TempRoot root;
    const std::string record = root / "received.txt";
    Peer peer(root, {"--main", "--main-title", "Something else", "--record", record});
    ASSERT_TRUE(peer.ready());
    bool hidden = false;
    EXPECT_EQ(0, notify_analysis_system_closing(8.0, [&] { hidden = true; }));
    EXPECT_FALSE(hidden);
    EXPECT_EQ("", read_file(record));
}

TEST(ConfirmationQuery, ReturnsThePeersUserName) {
    TempRoot root;
    Peer peer(root, {"--identity", "--user", "Dr. M\xfcller"});
    ASSERT_TRUE(peer.ready());
    ConfirmingUser u = query_confirming_user(10000);
    EXPECT_EQ(kConfirmOk, u.status);
    EXPECT_EQ("Dr. M\xfcller", u.name);
}

TEST(ConfirmationQuery, LateAnswerStillCounts) {
    TempRoot root;
    Peer peer(root, {"--identity", "--user", "LATE", "--reply-delay", "400"});
    ASSERT_TRUE(peer.ready());
    ConfirmingUser u = query_confirming_user(10000);
    EXPECT_EQ(kConfirmOk, u.status);
    EXPECT_EQ("LATE", u.name);
}

TEST(ConfirmationQuery, NoIdentityWindowIsStatusSix) {
    TempRoot root;
    ConfirmingUser u = query_confirming_user(1000);
    EXPECT_EQ(kConfirmNoWindow, u.status);
    EXPECT_EQ("", u.name);
}

TEST(ConfirmationQuery, SilentPeerTimesOutWithStatusFour) {
    TempRoot root;
    Peer peer(root, {"--identity", "--never-answer"});
    ASSERT_TRUE(peer.ready());
    ConfirmingUser u = query_confirming_user(600);
    EXPECT_EQ(kConfirmSendFailed, u.status);
    EXPECT_EQ("", u.name);
}

TEST(ConfirmationQuery, VanishingPeerIsStatusFive) {
    TempRoot root;
    Peer peer(root, {"--identity", "--never-answer", "--vanish-after-query"});
    ASSERT_TRUE(peer.ready());
    ConfirmingUser u = query_confirming_user(10000);
    EXPECT_EQ(kConfirmVanished, u.status);
    EXPECT_EQ("", u.name);
}

TEST(ConfirmationQuery, BadRepliesGiveTheirStatusAndNoName) {
    TempRoot root;
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const std::vector<Case> cases = {
        {{"--reply-size", "91"}, kConfirmWrongSize},
        {{"--reply-size", "93"}, kConfirmWrongSize},
        {{"--reply-dwdata", "2"}, kConfirmWrongData},
        {{"--reply-class", "SomethingElse"}, kConfirmOtherClass},
        {{"--result", "1"}, kConfirmOk},  // accepted, but the window does not know the user
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--identity", "--user", "NAME"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Peer peer(root, args);
        ASSERT_TRUE(peer.ready());
        ConfirmingUser u = query_confirming_user(10000);
        EXPECT_EQ(c.status, u.status) << c.args[0];
        EXPECT_EQ("", u.name) << c.args[0];
    }
}

TEST(ConfirmationReply, NameStopsAtItsNulAndNeverPastTheRecord) {
    std::string name;
    std::string reply(92, '\0');
    EXPECT_EQ(kConfirmOk, check_confirm_reply(kIdentityWindowClass, 1, reply, name));
    EXPECT_EQ("", name);
    // A name field without its NUL is read to the end of the record and no further.
    for (std::size_t i = 28; i < 92; ++i) reply[i] = 'N';
    EXPECT_EQ(kConfirmOk, check_confirm_reply(kIdentityWindowClass, 1, reply, name));
    EXPECT_EQ(std::string(64, 'N'), name);
    // The class check is exact.
    EXPECT_EQ(kConfirmOtherClass, check_confirm_reply("hidewindowe98_i008", 1, reply, name));
    EXPECT_EQ("", name);
}

}  // namespace
}  // namespace tv
