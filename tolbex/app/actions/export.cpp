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
#include "tolbex/transfer/report_transfer.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/reports/report_document.h"

namespace tv {

int export_report_command(AuditTrail& audit, const std::string& format, const std::string& report_folder,
                          const std::string& destination) {
    using namespace action_support;
    if (!platform::iequals(format, "TVZ")) return kExportNotTvz;
    const std::string folder = platform::strip_trailing_slashes(report_folder);
    // A signed report holds its patient inside its container.
    if (!folder_exists(folder) ||
        (!is_signed_report_folder(ReportFolder(folder)) && !platform::find_name_ci(folder, "PATIENT.TXT")))
        return kExportNoReport;
    const ArchivedReportEntry entry = find_archived_report(folder);
    if (!entry.archive) return kExportNoReport;
    const ReportRecord* record = entry.record;
    if (!record) return kExportNotIndexed;

    // A folder as the destination would fail only at the packing, with no word of why.
    if (folder_exists(platform::strip_trailing_slashes(destination))) {
        ui().message_box("The report was not exported: \"" + escape_control_chars(destination) +
                             "\" is a folder. Give the transfer file to write in it, such as \"" +
                             escape_control_chars(join_path(destination, "report.TVZ")) + "\".",
                         "", MsgIcon::Error, MsgButtons::Ok);
        return kExportFailed;
    }
    const RepInfoFields info{record->get_description(), record->get_type(), record->get_time(), record->get_size()};
    return export_report_transfer_file(audit, folder, info, destination) ? kExportDone : kExportFailed;
}

}  // namespace tv
