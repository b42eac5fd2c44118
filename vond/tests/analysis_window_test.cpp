// The analysis system's window as vond sees it, against the peer tool run as its own process.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "vond/messages.h"
#include "vond/tests/vond_fixture.h"

namespace {

using vondtest::VondTest;
namespace fs = std::filesystem;

class AnalysisWindowTest : public VondTest {
protected:
    void start_peer(std::vector<std::string> args) {
        const std::string ready = (t / "ready").string();
        args.insert(args.begin(), TV_ANALYSIS_PEER);
        args.push_back("--ready");
        args.push_back(ready);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        peer_ = ::fork();
        if (peer_ == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 1000 && ::access(ready.c_str(), F_OK) != 0; ++i) ::usleep(5000);
        ASSERT_EQ(::access(ready.c_str(), F_OK), 0);
    }
    void TearDown() override {
        if (peer_ > 0) {
            ::kill(peer_, SIGTERM);
            int status;
            ::waitpid(peer_, &status, 0);
        }
        VondTest::TearDown();
    }
    pid_t peer_ = -1;
};

TEST_F(AnalysisWindowTest, WithoutTheWindowNothingHappens) {
    tv::vond::minimise_analysis_window();
    EXPECT_EQ(tv::vond::notify_analysis_window(), 0);
    // A window of another title is not the analysis system.
    start_peer({"--main", "--main-title", "Quorril 2", "--record", (t / "rec").string()});
    tv::vond::minimise_analysis_window();
    EXPECT_EQ(tv::vond::notify_analysis_window(), 0);
    EXPECT_FALSE(fs::exists(t / "rec"));
}

TEST_F(AnalysisWindowTest, MinimisedBeforeABoxAndToldAfterwards) {
    const fs::path rec = t / "rec";
    start_peer({"--main", "--record", rec.string()});
    tv::vond::minimise_analysis_window();
    EXPECT_EQ(tv::vond::notify_analysis_window(), 1);  // the window's own answer
    EXPECT_EQ(vondtest::slurp(rec), "WM_SYSCOMMAND 61472 0\nMSG_TOLBEX_CLOSED 0 0\n");

    tv::ScriptedUi scripted;
    tv::set_ui(&scripted);
    tv::vond::show_card_message(136, tv::MsgIcon::Warning, tv::MsgButtons::Ok, false);
    tv::set_ui(nullptr);
    ASSERT_EQ(scripted.shown.size(), 1u);
    // The initialisation messages are not followed by a notification.
    EXPECT_EQ(vondtest::slurp(rec), "WM_SYSCOMMAND 61472 0\nMSG_TOLBEX_CLOSED 0 0\nWM_SYSCOMMAND 61472 0\n");
}

}  // namespace
