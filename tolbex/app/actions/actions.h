// The command line's actions, each callable without the dispatcher. Each answers with its exit
// code, from its table in tolbex/exit_codes.h.
#pragma once
#include <functional>
#include <string>

#include "tolbex/exit_codes.h"

namespace tv {

class AuditTrail;
class CTolbexApp;
struct TolbexSettings;

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
// "/uncompress": the exit code of unpacking `cef` into `folder`; the one of a reader error
// (formats/cef.h CefError).
UncompressCode uncompress_exit_code(int cef_error);
int uncompress_command(const std::string& cef, const std::string& folder);
// "/convert".
int convert_report_command(const TolbexSettings& settings, const std::string& path, const std::string& folder,
                           const std::string& format);
// "/print" and "/printto" (`printer` empty: the default printer).
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
