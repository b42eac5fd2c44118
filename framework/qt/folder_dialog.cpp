#include "framework/qt/folder_dialog.h"

#include <QFileDialog>

#include "framework/qt/qt_text.h"
#include "framework/qt/window_helpers.h"
#include "platform/fs.h"

namespace tv::fw {
namespace {

FolderPickerHook& folder_hook() {
    static FolderPickerHook hook;
    return hook;
}

}  // namespace

void set_browse_for_folder_hook(FolderPickerHook hook) { folder_hook() = std::move(hook); }

std::string strip_trailing_separator(std::string folder) { return platform::strip_trailing_slashes(std::move(folder)); }

std::string browse_for_folder(const std::string& title, const std::string& initial_folder, QWidget* owner) {
    std::string chosen;
    if (folder_hook()) {
        chosen = folder_hook()(title, initial_folder);
    } else {
        QWidget* parent = owner ? owner : main_window();
        chosen = path_from_qstring(QFileDialog::getExistingDirectory(parent, to_qstring(title),
                                                                     qstring_from_path(initial_folder),
                                                                     QFileDialog::ShowDirsOnly));
    }
    return strip_trailing_separator(std::move(chosen));
}

}  // namespace tv::fw
