#include "platform/fs.h"
#include "platform/ascii.h"
#include "platform/process_owner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <random>
#include <csignal>
#include <ctime>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace tv::platform {
namespace {

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
    // The owner's token first, so that a later holder of the folder's lock can tell a
    // leftover of a killed writer from a file still being written.
    std::snprintf(buf, sizeof buf, ".%u.%08x", counter.fetch_add(1), seed);
    return "." + own_process_token() + buf;
}

}  // namespace

std::string strip_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
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

bool rename_no_replace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(from.c_str(), to.c_str()) != 0) return false;
        ::unlink(from.c_str());
        return true;
    }
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool rename_no_replace_at(int from_fd, const std::string& from, int to_fd, const std::string& to) {
    if (::renameat2(from_fd, from.c_str(), to_fd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (::fstatat(to_fd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) return false;
    return ::renameat(from_fd, from.c_str(), to_fd, to.c_str()) == 0;
}

bool sync_folder(const std::string& folder) {
    UniqueFd dfd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dfd && ::fsync(dfd.get()) == 0;
}

namespace {

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

bool atomic_write_file_at(int folder_fd, const std::string& name, std::string_view bytes, struct ::stat* written) {
    if (name.empty() || name.find('/') != std::string::npos) return false;
    const std::string tmp = "." + name + ".tmp" + unique_suffix();

    // A link at the name is replaced, and what it leads to lends the new file nothing.
    struct stat st;
    const bool had_original = ::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);

    UniqueFd fd(::openat(folder_fd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return false;
    bool ok = write_all(fd.get(), bytes.data(), bytes.size());
    // Seen once all is written: neither the owner, mode and flush below nor the rename changes
    // its contents' time, size or number.
    struct stat now {};
    const bool seen = ok && (had_original || written) && ::fstat(fd.get(), &now) == 0;
    if (written) *written = seen ? now : decltype(now){};
    if (ok && had_original) {
        // The replacement is the same file to everyone who could use the old one: its group
        // first (a group change may clear set-id bits), then its mode. Another account's file
        // may carry a group this account is not in; it then keeps the folder's.
        if (seen && now.st_gid != st.st_gid) (void)::fchown(fd.get(), -1, st.st_gid);
        ok = ::fchmod(fd.get(), st.st_mode & 07777) == 0;
    }
    if (ok) ok = ::fsync(fd.get()) == 0;
    if (!fd.close()) ok = false;
    if (ok) ok = ::renameat(folder_fd, tmp.c_str(), folder_fd, name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(folder_fd, tmp.c_str(), 0);
        return false;
    }
    // Until the folder is flushed a power cut may bring the old file back.
    return ::fsync(folder_fd) == 0;
}

bool atomic_write_file(const std::string& path, std::string_view bytes) {
    const std::size_t slash = path.rfind('/');
    const UniqueFd folder(::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder &&
           atomic_write_file_at(folder.get(), slash == std::string::npos ? path : path.substr(slash + 1), bytes);
}

bool append_to_file(const std::string& path, std::string_view bytes) {
    const std::size_t slash = path.rfind('/');
    const UniqueFd folder(::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return false;
    // Never through a link, and never into a second name of a file kept elsewhere.
    SharedFile file = open_shared_file_at(folder.get(), slash == std::string::npos ? path : path.substr(slash + 1),
                                          O_RDWR | O_APPEND, true);
    UniqueFd fd = std::move(file.fd);
    if (!fd) return false;
    const bool existed = !file.created;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return false;
    const off_t old_size = st.st_size;
    std::string buf;
    if (old_size > 0) {
        char last = 0;
        ssize_t r;
        do r = ::pread(fd.get(), &last, 1, old_size - 1);
        while (r < 0 && errno == EINTR);
        if (r != 1) return false;
        if (last != '\n') buf = "\r\n";
    }
    buf.append(bytes.data(), bytes.size());
    bool ok = write_all(fd.get(), buf.data(), buf.size()) && ::fsync(fd.get()) == 0;
    if (!ok) {
        int rc = ::ftruncate(fd.get(), old_size);
        (void)rc;
    }
    if (!fd.close()) ok = false;
    if (ok && !existed) ok = ::fsync(folder.get()) == 0;
    return ok;
}

namespace {

// The one whole-file reader behind both forms: reads straight into `out` until the end of the
// file, sized up front from the file's size (one byte more, so that the end shows without
// growing the buffer). False on any error, running out of memory included; `out` is then empty.
template <class Bytes>
bool read_all(const std::string& path, Bytes& out, bool regular_only) {
    constexpr std::size_t kChunk = 65536;
    out.clear();
    // Non-blocking at first, so that a FIFO never holds the open.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0)));
    if (!fd) return false;
    struct stat st;
    const bool regular = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
    if (regular_only && !regular) return false;
    if (regular_only) ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    try {
        out.resize(regular && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : kChunk);
        std::size_t got = 0;
        for (;;) {
            if (got == out.size()) out.resize(got + kChunk);
            const ssize_t r = ::read(fd.get(), out.data() + got, out.size() - got);
            if (r < 0) {
                if (errno == EINTR) continue;
                out.clear();
                return false;
            }
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
        }
        out.resize(got);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace

namespace {

UniqueFd open_regular(int folder_fd, const std::string& name, bool follow_links) {
    UniqueFd fd(::openat(folder_fd, name.c_str(),
                         O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (follow_links ? 0 : O_NOFOLLOW)));
    if (!fd) return fd;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return {};
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return {};
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

}  // namespace

UniqueFd open_regular_at(int folder_fd, const std::string& name) { return open_regular(folder_fd, name, false); }

SharedFile open_shared_file_at(int folder_fd, const std::string& name, int access, bool create, unsigned mode) {
    SharedFile out;
    const int flags = access | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    auto refuse = [&out](SharedFileFault fault, int err) {
        out.fd.reset();
        out.fault = fault;
        errno = err;
        return std::move(out);
    };
    struct stat st;
    for (int attempt = 0; attempt < 4; ++attempt) {
        // What stands there is looked at before it is opened, so that a device is never opened.
        if (::fstatat(folder_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            out.found = true;
            if (S_ISLNK(st.st_mode)) return refuse(SharedFileFault::Link, ELOOP);
            if (!S_ISREG(st.st_mode)) return refuse(SharedFileFault::NotRegular, EINVAL);
            out.fd.reset(::openat(folder_fd, name.c_str(), flags));
        } else if (errno == ENOENT && create) {
            out.fd.reset(::openat(folder_fd, name.c_str(), flags | O_CREAT | O_EXCL, static_cast<mode_t>(mode)));
            out.created = static_cast<bool>(out.fd);
            if (!out.fd && errno == EEXIST) continue;  // made by another meanwhile: look again
        }
        // Swapped for something else between the look and the open.
        if (!out.fd && (errno == ENOENT || errno == EEXIST) && out.found) continue;
        break;
    }
    if (!out.fd) {
        if (errno == ELOOP) return refuse(SharedFileFault::Link, ELOOP);
        if (errno == ENXIO) return refuse(SharedFileFault::NotRegular, EINVAL);  // a FIFO nobody reads
        return out;
    }
    if (::fstat(out.fd.get(), &st) != 0) return refuse(SharedFileFault::None, errno);
    if (!S_ISREG(st.st_mode)) return refuse(SharedFileFault::NotRegular, EINVAL);
    if (st.st_nlink != 1) return refuse(SharedFileFault::SeveralNames, EMLINK);
    const int now = ::fcntl(out.fd.get(), F_GETFL);
    if (now >= 0) ::fcntl(out.fd.get(), F_SETFL, now & ~O_NONBLOCK);
    return out;
}

UniqueFile open_regular_file(const std::string& path, bool follow_links) {
    UniqueFd fd = open_regular(AT_FDCWD, path, follow_links);
    if (!fd) return nullptr;
    UniqueFile f(::fdopen(fd.get(), "r"));
    if (f) fd.release();  // the stream owns it now
    return f;
}

std::optional<std::string> read_whole_file(const std::string& path) {
    std::string out;
    if (!read_all(path, out, true)) return std::nullopt;
    return out;
}

bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes) { return read_all(path, bytes, true); }

namespace {

// The folder's group-write bit on a lock file this run made, so that the umask of whoever came
// first does not lock the rest of the group out. Read access goes with it.
void share_with_folder_group(int fd, int folder_fd) {
    struct stat file_st, folder_st;
    if (::fstat(fd, &file_st) != 0 || ::fstat(folder_fd, &folder_st) != 0) return;
    const mode_t group_bits = folder_st.st_mode & S_IWGRP ? (S_IRGRP | S_IWGRP) : 0;
    const mode_t wanted = (file_st.st_mode & 07777 & ~S_IWGRP) | group_bits;
    if (wanted != (file_st.st_mode & 07777)) (void)::fchmod(fd, wanted);
}

// Opens the lock file, creating it for every account that may share the folder.
UniqueFd open_lock_file(int folder_fd, const std::string& name, bool exclusive, LockFailure& failure,
                        SharedFileFault& fault) {
    SharedFile file = open_shared_file_at(folder_fd, name, O_RDWR, true);
    if (file) {
        if (file.created) share_with_folder_group(file.fd.get(), folder_fd);
        return std::move(file.fd);
    }
    int err = errno;
    if (file.fault == SharedFileFault::None && (err == EACCES || err == EROFS || err == EPERM) && !exclusive) {
        // A shared lock needs read access only.
        SharedFile readable = open_shared_file_at(folder_fd, name, O_RDONLY, false);
        if (readable) return std::move(readable.fd);
        if (readable.fault != SharedFileFault::None) file = std::move(readable);
        err = errno;
    }
    fault = file.fault;
    if (fault != SharedFileFault::None)
        failure = LockFailure::NotWritable;
    else if (err == EACCES || err == EROFS || err == EPERM)
        failure = err == EROFS || !file.found ? LockFailure::ReadOnly : LockFailure::NotWritable;
    else
        failure = LockFailure::Other;
    errno = err;
    return {};
}

// One blocking attempt: false with errno EINTR when a signal ended the wait.
bool try_lock_once(int fd, bool exclusive) {
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    return ::fcntl(fd, F_OFD_SETLKW, &fl) == 0;
}

bool try_lock(int fd, bool exclusive, bool wait) {
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    int rc;
    do rc = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void wake_lock_waiter(int) {}

// The signal that ends a bounded lock wait: its handler does nothing and is installed without
// SA_RESTART, so the blocked fcntl returns EINTR.
int lock_wait_signal() {
    static const int signal_number = [] {
        const int sig = SIGRTMIN + 3;
        struct sigaction sa {};
        sa.sa_handler = wake_lock_waiter;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
        return sig;
    }();
    return signal_number;
}

}  // namespace

namespace {

// One try by `attempt(false)`, then, for up to `wait_ms`, blocking tries by `attempt(true)` (each
// false with errno EINTR when a signal ended its wait).
template <typename Attempt>
LockFailure bounded_lock_wait(Attempt attempt, int wait_ms) {
    if (attempt(false)) return LockFailure::None;
    if (errno != EAGAIN && errno != EACCES && errno != EWOULDBLOCK) return LockFailure::Other;
    if (wait_ms <= 0) return LockFailure::Busy;
    // A blocking wait queues in the kernel, so a holder that takes the lock again at once cannot
    // keep this waiter out as it could a poller. A timer of this thread's, repeating so that a
    // tick just before the wait began cannot be lost, ends it at the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    struct sigevent sev {};
    sev.sigev_notify = SIGEV_THREAD_ID;
    sev.sigev_signo = lock_wait_signal();
    sev._sigev_un._tid = static_cast<pid_t>(::gettid());  // sigev_notify_thread_id, which glibc 2.36 lacks
    timer_t timer;
    if (::timer_create(CLOCK_MONOTONIC, &sev, &timer) != 0) return LockFailure::Other;
    struct itimerspec tick {};
    tick.it_value.tv_nsec = 20 * 1000 * 1000;
    tick.it_interval.tv_nsec = 20 * 1000 * 1000;
    ::timer_settime(timer, 0, &tick, nullptr);
    LockFailure result = LockFailure::Busy;
    for (;;) {
        if (attempt(true)) {
            result = LockFailure::None;
            break;
        }
        if (errno != EINTR) {
            result = errno == EDEADLK || errno == EAGAIN || errno == EACCES ? LockFailure::Busy : LockFailure::Other;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    ::timer_delete(timer);
    return result;
}

}  // namespace

LockFailure lock_open_file_within(int fd, bool exclusive, int wait_ms) {
    return bounded_lock_wait(
        [&](bool wait) { return wait ? try_lock_once(fd, exclusive) : try_lock(fd, exclusive, false); }, wait_ms);
}

LockFailure lock_folder_within(int folder_fd, int wait_ms) {
    return bounded_lock_wait(
        [&](bool wait) {
            if (wait) return ::flock(folder_fd, LOCK_EX) == 0;
            int rc;
            do rc = ::flock(folder_fd, LOCK_EX | LOCK_NB);
            while (rc != 0 && errno == EINTR);
            return rc == 0;
        },
        wait_ms);
}

std::string folder_lock_holder(int folder_fd) {
    struct stat st {};
    if (::fstat(folder_fd, &st) != 0) return {};
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF": the device in hex, the inode in decimal.
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", ::major(st.st_dev), ::minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    const auto locks = read_whole_file("/proc/locks");
    if (!locks) return {};
    const std::string& text = *locks;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        char kind[16] = {}, rw[16] = {}, where[64] = {};
        long pid = 0;
        if (line.find("->") != std::string::npos ||
            std::sscanf(line.c_str(), "%*[^:]: %15s %*s %15s %ld %63s", kind, rw, &pid, where) != 4)
            continue;
        if (std::string(kind) != "FLOCK" || std::string(where) != id || pid <= 0) continue;
        std::string comm = read_whole_file("/proc/" + std::to_string(pid) + "/comm").value_or("");
        while (!comm.empty() && (comm.back() == '\n' || comm.back() == ' ')) comm.pop_back();
        return (comm.empty() ? std::string("a program") : comm) + ", process " + std::to_string(pid);
    }
    return {};
}

bool sync_file_system(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    return fd && ::syncfs(fd.get()) == 0;
}

bool FileLock::take(int folder_fd, const std::string& name, bool exclusive, int wait_ms) {
    unlock();
    UniqueFd fd = open_lock_file(folder_fd, name, exclusive, failure_, fault_);
    if (!fd) return false;
    if (wait_ms < 0) {
        if (!try_lock(fd.get(), exclusive, true)) {
            failure_ = errno == EAGAIN || errno == EACCES ? LockFailure::Busy : LockFailure::Other;
            return false;
        }
    } else if ((failure_ = lock_open_file_within(fd.get(), exclusive, wait_ms)) != LockFailure::None) {
        return false;
    }
    fd_ = std::move(fd);
    return true;
}

namespace {

// The folder of a lock path, for the lock to be opened relative to it. Empty with `failure` set
// when it cannot be opened.
UniqueFd open_lock_folder(const std::string& path, std::string& name, LockFailure& failure) {
    const std::size_t slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    UniqueFd folder(::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) failure = errno == EACCES || errno == EROFS ? LockFailure::ReadOnly : LockFailure::Other;
    return folder;
}

}  // namespace

bool FileLock::lock(const std::string& path, bool exclusive, bool wait) {
    unlock();
    std::string name;
    const UniqueFd folder = open_lock_folder(path, name, failure_);
    return folder && take(folder.get(), name, exclusive, wait ? -1 : 0);
}

bool FileLock::lock_within(const std::string& path, bool exclusive, int wait_ms) {
    unlock();
    std::string name;
    const UniqueFd folder = open_lock_folder(path, name, failure_);
    return folder && take(folder.get(), name, exclusive, wait_ms < 0 ? 0 : wait_ms);
}

bool FileLock::lock_within_at(int folder_fd, const std::string& name, bool exclusive, int wait_ms) {
    unlock();
    return take(folder_fd, name, exclusive, wait_ms < 0 ? 0 : wait_ms);
}

// Closing the last descriptor of the description releases the lock.
void FileLock::unlock() {
    fd_.reset();
    failure_ = LockFailure::None;
    fault_ = SharedFileFault::None;
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

namespace {

bool root_only_folder(const struct stat& st, bool may_be_sticky) {
    if (!S_ISDIR(st.st_mode) || st.st_uid != 0) return false;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
    return may_be_sticky && (st.st_mode & S_ISVTX) != 0;
}

// The components of a path, in order; "" and "." left out.
std::vector<std::string> path_components(std::string_view path) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, slash - at);
        if (!part.empty() && part != ".") out.emplace_back(part);
        at = slash + 1;
    }
    return out;
}

}  // namespace

bool only_root_can_change(const std::string& folder) {
    if (folder.empty() || folder.front() != '/') return false;
    constexpr int kMaxLinks = 40;
    int links = 0;
    std::vector<std::string> pending = path_components(folder);
    std::reverse(pending.begin(), pending.end());  // the next component at the back
    struct stat st;
    std::string at = "/";
    if (::lstat("/", &st) != 0 || !root_only_folder(st, !pending.empty())) return false;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == "..") {
            // `at` holds no link, so its parent is the one the walk came through.
            const std::size_t slash = at.find_last_of('/');
            at = slash == 0 ? "/" : at.substr(0, slash);
            continue;
        }
        const std::string next = at == "/" ? "/" + name : at + "/" + name;
        if (::lstat(next.c_str(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode)) {
            if (st.st_uid != 0 || ++links > kMaxLinks) return false;
            std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
            const ssize_t n = ::readlink(next.c_str(), target.data(), target.size());
            if (n <= 0 || static_cast<std::size_t>(n) > target.size()) return false;
            target.resize(static_cast<std::size_t>(n));
            std::vector<std::string> parts = path_components(target);
            for (auto it = parts.rbegin(); it != parts.rend(); ++it) pending.push_back(std::move(*it));
            // Not `at = "/"`: GCC 12 at -O3 takes that for an overlapping copy (GCC bug 105329).
            if (target.front() == '/') at.assign(1, '/');
            continue;
        }
        if (!root_only_folder(st, !pending.empty())) return false;
        at = next;
    }
    return true;
}

}  // namespace tv::platform
