#include "tolbex/app/ui/main_frame.h"

#include <chrono>
#include <future>

#include <QApplication>
#include <QThread>

#include "common/text.h"
#include "framework/qt/application.h"
#include "framework/qt/document.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/app/analysis_system.h"
#include "tolbex/archive/last_groups.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tolbex_window_app.h"

namespace tv {

std::string confirmation_pane_text(const std::string& confirmation) {
    if (confirmation.empty()) return std::string(" ") + kNotConfirmedText;
    return std::string(" ") + kConfirmedByText + " " + to_upper_copy(confirmation);
}

CMainFrame::CMainFrame(fw::Application& app, CTolbexApp& core) : fw::MainFrame(app, kMainFrameResourceId), core_(core) {
    // The caption never names the active document.
    setWindowTitle(kMainFrameTitle);
    set_indicators(
        {{0, ""}, {menu::kReadOnlyPane, kReadOnlyText}, {menu::kConfirmationPane, kConfirmationPaneWidthText}});
    install_handlers();
}

CMainFrame::~CMainFrame() = default;

namespace {
ReportDocumentStatus* active_report(const fw::MainFrame& frame) {
    fw::ChildFrame* child = frame.active_child();
    return child ? dynamic_cast<ReportDocumentStatus*>(child->active_document()) : nullptr;
}
}  // namespace

void CMainFrame::install_handlers() {
    on_update_command(menu::kReadOnlyPane, [this](fw::CommandUi& ui) {
        ReportDocumentStatus* report = active_report(*this);
        ui.set_text(report && report->is_read_only() ? kReadOnlyText : "");
        ui.enable(true);
    });
    on_update_command(menu::kConfirmationPane, [this](fw::CommandUi& ui) {
        ReportDocumentStatus* report = active_report(*this);
        if (!report) {
            ui.set_text("");
            ui.enable(false);
            return;
        }
        ui.enable(true);
        ui.set_text(confirmation_pane_text(report->get_confirmation()));
    });
    on_command(menu::kWindowCascade, [this] { cascade(); });
    on_command(menu::kWindowTileHorz, [this] { tile_horizontally(); });
    on_command(menu::kWindowTileVert, [this] { tile_vertically(); });
    on_command(menu::kWindowArrange, [this] { arrange_icons(); });
    on_command(fw::cmd::WindowNew, [this] {
        fw::ChildFrame* child = active_child();
        if (child && child->active_document() && child->active_document()->doc_template())
            show_child(child->active_document()->doc_template()->create_new_frame(*child->active_document()));
    });
    on_update_command(fw::cmd::WindowNew, [this](fw::CommandUi& ui) { ui.enable(active_child() != nullptr); });
    on_command(fw::cmd::FileClose, [this] {
        if (fw::ChildFrame* child = active_child()) child->close();
    });
    on_update_command(fw::cmd::FileClose, [this](fw::CommandUi& ui) { ui.enable(active_child() != nullptr); });
    on_command(fw::cmd::AppExit, [this] { close(); });
}

void CMainFrame::on_size() {
    fw::MainFrame::on_size();
    // Two compared reports stay side by side.
    if (is_compare_mode()) tile_vertically();
}

void CMainFrame::set_preview_mode(bool on, std::function<void()> leave) {
    in_preview_ = on;
    leave_preview_ = on ? std::move(leave) : std::function<void()>{};
}

bool CMainFrame::save_on_close() {
    fw::Application& fwapp = application();
    // The remembered groups are replaced only once the user agreed to close.
    if (!fwapp.save_all_modified()) return false;
    std::vector<std::string> groups;
    for (fw::Document* doc : fwapp.documents()) {
        if (doc->doc_template() && doc->doc_template()->file_type_id() == kArchiveDocTypeId)
            groups.push_back(doc->path_name());
        else
            doc->set_modified(false);  // asked once is enough
    }
    save_archive_group_list(core_.is_browse_enabled(), groups, {});

    if (!core_.is_from_gui()) return true;
    notify_analysis_system_closing(CTolbexApp::get_analyser_revision(), [this] {
        hide();
        QThread::yieldCurrentThread();
    });
    return true;
}

bool CMainFrame::query_close() {
    if (in_preview_) {
        // Closing in print preview only leaves the preview.
        if (leave_preview_) leave_preview_();
        in_preview_ = false;
        leave_preview_ = {};
        return false;
    }
    if (!save_on_close()) return false;
    fw::save_window_placement(this);
    closing_down_ = true;
    application().close_all_documents();
    return true;
}

std::string CMainFrame::get_confirming_user(int overall_limit_ms) {
    query_status_ = kConfirmOk;
    auto pending =
        std::async(std::launch::async, [overall_limit_ms] { return query_confirming_user(overall_limit_ms); });
    // Keep painting while the identity window thinks; what the user does waits for the answer.
    while (pending.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    const ConfirmingUser answer = pending.get();
    query_status_ = answer.status;
    return answer.status == kConfirmOk ? answer.name : std::string();
}

}  // namespace tv
