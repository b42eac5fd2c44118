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

// The folder and label pairs of an ARCHDIR.DAT; none when there is no file; nullopt when it is
// there but cannot be read (a link included).
std::optional<std::vector<Listed>> read_group_index(const std::string& base, std::string* path) {
    std::vector<Listed> out;
    const auto index = platform::find_name_ci(base, kGroupIndexName);
    if (!index) return out;
    if (path) *path = *index;
    const auto lines = is_link(*index) ? std::nullopt : read_index_lines(*index);
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
    : base_(std::move(base)), options_(options), reporter_(reporter) {
    std::string index;
    const auto listed = read_group_index(base_, &index);
    if (!listed) {
        readable_ = false;
        const bool link = is_link(index);
        reporter_.event((link ? index + " is a link" : "Unable to read the index file " + index) +
                            " - nothing has been changed.",
                        (link ? "INDEXISLINK:" : "CANTREADINDEX:") + index);
        return;
    }
    std::unordered_set<std::string> claimed;  // folders on disk that an entry already names
    for (const Listed& l : *listed) {
        reporter_.console("Checking archive " + l.label + " (" + l.folder + ")\n");
        const auto found = find_entry(base_, l.folder);
        // Folder names are kept as they are on disk; the readers find them in any case.
        const std::string on_disk = found ? found->substr(found->rfind('/') + 1) : std::string();
        if (found && !claimed.insert(on_disk).second) {
            reporter_.event("Removing " + l.label + ": " + l.folder + " is listed twice.",
                            "REMOVEDUPLICATEARCHIVE:" + l.label);
            ++counts_.archives_removed;
        } else if (found && is_link(*found)) {
            reporter_.event("Leaving " + l.label + ": " + l.folder + " is a link and is not checked.",
                            "ARCHIVEISLINK:" + l.label);
            entries_.push_back(Entry{on_disk, l.label, false, true});
        } else if (!folder_path(l.folder).empty()) {
            entries_.push_back(Entry{on_disk, l.label, false, false});
        } else {
            ++counts_.archives_removed;
            const std::string sentence = "Removing " + l.label + ": " + l.folder + " doesn't exist.";
            reporter_.event(sentence, "REMOVENONEXISTANTARCHIVE:" + l.label);
        }
    }
    for (const Listed& l : *listed) listed_at_start_.insert(l.folder);
}

std::string ArchiveSet::folder_path(const std::string& folder) const {
    const auto found = find_entry(base_, folder);
    return found && is_real_folder(*found) ? *found : std::string();
}

void ArchiveSet::scan() {
    std::unordered_set<std::string> listed;
    for (const Entry& e : entries_) listed.insert(e.folder);
    const FolderNames base(base_, true);
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
        ReportSet reports(base_ + "/" + name, ReportSet::Options{options_.delete_reports}, reporter_);
        switch (reports.check()) {
            case ReportSet::Outcome::Done: break;
            case ReportSet::Outcome::Busy:
                lock_failure_ = worse_lock_failure(lock_failure_, reports.lock_failure());
                break;
            case ReportSet::Outcome::Failed: indexes_ok_ = false; break;
        }
        counts_.reports_added += reports.recovered();
        counts_.reports_removed += reports.removed();
        counts_.reports_deleted += reports.deleted();
        counts_.unreadable += reports.unreadable();
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
        const std::string path = e.link ? std::string() : folder_path(e.folder);
        auto has_index = [&] { return !path.empty() && platform::find_name_ci(path, kArchiveIndexName).has_value(); };
        bool stays = e.link || has_index() || platform::iequals(e.folder, kStandardArchiveName) || options_.add_empty ||
                     (!options_.remove_empty && !e.added);
        const ArchiveIndexLock* held = nullptr;
        if (!stays && !path.empty()) {
            // Asked again under the archive's lock, held until ARCHDIR.DAT is written.
            auto lock = std::make_unique<ArchiveIndexLock>(path);
            if (!lock->held()) {
                lock_failure_ = worse_lock_failure(lock_failure_, lock->failure());
                report_lock_failure(reporter_, *lock);
                stays = true;
            } else {
                report_settled(reporter_, *lock);
                const FolderNames names(path);
                if (names.judgement().unknown()) {
                    ++counts_.unreadable;
                    reporter_.event(unreadable_folder_text(path, names.judgement()) + " - " + e.label +
                                        " stays listed.",
                                    "ARCHIVEUNREADABLE:" + path);
                    stays = true;
                } else if (has_index()) {
                    stays = true;
                } else {
                    for (const std::string& n : names.hidden_subfolders())
                        if (is_change_in_progress(n)) stays = true;
                    for (const std::string& n : names.files())
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
        if (options_.delete_archives && !path.empty()) delete_archive_folder(path, held);
    }
    entries_ = std::move(staying);
}

void ArchiveSet::delete_archive_folder(const std::string& path, const ArchiveIndexLock* held) {
    // Only the index's own files go with the folder: a report, an audit log or anything a user
    // put there keeps it.
    auto holds_reports = [&] { return !FolderNames(path).holds_only(is_index_file_name); };
    auto keep = [&] {
        reporter_.event("Kept archive directory " + path + " - it still holds report folders or other files.",
                        "KEPTARCHIVE:" + path);
    };
    if (holds_reports()) return keep();
    if (!reporter_.confirm_deletion(path)) return;
    // A report may have been stored into it while the question was open, unless its lock was
    // held throughout.
    std::optional<ArchiveIndexLock> own;
    if (!held) {
        own.emplace(path);
        if (!own->held()) {
            lock_failure_ = worse_lock_failure(lock_failure_, own->failure());
            report_lock_failure(reporter_, *own);
            return;
        }
    }
    if (!is_real_folder(path) || platform::find_name_ci(path, kArchiveIndexName)) return;
    if (holds_reports()) return keep();
    if (!delete_under_hidden_name(path, reporter_)) return;
    ++counts_.archives_deleted;
    reporter_.event("Deleted archive directory: " + path, "DELETEARCHIVE:" + path);
}

void ArchiveSet::rename_reports() {
    reporter_.both("Changing report names to be the same as the patient's names...\n");
    const bool tagged = reporter_.tagged();
    reporter_.set_tagged(false);
    for (const Entry& e : entries_) {
        reporter_.both("...In archive " + e.label + "\n");
        const std::string path = e.link ? std::string() : folder_path(e.folder);
        if (path.empty()) continue;
        ReportSet reports(path, ReportSet::Options{false}, reporter_);
        switch (reports.rename_all()) {
            case ReportSet::Outcome::Done: break;
            case ReportSet::Outcome::Busy:
                lock_failure_ = worse_lock_failure(lock_failure_, reports.lock_failure());
                break;
            case ReportSet::Outcome::Failed: indexes_ok_ = false; break;
        }
        counts_.unreadable += reports.unreadable();
    }
    reporter_.set_tagged(tagged);
    reporter_.both("Finished changing report names to be the same as the patient's names.\n");
}

bool ArchiveSet::write() {
    struct Release {
        std::vector<std::unique_ptr<ArchiveIndexLock>>& locks;
        ~Release() { locks.clear(); }
    } release{dropped_locks_};
    const std::string path = base_ + "/" + kGroupIndexName;
    const ArchiveIndexLock lock(base_);
    if (!lock.held()) {
        lock_failure_ = worse_lock_failure(lock_failure_, lock.failure());
        report_lock_failure(reporter_, lock, true);
        return false;
    }
    report_settled(reporter_, lock);
    const auto now = read_group_index(base_, nullptr);
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
    if (replace_with_generations(base_, kGroupIndexName, text, true)) return true;
    reporter_.event("Unable to write the index file " + path + " - the previous one is kept.",
                    "CANTWRITEINDEX:" + path);
    return false;
}

}  // namespace tv::brackmor
