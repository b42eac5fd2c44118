// The browser's Export to folder and Send to External Program: the selected reports, in list
// order, go to the export (tolbex/external) or to the external-program hand-over.
#include "common/ui.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/external/ui/external_commands.h"

namespace tv::gui {

void CBrowserListView::register_export_commands() {
    using namespace browser_cmd;
    on_command(Export, [this] { on_export(); });
    on_update_command(Export, [this](fw::CommandUi& u) { u.enable(!list_.selected_rows().empty()); });
    on_command(ExternalProgram, [this] { on_external_program(); });
    on_update_command(ExternalProgram, [](fw::CommandUi& u) { u.enable(can_send_to_external_program()); });
}

void CBrowserListView::on_export() {
    std::vector<SelectedReport> reports;
    for (std::int32_t row : list_.selected_rows())
        if (const ReportRecord* r = doc_.core().get_record(row))
            reports.push_back(SelectedReport{doc_.core().get_report_folder(row), r->get_description(), r->get_type(),
                                             static_cast<std::uint32_t>(r->get_size()), r->get_time()});
    export_to_folder(reports, this);
}

void CBrowserListView::on_external_program() {
    std::vector<ExternalJobEntry> jobs;
    for (std::int32_t row : list_.selected_rows())
        if (const ReportRecord* r = doc_.core().get_record(row))
            jobs.push_back(
                {doc_.core().get_report_folder(row), r->get_description(), external_job_kind(r->get_type())});
    if (jobs.empty()) {
        ui().message_box(kExternalNoneSelected, "", MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    hand_over_external_jobs(jobs);
}

}  // namespace tv::gui
