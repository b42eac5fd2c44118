#include "tolbex/browser/ui/report_chooser_ui.h"

#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#include "common/files.h"
#include "common/registry.h"
#include "common/ui.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/wait_dialogs.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/archive/report_types.h"

namespace tv::gui {

namespace {

bool ask_retry(const std::string& text) {
    return ui().message_box(text, {}, MsgIcon::Error, MsgButtons::RetryCancel) == MsgResult::Retry;
}

}  // namespace

ChooserMode current_chooser_mode() {
    const CTolbexApp* app = CTolbexApp::current();
    return app ? chooser_mode_of(app->settings().flags) : ChooserMode::None;
}

bool choose_report_row(const ReportRecord& record, ChooserMode mode, QWidget* parent) {
    const CTolbexApp* app = CTolbexApp::current();
    const ChooserAction action = chooser_action(record.get_type(), mode);
    const std::string folder = record.get_folder_path();
    if (!app || action == ChooserAction::Refuse || folder.empty()) {
        show_error(kCannotLoadKindText, kWrongKindCaption);
        return false;
    }
    if (ui().message_box(load_report_question(record.get_description()), kLoadReportCaption, MsgIcon::Question,
                         MsgButtons::OkCancel) != MsgResult::Ok)
        return false;
    const bool from_qds = app->is_from_qds();
    std::string chosen = folder;
    if (action == ChooserAction::LoadCompressed) {
        Result<std::string> loaded = [&] {
            fw::WaitCursor wait;
            PleaseWaitDlg waiting(kUncompressingText, parent);  // keeps the main window disabled meanwhile
            const CefChooserTargets targets = cef_chooser_targets(from_qds, CTolbexApp::get_analyser_revision(),
                                                                  get_analyser_user_root(), get_temp_folder());
            return load_compressed_for_choosing(folder, targets, from_qds, ask_retry);
        }();
        if (!loaded) {
            show_error(loaded.error().message, chooser_error_caption(loaded.error().code));
            return false;
        }
        chosen = *loaded;
    }
    const Result<void> written =
        write_repname(repname_file_path(app->repname_path(), from_qds, get_temp_folder()), chosen);
    if (!written) {
        show_error(written.error().message, chooser_error_caption(written.error().code));
        return false;
    }
    // The main window's close remembers the groups and the placement and tells the analysis
    // system; a close it refuses keeps the program open.
    if (QWidget* main = fw::main_window()) {
        QPointer<QWidget> guard(main);
        QMetaObject::invokeMethod(
            main,
            [guard] {
                if (guard) guard->close();
            },
            Qt::QueuedConnection);
    }
    return true;
}

}  // namespace tv::gui
