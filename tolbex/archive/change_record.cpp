#include "tolbex/archive/change_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
constexpr std::size_t kRecordKeyMax = 32;

std::string field_line(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    for (char c : value) line += (c == '\r' || c == '\n') ? '?' : c;  // names never hold these
    return line + "\r\n";
}

std::string get(const ChangeRecordFields& f, std::string_view key) {
    const auto it = f.find(key);
    return it == f.end() ? std::string() : it->second;
}

// A name a record may give: one plain component.
bool plain(const std::string& name) { return !name.empty() && is_safe_path_component(name); }
// A report's own name: plain and not hidden.
bool report_name(const std::string& name) { return plain(name) && name[0] != '.'; }

bool ends_with_ci(const std::string& name, std::string_view tail) {
    return name.size() > tail.size() &&
           platform::iequals(std::string_view(name).substr(name.size() - tail.size()), tail);
}

// "<prefix><token>.<serial>": a temporary of the writer whose token is `token`.
bool own_temporary(const std::string& name, std::string_view prefix, std::string_view token) {
    if (token.empty() || !name.starts_with(prefix) || platform::token_after(name, prefix) != token) return false;
    const std::string_view serial = std::string_view(name).substr(prefix.size() + token.size());
    return serial.size() > 1 && serial.size() <= 11 && serial[0] == '.' &&
           serial.find_first_not_of("0123456789", 1) == std::string_view::npos;
}

std::string identity_text(std::uint64_t device, std::uint64_t inode) {
    return std::to_string(device) + ":" + std::to_string(inode);
}

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

// Whether the index text of an archive lists `name` (five non-blank lines an entry, the first
// the folder's name).
bool index_text_lists(std::string_view text, const std::string& name) {
    int line = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view l = text.substr(start, end - start);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        start = end + 1;
        if (l.find_first_not_of(" \t") == std::string_view::npos) continue;
        if (line++ % 5 == 0 && platform::iequals(l, name)) return true;
    }
    return false;
}

class Settler {
public:
    explicit Settler(const ArchiveIndexLock& lock) : lock_(lock), folder_(lock.folder()), dir_(lock.folder_fd()) {}

    void record(const std::string& name) {
        const std::string path = join_path(folder_, name);
        const std::string token(platform::token_after(name, kRecordPrefix));
        const OutsideFile file = open_member_at(dir_, name, kRecordMaxBytes);
        if (!file) {
            switch (file.refusal) {
                case OutsideRefusal::Missing: return;  // finished meanwhile
                case OutsideRefusal::Link: return left(path, "it is a link, which is not followed");
                case OutsideRefusal::NotRegular: return left(path, "it is not a plain file");
                case OutsideRefusal::HardLinked: return left(path, "it has another name too (a hard link)");
                case OutsideRefusal::TooLarge: return left(path, "it is larger than any record");
                default: return left(path, "this account cannot open it");
            }
        }
        // The owner holds its record locked for as long as it runs, on this machine or another.
        if (platform::lock_open_file_within(file.fd.get(), false, 0) != platform::LockFailure::None) {
            alive_.push_back(token);
            return;
        }
        struct stat st;
        std::string text(static_cast<std::size_t>(file.size), '\0');
        if (::fstat(file.fd.get(), &st) != 0 || !platform::pread_all(file.fd.get(), text.data(), text.size(), 0))
            return left(path, "it cannot be read");
        writer_ = {st.st_uid, st.st_gid, token};
        const ChangeRecordFields f = parse_change_record(text);
        const std::string op = get(f, "operation"), owner = get(f, "owner");
        std::string why;
        if (op.empty() || owner.empty()) {
            // Begun but never written whole: nothing was changed after it.
        } else if (owner != token) {
            why = "its owner is not the one its name carries";
        } else if (op == kRecordStore) {
            why = store(f);
        } else if (op == kRecordDeleteEcg) {
            why = delete_ecg(f);
        } else if (op == kRecordMove) {
            why = move(f);
        } else if (op == kRecordDelete) {
            why = hidden_deletion(f);
        } else {
            why = "it names no operation of this program";
        }
        if (!why.empty()) return left(path, why);
        if (::unlinkat(dir_, name.c_str(), 0) != 0 && errno != ENOENT) return left(path, "it cannot be removed");
        platform::sync_folder(folder_);
    }

    // A hidden entry that no record of a dead owner named: an index temporary of a dead owner
    // goes; a staging or hidden folder stays, as a name alone never shows whose it is.
    void temporary(const std::string& name, EntryKind kind) {
        std::string_view token;
        const bool passing = archive_io::is_passing_report_name(name);
        if (passing) token = platform::token_after(name, std::string_view(name).substr(0, 7));
        bool index_temp = false;
        if (kind == EntryKind::Regular) {
            const std::size_t tmp = name.find(".tmp.");
            if (name.size() > 1 && name[0] == '.' && tmp != std::string::npos) {
                const std::string base = name.substr(1, tmp - 1);
                for (const char* index : {kArchiveIndexName, "ARCHDIR.DAT", "DEVICE.DAT"})
                    if (platform::iequals(base, index)) index_temp = true;
                if (index_temp) token = platform::token_after(std::string_view(name).substr(tmp), ".tmp.");
            }
        }
        if (!passing && !index_temp) return;
        // Its owner's record is locked: it runs, here or in another process table or machine.
        if (!token.empty() && std::find(alive_.begin(), alive_.end(), token) != alive_.end()) return;
        const std::string path = join_path(folder_, name);
        if (passing) {
            if (std::find(named_.begin(), named_.end(), name) != named_.end()) return;  // its record said why
            if (kind != EntryKind::Folder) return left(path, "it is not a folder, and a link is never followed");
            unrecorded_.push_back(name);
            return;
        }
        // An index is written only under the lock that this run holds now: a temporary of it
        // belongs to nobody unless its owner still runs (and then it writes without the lock).
        if (platform::owner_state(token) == platform::OwnerState::Alive) return;
        if (::unlinkat(dir_, name.c_str(), 0) != 0 && errno != ENOENT) return left(path, "it cannot be deleted");
        notes_.push_back("Cleared " + path + ", left by a program that ended before it was done.");
    }

    SettledChanges take_outcome() { return {std::move(notes_), std::move(unrecorded_)}; }

private:
    struct Writer {
        std::uint32_t uid = 0, gid = 0;
        std::string token;
    };

    void left(const std::string& path, const std::string& why) {
        notes_.push_back("Left " + path + " as it is: " + why + ".");
    }

    // Whether the record's writer could have deleted the folder itself: a record never lends the
    // settler rights its writer lacks.
    bool writer_may_remove(const EntryState& e) const {
        return writer_.uid == 0 || e.owner == writer_.uid || ((e.mode & S_IWGRP) && e.group == writer_.gid) ||
               (e.mode & S_IWOTH);
    }

    // Removes the folder `name` in `parent` (a temporary of the writer's form); "" when done or not
    // there, else why it stays.
    std::string remove_temporary(int parent, const std::string& name) {
        const EntryState e = probe_entry_at(parent, name);
        if (e.kind == EntryKind::Missing) return {};
        if (e.kind != EntryKind::Folder) return "\"" + name + "\" is not a folder";
        if (e.owner != writer_.uid && writer_.uid != 0) return "\"" + name + "\" is not its writer's";
        if (!remove_folder_at(parent, name)) return "\"" + name + "\" cannot be deleted";
        return {};
    }

    // Hides the report folder `name` of this archive and deletes it, when it is still the folder
    // `identity` and its writer could delete it; "" when done.
    std::string remove_report_folder(const std::string& name, const std::string& identity) {
        const EntryState e = probe_entry_at(dir_, name);
        if (e.kind == EntryKind::Missing) return {};
        if (e.kind != EntryKind::Folder || (!identity.empty() && identity_text(e.device, e.inode) != identity))
            return "\"" + name + "\" is not the folder it made";
        if (!writer_may_remove(e)) return "its writer could not delete \"" + name + "\"";
        // Under a record of this run's own, so that a kill on the way leaves nothing unnamed.
        ChangeRecord own;
        const std::string hidden = hide_folder_under_record(lock_, name, own);
        if (hidden.empty()) return "\"" + name + "\" cannot be deleted";
        const EntryState h = probe_entry_at(dir_, hidden);
        if (h.kind != EntryKind::Folder || h.device != e.device || h.inode != e.inode) {
            if (platform::rename_no_replace_at(dir_, hidden, dir_, name)) own.finish();
            return "it was replaced meanwhile";
        }
        if (!remove_folder_at(dir_, hidden)) return "\"" + hidden + "\" cannot be deleted";
        own.finish();
        return {};
    }

    // A folder hidden on its way out: gone when the index no longer lists its name, else put back.
    std::string hidden_deletion(const ChangeRecordFields& f) {
        const std::string name = get(f, "name"), hidden = get(f, "hidden");
        if (hidden.empty()) return {};  // nothing renamed yet
        if (!own_temporary(hidden, ".TVDEL.", writer_.token))
            return "it names \"" + hidden + "\", which is not a hidden folder of its writer";
        named_.push_back(hidden);
        if (!report_name(name)) return "it names \"" + name + "\", which is no report or archive folder";
        const EntryState h = probe_entry_at(dir_, hidden);
        if (h.kind == EntryKind::Missing) return {};  // deleted, put back, or never renamed
        if (h.kind != EntryKind::Folder) return "\"" + hidden + "\" is not a folder";
        const std::string path = join_path(folder_, name);
        const auto listed = listed_in(lock_, name);
        if (!listed) return "the index cannot be read";
        if (*listed) {
            if (probe_entry_at(dir_, name).kind != EntryKind::Missing) return "\"" + name + "\" is listed and there";
            if (!platform::rename_no_replace_at(dir_, hidden, dir_, name))
                return "\"" + hidden + "\" cannot be renamed";
            notes_.push_back("Undid an interrupted deletion of " + path + ".");
            return {};
        }
        if (!writer_may_remove(h)) return "its writer could not delete \"" + hidden + "\"";
        if (!remove_folder_at(dir_, hidden)) return "\"" + hidden + "\" cannot be deleted";
        notes_.push_back("Finished deleting " + path + ".");
        return {};
    }

    // Staging that became the listed folder is done; anything else of the store goes.
    std::string store(const ChangeRecordFields& f) {
        const std::string staging = get(f, "staging"), name = get(f, "name"), made = get(f, "made");
        if (!staging.empty() && !own_temporary(staging, ".TVNEW.", writer_.token))
            return "it names \"" + staging + "\", which is not a staging folder of its writer";
        if (!staging.empty()) named_.push_back(staging);
        if (!name.empty() && !report_name(name)) return "it names \"" + name + "\", which is no report folder";
        const bool staged = !staging.empty() && probe_entry_at(dir_, staging).kind != EntryKind::Missing;
        if (!name.empty()) {
            const auto listed = listed_in(lock_, name);
            if (!listed) return "the index cannot be read";
            if (*listed) {
                if (!staged) return {};
                if (std::string why = remove_temporary(dir_, staging); !why.empty()) return why;
                notes_.push_back("Finished storing " + join_path(folder_, name) + ".");
                return {};
            }
        }
        if (staged) {
            if (std::string why = remove_temporary(dir_, staging); !why.empty()) return why;
        } else if (!name.empty() && !made.empty() && probe_entry_at(dir_, name).kind != EntryKind::Missing) {
            // Renamed from the staging folder but never listed: it goes when it is the one made.
            if (std::string why = remove_report_folder(name, made); !why.empty()) return why;
        } else {
            return {};  // nothing of it was made
        }
        notes_.push_back("Undid an interrupted store into " + folder_ + ".");
        return {};
    }

    std::string delete_ecg(const ChangeRecordFields& f) {
        const std::string from = get(f, "from"), to = get(f, "to"), aside = get(f, "aside");
        if (from.empty()) return {};
        if (!report_name(from) || !ends_with_ci(from, ".O12"))
            return "it names \"" + from + "\", which is no 12-lead report";
        if (!to.empty() && (!report_name(to) || !ends_with_ci(to, ".FUL")))
            return "it names \"" + to + "\", which is no full report";
        if (!aside.empty() && !own_temporary(aside, ".TVECG.", writer_.token))
            return "it names \"" + aside + "\", which is not a folder of its writer";
        const std::string from_path = join_path(folder_, from);
        const EntryKind from_kind = probe_entry_at(dir_, from).kind;
        const EntryKind to_kind = to.empty() ? EntryKind::Missing : probe_entry_at(dir_, to).kind;
        bool done;
        if (get(f, "listed") == "1") {
            const auto listed = listed_in(lock_, from);
            if (!listed) return "the index cannot be read";
            done = !*listed;
        } else {
            done = to_kind == EntryKind::Folder && from_kind == EntryKind::Missing;
        }
        if (done) {
            if (!to.empty() && !aside.empty() && to_kind == EntryKind::Folder) {
                const platform::UniqueFd to_fd = open_folder_no_link_at(dir_, to);
                if (!to_fd) return "\"" + to + "\" cannot be opened";
                if (std::string why = remove_temporary(to_fd.get(), aside); !why.empty()) return why;
            }
            notes_.push_back("Finished deleting the ECG files of " + from_path + ".");
            return {};
        }
        // Back under its name, with every ECG file; never a listed folder's.
        if (to_kind == EntryKind::Folder && from_kind == EntryKind::Missing) {
            const auto to_listed = listed_in(lock_, to);
            if (!to_listed) return "the index cannot be read";
            if (*to_listed) return "\"" + to + "\" is listed";
            if (::renameat2(dir_, to.c_str(), dir_, from.c_str(), RENAME_NOREPLACE) != 0)
                return "\"" + to + "\" cannot be renamed";
        }
        if (!aside.empty()) {
            const platform::UniqueFd from_fd = open_folder_no_link_at(dir_, from);
            const EntryState a = from_fd ? probe_entry_at(from_fd.get(), aside) : EntryState{};
            if (a.kind == EntryKind::Folder) {
                if (a.owner != writer_.uid && writer_.uid != 0) return "\"" + aside + "\" is not its writer's";
                const platform::UniqueFd aside_fd = open_folder_no_link_at(from_fd.get(), aside);
                const auto entries = aside_fd ? list_names_at(aside_fd.get(), "") : std::nullopt;
                if (!entries) return "\"" + aside + "\" cannot be read";
                bool all = true;
                for (const FolderEntry& e : *entries)
                    if (::renameat2(aside_fd.get(), e.name.c_str(), from_fd.get(), e.name.c_str(), RENAME_NOREPLACE) !=
                        0)
                        all = false;
                if (!all || ::unlinkat(from_fd.get(), aside.c_str(), AT_REMOVEDIR) != 0)
                    return "the ECG files in \"" + aside + "\" cannot all be put back";
            }
        }
        notes_.push_back("Undid an interrupted deletion of the ECG files of " + from_path + ".");
        return {};
    }

    // Finished once an archive of the same group lists the copy: then the source entry and
    // folder go, when the record's writer could have deleted them.
    std::string move(const ChangeRecordFields& f) {
        const std::string name = get(f, "name"), destination = get(f, "destination"), stored = get(f, "stored");
        if (name.empty() || destination.empty() || stored.empty()) return {};  // nothing moved yet
        if (!report_name(name) || !report_name(stored)) return "it names no report folder";
        const std::string group = get_path_folder(folder_);
        const std::string target = get_path_file_name(platform::strip_trailing_slashes(destination));
        if (get_path_folder(platform::strip_trailing_slashes(destination)) != group || !report_name(target) ||
            target == get_path_file_name(folder_))
            return "its destination \"" + destination + "\" is no other archive of this group";
        const platform::UniqueFd group_fd = open_folder_no_link(group);
        const platform::UniqueFd target_fd =
            group_fd ? open_folder_no_link_at(group_fd.get(), target) : platform::UniqueFd();
        const std::optional<std::string> index =
            target_fd
                ? read_member_at(target_fd.get(), get_path_file_name(find_index_file(destination, kArchiveIndexName)),
                                 std::uint64_t{1} << 30)
                : std::nullopt;
        if (!index || !index_text_lists(*index, stored) ||
            probe_entry_at(target_fd.get(), stored).kind != EntryKind::Folder)
            return {};  // not stored there: the source stays as it is
        const EntryState source = probe_entry_at(dir_, name);
        if (source.kind == EntryKind::Folder && !writer_may_remove(source))
            return "its writer could not delete \"" + name + "\"";
        const Result<void> removed = change_archive_index(lock_, [&](ArchiveIndexEntries& entries) -> Result<void> {
            if (entries.remove(name) == 0) entries.leave_file();
            return {};
        });
        if (!removed) return "the index cannot be written";
        if (source.kind == EntryKind::Folder)
            if (std::string why = remove_report_folder(name, identity_text(source.device, source.inode)); !why.empty())
                return why;
        notes_.push_back("Finished moving " + join_path(folder_, name) + " to " + join_path(destination, stored) + ".");
        return {};
    }

    const ArchiveIndexLock& lock_;
    std::string folder_;
    int dir_;
    Writer writer_;
    std::vector<std::string> alive_;  // tokens of locked records
    std::vector<std::string> named_;  // hidden folders that records of dead owners name
    std::vector<std::string> notes_;
    std::vector<std::string> unrecorded_;  // hidden folders no record names
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
    folder_.reset(::dup(lock.folder_fd()));
    if (!folder_) return false;
    folder_path_ = lock.folder();
    for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
        const std::string name = kRecordPrefix + platform::own_process_token() + "." + std::to_string(counter++);
        fd_ = create_new_file_at(folder_.get(), name);
        if (fd_)
            name_ = name;
        else if (errno != EEXIST)
            return false;
    }
    if (!fd_) return false;
    // Locked before anyone else may take the archive's lock and look at it.
    if (platform::lock_open_file_within(fd_.get(), true, 0) != platform::LockFailure::None) {
        finish();
        return false;
    }
    share_with_folder_group(folder_.get(), fd_.get());
    const std::string& token = platform::own_process_token();
    const std::size_t dash = token.find('-');
    if (!note("operation", operation) || !note("owner", token) || !note("pid", token.substr(0, dash)) ||
        !note("start", token.substr(dash + 1, token.find('-', dash + 1) - dash - 1)) ||
        !platform::sync_folder(folder_path_)) {
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
    if (!name_.empty() && folder_) ::unlinkat(folder_.get(), name_.c_str(), 0);
    name_.clear();
    fd_.reset();
    folder_.reset();
}

std::string hide_folder_under_record(const ArchiveIndexLock& lock, const std::string& name, ChangeRecord& record) {
    if (!record.begin(lock, kRecordDelete) || !record.note("name", name)) {
        record.finish();
        return {};
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Named before it exists; of several tries the last line counts.
        std::string hidden = archive_io::new_hidden_name("DEL");
        if (!record.note("hidden", hidden)) break;
        if (platform::rename_no_replace_at(lock.folder_fd(), name, lock.folder_fd(), hidden)) return hidden;
        if (errno != EEXIST) break;
    }
    record.finish();
    return {};
}

ChangeRecordFields parse_change_record(std::string_view text) {
    ChangeRecordFields fields;
    text = text.substr(0, kRecordMaxBytes);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0 || eq > kRecordKeyMax) continue;
        const std::string_view key = line.substr(0, eq);
        if (fields.size() >= kRecordMaxFields && fields.find(key) == fields.end()) continue;
        fields[std::string(key)] = std::string(line.substr(eq + 1));
    }
    return fields;
}

SettledChanges settle_unfinished_changes(const ArchiveIndexLock& lock) {
    // Only hidden names are looked at, their kinds taken from the listing: a lock costs the same
    // in an archive of five reports as in one of fifty thousand.
    const auto hidden = list_names_at(lock.folder_fd(), ".");
    if (!hidden || hidden->empty()) return {};
    Settler settler(lock);
    // Records first: they may name what the rest of the pass would clear, and tell who is alive.
    for (const FolderEntry& e : *hidden)
        if (e.name.starts_with(kRecordPrefix)) settler.record(e.name);
    for (const FolderEntry& e : *hidden)
        if (!e.name.starts_with(kRecordPrefix))
            settler.temporary(e.name, e.folder ? EntryKind::Folder : e.regular ? EntryKind::Regular : EntryKind::Other);
    return settler.take_outcome();
}

}  // namespace tv
