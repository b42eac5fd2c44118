#include "brackmor/folder_tools.h"

#include <fcntl.h>

#include <algorithm>
#include <thread>
#include <cerrno>
#include <climits>
#include <string>
#include <cstdio>
#include <cstring>

#include "brackmor/reporter.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"

namespace tv::brackmor {

bool is_safe_name(std::string_view name) { return is_safe_path_component(std::string(name)); }

FolderNames::FolderNames(const std::string& folder) : folder_(folder) {
    // "/." makes the folder itself the last step, so only the link the user named is followed.
    judgement_ = judge_folder(AT_FDCWD, folder + "/.", &fd_);
    read_entries(true);
    take_id();
}

FolderNames::FolderNames(int parent_fd, const std::string& name, std::string path, bool keep_open)
    : folder_(std::move(path)) {
    judgement_ = judge_folder(parent_fd, name, &fd_);
    read_entries(true);
    take_id();
    if (!keep_open) fd_.reset();
}

void FolderNames::reread() {
    entries_.clear();
    read_entries(false);
}

void FolderNames::take_id() {
    if (!fd_) return;
    const EntryState self = probe_entry_at(fd_.get(), ".");
    id_ = FolderId{self.device, self.inode};
}

FolderNames::FolderNames(const FolderNames& parent, const std::string& child) : folder_(parent.folder_ + "/" + child) {
    // Relative to the open parent and never through a link: one lookup, and no way out of it. A
    // report folder is judged by its names alone, so a listing that works is all it needs; why
    // one does not is asked only then.
    if (parent.fd_) {
        fd_ = open_folder_no_link_at(parent.fd_.get(), child);
        judgement_ = fd_ ? FolderJudgement{FolderAccess::Readable, 0} : judge_folder(parent.fd_.get(), child);
    } else if (parent.judgement_.unknown())
        judgement_ = parent.judgement_;
    read_entries(true);
    fd_.reset();  // thousands of these may be held at once
}

std::optional<FolderId> FolderNames::id_of(const std::string& name) const {
    const Entry* e = lookup(name, std::nullopt);
    if (!e || e->name != name) return std::nullopt;
    return FolderId{id_.device, e->inode};
}

std::unordered_map<std::string, FolderNames> FolderNames::read_subfolders() const {
    const std::vector<std::string> names = subfolders();
    std::vector<std::optional<FolderNames>> read(names.size());
    // Listing a folder is mostly waiting for the system, so an archive's report folders are
    // listed side by side; what is done with the lists stays in order.
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < names.size();) read[i].emplace(*this, names[i]);
    };
    const std::size_t threads = std::min<std::size_t>(names.size() / 64, 8);
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    std::unordered_map<std::string, FolderNames> out;
    out.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) out.emplace(names[i], std::move(*read[i]));
    return out;
}

void FolderNames::read_entries(bool fresh) {
    if (!fd_) return;
    const auto listed = list_folder_names_at(fd_.get(), !fresh);
    if (!listed) {
        judgement_ = FolderJudgement{FolderAccess::Unreadable, errno};
        fd_.reset();
        return;
    }
    entries_.reserve(listed->size());
    for (const FolderName& e : *listed) entries_.emplace_back(to_upper_copy(e.name), Entry{e.name, e.kind, e.inode});
    std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
    });
}

const FolderNames::Entry* FolderNames::lookup(std::string_view name, std::optional<EntryKind> kind) const {
    const std::string upper = to_upper_copy(std::string(name));
    auto it = std::lower_bound(entries_.begin(), entries_.end(), upper,
                               [](const auto& e, const std::string& key) { return e.first < key; });
    const Entry* first = nullptr;
    for (; it != entries_.end() && it->first == upper; ++it) {
        if (kind && it->second.kind != *kind) continue;
        if (it->second.name == name) return &it->second;
        if (!first) first = &it->second;
    }
    return first;
}

std::optional<std::string> FolderNames::find(std::string_view name) const {
    const Entry* e = lookup(name, std::nullopt);
    return e ? std::optional<std::string>(e->name) : std::nullopt;
}

std::optional<std::string> FolderNames::find_folder(std::string_view name) const {
    const Entry* e = lookup(name, EntryKind::Folder);
    return e ? std::optional<std::string>(e->name) : std::nullopt;
}

std::optional<std::string> FolderNames::find_link(std::string_view name) const {
    const Entry* e = lookup(name, EntryKind::Link);
    return e ? std::optional<std::string>(e->name) : std::nullopt;
}

std::vector<std::string> FolderNames::names_of(EntryKind kind, bool hidden) const {
    std::vector<std::string> names;
    for (const auto& [upper, entry] : entries_)
        if (entry.kind == kind && (entry.name[0] == '.') == hidden) names.push_back(entry.name);
    return names;
}

std::vector<std::string> FolderNames::subfolders() const { return names_of(EntryKind::Folder, false); }

std::vector<std::string> FolderNames::links() const { return names_of(EntryKind::Link, false); }

std::vector<std::string> FolderNames::hidden_subfolders() const { return names_of(EntryKind::Folder, true); }

std::vector<std::string> FolderNames::files() const {
    std::vector<std::string> out;
    for (const auto& [upper, entry] : entries_)
        if (entry.kind == EntryKind::Regular) out.push_back(entry.name);
    return out;
}

bool FolderNames::holds_only(bool (*allowed)(std::string_view name)) const {
    for (const auto& [upper, entry] : entries_)
        if (entry.kind != EntryKind::Regular || !allowed(entry.name)) return false;
    return true;
}

bool is_index_file_name(std::string_view name) {
    for (const char* n : {kArchiveIndexName, "ARCHINFO.SAV", "ARCHINFO.1.SAV", "ARCHINFO.2.SAV", kIndexLockFileName})
        if (platform::iequals(name, n)) return true;
    const std::string temp_prefix = std::string(".") + kArchiveIndexName + ".tmp";
    return name.size() > temp_prefix.size() && platform::iequals(name.substr(0, temp_prefix.size()), temp_prefix);
}

std::int32_t folder_file_size(int folder_fd) {
    const auto entries = list_folder_at(folder_fd);
    std::uint64_t sum = 0;
    for (const FolderEntry& e : entries.value_or(std::vector<FolderEntry>{}))
        if (e.regular && (sum += e.size) >= INT32_MAX) return INT32_MAX;
    return static_cast<std::int32_t>(sum);
}

std::string date_text(std::time_t time) {
    std::tm tm{};
    if (!::localtime_r(&time, &tm)) tm = std::tm{};
    return format_string("%02d/%02d/%02d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour,
                         tm.tm_min, tm.tm_sec);
}

std::string now_text() { return date_text(std::time(nullptr)); }

std::optional<std::string> modified_date_text(int folder_fd, const std::string& name) {
    const EntryState entry = probe_entry_at(folder_fd, name);
    if (!entry.present()) return std::nullopt;
    return date_text(static_cast<std::time_t>(entry.mtime_ns / 1000000000));
}

std::string without_control_characters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 1 || u > 31) out += c;
    }
    return out;
}

std::optional<std::vector<std::string>> read_index_lines(int folder_fd, const std::string& name) {
    OutsideFile opened = open_outside_file_at(folder_fd, name, UINT64_MAX);
    platform::UniqueFile file(opened ? ::fdopen(opened.fd.get(), "rb") : nullptr);
    if (!file) return std::nullopt;
    opened.fd.release();  // the stream owns it now
    std::vector<std::string> lines;
    std::string line;
    while (read_text_line(file.get(), line)) {
        if (line.empty()) continue;
        trim_trailing_chars(line, " \t\r");
        lines.push_back(std::move(line));
        line.clear();
    }
    if (std::ferror(file.get())) return std::nullopt;
    return lines;
}

void report_replaced(Reporter& reporter, const std::string& path, bool link, const std::string& left) {
    reporter.event(archive_io::replaced_folder_text(path, link, left),
                   (link ? "REPLACEDBYLINK:" : "NOTCHECKED:") + path);
}

Deletion delete_judged_folder(const ArchiveIndexLock& lock, const std::string& name, const FolderId& judged,
                              const std::string& path, Reporter& reporter) {
    const int parent_fd = lock.folder_fd();
    auto left = [&](Deletion why) {
        report_replaced(reporter, path, why == Deletion::ReplacedByLink, "it is not deleted");
        return why;
    };
    // Held open from here on: what goes is the folder judged, whatever its name comes to hold.
    archive_io::MadeFolder held;
    archive_io::JudgedFolder state = archive_io::open_judged_folder_at(parent_fd, name, held);
    if (state == archive_io::JudgedFolder::Held && FolderId{held.device, held.inode} != judged)
        state = archive_io::JudgedFolder::Other;
    // Hidden first, under a record that names it, so that a kill on the way leaves what the next
    // holder of the lock finishes, never half a report or archive.
    ChangeRecord record;
    if (state == archive_io::JudgedFolder::Held) state = archive_io::hide_judged_folder_at(lock, held, record);
    switch (state) {
        case archive_io::JudgedFolder::Held: break;
        case archive_io::JudgedFolder::Link: return left(Deletion::ReplacedByLink);
        case archive_io::JudgedFolder::Failed:
            reporter.event("Unable to delete " + path + " - it cannot be renamed.", "CANTDELETE:" + path);
            return Deletion::Kept;
        default: return left(Deletion::NotJudged);
    }
    const std::string hidden_path = path.substr(0, path.size() - name.size()) + held.name;
    const bool gone = archive_io::delete_held_folder_at(parent_fd, held, [&](const std::string& below, bool folder) {
        const std::string child = hidden_path + "/" + below;
        if (folder)
            reporter.event("Unable to delete directory: " + child, "CANTDELDIR:" + child);
        else
            reporter.event("Unable to delete file: " + child, "CANTDELFILE:" + child);
    });
    if (!gone) {
        reporter.event("Unable to delete directory: " + hidden_path, "CANTDELDIR:" + hidden_path);
        return Deletion::Kept;
    }
    record.finish();
    return Deletion::Deleted;
}

}  // namespace tv::brackmor
