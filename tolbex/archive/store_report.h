// The one way a report enters an archive, and the operations on stored reports that go with it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "common/result.h"
#include "tolbex/archive/report_types.h"

namespace tv {

class ArchiveIndexLock;

// Anything whose text can be set: shows which file is being copied.
class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    virtual void set_text(const std::string& text) = 0;
};

// Results of store_report_in_archive.
inline constexpr int kStoreOk = 0;
inline constexpr int kStoreFolderFailed = 1;  // the new report folder could not be created
inline constexpr int kStoreCopyFailed = 2;    // copying, moving or unpacking failed
inline constexpr int kStoreIndexFailed = 3;   // ARCHINFO.DAT could not be appended to
inline constexpr int kStoreCardFailed = 4;    // the card could not be read
// The archive's lock could not be had (`refusal` gets the lock's message): another process holds
// it, this account cannot open the lock file for writing, or the archive is read-only.
inline constexpr int kStoreArchiveBusy = 5;
inline constexpr int kStoreLockDenied = 6;
inline constexpr int kStoreArchiveReadOnly = 7;
// The store code of a lock that could not be had.
int store_code_of_lock(const ArchiveIndexLock& lock);

// Unpacks a compressed ECG file into a folder; true on success.
using CefUnpackHook = std::function<bool(const std::string& cef_file, const std::string& folder)>;
// Adds what the caller writes into a new report that names its own folder (its details, say):
// called with the report's final path and the folder as made (`folder_fd`: write relative to it,
// never through the path, which others can rename), under the archive's lock just before the
// entry is written, so it must be short. False fails the store (kStoreCopyFailed).
using StoreCompletion = std::function<bool(const std::string& folder, int folder_fd)>;
// Installed by the application; without one a compressed file fails to store (2).
void set_cef_unpacker(CefUnpackHook unpacker);

// Stores `source` as a new report of `type` in `archive_folder` (never through a link in its place):
//  - the archive's lock is taken before anything changes (its failure is 5-7 with `refusal`);
//    under it a change record (change_record.h) names the staging folder;
//  - the report is built in a hidden folder of the archive (archive_io::make_hidden_folder_at),
//    filled through its descriptor alone, each file created exclusively: the source folder's plain
//    files are copied into it ("WIN386.SWP" and dot files
//    never); for type 516 the source may be a compressed ECG file, copied and unpacked beside
//    itself; for type 515 an empty source reads the card (the size becomes the folder's size);
//  - in one turn of the archive's lock the folder gets a new, unique name (extension of the type)
//    and one five-line entry joins ARCHINFO.DAT (description sanitized, "<Name>" when blank; "C"
//    after the size for 519/520 with CONFIRM.TXT; the type name "Unknown" when the type has
//    none), so that no other program sees the folder without its entry; `complete`, when given,
//    adds the caller's files in that turn, before the entry. The name is free on disk and in the
//    index; the rename is checked to have published the folder made (kStoreFolderFailed, with
//    nothing listed, when its name was given to another entry meanwhile).
// kStoreOk means on disk: each file, the new folder, then the index and the archive folder were
// flushed (a completion flushes the files it adds). With `move`, the source files are deleted
// only after the entry was written. Any failure removes the new folder and leaves the source and
// the index as they were.
// `new_folder_path` receives the listed folder's path, and is empty after a failure; the
// unpacker works in a private folder of this account's, whose files are then copied in.
// A source folder holding a link, a special file or two names that differ only in case is
// refused whole (kStoreCopyFailed), `refusal` getting the sentence that names the entry.
// Returns kStoreOk .. kStoreArchiveReadOnly (0-7). Shows no message.
int store_report_in_archive(const std::string& archive_folder, const std::string& source,
                            const std::string& description, std::int32_t size, std::int64_t time, ReportType type,
                            std::string* new_folder_path = nullptr, ProgressWindow* progress = nullptr,
                            bool move = false, const StoreCompletion& complete = nullptr,
                            std::string* refusal = nullptr);

// Results of delete_ecg_files (0 success; a command line may use them as its exit code).
inline constexpr int kDeleteEcgOk = 0;
inline constexpr int kDeleteEcgNotTwelveLead = 1;  // no such folder, or its extension is not exactly "O12"
inline constexpr int kDeleteEcgDeleteFailed = 2;   // an ECG file could not be deleted
inline constexpr int kDeleteEcgRenameFailed = 3;   // the folder could not be renamed to a .FUL name
inline constexpr int kDeleteEcgIndexFailed = 4;    // the index could not be changed: nothing was changed

// Turns a 12-lead full report (folder "X.O12") into an ordinary full report: os12ecg1..8.dat and
// os12pac.dat (any case) go, and the folder becomes "X.FUL", or a fresh unique .FUL name when that
// one is taken (never over an existing entry or folder). Everything is decided under the lock of
// the folder's archive: whether the report is listed (with `must_be_listed` an entry that is gone
// fails), the new name, and the entry's new name and size, written in the same turn as the
// folder's rename. The ECG files are moved aside under a hidden name first and deleted only once
// the index says so; any failure before puts them back and leaves folder and entry as they were.
// A change record (change_record.h) names each step first, so that a kill leaves the report as
// it was or as it should become for the next holder of the lock to settle.
// `record`, when given, receives the new name and size. kDeleteEcgIndexFailed (the lock could not
// be had, the entry is gone, the folder cannot be read by this account (kArchiveUnreadable:
// nothing changed) or the index could not be written; the error goes to `index_error`):
// the caller shows that error instead of kDeleteEcgFailedText. kDeleteEcgDeleteFailed after the
// change means the hidden files could not all be removed.
int delete_twelve_lead_ecg(const std::string& report_folder, bool must_be_listed, ReportRecord* record,
                           Error* index_error);
// The same for the report `record` of its archive, which must still be listed.
int delete_listed_ecg_files(ReportRecord& record, const std::string& report_folder, Error* index_error);
inline constexpr const char* kDeleteEcgFailedText =
    "There was an error while deleting the Ostrabel12 ECG files from this folder.";

// The card interface program: its registered "Install Path", then beside this program, then
// SYSTEM under the analysis system's root. Empty when none exists.
std::string locate_card_program();

}  // namespace tv
