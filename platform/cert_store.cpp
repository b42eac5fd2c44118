#include "platform/cert_store.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"

namespace tv::platform {
namespace {

bool has_store_extension(std::string_view name) {
    if (name.size() < 5) return false;
    std::string_view ext = name.substr(name.size() - 4);
    return iequals(ext, ".p12") || iequals(ext, ".pfx");
}

bool is_store_name(const std::string& name) {
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos && name.front() != '.' &&
           has_store_extension(name);
}

// Reads a regular file of the folder open as `folder_fd`, no larger than the limit, without
// following a link.
std::optional<std::string> read_entry(int folder_fd, const std::string& name) {
    UniqueFd fd = open_regular_at(folder_fd, name);
    if (!fd) return std::nullopt;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) > kMaxStoredCertificateSize)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (!pread_all(fd.get(), bytes.data(), bytes.size(), 0)) return std::nullopt;
    return bytes;
}

class FolderCertStore final : public CertStore {
public:
    explicit FolderCertStore(std::string folder) : folder_(std::move(folder)) {}

    std::optional<std::vector<StoredCertificate>> entries() override {
        std::vector<StoredCertificate> out;
        // The store is listed and read through one descriptor, never through a link at its name.
        const UniqueFd folder(::open(dir().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder) {
            if (errno == ENOENT) return out;
            return std::nullopt;
        }
        const int copy = ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0);
        DIR* d = copy >= 0 ? ::fdopendir(copy) : nullptr;
        if (!d) {
            if (copy >= 0) ::close(copy);
            return std::nullopt;
        }
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d))
            if (is_store_name(e->d_name)) names.emplace_back(e->d_name);
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (auto& n : names)
            if (auto bytes = read_entry(folder.get(), n)) out.push_back({std::move(n), std::move(*bytes)});
        return out;
    }

    bool put(const std::string& name, std::string_view bytes) override {
        if (name.empty() || !is_store_name(name)) return false;
        const std::string folder = dir();
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            // The parent may be missing too: make it, then the store itself.
            std::error_code ec;
            std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ec);
            if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
        // A new file is made private first; the atomic replacement keeps the mode.
        const std::string path = folder + "/" + name;
        if (UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)); !fd && errno != EEXIST)
            return false;
        return atomic_write_file(path, bytes);
    }

private:
    std::string dir() const { return folder_.empty() ? cert_store_dir() : folder_; }
    std::string folder_;
};

class MemoryCertStore final : public CertStore {
public:
    std::optional<std::vector<StoredCertificate>> entries() override {
        std::vector<StoredCertificate> out;
        for (const auto& [n, b] : files_) out.push_back({n, b});
        return out;
    }
    bool put(const std::string& name, std::string_view bytes) override {
        if (name.empty() || !is_store_name(name)) return false;
        files_[name] = std::string(bytes);
        return true;
    }

private:
    std::map<std::string, std::string> files_;
};

CertStore* g_override = nullptr;

}  // namespace

std::string cert_store_dir() { return user_dir() + "/certificates"; }

std::unique_ptr<CertStore> make_folder_cert_store(const std::string& folder) {
    return std::make_unique<FolderCertStore>(folder);
}

std::unique_ptr<CertStore> make_memory_cert_store() { return std::make_unique<MemoryCertStore>(); }

CertStore& cert_store() {
    static const std::unique_ptr<CertStore> folder_store = make_folder_cert_store(std::string());
    return g_override ? *g_override : *folder_store;
}

void set_cert_store(CertStore* s) { g_override = s; }

}  // namespace tv::platform
