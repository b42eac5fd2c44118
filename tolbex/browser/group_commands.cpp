#include "tolbex/browser/group_commands.h"

#include "common/files.h"
#include "common/registry.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/browser/app_commands.h"
#include "tolbex/browser/browser_list_core.h"

namespace tv {

namespace {

constexpr const char* kCannotDeleteGroupCaption = "Cannot delete archive group";

}  // namespace

std::string standard_archive_group_path() { return join_path(get_analyser_user_root(), "ARCHIVE"); }

bool is_workstation_standard_group(const std::string& group_folder) {
    return !group_folder.empty() && platform::find_name_ci(group_folder, kWorkstationMarkerName).has_value();
}

std::string where_is_text(const BrowserListCore& doc, const std::vector<std::int32_t>& rows) {
    std::string text;
    for (std::int32_t row : rows) {
        const ReportArchive* archive = doc.get_archive(row);
        const ReportRecord* record = doc.get_record(row);
        if (!archive || !record) continue;
        text += "Report \"" + record->get_description() + "\" is in folder \"" + archive->get_path() + "\"\n";
    }
    return text;
}

bool is_twelve_lead_name(const std::string& folder_name) { return folder_name.find(".O12") != std::string::npos; }

bool all_twelve_lead(const BrowserListCore& doc, const std::vector<std::int32_t>& rows) {
    if (rows.empty()) return false;
    for (std::int32_t row : rows) {
        const ReportRecord* record = doc.get_record(row);
        if (!record || !is_twelve_lead_name(record->get_name())) return false;
    }
    return true;
}

int delete_twelve_lead_ecg_files(BrowserListCore& doc, const std::vector<std::int32_t>& rows, Ui& u) {
    // The reports are named before the question, and the refresh waits until the work is done.
    std::vector<ReportRef> reports;
    for (const ReportRef& ref : doc.refs_of(rows))
        if (is_twelve_lead_name(ref.name)) reports.push_back(ref);
    TransferGuard transfer;
    // The files go for good: Enter keeps them.
    if (u.message_box("This operation will permanently delete the 12 channel ECG files from the selected "
                      "reports,\nand change the report type to \"Full\". You will still be able to load these "
                      "reports into Quorril,\nbut you will not be able to view 12 lead ECG.\n\nDo you want to "
                      "proceed ?",
                      "", MsgIcon::Question, MsgButtons::YesNo, MsgDefault::Second) != MsgResult::Yes)
        return 0;
    int changed = 0;
    for (const ReportRef& ref : reports)
        if (doc.delete_ecg_files(ref) == kDeleteEcgOk) ++changed;
    doc.reload();
    return changed;
}

bool can_add_to_configuration(const ArchiveConfigList* config, const std::string& group_folder) {
    return config && config->get_count() > 0 && !group_folder.empty() && !config->contains(group_folder);
}

bool can_remove_from_configuration(const ArchiveConfigList* config, const std::string& group_folder) {
    return config && config->get_count() > 0 && !group_folder.empty() &&
           !platform::iequals(group_folder, standard_archive_group_path()) && config->contains(group_folder);
}

int add_group_with_notice(ArchiveConfigList& config, const std::string& group_folder, Ui& u) {
    const int result = add_group_to_configuration(config, group_folder, u);
    if (result == kConfigOk)
        u.message_box(
            "The current archive group has been successfully added \nto the Archive Configuration File (DEVICE.DAT)",
            "Archive Group Added", MsgIcon::Information, MsgButtons::Ok);
    return result;
}

int remove_group_with_notice(ArchiveConfigList& config, const std::string& group_folder, Ui& u) {
    if (config.get_count() == 0) return -1;
    if (platform::iequals(group_folder, standard_archive_group_path())) {
        u.message_box(
            "You cannot remove the standard archive group \"C:\\ANALYSER\\ARCHIVE\"\nfrom the Archive "
            "Configuration File (DEVICE.DAT)",
            "Cannot Remove Archive From Configuration File", MsgIcon::Error, MsgButtons::Ok);
        return -1;
    }
    return remove_group_from_configuration(config, group_folder, u);
}

bool delete_group_command(BrowserListCore& doc, ArchiveConfigList* config, Ui& u) {
    if (!doc.has_group()) return false;
    if (is_workstation_standard_group(doc.get_group_folder())) {
        u.message_box("You cannot delete the standard archive group on an Analyser.", kCannotDeleteGroupCaption,
                      MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    if (doc.get_row_count() > 0) {
        u.message_box(
            "You cannot remove an archive unless it is empty -\nplease empty the archive by deleting all the "
            "reports within it.\nYou can then delete the reports moved to the \"Deleted Reports\"\narchive, which "
            "you can select from the drop-down archive list.",
            kCannotDeleteGroupCaption, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    if (u.message_box("Deleting an Archive Group will permanently lose all the archives and reports that are in "
                      "it.\nAny Quorril systems that reference this archive group will be unable to find it in the "
                      "future.\n\n Are you sure that you want to delete this archive group?\n",
                      "Confirm Deletion of Archive Group", MsgIcon::Warning, MsgButtons::OkCancel) != MsgResult::Ok)
        return false;
    // The document shows why when it cannot.
    if (!doc.delete_group(config)) return false;
    u.message_box(
        "The current archive group has been successfully deleted.\nThe deleted folder's window will now be closed.",
        "Archive Group Deleted Successfully", MsgIcon::None, MsgButtons::Ok);
    return true;
}

}  // namespace tv
