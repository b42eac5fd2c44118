// "/print" and "/printto": every copy is printed under its own audit-log entry.
#include <algorithm>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/report_printing.h"
#include "tolbex/signing/shown_report.h"

namespace tv {

namespace {

// The caller's title as core text: Windows-1252 as the analysis system passes it, or UTF-8 as a
// terminal types it (taken as UTF-8 only when it reads as such and Windows-1252 holds it).
std::string title_text(const std::string& argument) {
    const std::string cp1252 = platform::utf8_to_cp1252(argument, '\0');
    return cp1252.find('\0') == std::string::npos && platform::cp1252_to_utf8(cp1252) == argument ? cp1252 : argument;
}

}  // namespace

int print_report_command(CTolbexApp& app, const std::string& folder_operand, int first, int last, int copies,
                         int duplicate_limit, const std::string& flag_operand, const std::string& printer) {
    using namespace action_support;
    const std::string folder = platform::strip_trailing_slashes(folder_operand);
    const bool delete_after = !flag_operand.empty() && (flag_operand[0] == 'y' || flag_operand[0] == 'Y');
    int result = kPrintDone;
    if (auto shown = signing::open_report_for_showing(folder); !shown) {
        ui().message_box(cannot_open_text(shown.error()), "", MsgIcon::Error, MsgButtons::Ok);
        result = kPrintFailed;
    } else {
        // Opened once: the title and every page come from the same folder, never through a link.
        const ReportFolder report(shown->folder());
        std::string title = flag_operand.size() > 1 ? title_text(flag_operand.substr(1)) : std::string();
        if (is_blank_title(title)) title = patient_name_of(report);
        if (is_blank_title(title)) title = load_resource_string(kStrBriscoReport);
        ReportDocument doc;
        std::string error;
        if (!doc.load(report, report_mode_of(app.settings()), &error)) {
            ui().message_box("The report cannot be opened: " + error, "", MsgIcon::Error, MsgButtons::Ok);
            result = kPrintFailed;
        } else if (const std::string problem = whole_report_problem(doc); !problem.empty()) {
            ui().message_box("The report cannot be printed: " + problem, "", MsgIcon::Error, MsgButtons::Ok);
            result = kPrintFailed;
        } else {
            doc.set_report_title(title);
            app.set_print_duplicate_limit(duplicate_limit);
            PrintRequest request;
            request.document_name = title;
            request.first_page = first;
            request.last_page = last;
            request.duplicate_limit = duplicate_limit;
            request.printer_name = printer;
            const PrintSettings settings = print_settings_of(app.settings());
            AuditTrail& audit = app.audit();
            for (int copy = 0; copy < std::max(copies, 1); ++copy) {
                if (!audit.open(folder)) {
                    ui().message_box(kPrintNoLogMessage, "", MsgIcon::Error, MsgButtons::Ok);
                    audit.close();
                    result = kPrintFailed;
                    break;
                }
                if (!print_report(doc, request, settings, &error)) {
                    audit.close();
                    ui().message_box(error.empty() ? std::string(kPrintStartFailed) : error, "", MsgIcon::Error,
                                     MsgButtons::Ok);
                    result = kPrintFailed;
                    break;
                }
                audit.write(kAuditPrint, title, folder, "");
                audit.close();
            }
            app.set_print_duplicate_limit(0);
        }
    }
    // The caller handed over a copy to print and throw away: its parent folder goes, but never
    // an archive, a group or a file-system root.
    if (delete_after) {
        const auto slash = folder.rfind('/');
        if (slash != std::string::npos && slash > 8) {
            const std::string parent = folder.substr(0, slash);
            if (is_safe_auto_delete_folder(parent, &app.archive_config())) delete_folder_tree(parent, true, true);
        }
    }
    return result;
}

}  // namespace tv
