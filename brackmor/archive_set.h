// The archive group as the check sees it: the archives ARCHDIR.DAT lists, checked against the
// group folder. Archives whose folders are gone are dropped, unlisted archive folders are
// added, every archive's reports are checked (ReportSet), empty archives are dropped or deleted
// as the options say, and ARCHDIR.DAT is rewritten with generations. There is no limit on the
// number of archives.
//
// An archive that is a link is reported and kept as listed, never looked into. An archive folder
// is deleted only when it holds no sub-folder at all, under a hidden name first. ARCHDIR.DAT is rewritten under the group's
// index lock from the file as it is then: archives that another program listed or removed during
// the run stay so. The group folder is opened once and every archive relative to it, so a group
// or archive folder swapped meanwhile leads no change elsewhere. Locks are taken as every writer
// takes them: the group's before an archive's.
#pragma once
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "brackmor/folder_tools.h"
#include "platform/fs.h"
#include "tolbex/archive/report_archive.h"

namespace tv::brackmor {

class Reporter;
class ReportSet;

struct RunOptions {
    bool delete_reports = false;   // /DR
    bool delete_archives = false;  // /DA
    bool remove_empty = false;     // /RE (and /DA)
    bool add_empty = false;        // /AE
    bool tagged_log = false;       // /EL
    bool rename_reports = false;   // /RN
    bool warnings = true;          // cleared by /NW
};

struct RunCounts {
    int archives_added = 0, archives_removed = 0, archives_deleted = 0;
    int reports_added = 0, reports_removed = 0, reports_deleted = 0;
    int unreadable = 0;  // folders this account could not read: left as they were
    int replaced = 0;    // folders found replaced (by a link or another folder) during the run: left as they were
};

class ArchiveSet {
public:
    struct Entry {
        std::string folder;  // upper case, as written back
        std::string label;
        bool added = false;  // found by the folder scan, not in ARCHDIR.DAT
        bool link = false;   // the folder is a link: kept, never checked
    };

    // Reads ARCHDIR.DAT of `base` (none: no archives).
    ArchiveSet(std::string base, RunOptions options, Reporter& reporter);

    // False when ARCHDIR.DAT exists but cannot be read (or is a link): the run must not go on.
    bool readable() const { return readable_; }
    // False when some index could not be read or written.
    bool indexes_ok() const { return indexes_ok_; }
    // Why some archive, or the group, was left for want of its lock (the worst of them); None
    // when every lock was had.
    platform::LockFailure lock_failure() const { return lock_failure_; }

    void scan();
    // Drops the archives the options drop. Whether an archive is empty is asked under its lock,
    // which is held until write() has written ARCHDIR.DAT, so that nothing is stored into an
    // archive between the question and its removal; one with a change in progress, or that this
    // account cannot read, stays.
    void filter();
    void rename_reports();
    // Rewrites ARCHDIR.DAT; false (reported) when it cannot be locked or written.
    bool write();

    const std::vector<Entry>& entries() const { return entries_; }
    const RunCounts& counts() const { return counts_; }

private:
    // The archive folder of an entry as spelt on disk; empty when there is none.
    std::string folder_name(const std::string& folder) const;
    // Takes the group's lock for the rest of the run, once; false (reported) when it cannot.
    bool lock_group();
    // False (reported) when the group's path no longer leads to the folder opened.
    bool group_in_place();
    // Deletes a dropped archive folder after the question, only while it holds no sub-folder and
    // is the folder judged (`archive`, open); under `held` when its lock is held already.
    void delete_archive_folder(const std::string& name, FolderNames& archive, const ArchiveIndexLock* held);
    void add_counts(const ReportSet& reports);

    std::string base_;
    FolderNames group_;  // held open for the run
    RunOptions options_;
    Reporter& reporter_;
    std::vector<Entry> entries_;
    std::unordered_set<std::string> listed_at_start_;  // folders ARCHDIR.DAT listed at the start
    RunCounts counts_;
    bool readable_ = true;
    bool indexes_ok_ = true;
    platform::LockFailure lock_failure_ = platform::LockFailure::None;
    std::unique_ptr<ArchiveIndexLock> group_lock_;                  // held from filter() to write()
    std::vector<std::unique_ptr<ArchiveIndexLock>> dropped_locks_;  // held from filter() to write()
};

}  // namespace tv::brackmor
