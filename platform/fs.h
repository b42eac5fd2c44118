// File-system helpers shared by every layer: case-insensitive lookup of known names,
// atomic replacement, appends that never leave a torn line, and whole-file locks.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"

struct stat;

namespace tv::platform {

// `path` without its trailing '/' characters; the root "/" stays as it is.
std::string strip_trailing_slashes(std::string path);

// ASCII-only, case-insensitive equality (bytes >= 0x80 compare exactly).
bool iequals(std::string_view a, std::string_view b);

// The entry of `folder` whose name equals `name` without regard to ASCII case; the exact
// spelling wins when several match, else the smallest name. Returns the full path, or nullopt
// when there is none or `name` is not a single plain component ("", ".", "..", '/').
std::optional<std::string> find_name_ci(const std::string& folder, std::string_view name);

// `path` with each missing component looked up case-insensitively in its parent. Components
// that exist as spelled are kept; when a component is found nowhere the rest is kept as given.
std::string resolve_path_ci(const std::string& path);

// Replaces `path` with `bytes` atomically and durably: writes a sibling temporary file, flushes
// it, renames it over the original and flushes the folder. Either the old or the new content
// remains; a replaced file keeps its mode and group (so every account that could write it still
// can), a new one gets 0666 less the umask and the folder's group. False when the content may not
// have reached the disk.
bool atomic_write_file(const std::string& path, std::string_view bytes);
// The same for `name` (one component) in the folder open as `folder_fd`: whatever the folder's
// path leads to by now, the file is replaced in that folder. `written`, when given, receives the
// written file's own status (taken from its descriptor, so never another file's; all zero when
// it could not be had), at no cost beyond the call that a replaced file's group check makes.
bool atomic_write_file_at(int folder_fd, const std::string& name, std::string_view bytes,
                          struct ::stat* written = nullptr);

// Renames `from` to `to` only when nothing, not even a link, has the name `to` (errno EEXIST
// then). A file system without RENAME_NOREPLACE (EINVAL, ENOSYS): a file is linked under the
// new name, which fails just the same on a taken one, and its old name removed; a folder is
// renamed after a look that the name is free, which leaves a narrow window.
bool rename_no_replace(const std::string& from, const std::string& to);
// The same for `from` in the folder open as `from_fd` and `to` in the folder open as `to_fd`
// (one component each): whatever the folders' names lead to now, the rename stays in them.
bool rename_no_replace_at(int from_fd, const std::string& from, int to_fd, const std::string& to);

// Flushes a folder's entries (new, renamed or removed names in it) to disk. False when the folder
// cannot be opened or the flush fails.
bool sync_folder(const std::string& folder);

// Appends `bytes` to `path` (created 0666 less the umask when missing; refused when it is a link,
// no plain file or a file with another name too, as open_shared_file_at does) and flushes it to disk
// (a new file's folder too) before returning true. When the file does not end with a line end
// (LF), CR LF is written first. A failed write or flush truncates the file back to its old length.
bool append_to_file(const std::string& path, std::string_view bytes);

// Whole transfers on a descriptor, retrying interrupted and short calls. False on any error;
// the positioned reads also fail when the file ends before `size` bytes.
bool write_all(int fd, const void* data, std::size_t size);
bool pwrite_all(int fd, const void* data, std::size_t size, std::uint64_t offset);
bool pread_all(int fd, void* data, std::size_t size, std::uint64_t offset);

// Opens `path` for reading only when it is a regular file: a FIFO or device never blocks the
// open, and with `follow_links` false a symbolic link is refused. Null when it cannot be opened.
UniqueFile open_regular_file(const std::string& path, bool follow_links);
// Opens `name` in the folder `folder_fd` (AT_FDCWD: `name` is a path) for reading only when it
// is a regular file reached without a link as its last step; a FIFO or device never blocks the
// open. Empty when it cannot be opened (errno ELOOP for a link, EINVAL for a file of another kind).
UniqueFd open_regular_at(int folder_fd, const std::string& name);

// True when no account but root can change the folder at the absolute path `folder` or where the
// path leads: every folder the path passes through, links followed, belongs to root and is
// writable by nobody else, except that a sticky folder on the way (/tmp) may be, since nobody can
// move root's entries out of it; every link on the way belongs to root; the folder itself is
// never sticky-writable. False for a relative path, a missing one, one that ends in a file, or
// more than 40 links.
bool only_root_can_change(const std::string& folder);

// Reads a whole regular file (a FIFO never holds the open, a pipe or device may never end: both
// are refused); nullopt on any error.
std::optional<std::string> read_whole_file(const std::string& path);
// The same into bytes for format code. False on any error, `bytes` then empty.
bool read_whole_file(const std::string& path, std::vector<std::uint8_t>& bytes);

// Why a file in a folder that others can write was not taken.
enum class SharedFileFault {
    None,
    Link,          // a symbolic link stands at its name
    NotRegular,    // a FIFO, device, socket or folder
    SeveralNames,  // a hard link: the same file has a name elsewhere too
};

// A file in a folder that others can write, as open_shared_file_at gives it.
struct SharedFile {
    UniqueFd fd;
    bool created = false;  // this call made it
    bool found = false;    // something stood at the name (also when it could not be opened)
    SharedFileFault fault = SharedFileFault::None;
    explicit operator bool() const { return static_cast<bool>(fd); }
};

// Opens `name` in the folder open as `folder_fd` (AT_FDCWD: the working folder) with `access`
// (O_RDONLY, O_WRONLY or O_RDWR, with O_APPEND if wanted) only when it is a regular file of one
// name and not a link; never blocks on a FIFO. With `create`, a missing file is made exclusively,
// `mode` less the umask. Empty on failure: `fault` says why it was refused (errno ELOOP, EINVAL or
// EMLINK), else errno is the open's own.
SharedFile open_shared_file_at(int folder_fd, const std::string& name, int access, bool create, unsigned mode = 0666);

// Why a lock could not be had.
enum class LockFailure {
    None,
    Busy,         // another holder kept it throughout
    NotWritable,  // the lock file exists but this account cannot open it for writing, or it is refused
                  // (a link, not a plain file, or a file with another name too: FileLock::file_fault)
    ReadOnly,     // the folder takes no new file (read-only file system, or no write access)
    Other,        // any other error
};

// An exclusive or shared lock on a whole file (open-file-description lock), held while the
// object lives. The file descriptor is close-on-exec, so a child never inherits the lock.
// The lock file is opened as open_shared_file_at opens it (never through a link, only a plain file
// of one name). One made here is 0666 less the umask and then takes its folder's group-write bit
// (whatever the umask), so that every account of a group-writable folder can lock it; a lock file
// that was already there is never changed.
class FileLock {
public:
    FileLock() = default;

    // Opens (creating it when missing) and locks `path`. With `wait` unset the call fails at once
    // when another holder has it.
    bool lock(const std::string& path, bool exclusive, bool wait);
    // The same, waiting at most `wait_ms` for another holder to let go; false after that.
    bool lock_within(const std::string& path, bool exclusive, int wait_ms);
    // lock_within for `name` in the folder open as `folder_fd`.
    bool lock_within_at(int folder_fd, const std::string& name, bool exclusive, int wait_ms);
    void unlock();
    bool held() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    // Why the last lock() or lock_within() failed; None while held.
    LockFailure failure() const { return failure_; }
    // Why the lock file itself was refused (failure() is then NotWritable); None otherwise.
    SharedFileFault file_fault() const { return fault_; }

private:
    bool take(int folder_fd, const std::string& name, bool exclusive, int wait_ms);

    UniqueFd fd_;
    LockFailure failure_ = LockFailure::None;
    SharedFileFault fault_ = SharedFileFault::None;
};

// Locks the whole of the open file `fd` (an open-file-description lock), waiting at most
// `wait_ms` for another holder (0: one try). Busy after that, Other on any other error.
LockFailure lock_open_file_within(int fd, bool exclusive, int wait_ms);

// Locks the folder open as `folder_fd` exclusively (a lock on the folder itself: it needs read
// access only and no file anyone could plant or hold, so every path, account and machine root to
// the folder meets the same lock), waiting at most `wait_ms` (0: one try). Held until the
// descriptor is closed. Busy after the wait, Other on any other error.
LockFailure lock_folder_within(int folder_fd, int wait_ms);
// Who holds that lock of the folder open as `folder_fd` ("vond, process 1234"); empty when it
// cannot be told (a process of another PID namespace, no /proc).
std::string folder_lock_holder(int folder_fd);

// Flushes the whole file system that holds `path` (file or folder) to disk. False when it cannot
// be opened or the flush fails.
bool sync_file_system(const std::string& path);

}  // namespace tv::platform
