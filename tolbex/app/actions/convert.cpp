// "/convert": a report written out as RTF without a window.
#include "common/ui.h"
#include "platform/fs.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/signing/shown_report.h"

namespace tv {

int convert_report_command(const TolbexSettings& settings, const std::string& path, const std::string& folder,
                           const std::string& format) {
    using namespace action_support;
    auto shown = signing::open_report_for_showing(path);
    if (!shown) {
        ui().message_box(cannot_open_text(shown.error()), "", MsgIcon::Error, MsgButtons::Ok);
        return kConvertFailed;
    }
    ReportDocument doc;
    std::string error;
    if (!doc.load(ReportFolder(shown->folder()), report_mode_of(settings), &error)) {
        ui().message_box("The report cannot be opened: " + error, "", MsgIcon::Error, MsgButtons::Ok);
        return kConvertFailed;
    }
    // Every file is of the whole report or of none of it: RTF holds the page files alone.
    error = platform::iequals(format, "RTF") ? doc.page_problem() : whole_report_problem(doc);
    if (!error.empty() || !doc.export_rtf(folder, format, &error)) {
        ui().message_box("The report cannot be exported: " + error, "", MsgIcon::Error, MsgButtons::Ok);
        return kConvertFailed;
    }
    return kConvertDone;
}

}  // namespace tv
