// An archive group: a folder of archives and its index file ARCHDIR.DAT, two non-blank lines per
// archive (folder name inside the group folder, display name).
#pragma once
#include <cstdint>
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

// Appends one archive entry (folder name, display name; CR LF each) to an ARCHDIR.DAT, creating
// it when missing. The folder name must be a safe path component. Needs the entry + 8192 bytes
// free; a failed write leaves the file as it was. No message.
bool append_group_entry(const std::string& index_path, std::string_view folder_name, std::string_view display_name);

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
    // Takes ARCHDIR.DAT's current identity as this program's own (after an own write).
    void read_index_mtime();

    // Rewrites ARCHDIR.DAT atomically (size + 8192 bytes free). Each archive's folder line is
    // written as it was read (limits enforced). kArchiveNoSpace / kArchiveWriteFailed on failure.
    Result<void> write_index();
    // Deletes the archive's folder with its sub-folders, then drops it from the list. When the
    // folder cannot be deleted (or its entry is not safe) the archive stays listed:
    // kArchiveDeleteFailed ("Couldn't delete archive folder: ..."). ARCHDIR.DAT is not rewritten here.
    Result<void> remove_archive(std::int32_t index);
    // True when ARCHDIR.DAT or any archive's ARCHINFO.DAT changed since it was read or written
    // by this program. A missing ARCHDIR.DAT counts as changed exactly when it was seen before.
    bool has_changed_on_disk() const;

    // Lookup helpers: display name without regard to case; folder-name text (last component of
    // the archive's path) without regard to case; the archive that lists a report folder name.
    std::int32_t find_archive_by_name(std::string_view display_name) const;   // -1 when none
    std::int32_t find_archive_by_folder(std::string_view folder_name) const;  // -1 when none
    ReportRecord* find_report(std::string_view report_folder_name, std::int32_t* archive_index = nullptr) const;

private:
    std::string index_path_;
    std::uint32_t checksum_ = 0;
    IndexStamp stamp_;
    bool seen_ = false;
    std::vector<std::unique_ptr<ReportArchive>> archives_;
};

}  // namespace tv
