// tolbex's command line: parameter files, the show-state pre-scan, the two-pass dispatcher and
// the actions that run without a window.
//
// Exit codes (the process exit status is 8 bits wide on Linux):
//   /store, /storefolder   0..10, the store-result codes of the store-result log
//   /uncompress            0 done, 1 no destination folder, 2 the file cannot be opened, 3 not a
//                          valid compressed ECG file, 4 a file could not be written, 5 the
//                          compressor is missing or failed (a hidden run answers its Retry/Cancel
//                          question with Cancel), or a channel could not be restored
//   /export                0 exported, 1 no report there, 2 not in the archive's index,
//                          3 packing (or the audit log) failed, 4 format other than TVZ
//   /find                  the number of reports found, capped at 251; errors -1..-4 leave the
//                          process as 255..252
//   /delete_os12_ecg       0 done, 1 not an existing ".O12" folder, 2 an ECG file could not be
//                          deleted, 3 the folder could not be renamed, 4 the archive's index could
//                          not be rewritten afterwards (the folder is renamed already)
//   /convert               0 exported, 1 the report could not be opened or a file not written
//   /print, /printto       0 printed, 1 the report could not be opened, the audit log not opened
//                          or printing failed
//   a switch short of operands, an action this build does not offer, a start that needs the
//   main window, a refused start-up: 1
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

class CTolbexApp;

struct CommandSwitch {
    const char* name;
    int operands;
    int show;            // kShowHidden / kShowNormal / kShowMaximized, or -1: unchanged
    bool action;         // counts as a command-line action (clears browse, ends the program)
    bool clears_browse;  // in both passes
    bool prescanned;     // listed in the show-state pre-scan's table
};

// The switch named by `token` (compared without regard to case); null for anything else.
const CommandSwitch* find_command_switch(std::string_view token);

// Appends the tokens of every parameter file named after a "/paramfile" among the original
// arguments; tokens that a parameter file adds are not searched again.
void expand_parameter_files(std::vector<std::string>& args);

// The last state-naming switch wins; starts at normal. "/preview" also sets `preview`.
int prescan_show_state(const std::vector<std::string>& args, bool& preview);

// Whether the arguments hold an action switch (walking them as the dispatcher does).
bool has_command_line_action(const std::vector<std::string>& args);

// Walks the arguments: the first pass sets flags only, the second runs the effects. A switch
// short of its operands shows the wrong-count message (first pass), sets the exit code to 1 and
// stops the first pass there; the second pass then runs nothing. True when no action ran.
bool dispatch_command_line(CTolbexApp& app, const std::vector<std::string>& args, bool first_pass);

// Opens a report for viewing in the main window: "/load" (preview false) and "/preview" (true),
// with the window title and description. Set by the windowed start; without it nothing opens.
using ReportOpener = std::function<bool(const std::string& path, const std::string& title, bool preview)>;
void set_report_opener(ReportOpener opener);

// Store-result codes (the exit codes of "/store" and "/storefolder").
enum StoreResultCode {
    kStoreCodeOk = 0,
    kStoreCodeNoFiles = 1,  // also: not a .CEF or .TVZ file
    kStoreCodeMissing = 2,
    kStoreCodeInvalidFile = 3,
    kStoreCodeNoGroup = 4,
    kStoreCodeNoGroupIndex = 5,
    kStoreCodeNoArchive = 6,
    kStoreCodeWriteFailed = 7,
    kStoreCodeUnpackFailed = 8,
    kStoreCodeNoTempFolder = 9,
    kStoreCodeLogFailed = 10,
};

// The largest count "/find" returns, so that it never reads as one of its error codes.
inline constexpr int kFindCountCap = 251;

// The actions, callable without the dispatcher.
int find_recording_command(const std::string& key, const std::string& value, const std::string& group_folder,
                           const std::string& output_file);
int export_report_command(CTolbexApp& app, const std::string& format, const std::string& report_folder,
                          const std::string& destination);
int store_report_file_command(const std::string& file, const std::string& group_folder,
                              const std::string& archive_name);
int store_report_folder_command(const std::string& folder, const std::string& group_folder,
                                const std::string& archive_name, const std::string& log_operand);
int delete_os12_ecg_command(const std::string& report_folder);
// "/convert": 0 done, 1 the report could not be opened or a file not written.
int convert_report_command(const std::string& path, const std::string& folder, const std::string& format);
// "/print" and "/printto" (`printer` empty: the default printer): 0 printed, 1 failed.
int print_report_command(CTolbexApp& app, const std::string& folder, int first, int last, int copies,
                         int duplicate_limit, const std::string& flag_operand, const std::string& printer);
// The "/preview" window title: the given title, else the patient's name, then " (Preview)".
std::string preview_window_title(const std::string& given_title, const std::string& path);

// The store-result log's time stamp (the locale's "%c" of the current time).
std::string store_log_time_text();

}  // namespace tv
