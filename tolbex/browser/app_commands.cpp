#include "tolbex/browser/app_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <utility>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/browser/browser_list_core.h"

namespace tv {

namespace {

constexpr std::uint64_t kNearlyFullFree = 500ull * 1048576ull;

using FolderId = std::pair<dev_t, ino_t>;

// Depth first through `folder` (an open descriptor), never through a link.
void search_folder(platform::UniqueFd fd, const std::string& path, std::set<FolderId>& visited,
                   std::vector<std::string>& found, const SearchStatusFn& status) {
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second) return;
    if (status) status(path);
    const auto entries = list_folder_at(fd.get());
    if (!entries) return;
    for (const FolderEntry& e : *entries) {
        const std::string child = join_path(path, e.name);
        if (e.folder) {
            if (platform::UniqueFd cfd = open_folder_no_link_at(fd.get(), e.name))
                search_folder(std::move(cfd), child, visited, found, status);
        } else if (e.regular && platform::iequals(e.name, kGroupIndexName)) {
            ArchiveGroup g(child, false, false, false);
            if (g.get_count() > 0) found.push_back(child);
        }
    }
}

std::string volume_name_text(const std::string& folder) {
    if (auto d = platform::mapped_drive_of(folder)) return format_string("Drive %c:", d->letter);
    return "The drive holding \"" + folder + "\"";
}

// The configuration only says why it refused a change; showing it is ours.
void show_refusal(const ArchiveConfigList& config, Ui& u) {
    const Error why = config.refusal();
    u.message_box(why.message, archive_error_caption(why.code), MsgIcon::Error, MsgButtons::Ok);
}

int config_add(ArchiveConfigList& config, const std::string& group_folder, Ui& u) {
    const int result = config.add(group_folder);
    if (result == kConfigRefused) show_refusal(config, u);
    return result;
}

int config_remove(ArchiveConfigList& config, const std::string& group_folder, Ui& u) {
    const int result = config.remove(group_folder);
    if (result == kConfigRefused) show_refusal(config, u);
    return result;
}

}  // namespace

bool open_configured_group(ArchiveConfigList& config, const std::string& archdir_path, const OpenGroupFn& open, Ui& u) {
    if (open && open(archdir_path)) return true;
    const std::string question = "\"" + archdir_path + "\"\n\n" + kGroupNotFoundText;
    if (u.message_box(question, kGroupNotFoundCaption, MsgIcon::Warning, MsgButtons::OkCancel) != MsgResult::Ok)
        return false;
    remove_group_from_configuration(config, get_path_folder(archdir_path), u);
    return false;
}

int remove_group_from_configuration(ArchiveConfigList& config, const std::string& group_folder, Ui& u) {
    const int result = config_remove(config, group_folder, u);
    if (result == kConfigOk)
        u.message_box(
            "The current archive has been successfully removed from the Archive Configuration File "
            "(DEVICE.DAT)",
            "Archive Successfully Removed", MsgIcon::Information, MsgButtons::Ok);
    else if (result == kConfigExists)
        u.message_box(
            "The current archive is not listed in the Archive Configuration File,\nand therefore the "
            "archive cannot be removed from it.",
            "Archive Cannot be Removed", MsgIcon::Error, MsgButtons::Ok);
    else
        u.message_box(kConfigNotChangedText, "Archive Cannot be Removed", MsgIcon::Error, MsgButtons::Ok);
    return result;
}

int add_group_to_configuration(ArchiveConfigList& config, const std::string& group_folder, Ui& u) {
    const int result = config_add(config, group_folder, u);
    const char* const kHead = "Failed to add the archive group to the Archive Configuration File (DEVICE.DAT)\n";
    std::string text;
    MsgIcon icon = MsgIcon::Error;
    switch (result) {
        case kConfigOk: return result;
        case kConfigExists:
            text = std::string(kHead) + "because it already contains that archive group.";
            icon = MsgIcon::Information;
            break;
        case kConfigSaveFailed:
            text = std::string(kHead) +
                   "because a file error occured. The disk may be full, or you may not have write access to it.";
            break;
        case kConfigFull: text = std::string(kHead) + "because it is full."; break;
        case kConfigRefused: return result;  // config_add showed why
        default: text = std::string(kHead) + "because of an unknown error."; break;
    }
    u.message_box(text, "Archive Configuration File not updated", icon, MsgButtons::Ok);
    return result;
}

std::vector<std::string> find_archive_groups(const std::string& base, const SearchStatusFn& status) {
    std::vector<std::string> found;
    std::set<FolderId> visited;
    // The folder the user chose is searched even when they chose it through a link ("<link>/.").
    platform::UniqueFd fd =
        base.empty() ? platform::UniqueFd() : open_folder_no_link(trim_right_char(base, '/') + "/.");
    if (fd)
        search_folder(std::move(fd), trim_right_char(base, '/').empty() ? "/" : trim_right_char(base, '/'), visited,
                      found, status);
    return found;
}

int find_and_open_archive_groups(const std::string& base, const OpenGroupFn& open, Ui& u, bool* cascade,
                                 const SearchStatusFn& status, const std::function<void()>& searched) {
    if (cascade) *cascade = false;
    const std::vector<std::string> found = find_archive_groups(base, status);
    if (searched) searched();
    int opened = 0;
    for (const auto& path : found)
        if (open && open(path)) ++opened;
    if (opened == 0) {
        u.message_box("No valid archives found in folder: " + to_upper_copy(base), "", MsgIcon::Information,
                      MsgButtons::Ok);
        return 0;
    }
    if (cascade) *cascade = true;
    u.message_box(opened == 1 ? std::string("One valid archive has been found and opened.")
                              : format_string("%d valid archives have been found and opened.", opened),
                  "", MsgIcon::Information, MsgButtons::Ok);
    return opened;
}

std::string create_archive_group(const std::string& folder, ArchiveConfigList& config, const OpenGroupFn& open, Ui& u) {
    if (folder.empty()) return {};
    if (auto existing = platform::find_name_ci(folder, kGroupIndexName)) {
        if (open) open(*existing);
        if (classify_drive(folder) != 3 && config.get_count() > 0) config_add(config, folder, u);
        u.message_box("The folder that you selected is already an archive group.", "Cannot create archive group",
                      MsgIcon::Information, MsgButtons::Ok);
        return folder;
    }
    // The archive's folder and the index that lists it in one turn of the group folder's lock, so
    // that no other program sees the one without the other.
    const std::string index = join_path(folder, kGroupIndexName);
    archive_io::MadeFolder made_folder;
    bool made = false;
    {
        const ArchiveIndexLock lock(folder);
        made = lock.held() &&
               change_group_index_locked(lock, index, [&](GroupIndexEntries& entries) -> Result<void> {
                   for (const GroupIndexEntry& e : entries.list)
                       if (platform::iequals(e.folder, kStandardArchiveName)) {
                           entries.leave_file = true;  // made by another program meanwhile
                           return {};
                       }
                   if (!archive_io::ensure_archive_folder_at(lock.folder_fd(), kStandardArchiveName, made_folder))
                       return fail(kArchiveCreateFailed);
                   entries.list.push_back({kStandardArchiveName, kStandardArchiveName});
                   return {};
               }).ok();
        if (!made) archive_io::discard_made_folder(lock.folder_fd(), made_folder, made_folder.name);
    }
    if (!made) {
        u.message_box(format_string("Failed to create the \"%s\" folder - the destination disk may be full,\na file "
                                    "with the same name may already exist, or you may not have write access to it.",
                                    folder.c_str()),
                      "Failed to create folder", MsgIcon::Error, MsgButtons::Ok);
        return {};
    }
    if (config.get_count() > 0) config_add(config, folder, u);
    if (open) open(index);
    u.message_box("The new Archive Group has been successfully created.", "Archive Group Created Successfully",
                  MsgIcon::Information, MsgButtons::Ok);
    return folder;
}

bool is_nearly_full(std::uint64_t free_bytes, std::uint64_t total_bytes) {
    return total_bytes > 0 && free_bytes <= kNearlyFullFree && free_bytes * 100 / total_bytes < 10;
}

int offer_deleted_report_removal(const std::vector<BrowserListCore*>& docs, Ui& u, const VolumeQueryFn& query) {
    std::map<std::uint64_t, bool> examined;  // file system -> nearly full
    int removed = 0;
    for (BrowserListCore* doc : docs) {
        if (!doc || !doc->has_group()) continue;
        const std::string folder = get_path_folder(doc->get_path_name());
        // The file system the group lives on, through a link to the group folder too.
        const EntryState where = folder.empty() ? EntryState{} : probe_entry(folder + "/.");
        if (where.kind != EntryKind::Folder) continue;
        auto it = examined.find(where.device);
        if (it == examined.end()) {
            std::optional<VolumeFigures> v;
            if (query) {
                v = query(folder);
            } else if (auto info = platform::volume_of(folder)) {
                v = VolumeFigures{info->free_bytes, info->total_bytes};
            }
            it = examined.emplace(where.device, v && is_nearly_full(v->free_bytes, v->total_bytes)).first;
        }
        if (!it->second) continue;
        const auto deleted = platform::find_name_ci(folder, kDeletedArchiveFolder);
        if (!deleted) continue;
        const std::int64_t size = get_folder_size_64(*deleted, true);
        if (size <= 0) continue;
        const std::string question = volume_name_text(folder) + " is nearly full.\n\nWould you like to free " +
                                     format_thousands_64(size) +
                                     " bytes by removing all the deleted reports from\nthe \"" + folder +
                                     "\" archive group?\n\nNOTE: Once removed, these reports cannot be recovered!";
        // Enter keeps the deleted reports: their removal cannot be undone.
        if (u.message_box(question, "", MsgIcon::Question, MsgButtons::YesNo, MsgDefault::Second) != MsgResult::Yes)
            continue;
        if (doc->remove_deleted_archive()) ++removed;
    }
    if (removed > 0) reload_archive_documents();
    return removed;
}

}  // namespace tv
