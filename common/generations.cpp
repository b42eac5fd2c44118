#include "common/generations.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "common/files.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/process_owner.h"

namespace tv {

namespace {

std::string stem_of(std::string_view name) {
    const auto dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

// The folder a replacement given by path works in, as it is now (a link to it is followed, as the
// path always was); -1 when it cannot be opened.
platform::UniqueFd open_folder(const std::string& folder) {
    return platform::UniqueFd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The entry of `dir` spelt `name` in any case: the exact spelling when present, else the smallest
// of the others, so that the answer does not depend on the order of the listing.
std::optional<std::string> find_name_ci_at(int dir, std::string_view name) {
    const std::string exact(name);
    if (!is_safe_path_component(exact)) return std::nullopt;
    if (probe_entry_at(dir, exact).kind != EntryKind::Missing) return exact;
    const auto entries = list_names_at(dir, "");
    if (!entries) return std::nullopt;
    std::optional<std::string> best;
    for (const FolderEntry& e : *entries)
        if (platform::iequals(e.name, name) && (!best || e.name < *best)) best = e.name;
    return best;
}

std::string temp_name_for(const std::string& name) {
    static std::atomic<unsigned> serial{0};
    return "." + name + ".tmp." + platform::own_process_token() + "." + std::to_string(++serial);
}

// An exclusive new sibling of `target` in `dir`, with the mode and group of `target` when it exists.
platform::UniqueFd make_sibling(int dir, const std::string& name, const std::string& target, std::string& temp) {
    platform::UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        temp = temp_name_for(name);
        fd.reset(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd && errno != EEXIST) break;
    }
    if (!fd) {
        temp.clear();
        return fd;
    }
    struct stat old_st, new_st;
    if (::fstatat(dir, target.c_str(), &old_st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old_st.st_mode)) {
        // The group first: a group change may clear set-id bits. A group this account is not in
        // cannot be taken; the file then keeps the folder's.
        if (::fstat(fd.get(), &new_st) == 0 && new_st.st_gid != old_st.st_gid)
            (void)::fchown(fd.get(), static_cast<uid_t>(-1), old_st.st_gid);
        (void)::fchmod(fd.get(), old_st.st_mode & 07777);
    }
    return fd;
}

// `from` copied to `to_name` through a sibling, so that `to_name` is whole or absent.
bool copy_through_sibling(int dir, const std::string& from, const std::string& to_name) {
    const platform::UniqueFd in = platform::open_regular_at(dir, from);
    if (!in) return false;
    std::string temp;
    platform::UniqueFd out = make_sibling(dir, to_name, from, temp);
    if (!out) return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!platform::write_all(out.get(), buffer, static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ok = ok && ::fsync(out.get()) == 0;
    if (!out.close()) ok = false;
    if (ok) ok = ::renameat(dir, temp.c_str(), dir, to_name.c_str()) == 0;
    if (!ok) ::unlinkat(dir, temp.c_str(), 0);
    return ok;
}

void move_generations_up(int dir, const std::string& stem) {
    if (auto oldest = find_name_ci_at(dir, stem + ".2.SAV")) ::unlinkat(dir, oldest->c_str(), 0);
    if (auto p = find_name_ci_at(dir, stem + ".1.SAV")) ::renameat(dir, p->c_str(), dir, (stem + ".2.SAV").c_str());
    if (auto p = find_name_ci_at(dir, stem + ".SAV")) ::renameat(dir, p->c_str(), dir, (stem + ".1.SAV").c_str());
}

}  // namespace

bool keep_generation_at(int folder_fd, std::string_view name) {
    const std::string stem = stem_of(name);
    move_generations_up(folder_fd, stem);
    const auto file = find_name_ci_at(folder_fd, name);
    if (!file) return true;
    const std::string saved = stem + ".SAV";
    // A generation that could not move up is older than the file: it gives way.
    if (auto stale = find_name_ci_at(folder_fd, saved)) ::unlinkat(folder_fd, stale->c_str(), 0);
    if (::linkat(folder_fd, file->c_str(), folder_fd, saved.c_str(), 0) == 0) return true;
    return copy_through_sibling(folder_fd, *file, saved);
}

GenerationReplace::GenerationReplace(const std::string& folder, std::string_view name)
    : folder_(platform::strip_trailing_slashes(folder.empty() ? std::string(".") : folder)), name_(name) {
    dir_ = open_folder(folder_);
    begin();
}

GenerationReplace::GenerationReplace(int folder_fd, const std::string& folder, std::string_view name)
    : folder_(platform::strip_trailing_slashes(folder.empty() ? std::string(".") : folder)), name_(name) {
    dir_.reset(::fcntl(folder_fd, F_DUPFD_CLOEXEC, 0));
    begin();
}

void GenerationReplace::begin() {
    if (!dir_) return;
    const auto existing = find_name_ci_at(dir_.get(), name_);
    target_name_ = existing ? *existing : name_;
    target_ = folder_ + "/" + target_name_;
    fd_ = make_sibling(dir_.get(), name_, target_name_, temp_);
}

GenerationReplace::~GenerationReplace() {
    fd_.reset();
    if (!temp_.empty() && dir_) ::unlinkat(dir_.get(), temp_.c_str(), 0);
}

bool GenerationReplace::commit(bool generations, platform::UniqueFd* keep_open) {
    if (!fd_) return false;
    bool ok = ::fsync(fd_.get()) == 0;
    if (!keep_open && !fd_.close()) ok = false;
    if (!ok) return false;
    if (generations) keep_generation_at(dir_.get(), name_);
    if (::renameat(dir_.get(), temp_.c_str(), dir_.get(), target_name_.c_str()) != 0) return false;
    temp_.clear();
    if (keep_open) *keep_open = std::move(fd_);
    // Until the folder is flushed a power cut may bring the old file back.
    return ::fsync(dir_.get()) == 0;
}

bool replace_with_generations_at(int folder_fd, std::string_view name, const std::optional<std::string>& content,
                                 bool generations) {
    if (!content) {
        const auto existing = find_name_ci_at(folder_fd, name);
        if (generations) {
            move_generations_up(folder_fd, stem_of(name));
            if (existing) ::renameat(folder_fd, existing->c_str(), folder_fd, (stem_of(name) + ".SAV").c_str());
        } else if (existing) {
            ::unlinkat(folder_fd, existing->c_str(), 0);
        }
        (void)::fsync(folder_fd);
        return true;
    }
    GenerationReplace replace(folder_fd, ".", name);
    return replace.ready() && platform::write_all(replace.fd(), content->data(), content->size()) &&
           replace.commit(generations);
}

}  // namespace tv
