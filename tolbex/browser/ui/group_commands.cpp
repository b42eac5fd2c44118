// The browser window's Where is Item, Delete 12-lead ECG files and archive-group commands: the
// rules and messages are in tolbex/browser/group_commands.h; here they are routed and enabled.
#include <QApplication>
#include <QPointer>

#include "common/ui.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/group_commands.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"

namespace tv::gui {
namespace {

// The running application's configuration; none outside the application.
ArchiveConfigList* app_config() {
    CTolbexApp* app = CTolbexApp::current();
    return app ? &app->archive_config() : nullptr;
}

}  // namespace

void CBrowserListView::register_group_commands() {
    using namespace browser_cmd;
    on_command(WhereIs, [this] { on_where_is(); });
    on_update_command(WhereIs, [this](fw::CommandUi& u) { u.enable(!list_.selected_rows().empty()); });
    on_command(DeleteEcgFiles, [this] { on_delete_ecg_files(); });
    on_update_command(DeleteEcgFiles,
                      [this](fw::CommandUi& u) { u.enable(all_twelve_lead(doc_.core(), list_.selected_rows())); });
    on_command(DeleteGroup, [this] { on_delete_group(); });
    on_command(AddToConfiguration, [this] { on_add_to_configuration(); });
    on_update_command(AddToConfiguration, [this](fw::CommandUi& u) {
        u.enable(can_add_to_configuration(app_config(), doc_.core().get_group_folder()));
    });
    on_command(RemoveFromConfiguration, [this] { on_remove_from_configuration(); });
    on_update_command(RemoveFromConfiguration, [this](fw::CommandUi& u) {
        u.enable(can_remove_from_configuration(app_config(), doc_.core().get_group_folder()));
    });
}

void CBrowserListView::on_where_is() {
    const std::vector<std::int32_t> rows = list_.selected_rows();
    if (rows.empty()) return;
    ui().message_box(where_is_text(doc_.core(), rows), "Report Folders", MsgIcon::Information, MsgButtons::Ok);
}

void CBrowserListView::on_delete_ecg_files() {
    const std::vector<std::int32_t> rows = list_.selected_rows();
    if (!all_twelve_lead(doc_.core(), rows)) return;
    delete_twelve_lead_ecg_files(doc_.core(), rows, ui());
}

void CBrowserListView::on_delete_group() {
    if (!delete_group_command(doc_.core(), app_config(), ui())) return;
    // As the window's Close command would, once this command has returned: the document goes
    // with every window it has.
    QPointer<CBrowserListView> guard(this);
    QMetaObject::invokeMethod(
        qApp,
        [guard] {
            if (guard) guard->browser_document().on_close_document();
        },
        Qt::QueuedConnection);
}

void CBrowserListView::on_add_to_configuration() {
    ArchiveConfigList* config = app_config();
    const std::string folder = doc_.core().get_group_folder();
    if (!config || folder.empty()) return;
    add_group_with_notice(*config, folder, ui());
}

void CBrowserListView::on_remove_from_configuration() {
    ArchiveConfigList* config = app_config();
    const std::string folder = doc_.core().get_group_folder();
    if (!config || folder.empty()) return;
    remove_group_with_notice(*config, folder, ui());
}

}  // namespace tv::gui
