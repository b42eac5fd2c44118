// The one way to open what others could have placed: anything inside an archive, a drop
// folder, a received or mailed file, a card, the temporary folder. A file is read only when it
// is a regular file whose last component is not a link (a link the user named is refused too:
// the name may have been swapped since it was chosen), opened non-blocking and then made
// blocking, so that a FIFO or device never hangs a run, and no larger than the caller allows.
// A report folder is opened relative to the folder that holds it and never through a link; its
// files relative to its descriptor. What we create in such places is created exclusively.
// Paths may carry a mapped card drive ("X:/..."). No call throws.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"

namespace tv {

// Why an outside file or folder was not opened.
// HardLinked: a file with more than one name, which may be another account's link to a file it
// cannot read itself.
enum class OutsideRefusal { None, Missing, Link, NotRegular, TooLarge, Unreadable, HardLinked };

// A file opened for reading with its size at the time it was opened.
struct OutsideFile {
    platform::UniqueFd fd;
    std::uint64_t size = 0;
    OutsideRefusal refusal = OutsideRefusal::None;
    explicit operator bool() const { return static_cast<bool>(fd); }
};

// Opens `path` for reading as described above; `max_size` bytes at most. Empty on failure,
// `refusal` then says why (errno: ENOENT, ELOOP, EINVAL, EFBIG or the open's own).
OutsideFile open_outside_file(const std::string& path, std::uint64_t max_size);
// The same for `name` inside the folder open as `folder_fd`.
OutsideFile open_outside_file_at(int folder_fd, const std::string& name, std::uint64_t max_size);
// open_outside_file_at that also refuses a file with more than one name (HardLinked, errno
// EMLINK): what lies in a folder others can write. Empty on failure.
OutsideFile open_member_at(int folder_fd, const std::string& name, std::uint64_t max_size);
// The whole of such a file, read as read_outside_file reads. nullopt on any failure.
std::optional<std::string> read_member_at(int folder_fd, const std::string& name, std::uint64_t max_size,
                                          OutsideRefusal* refusal = nullptr);
// open_outside_file as a stdio stream ("rb"). Null on failure.
platform::UniqueFile open_outside_stream(const std::string& path, std::uint64_t max_size);
// The whole file, read through open_outside_file; a file that grows past `max_size` while it is
// read is refused. False on any failure (`bytes` then empty); `refusal`, when given, says why.
bool read_outside_file(const std::string& path, std::uint64_t max_size, std::vector<std::uint8_t>& bytes,
                       OutsideRefusal* refusal = nullptr);
std::optional<std::string> read_outside_text(const std::string& path, std::uint64_t max_size,
                                             OutsideRefusal* refusal = nullptr);
// read_outside_text for `name` inside the folder open as `folder_fd`.
std::optional<std::string> read_outside_text_at(int folder_fd, const std::string& name, std::uint64_t max_size,
                                                OutsideRefusal* refusal = nullptr);
// The first `max_bytes` bytes of such a file of any size (all of a shorter one), for what is only
// shown in part. nullopt on failure, `refusal` then says why.
std::optional<std::string> read_outside_head(const std::string& path, std::size_t max_bytes,
                                             OutsideRefusal* refusal = nullptr);
// True when `path` names a regular file itself, never through a link (no link, FIFO, device or
// folder: nothing whose open could block or lead elsewhere).
bool is_regular_file_no_link(const std::string& path);
// The sentence that tells the user why `path` was not read; empty for None.
std::string outside_refusal_text(const std::string& path, OutsideRefusal refusal);

// Opens the folder `path` for reading relative to the folder that holds it, refusing a link as
// its last component (the folders above it are followed: the user chose them). Empty on failure;
// `refusal`, when given, says why (Link for a link, NotRegular for anything but a folder).
platform::UniqueFd open_folder_no_link(const std::string& path, OutsideRefusal* refusal = nullptr);
// The same for `name` inside the folder open as `parent_fd`.
platform::UniqueFd open_folder_no_link_at(int parent_fd, const std::string& name, OutsideRefusal* refusal = nullptr);

// Creates `path` for writing (and reading back) only when nothing, not even a link, has that name
// (O_CREAT|O_EXCL|O_NOFOLLOW), `mode` less the umask. Empty on failure (EEXIST when taken).
platform::UniqueFd create_new_file(const std::string& path, unsigned mode = 0666);

// The same inside the folder open as `folder_fd`; `name` is one component.
platform::UniqueFd create_new_file_at(int folder_fd, const std::string& name, unsigned mode = 0666);
// Opens the existing `name` inside the folder open as `folder_fd` for writing (and reading), only
// when it is a regular file reached without a link; a FIFO or device never blocks the open. Empty
// on failure (ELOOP for a link, EINVAL for a file of another kind).
platform::UniqueFd open_plain_file_for_writing_at(int folder_fd, const std::string& name);

// One entry of a folder as it stands, links not followed.
struct FolderEntry {
    std::string name;
    bool folder = false, regular = false, link = false;
    std::uint64_t size = 0;
    unsigned mode = 0;  // the permission bits
};
// The entries of the folder open as `folder_fd` ("." and ".." left out), sorted by name; nullopt
// when it cannot be listed.
std::optional<std::vector<FolderEntry>> list_folder_at(int folder_fd);

// What one name is as it stands, links not followed. Unknown when it cannot be told (a folder
// this account cannot search, an I/O error): a name that may be there is never taken for Missing.
enum class EntryKind { Missing, Folder, Regular, Link, Other, Unknown };
struct EntryState {
    EntryKind kind = EntryKind::Unknown;
    std::uint64_t size = 0;
    unsigned mode = 0;                    // the permission bits
    std::int64_t mtime_ns = 0;            // the last change of its contents
    std::uint64_t inode = 0, device = 0;  // its number, and the file system it lives on
    std::uint32_t owner = 0, group = 0;   // its account and group
    bool present() const { return kind != EntryKind::Missing && kind != EntryKind::Unknown; }
};
// `name` (one component) inside the folder open as `folder_fd`.
EntryState probe_entry_at(int folder_fd, const std::string& name);

// One entry of a folder as the folder's own listing tells it.
struct FolderName {
    std::string name;
    EntryKind kind = EntryKind::Unknown;  // never Missing or Unknown
    std::uint64_t inode = 0;
};
// The entries of the folder open as `folder_fd` ("." and ".." left out) in the order the folder
// keeps them, read in one pass: the kind comes from the listing, and only an entry whose kind the
// file system does not tell is looked at (never followed). The cheap walk of large folders. A
// descriptor read before must be rewound (`rewind`); a fresh one starts at the beginning.
// nullopt when it cannot be listed.
std::optional<std::vector<FolderName>> list_folder_names_at(int folder_fd, bool rewind = true);
// `path` itself: its last component is never followed, the folders above it are ("<link>/."
// therefore probes the folder a link leads to).
EntryState probe_entry(const std::string& path);

// Opens a log that lives where others can write (a drop folder) for appending: made with
// create_new_file when missing, else taken only when it is a regular file of one name, not a
// link, FIFO or a hard link to a file elsewhere. `created` says which. Empty on failure.
platform::UniqueFd open_log_for_append(const std::string& path, bool* created = nullptr);

// Creates a fresh hidden sibling of `path` as create_new_file does, for a file that is then
// renamed over `path` (a link there is replaced, never written through); `temp` receives its
// path. Empty on failure.
platform::UniqueFd create_sibling_temp(const std::string& path, std::string& temp, unsigned mode = 0666);

// Removes the folder `name` inside the folder open as `parent_fd` with all it holds, never
// following a link (a link is removed as a link); each entry that cannot go, or a folder that
// cannot be listed (unreadable is a failure), is named to `failed` by its path below `name`
// ("SUB/FILE") and whether it is a folder, and the rest goes on. True only when `name` is gone;
// false (errno: ENOTDIR or ELOOP for what is no folder or a link, else the failure's) otherwise.
bool remove_folder_at(int parent_fd, const std::string& name,
                      const std::function<void(const std::string& below, bool folder)>& failed = {});
// Removes everything the folder open as `folder_fd` holds, as remove_folder_at removes what lies
// below its top, naming each entry that stays to `failed`. True when the folder is empty.
bool empty_open_folder(int folder_fd, const std::function<void(const std::string& below, bool folder)>& failed = {});

// The entries of the folder open as `folder_fd` whose names begin with `prefix`, read once: the
// kind comes from the listing itself (a name is examined only where the file system does not
// say), so that a large folder costs no more than its listing; size and mode are not filled. In
// the order of the listing; nullopt when it cannot be listed.
std::optional<std::vector<FolderEntry>> list_names_at(int folder_fd, std::string_view prefix);

}  // namespace tv
