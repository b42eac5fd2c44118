#include "tolbex/browser/ui/signed_report_open.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/report_files.h"
#include "common/safe_open.h"
#include "common/ui.h"
#include "framework/qt/application.h"
#include "framework/qt/tooltip.h"
#include "framework/qt/wait_dialogs.h"
#include "platform/fs.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/browser/archive_documents.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/signing/signature_page.h"
#include "tolbex/signing/shown_report.h"
#include "tolbex/signing/signed_report.h"

namespace tv::gui {
namespace {

inline constexpr const char* kOpenNoLogText =
    "The report cannot be opened, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kDataTimiName = "DATA.TIMI";
inline constexpr const char* kTimiSummaryName = "TIMI_SUMMARY.TXT";

SignedTimiOpener& timi_opener() {
    static SignedTimiOpener opener;
    return opener;
}

// Opens the audit log for the report folder; false (told, log closed) when it cannot be.
bool open_audit(CTolbexApp* app, const std::string& folder) {
    if (!app || app->audit().open(folder)) return true;
    show_error(kOpenNoLogText);
    app->audit().close();
    return false;
}

// The summary with one details block per signature in front, as CR LF text, read-only.
Result<void> write_signed_timi_summary(const std::string& path, const std::vector<signing::SignatureRecord>& signers) {
    auto summary = read_outside_text(path, report_file_limit(ReportFileKind::Text));
    if (!summary)
        return fail(signing::kErrFile, signing::with_text(signing::kSeriousFileErrorText,
                                                          get_path_file_name(path) + " : " + std::strerror(errno)));
    if (!platform::atomic_write_file(path, signing::signed_timi_summary_text(*summary, signers)) ||
        ::chmod(path.c_str(), 0400) != 0)
        return fail(signing::kErrFile, signing::with_text(signing::kSeriousFileErrorText,
                                                          get_path_file_name(path) + " : " + std::strerror(errno)));
    return {};
}

bool open_formatted(signing::ShownReport& restored, ReportArchive& archive, ReportRecord& record,
                    const std::string& archive_name, CTolbexApp* app) {
    const std::string folder = record.get_folder_path();
    // Its pages are read-only, so no annotation is saved into a copy that goes when the window
    // closes.
    if (!open_audit(app, folder)) return false;
    CPellarnDoc* doc = open_report(join_path(restored.folder(), "summary.txt"));
    if (doc) {
        describe_archived_report(*doc, archive, record, archive_name, [] { reload_archive_documents(); });
        // From here on the document deletes T when it closes: no entry of the recent-file list
        // may lead there.
        if (fw::Application* fwapp = fw::app()) fwapp->remove_from_recent_file_list(doc->path_name());
        doc->core().set_temporary_folder(restored.release());
        doc->core().set_archive_report_path(folder);
        if (app) app->audit().write(kAuditViewSigned, record.get_description(), folder, "");
    }
    if (app) app->audit().close();
    return doc != nullptr;
}

bool open_timi_data(signing::ShownReport& restored, ReportArchive& archive, ReportRecord& record, CTolbexApp* app) {
    ui().message_box(signing::timi_data_signature_message(restored.signers()), "", MsgIcon::Information,
                     MsgButtons::Ok);
    const SignedTimiOpener& opener = timi_opener();
    if (!opener) {
        show_error("You can only view formatted reports.", "Wrong kind of report");
        return false;
    }
    const std::string folder = record.get_folder_path();
    if (!open_audit(app, folder)) return false;
    SignedTimiData data;
    data.folder = restored.folder();
    data.data_file = join_path(restored.folder(), kDataTimiName);
    data.archive = &archive;
    data.report_folder = folder;
    data.archive_folder = archive.get_path();
    data.description = record.get_description();
    data.signatures = restored.signers();
    const bool opened = opener(data);
    if (opened) {
        restored.release();
        if (app) app->audit().write(kAuditViewSigned, record.get_description(), folder, "");
    }
    if (app) app->audit().close();
    return opened;
}

bool show_timi_summary(signing::ShownReport& restored, ReportRecord& record, CTolbexApp* app, QWidget* parent) {
    const std::string path = platform::find_name_ci(restored.folder(), kTimiSummaryName)
                                 .value_or(join_path(restored.folder(), kTimiSummaryName));
    if (auto written = write_signed_timi_summary(path, restored.signers()); !written) {
        show_error(written.error().message);
        return false;
    }
    const std::string folder = record.get_folder_path();
    if (!open_audit(app, folder)) return false;
    const bool shown = view_text_file_and_wait(path, parent);
    if (shown && app) app->audit().write(kAuditViewSigned, record.get_description(), folder, "");
    if (app) app->audit().close();
    // T goes with `restored` once the viewer has ended.
    return shown;
}

}  // namespace

void set_signed_timi_opener(SignedTimiOpener opener) { timi_opener() = std::move(opener); }

bool open_signed_report(ReportArchive& archive, ReportRecord& record, const std::string& archive_name,
                        QWidget* parent) {
    const std::string folder = record.get_folder_path();
    auto restored = [&]() -> Result<signing::ShownReport> {
        fw::WaitTip tip(kVerifyingReportText + record.get_description(), nullptr, 25);
        auto shown = signing::open_report_for_showing(folder);
        // Listed as signed, it is shown only from its container, whatever its folder is named.
        if (shown && !shown->is_signed()) return fail(signing::kErrInvalid, "");
        return shown;
    }();
    if (!restored) {
        // Why, when there is a reason to tell.
        const std::string& why = restored.error().message;
        show_error(why.empty() ? std::string(kSignedVerifyFailedText)
                               : std::string(kSignedVerifyFailedText) + "\n\n" + why);
        return false;
    }
    for (const signing::SignatureRecord& s : restored->signers())
        if (!s.verified) {
            ui().message_box(signing::with_text(kSignatureNotVerifiedText, s.problem), "", MsgIcon::Warning,
                             MsgButtons::Ok);
            break;
        }
    CTolbexApp* app = CTolbexApp::current();
    switch (restored->kind()) {
        case signing::SignedReportKind::Formatted: return open_formatted(*restored, archive, record, archive_name, app);
        case signing::SignedReportKind::TimiData: return open_timi_data(*restored, archive, record, app);
        case signing::SignedReportKind::TimiSummary: return show_timi_summary(*restored, record, app, parent);
    }
    // A kind this system does not know shows nothing.
    show_error(kSignedVerifyFailedText);
    return false;
}

}  // namespace tv::gui
