// The analysis-system peer as a test's child process.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tv::testing {

// The analysis system's windows, played by tools/analysis-peer (the test program defines
// TV_ANALYSIS_PEER) as a child process: started with "--ready" and waited for up to 5 s, stopped and
// reaped at the end of the test.
class AnalysisPeer {
public:
    AnalysisPeer(const std::string& ready_file, std::vector<std::string> args) : ready_(ready_file) {
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
    AnalysisPeer(const AnalysisPeer&) = delete;
    AnalysisPeer& operator=(const AnalysisPeer&) = delete;
    ~AnalysisPeer() {
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

}  // namespace tv::testing
