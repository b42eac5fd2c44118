// The windows of export and of the external-program hand-over: the folder picker, the wait
// dialogs, and the registration that makes the report commands live.
#pragma once
#include <string>
#include <vector>

#include "tolbex/external/export_reports.h"

class QWidget;

namespace tv::gui {

inline constexpr const char* kExportNoneSelected = "You must select one or more reports to export.";
inline constexpr const char* kExportFolderPrompt = "Select folder in which to place exported reports:";
inline constexpr const char* kExternalNoneSelected = "You must select one or more reports before you can send them.";
inline constexpr const char* kExternalStillRunning =
    "The external program is still working on the reports sent before.\n\nPlease try again when it has finished.";

// Export to folder: the folder is picked (starting at "Settings" "Export Folder"), then every
// report is packed there behind the wait cursor and the 'Compressing Report Files' dialog.
// 1 when every report was exported, 0 otherwise (also when nothing was picked).
int export_to_folder(const std::vector<SelectedReport>& reports, QWidget* parent = nullptr);

// Runs the application's external program for each job behind the modal wait dialog, then tells
// the user what came of it. False when the hand-over was refused (nothing run).
bool send_to_external_program(const std::vector<ExternalJobEntry>& jobs, QWidget* parent = nullptr);

// Installs send_to_external_program as the report commands' external-program handler.
void register_external_program_handler();

}  // namespace tv::gui
