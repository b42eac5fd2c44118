#include "tolbex/archive/change_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <memory>

#include "common/files.h"
#include "common/folder_judgement.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/process_owner.h"
#include "tolbex/archive/report_archive.h"

namespace tv {

namespace {

constexpr const char* kRecordPrefix = ".TVREC.";
constexpr std::size_t kRecordMaxBytes = 65536;

using Fields = std::map<std::string, std::string, std::less<>>;

std::string field_line(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    for (char c : value) line += (c == '\r' || c == '\n') ? '?' : c;  // names never hold these
    return line + "\r\n";
}

// The fields of a record; a last line that a kill cut short is not one. Later lines win.
Fields parse(const std::string& text) {
    Fields fields;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

std::string get(const Fields& f, std::string_view key) {
    const auto it = f.find(key);
    return it == f.end() ? std::string() : it->second;
}

bool exists_nofollow(const std::string& path) { return judge_folder(AT_FDCWD, path).access != FolderAccess::Missing; }

bool is_folder_nofollow(const std::string& path) {
    const FolderAccess access = judge_folder(AT_FDCWD, path).access;
    return access == FolderAccess::Readable || access == FolderAccess::Unreadable;
}

// A name a record may give: one plain component.
bool plain(const std::string& name) { return !name.empty() && is_safe_path_component(name); }

// Whether the archive's index lists `name` now; nullopt when it cannot be read.
std::optional<bool> listed_in(const ArchiveIndexLock& lock, const std::string& name) {
    bool found = false;
    const Result<void> read = change_archive_index(lock, [&](ArchiveIndexEntries& entries) -> Result<void> {
        found = entries.find(name) != nullptr;
        entries.leave_file();
        return {};
    });
    if (!read) return std::nullopt;
    return found;
}

class Settler {
public:
    explicit Settler(const ArchiveIndexLock& lock) : lock_(lock), folder_(lock.folder()) {}

    void record(const std::string& name) {
        const std::string path = join_path(folder_, name);
        platform::UniqueFd fd = platform::open_regular_at(AT_FDCWD, path);
        if (!fd) {
            if (errno != ENOENT) left(path, "this account cannot open it");
            return;
        }
        // The owner holds its record locked for as long as it runs, on this machine or another.
        if (platform::lock_open_file_within(fd.get(), false, 0) != platform::LockFailure::None) return;
        std::string text(kRecordMaxBytes, '\0');
        const ssize_t got = ::pread(fd.get(), text.data(), text.size(), 0);
        if (got < 0) return left(path, "it cannot be read");
        text.resize(static_cast<std::size_t>(got));
        const Fields f = parse(text);
        const std::string op = get(f, "operation");
        bool settled = false;
        if (op == kRecordStore)
            settled = store(f);
        else if (op == kRecordDeleteEcg)
            settled = delete_ecg(f);
        else if (op == kRecordMove)
            settled = move(f);
        else
            settled = true;  // begun but never written: nothing was changed after it
        if (!settled) return left(path, "what it names cannot be put right by this account");
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return left(path, "it cannot be removed");
        platform::sync_folder(folder_);
    }

    // A hidden folder or index temporary that no running process owns.
    void temporary(const std::string& name, bool is_folder) {
        std::string_view token;
        bool index_temp = false;
        for (const char* prefix : {".TVNEW.", ".TVDEL."})
            if (name.starts_with(prefix)) token = platform::token_after(name, prefix);
        if (!is_folder) {
            const std::size_t tmp = name.find(".tmp.");
            if (name.size() > 1 && name[0] == '.' && tmp != std::string::npos) {
                const std::string base = name.substr(1, tmp - 1);
                for (const char* index : {kArchiveIndexName, "ARCHDIR.DAT", "DEVICE.DAT"})
                    if (platform::iequals(base, index)) index_temp = true;
                if (index_temp) token = platform::token_after(std::string_view(name).substr(tmp), ".tmp.");
            }
        }
        if (token.empty() && !index_temp) return;
        const platform::OwnerState owner = platform::owner_state(token);
        // An index is written only under the lock that this run holds now: a temporary of it
        // belongs to nobody unless its owner still runs (and then it writes without the lock).
        if (owner == platform::OwnerState::Alive) return;
        if (owner == platform::OwnerState::Unknown && !index_temp) return;
        const std::string path = join_path(folder_, name);
        if (is_folder) {
            if (!archive_io::delete_hidden_folder(path)) return left(path, "it cannot be deleted");
        } else if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return left(path, "it cannot be deleted");
        }
        notes_.push_back("Cleared " + path + ", left by a program that ended before it was done.");
    }

    std::vector<std::string> take_notes() { return std::move(notes_); }

private:
    void left(const std::string& path, const std::string& why) {
        notes_.push_back("Left " + path + " as it is: " + why + ".");
    }

    // Staging that became the listed folder is done; anything else goes.
    bool store(const Fields& f) {
        const std::string staging = get(f, "staging"), name = get(f, "name");
        if (plain(name)) {
            const auto listed = listed_in(lock_, name);
            if (!listed) return false;
            if (*listed) {
                notes_.push_back("Finished storing " + join_path(folder_, name) + ".");
                return !plain(staging) || archive_io::delete_hidden_folder(join_path(folder_, staging)).ok();
            }
        }
        if (plain(staging) && is_folder_nofollow(join_path(folder_, staging))) {
            if (!archive_io::delete_hidden_folder(join_path(folder_, staging))) return false;
        } else if (plain(name) && is_folder_nofollow(join_path(folder_, name))) {
            // Renamed from the staging folder but never listed: it is this store's own.
            const std::string hidden = archive_io::hide_folder(join_path(folder_, name));
            if (hidden.empty() || !archive_io::delete_hidden_folder(hidden)) return false;
        }
        notes_.push_back("Undid an interrupted store into " + folder_ + ".");
        return true;
    }

    bool delete_ecg(const Fields& f) {
        const std::string from = get(f, "from"), to = get(f, "to"), aside = get(f, "aside");
        if (!plain(from)) return true;
        const std::string from_path = join_path(folder_, from);
        const std::string to_path = plain(to) ? join_path(folder_, to) : std::string();
        bool done;
        if (get(f, "listed") == "1") {
            const auto listed = listed_in(lock_, from);
            if (!listed) return false;
            done = !*listed;
        } else {
            done = !to_path.empty() && !exists_nofollow(from_path) && is_folder_nofollow(to_path);
        }
        if (done) {
            notes_.push_back("Finished deleting the ECG files of " + from_path + ".");
            return to_path.empty() || !plain(aside) || archive_io::delete_hidden_folder(join_path(to_path, aside)).ok();
        }
        // Back under its name, with every ECG file.
        if (!to_path.empty() && !exists_nofollow(from_path) && is_folder_nofollow(to_path) &&
            !platform::rename_no_replace(to_path, from_path))
            return false;
        if (plain(aside)) {
            const std::string aside_path = join_path(from_path, aside);
            if (is_folder_nofollow(aside_path)) {
                const auto entries = list_folder(aside_path);
                if (!entries) return false;
                bool all = true;
                for (const FolderEntry& e : *entries)
                    if (!platform::rename_no_replace(join_path(aside_path, e.name), join_path(from_path, e.name)))
                        all = false;
                if (!all || ::rmdir(aside_path.c_str()) != 0) return false;
            }
        }
        notes_.push_back("Undid an interrupted deletion of the ECG files of " + from_path + ".");
        return true;
    }

    // Finished once the destination lists the copy: then the source entry and folder go.
    bool move(const Fields& f) {
        const std::string name = get(f, "name"), destination = get(f, "destination"), stored = get(f, "stored");
        if (!plain(name) || destination.empty() || !plain(stored)) return true;
        const ReportArchive target(destination, "");
        if (!target.find_record(stored)) return true;  // not stored there: the source stays as it is
        std::string original, hidden;
        const Result<void> removed = change_archive_index(lock_, [&](ArchiveIndexEntries& entries) -> Result<void> {
            if (entries.remove(name) == 0) entries.leave_file();
            return {};
        });
        if (!removed) return false;
        if (const auto path = platform::find_name_ci(folder_, name); path && is_folder_nofollow(*path)) {
            hidden = archive_io::hide_folder(*path);
            if (hidden.empty() || !archive_io::delete_hidden_folder(hidden)) return false;
        }
        notes_.push_back("Finished moving " + join_path(folder_, name) + " to " + join_path(destination, stored) + ".");
        return true;
    }

    const ArchiveIndexLock& lock_;
    std::string folder_;
    std::vector<std::string> notes_;
};

}  // namespace

void share_with_folder_group(int folder_fd, int fd) {
    struct stat folder_st, st;
    if (::fstat(folder_fd, &folder_st) != 0 || ::fstat(fd, &st) != 0) return;
    if (folder_st.st_mode & S_IWGRP) (void)::fchmod(fd, (st.st_mode & 0777) | S_IRGRP | S_IWGRP);
}

ChangeRecord::~ChangeRecord() = default;

bool ChangeRecord::begin(const ArchiveIndexLock& lock, std::string_view operation) {
    static std::atomic<unsigned> counter{0};
    if (!lock.held()) return false;
    platform::UniqueFd folder;
    if (!judge_folder(AT_FDCWD, lock.folder(), &folder).readable()) return false;
    for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
        const std::string path =
            join_path(lock.folder(), kRecordPrefix + platform::own_process_token() + "." + std::to_string(counter++));
        fd_ = create_new_file(path);
        if (fd_)
            path_ = path;
        else if (errno != EEXIST)
            return false;
    }
    if (!fd_) return false;
    // Locked before anyone else may take the archive's lock and look at it.
    if (platform::lock_open_file_within(fd_.get(), true, 0) != platform::LockFailure::None) {
        finish();
        return false;
    }
    share_with_folder_group(folder.get(), fd_.get());
    const std::string& token = platform::own_process_token();
    const std::size_t dash = token.find('-');
    if (!note("operation", operation) || !note("owner", token) || !note("pid", token.substr(0, dash)) ||
        !note("start", token.substr(dash + 1, token.find('-', dash + 1) - dash - 1)) ||
        !platform::sync_folder(lock.folder())) {
        finish();
        return false;
    }
    return true;
}

bool ChangeRecord::note(std::string_view key, std::string_view value) {
    if (!fd_) return false;
    const std::string line = field_line(key, value);
    const off_t end = ::lseek(fd_.get(), 0, SEEK_END);
    return end >= 0 && platform::write_all(fd_.get(), line.data(), line.size()) && ::fdatasync(fd_.get()) == 0;
}

void ChangeRecord::finish() {
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
    fd_.reset();
}

std::vector<std::string> settle_unfinished_changes(const ArchiveIndexLock& lock) {
    std::vector<std::pair<std::string, bool>> hidden;
    if (const auto entries = list_folder(lock.folder()))
        for (const FolderEntry& e : *entries)
            if (e.name[0] == '.') hidden.emplace_back(e.name, e.folder);
    if (hidden.empty()) return {};
    Settler settler(lock);
    // Records first: they may name what the rest of the pass would clear.
    for (const auto& [name, folder] : hidden)
        if (!folder && name.starts_with(kRecordPrefix)) settler.record(name);
    for (const auto& [name, folder] : hidden) settler.temporary(name, folder);
    return settler.take_notes();
}

}  // namespace tv
