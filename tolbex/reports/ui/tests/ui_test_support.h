// Shared pieces of the window tests: one offscreen QApplication, a fresh machine root with the
// scripted prompter, and the analysis-system peer as a child process. Kept with the lowest window
// layer, so that the browser's and the application's window tests both see it.
#pragma once
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QApplication>

#include <gtest/gtest.h>

#include "testing/app_test_root.h"
#include "tolbex/app/tolbex_strings.h"

namespace tv::uitest {

inline QApplication& qt_app() {
    static int argc = 1;
    static char name[] = "tolbex_ui_tests";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Lets queued events (posted commands, deferred closes, layout) run.
inline void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class UiRootTest : public testing_root::RootTest {
protected:
    UiRootTest() : RootTest(TmpDir::Inside) { qt_app(); }
    void SetUp() override {
        register_tolbex_strings();
        RootTest::SetUp();
    }
};

// The analysis system's windows, played by tools/analysis-peer; stopped at the end of the test.
class Peer {
public:
    Peer(const std::string& ready_file, std::vector<std::string> args) : ready_(ready_file) {
        args.push_back("--ready");
        args.push_back(ready_);
        std::string program = TV_ANALYSIS_PEER;
        std::vector<char*> argv{program.data()};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 1000 && !ready(); ++i) ::usleep(5000);
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
    pid_t pid_ = -1;
    std::string ready_;
};

}  // namespace tv::uitest
