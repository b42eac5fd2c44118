// Whether this run can judge a folder. What this account cannot read (EACCES, EPERM) is never
// taken for missing, invalid or empty: the caller leaves it as it is and names it. Every check
// and change that decides from what a folder holds asks here first.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "common/safe_open.h"
#include "platform/handles.h"

namespace tv {

enum class FolderAccess {
    Readable,    // opened and listed: what it holds can be judged
    Missing,     // nothing of that name
    NotAFolder,  // a link, a file or anything else in its place
    Unreadable,  // there, but this account cannot open or list it: unknown
};

struct FolderJudgement {
    FolderAccess access = FolderAccess::Missing;
    int error = 0;  // errno of the failed open or listing
    bool readable() const { return access == FolderAccess::Readable; }
    bool unknown() const { return access == FolderAccess::Unreadable; }
};

// Judges `name` in the open folder `parent_fd` (AT_FDCWD: `name` is a path), never through a
// link as its last step: readable when it opens as a folder and this account may list and
// search it. `opened`, when given, receives the folder's descriptor (readable only).
FolderJudgement judge_folder(int parent_fd, const std::string& name, platform::UniqueFd* opened = nullptr);

// The entries of the folder `path` (never through a link as its last step) but "." and "..", each
// with whether it is a folder (not a link); nullopt when it cannot be judged or listed.
std::optional<std::vector<FolderEntry>> list_folder(const std::string& path);

// "The folder "<path>" cannot be read by this account (<reason>)": for messages and logs.
std::string unreadable_folder_text(const std::string& path, const FolderJudgement& judgement);

}  // namespace tv
