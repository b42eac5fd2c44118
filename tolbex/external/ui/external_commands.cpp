#include "tolbex/external/ui/external_commands.h"

#include "common/profile.h"
#include "common/ui.h"
#include "framework/qt/folder_dialog.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/wait_dialogs.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/external/external_program.h"

namespace tv::gui {

int export_to_folder(const std::vector<SelectedReport>& reports, QWidget* parent) {
    if (reports.empty()) {
        ui().message_box(kExportNoneSelected, "", MsgIcon::Error, MsgButtons::Ok);
        return 0;
    }
    CTolbexApp* app = CTolbexApp::current();
    if (!app) return 0;
    const std::string folder =
        fw::browse_for_folder(kExportFolderPrompt, get_profile_string(kSettingsSection, "Export Folder", ""), parent);
    if (folder.empty()) return 0;
    fw::WaitCursor cursor;
    CompressWaitDlg wait(parent);
    return export_reports_to_folder(reports, folder, "", app->audit());
}

bool send_to_external_program(const std::vector<ExternalJobEntry>& jobs, QWidget* parent) {
    if (jobs.empty()) {
        ui().message_box(kExternalNoneSelected, "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    const CTolbexApp* app = CTolbexApp::current();
    if (!app) return false;
    const ExternalProgramSettings settings = app->get_external_program();
    // A worker the user stopped waiting for may still be using the error file.
    if (external_jobs_running()) {
        ui().message_box(kExternalStillRunning, "", MsgIcon::Warning, MsgButtons::Ok);
        return false;
    }
    if (!prepare_error_file(settings.error_file_name)) return false;
    const std::shared_ptr<ExternalRunState> state = start_external_jobs(settings, jobs);
    if (!state) {
        ui().message_box(kExternalStillRunning, "", MsgIcon::Warning, MsgButtons::Ok);
        return false;
    }
    ExternalProgramWaitDlg wait(parent);
    wait.set_running([state] { return !state->done.load(); });
    wait.run();
    // Stopped waiting: the worker still owns its result, which is not known yet.
    if (wait.stopped_by_user() || !state->done.load()) return true;
    report_external_result(settings, state->result.load(), state->signal.load());
    return true;
}

void register_external_program_handler() {
    set_external_program_handler(
        [](const std::vector<ExternalJobEntry>& jobs) { return send_to_external_program(jobs); });
}

}  // namespace tv::gui
