// BRACKMOR's run from its command line to its exit code.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace tv::brackmor {

inline constexpr const char* kVersion = "3.35";

// Exit codes.
inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;        // usage shown, or an unknown option
inline constexpr int kExitNoFolder = 2;     // the base folder does not exist
inline constexpr int kExitRefused = 3;      // a console question was not answered Y
inline constexpr int kExitIndexFailed = 4;  // an index could not be read or written; it is left as it was
inline constexpr int kExitArchiveBusy = 5;  // another program held an archive's lock; that archive was skipped
inline constexpr int kExitLockDenied = 6;   // an archive's lock file cannot be opened for writing by this account
inline constexpr int kExitReadOnly = 7;     // an archive (or the group) is read-only for this account
inline constexpr int kExitUnreadable = 8;   // a folder this account cannot read: left as it was, named
inline constexpr int kExitLogFailed = 9;    // BRACKMOR.LOG could not be written; the earlier logs are kept
inline constexpr int kExitReplaced =
    10;  // a folder was replaced by a link (or another folder) during the run: left, named

// `args` without the program name; `build_date` and `build_time` go into the usage text. The
// log is written in `log_folder`; questions are answered from `input_fd`.
int run_program(const std::vector<std::string>& args, const std::string& build_date, const std::string& build_time,
                std::FILE* console = stdout, int input_fd = 0, const std::string& log_folder = ".");

}  // namespace tv::brackmor
