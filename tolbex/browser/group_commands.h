// The archive browser's commands on the group as a whole (delete it, add it to or remove it from
// the archive configuration) and two report commands that need no window (Where is Item, delete
// the 12-lead ECG files), with the rules that enable them. Questions and messages go through the
// Ui given; the window layer only routes the commands and closes the window of a deleted group.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tv {

class ArchiveConfigList;
class BrowserListCore;
class Ui;

// The marker file of an analysis workstation's standard group.
inline constexpr const char* kWorkstationMarkerName = "POBTAN.ID";

// <UserRoot>/ARCHIVE: the standard archive group of the analysis system.
std::string standard_archive_group_path();
// The group folder holds POBTAN.ID (any case).
bool is_workstation_standard_group(const std::string& group_folder);

// Where is Item: one line per row, Report "<description>" is in folder "<archive folder>".
std::string where_is_text(const BrowserListCore& doc, const std::vector<std::int32_t>& rows);
// The folder name holds ".O12" (exact case): a 12-lead report whose ECG files may go.
bool is_twelve_lead_name(const std::string& folder_name);
// Delete 12-lead ECG files is offered for a selection of 12-lead reports only.
bool all_twelve_lead(const BrowserListCore& doc, const std::vector<std::int32_t>& rows);
// Asks, then deletes the ECG files of each 12-lead row (a failure is shown and the rest go on);
// when any report changed, the indexes are rewritten and the group reloads. The number changed.
int delete_twelve_lead_ecg_files(BrowserListCore& doc, const std::vector<std::int32_t>& rows, Ui& u);

// Add to Configuration is offered when the configuration lists groups, but not this one.
bool can_add_to_configuration(const ArchiveConfigList* config, const std::string& group_folder);
// Remove from Configuration is offered when the configuration lists this group and it is not
// the standard archive group.
bool can_remove_from_configuration(const ArchiveConfigList* config, const std::string& group_folder);
// Adds the group and tells the outcome; the configuration's add result.
int add_group_with_notice(ArchiveConfigList& config, const std::string& group_folder, Ui& u);
// Removes the group (never the standard group) and tells the outcome; nothing happens while the
// configuration is empty. The configuration's remove result, or -1 when nothing was tried.
int remove_group_with_notice(ArchiveConfigList& config, const std::string& group_folder, Ui& u);

// Delete group: refuses a workstation's standard group and a group with any report, asks, then
// deletes the group (BrowserListCore::delete_group) and tells the outcome. True when the group
// is gone and its window should close.
bool delete_group_command(BrowserListCore& doc, ArchiveConfigList* config, Ui& u);

}  // namespace tv
