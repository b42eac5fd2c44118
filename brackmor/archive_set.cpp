#include "brackmor/archive_set.h"

#include <unordered_set>

#include "brackmor/folder_tools.h"
#include "brackmor/report_set.h"
#include "brackmor/reporter.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_group.h"

namespace tv::brackmor {

ArchiveSet::ArchiveSet(std::string base, RunOptions options, Reporter& reporter)
    : base_(std::move(base)), options_(options), reporter_(reporter) {
    const auto index = platform::find_name_ci(base_, kGroupIndexName);
    if (!index) return;
    const auto lines = read_index_lines(*index);
    if (!lines) {
        readable_ = false;
        reporter_.event("Unable to read the index file " + *index + " - nothing has been changed.",
                        "CANTREADINDEX:" + *index);
        return;
    }
    // Lines of blanks count as empty here: only descriptions of reports keep them.
    std::vector<std::string> kept;
    for (const std::string& line : *lines)
        if (!line.empty()) kept.push_back(line);
    for (std::size_t i = 0; i + 1 < kept.size(); i += 2) {
        const std::string folder = to_upper_copy(kept[i]);
        const std::string& label = kept[i + 1];
        reporter_.console("Checking archive " + label + " (" + folder + ")\n");
        if (!folder_path(folder).empty()) {
            entries_.push_back(Entry{folder, label, false});
        } else {
            ++counts_.archives_removed;
            const std::string sentence = "Removing " + label + ": " + folder + " doesn't exist.";
            reporter_.event(sentence, "REMOVENONEXISTANTARCHIVE:" + label);
        }
    }
}

bool ArchiveSet::is_listed(const std::string& folder) const {
    for (const Entry& e : entries_)
        if (e.folder == folder) return true;
    return false;
}

std::string ArchiveSet::folder_path(const std::string& folder) const {
    const auto found = find_entry(base_, folder);
    return found && is_real_folder(*found) ? *found : std::string();
}

void ArchiveSet::scan() {
    std::unordered_set<std::string> listed;
    for (const Entry& e : entries_) listed.insert(e.folder);
    for (const std::string& name : list_subfolders(base_)) {
        const std::string upper = to_upper_copy(name);
        reporter_.console("Checking archive directory " + upper + "\n");
        if (!listed.count(upper)) {
            // A folder whose name could not stand in the index is checked but never listed.
            if (is_safe_name(upper)) {
                entries_.push_back(Entry{upper, upper, true});
                listed.insert(upper);
                ++counts_.archives_added;
            }
        }
        ReportSet reports(base_ + "/" + name, ReportSet::Options{options_.delete_reports}, reporter_);
        reports.recover();
        if (!reports.readable() || !reports.write(true)) indexes_ok_ = false;
        counts_.reports_added += reports.recovered();
        counts_.reports_removed += reports.removed();
        counts_.reports_deleted += reports.deleted();
    }
}

void ArchiveSet::filter() {
    std::vector<Entry> staying;
    for (Entry& e : entries_) {
        const std::string path = folder_path(e.folder);
        const bool has_index = !path.empty() && platform::find_name_ci(path, kArchiveIndexName).has_value();
        const bool stays =
            has_index || e.folder == kStandardArchiveName || options_.add_empty || (!options_.remove_empty && !e.added);
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
        if (options_.delete_archives && !path.empty() && delete_folder(path, reporter_, true)) {
            ++counts_.archives_deleted;
            reporter_.event("Deleted archive directory: " + path, "DELETEARCHIVE:" + path);
        }
    }
    entries_ = std::move(staying);
}

void ArchiveSet::rename_reports() {
    reporter_.both("Changing report names to be the same as the patient's names...\n");
    const bool tagged = reporter_.tagged();
    reporter_.set_tagged(false);
    for (const Entry& e : entries_) {
        reporter_.both("...In archive " + e.label + "\n");
        const std::string path = folder_path(e.folder);
        if (path.empty()) continue;
        ReportSet reports(path, ReportSet::Options{false}, reporter_);
        if (!reports.readable()) {
            indexes_ok_ = false;
            continue;
        }
        reports.rename_all();
        if (!reports.write(false)) indexes_ok_ = false;
    }
    reporter_.set_tagged(tagged);
    reporter_.both("Finished changing report names to be the same as the patient's names.\n");
}

bool ArchiveSet::write() {
    std::string text;
    for (const Entry& e : entries_) text += e.folder + "\r\n" + e.label + "\r\n";
    if (replace_with_generations(base_, kGroupIndexName, text, true)) return true;
    const std::string path = base_ + "/" + kGroupIndexName;
    reporter_.event("Unable to write the index file " + path + " - the previous one is kept.",
                    "CANTWRITEINDEX:" + path);
    return false;
}

}  // namespace tv::brackmor
