// Changes of an archive that take several steps, and what a killed one leaves.
//
// Before its first step, such a change writes under the archive's lock a record of what it is
// about to do: a hidden file ".TVREC.<owner>.<n>" in the archive folder holding the operation,
// the names it works on and its owner (process id and start time), locked by the owner for as
// long as it runs. Each later step that a recovery needs to know of is added to the record
// before it is taken. Every holder of an archive's lock (ArchiveIndexLock, in every program)
// first settles the records whose owner is gone: a change whose index entry was written is
// finished forward, any other is undone, and the record goes. The hidden folders (".TVNEW"
// staging, ".TVDEL" folders on their way out) carry their owner's token in their names and are
// named by a record before they exist; one that no record names is never judged by its name
// (anyone of the group can rename a report so): it is left and said. Index temporaries, written
// only under the lock, are cleared when their owner is gone.
//
// A record is believed only as far as its writer could have gone itself: it leads only to the
// names of its own operation's forms (a hidden name carrying the token of the record's name, a
// destination archive of the same group reached through descriptors, a listed name only as the
// operation's own target), and a folder goes only when the record's account could delete it.
// Anything else is left as it is and said. Whether an owner still runs is told by the lock it
// holds on its record, which every process sharing the file system sees: a temporary whose
// token a locked record carries is alive, whatever its process id says here.
//
// So a change killed at any step leaves, after the next holder of the lock, either everything
// as before it or everything as after it: the index lists each report once, every listed folder
// exists, a 12-lead report has all its ECG files or none and its name says which. What this
// account cannot read or change is left as it is and said in the lock's notes.
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"

namespace tv {

class ArchiveIndexLock;

// The operations a record names, and the fields each writes.
inline constexpr const char* kRecordStore = "store";           // staging, then name (the listed folder)
inline constexpr const char* kRecordDeleteEcg = "delete-ecg";  // from, listed, aside, then to
inline constexpr const char* kRecordMove = "move";             // name, destination, then stored
inline constexpr const char* kRecordDelete = "delete";         // name, then hidden

class ChangeRecord {
public:
    ChangeRecord() = default;
    ~ChangeRecord();  // an unfinished record stays for the next holder of the lock
    ChangeRecord(ChangeRecord&&) noexcept = default;
    ChangeRecord& operator=(ChangeRecord&&) noexcept = default;

    // Writes and locks a new record of `operation` in the folder of `lock`, which must be held;
    // false when it cannot be written (nothing may then be changed).
    bool begin(const ArchiveIndexLock& lock, std::string_view operation);
    // Adds a field, durably, before the step it describes; false when it could not be written.
    bool note(std::string_view key, std::string_view value);
    // The change is complete or undone: the record goes.
    void finish();
    bool active() const { return static_cast<bool>(fd_); }

private:
    platform::UniqueFd folder_;
    std::string folder_path_, name_;
    platform::UniqueFd fd_;
};

// The fields of a record's text: "key=value" lines, the last one that a kill cut short (no line
// end) not counted, later lines winning. Bounded: the first kRecordMaxBytes bytes, keys of up to
// 32 bytes, kRecordMaxFields keys; anything beyond is passed over.
inline constexpr std::size_t kRecordMaxBytes = 65536;
inline constexpr std::size_t kRecordMaxFields = 32;
using ChangeRecordFields = std::map<std::string, std::string, std::less<>>;
ChangeRecordFields parse_change_record(std::string_view text);

// What settling did: one sentence per thing finished, undone, cleared or left because it cannot
// be judged; and, apart, the names of the hidden folders that no record names, which are left
// as they are (a name alone never shows whose it is) for the caller to name once, its own way.
struct SettledChanges {
    std::vector<std::string> notes;
    std::vector<std::string> unrecorded_folders;
};
// Settles what dead owners left in the folder of `lock` (held): records, staging, hidden folders
// and index temporaries. Called by ArchiveIndexLock whenever it is taken.
SettledChanges settle_unfinished_changes(const ArchiveIndexLock& lock);

// Gives the folder `name` in the folder of `lock` (held) a new hidden name ".TVDEL.<owner>.<n>",
// which a record begun here in `record` names before the rename. The caller finishes the record
// once the hidden folder is gone or back under `name`; killed before, the next holder of the lock
// deletes it when the index does not list `name`, else puts it back. The hidden name; empty, with
// nothing renamed and no record, on failure.
std::string hide_folder_under_record(const ArchiveIndexLock& lock, const std::string& name, ChangeRecord& record);

// The mode a record or temporary made in `folder_fd` gets: 0666 less the umask, with the group's
// read and write bits when the folder is group-writable, so that another account of the group
// can settle it.
void share_with_folder_group(int folder_fd, int fd);

}  // namespace tv
