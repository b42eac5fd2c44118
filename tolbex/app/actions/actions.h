// The command line's actions, each callable without the dispatcher. Their exit codes are listed
// in tolbex/app/command_line.h.
#pragma once
#include <functional>
#include <string>

namespace tv {

class AuditTrail;
class CTolbexApp;
struct TolbexSettings;

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
    kStoreCodeArchiveBusy = 11,      // another program held the archive's lock throughout: try again
    kStoreCodeLockDenied = 12,       // the archive's lock file cannot be opened for writing by this account
    kStoreCodeArchiveReadOnly = 13,  // the archive is read-only for this account
};

// The largest count "/find" returns, so that it never reads as one of its error codes.
inline constexpr int kFindCountCap = 251;

int find_recording_command(const std::string& key, const std::string& value, const std::string& group_folder,
                           const std::string& output_file);
int export_report_command(AuditTrail& audit, const std::string& format, const std::string& report_folder,
                          const std::string& destination);
int store_report_file_command(const std::string& file, const std::string& group_folder,
                              const std::string& archive_name);
int store_report_folder_command(const std::string& folder, const std::string& group_folder,
                                const std::string& archive_name, const std::string& log_operand);
// The store-result log's time stamp (the locale's "%c" of the current time).
std::string store_log_time_text();
int delete_os12_ecg_command(const std::string& report_folder);
// "/uncompress": the exit code of unpacking `cef` into `folder`
// (0 done, 1 no such folder, 2 file cannot be opened, 3 not a valid file, 4 a file could not be
// written, 5 the compressor is missing, failed or was cancelled).
int uncompress_command(const std::string& cef, const std::string& folder);
// "/convert": 0 done, 1 the report could not be opened or a file not written.
int convert_report_command(const TolbexSettings& settings, const std::string& path, const std::string& folder,
                           const std::string& format);
// "/print" and "/printto" (`printer` empty: the default printer): 0 printed, 1 failed.
int print_report_command(CTolbexApp& app, const std::string& folder, int first, int last, int copies,
                         int duplicate_limit, const std::string& flag_operand, const std::string& printer);

// Opens a report for viewing in the main window: "/load" (preview false) and "/preview" (true),
// with the window title and description. Set by the windowed start; without it nothing opens.
using ReportOpener = std::function<bool(const std::string& path, const std::string& title, bool preview)>;
void set_report_opener(ReportOpener opener);
// "/load path|title": opens the report; its folder becomes the one "/autodelete" removes.
void load_report_command(CTolbexApp& app, const std::string& operand);
// "/preview path|title".
void preview_report_command(const std::string& operand);
// The "/preview" window title: the given title, else the patient's name, then " (Preview)".
std::string preview_window_title(const std::string& given_title, const std::string& path);

}  // namespace tv
