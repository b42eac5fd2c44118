// Folder and file services of the archive checks. Names are found without regard to case and
// paths are built from the spelling on disk; symbolic links are never followed (a link is
// neither a folder nor a report here), so nothing outside the group folder is read or changed.
#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/folder_judgement.h"
#include "common/safe_open.h"
#include "platform/handles.h"

namespace tv {
class ArchiveIndexLock;
}  // namespace tv

namespace tv::brackmor {

class Reporter;

// A name from an index that may be used as a folder name: one component, no separator, drive,
// wildcard or control character, not "." or "..".
bool is_safe_name(std::string_view name);

// A folder's identity as it was judged: the file system and the number of the entry.
struct FolderId {
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FolderId&) const = default;
};

// The names in one folder, read once, for many case-insensitive look-ups (a report folder's
// files, an archive's report folders). A folder that cannot be read holds no names, and
// judgement() says whether that means it is missing or that this account cannot tell. The kind
// of each entry is the listing's own; nothing in the folder is looked at.
class FolderNames {
public:
    FolderNames() = default;
    // The folder the user named; a link to it is followed. Held open.
    explicit FolderNames(const std::string& folder);
    // `name` in the folder open as `parent_fd`, never through a link; `path` names it. Held open
    // with `keep_open` (fd()).
    FolderNames(int parent_fd, const std::string& name, std::string path, bool keep_open);
    // A sub-folder of an open folder (never through a link); no names when it is not a folder.
    // Not held open: thousands of these may be kept.
    FolderNames(const FolderNames& parent, const std::string& child);
    const std::string& folder() const { return folder_; }
    const FolderJudgement& judgement() const { return judgement_; }
    // The open folder; -1 when it is not held open.
    int fd() const { return fd_ ? fd_.get() : -1; }
    // Lists the folder again (held open only).
    void reread();
    // The folder's own identity; zero when it was not held open.
    const FolderId& id() const { return id_; }
    // The identity of the entry `name` (as spelt on disk) as listed; nullopt when not listed.
    std::optional<FolderId> id_of(const std::string& name) const;
    // The on-disk name of `name` in any case, the exact spelling first, else the smallest.
    std::optional<std::string> find(std::string_view name) const;
    // The same, only for an entry that is a real folder (not a link).
    std::optional<std::string> find_folder(std::string_view name) const;
    // The same, only for a symbolic link (to anything).
    std::optional<std::string> find_link(std::string_view name) const;
    // The real sub-folders not beginning with '.', in upper-cased name order.
    std::vector<std::string> subfolders() const;
    // The links not beginning with '.', in the same order.
    std::vector<std::string> links() const;
    // The real sub-folders that begin with '.', in the same order.
    std::vector<std::string> hidden_subfolders() const;
    // The names of the plain files (links and folders passed over), hidden ones included.
    std::vector<std::string> files() const;
    // True when every entry is a plain file whose name `allowed` accepts.
    bool holds_only(bool (*allowed)(std::string_view name)) const;
    // The names of every such sub-folder, by its name on disk.
    std::unordered_map<std::string, FolderNames> read_subfolders() const;

private:
    struct Entry {
        std::string name;
        EntryKind kind;
        std::uint64_t inode;
    };
    // The entry of `name` in any case (exact spelling first) of `kind`, any kind when unset.
    const Entry* lookup(std::string_view name, std::optional<EntryKind> kind) const;
    std::vector<std::string> names_of(EntryKind kind, bool hidden) const;
    void read_entries(bool fresh);
    void take_id();

    std::string folder_;
    platform::UniqueFd fd_;
    FolderId id_;
    FolderJudgement judgement_;
    std::vector<std::pair<std::string, Entry>> entries_;  // by upper-cased name, then name
};
// True for the files of an archive's index: ARCHINFO.DAT and its generations, the lock file and
// what an interrupted rewrite left (any case).
bool is_index_file_name(std::string_view name);

// The sum of the sizes of the regular files directly in the folder open as `folder_fd`, held at
// 2,147,483,647 since the index is read as a 32-bit number.
std::int32_t folder_file_size(int folder_fd);

// "dd/mm/yy hh:mm:ss" of a local time.
std::string date_text(std::time_t time);
std::string now_text();
// The last-write time of `name` in the folder open as `folder_fd` in that form; nullopt when it
// cannot be read.
std::optional<std::string> modified_date_text(int folder_fd, const std::string& name);

// `text` without the characters 1 to 31.
std::string without_control_characters(std::string_view text);

// Reads an index file into its lines: each physical line (any length) without CR and trailing
// blanks and tabs; lines that were empty are left out, lines of blanks stay as empty texts.
// nullopt when the file `name` of the folder open as `folder_fd` cannot be read (a link or any
// other non-regular file included).
std::optional<std::vector<std::string>> read_index_lines(int folder_fd, const std::string& name);

// Names a folder of the group that is not the one the run opened and judged: a link in its
// place is "replaced by a link", anything else "no longer the folder that was checked". `left`
// says what is left as it is.
void report_replaced(Reporter& reporter, const std::string& path, bool link, const std::string& left);

// What became of a folder offered for deletion.
enum class Deletion { Deleted, Kept, NotJudged, ReplacedByLink };
// Deletes the folder `name` of the folder of `lock` (held; `path` names it) only while that
// name holds the folder `judged`: renamed to a hidden name beside it under a change record
// (hide_folder_under_record), that name checked to hold it, then removed through descriptors, never following a link. A file that cannot go is
// reported and the rest goes on. A folder that is no longer the one judged, or a link in its
// place, is left and named; so is one that cannot be renamed.
Deletion delete_judged_folder(const ArchiveIndexLock& lock, const std::string& name, const FolderId& judged,
                              const std::string& path, Reporter& reporter);

}  // namespace tv::brackmor
