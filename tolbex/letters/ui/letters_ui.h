// Letters in the windows: registers Create Letter and View Letters with the report hand-over
// (the report window's commands and the browser's Letters button then come alive).
#pragma once
#include <functional>
#include <optional>
#include <string>

namespace tv::gui {

void register_letter_handlers();

// The file-open dialogs of the letters (template choice, "Open Letter"): caption, start file,
// filter; nullopt when cancelled. Tests put a script in place; empty restores the dialog.
using LetterFileChooser = std::function<std::optional<std::string>(const std::string& caption, const std::string& start,
                                                                   const std::string& filter)>;
void set_letter_file_chooser(LetterFileChooser chooser);

// Hands a letter to the user (the desktop's opener when a desktop is there); false when that failed.
// Tests put their own in place; empty restores the opener.
using LetterOpener = std::function<bool(const std::string& path)>;
void set_letter_opener(LetterOpener opener);

// Opens the report folder's letters: none, nothing; one, at once; several, the user picks one.
void open_report_letters(const std::string& report_folder);

}  // namespace tv::gui
