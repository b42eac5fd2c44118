// "/export": an archived report packed into a transfer file (TVZ), with its REPINFO.TXT.
#include <unistd.h>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "formats/transfer_file.h"
#include "platform/fs.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace tv {

int export_report_command(AuditTrail& audit, const std::string& format, const std::string& report_folder,
                          const std::string& destination) {
    using namespace action_support;
    if (!platform::iequals(format, "TVZ")) return 4;
    const std::string folder = platform::strip_trailing_slashes(report_folder);
    if (!folder_exists(folder) || !platform::find_name_ci(folder, "PATIENT.TXT")) return 1;
    const ArchivedReportEntry entry = find_archived_report(folder);
    if (!entry.archive) return 1;
    const ReportRecord* record = entry.record;
    if (!record) return 2;

    std::vector<std::string> list;
    std::string temp_folder;
    if (!platform::find_name_ci(folder, std::string(kRepInfoName))) {
        temp_folder = create_temp_folder();
        if (temp_folder.empty()) return 3;
        const std::string repinfo = temp_folder + std::string(kRepInfoName);
        if (!write_repinfo_file(repinfo, record->get_description(), record->get_type(), record->get_time(),
                                record->get_size())) {
            delete_folder_tree(temp_folder, true, false);
            return 3;
        }
        list.push_back(repinfo);
    }
    FolderRemover remover(temp_folder, true, false);
    if (temp_folder.empty()) remover.release();
    list.push_back(join_path(folder, "*.*"));

    if (!audit.open(folder)) {
        ui().message_box(
            "The report cannot be exported, because the logfile cannot be opened.\n\nPlease attempt the operation "
            "again.",
            "", MsgIcon::Error, MsgButtons::Ok);
        audit.close();
        return 3;
    }
    std::string refusal;
    if (pack_transfer_file(list, destination, &refusal) != 0) {
        // A failed transfer file never takes the destination's name: it is written aside and renamed.
        ui().message_box(refusal.empty() ? "The compressed copy of the report could not be created." : refusal,
                         "File Compression Error", MsgIcon::Error, MsgButtons::Ok);
        audit.close();
        return 3;
    }
    audit.write(kAuditExport, record->get_description(), folder, "");
    audit.close();
    return 0;
}

}  // namespace tv
