#include "common/safe_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <sys/random.h>
#include <sys/syscall.h>

#include <algorithm>
#include <memory>

#include <cerrno>
#include <new>

#include "common/files.h"
#include "common/text.h"
#include "platform/drives.h"
#include "platform/fs.h"

namespace tv {

namespace {

OutsideRefusal refusal_of(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR: return OutsideRefusal::Missing;
        case ELOOP: return OutsideRefusal::Link;
        case EINVAL: return OutsideRefusal::NotRegular;
        case EFBIG: return OutsideRefusal::TooLarge;
        case EMLINK: return OutsideRefusal::HardLinked;
        default: return OutsideRefusal::Unreadable;
    }
}

OutsideFile open_outside(int folder_fd, const std::string& name, std::uint64_t max_size, bool one_name = false);

template <class Bytes>
bool read_all(int folder_fd, const std::string& path, std::uint64_t max_size, Bytes& out, OutsideRefusal* refusal,
              bool one_name = false) {
    out.clear();
    OutsideFile file = open_outside(folder_fd, path, max_size, one_name);
    if (refusal) *refusal = file.refusal;
    if (!file) return false;
    try {
        // One byte more than the file held when it was opened, so that growth shows.
        const std::uint64_t room = file.size < max_size ? file.size + 1 : max_size + 1;
        std::size_t got = 0;
        out.resize(static_cast<std::size_t>(room));  // what it held, and a byte to see growth
        for (;;) {
            if (got == out.size()) {
                if (got > max_size) break;
                out.resize(got + 65536);
            }
            const std::size_t want = out.size() - got;
            const ssize_t r = ::read(file.fd.get(), out.data() + got, want);
            if (r < 0) {
                if (errno == EINTR) continue;
                out.clear();
                if (refusal) *refusal = OutsideRefusal::Unreadable;
                return false;
            }
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
            // A plain file reads short only at its end: no second call to be told so.
            if (static_cast<std::size_t>(r) < want) break;
        }
        if (got > max_size) {
            out.clear();
            if (refusal) *refusal = OutsideRefusal::TooLarge;
            return false;
        }
        out.resize(got);
    } catch (const std::bad_alloc&) {
        out.clear();
        if (refusal) *refusal = OutsideRefusal::TooLarge;
        return false;
    }
    return true;
}

OutsideFile open_outside(int folder_fd, const std::string& name, std::uint64_t max_size, bool one_name) {
    OutsideFile file;
    // Opened without waiting (a FIFO never hangs the open), looked at once, then made blocking:
    // the only status flag set at the open is O_NONBLOCK.
    const std::string at = folder_fd == AT_FDCWD ? platform::expand_drive_path(name) : name;
    file.fd.reset(::openat(folder_fd, at.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    struct stat st;
    if (file.fd && ::fstat(file.fd.get(), &st) != 0) file.fd.reset();
    if (file.fd && !S_ISREG(st.st_mode)) {
        file.fd.reset();
        errno = EINVAL;
    }
    if (file.fd && ::fcntl(file.fd.get(), F_SETFL, 0) != 0) file.fd.reset();
    if (!file.fd) {
        file.refusal = refusal_of(errno);
        return file;
    }
    file.size = static_cast<std::uint64_t>(st.st_size);
    if (one_name && st.st_nlink != 1) {
        file.fd.reset();
        file.refusal = OutsideRefusal::HardLinked;
        errno = EMLINK;
    } else if (file.size > max_size) {
        file.fd.reset();
        file.refusal = OutsideRefusal::TooLarge;
        errno = EFBIG;
    }
    return file;
}

}  // namespace

OutsideFile open_outside_file_at(int folder_fd, const std::string& name, std::uint64_t max_size) {
    return open_outside(folder_fd, name, max_size);
}

OutsideFile open_member_at(int folder_fd, const std::string& name, std::uint64_t max_size) {
    return open_outside(folder_fd, name, max_size, true);
}

std::optional<std::string> read_member_at(int folder_fd, const std::string& name, std::uint64_t max_size,
                                          OutsideRefusal* refusal) {
    std::string text;
    if (!read_all(folder_fd, name, max_size, text, refusal, true)) return std::nullopt;
    return text;
}

OutsideFile open_outside_file(const std::string& path, std::uint64_t max_size) {
    return open_outside_file_at(AT_FDCWD, path, max_size);
}

platform::UniqueFile open_outside_stream(const std::string& path, std::uint64_t max_size) {
    OutsideFile file = open_outside_file(path, max_size);
    if (!file) return nullptr;
    platform::UniqueFile stream(::fdopen(file.fd.get(), "rb"));
    if (stream) file.fd.release();  // the stream owns it now
    return stream;
}

bool read_outside_file(const std::string& path, std::uint64_t max_size, std::vector<std::uint8_t>& bytes,
                       OutsideRefusal* refusal) {
    return read_all(AT_FDCWD, path, max_size, bytes, refusal);
}

std::optional<std::string> read_outside_text(const std::string& path, std::uint64_t max_size, OutsideRefusal* refusal) {
    std::string text;
    if (!read_all(AT_FDCWD, path, max_size, text, refusal)) return std::nullopt;
    return text;
}

std::optional<std::string> read_outside_text_at(int folder_fd, const std::string& name, std::uint64_t max_size,
                                                OutsideRefusal* refusal) {
    std::string text;
    if (!read_all(folder_fd, name, max_size, text, refusal)) return std::nullopt;
    return text;
}

std::optional<std::string> read_outside_head(const std::string& path, std::size_t max_bytes, OutsideRefusal* refusal) {
    OutsideFile file = open_outside(AT_FDCWD, path, UINT64_MAX);
    if (refusal) *refusal = file.refusal;
    if (!file) return std::nullopt;
    try {
        std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(file.size, max_bytes)), '\0');
        std::size_t got = 0;
        while (got < max_bytes) {
            if (got == head.size()) head.resize(std::min(max_bytes, got + 65536));  // it grew since it was opened
            const ssize_t r = ::read(file.fd.get(), head.data() + got, head.size() - got);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                if (refusal) *refusal = OutsideRefusal::Unreadable;
                return std::nullopt;
            }
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
        }
        head.resize(got);
        return head;
    } catch (const std::bad_alloc&) {
        if (refusal) *refusal = OutsideRefusal::TooLarge;
        return std::nullopt;
    }
}

bool is_regular_file_no_link(const std::string& path) {
    struct stat st;
    const std::string p = platform::expand_drive_path(path);
    return !p.empty() && ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string outside_refusal_text(const std::string& path, OutsideRefusal refusal) {
    const std::string name = escape_control_chars(path);
    switch (refusal) {
        case OutsideRefusal::None: return {};
        case OutsideRefusal::Missing: return format_string("\"%s\" does not exist.", name.c_str());
        case OutsideRefusal::Link: return format_string("\"%s\" is a link, which is not followed.", name.c_str());
        case OutsideRefusal::NotRegular: return format_string("\"%s\" is not a plain file.", name.c_str());
        case OutsideRefusal::TooLarge: return format_string("\"%s\" is too large.", name.c_str());
        case OutsideRefusal::HardLinked:
            return format_string("\"%s\" has another name elsewhere, so it is not read.", name.c_str());
        case OutsideRefusal::Unreadable: break;
    }
    return format_string("\"%s\" cannot be read.", name.c_str());
}

platform::UniqueFd open_folder_no_link_at(int parent_fd, const std::string& name, OutsideRefusal* refusal) {
    if (refusal) *refusal = OutsideRefusal::None;
    platform::UniqueFd fd(::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd || !refusal) return fd;
    const int err = errno;
    struct stat st;
    if (err == ENOTDIR && ::fstatat(parent_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        *refusal = S_ISLNK(st.st_mode) ? OutsideRefusal::Link : OutsideRefusal::NotRegular;
    else
        *refusal = refusal_of(err);
    errno = err;
    return fd;
}

platform::UniqueFd open_folder_no_link(const std::string& path, OutsideRefusal* refusal) {
    if (path.empty()) {
        if (refusal) *refusal = OutsideRefusal::Missing;
        return {};
    }
    const auto [folder, name] = split_path(platform::expand_drive_path(path));
    if (name.empty() || name == "." || name == "..") {
        // The root or a path that ends in a step up: nothing of its own to be a link.
        if (refusal) *refusal = OutsideRefusal::None;
        platform::UniqueFd fd(::open(platform::expand_drive_path(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd && refusal) *refusal = refusal_of(errno);
        return fd;
    }
    const platform::UniqueFd parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) {
        if (refusal) *refusal = refusal_of(errno);
        return {};
    }
    return open_folder_no_link_at(parent.get(), name, refusal);
}

platform::UniqueFd create_new_file(const std::string& path, unsigned mode) {
    return platform::UniqueFd(::open(platform::expand_drive_path(path).c_str(),
                                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode)));
}

platform::UniqueFd create_new_file_at(int folder_fd, const std::string& name, unsigned mode) {
    return platform::UniqueFd(::openat(folder_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                       static_cast<mode_t>(mode)));
}

platform::UniqueFd open_plain_file_for_writing_at(int folder_fd, const std::string& name) {
    platform::UniqueFd fd(::openat(folder_fd, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return fd;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return {};
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::optional<std::vector<FolderEntry>> list_folder_at(int folder_fd) {
    platform::UniqueFd listing(::dup(folder_fd));
    if (!listing) return std::nullopt;
    ::fcntl(listing.get(), F_SETFD, FD_CLOEXEC);
    DIR* d = ::fdopendir(listing.get());
    if (!d) return std::nullopt;
    listing.release();  // the stream owns it now
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(d, &::closedir);
    ::rewinddir(d);
    std::vector<FolderEntry> entries;
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone meanwhile
            return std::nullopt;
        }
        FolderEntry f;
        f.name = name;
        f.folder = S_ISDIR(st.st_mode);
        f.regular = S_ISREG(st.st_mode);
        f.link = S_ISLNK(st.st_mode);
        f.size = static_cast<std::uint64_t>(st.st_size);
        f.mode = st.st_mode & 07777;
        entries.push_back(std::move(f));
        errno = 0;
    }
    if (errno != 0) return std::nullopt;
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<std::vector<FolderName>> list_folder_names_at(int folder_fd, bool rewind) {
    // getdents64 straight into a buffer: no second descriptor, no stream, no rewind of a fresh one.
    struct Dirent64 {
        std::uint64_t d_ino;
        std::int64_t d_off;
        unsigned short d_reclen;
        unsigned char d_type;
        char d_name[1];
    };
    if (rewind && ::lseek(folder_fd, 0, SEEK_SET) != 0) return std::nullopt;
    alignas(8) static thread_local char buffer[32768];
    std::vector<FolderName> out;
    for (;;) {
        const long got = ::syscall(SYS_getdents64, folder_fd, buffer, sizeof buffer);
        if (got < 0) return std::nullopt;
        if (got == 0) return out;
        for (long at = 0; at < got;) {
            const auto* d = reinterpret_cast<const Dirent64*>(buffer + at);
            at += d->d_reclen;
            const char* n = d->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
            FolderName e{n, EntryKind::Other, d->d_ino};
            switch (d->d_type) {
                case DT_DIR: e.kind = EntryKind::Folder; break;
                case DT_REG: e.kind = EntryKind::Regular; break;
                case DT_LNK: e.kind = EntryKind::Link; break;
                case DT_UNKNOWN:
                    e.kind = probe_entry_at(folder_fd, e.name).kind;
                    if (e.kind == EntryKind::Missing) continue;  // gone meanwhile
                    if (e.kind == EntryKind::Unknown) return std::nullopt;
                    break;
                default: break;
            }
            out.push_back(std::move(e));
        }
    }
}

namespace {
EntryState entry_state(int rc, const struct stat& st) {
    EntryState e;
    if (rc != 0) {
        e.kind = (errno == ENOENT || errno == ENOTDIR) ? EntryKind::Missing : EntryKind::Unknown;
        return e;
    }
    e.kind = S_ISDIR(st.st_mode)   ? EntryKind::Folder
             : S_ISREG(st.st_mode) ? EntryKind::Regular
             : S_ISLNK(st.st_mode) ? EntryKind::Link
                                   : EntryKind::Other;
    e.size = static_cast<std::uint64_t>(st.st_size);
    e.mode = st.st_mode & 07777;
    e.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    e.inode = static_cast<std::uint64_t>(st.st_ino);
    e.device = static_cast<std::uint64_t>(st.st_dev);
    e.owner = st.st_uid;
    e.group = st.st_gid;
    return e;
}
}  // namespace

EntryState probe_entry_at(int folder_fd, const std::string& name) {
    struct stat st;
    const int rc = ::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    return entry_state(rc, st);
}

EntryState probe_entry(const std::string& path) {
    struct stat st;
    const int rc = ::fstatat(AT_FDCWD, platform::expand_drive_path(path).c_str(), &st, AT_SYMLINK_NOFOLLOW);
    return entry_state(rc, st);
}

platform::UniqueFd open_log_for_append(const std::string& path, bool* created) {
    platform::SharedFile log =
        platform::open_shared_file_at(AT_FDCWD, platform::expand_drive_path(path), O_WRONLY | O_APPEND, true);
    if (created) *created = log.created;
    return std::move(log.fd);
}

platform::UniqueFd create_sibling_temp(const std::string& path, std::string& temp, unsigned mode) {
    const auto [folder, name] = split_path(platform::expand_drive_path(path));
    temp.clear();
    if (name.empty()) return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint64_t r = 0;
        if (::getrandom(&r, sizeof r, 0) != static_cast<ssize_t>(sizeof r))
            r = static_cast<std::uint64_t>(::getpid()) * 2654435761u + static_cast<std::uint64_t>(attempt);
        const std::string candidate = (folder == "/" ? std::string() : folder) + "/." + name.substr(0, 200) +
                                      format_string(".%012llx", static_cast<unsigned long long>(r & 0xFFFFFFFFFFFFull));
        platform::UniqueFd fd = create_new_file(candidate, mode);
        if (fd) {
            temp = candidate;
            return fd;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

namespace {

using RemovalFailed = std::function<void(const std::string& below, bool folder)>;

bool remove_tree_at(int parent_fd, const std::string& name, const std::string& below, const RemovalFailed& failed,
                    bool top);

// Removes what the open folder `fd` (`below` for `failed`) holds; false when something stays.
bool empty_folder_fd(int fd, const std::string& below, const RemovalFailed& failed) {
    const auto entries = list_folder_at(fd);
    if (!entries) return false;
    bool emptied = true;
    for (const FolderEntry& e : *entries) {
        const std::string path = below.empty() ? e.name : below + "/" + e.name;
        const bool gone = e.folder ? remove_tree_at(fd, e.name, path, failed, false)
                                   : ::unlinkat(fd, e.name.c_str(), 0) == 0 || errno == ENOENT;
        if (!gone && failed) failed(path, e.folder);
        emptied = emptied && gone;
    }
    return emptied;
}

bool remove_tree_at(int parent_fd, const std::string& name, const std::string& below, const RemovalFailed& failed,
                    bool top) {
    platform::UniqueFd fd(::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        // Below the top, a folder swapped for a link or file since it was listed goes as an entry.
        if (!top && (errno == ENOTDIR || errno == ELOOP))
            return ::unlinkat(parent_fd, name.c_str(), 0) == 0 || errno == ENOENT;
        return false;
    }
    if (!empty_folder_fd(fd.get(), below, failed)) return false;
    fd.reset();
    return ::unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) == 0 || (!top && errno == ENOENT);
}

}  // namespace

bool remove_folder_at(int parent_fd, const std::string& name, const RemovalFailed& failed) {
    return remove_tree_at(parent_fd, name, std::string(), failed, true);
}

bool empty_open_folder(int folder_fd, const RemovalFailed& failed) { return empty_folder_fd(folder_fd, {}, failed); }

std::optional<std::vector<FolderEntry>> list_names_at(int folder_fd, std::string_view prefix) {
    platform::UniqueFd listing(::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* d = listing ? ::fdopendir(listing.get()) : nullptr;
    if (!d) return std::nullopt;
    listing.release();  // the stream owns it now
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(d, &::closedir);
    std::vector<FolderEntry> entries;
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (!name.starts_with(prefix) || name == "." || name == "..") {
            errno = 0;
            continue;
        }
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(folder_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;  // gone meanwhile
                return std::nullopt;
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_FIFO;
        }
        FolderEntry f;
        f.name = name;
        f.folder = type == DT_DIR;
        f.regular = type == DT_REG;
        f.link = type == DT_LNK;
        entries.push_back(std::move(f));
        errno = 0;
    }
    if (errno != 0) return std::nullopt;
    return entries;
}

}  // namespace tv
