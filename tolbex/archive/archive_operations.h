// The operations that change archive folders and their index files as a whole: delete, copy and
// move reports, rename them, drop index entries, rewrite, remove archives and groups. Each keeps
// its free-space rule and leaves its audit entries through the AuditTrail given (null logs
// nothing). Nothing here asks or shows anything, so that a console program can use them: every
// message is returned as an Error (code from report_archive.h, shown under archive_error_caption).
// Where an operation goes on after a problem, that problem is added to `notices` in the order it
// happened; the caller shows the notices before the returned error.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tv {

class ArchiveConfigList;
class ArchiveGroup;
class AuditTrail;
class ReportArchive;

// Free space rules.
inline constexpr std::int64_t kRemovableDeleteSpare = 65536;  // delete on removable media: index + this
inline constexpr std::int64_t kGroupDeleteSpace = 65536;      // delete a group; move to "Deleted Reports"
inline constexpr std::int64_t kIndexEntryRemoveSpace = 8192;  // remove_index_entry needs more than this

// Messages of the operations (fixed English texts).
inline constexpr const char* kNotEnoughSpaceText = "There is not enough free disk space to complete the operation.";
inline constexpr const char* kNotEnoughSpaceCaption = "Not enough disk space";
inline constexpr const char* kDeleteLogText =
    "The report cannot be deleted, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kCopyLogText =
    "The report cannot be copied, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kSourceLogText =
    "The report cannot be deleted from the source folder, because the logfile cannot be opened.\n\nPlease "
    "attempt the operation again.";
inline constexpr const char* kSourceFolderLeftText =
    "There was an error while moving the report, it was not possible to delete the source folder : \n%s";
inline constexpr const char* kIndexEntryDiskFullText =
    "There was an error while deleting the copied report files. The disk is probably full.";

namespace archive_ops {

// Every operation changes an index as one locked read-modify-write by folder name (see
// change_archive_index and change_group_index): another program's changes are kept, and an entry
// another program removed meanwhile is reported (kArchiveEntryGone), never recreated. Afterwards
// the archive's records are what its file holds, so callers name reports by folder name and
// rebuild whatever rows they derived from the records.

// Removes every five-line entry whose folder name equals `folder_name` (without regard to case)
// from an ARCHINFO.DAT; none is fine. A torn entry at the end is kept. Needs more than 8,192
// bytes free beside the index (kArchiveIndexFull); a read or write failure gives
// kArchiveWriteFailed, the lock kArchiveBusy. The index is left as it was on any failure.
Result<void> remove_index_entry(const std::string& index_path, std::string_view folder_name);

// Deletes the report named `folder_name` for good and logs it: in one turn of the archive's lock
// its entry goes and its folder takes a hidden name, deleted after the lock, so that no other
// program sees the one without the other.
// kArchiveNotFound (not in the records; the archive's lock is taken first, so that a run again
// after a kill settles what the killed run left), kArchiveNoSpace (removable media without the index size
// + 65,536 bytes free), kArchiveAuditFailed and the index change's errors: nothing was done.
// kArchiveDeleteFailed: the entry is gone but the (hidden) folder stayed, or a folder that cannot
// be renamed keeps its entry. A report without a folder path loses its entry without an audit entry.
Result<void> delete_report(ReportArchive& archive, std::string_view folder_name, AuditTrail* audit);

// Copies or moves one report into another archive folder under `description`; returns the new
// report folder. Before anything is stored, the audit logs of destination (and, moving, source)
// and the source disk's free space are checked. Moving, the source entry and folder go after
// the copy is stored and logged, together as delete_report's do; a source folder that stays is a
// notice. A move decides under the source's lock, after settling, that the report is still listed
// (else kArchiveEntryGone). A report folder that is no longer the one judged (a link or another
// folder in its place) is left and named (kArchiveReplaced), for delete_report as for a move.
Result<std::string> transfer_report(ReportArchive& archive, std::string_view folder_name,
                                    const std::string& destination_archive, const std::string& description, bool move,
                                    bool move_files, AuditTrail* audit, std::vector<Error>& notices);

// Sets the description of the report named `folder_name` in its archive's index.
Result<void> set_description(ReportArchive& archive, std::string_view folder_name, std::string_view text);
// The report named `folder_name` (any case) in the first archive that lists it gets `time`.
// kArchiveNotFound when no archive holds it.
Result<void> set_report_time(ArchiveGroup& group, std::string_view folder_name, std::int64_t time);
// What goes with a report's confirmation mark in the report folder itself (its CONFIRM.TXT),
// done through the folder open as `folder_fd` (`path` names it for messages). An error stops the
// change.
using ReportFolderStep = std::function<Result<void>(int folder_fd, const std::string& path)>;
// The mark with `step` in one turn of the archive's lock: the report folder is opened relative to
// the locked archive folder, never through a link, and `step` works through it; the entry changes
// only while the name still holds that folder. A link or anything else in its place, before or
// after `step`: kArchiveReplaced ("replaced by a link"), after `step` with `undo` run; `undo` runs
// as well when the index cannot be written. kArchiveUnsafeName for a name that is not one plain
// component, kArchiveWriteFailed when the folder cannot be opened, else the lock's, `step`'s or
// the index change's error.
Result<void> set_confirmed(const std::string& archive_folder, std::string_view folder_name, bool confirmed,
                           const ReportFolderStep& step, const ReportFolderStep& undo);

// Deletes the archive's folder, then its ARCHDIR.DAT entry. kArchiveNotFound / kArchiveDeleteFailed:
// nothing changed; otherwise the list changed even when the index change failed.
Result<void> remove_archive(ArchiveGroup& group, std::int32_t archive_index);
// Deletes every archive folder and ARCHDIR.DAT, and the group from `config` when it lists
// entries (a refusal there is a notice). kArchiveNoSpace (no message) below 65,536 bytes free:
// nothing changed. kArchiveIncomplete (no message) when an archive stayed: each is a notice, and
// ARCHDIR.DAT lists what is left. kArchiveDeleteFailed when ARCHDIR.DAT could not be deleted (the
// archives are gone by then). ARCHDIR.DAT goes only while it lists nothing: an archive another
// program added meanwhile stays (kArchiveIncomplete with a notice).
Result<void> delete_group(ArchiveGroup& group, ArchiveConfigList* config, std::vector<Error>& notices);
// The index of the archive named exactly "Deleted Reports" as ARCHDIR.DAT lists it now, creating
// it when missing; the look-up, the folder "DELETED" and the entry are one locked change, so two
// programs never both add it and no other program sees the folder unlisted. kArchiveCreateFailed
// or the index change's errors when it cannot be made (a folder made for it is removed again).
Result<std::int32_t> ensure_deleted_archive(ArchiveGroup& group);

}  // namespace archive_ops
}  // namespace tv
