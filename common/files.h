// Files, folders and temporary files. Paths are native ('/' separated); where the system
// splits or joins paths, '/' plays the part of the Windows backslash. No call throws.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"

namespace tv {

inline constexpr char kPathSep = '/';
inline constexpr std::uint32_t kFindAny = 0x7FFF;
inline constexpr std::uint32_t kFindFiles = 0x7FEF;
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrFolder = 0x10;
inline constexpr std::uint32_t kAttrNormal = 0x80;

// Wildcard folder search: pattern "<folder>/<mask>" with '*' and '?' (matched without regard to
// ASCII case, as on the system's home ground). Names beginning with '.' are never returned.
class FileFinder {
public:
    FileFinder(const std::string& pattern, std::uint32_t mask);
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;

    void next();
    bool at_end() const;
    bool is_folder() const;
    std::string get_name() const;
    std::string get_path() const;   // folder prefix + name
    std::int64_t get_size() const;  // size of the current entry (0 for folders)
    bool is_symlink() const;        // the entry is a link (its attributes are those of its target)

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The plain files directly in one folder, for carrying its content elsewhere (a transfer file, a
// signed report, a stored copy): each read relative to the folder as it was opened, never
// through a link, never a FIFO, device or socket, never a file with a second name (a hard link
// another account made to a file it cannot read), and never two names that differ only in ASCII
// case (the places they go to do not tell them apart). Sub-folders are passed over.
class FolderFiles {
public:
    // Opens `folder` and lists its names that match `mask` (as FileFinder matches; names beginning
    // with '.' and the name `skip` exactly never). The folder is opened relative to the one that
    // holds it and never through a link. False when the folder cannot be read, or when it or an
    // entry stops it: the folder a link, an entry a link (to a file or a folder), a special file,
    // a file of more than one name, or a name that differs from another only in case; blocker()
    // then names it (the folder's path when the folder is the link). Nothing is listed after a
    // failure.
    bool read(const std::string& folder, const std::string& mask = "*", std::string_view skip = {});
    // The names listed, sorted by their bytes.
    const std::vector<std::string>& names() const { return names_; }
    // The entry that stopped read(); empty when none did.
    const std::string& blocker() const { return blocker_; }
    // The sentence that tells the user why the folder cannot be `action` ("packed", "signed"),
    // naming the entry; empty when no entry stopped read().
    std::string refusal(const char* action) const;
    // Opens a listed name for reading as platform::open_regular_at does, so that an entry
    // replaced since read() by a link or a special file is refused too. Empty on failure.
    platform::UniqueFd open(const std::string& name) const;
    // copy_file_replacing from the file open() gives.
    bool copy(const std::string& name, const std::string& target) const;
    // The listed name copied into the folder open as `folder_fd` under the same name, created there
    // exclusively (copy_fd_into).
    bool copy_into(const std::string& name, int folder_fd) const;

private:
    platform::UniqueFd folder_;
    std::vector<std::string> names_;
    std::string blocker_, twin_;
    bool folder_link_ = false, hard_linked_ = false;
};

// True when both paths lead (links followed) to one file or folder: one device, one inode.
bool is_same_entry(const std::string& a, const std::string& b);
bool file_exists(const std::string& path);  // anything but a folder, links followed
bool folder_exists(const std::string& path);
bool is_valid_name_char(char c);
bool is_valid_file_name(const std::string& name);
// A name that may safely become one path component: valid, not empty, not "." or "..".
bool is_safe_path_component(const std::string& name);
// A text (a report's or a window's name) made one safe path component, whole: each character
// that is_safe_path_component refuses becomes '_', trailing blanks and dots go, and a name that
// would be empty or start with a dot gets a '_' in front. The bytes are kept as they are.
std::string file_name_from_text(const std::string& text);
// Longest name of one path component, in bytes.
inline constexpr std::size_t kFileNameMax = 255;
// "<stem><suffix>" within `limit` bytes: the stem (the file system's bytes) shortened at a UTF-8
// character boundary, and its trailing blanks dropped after a cut. The suffix is kept whole.
std::string fitted_file_name(std::string_view stem, std::string_view suffix, std::size_t limit = kFileNameMax);
// The n-th name of a series: "<stem><ext>" for 0, else "<stem> (<n>)<ext>", fitted to `limit`, so
// that long names stay apart by their serial.
std::string serial_file_name(std::string_view stem, std::string_view ext, int n, std::size_t limit = kFileNameMax);
// The first name of that series that is not in `folder` (as a path).
std::string free_file_path(const std::string& folder, std::string_view stem, std::string_view ext,
                           std::size_t limit = kFileNameMax);
// Gives the file `from` the first free name of that series in `folder`, never replacing a file,
// not even one another process makes meanwhile. The path it took; "" when it could not be moved
// (`from` is left as it was).
std::string move_to_free_name(const std::string& from, const std::string& folder, std::string_view stem,
                              std::string_view ext);
// Size of a file; -1 when it cannot be opened. Sizes above 0x7FFFFFFF are clamped.
std::int32_t get_file_size(const std::string& path);
std::int64_t get_file_size_64(const std::string& path);
bool set_read_only(const std::string& path);
bool clear_read_only(const std::string& path);
bool is_read_only(const std::string& path);

std::string get_path_folder(const std::string& path);
std::string get_path_folder_slash(const std::string& path);
// The folder that holds the path's last component, and that component, for opening it relative to
// the folder: trailing '/' dropped first, "." for a path without '/', "/" for one right under the
// root ("a/b/" -> "a", "b"; "b" -> ".", "b"; "/b" -> "/", "b").
struct PathParts {
    std::string folder;
    std::string name;
};
PathParts split_path(const std::string& path);
// What follows the last separator of `path` (all of it without one). A name taken from stored
// settings may be written with Windows separators: WindowsToo cuts at '\\' as well.
enum class PathSeparators { Slash, WindowsToo };
std::string get_path_file_name(const std::string& path, PathSeparators separators = PathSeparators::Slash);
std::string get_extension_upper(const std::string& path);
std::string trim_right_char(std::string text, char c);
// Joins folder and name with one separator.
std::string join_path(const std::string& folder, const std::string& name);

// 0 floppy, 1 other, 2 removable, 3 network.
int classify_drive(const std::string& path);
std::uint64_t get_disk_free_bytes(const std::string& path);

bool force_delete_file(const std::string& path);
// Copies a plain file (never through a link as its last step, never a FIFO or device) over
// `target` through a temporary sibling and rename.
bool copy_file_replacing(const std::string& source, const std::string& target, std::string* status = nullptr);

// Copies the plain file open as `in` into a new file `name` of the folder open as `folder_fd`,
// created exclusively (never over a name that exists, not even a link), with the source's
// modification time, durably. False on failure, with nothing of it left.
bool copy_fd_into(platform::UniqueFd in, int folder_fd, const std::string& name);

// Result of a copy or move of a set of files.
enum class FileSetResult { AllDone, Failed };
FileSetResult copy_matching_files(const std::string& pattern, const std::string& folder, std::string* status = nullptr);
std::int64_t sum_file_sizes(const std::string& pattern);
bool delete_files_in_folder(const std::string& folder);
std::int32_t get_folder_size(const std::string& folder, bool recurse);
std::int64_t get_folder_size_64(const std::string& folder, bool recurse);
bool create_folder_path(const std::string& path);
// XOR of the little-endian words from the current position to the end; 0xFFFFFFFF on error.
std::uint32_t file_xor_checksum(std::FILE* file);
// A name of the time now, base + `extension`, that names nothing in `folder`; with `twin` given,
// base + `twin` must name nothing either (a report whose folder is renamed to it later). With
// `listed` given, a name it takes for listed (an index entry whose folder is gone) is not free.
std::string make_unique_file_name(const std::string& folder, const std::string& extension, const std::string& twin = {},
                                  const std::function<bool(const std::string&)>& listed = {});
// Deletes every entry of the folder (hidden names too; links as links, never followed) and, with
// recurse, its sub-folders, then the folder itself unless it is a drive root. `blocker`, when
// given, receives the entry that stopped it.
bool delete_folder_tree(const std::string& folder, bool recurse, bool clear_attributes, std::string* blocker = nullptr);

// Full path of the running program (/proc/self/exe) and its folder.
std::string get_module_path();
std::string get_module_folder();

std::string get_temp_folder();
std::string get_temp_file_name();
// A fresh, empty folder of its own in the temporary folder, with a trailing '/'; empty on failure.
// Its name, "TV-<pid>-" and a random part (then "." and the extension), tells whose it is.
std::string create_temp_folder();
std::string create_temp_folder(const std::string& extension);
// Deletes the folders of that form that this user's processes made and left when they ended
// without cleaning up (killed, or ended by a signal). A folder whose process still runs, any other
// name, a link and another user's folder are left alone. The number deleted.
int remove_stale_temp_folders();

// A fresh folder of its own in the temporary folder (create_temp_folder), deleted with all it holds
// when it goes out of scope. path() is empty when it could not be made (errno then says why).
class TempFolder {
public:
    TempFolder() : path_(create_temp_folder()) {}
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Deletes a folder when it goes out of scope.
class FolderRemover {
public:
    FolderRemover(std::string folder, bool recurse, bool clear_attributes)
        : folder_(std::move(folder)), recurse_(recurse), clear_(clear_attributes) {}
    ~FolderRemover();
    FolderRemover(const FolderRemover&) = delete;
    FolderRemover& operator=(const FolderRemover&) = delete;
    void release() { folder_.clear(); }

private:
    std::string folder_;
    bool recurse_, clear_;
};

}  // namespace tv
