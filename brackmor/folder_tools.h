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
#include "platform/handles.h"

namespace tv::brackmor {

class Reporter;

// A name from an index that may be used as a folder name: one component, no separator, drive,
// wildcard or control character, not "." or "..".
bool is_safe_name(std::string_view name);

// The entry of `folder` named `name` in any case (exact spelling first); nullopt when absent or
// the name is not safe.
std::optional<std::string> find_entry(const std::string& folder, std::string_view name);

// The names in one folder, read once, for many case-insensitive look-ups (a report folder's
// files, an archive's report folders). A folder that cannot be read holds no names, and
// judgement() says whether that means it is missing or that this account cannot tell.
class FolderNames {
public:
    // Never through a link, unless `follow`: the group folder the user named may be one.
    explicit FolderNames(const std::string& folder, bool follow = false);
    // A sub-folder of an open folder (never through a link); no names when it is not a folder.
    FolderNames(const FolderNames& parent, const std::string& child);
    const std::string& folder() const { return folder_; }
    const FolderJudgement& judgement() const { return judgement_; }
    // What the entry `name` (as spelt on disk) is now; Unknown when this folder was not opened
    // or was listed as a sub-folder.
    EntryState probe(const std::string& name) const;
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
    enum class Kind { File, Folder, Link };
    struct Entry {
        std::string name;
        Kind kind;
    };
    // The entry of `name` in any case (exact spelling first) of `kind`, any kind when unset.
    const Entry* lookup(std::string_view name, std::optional<Kind> kind) const;
    std::vector<std::string> names_of(Kind kind, bool hidden) const;
    void read_entries();

    std::string folder_;
    platform::UniqueFd fd_;
    FolderJudgement judgement_;
    std::vector<std::pair<std::string, Entry>> entries_;  // by upper-cased name, then name
};
// True for the files of an archive's index: ARCHINFO.DAT and its generations, the lock file and
// what an interrupted rewrite left (any case).
bool is_index_file_name(std::string_view name);

// True for a folder that is not a symbolic link.
bool is_real_folder(const std::string& path);
// True for a symbolic link (to anything, or to nothing).
bool is_link(const std::string& path);

// The sum of the sizes of the regular files directly in `folder`, held at 2,147,483,647 since
// the index is read as a 32-bit number.
std::int32_t folder_file_size(const std::string& folder);

// "dd/mm/yy hh:mm:ss" of a local time.
std::string date_text(std::time_t time);
std::string now_text();
// The last-write time of `path` in that form; nullopt when it cannot be read.
std::optional<std::string> modified_date_text(const std::string& path);

// `text` without the characters 1 to 31.
std::string without_control_characters(std::string_view text);

// Reads an index file into its lines: each physical line (any length) without CR and trailing
// blanks and tabs; lines that were empty are left out, lines of blanks stay as empty texts.
// nullopt when the file cannot be read (a link or any other non-regular file included).
std::optional<std::vector<std::string>> read_index_lines(const std::string& path);

// Deletes a folder tree without following links and with its dot-files; a file that cannot go
// is reported and the rest goes on, then the folder's own removal decides. Asks first when
// `confirm`; false when the answer is No or the folder stays.
bool delete_folder(const std::string& path, Reporter& reporter, bool confirm);

}  // namespace tv::brackmor
