// "/convert": a report written out as RTF without a window.
#include "common/ui.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/reports/report_document.h"

namespace tv {

int convert_report_command(const TolbexSettings& settings, const std::string& path, const std::string& folder,
                           const std::string& format) {
    ReportDocument doc;
    std::string error;
    if (!doc.load(ReportFolder(ReportDocument::folder_of(path)), report_mode_of(settings), &error)) {
        ui().message_box("The report cannot be opened: " + error, "", MsgIcon::Error, MsgButtons::Ok);
        return 1;
    }
    if (!doc.export_rtf(folder, format, &error)) {
        ui().message_box("The report cannot be exported: " + error, "", MsgIcon::Error, MsgButtons::Ok);
        return 1;
    }
    return 0;
}

}  // namespace tv
