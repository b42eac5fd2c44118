#include "platform/fs.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tv::platform {
namespace {

unsigned char ascii_lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

std::string join(const std::string& folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string out = folder;
    if (out.back() != '/') out += '/';
    out += name;
    return out;
}

bool exists_nofollow(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string unique_suffix() {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    char buf[64];
    std::snprintf(buf, sizeof buf, ".%ld.%u.%08x", static_cast<long>(::getpid()), counter.fetch_add(1), seed);
    return buf;
}

}  // namespace

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(static_cast<unsigned char>(a[i])) != ascii_lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::string> find_name_ci(const std::string& folder, std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::string exact = join(folder, name);
    if (exists_nofollow(exact)) return exact;

    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());  // glibc opens it close-on-exec
    if (!dir) return std::nullopt;
    std::optional<std::string> best;
    while (dirent* e = ::readdir(dir)) {
        std::string_view entry(e->d_name);
        // Several spellings of one name: take the smallest, so the answer does not depend on
        // the order the file system lists them in.
        if (iequals(entry, name) && (!best || entry < *best)) best = std::string(entry);
    }
    ::closedir(dir);
    if (!best) return std::nullopt;
    return join(folder, *best);
}

std::string resolve_path_ci(const std::string& path) {
    std::string out;
    std::size_t i = 0;
    while (i < path.size() && path[i] == '/') out += path[i++];
    while (i < path.size()) {
        std::size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        std::string comp = path.substr(i, end - i);
        std::string candidate = out + comp;
        if (comp != "." && comp != ".." && !exists_nofollow(candidate)) {
            std::string folder = out.empty() ? std::string(".") : out;
            auto found = find_name_ci(folder, comp);
            if (!found) return out + path.substr(i);
            candidate = out + found->substr(found->size() - comp.size());
        }
        out = candidate;
        // Keep the separators as given.
        while (end < path.size() && path[end] == '/') out += path[end++];
        i = end;
    }
    return out;
}

bool atomic_write_file(const std::string& path, std::string_view bytes) {
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return false;
    std::string tmp = join(slash == std::string::npos ? std::string() : folder, "." + name + ".tmp" + unique_suffix());

    mode_t mode = 0;
    struct stat st;
    bool had_original = ::stat(path.c_str(), &st) == 0;
    if (had_original) mode = st.st_mode & 07777;

    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes.data(), bytes.size());
    // A replaced file keeps its mode, so readers that had access keep it.
    if (ok && had_original) ok = ::fchmod(fd, mode) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // The new content is in place; a failing folder flush only weakens durability after a
    // power loss, so it does not turn the replacement into a failure.
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool append_to_file(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    const off_t old_size = st.st_size;
    std::string buf;
    if (old_size > 0) {
        char last = 0;
        ssize_t r;
        do r = ::pread(fd, &last, 1, old_size - 1); while (r < 0 && errno == EINTR);
        if (r != 1) {
            ::close(fd);
            return false;
        }
        if (last != '\n') buf = "\r\n";
    }
    buf.append(bytes.data(), bytes.size());
    bool ok = write_all(fd, buf.data(), buf.size());
    if (!ok) {
        int rc = ::ftruncate(fd, old_size);
        (void)rc;
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}

std::optional<std::string> read_whole_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (r == 0) break;
        out.append(buf, static_cast<std::size_t>(r));
    }
    ::close(fd);
    return out;
}

FileLock::~FileLock() { unlock(); }

FileLock::FileLock(FileLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }

FileLock& FileLock::operator=(FileLock&& o) noexcept {
    if (this != &o) {
        unlock();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

bool FileLock::lock(const std::string& path, bool exclusive, bool wait) {
    unlock();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && !exclusive && (errno == EACCES || errno == EROFS))
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // a shared lock needs read access only
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    int rc;
    do rc = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl); while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void FileLock::unlock() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing the last descriptor of the description releases the lock
        fd_ = -1;
    }
}

bool write_all(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = ::write(fd, p, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        p += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

bool pwrite_all(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = ::pwrite(fd, p, size, static_cast<off_t>(offset));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        offset += static_cast<std::uint64_t>(w);
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

bool pread_all(int fd, void* data, std::size_t size, std::uint64_t offset) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t r = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) {
            errno = EIO;  // the file is shorter than its size said
            return false;
        }
        p += r;
        offset += static_cast<std::uint64_t>(r);
        size -= static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace tv::platform
