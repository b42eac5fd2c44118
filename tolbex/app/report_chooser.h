// Choosing a report for the analysis system ("/choose_report", "/choose_ecg"): which rows may be
// chosen, REPNAME.TXT (the chosen report folder's full path, the file's only bytes, no line end)
// and the unpacking of a compressed report into the analysis system's temporary names. No Qt:
// the browser asks the user and shows the failures.
#pragma once
#include <cstdint>
#include <string>

#include "common/result.h"
#include "formats/cef.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/archive/report_types.h"

namespace tv {

inline constexpr const char* kLoadReportCaption = "Please Confirm";
inline constexpr const char* kCannotLoadKindText = "Sorry, but you cannot load that kind of report.";
inline constexpr const char* kWrongKindCaption = "Wrong kind of report";
inline constexpr const char* kUncompressingText = "Uncompressing files...";
inline constexpr const char* kMissingCefCaption = "Missing CEF file";
inline constexpr const char* kCannotCreateFolderCaption = "Cannot create folder";
inline constexpr const char* kCefErrorCaption = "Compressed ECG File Error";

// The recording kinds whose unpacked folder the analysis system takes under a name of its own.
inline constexpr std::int32_t kCefKindFull = 7;
inline constexpr std::int32_t kCefKindPartial = 8;

// ECG-chooser mode wins when both switches are given.
enum class ChooserMode { None, Report, Ecg };
ChooserMode chooser_mode_of(const CommandLineFlags& flags);

// What opening a row does in a chooser mode, for every type that is not viewed (Formatted and
// Signed reports are viewed in every mode).
enum class ChooserAction { Choose, LoadCompressed, Refuse };
ChooserAction chooser_action(ReportType type, ChooserMode mode);

// "Do you want to load report \n"<description>"?"
std::string load_report_question(const std::string& description);

// The message for an unpacker error code; `file` is the failing file.
std::string cef_chooser_error_message(int code, const std::string& file);

// Where this run writes REPNAME.TXT: repname.txt in the temporary folder with "/from_QDS", else
// the application's path. An existing entry spelt in another case is taken.
std::string repname_file_path(const std::string& app_repname_path, bool from_qds, const std::string& temp_folder);
// Replaces `path` atomically with `folder` as its only bytes. The error names the file.
Result<void> write_repname(const std::string& path, const std::string& folder);

// The analysis system's temporary names for a compressed report. `unpack` is GVTEMP.CFR in the
// temporary folder with "/from_QDS" or before revision 8.0, else TEMP.CEF in the user root;
// `full` and `partial` are TEMP.FUL and TEMP.PRT in the user root.
struct CefChooserTargets {
    std::string unpack, full, partial;
};
CefChooserTargets cef_chooser_targets(bool from_qds, double revision, const std::string& user_root,
                                      const std::string& temp_folder);

// The first *.CEF (any case) regular file of the report folder, by name; "" when there is none.
std::string find_report_cef(const std::string& report_folder);

// Error codes of load_compressed_for_choosing; each has its caption (chooser_error_caption).
enum ChooserError {
    kChooserNoCef = 1,      // "Missing CEF file"
    kChooserNoFolder = 2,   // "Cannot create folder"
    kChooserUnpack = 3,     // "Compressed ECG File Error"
    kChooserWrongKind = 4,  // "Wrong kind of report"
    kChooserNoRepname = 5,  // REPNAME.TXT could not be written (no caption)
};
std::string chooser_error_caption(int code);

// Unpacks the report folder's compressed ECG file for the analysis system and returns the folder
// to choose: `unpack` emptied of its files and filled, or, without "/from_QDS", `full` / `partial`
// (replaced whole, never through a link) for a full or partial recording. On failure nothing of
// the unpacking is left behind.
Result<std::string> load_compressed_for_choosing(const std::string& report_folder, const CefChooserTargets& targets,
                                                 bool from_qds, const CefRetryQuestion& retry = {});

}  // namespace tv
