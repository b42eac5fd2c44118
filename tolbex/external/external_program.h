// Hand-over of reports to the site's external program: one run per report, each with an argument
// vector (never a shell), on a worker thread while the window thread waits; afterwards the user
// hears of a start failure, a non-zero exit code, or the error file the program may write.
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "tolbex/transfer/report_handover.h"

namespace tv {

inline constexpr const char* kExternalErrorTitle = "The external program returned this error message:";
// The error file is shown up to this many bytes or lines, then "...".
inline constexpr std::size_t kErrorFileShownBytes = 8192;
inline constexpr int kErrorFileShownLines = 40;

// The run of one job: the program's words, the kind, the report folder and, when one is set, the
// error file, each one argument.
std::vector<std::string> external_program_argv(const ExternalProgramSettings& settings, const ExternalJobEntry& job);

// Before a run: makes the error file's folder and removes an old error file, telling the user
// (through ui()) when either fails; false then, and nothing is to be run.
bool prepare_error_file(const std::string& error_file);

// What one hand-over shares between its worker and the window thread. The worker writes `result`
// and sets `done` last; the window thread reads the result only once `done` is set.
struct ExternalRunState {
    // The last program's exit status (0..255, 255 included), -1 when it could not start, -2 when
    // it ended without one (`signal` then names the signal that ended it, 0 when unknown).
    std::atomic<int> result{0};
    std::atomic<int> signal{0};
    std::atomic<bool> done{false};
};

// Runs the jobs in order on the calling thread: stops at a program that could not start (-1),
// at a non-zero exit code, or at the first error file, which gets the report's line appended.
void run_external_jobs(const ExternalProgramSettings& settings, const std::vector<ExternalJobEntry>& jobs,
                       ExternalRunState& state);

// Starts run_external_jobs on a detached worker that owns copies of what it needs. Null while an
// earlier worker still lives (also one the user stopped waiting for): one runner at a time.
std::shared_ptr<ExternalRunState> start_external_jobs(const ExternalProgramSettings& settings,
                                                      const std::vector<ExternalJobEntry>& jobs);
// Whether a worker is still running.
bool external_jobs_running();

// The error file's text as shown: at most kErrorFileShownBytes and kErrorFileShownLines, with
// "..." where it was cut. Empty when it cannot be read.
std::string error_file_message(const std::string& error_file);

// After the worker has ended: the message for its result and signal as ExternalRunState keeps
// them (nothing for 0 without an error file).
void report_external_result(const ExternalProgramSettings& settings, int result, int signal = 0);

}  // namespace tv
