// The archive-group commands of the application (File > Archive Group) and the start-up offer
// to free disk space, without windows: the windowed application passes in how it opens a
// document and asks for folders; questions and messages go through the Ui it gives.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tv {

class ArchiveConfigList;
class BrowserListCore;
class Ui;

// The framework's open-document path for an ARCHDIR.DAT; true when a document is open for it
// (a new one or the one already open).
using OpenGroupFn = std::function<bool(const std::string& archdir_path)>;
// Shows the folder being searched (the search wait dialog's status line).
using SearchStatusFn = std::function<void(const std::string& folder)>;

inline constexpr const char* kGroupNotFoundCaption = "Archive Group Not Found";
inline constexpr const char* kGroupNotFoundText =
    "The archive group that you selected no longer exists.\nWould you like to remove it from the Archive "
    "Configuration File (\"DEVICE.DAT\")?\n(This will not change anything in the archive group; only "
    "\"DEVICE.DAT\" is affected.)";
inline constexpr const char* kConfigNotChangedText =
    "The Archive Configuration File (\"DEVICE.DAT\") could not be changed.\n\nThis may be because:\n\n\t* It is "
    "read-only.\n\t* It is open by another application.\n\t* You do not have write-access to it.";

// Select...: `archdir_path` is the entry chosen in the archive configuration dialog. Opens it;
// when that fails, offers to remove the entry from the configuration. True when it opened.
bool open_configured_group(ArchiveConfigList& config, const std::string& archdir_path, const OpenGroupFn& open, Ui& u);

// Removes the group from the configuration and tells the outcome in a message box; the
// configuration's remove result.
int remove_group_from_configuration(ArchiveConfigList& config, const std::string& group_folder, Ui& u);

// Add to Configuration: the configuration's add result, with its message (none on success).
int add_group_to_configuration(ArchiveConfigList& config, const std::string& group_folder, Ui& u);

// Every ARCHDIR.DAT (any case) below `base` whose group lists at least one archive, depth first
// in name order. Symbolic links are never followed and a folder is searched once however it is
// reached, so the search always ends.
std::vector<std::string> find_archive_groups(const std::string& base, const SearchStatusFn& status = {});

// Find...: searches `base` (chosen in the folder picker), opens every group found and tells the
// count. `searched` runs once the search has ended, before any group opens or anything is told
// (what showed the search goes). `cascade` is set when the main window should cascade its
// windows. Returns the number of documents opened.
int find_and_open_archive_groups(const std::string& base, const OpenGroupFn& open, Ui& u, bool* cascade = nullptr,
                                 const SearchStatusFn& status = {}, const std::function<void()>& searched = {});

// Create...: makes `folder` (chosen in the folder picker) an archive group with one archive
// "STANDARD", or opens it when it already is one; adds it to the configuration when that lists
// any entry (never a network folder that already was a group). The group folder, or "" when
// nothing was made.
std::string create_archive_group(const std::string& folder, ArchiveConfigList& config, const OpenGroupFn& open, Ui& u);

// A drive is nearly full at 500 MiB free or less and under 10 % of its size.
bool is_nearly_full(std::uint64_t free_bytes, std::uint64_t total_bytes);

struct VolumeFigures {
    std::uint64_t free_bytes = 0;
    std::uint64_t total_bytes = 0;
};
// Free and total bytes of the file system holding a folder; nullopt when unknown.
using VolumeQueryFn = std::function<std::optional<VolumeFigures>(const std::string& folder)>;

// The start-up offer: for each open group on a nearly full file system whose "DELETED" folder
// holds anything, asks whether to remove the deleted reports; Yes removes that archive. Each
// file system is examined once. When any was removed, every open group reloads. Returns the
// number removed. Without `query` the real file systems are asked.
int offer_deleted_report_removal(const std::vector<BrowserListCore*>& docs, Ui& u, const VolumeQueryFn& query = {});

}  // namespace tv
