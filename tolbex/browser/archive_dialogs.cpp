#include "tolbex/browser/archive_dialogs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/browser/browser_list_core.h"

namespace tv {

namespace {

// The group folder's ARCHDIR.DAT when it exists.
bool has_group_index(const std::string& folder) {
    return !folder.empty() && is_regular_file_no_link(find_group_index(folder));
}

void add_unique(std::vector<std::string>& list, const std::string& text) {
    for (const auto& s : list)
        if (s == text) return;
    list.push_back(text);
}

}  // namespace

bool accept_archive_file(const std::string& path, Ui& u) {
    if (platform::iequals(get_path_file_name(path), kGroupIndexName)) return true;
    show_error(u, kWrongArchiveFileText, kWrongArchiveFileCaption);
    return false;
}

bool create_archive_in_group(const std::string& group_folder, std::string_view display_name, std::string* folder_name,
                             IndexStamp* index_stamp) {
    const std::string index = find_group_index(group_folder);
    // The folder is made in the same turn of the group's lock as its entry, so that no other
    // program sees an archive folder that ARCHDIR.DAT does not list.
    const ArchiveIndexLock lock(group_folder);
    std::string name = make_unique_file_name(group_folder, "");
    std::string folder = join_path(group_folder, name);
    archive_io::MadeFolder made;
    const Result<void> added =
        !lock.held() ? Result<void>(folder_exists(group_folder) ? lock.busy_error() : fail(kArchiveCreateFailed))
                     : change_group_index_locked(
                           lock, index,
                           [&](GroupIndexEntries& entries) -> Result<void> {
                               name = make_unique_file_name(group_folder, "");
                               folder = join_path(group_folder, name);
                               if (name.empty() || !(made = archive_io::make_shared_folder_at(lock.folder_fd(), name)))
                                   return fail(kArchiveCreateFailed);
                               entries.list.push_back({name, std::string(display_name.substr(0, kArchiveNameMax))});
                               return {};
                           },
                           index_stamp);
    if (added) {
        if (folder_name) *folder_name = name;
        return true;
    }
    if (lock.held()) archive_io::discard_made_folder(lock.folder_fd(), made, made.name);
    if (added.error().code == kArchiveCreateFailed)
        show_error(ui(), format_string(kFolderCreateFailedText, folder.c_str()), kFolderCreateFailedCaption);
    else if (added.error().code == kArchiveBusy)
        show_error(ui(), added.error().message, archive_error_caption(kArchiveBusy));
    else
        show_error(ui(), "Couldn't write to archive file: " + index, "File Error");
    return false;
}

std::vector<std::string> group_archive_names(const std::string& group_folder) {
    std::vector<std::string> names;
    if (group_folder.empty()) return names;
    ArchiveGroup g(find_group_index(group_folder), false, false, false);
    for (std::int32_t i = 0; i < g.get_count(); ++i) names.push_back(g.get_archive(i)->get_name());
    return names;
}

// --- Open Archive from a list ---

ArchiveListDialogRules::ArchiveListDialogRules(const ArchiveConfigList& config) {
    for (std::int32_t i = 0; i < config.get_count(); ++i) folders_.push_back(config.get_path(i));
}

std::string ArchiveListDialogRules::get_archdir_path() const {
    return chosen_.empty() ? std::string() : join_path(chosen_, kGroupIndexName);
}

// --- Creating a New Archive ---

NewArchiveDialogRules::NewArchiveDialogRules(const ArchiveConfigList& config,
                                             const std::vector<std::string>& open_group_folders) {
    for (std::int32_t i = 0; i < config.get_count(); ++i) folders_.push_back(config.get_path(i));
    for (const auto& f : open_group_folders)
        if (!config.contains(f)) add_unique(folders_, f);
}

bool NewArchiveDialogRules::ok(const std::string& folder, const std::string& name, Ui& u) {
    if (platform::iequals(name, kDeletedArchiveName)) {
        show_error(u, kReservedArchiveNameText);
        return false;
    }
    bool refused = false;
    if (is_blank(name)) {
        show_error(u, kBlankArchiveNameText);
        refused = true;
    } else {
        const std::string upper = to_upper_copy(name);
        for (const auto& existing : archive_names(folder))
            if (to_upper_copy(existing) == upper) {
                show_error(u, kArchiveExistsText);
                refused = true;
                break;
            }
    }
    if (refused) {
        folder_.clear();
        name_.clear();
        return false;
    }
    folder_ = folder;
    name_ = name.substr(0, kArchiveNameMax);
    return true;
}

// --- Delete Archive ---

DeleteArchiveDialogRules::DeleteArchiveDialogRules(const BrowserListCore& doc) {
    for (std::int32_t i = 0; i < doc.get_archive_count(); ++i) {
        const std::string name = doc.get_archive_name(i);
        if (platform::iequals(name, kStandardArchiveName) || platform::iequals(name, kDeletedArchiveName)) continue;
        names_.push_back(name);
        indexes_.push_back(i);
    }
}

bool DeleteArchiveDialogRules::ok(int selected_line) {
    if (selected_line < 0 || static_cast<std::size_t>(selected_line) >= indexes_.size()) {
        chosen_ = -1;
        return false;
    }
    chosen_ = indexes_[static_cast<std::size_t>(selected_line)];
    return true;
}

// --- Choose Destination Archive ---

ChooseArchiveDialogRules::ChooseArchiveDialogRules(bool mail_mode, const std::string& device_dat_path,
                                                   const std::vector<std::string>& open_group_folders)
    : mail_mode_(mail_mode) {
    int preselect = 0;
    if (mail_mode_) {
        const std::string mail = get_profile_string(kArchivesSection, kMailArchiveValue, "");
        if (!mail.empty() && has_group_index(mail)) {
            add_folder(mail);
            preselect =
                static_cast<int>(parse_integer(get_profile_string(kArchivesSection, kMailIndexValue, "0")).value);
        }
    }
    ArchiveConfigList config;
    config.load(device_dat_path);
    for (std::int32_t i = 0; i < config.get_count(); ++i) add_folder(config.get_path(i));
    for (int n = 0;; ++n) {
        const std::string path = get_profile_string(kArchivesSection, format_string(kArchiveNValueFormat, n), "");
        if (path.empty()) break;
        if (is_regular_file_no_link(path)) add_folder(get_path_folder(path));
    }
    const std::string def = get_profile_string(kArchivesSection, kDefaultArchiveValue, "");
    if (!def.empty() && is_regular_file_no_link(def)) add_folder(get_path_folder(def));
    for (const auto& f : open_group_folders) add_folder(f);
    if (!folders_.empty()) select_folder(0, preselect);
}

void ChooseArchiveDialogRules::add_folder(const std::string& folder) { add_unique(folders_, folder); }

bool ChooseArchiveDialogRules::ok_enabled(const std::string& archive_text) const {
    return folder_selection_ >= 0 && archive_list_enabled() && !archive_text.empty();
}

void ChooseArchiveDialogRules::select_folder(int index, int archive_index) {
    if (index < 0 || static_cast<std::size_t>(index) >= folders_.size()) return;
    folder_selection_ = index;
    archive_names_ = group_archive_names(folders_[static_cast<std::size_t>(index)]);
    if (archive_names_.empty())
        archive_selection_ = -1;
    else
        archive_selection_ =
            archive_index >= 0 && static_cast<std::size_t>(archive_index) < archive_names_.size() ? archive_index : 0;
}

void ChooseArchiveDialogRules::add_group_folder(const std::string& group_folder) {
    if (group_folder.empty()) return;
    int at = -1;
    for (std::size_t i = 0; i < folders_.size(); ++i)
        if (folders_[i] == group_folder) at = static_cast<int>(i);
    if (at < 0) {
        folders_.insert(folders_.begin(), group_folder);
        at = 0;
    }
    select_folder(at, 0);
}

void ChooseArchiveDialogRules::locate(const std::string& archdir_path) {
    add_group_folder(get_path_folder(archdir_path));
}

bool ChooseArchiveDialogRules::ok(const std::string& archive_text, Ui& u) {
    if (is_blank(archive_text)) {
        show_error(u, kBlankArchiveNameText);
        return false;
    }
    if (folder_selection_ < 0) return false;
    const std::string name = archive_text.substr(0, kArchiveNameMax);
    const std::string folder = folders_[static_cast<std::size_t>(folder_selection_)];
    std::int32_t index = -1;
    for (std::size_t i = 0; i < archive_names_.size(); ++i)
        if (archive_names_[i] == name) {
            index = static_cast<std::int32_t>(i);
            break;
        }
    std::string new_folder;
    if (index < 0) {
        if (platform::iequals(name, kDeletedArchiveName)) {
            show_error(u, kReservedArchiveNameText);
            return false;
        }
        const std::string question =
            format_string("Create a new archive called \"%s\"\nin folder \"%s\"?", name.c_str(), folder.c_str());
        if (u.message_box(question, "Confirm Creation of New Archive", MsgIcon::Question, MsgButtons::OkCancel) !=
            MsgResult::Ok)
            return false;
        if (!create_archive_in_group(folder, name, &new_folder)) return false;
    }
    ArchiveGroup g(find_group_index(folder), false, false, false);
    if (!new_folder.empty()) {
        // The entry just appended, wherever another writer may have put others.
        index = g.find_archive_by_folder(new_folder);
    }
    ReportArchive* a = g.get_archive(index);
    if (!a || !a->is_safe()) {
        show_error(u, "Couldn't read archive file: " + g.get_index_path());
        return false;
    }
    group_folder_ = folder;
    archive_index_ = index;
    archive_path_ = a->get_path();
    if (mail_mode_) {
        write_profile_string(kArchivesSection, kMailArchiveValue, folder);
        write_profile_string(kArchivesSection, kMailIndexValue, format_string("%d", index));
    }
    return true;
}

}  // namespace tv
