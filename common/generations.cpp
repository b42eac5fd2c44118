#include "common/generations.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/fs.h"
#include "platform/process_owner.h"

namespace tv {

namespace {

std::string stem_of(std::string_view name) {
    const auto dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

std::string temp_name_for(const std::string& folder, const std::string& name) {
    static std::atomic<unsigned> serial{0};
    return folder + "/." + name + ".tmp." + platform::own_process_token() + "." + std::to_string(++serial);
}

// An exclusive new sibling of `target`, with the mode and group of `target` when it exists.
platform::UniqueFd make_sibling(const std::string& folder, const std::string& name, const std::string& target,
                                std::string& temp) {
    platform::UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        temp = temp_name_for(folder, name);
        fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd && errno != EEXIST) break;
    }
    if (!fd) {
        temp.clear();
        return fd;
    }
    struct stat old_st, new_st;
    if (::lstat(target.c_str(), &old_st) == 0 && S_ISREG(old_st.st_mode)) {
        // The group first: a group change may clear set-id bits. A group this account is not in
        // cannot be taken; the file then keeps the folder's.
        if (::fstat(fd.get(), &new_st) == 0 && new_st.st_gid != old_st.st_gid)
            (void)::fchown(fd.get(), static_cast<uid_t>(-1), old_st.st_gid);
        (void)::fchmod(fd.get(), old_st.st_mode & 07777);
    }
    return fd;
}

// `from` copied to `to` through a sibling, so that `to` is whole or absent.
bool copy_through_sibling(const std::string& folder, const std::string& from, const std::string& to_name) {
    platform::UniqueFile in = platform::open_regular_file(from, false);
    if (!in) return false;
    std::string temp;
    platform::UniqueFd out = make_sibling(folder, to_name, from, temp);
    if (!out) return false;
    char buffer[65536];
    bool ok = true;
    for (std::size_t n; ok && (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;)
        ok = platform::write_all(out.get(), buffer, n);
    ok = ok && !std::ferror(in.get()) && ::fsync(out.get()) == 0;
    if (!out.close()) ok = false;
    if (ok) ok = ::rename(temp.c_str(), (folder + "/" + to_name).c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

void move_generations_up(const std::string& folder, const std::string& stem) {
    auto path_of = [&](const std::string& n) { return platform::find_name_ci(folder, n); };
    if (auto oldest = path_of(stem + ".2.SAV")) ::unlink(oldest->c_str());
    if (auto p = path_of(stem + ".1.SAV")) ::rename(p->c_str(), (folder + "/" + stem + ".2.SAV").c_str());
    if (auto p = path_of(stem + ".SAV")) ::rename(p->c_str(), (folder + "/" + stem + ".1.SAV").c_str());
}

}  // namespace

bool keep_generation(const std::string& folder, std::string_view name) {
    const std::string stem = stem_of(name);
    move_generations_up(folder, stem);
    const auto file = platform::find_name_ci(folder, name);
    if (!file) return true;
    const std::string saved = folder + "/" + stem + ".SAV";
    // A generation that could not move up is older than the file: it gives way.
    if (auto stale = platform::find_name_ci(folder, stem + ".SAV")) ::unlink(stale->c_str());
    if (::link(file->c_str(), saved.c_str()) == 0) return true;
    return copy_through_sibling(folder, *file, stem + ".SAV");
}

GenerationReplace::GenerationReplace(const std::string& folder, std::string_view name)
    : folder_(platform::strip_trailing_slashes(folder.empty() ? std::string(".") : folder)), name_(name) {
    const auto existing = platform::find_name_ci(folder_, name_);
    target_ = existing ? *existing : folder_ + "/" + name_;
    fd_ = make_sibling(folder_, name_, target_, temp_);
}

GenerationReplace::~GenerationReplace() {
    fd_.reset();
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool GenerationReplace::commit(bool generations, platform::UniqueFd* keep_open) {
    if (!fd_) return false;
    bool ok = ::fsync(fd_.get()) == 0;
    if (!keep_open && !fd_.close()) ok = false;
    if (!ok) return false;
    if (generations) keep_generation(folder_, name_);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return false;
    temp_.clear();
    if (keep_open) *keep_open = std::move(fd_);
    // Until the folder is flushed a power cut may bring the old file back.
    return platform::sync_folder(folder_);
}

bool replace_with_generations(const std::string& folder, std::string_view name,
                              const std::optional<std::string>& content, bool generations) {
    if (!content) {
        const std::string dir = platform::strip_trailing_slashes(folder.empty() ? std::string(".") : folder);
        const auto existing = platform::find_name_ci(dir, name);
        if (generations) {
            move_generations_up(dir, stem_of(name));
            if (existing) ::rename(existing->c_str(), (dir + "/" + stem_of(name) + ".SAV").c_str());
        } else if (existing) {
            ::unlink(existing->c_str());
        }
        platform::sync_folder(dir);
        return true;
    }
    GenerationReplace replace(folder, name);
    return replace.ready() && platform::write_all(replace.fd(), content->data(), content->size()) &&
           replace.commit(generations);
}

}  // namespace tv
