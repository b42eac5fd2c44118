#include "tolbex/transfer/report_transfer.h"

#include <optional>
#include <vector>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/ui.h"
#include "formats/transfer_file.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_types.h"

namespace tv {

bool pack_report_transfer_file(const std::string& report_folder, const RepInfoFields& info, const std::string& target,
                               std::string* refusal) {
    const std::string folder = platform::strip_trailing_slashes(report_folder);
    std::vector<std::string> list;
    // A signed report travels as its container alone, described by what the caller knows of it.
    const bool is_signed = info.type == kReportSigned || is_signed_report_folder(ReportFolder(folder));
    std::string container;
    if (is_signed) {
        container = platform::find_name_ci(folder, kSignedContainerName).value_or("");
        if (container.empty()) {
            if (refusal) *refusal = "The signed report has no signed file (" + std::string(kSignedContainerName) + ").";
            return false;
        }
    }
    std::optional<TempFolder> temp_folder;  // only for a REPINFO.TXT of our making
    if (is_signed || !platform::find_name_ci(folder, std::string(kRepInfoName))) {
        temp_folder.emplace();
        if (temp_folder->path().empty()) return false;
        // A fresh file in a folder of our own: written and checked, not flushed to disk.
        const std::string repinfo = temp_folder->path() + std::string(kRepInfoName);
        const std::string text = format_repinfo_text(info.description, info.type, info.time, info.size);
        platform::UniqueFd fd = create_new_file(repinfo, 0600);
        if (!fd || !platform::write_all(fd.get(), text.data(), text.size()) || !fd.close()) return false;
        list.push_back(repinfo);
    }
    list.push_back(is_signed ? container : join_path(folder, "*.*"));
    return pack_transfer_file(list, target, refusal) == 0;
}

bool export_report_transfer_file(AuditTrail& audit, const std::string& report_folder, const RepInfoFields& info,
                                 const std::string& target) {
    const std::string folder = platform::strip_trailing_slashes(report_folder);
    if (!audit.open(folder)) {
        // A file planted at the log's name stays so: trying again cannot help.
        const std::string refused = audit.refusal();
        ui().message_box(refused.empty()
                             ? "The report cannot be exported, because the logfile cannot be opened.\n\n"
                               "Please attempt the operation again."
                             : "The report cannot be exported, because " + refused +
                                   ".\n\nThe archive's owner or an administrator can remove what stands at that name.",
                         "", MsgIcon::Error, MsgButtons::Ok);
        audit.close();
        return false;
    }
    std::string refusal;
    if (!pack_report_transfer_file(folder, info, target, &refusal)) {
        // A transfer file that failed never took the target's name (it is written aside and renamed).
        ui().message_box(refusal.empty() ? std::string(kReportPackFailed) : refusal, kReportPackFailedTitle,
                         MsgIcon::Error, MsgButtons::Ok);
        audit.close();
        return false;
    }
    audit.write(kAuditExport, info.description, folder, "");
    audit.close();
    return true;
}

}  // namespace tv
