// The browser's Sign Report command: offered while signing is on and no selected report is of a
// kind that cannot be signed; it hands the selected reports to the signing flow
// (tolbex/signing/sign_flow.h) with the signing windows, then reloads the archives.
#include "common/ui.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/browser/archive_documents.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/signing/sign_flow.h"
#include "tolbex/signing/ui/signing_dialogs.h"

namespace tv::gui {

void CBrowserListView::register_sign_command() {
    using namespace browser_cmd;
    on_command(Sign, [this] { on_sign(); });
    on_update_command(Sign, [this](fw::CommandUi& u) {
        const CTolbexApp* app = CTolbexApp::current();
        if (!app || !app->is_signing_enabled()) {
            u.hide();
            u.enable(false);
            return;
        }
        std::vector<std::string> names;
        for (std::int32_t row : list_.selected_rows())
            if (const ReportRecord* r = doc_.core().get_record(row)) names.push_back(r->get_name());
        u.enable(signing::sign_enabled_for(names));
    });
}

void CBrowserListView::on_sign() {
    CTolbexApp* app = CTolbexApp::current();
    if (!app || !app->is_signing_enabled() || !change_check()) return;
    std::vector<std::string> folders, names;
    for (std::int32_t row : list_.selected_rows()) {
        const ReportRecord* r = doc_.core().get_record(row);
        if (!r) continue;
        folders.push_back(doc_.core().get_report_folder(row));
        names.push_back(r->get_description());
    }
    if (folders.empty()) {
        ui().message_box("You must select one or more reports before you can sign them.", "No Report Selected",
                         MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    {
        signing::Crypto crypto;
        if (!crypto.valid()) {
            ui().message_box(crypto.error().message, {}, MsgIcon::Error, MsgButtons::Ok);
            return;
        }
        QtSignDialogs dialogs(this);
        signing::sign_reports(folders, names, crypto, dialogs, app->audit(), ui());
    }
    // Every window on these archives shows the new signed reports.
    reload_archive_documents();
}

}  // namespace tv::gui
