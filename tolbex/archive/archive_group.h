// An archive group: a folder of archives and its index file ARCHDIR.DAT, two non-blank lines per
// archive (folder name inside the group folder, display name).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tolbex/archive/report_archive.h"

namespace tv {

inline constexpr const char* kGroupIndexName = "ARCHDIR.DAT";
inline constexpr std::size_t kGroupLineMax = 127;
// The display name of the archive that holds deleted reports, and its folder name.
inline constexpr const char* kDeletedArchiveName = "Deleted Reports";
inline constexpr const char* kDeletedArchiveFolder = "DELETED";
// Folder and display name of a new group's first archive.
inline constexpr const char* kStandardArchiveName = "STANDARD";

// The ARCHDIR.DAT of a group folder (found without regard to case; folder/ARCHDIR.DAT otherwise).
std::string find_group_index(const std::string& group_folder);

// One ARCHDIR.DAT entry: the folder line as read (or as a writer gives it) and the display name.
struct GroupIndexEntry {
    std::string folder, name;
};
// The entries of an ARCHDIR.DAT as a change sees them: read afresh under the group's lock.
struct GroupIndexEntries {
    std::vector<GroupIndexEntry> list;
    bool leave_file = false;  // set by a change that found nothing to do: the file stays as it is
};
// Edits the entries; an error leaves the file as it was and is passed on.
using GroupIndexChange = std::function<Result<void>(GroupIndexEntries&)>;
// The one way to change an ARCHDIR.DAT: takes the group folder's ArchiveIndexLock, reads the
// file as it is now (missing reads as empty; an odd last line is kept), applies `change` and
// replaces the file atomically and durably (its size + 8192 bytes free). Lines go out within
// their limits. kArchiveBusy, kArchiveNoSpace, kArchiveWriteFailed or the change's error.
Result<void> change_group_index(const std::string& index_path, const GroupIndexChange& change);
// The same for a caller that holds the group folder's lock `lock`, `index_path` naming the index
// in it: read and replaced in the folder the lock holds open, never through a link put in its
// place. `written`, when given, receives the stamp of the file written (zero when none was).
Result<void> change_group_index_locked(const ArchiveIndexLock& lock, const std::string& index_path,
                                       const GroupIndexChange& change, IndexStamp* written = nullptr);

// Adds one archive entry (folder name, display name) at the end of an ARCHDIR.DAT, creating it
// when missing, through change_group_index. The folder name must be a safe path component
// (kArchiveUnsafeName otherwise).
Result<void> add_group_entry(const std::string& index_path, std::string_view folder_name,
                             std::string_view display_name);

// Where a report folder is listed: the archive that holds it (its parent folder, with an
// ARCHINFO.DAT, read afresh), the record of the folder's name there, and the archive's display
// name from the group's ARCHDIR.DAT (the archive folder's name when the group does not list it).
struct ArchivedReportEntry {
    std::unique_ptr<ReportArchive> archive;  // null when the parent is no archive
    ReportRecord* record = nullptr;          // null when the archive does not list the folder
    std::string archive_name;
};
ArchivedReportEntry find_archived_report(const std::string& report_folder);

class ArchiveGroup {
public:
    // Reads ARCHDIR.DAT at `index_path` and, through ReportArchive, every archive it lists. The
    // three flags go to every archive unchanged. A missing index gives an empty group. An entry
    // whose folder name is not a single safe component is listed with no records and is never
    // read, deleted or stored into (ReportArchive::is_safe is false).
    ArchiveGroup(std::string index_path, bool raw_only = false, bool skip_raw = false, bool read_index = true);
    ~ArchiveGroup();
    ArchiveGroup(const ArchiveGroup&) = delete;
    ArchiveGroup& operator=(const ArchiveGroup&) = delete;

    std::int32_t get_count() const { return static_cast<std::int32_t>(archives_.size()); }
    ReportArchive* get_archive(std::int32_t index) const;
    std::uint32_t get_checksum() const { return checksum_; }
    const std::string& get_index_path() const { return index_path_; }
    // The group folder: the index path up to its last '/'.
    std::string get_folder() const;
    std::int64_t get_index_time() const { return stamp_.mtime_ns / 1000000000; }
    const IndexStamp& get_index_stamp() const { return stamp_; }
    // Takes `written`, the stamp of this program's own write of ARCHDIR.DAT, as last seen.
    void take_index_stamp(const IndexStamp& written);

    // Deletes the archive's folder with its sub-folders, then its entry from ARCHDIR.DAT (by
    // folder line, as the file holds it now) and from the list. When the folder cannot be
    // deleted (or its entry is not safe) the archive stays listed: kArchiveDeleteFailed
    // ("Couldn't delete archive folder: ..."). A failed index change is passed on; the archive
    // then leaves the list all the same, as its folder is gone.
    Result<void> remove_archive(std::int32_t index);
    // Only the folder part of remove_archive: the archive stays listed, in memory and on disk.
    Result<void> delete_archive_folder(std::int32_t index) const;
    // True when ARCHDIR.DAT or any archive's ARCHINFO.DAT changed since it was read or written
    // by this program. A missing ARCHDIR.DAT counts as changed exactly when it was seen before.
    bool has_changed_on_disk() const;

    // Lookup helpers: display name without regard to case; folder-name text (last component of
    // the archive's path) without regard to case; the archive that lists a report folder name.
    std::int32_t find_archive_by_name(std::string_view display_name) const;   // -1 when none
    std::int32_t find_archive_by_folder(std::string_view folder_name) const;  // -1 when none

private:
    std::string index_path_;
    std::uint32_t checksum_ = 0;
    IndexStamp stamp_;
    bool seen_ = false;
    std::vector<std::unique_ptr<ReportArchive>> archives_;
};

}  // namespace tv
