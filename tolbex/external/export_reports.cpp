#include "tolbex/external/export_reports.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "tolbex/archive/clinic_code.h"

namespace tv {

namespace {

constexpr const char* kInvalidTransferNameQuestion =
    "The transfer filename for the report\n\n\t\"%s\"\n\nis mssing or not valid.\n\nThe report's description will "
    "be used as the filename instead.\n\n\nDo you want to proceed?";
constexpr const char* kRenamedNotice = "The report with description \"%s\"\nhas been exported as \"%s\".";
constexpr const char* kRenamedTitle = "Warning: Report filename changed";
constexpr const char* kLogRefused =
    "The report cannot be exported, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
constexpr const char* kPackFailed = "The compressed copy of the report could not be created.";
constexpr const char* kPackFailedTitle = "File Compression Error";

std::string format_text(const char* format, const std::string& a, const std::string& b = {}) {
    const int n = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str());
    if (n < 0) return format;
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, a.c_str(), b.c_str());
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Anything at the path counts, a dangling link included: it is never written through.
bool entry_exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Names are Windows-1252 text; the file system spells them in UTF-8.
std::string disk_path(const std::string& folder, const std::string& name) {
    return join_path(folder, platform::cp1252_to_utf8(name) + ".TVZ");
}

// A work file in the operation's own folder, gone when the report is done: written and checked,
// not flushed to disk.
bool write_work_file(const std::string& path, const std::string& bytes) {
    platform::UniqueFd fd = create_new_file(path, 0600);
    return fd && platform::write_all(fd.get(), bytes.data(), bytes.size()) && fd.close();
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
    for (int counter = 1; entry_exists(disk_path(folder, name + suffix)); ++counter) {
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

        // The report's own REPINFO.TXT travels with its other files; otherwise one is written
        // into a folder of this report's own, gone again when the report is done.
        const std::string report_folder = platform::strip_trailing_slashes(report.folder);
        std::vector<std::string> list;
        std::string temp_folder;
        bool ready = !target.empty();
        if (ready && !platform::find_name_ci(report_folder, std::string(kRepInfoName))) {
            temp_folder = create_temp_folder();
            const std::string repinfo = temp_folder + std::string(kRepInfoName);
            ready = !temp_folder.empty() &&
                    write_work_file(repinfo, format_repinfo_text(report.name, report.type, report.time, report.size));
            list.push_back(repinfo);
        }
        FolderRemover remover(temp_folder, true, false);
        if (temp_folder.empty()) remover.release();
        list.push_back(join_path(report_folder, "*.*"));

        if (!audit.open(report_folder)) {
            ui().message_box(kLogRefused, "", MsgIcon::Error, MsgButtons::Ok);
            audit.close();
            return 0;
        }
        std::string refusal;
        if (!ready || pack_transfer_file(list, target, &refusal) != 0) {
            // A transfer file that failed never took the target's name (it is written aside and renamed).
            ui().message_box(refusal.empty() ? std::string(kPackFailed) : refusal, kPackFailedTitle, MsgIcon::Error,
                             MsgButtons::Ok);
            audit.close();
            return 0;
        }
        audit.write(kAuditExport, report.name, report_folder, "");
        audit.close();
    }
    return 1;
}

}  // namespace tv
