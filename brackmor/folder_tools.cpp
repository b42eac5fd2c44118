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
#include "tolbex/archive/report_archive.h"

namespace tv::brackmor {

bool is_safe_name(std::string_view name) { return is_safe_path_component(std::string(name)); }

std::optional<std::string> find_entry(const std::string& folder, std::string_view name) {
    if (!is_safe_name(name)) return std::nullopt;
    return platform::find_name_ci(folder, name);
}

bool is_real_folder(const std::string& path) { return probe_entry(path).kind == EntryKind::Folder; }

bool is_link(const std::string& path) { return probe_entry(path).kind == EntryKind::Link; }

FolderNames::FolderNames(const std::string& folder, bool follow) : folder_(folder) {
    // "/." makes the folder itself the last step, so only the link the user named is followed.
    judgement_ = judge_folder(AT_FDCWD, follow ? folder + "/." : folder, &fd_);
    read_entries();
}

FolderNames::FolderNames(const FolderNames& parent, const std::string& child) : folder_(parent.folder_ + "/" + child) {
    // Relative to the open parent and never through a link: one lookup, and no way out of it.
    if (parent.fd_)
        judgement_ = judge_folder(parent.fd_.get(), child, &fd_);
    else if (parent.judgement_.unknown())
        judgement_ = parent.judgement_;
    read_entries();
    fd_.reset();  // thousands of these may be held at once
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

void FolderNames::read_entries() {
    if (!fd_) return;
    const auto listed = list_folder_at(fd_.get());
    if (!listed) {
        judgement_ = FolderJudgement{FolderAccess::Unreadable, errno};
        return;
    }
    entries_.reserve(listed->size());
    for (const FolderEntry& e : *listed) {
        const Kind kind = e.folder ? Kind::Folder : e.link ? Kind::Link : Kind::File;
        entries_.emplace_back(to_upper_copy(e.name), Entry{e.name, kind});
    }
    std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
    });
}

const FolderNames::Entry* FolderNames::lookup(std::string_view name, std::optional<Kind> kind) const {
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

EntryState FolderNames::probe(const std::string& name) const {
    return fd_ ? probe_entry_at(fd_.get(), name) : EntryState{};
}

std::optional<std::string> FolderNames::find(std::string_view name) const {
    const Entry* e = lookup(name, std::nullopt);
    return e ? std::optional<std::string>(e->name) : std::nullopt;
}

std::optional<std::string> FolderNames::find_folder(std::string_view name) const {
    const Entry* e = lookup(name, Kind::Folder);
    return e ? std::optional<std::string>(e->name) : std::nullopt;
}

std::optional<std::string> FolderNames::find_link(std::string_view name) const {
    const Entry* e = lookup(name, Kind::Link);
    return e ? std::optional<std::string>(e->name) : std::nullopt;
}

std::vector<std::string> FolderNames::names_of(Kind kind, bool hidden) const {
    std::vector<std::string> names;
    for (const auto& [upper, entry] : entries_)
        if (entry.kind == kind && (entry.name[0] == '.') == hidden) names.push_back(entry.name);
    return names;
}

std::vector<std::string> FolderNames::subfolders() const { return names_of(Kind::Folder, false); }

std::vector<std::string> FolderNames::links() const { return names_of(Kind::Link, false); }

std::vector<std::string> FolderNames::hidden_subfolders() const { return names_of(Kind::Folder, true); }

std::vector<std::string> FolderNames::files() const {
    std::vector<std::string> out;
    for (const auto& [upper, entry] : entries_)
        if (entry.kind == Kind::File) out.push_back(entry.name);
    return out;
}

bool FolderNames::holds_only(bool (*allowed)(std::string_view name)) const {
    for (const auto& [upper, entry] : entries_)
        if (entry.kind != Kind::File || !allowed(entry.name)) return false;
    return true;
}

bool is_index_file_name(std::string_view name) {
    for (const char* n : {kArchiveIndexName, "ARCHINFO.SAV", "ARCHINFO.1.SAV", "ARCHINFO.2.SAV", kIndexLockFileName})
        if (platform::iequals(name, n)) return true;
    const std::string temp_prefix = std::string(".") + kArchiveIndexName + ".tmp";
    return name.size() > temp_prefix.size() && platform::iequals(name.substr(0, temp_prefix.size()), temp_prefix);
}

std::int32_t folder_file_size(const std::string& folder) {
    const platform::UniqueFd fd = open_folder_no_link(folder);
    const auto entries = fd ? list_folder_at(fd.get()) : std::nullopt;
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

std::optional<std::string> modified_date_text(const std::string& path) {
    const EntryState entry = probe_entry(path);
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

std::optional<std::vector<std::string>> read_index_lines(const std::string& path) {
    platform::UniqueFile file = archive_io::open_index_for_reading(path, nullptr, false);
    if (!file) return std::nullopt;
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

bool delete_folder(const std::string& path, Reporter& reporter, bool confirm) {
    if (!is_real_folder(path)) return false;
    if (confirm && !reporter.confirm_deletion(path)) return false;
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // The folders above it are followed as the path was given ("/." ends it in no name of its
    // own); from the folder down, descriptors only.
    const platform::UniqueFd parent =
        open_folder_no_link(slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1) + ".");
    const bool gone = parent && remove_folder_at(parent.get(), name, [&](const std::string& below, bool folder) {
                          const std::string child = path + "/" + below;
                          if (folder)
                              reporter.event("Unable to delete directory: " + child, "CANTDELDIR:" + child);
                          else
                              reporter.event("Unable to delete file: " + child, "CANTDELFILE:" + child);
                      });
    if (!gone) reporter.event("Unable to delete directory: " + path, "CANTDELDIR:" + path);
    return gone;
}

}  // namespace tv::brackmor
