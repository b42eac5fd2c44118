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
#include "testing/analysis_peer.h"
#include "testing/test_files.h"
#include "platform/window_messages.h"

namespace tv {
namespace {

using platform::testing::TempRoot;

using Peer = testing::AnalysisPeer;

// A fresh ready file for each peer of a test.
std::string ready_file(const TempRoot& root) {
    static int counter = 0;
    return root / ("ready" + std::to_string(counter++));
}

using testing::read_file;

TEST(AnalysisSystemClosing, RevisionEightOrMoreSendsThreeMessagesInOrderAroundTheHide) {
    TempRoot root;
    const std::string record = root / "received.txt";
    Peer peer(ready_file(root), {"--main", "--record", record});
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
    Peer peer(ready_file(root), {"--main", "--record", record});
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
    Peer peer(ready_file(root), {"--main", "--main-title", "Something else", "--record", record});
    ASSERT_TRUE(peer.ready());
    bool hidden = false;
    EXPECT_EQ(0, notify_analysis_system_closing(8.0, [&] { hidden = true; }));
    EXPECT_FALSE(hidden);
    EXPECT_EQ("", read_file(record));
}

TEST(ConfirmationQuery, ReturnsThePeersUserName) {
    TempRoot root;
    Peer peer(ready_file(root), {"--identity", "--user", "Dr. M\xfcller"});
    ASSERT_TRUE(peer.ready());
    ConfirmingUser u = query_confirming_user(10000);
    EXPECT_EQ(kConfirmOk, u.status);
    EXPECT_EQ("Dr. M\xfcller", u.name);
}

TEST(ConfirmationQuery, LateAnswerStillCounts) {
    TempRoot root;
    Peer peer(ready_file(root), {"--identity", "--user", "LATE", "--reply-delay", "400"});
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
    Peer peer(ready_file(root), {"--identity", "--never-answer"});
    ASSERT_TRUE(peer.ready());
    ConfirmingUser u = query_confirming_user(600);
    EXPECT_EQ(kConfirmSendFailed, u.status);
    EXPECT_EQ("", u.name);
}

TEST(ConfirmationQuery, VanishingPeerIsStatusFive) {
    TempRoot root;
    Peer peer(ready_file(root), {"--identity", "--never-answer", "--vanish-after-query"});
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
        Peer peer(ready_file(root), args);
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
