// An archive: a folder of report folders and its index file ARCHINFO.DAT, five non-blank lines
// per report (folder name, description, date, size with an optional 'C', type name).
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/result.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_types.h"

struct stat;

namespace tv {

inline constexpr const char* kArchiveIndexName = "ARCHINFO.DAT";
inline constexpr const char* kConfirmFileName = "CONFIRM.TXT";
// Free space a rewrite or append needs beyond what it writes.
inline constexpr std::int64_t kIndexSpareBytes = 8192;

// Identity of an index file as last seen: modification time with nanoseconds, size and inode,
// so that a foreign write within the same second, or a replacement, is noticed. All zero when
// never seen.
struct IndexStamp {
    std::int64_t mtime_ns = 0;
    std::int64_t size = 0;
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    bool is_zero() const { return mtime_ns == 0 && size == 0 && inode == 0 && device == 0; }
    bool operator==(const IndexStamp&) const = default;
};
// The stamp of a file; false when it cannot be examined.
bool read_index_stamp(const std::string& path, IndexStamp& stamp);

// The index file of a folder: the existing entry named `name` in any case, else folder/name.
std::string find_index_file(const std::string& folder, std::string_view name);

// The five CR LF lines of one ARCHINFO.DAT entry as a writer produces them: every line sanitized
// (no control characters, within its length, never blank).
std::string format_archive_entry(std::string_view name, std::string_view description, std::string_view date_text,
                                 std::string_view size_text, std::string_view type_name);

// Error codes of the archive model and its operations. The library never shows anything: a
// caller shows a non-empty message with an error icon under archive_error_caption(code).
inline constexpr int kArchiveNoSpace = 1;        // "Not enough disk space"
inline constexpr int kArchiveWriteFailed = 2;    // "File Error " (an index file could not be written)
inline constexpr int kArchiveDeleteFailed = 3;   // "File Error" (a folder could not be deleted)
inline constexpr int kArchiveConfigRefused = 4;  // "Archive configuration"
inline constexpr int kArchiveAuditFailed = 5;    // no caption, as every code below
inline constexpr int kArchiveNotFound = 6;       // no such archive or report (message empty)
inline constexpr int kArchiveUnsafeName = 7;     // a name that is not a plain path component
inline constexpr int kArchiveStoreFailed = 8;  // store_report_in_archive failed (message: the entry refused, or empty)
inline constexpr int kArchiveIndexFull = 9;    // an index entry could not be removed for want of space
inline constexpr int kArchiveIncomplete = 10;  // done in part; what is left is described
inline constexpr int kArchiveCreateFailed = 11;  // a folder could not be created
inline constexpr int kArchiveBusy = 12;          // "Archive In Use": the folder's lock could not be had
inline constexpr int kArchiveEntryGone = 13;     // "Archive Changed": another program removed the entry
inline constexpr int kArchiveLockDenied = 14;    // "Archive Lock": this account cannot open the lock file to write
inline constexpr int kArchiveReadOnly = 15;      // "Archive Read-Only": the folder takes no new file
inline constexpr int kArchiveUnreadable = 16;    // "Archive Access": a folder this account cannot read; left as it is
inline constexpr int kArchiveReplaced = 17;      // "Archive Changed": a folder became a link or another folder; left
const char* archive_error_caption(int code);

// Helpers the index readers and writers of the archive model share.
namespace archive_io {
// Opens an index file for reading only when it is a regular file (never blocks on a FIFO; a
// link only when `follow_links`: an index lies where others can write); fills `stamp` from the
// opened file. Empty when it cannot be read.
platform::UniqueFile open_index_for_reading(const std::string& path, IndexStamp* stamp, bool follow_links = false);
// The stamp of a file from its status (all zero from an all-zero status).
IndexStamp stamp_of(const struct ::stat& st);
// True when the file system of `folder` has at least `needed` bytes free.
bool enough_space_for(const std::string& folder, std::int64_t needed);
Error no_space_error();                            // "There is not enough free disk space ..."
Error write_error(const std::string& index_path);  // "Couldn't write to archive file: " + path
}  // namespace archive_io

// Every writer of a folder's index files (ARCHINFO.DAT, ARCHDIR.DAT, DEVICE.DAT), in every
// program, account and machine that mounts the folder, takes its turn on this lock: an exclusive
// open-file-description byte-range lock on the file ".TVINDEX.LCK" in the folder. Byte-range
// locks reach the server of an NFSv4 or SMB3 share; a lock on the folder itself would not. A
// writer that cannot have it within `wait_ms` writes nothing (held() false, busy_error() says why:
// "in use" only when another process holds it). The folder is opened first and never through a
// link as its last step (kArchiveLockDenied then). Once it has the lock, it first settles what
// killed changes of the folder left (change_record.h); notes() says what it did or had to leave.
inline constexpr const char* kIndexLockFileName = ".TVINDEX.LCK";
inline constexpr int kIndexLockWaitMs = 10000;
class ChangeRecord;

class ArchiveIndexLock {
public:
    explicit ArchiveIndexLock(const std::string& folder, int wait_ms = kIndexLockWaitMs);
    // The same in the folder this run holds open as `folder_fd` (duplicated; `folder` names it):
    // the lock file is the one in that folder, wherever its name leads by now.
    ArchiveIndexLock(int folder_fd, const std::string& folder, int wait_ms = kIndexLockWaitMs);
    ArchiveIndexLock(const ArchiveIndexLock&) = delete;
    ArchiveIndexLock& operator=(const ArchiveIndexLock&) = delete;
    bool held() const { return lock_.held(); }
    const std::string& folder() const { return folder_; }
    // The folder as it was opened for the lock (never through a link); -1 when it was not.
    int folder_fd() const { return folder_fd_ ? folder_fd_.get() : -1; }
    // A folder that could not be opened: ReadOnly when this account may not, else Other.
    platform::LockFailure failure() const {
        if (folder_fd_) return lock_.failure();
        return folder_refusal_ == OutsideRefusal::Unreadable ? platform::LockFailure::ReadOnly
                                                             : platform::LockFailure::Other;
    }
    // What is wrong with the lock file itself when it was refused (failure() NotWritable).
    platform::SharedFileFault lock_file_fault() const { return lock_.file_fault(); }
    // Why the lock is not held, naming the folder: kArchiveBusy (another process holds it),
    // kArchiveLockDenied (its lock file cannot be opened for writing by this account, or is a
    // link, not a plain file or a file with another name too, and is refused),
    // kArchiveReadOnly (the folder takes no new file), else kArchiveWriteFailed.
    Error busy_error() const;
    const std::vector<std::string>& notes() const { return settled_.notes; }
    // Hidden folders of the folder that no change record names, left as they are; not in notes().
    const std::vector<std::string>& unrecorded_folders() const { return settled_.unrecorded_folders; }

private:
    std::string folder_;
    platform::UniqueFd folder_fd_;
    OutsideRefusal folder_refusal_ = OutsideRefusal::None;
    platform::FileLock lock_;
    SettledChanges settled_;
};

// What is wrong with a refused lock file: "its lock file .TVINDEX.LCK is a link, which is not
// followed" and the like; empty for None.
std::string lock_file_fault_text(platform::SharedFileFault fault);

// "The report ... is no longer listed": a change whose entry another program removed meanwhile.
Error entry_gone_error(const std::string& archive_folder, std::string_view folder_name);

// The entries of one ARCHINFO.DAT as a change sees them: read afresh under the archive's lock.
// Entries are found by folder name without regard to case, never by position.
class ArchiveIndexEntries {
public:
    std::vector<std::unique_ptr<ReportRecord>>& records() { return records_; }
    const std::vector<std::unique_ptr<ReportRecord>>& records() const { return records_; }
    ReportRecord* find(std::string_view folder_name) const;  // the first of that name; null when none
    int remove(std::string_view folder_name);                // every entry of that name; how many
    void add(std::unique_ptr<ReportRecord> record);
    // One to four lines of a torn last entry, written back as they were read.
    std::vector<std::string>& torn_tail() { return tail_; }
    // The change found nothing to do: the file is left as it is.
    void leave_file() { leave_file_ = true; }
    bool file_left() const { return leave_file_; }
    // Remembers a record's lines as the file held them: an entry the change leaves alone is
    // written back exactly so, whoever wrote it.
    void keep_as_read(const ReportRecord* record, std::string lines);
    // The text of the index: entries as read where unchanged, others as this program writes them.
    std::string format() const;

private:
    struct AsRead {
        std::string formatted, lines;
    };
    std::vector<std::unique_ptr<ReportRecord>> records_;
    std::vector<std::string> tail_;
    std::unordered_map<const ReportRecord*, AsRead> as_read_;
    bool leave_file_ = false;
};
// Edits the entries; an error leaves the file as it was and is passed on.
using ArchiveIndexChange = std::function<Result<void>(ArchiveIndexEntries&)>;

// What the index holds once a change is written, taken while the lock was still held.
struct ArchiveIndexState {
    ArchiveIndexEntries entries;
    IndexStamp stamp;
    std::uint32_t checksum = 0;
};

// The one way to change an ARCHINFO.DAT: takes the archive's lock, reads the index as it is now
// (missing reads as empty), applies `change`, and replaces the file atomically and durably
// (its size + 8192 bytes free) before the lock goes. Fills `after` on success.
// kArchiveBusy, kArchiveNoSpace, kArchiveWriteFailed or the change's error: the file is untouched.
Result<void> change_archive_index(const std::string& archive_folder, const ArchiveIndexChange& change,
                                  ArchiveIndexState* after = nullptr);
// The same for a caller that holds the archive's lock already, so that a report folder changes in
// the same turn as its entry: another holder of the lock sees both or neither. A caller that
// renamed a folder before a failed change renames it back before it lets the lock go.
// kArchiveBusy when `lock` is not held.
Result<void> change_archive_index(const ArchiveIndexLock& lock, const ArchiveIndexChange& change,
                                  ArchiveIndexState* after = nullptr);

// Report folders on their way into or out of an archive have a name of their own that begins
// with '.': every reader of an archive passes over such names, so that a folder is seen under its
// report name only while its entry is listed.
namespace archive_io {
// A folder this run made, or judged, in a folder others can write, held open: whatever its name
// comes to hold meanwhile, what is written or deleted through `fd` is in it. A hidden folder is
// made 0777 less the umask (setgid kept), then without group or other write until it is
// published: nobody else writes into it.
struct MadeFolder {
    std::string name;  // its name in the parent as made
    platform::UniqueFd fd;
    std::uint64_t device = 0, inode = 0;
    unsigned mode = 0;  // the mode it gets when published
    explicit operator bool() const { return static_cast<bool>(fd); }
};
// A new folder `name` (new_hidden_name, which a record may name before it exists) in the folder
// open as `parent_fd`: made with mkdirat, opened without following a link and checked to be the one
// made (this account's, empty). Empty on failure (nothing of it is then left that was checked).
MadeFolder make_hidden_folder_at(int parent_fd, const std::string& name);
// A hidden name no other process makes: ".TV" + `purpose` + this process's token and a serial.
std::string new_hidden_name(std::string_view purpose);
// A folder others of the group write into (an archive) made as make_hidden_folder_at makes and
// checks its folder, but keeping the group's write bit that the umask leaves. Empty on failure
// (errno EEXIST when the name is taken).
MadeFolder make_shared_folder_at(int parent_fd, const std::string& name);
// The archive folder `name` of the group folder open as `group_fd`, for the change of the group's
// index that lists it: a real folder there is taken as it is (`made` stays empty), a missing one
// is made with make_shared_folder_at into `made` (for discard_made_folder when the change fails).
// False when a link or anything but a folder is in its place, or it cannot be made.
bool ensure_archive_folder_at(int group_fd, const std::string& name, MadeFolder& made);
// The spelling of `name` in the folder open as `dir`: the exact one when it is there, else the
// smallest that equals it without regard to case, else `name`.
std::string name_on_disk(int dir, const std::string& name);
// True when `name` in `parent_fd` is, not through a link, the folder `made`.
bool holds_made_folder(int parent_fd, const std::string& name, const MadeFolder& made);
// Renames `made` (now called `from`) to `to` in `parent_fd`, never over an existing name, and
// checks that `to` then holds it. Taken (errno EEXIST): `to` exists, nothing changed. Swapped:
// `from` no longer held the folder made; whatever was renamed is put back under `from` and
// nothing is published. Failed: any other failure.
enum class PublishResult { Done, Taken, Swapped, Failed };
PublishResult publish_made_folder(int parent_fd, const MadeFolder& made, const std::string& from,
                                  const std::string& to);
// Deletes what `made` holds through its descriptor, then the folder under `name` only when that
// name still holds it (otherwise it stays empty wherever it was put). True when nothing of it is
// left under `name`.
bool discard_made_folder(int parent_fd, const MadeFolder& made, const std::string& name);
// How a folder judged for deletion stands: held open (and, hidden, under its hidden name), or
// nothing of that name, a link or something that is not the folder judged in its place, or a
// folder that cannot be opened or renamed (errno says why).
enum class JudgedFolder { Held, Missing, Link, Other, Failed };
// Opens `name` in the folder open as `parent_fd` without following a link into `held` (name,
// descriptor and identity): what is judged from now on is that folder, whatever its name holds.
JudgedFolder open_judged_folder_at(int parent_fd, const std::string& name, MadeFolder& held);
// Renames `held` from `held.name` to a fresh hidden name beside it in the folder of `lock` (held),
// only while the name holds it and under `record` (hide_folder_under_record), and checks that the
// hidden name holds it afterwards; `held.name` is then the hidden name, and the caller finishes
// the record once it is gone. When another entry was renamed instead, it gets its name back and
// the record is finished: Link or Other, nothing changed.
JudgedFolder hide_judged_folder_at(const ArchiveIndexLock& lock, MadeFolder& held, ChangeRecord& record);
// Deletes what `held` holds through its descriptor (each entry that stays named to `failed` as
// remove_folder_at names it), then `held.name` only while that name still holds it. True when
// nothing of it is left.
bool delete_held_folder_at(int parent_fd, const MadeFolder& held,
                           const std::function<void(const std::string& below, bool folder)>& failed = {});
// Names a folder that is no longer the one judged: "<path> was replaced by a link while it was
// checked - <left>, and what the link leads to is not looked at." for a link, else "<path> is no
// longer the folder that was checked - <left>.".
std::string replaced_folder_text(const std::string& path, bool link, const std::string& left);
// True for a name that make_hidden_folder_at(.., new_hidden_name("NEW")) or hide_folder gives: a report on its way in
// or out, or what an interrupted store or deletion left.
bool is_passing_report_name(std::string_view name);
}  // namespace archive_io

class ReportArchive {
public:
    // Reads ARCHINFO.DAT of `path` when `read_index` is set. `raw_only` keeps only type 513,
    // `skip_raw` drops it; every line read counts in the checksum either way. A missing or
    // unreadable index gives an empty archive.
    ReportArchive(std::string path, std::string name, bool raw_only = false, bool skip_raw = false,
                  bool read_index = true);
    ~ReportArchive();
    ReportArchive(const ReportArchive&) = delete;
    ReportArchive& operator=(const ReportArchive&) = delete;

    const std::string& get_path() const { return path_; }
    const std::string& get_name() const { return name_; }
    std::int32_t get_count() const { return static_cast<std::int32_t>(records_.size()); }
    std::uint32_t get_checksum() const { return checksum_; }
    // Null for an index out of range.
    ReportRecord* get_record(std::int32_t index) const;
    // The text after the last '/' of the path; the whole path when it has none.
    std::string get_folder_name() const;
    // The ARCHINFO.DAT of the folder (found without regard to case).
    std::string get_index_path() const;
    std::int64_t get_index_size() const;  // -1 when it cannot be opened

    // Seconds since 1970 of the index's modification time as last read or written; 0 when never.
    std::int64_t get_index_time() const { return stamp_.mtime_ns / 1000000000; }
    const IndexStamp& get_index_stamp() const { return stamp_; }
    // A file that cannot be examined counts as changed exactly when it was seen before.
    bool index_changed_on_disk() const;

    // change_archive_index of this archive's folder; afterwards the records (filtered as when
    // read), checksum and stamp are what the file holds, other programs' changes included, so
    // record indices and pointers taken before do not survive it. On failure nothing changes.
    // Refused (kArchiveWriteFailed) for an archive whose folder entry is not safe.
    Result<void> update_index(const ArchiveIndexChange& change);
    // The same under a lock of this archive's folder that the caller holds already.
    Result<void> update_index(const ArchiveIndexLock& lock, const ArchiveIndexChange& change);
    // Appends the record's five CR LF lines to `out`: name and description as read from the
    // index unchanged, everything else within the limits of format_archive_entry.
    static void write_record(const ReportRecord& record, std::string& out);

    // The first record whose name equals `folder_name` without regard to case.
    ReportRecord* find_record(std::string_view folder_name) const;
    // Adds a record at the end (in memory only).
    void add_record(std::unique_ptr<ReportRecord> record);

    // True when this archive's folder entry may be used as a path (set by the group).
    bool is_safe() const { return safe_; }
    void set_safe(bool safe) { safe_ = safe; }
    // The folder-name line of ARCHDIR.DAT this archive came from; empty when made directly.
    const std::string& get_folder_entry() const { return folder_entry_; }
    void set_folder_entry(std::string entry) { folder_entry_ = std::move(entry); }
    // Entries the index holds (before any filter) as last read.
    std::int32_t get_entries_read() const { return entries_read_; }

private:
    void read_index();
    void take_entries(std::vector<std::unique_ptr<ReportRecord>>& entries);

    std::string path_, name_, folder_entry_;
    std::uint32_t checksum_ = 0;
    IndexStamp stamp_;
    std::vector<std::unique_ptr<ReportRecord>> records_;
    std::int32_t entries_read_ = 0;
    bool raw_only_ = false, skip_raw_ = false;
    bool safe_ = true;
};

}  // namespace tv
