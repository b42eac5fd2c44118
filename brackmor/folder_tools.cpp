#include "brackmor/folder_tools.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <cerrno>
#include <climits>
#include <string>
#include <cstdio>
#include <cstring>

#include "brackmor/reporter.h"
#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/archive/report_archive.h"

namespace tv::brackmor {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

bool lstat_ok(const std::string& path, struct stat& st) { return ::lstat(path.c_str(), &st) == 0; }

// Every entry of a folder but "." and "..", as spelt on disk.
std::vector<std::string> entries_of(const std::string& folder) {
    std::vector<std::string> names;
    UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) return names;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string_view name(e->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
    }
    return names;
}

}  // namespace

bool is_safe_name(std::string_view name) { return is_safe_path_component(std::string(name)); }

std::optional<std::string> find_entry(const std::string& folder, std::string_view name) {
    if (!is_safe_name(name)) return std::nullopt;
    return platform::find_name_ci(folder, name);
}

bool is_real_folder(const std::string& path) {
    struct stat st;
    return lstat_ok(path, st) && S_ISDIR(st.st_mode);
}

bool is_link(const std::string& path) {
    struct stat st;
    return lstat_ok(path, st) && S_ISLNK(st.st_mode);
}

FolderNames::FolderNames(const std::string& folder) : folder_(folder) {
    // The folder named here is the user's or an archive's: a link to it is followed.
    fd_.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    judgement_ = fd_ ? judge_folder(fd_.get(), ".") : judge_folder(AT_FDCWD, folder);
    if (!judgement_.readable()) fd_.reset();
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
    alignas(8) char buffer[16384];
    for (;;) {
        const ssize_t got = ::getdents64(fd_.get(), buffer, sizeof buffer);
        if (got < 0) judgement_ = FolderJudgement{FolderAccess::Unreadable, errno};
        if (got <= 0) break;
        for (ssize_t pos = 0; pos < got;) {
            const auto* e = reinterpret_cast<const dirent64*>(buffer + pos);
            pos += e->d_reclen;
            const std::string_view name(e->d_name);
            if (name == "." || name == "..") continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(fd_.get(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            }
            const Kind kind = type == DT_DIR ? Kind::Folder : type == DT_LNK ? Kind::Link : Kind::File;
            entries_.emplace_back(to_upper_copy(std::string(name)), Entry{std::string(name), kind});
        }
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
    std::int64_t sum = 0;
    for (const std::string& entry : entries_of(folder)) {
        struct stat st;
        if (lstat_ok(folder + "/" + entry, st) && S_ISREG(st.st_mode)) {
            sum += st.st_size;
            if (sum >= INT32_MAX) return INT32_MAX;
        }
    }
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
    struct stat st;
    if (!lstat_ok(path, st)) return std::nullopt;
    return date_text(st.st_mtime);
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

namespace {

// Deletes every entry of the open folder `dir` (called `path` in messages): sub-folders are opened
// relative to it and never through a link, so a folder swapped for a link meanwhile is removed
// as a link. What cannot go is reported.
void delete_contents(int dir, const std::string& path, Reporter& reporter) {
    std::vector<std::string> names;
    {
        const int copy = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
        UniqueDir d(copy >= 0 ? ::fdopendir(copy) : nullptr);
        if (!d) {
            if (copy >= 0) ::close(copy);
            return;
        }
        while (const dirent* e = ::readdir(d.get())) {
            const std::string_view name(e->d_name);
            if (name != "." && name != "..") names.emplace_back(name);
        }
    }
    for (const std::string& name : names) {
        const std::string child = path + "/" + name;
        platform::UniqueFd sub(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (sub) {
            delete_contents(sub.get(), child, reporter);
            sub.reset();
            if (::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0)
                reporter.event("Unable to delete directory: " + child, "CANTDELDIR:" + child);
        } else if (::unlinkat(dir, name.c_str(), 0) != 0) {
            reporter.event("Unable to delete file: " + child, "CANTDELFILE:" + child);
        }
    }
}

}  // namespace

bool delete_folder(const std::string& path, Reporter& reporter, bool confirm) {
    if (!is_real_folder(path)) return false;
    if (confirm && !reporter.confirm_deletion(path)) return false;
    platform::UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir) delete_contents(dir.get(), path, reporter);
    if (!dir || ::rmdir(path.c_str()) != 0) {
        reporter.event("Unable to delete directory: " + path, "CANTDELDIR:" + path);
        return false;
    }
    return true;
}

}  // namespace tv::brackmor
