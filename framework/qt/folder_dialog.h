// The folder picker: the system's choose-folder dialog, or a test's stand-in.
#pragma once
#include <functional>
#include <string>

class QWidget;

namespace tv::fw {

using FolderPickerHook = std::function<std::string(const std::string& title, const std::string& initial)>;
void set_browse_for_folder_hook(FolderPickerHook hook);  // empty restores the real dialog
// The chosen folder without a trailing separator (except a lone "/"); "" when cancelled.
std::string browse_for_folder(const std::string& title, const std::string& initial_folder, QWidget* owner = nullptr);
std::string strip_trailing_separator(std::string folder);
}  // namespace tv::fw
