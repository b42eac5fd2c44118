#include "tolbex/external/export_reports.h"

#include <cstdio>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/ui.h"
#include "formats/transfer_file.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/transfer/report_transfer.h"
#include "tolbex/archive/clinic_code.h"

namespace tv {

namespace {

constexpr const char* kInvalidTransferNameQuestion =
    "The transfer filename for the report\n\n\t\"%s\"\n\nis mssing or not valid.\n\nThe report's description will "
    "be used as the filename instead.\n\n\nDo you want to proceed?";
constexpr const char* kRenamedNotice = "The report with description \"%s\"\nhas been exported as \"%s\".";
constexpr const char* kRenamedTitle = "Warning: Report filename changed";

std::string format_text(const char* format, const std::string& a, const std::string& b = {}) {
    const int n = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str());
    if (n < 0) return format;
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, a.c_str(), b.c_str());
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Names are Windows-1252 text; the file system spells them in UTF-8.
std::string disk_path(const std::string& folder, const std::string& name) {
    return join_path(folder, platform::cp1252_to_utf8(name) + ".TVZ");
}

}  // namespace

std::string export_base_name(const std::string& text) {
    std::string name;
    for (char c : text)
        if (is_valid_name_char(c) && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) name += c;
    if (name.find_first_not_of(" \t") == std::string::npos) return kExportFallbackName;
    return name;
}

std::string make_export_file_name(const std::string& folder, const SelectedReport& report) {
    std::string name = read_transfer_name(report.folder);
    if (name.empty()) {
        const MsgResult answer =
            ui().message_box(format_text(kInvalidTransferNameQuestion, report.name), kInvalidTransferNameTitle,
                             MsgIcon::Warning, MsgButtons::OkCancel, MsgDefault::Second);
        if (answer != MsgResult::Ok) return {};
        name = report.name;
    }
    name = export_base_name(name);
    std::string suffix;
    // Anything at the name counts, a dangling link included: it is never written through. A name
    // that cannot be looked at is no free name either, and would be so for every counter.
    for (int counter = 1;; ++counter) {
        const std::string path = disk_path(folder, name + suffix);
        const EntryKind kind = probe_entry(path).kind;
        if (kind == EntryKind::Missing) break;
        if (kind == EntryKind::Unknown) {
            ui().message_box(outside_refusal_text(path, OutsideRefusal::Unreadable), kReportPackFailedTitle,
                             MsgIcon::Error, MsgButtons::Ok);
            return {};
        }
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, " %03d", counter);
        suffix = buffer;
    }
    name += suffix;
    if (name != report.name)
        ui().message_box(format_text(kRenamedNotice, report.name, name), kRenamedTitle, MsgIcon::Warning,
                         MsgButtons::Ok);
    return disk_path(folder, name);
}

int export_reports_to_folder(const std::vector<SelectedReport>& reports, const std::string& folder,
                             const std::string& file_name, AuditTrail& audit) {
    for (const SelectedReport& report : reports) {
        std::string target;
        if (file_name.empty()) {
            target = make_export_file_name(folder, report);
            if (target.empty()) return 0;
        } else if (is_safe_path_component(file_name)) {
            target = join_path(folder, file_name);
        }

        const RepInfoFields info{report.name, report.type, report.time, report.size};
        if (!export_report_transfer_file(audit, report.folder, info, target)) return 0;
    }
    return 1;
}

}  // namespace tv
