// Files, folders and temporary files on a native file system. Windows-style drive paths
// ("X:", "X:/...") of mapped card drives are turned into their folders at every entry point.
#include "common/files.h"

#include "common/safe_open.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "common/bytes.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "common/values.h"

namespace tv {

namespace {

constexpr std::uint32_t kAttrArchive = 0x20;

// "X:" exactly.
bool is_bare_drive(const std::string& p) { return p.size() == 2 && p[1] == ':'; }

// "X:" or "X:/..." with a letter: the form that may name a mapped card drive.
bool has_drive_prefix(const std::string& p) {
    return p.size() >= 2 && platform::is_alpha(p[0]) && p[1] == ':' && (p.size() == 2 || p[2] == '/');
}

bool stat_path(const std::string& path, struct stat& st) { return !path.empty() && ::stat(path.c_str(), &st) == 0; }

bool is_dir_path(const std::string& p) {
    struct stat st;
    return stat_path(p, st) && S_ISDIR(st.st_mode);
}

std::uint32_t attributes_of(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return kAttrFolder;
    std::uint32_t a = kAttrArchive;
    if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
    return a;
}

// Gives a regular file the owner write bit ("normal" attributes). Never follows a link.
void make_normal(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
}

// ASCII-case-insensitive wildcard match ('*', '?'). A "*.*" tail matches names without a dot,
// as the Windows finder does.
bool wildcard_match(const char* pat, const char* name) {
    const char* star_p = nullptr;
    const char* star_n = nullptr;
    while (*name) {
        if (*pat == '*') {
            star_p = ++pat;
            star_n = name;
        } else if (*pat == '?' || (*pat && ascii_upper(*pat) == ascii_upper(*name))) {
            ++pat;
            ++name;
        } else if (star_p) {
            pat = star_p;
            name = ++star_n;
        } else {
            return false;
        }
    }
    while (*pat == '*') ++pat;
    // A trailing ".*" or "." may match nothing, so "*.*" takes every name.
    return *pat == '\0' || std::strcmp(pat, ".*") == 0 || std::strcmp(pat, ".") == 0;
}

// Random upper-case letters and digits for names made here.
std::string random_suffix(std::size_t n) {
    static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string out(n, '0');
    unsigned char bytes[32];
    std::size_t got = 0;
    if (n <= sizeof bytes) {
        ssize_t r = ::getrandom(bytes, n, 0);
        if (r > 0) got = static_cast<std::size_t>(r);
    }
    static std::atomic<unsigned> counter{0};
    unsigned mix =
        static_cast<unsigned>(::getpid()) * 2654435761u + (++counter) * 40503u + static_cast<unsigned>(::time(nullptr));
    for (std::size_t i = 0; i < n; ++i) {
        unsigned v = i < got ? bytes[i] : ((mix >> ((i * 5) % 27)) ^ (mix * (i + 1)));
        out[i] = kChars[v % 36];
    }
    return out;
}

// Everything from `in`'s position to its end onto `out`.
bool copy_bytes(int in, int out) {
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t r = ::read(in, buf.data(), buf.size());
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r == 0;
        if (!platform::write_all(out, buf.data(), static_cast<std::size_t>(r))) return false;
    }
}

// Copies the file open as `in` into a fresh hidden sibling of `target` and renames it over the
// target, so the target holds either its old content or the whole new one. The copy keeps the source's
// modification time and is left writable. A replaced file keeps its mode and group, so the
// accounts that shared it still do; a new one is made 0666 less the umask.
bool copy_fd_replacing(platform::UniqueFd in, const std::string& target) {
    if (!in) return false;
    struct stat st;
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    struct stat tst;
    const bool replacing = ::stat(target.c_str(), &tst) == 0;
    if (replacing && S_ISDIR(tst.st_mode)) return false;
    const std::string folder = split_path(target).folder;
    std::string tmp;
    platform::UniqueFd out;
    for (int attempt = 0; attempt < 100 && !out; ++attempt) {
        tmp = (folder == "/" ? std::string() : folder) + "/.tvcopy." + random_suffix(6);
        out.reset(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!out && errno != EEXIST) return false;
    }
    if (!out) return false;
    bool ok = copy_bytes(in.get(), out.get());
    in.reset();
    if (ok) {
        if (replacing && S_ISREG(tst.st_mode)) {
            // The group first: changing it may clear mode bits. Not being a member of that group
            // leaves the folder's.
            struct stat now;
            if (::fstat(out.get(), &now) == 0 && now.st_gid != tst.st_gid) (void)::fchown(out.get(), -1, tst.st_gid);
            ::fchmod(out.get(), (tst.st_mode & 0777) | S_IWUSR);
        }
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        ok = ::fsync(out.get()) == 0;
    }
    if (!out.close()) ok = false;
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    platform::sync_folder(folder.empty() ? "." : folder);
    return true;
}

bool copy_replacing_native(const std::string& source, const std::string& target) {
    return copy_fd_replacing(open_outside_file(source, UINT64_MAX).fd, target);
}

char time_code(int v) { return static_cast<char>(v < 10 ? '0' + v : 'A' + (v - 10)); }

char step_code(char c) { return c == '9' ? 'A' : static_cast<char>(c + 1); }

bool is_drive_root(const std::string& given, const std::string& path) {
    if (given.size() == 2 && given[1] == ':') return true;
    if (given.size() == 3 && given[1] == ':' && (given[2] == '/' || given[2] == '\\')) return true;
    const std::string p = platform::strip_trailing_slashes(path);
    if (p == "/") return true;
    auto drive = platform::mapped_drive_of(p);
    if (!drive) return false;
    const std::string f = platform::strip_trailing_slashes(drive->folder);
    if (f == p) return true;
    std::unique_ptr<char, decltype(&std::free)> a(::realpath(f.c_str(), nullptr), &std::free);
    std::unique_ptr<char, decltype(&std::free)> b(::realpath(p.c_str(), nullptr), &std::free);
    return a && b && std::strcmp(a.get(), b.get()) == 0;
}

std::vector<std::string> list_names(int dirfd) {
    std::vector<std::string> names;
    platform::UniqueFd fd(::dup(dirfd));
    if (!fd) return names;
    ::fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
    DIR* d = ::fdopendir(fd.get());
    if (!d) return names;
    fd.release();  // the stream owns it now
    ::rewinddir(d);
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// Empties the open folder `dirfd` (named `path` for reports): every entry, hidden ones too, since
// a lock or temporary file left behind would otherwise keep the folder and what it held. Links
// are removed, never followed.
bool empty_folder_at(int dirfd, const std::string& path, bool recurse, bool clear, std::string* blocker) {
    for (const std::string& name : list_names(dirfd)) {
        if (name == "." || name == "..") continue;
        std::string full = path + "/" + name;
        struct stat st;
        if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            if (blocker) *blocker = full;
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!recurse) continue;
            if (clear && (st.st_mode & (S_IRWXU)) != S_IRWXU)
                ::fchmodat(dirfd, name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
            platform::UniqueFd sub(::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub) {
                if (blocker) *blocker = full;
                return false;
            }
            bool ok = empty_folder_at(sub.get(), full, recurse, clear, blocker);
            sub.reset();
            if (!ok) return false;
            if (::unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) != 0) {
                if (blocker) {
                    *blocker = full;
                    // Name what keeps it: an entry this walk does not touch.
                    platform::UniqueFd again(
                        ::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                    if (again) {
                        for (const std::string& n : list_names(again.get()))
                            if (n != "." && n != "..") {
                                *blocker = full + "/" + n;
                                break;
                            }
                    }
                }
                return false;
            }
        } else {
            if (clear && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
                ::fchmodat(dirfd, name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
            if (::unlinkat(dirfd, name.c_str(), 0) != 0 && errno != ENOENT) {
                if (blocker) *blocker = full;
                return false;
            }
        }
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// FileFinder

struct FileFinder::Impl {
    std::string prefix;  // as the caller wrote it, up to and including the last '/'
    std::string folder;  // native folder to read
    std::uint32_t mask = 0;
    std::vector<std::string> names;  // matching names, taken when the search starts
    std::size_t index = 0;
    bool at_end = true;
    struct stat st {};
    bool is_link = false;

    bool accept(const std::string& name) {
        if (name.empty() || name[0] == '.') return false;
        std::string full = folder + "/" + name;
        struct stat lst;
        if (::lstat(full.c_str(), &lst) != 0) return false;  // gone since the search began
        is_link = S_ISLNK(lst.st_mode);
        if (!is_link || ::stat(full.c_str(), &st) != 0) st = lst;
        std::uint32_t attrs = attributes_of(st);
        if (mask == kFindAny) return true;
        if (mask == kFindFiles) {
            if (attrs == 0) return true;
            if (attrs & kAttrFolder) return false;
        }
        return (attrs & mask) != 0;
    }

    void advance() {
        while (index < names.size()) {
            if (accept(names[index])) {
                at_end = false;
                return;
            }
            ++index;
        }
        at_end = true;
    }
};

FileFinder::FileFinder(const std::string& pattern, std::uint32_t mask) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.mask = mask;
    auto slash = pattern.rfind('/');
    std::string wild;
    if (slash == std::string::npos) {
        m.prefix.clear();
        wild = pattern;
        m.folder = ".";
    } else {
        m.prefix = pattern.substr(0, slash + 1);
        wild = pattern.substr(slash + 1);
        m.folder = platform::expand_drive_path(slash == 0 ? std::string("/") : pattern.substr(0, slash));
        if (m.folder.empty()) m.folder = ".";
    }
    if (wild.empty()) return;
    DIR* d = ::opendir(m.folder.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (wildcard_match(wild.c_str(), e->d_name)) m.names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(m.names.begin(), m.names.end());
    if (m.folder == "/") m.folder.clear();  // so that folder + "/" + name stays one slash
    m.advance();
}

FileFinder::~FileFinder() = default;

void FileFinder::next() {
    if (impl_->at_end) return;
    ++impl_->index;
    impl_->advance();
}

bool FileFinder::at_end() const { return impl_->at_end; }

bool FileFinder::is_folder() const { return !impl_->at_end && S_ISDIR(impl_->st.st_mode); }

bool FileFinder::is_symlink() const { return !impl_->at_end && impl_->is_link; }

std::string FileFinder::get_name() const { return impl_->at_end ? std::string() : impl_->names[impl_->index]; }

std::string FileFinder::get_path() const { return impl_->at_end ? std::string() : impl_->prefix + get_name(); }

std::int64_t FileFinder::get_size() const {
    if (impl_->at_end || S_ISDIR(impl_->st.st_mode)) return 0;
    return static_cast<std::int64_t>(impl_->st.st_size);
}

// ---------------------------------------------------------------------------------------------
// FolderFiles

bool FolderFiles::read(const std::string& folder, const std::string& mask, std::string_view skip) {
    names_.clear();
    blocker_.clear();
    twin_.clear();
    folder_link_ = hard_linked_ = false;
    OutsideRefusal why = OutsideRefusal::None;
    folder_ = open_folder_no_link(platform::expand_drive_path(folder), &why);
    if (!folder_) {
        if (why == OutsideRefusal::Link) blocker_ = folder, folder_link_ = true;
        return false;
    }
    platform::UniqueFd listing(::dup(folder_.get()));
    DIR* d = listing ? ::fdopendir(listing.get()) : nullptr;
    if (!d) {
        folder_.reset();
        return false;
    }
    listing.release();  // the stream owns it now
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(d, &::closedir);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* e = ::readdir(dir.get())) {
        if (e->d_name[0] != '.' && e->d_name != skip && wildcard_match(mask.c_str(), e->d_name))
            names.emplace_back(e->d_name);
        errno = 0;
    }
    const bool listed = errno == 0;
    // Ordered without regard to case, so that names that differ only in case sit side by side.
    const auto upper = [](std::string n) {
        std::transform(n.begin(), n.end(), n.begin(), ascii_upper);
        return n;
    };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        const std::string ua = upper(a), ub = upper(b);
        return ua != ub ? ua < ub : a < b;
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        struct stat st;
        if (::fstatat(folder_.get(), names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone since the listing
            folder_.reset();
            return false;
        }
        if (S_ISDIR(st.st_mode)) continue;
        if (!S_ISREG(st.st_mode))
            blocker_ = names[i];
        else if (st.st_nlink != 1)
            blocker_ = names[i], hard_linked_ = true;
        else if (!names_.empty() && platform::iequals(names_.back(), names[i]))
            blocker_ = names_.back(), twin_ = names[i];
        if (!blocker_.empty()) {
            names_.clear();
            folder_.reset();
            return false;
        }
        names_.push_back(names[i]);
    }
    std::sort(names_.begin(), names_.end());
    if (!listed) {
        names_.clear();
        folder_.reset();
    }
    return listed;
}

std::string FolderFiles::refusal(const char* action) const {
    if (blocker_.empty()) return {};
    if (folder_link_)
        return format_string("The report folder \"%s\" is a link to another place, so it cannot be %s.",
                             escape_control_chars(blocker_).c_str(), action);
    if (!twin_.empty())
        return format_string(
            "The report folder contains \"%s\" and \"%s\", whose names differ only in case, so it "
            "cannot be %s.",
            blocker_.c_str(), twin_.c_str(), action);
    if (hard_linked_)
        return format_string("The report folder contains \"%s\", which has another name elsewhere, so it cannot be %s.",
                             blocker_.c_str(), action);
    return format_string("The report folder contains \"%s\", which is not a plain file, so it cannot be %s.",
                         blocker_.c_str(), action);
}

platform::UniqueFd FolderFiles::open(const std::string& name) const {
    if (!folder_) return {};
    platform::UniqueFd fd = platform::open_regular_at(folder_.get(), name);
    struct stat st;
    if (fd && (::fstat(fd.get(), &st) != 0 || st.st_nlink != 1)) fd.reset();
    return fd;
}

bool FolderFiles::copy(const std::string& name, const std::string& target) const {
    return !target.empty() && copy_fd_replacing(open(name), platform::expand_drive_path(target));
}

bool copy_fd_into(platform::UniqueFd in, int folder_fd, const std::string& name) {
    struct stat st;
    if (!in || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    platform::UniqueFd out = create_new_file_at(folder_fd, name);
    if (!out) return false;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    bool ok = copy_bytes(in.get(), out.get()) && ::futimens(out.get(), times) == 0 && ::fsync(out.get()) == 0;
    if (!out.close()) ok = false;
    if (!ok) ::unlinkat(folder_fd, name.c_str(), 0);
    return ok;
}

bool FolderFiles::copy_into(const std::string& name, int folder_fd) const {
    return copy_fd_into(open(name), folder_fd, name);
}

// ---------------------------------------------------------------------------------------------
// Queries

bool is_same_entry(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat_path(platform::expand_drive_path(a), sa) && stat_path(platform::expand_drive_path(b), sb) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat_path(platform::expand_drive_path(path), st) && !S_ISDIR(st.st_mode);
}

bool folder_exists(const std::string& path) {
    if (is_bare_drive(path)) return true;
    return is_dir_path(platform::expand_drive_path(path));
}

bool is_valid_name_char(char c) { return c != '\0' && std::strchr("\\/.:*?<>|\"", c) == nullptr; }

bool is_valid_file_name(const std::string& name) { return std::all_of(name.begin(), name.end(), is_valid_name_char); }

namespace {
// What no path component of ours holds: control characters and what separates or matches names.
bool is_unsafe_component_char(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?<>|\"", c) != nullptr;
}
}  // namespace

bool is_safe_path_component(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), is_unsafe_component_char);
}

std::string file_name_from_text(const std::string& text) {
    std::string name;
    name.reserve(text.size() + 1);
    for (char c : text) name.push_back(is_unsafe_component_char(c) ? '_' : c);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (name.empty() || name.front() == '.') name.insert(name.begin(), '_');
    return name;
}

std::string fitted_file_name(std::string_view stem, std::string_view suffix, std::size_t limit) {
    const std::size_t room = limit > suffix.size() ? limit - suffix.size() : 0;
    if (stem.size() > room) {
        std::size_t cut = room;
        // Never half a character: back over UTF-8 continuation bytes.
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem = stem.substr(0, cut);
        while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    }
    std::string name(stem);
    name += suffix;
    return name;
}

std::string serial_file_name(std::string_view stem, std::string_view ext, int n, std::size_t limit) {
    if (n <= 0) return fitted_file_name(stem, ext, limit);
    return fitted_file_name(stem, " (" + std::to_string(n) + ")" + std::string(ext), limit);
}

std::string free_file_path(const std::string& folder, std::string_view stem, std::string_view ext, std::size_t limit) {
    for (int n = 0;; ++n) {
        std::string path = join_path(folder, serial_file_name(stem, ext, n, limit));
        if (!file_exists(path)) return path;
    }
}

std::string move_to_free_name(const std::string& from, const std::string& folder, std::string_view stem,
                              std::string_view ext) {
    constexpr int kSerialsTried = 100000;
    for (int n = 0; n < kSerialsTried; ++n) {
        const std::string path = join_path(folder, serial_file_name(stem, ext, n));
        if (platform::rename_no_replace(from, path)) return path;
        if (errno != EEXIST) return {};
    }
    return {};
}

std::int64_t get_file_size_64(const std::string& path) {
    struct stat st;
    if (!stat_path(platform::expand_drive_path(path), st) || S_ISDIR(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::int32_t get_file_size(const std::string& path) {
    std::int64_t s = get_file_size_64(path);
    return s < 0 ? -1 : clamp32(s, 0, INT32_MAX);
}

bool set_read_only(const std::string& path) {
    std::string p = platform::expand_drive_path(path);
    struct stat st;
    if (!stat_path(p, st)) return false;
    if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) return true;
    return ::chmod(p.c_str(), (st.st_mode & 07777) & ~(S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool clear_read_only(const std::string& path) {
    std::string p = platform::expand_drive_path(path);
    struct stat st;
    if (!stat_path(p, st)) return false;
    if (st.st_mode & S_IWUSR) return true;
    return ::chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool is_read_only(const std::string& path) {
    struct stat st;
    return stat_path(platform::expand_drive_path(path), st) && !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR);
}

// ---------------------------------------------------------------------------------------------
// Path text

std::string get_path_folder(const std::string& path) {
    auto p = path.rfind('/');
    if (p == std::string::npos || p < 1) return path;
    return path.substr(0, p);
}

PathParts split_path(const std::string& path) {
    std::string p = platform::strip_trailing_slashes(path);
    const std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return {".", std::move(p)};
    return {slash == 0 ? "/" : p.substr(0, slash), p.substr(slash + 1)};
}

std::string get_path_folder_slash(const std::string& path) {
    auto p = path.rfind('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string get_path_file_name(const std::string& path, PathSeparators separators) {
    const auto p = path.find_last_of(separators == PathSeparators::WindowsToo ? "/\\" : "/");
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string get_extension_upper(const std::string& path) {
    auto p = path.rfind('.');
    if (p == std::string::npos) return std::string();
    std::string ext = path.substr(p + 1);
    for (char& c : ext) c = ascii_upper(c);
    return ext;
}

std::string trim_right_char(std::string text, char c) {
    while (!text.empty() && text.back() == c) text.pop_back();
    return text;
}

std::string join_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    std::size_t start = 0;
    while (start < name.size() && name[start] == '/') ++start;
    if (folder.back() == '/') return folder + name.substr(start);
    return folder + "/" + name.substr(start);
}

// ---------------------------------------------------------------------------------------------
// Drives and space

int classify_drive(const std::string& path) {
    if (path.size() < 2) return 1;
    if ((path[0] == 'A' || path[0] == 'a' || path[0] == 'B' || path[0] == 'b') && path[1] == ':') return 0;
    std::string p;
    if (path[1] == ':') {
        p = platform::expand_drive_path(std::string(1, path[0]) + ":/");
    } else {
        if (path[0] != '/') return 1;  // a relative path names no drive
        p = path;
        // The drive is the file system of the nearest folder that exists.
        while (!is_dir_path(p)) {
            const auto s = p.rfind('/');
            if (s == 0) {
                p.resize(1);
                break;
            }
            p.resize(s);
        }
    }
    auto info = platform::volume_of(p);
    if (!info) return 1;
    switch (info->kind) {
        case platform::DriveKind::Floppy: return 0;
        case platform::DriveKind::Removable:
        case platform::DriveKind::CdRom: return 2;
        case platform::DriveKind::Remote: return 3;
        default: return 1;
    }
}

namespace {

// The folder whose volume answers for `path`: trailing separators dropped, and a path that is
// not an existing folder replaced by its parent.
std::string space_query_folder(const std::string& path) {
    std::string p = platform::strip_trailing_slashes(path);
    if (is_bare_drive(p)) return platform::expand_drive_path(p + "/");
    p = platform::expand_drive_path(p);
    if (!is_dir_path(p)) {
        auto s = p.rfind('/');
        if (s != std::string::npos) p = s == 0 ? std::string("/") : p.substr(0, s);
    }
    return p;
}

}  // namespace

std::uint64_t get_disk_free_bytes(const std::string& path) {
    if (path.empty()) return 0;
    auto info = platform::volume_of(space_query_folder(path));
    return info ? info->free_bytes : 0;
}

// ---------------------------------------------------------------------------------------------
// File operations

bool force_delete_file(const std::string& path) {
    std::string p = platform::expand_drive_path(path);
    if (p.empty()) return false;
    make_normal(p);
    ::unlink(p.c_str());
    struct stat st;
    return ::lstat(p.c_str(), &st) != 0 && errno == ENOENT;
}

bool copy_file_replacing(const std::string& source, const std::string& target, std::string* status) {
    if (status) *status = source;
    if (source.empty() || target.empty()) return false;
    return copy_replacing_native(platform::expand_drive_path(source), platform::expand_drive_path(target));
}

FileSetResult copy_matching_files(const std::string& pattern, const std::string& folder, std::string* status) {
    for (FileFinder f(pattern, kFindFiles); !f.at_end(); f.next()) {
        if (f.get_name() == "WIN386.SWP") continue;
        if (!copy_file_replacing(f.get_path(), join_path(folder, f.get_name()), status)) return FileSetResult::Failed;
    }
    return FileSetResult::AllDone;
}

std::int64_t sum_file_sizes(const std::string& pattern) {
    std::int64_t total = 0;
    for (FileFinder f(pattern, kFindAny); !f.at_end(); f.next()) total += f.get_size();
    return total;
}

namespace {
std::string all_in(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') return folder + "*.*";
    return folder + "/*.*";
}
}  // namespace

bool delete_files_in_folder(const std::string& folder) {
    const std::string path = platform::strip_trailing_slashes(platform::expand_drive_path(folder));
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return errno == ENOENT;  // no folder, no files
    // Hidden names too: a stale temporary copy is a file of the folder like any other.
    for (const std::string& name : list_names(fd.get())) {
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            return false;
        }
        if (S_ISDIR(st.st_mode)) continue;
        if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
            ::fchmodat(fd.get(), name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
        if (::unlinkat(fd.get(), name.c_str(), 0) != 0 && errno != ENOENT) return false;
    }
    return true;
}

std::int64_t get_folder_size_64(const std::string& folder, bool recurse) {
    std::int64_t total = 0;
    for (FileFinder f(all_in(folder), kFindAny); !f.at_end(); f.next()) {
        if (!f.is_folder())
            total += f.get_size();
        else if (recurse && !f.is_symlink())
            total += get_folder_size_64(f.get_path(), true);
    }
    return total;
}

std::int32_t get_folder_size(const std::string& folder, bool recurse) {
    return clamp32(get_folder_size_64(folder, recurse), 0, INT32_MAX);
}

bool create_folder_path(const std::string& path) {
    if (path.empty() || path == "/") return false;
    std::string p = path;
    if (p.back() == '/') p.pop_back();
    if (is_bare_drive(p) || folder_exists(p)) return true;
    p = platform::expand_drive_path(p);
    for (std::size_t i = 1; i < p.size(); ++i)
        if (p[i] == '/' && p[i - 1] != ':') ::mkdir(p.substr(0, i).c_str(), 0777);
    if (::mkdir(p.c_str(), 0777) == 0) return true;
    return errno == EEXIST && is_dir_path(p);
}

std::uint32_t file_xor_checksum(std::FILE* file) {
    if (!file) return 0xFFFFFFFFu;
    constexpr std::size_t kChunk = 0x20000;
    std::vector<unsigned char> buf(kChunk + 4);
    std::uint32_t sum = 0;
    for (;;) {
        std::size_t n = std::fread(buf.data(), 1, kChunk, file);
        if (n == 0) break;
        std::size_t padded = (n + 3) & ~static_cast<std::size_t>(3);
        std::fill(buf.begin() + static_cast<std::ptrdiff_t>(n), buf.begin() + static_cast<std::ptrdiff_t>(padded), 0);
        for (std::size_t i = 0; i < padded; i += 4) sum ^= load_le32(buf.data() + i);
    }
    if (std::ferror(file)) return 0xFFFFFFFFu;
    return sum;
}

std::string make_unique_file_name(const std::string& folder, const std::string& extension, const std::string& twin,
                                  const std::function<bool(const std::string&)>& listed) {
    auto taken_as = [&](const std::string& name) {
        std::string candidate = join_path(folder, name);
        return is_bare_drive(candidate) || (listed && listed(name)) || file_exists(candidate) ||
               folder_exists(candidate);
    };
    auto taken = [&](const std::string& base) {
        return taken_as(base + extension) || (!twin.empty() && taken_as(base + twin));
    };
    for (;;) {
        std::string base = "DEFAULT";
        std::int64_t now = platform::system().now();
        struct tm tm {};
        time_t t = static_cast<time_t>(now);
        if (now != -1 && ::localtime_r(&t, &tm)) {
            char text[16];
            std::snprintf(text, sizeof text, "%c%c%02d%c%03x", time_code(tm.tm_mday), time_code(tm.tm_mon),
                          (tm.tm_year + 1900) % 100, time_code(tm.tm_hour),
                          static_cast<unsigned>(tm.tm_min * 60 + tm.tm_sec));
            base = text;
        }
        if (!taken(base)) return base + extension;
        for (std::size_t pos : {std::size_t{0}, std::size_t{1}, std::size_t{4}}) {
            while (base[pos] < 'Z') {
                base[pos] = step_code(base[pos]);
                if (!taken(base)) return base + extension;
            }
        }
        platform::system().sleep_ms(1000);
    }
}

bool delete_folder_tree(const std::string& folder, bool recurse, bool clear_attributes, std::string* blocker) {
    if (folder.empty()) return false;
    const std::string path = platform::strip_trailing_slashes(platform::expand_drive_path(folder));
    bool root = is_drive_root(folder, path);
    if (has_drive_prefix(folder) && !is_dir_path(path)) {
        // A drive letter that is not mapped: nothing here to delete.
        if (blocker) *blocker = folder;
        return false;
    }
    // A link in place of the folder is never walked, unless it is a drive's own folder.
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (root ? 0 : O_NOFOLLOW);
    if (clear_attributes && !root) {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IRWXU) != S_IRWXU)
            ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
    }
    platform::UniqueFd fd(::open(path.c_str(), flags));
    if (!fd) {
        if (blocker) *blocker = folder;
        return false;
    }
    if (!empty_folder_at(fd.get(), path, recurse, clear_attributes, blocker)) return false;
    if (root) return true;
    if (::rmdir(path.c_str()) == 0) return true;
    if (blocker) {
        *blocker = path;
        for (const std::string& n : list_names(fd.get()))
            if (n != "." && n != "..") {
                *blocker = path + "/" + n;
                break;
            }
    }
    return false;
}

TempFolder::~TempFolder() {
    if (!path_.empty()) delete_folder_tree(path_, true, true);
}

FolderRemover::~FolderRemover() {
    if (!folder_.empty()) delete_folder_tree(folder_, recurse_, clear_);
}

// ---------------------------------------------------------------------------------------------
// Program and temporary locations

std::string get_module_path() {
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<std::size_t>(n));
        if (buf.size() >= (1u << 20)) return std::string();
        buf.resize(buf.size() * 2);
    }
}

std::string get_module_folder() { return get_path_folder(get_module_path()); }

std::string get_temp_folder() {
    const char* env = std::getenv("TMPDIR");
    std::string t = env ? env : "";
    if (t.empty() || !is_dir_path(t)) t = "/tmp";
    return platform::strip_trailing_slashes(std::move(t));
}

std::string get_temp_file_name() {
    std::string t = get_temp_folder();
    std::string path = (t == "/" ? std::string() : t) + "/TVXXXXXX.tmp";
    if (!platform::UniqueFd(::mkostemps(path.data(), 4, O_CLOEXEC))) return std::string();
    return path;
}

namespace {

std::string temp_folder_base() {
    const std::string t = get_temp_folder();
    return (t == "/" ? std::string() : t) + "/TV-" + std::to_string(::getpid()) + "-";
}

// The owner of a name create_temp_folder gives ("TV-<pid>-" and at least six more characters), or 0.
pid_t temp_folder_owner(const std::string& name) {
    if (name.rfind("TV-", 0) != 0) return 0;
    if (name.size() < 4 || !is_digit(name[3])) return 0;  // no sign, no blanks
    const ParsedInteger pid = parse_integer(std::string_view(name).substr(3, 10), 1, INT32_MAX);
    const std::size_t i = 3 + pid.end;
    if (!pid.ok() || i >= name.size() || name[i] != '-' || name.size() - i - 1 < 6) return 0;
    return static_cast<pid_t>(pid.value);
}

}  // namespace

std::string create_temp_folder() {
    std::string path = temp_folder_base() + "XXXXXX";
    if (!::mkdtemp(path.data())) return std::string();
    return path + "/";
}

int remove_stale_temp_folders() {
    const std::string t = get_temp_folder();
    std::error_code ec;
    std::vector<std::string> stale;
    for (std::filesystem::directory_iterator it(t, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const pid_t owner = temp_folder_owner(name);
        if (owner == 0 || owner == ::getpid()) continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
        // EPERM: a process of another user has that number now; it is not ours to judge.
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
        stale.push_back(it->path().string());
    }
    int removed = 0;
    for (const auto& folder : stale)
        if (delete_folder_tree(folder, true, true)) ++removed;
    return removed;
}

std::string create_temp_folder(const std::string& extension) {
    if (!extension.empty() && (!is_safe_path_component(extension) || extension.find('.') != std::string::npos))
        return std::string();
    const std::string base = temp_folder_base();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string path = base + random_suffix(8);
        if (!extension.empty()) path += "." + extension;
        if (::mkdir(path.c_str(), 0700) == 0) return path + "/";
        if (errno != EEXIST) return std::string();
    }
    return std::string();
}

}  // namespace tv
