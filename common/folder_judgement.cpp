#include "common/folder_judgement.h"

#include "common/safe_open.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tv {

namespace {

FolderJudgement judged(FolderAccess access, int error) { return FolderJudgement{access, error}; }

// Any error but "nothing there" and "not a folder" leaves the folder unknown.
FolderJudgement by_error(int error) {
    switch (error) {
        case ENOENT: return judged(FolderAccess::Missing, error);
        case ELOOP:
        case ENOTDIR: return judged(FolderAccess::NotAFolder, error);
        default: return judged(FolderAccess::Unreadable, error);
    }
}

}  // namespace

FolderJudgement judge_folder(int parent_fd, const std::string& name, platform::UniqueFd* opened) {
    platform::UniqueFd fd(::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return by_error(errno);
    // Listing needs read, looking at what is listed needs search permission.
    if (::faccessat(fd.get(), ".", R_OK | X_OK, AT_EACCESS) != 0) return judged(FolderAccess::Unreadable, errno);
    if (opened) *opened = std::move(fd);
    return judged(FolderAccess::Readable, 0);
}

std::optional<std::vector<FolderEntry>> list_folder(const std::string& path) {
    platform::UniqueFd fd;
    if (!judge_folder(AT_FDCWD, path, &fd).readable()) return std::nullopt;
    return list_folder_at(fd.get());
}

std::string unreadable_folder_text(const std::string& path, const FolderJudgement& judgement) {
    return "The folder \"" + path + "\" cannot be read by this account (" + std::strerror(judgement.error) + ")";
}

}  // namespace tv
