// One archive as the check sees it: the records of its ARCHINFO.DAT, each checked against its
// report folder. Records of unsound folders are dropped (the folders deleted on request),
// unlisted sound folders are recovered with their patient names, and the index is rewritten with
// generations.
//
// The browser is the measure: a record it reads and whose folder it can load is kept exactly as
// the file holds it, whatever its type-name line says. The type is the folder's suffix, as the
// browser takes it, and a folder is sound when it holds what the program that stores that type
// writes. Beyond the browser's five-line reader, a record whose description line is missing is
// told by the date patterns, and after lines that fit no record the reader starts again one line
// further on, so a stray line costs no report.
//
// What this account cannot read is never judged: its record stays as read, an unlisted folder is
// not recovered, and both are named.
// Every step that reads, judges and rewrites the index holds the archive's index lock, as every
// writer of the browser does (and settles, as it is taken, what killed changes left); questions are asked without it, and a folder is deleted only when,
// under the lock again, no record names it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "brackmor/folder_tools.h"
#include "platform/fs.h"
#include "tolbex/archive/report_archive.h"
#include "common/report_files.h"
#include "tolbex/archive/report_types.h"

namespace tv::brackmor {

class Reporter;

inline constexpr const char* kBlankDescription = "<Blank Name>";

// Why a record is invalid.
enum class Reason {
    None,
    BadDate,       // the date line is no date
    BadSuffix,     // the folder name has no known suffix, or is not a plain name
    OutOfStep,     // the size line is no number, or the type-name line names a report folder
    FilesMissing,  // the folder is gone or lacks what its type needs
};

// One known report type: the browser's code, the names the index may give it (the first is
// written for a recovered record), its folder suffix, and the files its folder must hold: every
// file of one of the sets ("*.EXT": some file with that extension).
struct KnownType {
    ReportType code;
    std::vector<std::string> names;
    std::string suffix;
};
const std::vector<KnownType>& known_types();
// The type of a folder suffix (any case); null when unknown.
const KnownType* type_by_suffix(std::string_view suffix);
// The type of a folder name by the text after its first '.' (after the first character).
const KnownType* type_of_folder_name(std::string_view name);
// True when `files` makes a sound folder of the type (tolbex/archive/report_folder.h).
bool is_sound_folder(const KnownType& type, const FolderNames& files);

// True when `text` begins with "XXX XXX ?# ##:##:## ####", "##/##/## ##:##:##" or, as the
// browser also reads it, "##/##/## ##:##" (X a letter, # a digit, ? anything).
bool is_date_text(std::string_view text);

struct ReportEntry {
    std::string name;  // upper case, for comparisons
    // The lines written back: as read for a record of the index, made for a recovered one.
    std::string name_line, description, date, size_line, type_line;
    const KnownType* type = nullptr;
    Reason reason = Reason::None;
    bool confirmed = false;   // the folder holds CONFIRM.TXT (known once checked)
    bool link = false;        // the folder is a link: kept as read, never looked into
    bool unreadable = false;  // this account cannot read the folder: kept as read, never judged
};

// The patient name of a report folder for its description: PATIENT.TXT's third line, else the
// patient identifier line of DATA.TIMI, TIMI_SUMMARY.TXT or TIMI_ARRH.TXT ("Patient " before
// it), at most 63 characters; none of them is read through a link. A name shorter than 4
// characters gives, with `fallback`, the folder name, ": " and the time now; without, an empty
// text.
std::string report_name(const std::string& folder, bool fallback);

// Tells why the archive's index lock could not be had (another program holds it, this account
// cannot open its lock file for writing, or the archive is read-only), so it is left as it is.
void report_lock_failure(Reporter& reporter, const ArchiveIndexLock& lock, bool group = false);
// Tells what taking the lock settled or had to leave (ArchiveIndexLock::notes), and names each
// hidden folder it left because no record names it (once in a run, however often a lock comes
// upon it).
void report_settled(Reporter& reporter, const ArchiveIndexLock& lock);

// Which of the lock failures of a run decides its exit code: a read-only archive, then a lock
// file this account cannot write, then one in use.
platform::LockFailure worse_lock_failure(platform::LockFailure a, platform::LockFailure b);

class ReportSet {
public:
    struct Options {
        bool delete_reports = false;
    };
    enum class Outcome {
        Done,
        Busy,    // the archive's lock could not be had (lock_failure() says why): what needed it was left as it was
        Failed,  // the index could not be read or written: it is left as it was
    };

    // The archive `name` of the group folder open as `group_fd` (`path` names it): opened relative
    // to it when the work begins and held open to the end, so that whatever the names lead to
    // meanwhile, the folders judged are the folders changed.
    ReportSet(int group_fd, std::string name, std::string path, Options options, Reporter& reporter);

    // Under the lock: reads and checks ARCHINFO.DAT, recovers unlisted folders and rewrites the
    // index with generations (deleted when no record is left). Then, without it, offers the
    // unsound folders for deletion, each once.
    Outcome check();
    // Under the lock: reads ARCHINFO.DAT, names each report after its patient and rewrites the
    // index without generations.
    Outcome rename_all();
    // Why the archive's lock was last not had; None when it always was.
    platform::LockFailure lock_failure() const { return lock_failure_; }

    const std::vector<ReportEntry>& records() const { return records_; }
    int recovered() const { return recovered_; }
    int removed() const { return removed_; }
    int deleted() const { return deleted_; }
    // Report folders (or the archive itself) this account could not read: left as they were.
    int unreadable() const { return unreadable_; }
    // Folders found replaced (by a link, or another folder) while the check ran: left as they were.
    int replaced() const { return replaced_; }

private:
    // Opens the archive relative to the group, never through a link, and lists it; false
    // (reported) when it cannot be judged: this account cannot list it, or a link or nothing is
    // in its place.
    bool open_archive();
    // Lists the archive again under its lock; false (reported) when it can no longer be listed.
    bool relisted();
    // False (reported) when the archive's path no longer leads to the folder opened: nothing may
    // be written by that path.
    bool still_in_place();
    // False (reported) when the index is there but cannot be read; `reports` the archive's listing.
    bool read_index(const FolderNames& reports);
    // Sets the type, or the reason why the lines are no record of this archive.
    void check_fit(ReportEntry& entry, const FolderNames& reports) const;
    // Fills `confirmed`, or marks the record FilesMissing; reports why.
    void check_against_folder(ReportEntry& entry, const FolderNames& reports);
    void report_removed(const ReportEntry& entry);
    void recover(const FolderNames& reports);
    bool write(bool generations);
    void offer_for_deletion(const std::string& folder_name, const FolderNames& reports);
    // False when a folder was left because the lock could not be had.
    bool delete_offered();
    bool is_listed_now(const std::string& folder_name);
    void report_busy(const ArchiveIndexLock& lock);

    int group_fd_;
    std::string name_, folder_;
    FolderNames archive_;  // held open from its judgement to its last deletion
    Options options_;
    Reporter& reporter_;
    std::vector<ReportEntry> records_;
    std::unordered_set<std::string> listed_;
    std::unordered_map<std::string, FolderNames> listings_;  // the report folders' names, read once
    std::vector<std::pair<std::string, FolderId>> offered_;  // folders to offer for deletion, once each
    int recovered_ = 0, removed_ = 0, deleted_ = 0, unreadable_ = 0, replaced_ = 0;
    platform::LockFailure lock_failure_ = platform::LockFailure::None;
};

}  // namespace tv::brackmor
