#include "tolbex/archive/report_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/process_owner.h"
#include "tolbex/archive/change_record.h"

namespace tv {

namespace {

using archive_io::stamp_of;

IndexStamp stamp_of(const EntryState& e) {
    IndexStamp s;
    s.mtime_ns = e.mtime_ns;
    s.size = static_cast<std::int64_t>(e.size);
    s.inode = e.inode;
    s.device = e.device;
    return s;
}

}  // namespace

const char* archive_error_caption(int code) {
    switch (code) {
        case kArchiveNoSpace: return "Not enough disk space";
        case kArchiveWriteFailed: return "File Error ";  // the trailing space is part of the caption
        case kArchiveDeleteFailed: return "File Error";
        case kArchiveConfigRefused: return "Archive configuration";
        case kArchiveBusy: return "Archive In Use";
        case kArchiveEntryGone: return "Archive Changed";
        case kArchiveLockDenied: return "Archive Lock";
        case kArchiveReadOnly: return "Archive Read-Only";
        case kArchiveUnreadable: return "Archive Access";
        case kArchiveReplaced: return "Archive Changed";
        default: return "";
    }
}

// ---------------------------------------------------------------------------------------------
// Helpers shared by the index readers and writers of this folder.

namespace archive_io {

platform::UniqueFile open_index_for_reading(const std::string& path, IndexStamp* stamp, bool follow_links) {
    platform::UniqueFile f = platform::open_regular_file(path, follow_links);
    struct stat st;
    if (!f || (stamp && ::fstat(::fileno(f.get()), &st) != 0)) return nullptr;
    if (stamp) *stamp = stamp_of(st);
    return f;
}

IndexStamp stamp_of(const struct ::stat& st) {
    IndexStamp s;
    s.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.size = static_cast<std::int64_t>(st.st_size);
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    s.device = static_cast<std::uint64_t>(st.st_dev);
    return s;
}

bool enough_space_for(const std::string& folder, std::int64_t needed) {
    const std::uint64_t free_bytes = get_disk_free_bytes(folder);
    return needed <= 0 || free_bytes >= static_cast<std::uint64_t>(needed);
}

Error no_space_error() {
    return fail(kArchiveNoSpace, "There is not enough free disk space to complete the operation.");
}

Error write_error(const std::string& index_path) {
    return fail(kArchiveWriteFailed, "Couldn't write to archive file: " + index_path);
}

namespace {

// The owner's token (process id, start time, boot) and a counter of this process: two processes
// never make the same name, nor one process twice, and a later run can tell whether the owner
// still runs (change_record.h).
std::string hidden_name(std::string_view purpose) {
    static std::atomic<unsigned> counter{0};
    return ".TV" + std::string(purpose) + "." + platform::own_process_token() + "." +
           std::to_string(counter.fetch_add(1));
}

}  // namespace

bool is_passing_report_name(std::string_view name) {
    return name.starts_with(".TVNEW.") || name.starts_with(".TVDEL.");
}

std::string new_hidden_name(std::string_view purpose) { return hidden_name(purpose); }

namespace {

// Made with mkdirat, opened at once without following a link, this account's and empty.
MadeFolder make_folder_at(int parent_fd, const std::string& name, bool shared) {
    MadeFolder made;
    if (::mkdirat(parent_fd, name.c_str(), 0777) != 0) return {};
    made.name = name;
    made.fd = open_folder_no_link_at(parent_fd, made.name);
    struct stat st;
    if (!made.fd || ::fstat(made.fd.get(), &st) != 0 || st.st_uid != ::geteuid()) return {};
    // Closed to the group before it is looked at: what it holds from then on is what we put there.
    made.mode = st.st_mode & (07777 & ~S_ISUID & ~S_ISVTX);
    if (!shared && ::fchmod(made.fd.get(), made.mode & ~(S_IWGRP | S_IWOTH)) != 0) return {};
    const auto entries = list_folder_at(made.fd.get());
    if (!entries || !entries->empty()) return {};
    made.device = static_cast<std::uint64_t>(st.st_dev);
    made.inode = static_cast<std::uint64_t>(st.st_ino);
    return made;
}

}  // namespace

MadeFolder make_hidden_folder_at(int parent_fd, const std::string& name) {
    return make_folder_at(parent_fd, name, false);
}

MadeFolder make_shared_folder_at(int parent_fd, const std::string& name) {
    return make_folder_at(parent_fd, name, true);
}

bool ensure_archive_folder_at(int group_fd, const std::string& name, MadeFolder& made) {
    made = MadeFolder();
    switch (probe_entry_at(group_fd, name).kind) {
        case EntryKind::Folder: return true;
        case EntryKind::Missing: made = make_shared_folder_at(group_fd, name); return static_cast<bool>(made);
        default: return false;
    }
}

std::string name_on_disk(int dir, const std::string& name) {
    if (probe_entry_at(dir, name).kind != EntryKind::Missing) return name;
    std::optional<std::string> best;
    if (const auto entries = list_folder_names_at(dir))
        for (const FolderName& e : *entries)
            if (platform::iequals(e.name, name) && (!best || e.name < *best)) best = e.name;
    return best.value_or(name);
}

bool holds_made_folder(int parent_fd, const std::string& name, const MadeFolder& made) {
    const EntryState e = probe_entry_at(parent_fd, name);
    return e.kind == EntryKind::Folder && e.device == made.device && e.inode == made.inode;
}

PublishResult publish_made_folder(int parent_fd, const MadeFolder& made, const std::string& from,
                                  const std::string& to) {
    if (::renameat2(parent_fd, from.c_str(), parent_fd, to.c_str(), RENAME_NOREPLACE) != 0)
        return errno == EEXIST ? PublishResult::Taken : PublishResult::Failed;
    if (holds_made_folder(parent_fd, to, made)) return PublishResult::Done;
    // Someone put another entry under the staging name: it goes back there, untouched.
    (void)::renameat2(parent_fd, to.c_str(), parent_fd, from.c_str(), RENAME_NOREPLACE);
    errno = EXDEV;
    return PublishResult::Swapped;
}

bool discard_made_folder(int parent_fd, const MadeFolder& made, const std::string& name) {
    if (!made) return true;
    (void)empty_open_folder(made.fd.get());
    if (!holds_made_folder(parent_fd, name, made)) return true;  // what stands there now is not ours
    return ::unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

namespace {

JudgedFolder kind_in_place(int parent_fd, const std::string& name) {
    switch (probe_entry_at(parent_fd, name).kind) {
        case EntryKind::Missing: return JudgedFolder::Missing;
        case EntryKind::Link: return JudgedFolder::Link;
        case EntryKind::Unknown: return JudgedFolder::Failed;
        default: return JudgedFolder::Other;
    }
}

}  // namespace

JudgedFolder open_judged_folder_at(int parent_fd, const std::string& name, MadeFolder& held) {
    held = MadeFolder();
    OutsideRefusal refusal = OutsideRefusal::None;
    held.fd = open_folder_no_link_at(parent_fd, name, &refusal);
    struct stat st;
    if (!held.fd || ::fstat(held.fd.get(), &st) != 0) {
        held = MadeFolder();
        switch (refusal) {
            case OutsideRefusal::Missing: return JudgedFolder::Missing;
            case OutsideRefusal::Link: return JudgedFolder::Link;
            case OutsideRefusal::NotRegular: return JudgedFolder::Other;
            default: return JudgedFolder::Failed;
        }
    }
    held.name = name;
    held.device = static_cast<std::uint64_t>(st.st_dev);
    held.inode = static_cast<std::uint64_t>(st.st_ino);
    held.mode = st.st_mode & 07777;
    return JudgedFolder::Held;
}

JudgedFolder hide_judged_folder_at(const ArchiveIndexLock& lock, MadeFolder& held, ChangeRecord& record) {
    const int parent_fd = lock.folder_fd();
    if (!holds_made_folder(parent_fd, held.name, held)) return kind_in_place(parent_fd, held.name);
    const std::string hidden = hide_folder_under_record(lock, held.name, record);
    if (hidden.empty()) return JudgedFolder::Failed;
    if (!holds_made_folder(parent_fd, hidden, held)) {
        // Swapped between the look and the rename: whatever was renamed gets its name back, and
        // the record goes, as what it names is not this run's.
        const JudgedFolder now = kind_in_place(parent_fd, hidden);
        if (platform::rename_no_replace_at(parent_fd, hidden, parent_fd, held.name)) record.finish();
        return now == JudgedFolder::Link ? now : JudgedFolder::Other;
    }
    held.name = hidden;
    return JudgedFolder::Held;
}

bool delete_held_folder_at(int parent_fd, const MadeFolder& held,
                           const std::function<void(const std::string& below, bool folder)>& failed) {
    if (!held || !empty_open_folder(held.fd.get(), failed) || !holds_made_folder(parent_fd, held.name, held))
        return false;
    return ::unlinkat(parent_fd, held.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

std::string replaced_folder_text(const std::string& path, bool link, const std::string& left) {
    if (link)
        return path + " was replaced by a link while it was checked - " + left +
               ", and what the link leads to is not looked at.";
    return path + " is no longer the folder that was checked - " + left + ".";
}

}  // namespace archive_io

bool read_index_stamp(const std::string& path, IndexStamp& stamp) {
    const EntryState entry = probe_entry(path);
    if (!entry.present()) return false;
    stamp = stamp_of(entry);
    return true;
}

std::string find_index_file(const std::string& folder, std::string_view name) {
    std::string exact = join_path(folder, std::string(name));
    // A name that cannot be told stays as spelled: whatever opens it says why.
    if (probe_entry(exact).kind != EntryKind::Missing) return exact;
    if (auto found = platform::find_name_ci(folder, name)) return *found;
    return exact;
}

namespace {

// Name and description marked as read go out unchanged; every other line obeys the limits.
void append_archive_entry(std::string& out, std::string_view name, bool name_as_read, std::string_view description,
                          bool description_as_read, std::string_view date_text, std::string_view size_text,
                          std::string_view type_name) {
    auto line = [&](std::string_view text, std::size_t limit, std::string_view fallback) {
        out += sanitize_index_line(text, limit, fallback);
        out += "\r\n";
    };
    auto kept = [&](std::string_view text) {
        out += text;
        out += "\r\n";
    };
    name_as_read ? kept(name) : line(name, kIndexNameMax, "_");
    description_as_read ? kept(description) : line(description, kIndexDescriptionMax, kEmptyDescriptionText);
    line(date_text, kIndexDateMax, "Thu Jan 01 00:00:00 1970");
    line(size_text, kIndexSizeMax, "0");
    line(type_name, kIndexTypeNameMax, kEmptyTypeNameText);
}

}  // namespace

std::string format_archive_entry(std::string_view name, std::string_view description, std::string_view date_text,
                                 std::string_view size_text, std::string_view type_name) {
    std::string out;
    out.reserve(name.size() + description.size() + 64);
    append_archive_entry(out, name, false, description, false, date_text, size_text, type_name);
    return out;
}

// ---------------------------------------------------------------------------------------------

ArchiveIndexLock::ArchiveIndexLock(const std::string& folder, int wait_ms)
    : folder_(folder.empty() ? "." : platform::strip_trailing_slashes(folder)) {
    // A link in the folder's place would put the lock file, and all the holder writes, where it leads.
    folder_fd_ = open_folder_no_link(folder_, &folder_refusal_);
    if (folder_fd_ && lock_.lock_within_at(folder_fd_.get(), kIndexLockFileName, true, wait_ms))
        settled_ = settle_unfinished_changes(*this);
}

ArchiveIndexLock::ArchiveIndexLock(int folder_fd, const std::string& folder, int wait_ms)
    : folder_(folder.empty() ? "." : platform::strip_trailing_slashes(folder)) {
    folder_fd_ = platform::UniqueFd(::fcntl(folder_fd, F_DUPFD_CLOEXEC, 0));
    if (!folder_fd_) folder_refusal_ = OutsideRefusal::Missing;
    if (folder_fd_ && lock_.lock_within_at(folder_fd_.get(), kIndexLockFileName, true, wait_ms))
        settled_ = settle_unfinished_changes(*this);
}

std::string lock_file_fault_text(platform::SharedFileFault fault) {
    const std::string file = std::string("its lock file ") + kIndexLockFileName;
    switch (fault) {
        case platform::SharedFileFault::None: break;
        case platform::SharedFileFault::Link: return file + " is a link, which is not followed";
        case platform::SharedFileFault::NotRegular: return file + " is not a plain file";
        case platform::SharedFileFault::SeveralNames: return file + " has another name elsewhere too (a hard link)";
    }
    return {};
}

Error ArchiveIndexLock::busy_error() const {
    const std::string quoted = "\"" + folder_ + "\"";
    if (folder_refusal_ == OutsideRefusal::Link)
        return fail(kArchiveLockDenied,
                    "The folder " + quoted + " is a link, which is not followed, so nothing was changed.");
    if (const std::string fault = lock_file_fault_text(lock_.file_fault()); !fault.empty())
        return fail(kArchiveLockDenied, "The archive " + quoted + " cannot be changed: " + fault +
                                            ", so nothing was changed. An administrator can delete it while no "
                                            "program uses the archive.");
    switch (failure()) {
        case platform::LockFailure::Busy:
            return fail(kArchiveBusy, "Another program is changing the archive " + quoted +
                                          " and it could not be locked, so nothing was changed. Please try again.");
        case platform::LockFailure::NotWritable:
            return fail(kArchiveLockDenied,
                        "The archive " + quoted + " cannot be changed from this account: its lock file " +
                            kIndexLockFileName +
                            " cannot be opened for writing, so nothing was changed. The file's owner or an "
                            "administrator can give the operators' group write access to it (chmod g+w), or "
                            "delete it while no program uses the archive.");
        case platform::LockFailure::ReadOnly:
            return fail(kArchiveReadOnly, "The archive " + quoted +
                                              " is read-only for this account, so nothing was changed. An "
                                              "administrator can give the operators' group write access to it.");
        default:
            return fail(kArchiveWriteFailed, "The archive " + quoted +
                                                 " could not be locked, so nothing was changed: " + kIndexLockFileName +
                                                 " cannot be used.");
    }
}

Error entry_gone_error(const std::string& archive_folder, std::string_view folder_name) {
    return fail(kArchiveEntryGone, "The report \"" + std::string(folder_name) + "\" is no longer listed in \"" +
                                       archive_folder +
                                       "\": another program has moved or deleted it. It was left as it is.");
}

// ---------------------------------------------------------------------------------------------

ReportRecord* ArchiveIndexEntries::find(std::string_view folder_name) const {
    for (const auto& r : records_)
        if (r && platform::iequals(r->get_name(), folder_name)) return r.get();
    return nullptr;
}

int ArchiveIndexEntries::remove(std::string_view folder_name) {
    const auto before = records_.size();
    std::erase_if(records_, [&](const auto& r) { return !r || platform::iequals(r->get_name(), folder_name); });
    return static_cast<int>(before - records_.size());
}

void ArchiveIndexEntries::add(std::unique_ptr<ReportRecord> record) {
    if (record) records_.push_back(std::move(record));
}

void ArchiveIndexEntries::keep_as_read(const ReportRecord* record, std::string lines) {
    std::string formatted;
    ReportArchive::write_record(*record, formatted);
    as_read_[record] = {std::move(formatted), std::move(lines)};
}

std::string ArchiveIndexEntries::format() const {
    std::string text;
    std::string mine;
    for (const auto& r : records_) {
        if (!r) continue;
        mine.clear();
        ReportArchive::write_record(*r, mine);
        const auto it = as_read_.find(r.get());
        text += it != as_read_.end() && it->second.formatted == mine ? it->second.lines : mine;
    }
    for (const std::string& l : tail_) text += l + "\r\n";
    return text;
}

namespace {

// An index opened for reading it whole in 64 KiB blocks rather than stdio's 4 KiB: a 50,000-entry
// index in some sixty reads. The buffer outlives the stream that uses it.
struct WholeIndexStream {
    static constexpr std::size_t kBlock = 64 * 1024;
    std::unique_ptr<char[]> buffer;
    platform::UniqueFile file;
};

WholeIndexStream whole_index_stream(platform::UniqueFile file) {
    WholeIndexStream s;
    s.file = std::move(file);
    if (s.file) {
        s.buffer = std::make_unique_for_overwrite<char[]>(WholeIndexStream::kBlock);
        std::setvbuf(s.file.get(), s.buffer.get(), _IOFBF, WholeIndexStream::kBlock);
    }
    return s;
}

WholeIndexStream open_whole_index(const std::string& path, IndexStamp* stamp) {
    return whole_index_stream(archive_io::open_index_for_reading(path, stamp));
}

// Reads five-line entries to the end of `f`, folding every line into `checksum`. With `entries`
// given, each entry's lines are kept as read and a torn last entry's lines go to its tail.
void read_entries(std::FILE* f, const std::string& archive_path, std::vector<std::unique_ptr<ReportRecord>>& out,
                  std::uint32_t& checksum, ArchiveIndexEntries* entries) {
    ScopedDateCache dates;
    std::string lines[5];
    std::string raw;
    for (;;) {
        int got = 0;
        while (got < 5 && read_nonblank_line(f, lines[got])) ++got;
        if (got < 5) {
            if (entries)
                for (int i = 0; i < got; ++i) entries->torn_tail().push_back(std::move(lines[i]));
            return;
        }
        for (const std::string& l : lines) fold_line_checksum(l, checksum);
        if (entries) {
            raw.clear();
            for (const std::string& l : lines) raw += l + "\r\n";
        }
        out.push_back(std::make_unique<ReportRecord>(lines[4], lines[3], lines[2], std::move(lines[0]), archive_path,
                                                     std::move(lines[1])));
        if (entries) entries->keep_as_read(out.back().get(), raw);
    }
}

}  // namespace

Result<void> change_archive_index(const std::string& archive_folder, const ArchiveIndexChange& change,
                                  ArchiveIndexState* after) {
    const ArchiveIndexLock lock(archive_folder);
    return change_archive_index(lock, change, after);
}

Result<void> change_archive_index(const ArchiveIndexLock& lock, const ArchiveIndexChange& change,
                                  ArchiveIndexState* after) {
    if (!lock.held()) return lock.busy_error();
    const std::string& folder = lock.folder();
    const std::string index = find_index_file(folder, kArchiveIndexName);

    ArchiveIndexState state;
    std::uint32_t read_checksum = 0;
    if (const EntryKind kind = probe_entry_at(lock.folder_fd(), get_path_file_name(index)).kind;
        kind != EntryKind::Missing) {
        // Anything there that cannot be read must not be replaced by what little is known. Read
        // in the locked folder, as it is written: never through a link put in the folder's place.
        platform::UniqueFd opened = kind == EntryKind::Unknown
                                        ? platform::UniqueFd()
                                        : platform::open_regular_at(lock.folder_fd(), get_path_file_name(index));
        const WholeIndexStream stream =
            whole_index_stream(platform::UniqueFile(opened ? ::fdopen(opened.get(), "rb") : nullptr));
        std::FILE* file = stream.file.get();
        if (!file) return archive_io::write_error(index);
        opened.release();  // the stream owns it now
        read_entries(file, folder, state.entries.records(), read_checksum, &state.entries);
        if (std::ferror(file)) return archive_io::write_error(index);
    }
    if (Result<void> changed = change(state.entries); !changed) return changed;
    if (state.entries.file_left()) {
        if (after) {
            // Looked at in the locked folder, never through a link put in its place.
            const EntryState left = probe_entry_at(lock.folder_fd(), get_path_file_name(index));
            state.stamp = left.present() ? stamp_of(left) : IndexStamp{};
            state.checksum = read_checksum;
            *after = std::move(state);
        }
        return {};
    }

    const std::int64_t old_size = std::max<std::int64_t>(get_file_size_64(index), 0);
    if (!archive_io::enough_space_for(folder, old_size + kIndexSpareBytes)) return archive_io::no_space_error();
    const std::string text = state.entries.format();
    // Through the locked folder's descriptor: a link put in the folder's place meanwhile leads
    // the write nowhere else.
    struct stat written {};
    if (!platform::atomic_write_file_at(lock.folder_fd(), get_path_file_name(index), text, after ? &written : nullptr))
        return archive_io::write_error(index);
    if (after) {
        // The file written, as written, while the lock still keeps other writers out: their next
        // change shows, and so does a folder swapped since.
        state.stamp = stamp_of(written);
        std::size_t start = 0;
        int line = 0;
        std::erase(state.entries.records(), nullptr);
        const int entry_lines = static_cast<int>(state.entries.records().size()) * 5;
        while (start < text.size() && line < entry_lines) {
            const std::size_t end = text.find("\r\n", start);
            fold_line_checksum(std::string_view(text).substr(start, end - start), state.checksum);
            start = end + 2;
            ++line;
        }
        *after = std::move(state);
    }
    return {};
}

// ---------------------------------------------------------------------------------------------

ReportArchive::ReportArchive(std::string path, std::string name, bool raw_only, bool skip_raw, bool read_index)
    : path_(std::move(path)), name_(std::move(name)), raw_only_(raw_only), skip_raw_(skip_raw) {
    path_ = platform::strip_trailing_slashes(std::move(path_));
    if (read_index) this->read_index();
}

ReportArchive::~ReportArchive() {
    while (!records_.empty()) records_.pop_back();
}

void ReportArchive::read_index() {
    const std::string index = get_index_path();
    const WholeIndexStream stream = open_whole_index(index, &stamp_);
    std::FILE* file = stream.file.get();
    if (!file) {
        // Something unreadable in its place: remember it, so it is not taken for a change.
        if (!read_index_stamp(index, stamp_)) stamp_ = IndexStamp{};
        return;
    }
    std::vector<std::unique_ptr<ReportRecord>> entries;
    read_entries(file, path_, entries, checksum_, nullptr);
    take_entries(entries);
}

void ReportArchive::take_entries(std::vector<std::unique_ptr<ReportRecord>>& entries) {
    entries_read_ = static_cast<std::int32_t>(entries.size());
    records_.clear();
    records_.reserve(entries.size());
    for (auto& r : entries) {
        const bool raw = r->get_type() == kReportRawEcg;
        if ((raw_only_ && !raw) || (skip_raw_ && raw)) continue;
        records_.push_back(std::move(r));
    }
}

Result<void> ReportArchive::update_index(const ArchiveIndexChange& change) {
    if (!safe_) return archive_io::write_error(get_index_path());
    const ArchiveIndexLock lock(path_);
    return update_index(lock, change);
}

Result<void> ReportArchive::update_index(const ArchiveIndexLock& lock, const ArchiveIndexChange& change) {
    if (!safe_) return archive_io::write_error(get_index_path());
    ArchiveIndexState state;
    if (Result<void> changed = change_archive_index(lock, change, &state); !changed) return changed;
    take_entries(state.entries.records());
    checksum_ = state.checksum;
    stamp_ = state.stamp;
    return {};
}

ReportRecord* ReportArchive::get_record(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) return nullptr;
    return records_[static_cast<std::size_t>(index)].get();
}

std::string ReportArchive::get_folder_name() const { return get_path_file_name(path_); }

std::string ReportArchive::get_index_path() const { return find_index_file(path_, kArchiveIndexName); }

std::int64_t ReportArchive::get_index_size() const { return get_file_size_64(get_index_path()); }

bool ReportArchive::index_changed_on_disk() const {
    IndexStamp s;
    if (!read_index_stamp(get_index_path(), s)) return !stamp_.is_zero();
    return !(s == stamp_);
}

void ReportArchive::write_record(const ReportRecord& record, std::string& out) {
    std::string size_text = record.get_size_text();
    if (record.is_confirmed()) size_text += 'C';
    append_archive_entry(out, record.get_name(), record.name_as_read(), record.get_description(),
                         record.description_as_read(), record.get_file_date_text(), size_text, record.get_type_name());
}

ReportRecord* ReportArchive::find_record(std::string_view folder_name) const {
    for (const auto& r : records_)
        if (r && platform::iequals(r->get_name(), folder_name)) return r.get();
    return nullptr;
}

void ReportArchive::add_record(std::unique_ptr<ReportRecord> record) {
    if (record) records_.push_back(std::move(record));
}

}  // namespace tv
