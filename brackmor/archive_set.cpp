#include "brackmor/archive_set.h"

#include <optional>
#include <unordered_set>

#include "brackmor/folder_tools.h"
#include "brackmor/report_set.h"
#include "brackmor/reporter.h"
#include "common/generations.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/report_archive.h"

namespace tv::brackmor {

namespace {

struct Listed {
    std::string folder;  // as the index spells it
    std::string label;
};

// The folder and label pairs of an ARCHDIR.DAT of the listed group; none when there is no file;
// nullopt when it is there but cannot be read (a link included).
std::optional<std::vector<Listed>> read_group_index(const FolderNames& group, std::string* path, bool* link) {
    std::vector<Listed> out;
    const auto index = group.find(kGroupIndexName);
    if (!index) return out;
    if (path) *path = group.folder() + "/" + *index;
    const bool is_link = group.find_link(*index) == index;
    if (link) *link = is_link;
    const auto lines = is_link ? std::nullopt : read_index_lines(group.fd(), *index);
    if (!lines) return std::nullopt;
    // Lines of blanks count as empty here: only descriptions of reports keep them.
    std::vector<const std::string*> kept;
    for (const std::string& line : *lines)
        if (!line.empty()) kept.push_back(&line);
    for (std::size_t i = 0; i + 1 < kept.size(); i += 2) out.push_back({*kept[i], *kept[i + 1]});
    return out;
}

// The entry of `folder`: its exact spelling first, else one that differs only in case.
const Listed* find_listed(const std::vector<Listed>& list, const std::string& folder) {
    for (const Listed& l : list)
        if (l.folder == folder) return &l;
    for (const Listed& l : list)
        if (platform::iequals(l.folder, folder)) return &l;
    return nullptr;
}

}  // namespace

ArchiveSet::ArchiveSet(std::string base, RunOptions options, Reporter& reporter)
    : base_(std::move(base)), group_(base_), options_(options), reporter_(reporter) {
    std::string index;
    bool link = false;
    const auto listed = read_group_index(group_, &index, &link);
    if (!listed) {
        readable_ = false;
        reporter_.event((link ? index + " is a link" : "Unable to read the index file " + index) +
                            " - nothing has been changed.",
                        (link ? "INDEXISLINK:" : "CANTREADINDEX:") + index);
        return;
    }
    std::unordered_set<std::string> claimed;  // folders on disk that an entry already names
    for (const Listed& l : *listed) {
        reporter_.console("Checking archive " + l.label + " (" + l.folder + ")\n");
        const auto found = is_safe_name(l.folder) ? group_.find(l.folder) : std::nullopt;
        // Folder names are kept as they are on disk; the readers find them in any case.
        const std::string on_disk = found.value_or(std::string());
        if (found && !claimed.insert(on_disk).second) {
            reporter_.event("Removing " + l.label + ": " + l.folder + " is listed twice.",
                            "REMOVEDUPLICATEARCHIVE:" + l.label);
            ++counts_.archives_removed;
        } else if (found && group_.find_link(*found) == found) {
            reporter_.event("Leaving " + l.label + ": " + l.folder + " is a link and is not checked.",
                            "ARCHIVEISLINK:" + l.label);
            entries_.push_back(Entry{on_disk, l.label, false, true});
        } else if (!folder_name(l.folder).empty()) {
            entries_.push_back(Entry{on_disk, l.label, false, false});
        } else {
            ++counts_.archives_removed;
            const std::string sentence = "Removing " + l.label + ": " + l.folder + " doesn't exist.";
            reporter_.event(sentence, "REMOVENONEXISTANTARCHIVE:" + l.label);
        }
    }
    for (const Listed& l : *listed) listed_at_start_.insert(l.folder);
}

std::string ArchiveSet::folder_name(const std::string& folder) const {
    const auto found = is_safe_name(folder) ? group_.find(folder) : std::nullopt;
    return found && group_.find_folder(*found) == found ? *found : std::string();
}

void ArchiveSet::add_counts(const ReportSet& reports) {
    counts_.reports_added += reports.recovered();
    counts_.reports_removed += reports.removed();
    counts_.reports_deleted += reports.deleted();
    counts_.unreadable += reports.unreadable();
    counts_.replaced += reports.replaced();
}

bool ArchiveSet::lock_group() {
    if (group_lock_ && group_lock_->held()) return true;
    group_lock_ = std::make_unique<ArchiveIndexLock>(group_.fd(), base_);
    if (group_lock_->held()) {
        report_settled(reporter_, *group_lock_);
        return true;
    }
    lock_failure_ = worse_lock_failure(lock_failure_, group_lock_->failure());
    report_lock_failure(reporter_, *group_lock_, true);
    return false;
}

bool ArchiveSet::group_in_place() {
    // ARCHDIR.DAT is replaced in the group folder this run holds; a path that no longer leads there
    // is named and nothing is written.
    const EntryState now = probe_entry(base_ + "/.");
    if (now.kind == EntryKind::Folder && FolderId{now.device, now.inode} == group_.id()) return true;
    ++counts_.replaced;
    report_replaced(reporter_, base_, probe_entry(base_).kind == EntryKind::Link, "ARCHDIR.DAT is left as it is");
    return false;
}

void ArchiveSet::scan() {
    std::unordered_set<std::string> listed;
    for (const Entry& e : entries_) listed.insert(e.folder);
    const FolderNames& base = group_;
    for (const std::string& name : base.links()) {
        const std::string upper = to_upper_copy(name);
        if (listed.count(name) || base.find_folder(name)) continue;
        reporter_.console("Checking archive directory " + upper + "\n");
        reporter_.event(base_ + "/" + name + " is a link - it is not checked.", "ARCHIVEISLINK:" + upper);
    }
    for (const std::string& name : base.subfolders()) {
        const std::string upper = to_upper_copy(name);
        reporter_.console("Checking archive directory " + upper + "\n");
        if (!listed.count(name)) {
            // A folder whose name could not stand in the index is checked but never listed.
            if (is_safe_name(name)) {
                entries_.push_back(Entry{name, upper, true, false});
                listed.insert(name);
                ++counts_.archives_added;
            }
        }
        ReportSet reports(group_.fd(), name, base_ + "/" + name, ReportSet::Options{options_.delete_reports},
                          reporter_);
        switch (reports.check()) {
            case ReportSet::Outcome::Done: break;
            case ReportSet::Outcome::Busy:
                lock_failure_ = worse_lock_failure(lock_failure_, reports.lock_failure());
                break;
            case ReportSet::Outcome::Failed: indexes_ok_ = false; break;
        }
        add_counts(reports);
    }
}

namespace {

// True for what a change in progress (or one the lock could not settle) keeps in an archive.
bool is_change_in_progress(std::string_view name) {
    return name.starts_with(".TVREC.") || archive_io::is_passing_report_name(name);
}

}  // namespace

void ArchiveSet::filter() {
    std::vector<Entry> staying;
    for (Entry& e : entries_) {
        const std::string name = e.link ? std::string() : folder_name(e.folder);
        const std::string path = base_ + "/" + name;
        bool stays = e.link || platform::iequals(e.folder, kStandardArchiveName) || options_.add_empty ||
                     (!options_.remove_empty && !e.added);
        FolderNames archive;
        if (!stays && !name.empty()) {
            archive = FolderNames(group_.fd(), name, path, true);
            stays = archive.find(kArchiveIndexName).has_value();
        }
        const ArchiveIndexLock* held = nullptr;
        if (!stays && !name.empty()) {
            // Asked again under the archive's lock, held until ARCHDIR.DAT is written; the group's
            // first, as every writer takes them.
            if (archive.judgement().unknown()) {
                ++counts_.unreadable;
                reporter_.event(unreadable_folder_text(path, archive.judgement()) + " - " + e.label + " stays listed.",
                                "ARCHIVEUNREADABLE:" + path);
                stays = true;
            } else if (!archive.judgement().readable()) {
                ++counts_.replaced;
                report_replaced(reporter_, path, probe_entry_at(group_.fd(), name).kind == EntryKind::Link,
                                e.label + " stays listed");
                stays = true;
            } else if (!lock_group()) {
                stays = true;
            } else if (auto lock = std::make_unique<ArchiveIndexLock>(archive.fd(), path); !lock->held()) {
                lock_failure_ = worse_lock_failure(lock_failure_, lock->failure());
                report_lock_failure(reporter_, *lock);
                stays = true;
            } else {
                report_settled(reporter_, *lock);
                archive.reread();
                if (archive.judgement().unknown()) {
                    ++counts_.unreadable;
                    reporter_.event(unreadable_folder_text(path, archive.judgement()) + " - " + e.label +
                                        " stays listed.",
                                    "ARCHIVEUNREADABLE:" + path);
                    stays = true;
                } else if (archive.find(kArchiveIndexName)) {
                    stays = true;
                } else {
                    for (const std::string& n : archive.hidden_subfolders())
                        if (is_change_in_progress(n)) stays = true;
                    for (const std::string& n : archive.files())
                        if (is_change_in_progress(n)) stays = true;
                    if (stays)
                        reporter_.event("Leaving " + e.label + ": " + e.folder + " - a report is being stored into it.",
                                        "ARCHIVEINUSE:" + e.label);
                }
                if (!stays) {
                    held = lock.get();
                    dropped_locks_.push_back(std::move(lock));
                }
            }
        }
        if (stays) {
            if (e.added) reporter_.event("Added archive " + e.folder, "ADDEDARCHIVE:" + e.folder);
            staying.push_back(std::move(e));
            continue;
        }
        if (e.added) {
            --counts_.archives_added;
        } else {
            ++counts_.archives_removed;
            reporter_.event("Removing " + e.label + ": " + e.folder + " contains no ARCHINFO.DAT",
                            "REMOVEEMPTYARCHIVE:" + e.label + "\nNAMEIS:" + e.folder);
        }
        if (options_.delete_archives && !name.empty()) delete_archive_folder(name, archive, held);
    }
    entries_ = std::move(staying);
}

void ArchiveSet::delete_archive_folder(const std::string& name, FolderNames& archive, const ArchiveIndexLock* held) {
    const std::string path = base_ + "/" + name;
    // Only the index's own files go with the folder: a report, an audit log or anything a user
    // put there keeps it.
    auto holds_reports = [&] {
        archive.reread();
        return archive.fd() < 0 || !archive.holds_only(is_index_file_name);
    };
    auto keep = [&] {
        reporter_.event("Kept archive directory " + path + " - it still holds report folders or other files.",
                        "KEPTARCHIVE:" + path);
    };
    if (archive.fd() < 0) return;
    if (holds_reports()) return keep();
    if (!reporter_.confirm_deletion(path)) return;
    // A report may have been stored into it while the question was open, unless its lock was
    // held throughout.
    std::optional<ArchiveIndexLock> own;
    if (!held) {
        if (!lock_group()) return;
        own.emplace(archive.fd(), path);
        if (!own->held()) {
            lock_failure_ = worse_lock_failure(lock_failure_, own->failure());
            report_lock_failure(reporter_, *own);
            return;
        }
    }
    if (holds_reports()) return keep();
    if (archive.find(kArchiveIndexName) || !lock_group()) return;
    switch (delete_judged_folder(*group_lock_, name, archive.id(), path, reporter_)) {
        case Deletion::Deleted:
            ++counts_.archives_deleted;
            reporter_.event("Deleted archive directory: " + path, "DELETEARCHIVE:" + path);
            break;
        case Deletion::NotJudged:
        case Deletion::ReplacedByLink: ++counts_.replaced; break;
        case Deletion::Kept: break;
    }
}

void ArchiveSet::rename_reports() {
    reporter_.both("Changing report names to be the same as the patient's names...\n");
    const bool tagged = reporter_.tagged();
    reporter_.set_tagged(false);
    for (const Entry& e : entries_) {
        reporter_.both("...In archive " + e.label + "\n");
        const std::string name = e.link ? std::string() : folder_name(e.folder);
        if (name.empty()) continue;
        ReportSet reports(group_.fd(), name, base_ + "/" + name, ReportSet::Options{false}, reporter_);
        switch (reports.rename_all()) {
            case ReportSet::Outcome::Done: break;
            case ReportSet::Outcome::Busy:
                lock_failure_ = worse_lock_failure(lock_failure_, reports.lock_failure());
                break;
            case ReportSet::Outcome::Failed: indexes_ok_ = false; break;
        }
        counts_.unreadable += reports.unreadable();
        counts_.replaced += reports.replaced();
    }
    reporter_.set_tagged(tagged);
    reporter_.both("Finished changing report names to be the same as the patient's names.\n");
}

bool ArchiveSet::write() {
    // The archives' locks go first, then the group's.
    struct Release {
        std::vector<std::unique_ptr<ArchiveIndexLock>>& locks;
        std::unique_ptr<ArchiveIndexLock>& group;
        ~Release() {
            locks.clear();
            group.reset();
        }
    } release{dropped_locks_, group_lock_};
    const std::string path = base_ + "/" + kGroupIndexName;
    if (!lock_group()) return false;
    group_.reread();
    if (group_.fd() < 0) {
        reporter_.event("Unable to read the index file " + path + " - it is left as it is.", "CANTREADINDEX:" + path);
        return false;
    }
    const auto now = read_group_index(group_, nullptr, nullptr);
    if (!now) {
        reporter_.event("Unable to read the index file " + path + " - it is left as it is.", "CANTREADINDEX:" + path);
        return false;
    }
    // The run's list, less what another program removed meanwhile, with its labels, and with what
    // it listed meanwhile at the end.
    std::string text;
    auto put = [&](const std::string& folder, const std::string& label) { text += folder + "\r\n" + label + "\r\n"; };
    // An entry in another case belongs to this folder only when no folder of this run has its
    // spelling: "arch" and "ARCH" are two archives.
    std::unordered_set<std::string> run_folders;
    for (const Entry& e : entries_) run_folders.insert(e.folder);
    auto find_now = [&](const std::string& folder) -> const Listed* {
        const Listed* l = find_listed(*now, folder);
        return l && l->folder != folder && run_folders.count(l->folder) ? nullptr : l;
    };
    for (const Entry& e : entries_) {
        const Listed* listed = find_now(e.folder);
        if (!e.added && listed) put(e.folder, listed->label);
        if (e.added && !listed) put(e.folder, e.label);
    }
    for (const Listed& l : *now)
        if (!listed_at_start_.count(l.folder)) put(l.folder, l.label);
    if (!group_in_place()) return true;  // named; nothing written
    if (replace_with_generations_at(group_.fd(), kGroupIndexName, text, true)) return true;
    reporter_.event("Unable to write the index file " + path + " - the previous one is kept.",
                    "CANTWRITEINDEX:" + path);
    return false;
}

}  // namespace tv::brackmor
