// Export of archived reports as transfer files (.TVZ) into a folder the user picked, for carrying
// to another workstation by hand. Names come from the report's transfer name or its description,
// stripped of every character that could leave the folder; a name never replaces an existing
// file unless the caller gave it.
#pragma once
#include <string>
#include <vector>

#include "tolbex/transfer/report_handover.h"

namespace tv {

class AuditTrail;

// The browser's selection-list entry (folder, description, type, size, time).
using SelectedReport = MailReportEntry;

// The fallback name when nothing of the report's name survives.
inline constexpr const char* kExportFallbackName = "Brisco Torvane Report";

// The name part of `text` as a file name: the characters \ / . : * ? < > | " and control
// characters removed; the fallback when only white space is left. Windows-1252 bytes.
std::string export_base_name(const std::string& text);

// The full path of a transfer file in `folder` that does not exist yet ("<name>.TVZ", then
// "<name> 001.TVZ" ...), telling the user when the name differs from the description; "" when the
// user declined to export a report without a valid transfer name (the question goes through ui()).
std::string make_export_file_name(const std::string& folder, const SelectedReport& report);

// Packs each report in order into `folder` (under `file_name` when given, replacing a file of that
// name; it must be a plain file name). Stops at the first report that fails, after telling the
// user; a failed transfer file is removed. 1 when every report was exported, else 0. Each
// report's REPINFO.TXT is written into a private temporary folder that is removed again.
int export_reports_to_folder(const std::vector<SelectedReport>& reports, const std::string& folder,
                             const std::string& file_name, AuditTrail& audit);

}  // namespace tv
