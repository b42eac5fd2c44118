#include "tolbex/external/external_program.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "common/files.h"
#include "common/runner.h"
#include "common/safe_open.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/process.h"

namespace tv {

namespace {

constexpr const char* kReportLinePrefix = "Report: \"";

std::atomic<bool>& worker_alive() {
    static std::atomic<bool> alive{false};
    return alive;
}

// Anything at the name counts, a name that cannot be looked at too: the program may have written it.
bool may_exist(const std::string& path) { return probe_entry(path).kind != EntryKind::Missing; }

// Appends with the file's own line ends left alone: the program wrote it, the user reads it. A
// FIFO, link or hard link in its place is refused, never waited on or written through.
bool append_report_line(const std::string& error_file, const std::string& description) {
    const platform::UniqueFd fd = open_log_for_append(error_file);
    if (!fd) return false;
    const std::string line = "\n\n" + std::string(kReportLinePrefix) + description + "\"\n";
    return platform::write_all(fd.get(), line.data(), line.size());
}

}  // namespace

std::vector<std::string> external_program_argv(const ExternalProgramSettings& settings, const ExternalJobEntry& job) {
    std::vector<std::string> argv = split_program_name(settings.program_name);
    argv.push_back(std::to_string(job.kind));
    argv.push_back(job.folder);
    if (!settings.error_file_name.empty()) argv.push_back(settings.error_file_name);
    return argv;
}

bool prepare_error_file(const std::string& error_file) {
    if (error_file.empty()) return true;
    const std::string folder = get_path_folder(error_file);
    if (!folder.empty() && !folder_exists(folder) && !create_folder_path(folder)) {
        ui().message_box("The error file folder cannot be created:\n" + folder, "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    if (may_exist(error_file) && ::unlink(error_file.c_str()) != 0 && errno != ENOENT) {
        ui().message_box("Cannot delete the external program's error file:\n" + error_file, "", MsgIcon::Error,
                         MsgButtons::Ok);
        return false;
    }
    return true;
}

void run_external_jobs(const ExternalProgramSettings& settings, const std::vector<ExternalJobEntry>& jobs,
                       ExternalRunState& state) {
    for (const ExternalJobEntry& job : jobs) {
        const std::vector<std::string> argv = external_program_argv(settings, job);
        const ChildEnd end = run_child(argv, false);
        // A program that ran and exited 255 ran: its code is not "could not start".
        const int code = end.how == ChildEnd::How::Exited ? end.exit_code : end.code();
        state.signal.store(end.how == ChildEnd::How::Signalled ? end.signal : 0);
        state.result.store(code);
        if (!settings.error_file_name.empty() && may_exist(settings.error_file_name)) {
            append_report_line(settings.error_file_name, job.name);
            break;
        }
        if (code != 0) break;
    }
}

std::shared_ptr<ExternalRunState> start_external_jobs(const ExternalProgramSettings& settings,
                                                      const std::vector<ExternalJobEntry>& jobs) {
    bool expected = false;
    if (!worker_alive().compare_exchange_strong(expected, true)) return nullptr;
    auto state = std::make_shared<ExternalRunState>();
    try {
        std::thread([settings, jobs, state] {
            run_external_jobs(settings, jobs, *state);
            worker_alive().store(false);
            state->done.store(true);
        }).detach();
    } catch (...) {
        worker_alive().store(false);
        return nullptr;
    }
    return state;
}

bool external_jobs_running() { return worker_alive().load(); }

std::string error_file_message(const std::string& error_file) {
    // Of any size, but only what is shown (and one byte to tell that more follows) is read.
    OutsideRefusal refusal = OutsideRefusal::None;
    std::optional<std::string> head = read_outside_head(error_file, kErrorFileShownBytes + 1, &refusal);
    if (!head) return outside_refusal_text(error_file, refusal);
    std::string& text = *head;
    std::size_t cut = std::string::npos;
    int lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i >= kErrorFileShownBytes) {
            cut = i;
            break;
        }
        if (text[i] == '\n' && ++lines == kErrorFileShownLines && i + 1 < text.size()) {
            cut = i + 1;
            break;
        }
    }
    if (cut != std::string::npos) text = text.substr(0, cut) + "...";
    return text;
}

void report_external_result(const ExternalProgramSettings& settings, int result, int signal) {
    if (!settings.error_file_name.empty() && may_exist(settings.error_file_name)) {
        ui().message_box(error_file_message(settings.error_file_name), kExternalErrorTitle, MsgIcon::Error,
                         MsgButtons::Ok);
        return;
    }
    if (result == platform::kExitNotStarted)
        ui().message_box("Can't run the external program:\n" + settings.program_name, "", MsgIcon::Error,
                         MsgButtons::Ok);
    else if (result < 0)
        ui().message_box(signal > 0 ? "The external program was ended by signal " + std::to_string(signal) + " (" +
                                          sigabbrev_np(signal) + ")."
                                    : std::string("The external program ended without an exit code."),
                         "", MsgIcon::Error, MsgButtons::Ok);
    else if (result > 0)
        ui().message_box("The external program returned an error code of " + std::to_string(result), "", MsgIcon::Error,
                         MsgButtons::Ok);
}

}  // namespace tv
