#include "tolbex/archive/report_archive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"

namespace tv {

namespace {

IndexStamp stamp_of(const struct stat& st) {
    IndexStamp s;
    s.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.size = static_cast<std::int64_t>(st.st_size);
    s.inode = static_cast<std::uint64_t>(st.st_ino);
    s.device = static_cast<std::uint64_t>(st.st_dev);
    return s;
}

}  // namespace

const char* archive_error_caption(int code) {
    switch (code) {
        case kArchiveNoSpace: return "Not enough disk space";
        case kArchiveWriteFailed: return "File Error ";  // the trailing space is part of the caption
        case kArchiveDeleteFailed: return "File Error";
        case kArchiveConfigRefused: return "Archive configuration";
        default: return "";
    }
}

// ---------------------------------------------------------------------------------------------
// Helpers shared by the index readers and writers of this folder.

namespace archive_io {

platform::UniqueFile open_index_for_reading(const std::string& path, IndexStamp* stamp) {
    // Non-blocking, so that a FIFO planted under the index name cannot stall the reader.
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) return nullptr;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    platform::UniqueFile f(::fdopen(fd.get(), "r"));
    if (!f) return nullptr;
    fd.release();  // the stream owns it now
    if (stamp) *stamp = stamp_of(st);
    return f;
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

}  // namespace archive_io

bool read_index_stamp(const std::string& path, IndexStamp& stamp) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    stamp = stamp_of(st);
    return true;
}

std::string find_index_file(const std::string& folder, std::string_view name) {
    std::string exact = join_path(folder, std::string(name));
    struct stat st;
    if (::lstat(exact.c_str(), &st) == 0) return exact;
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

ArchiveIndexLock::ArchiveIndexLock(const std::string& folder, int wait_ms) {
    fd_.reset(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd_) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

ArchiveIndexLock::~ArchiveIndexLock() = default;

// ---------------------------------------------------------------------------------------------

ReportArchive::ReportArchive(std::string path, std::string name, bool raw_only, bool skip_raw, bool read_index)
    : path_(std::move(path)), name_(std::move(name)) {
    path_ = platform::strip_trailing_slashes(std::move(path_));
    if (read_index) this->read_index(raw_only, skip_raw);
}

ReportArchive::~ReportArchive() {
    while (!records_.empty()) records_.pop_back();
}

void ReportArchive::read_index(bool raw_only, bool skip_raw) {
    const std::string index = get_index_path();
    platform::UniqueFile file = archive_io::open_index_for_reading(index, &stamp_);
    std::FILE* f = file.get();
    if (!f) {
        // Something unreadable in its place: remember it, so it is not taken for a change.
        if (!read_index_stamp(index, stamp_)) stamp_ = IndexStamp{};
        return;
    }
    ScopedDateCache dates;
    std::string lines[5];
    for (;;) {
        int got = 0;
        while (got < 5 && read_nonblank_line(f, lines[got])) ++got;
        if (got < 5) break;  // one to four lines left over are ignored
        for (const std::string& l : lines) fold_line_checksum(l, checksum_);
        ++entries_read_;
        const ReportType type = report_type_from_path(lines[0]);
        if ((raw_only && type != kReportRawEcg) || (skip_raw && type == kReportRawEcg)) {
            ++entries_dropped_;
            continue;
        }
        records_.push_back(std::make_unique<ReportRecord>(lines[4], lines[3], lines[2], std::move(lines[0]), path_,
                                                          std::move(lines[1])));
    }
    entries_checksum_ = checksum_;
}

ReportRecord* ReportArchive::get_record(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) return nullptr;
    return records_[static_cast<std::size_t>(index)].get();
}

std::string ReportArchive::get_folder_name() const {
    const auto p = path_.rfind('/');
    if (p == std::string::npos) return path_;
    return path_.substr(p + 1);
}

std::string ReportArchive::get_index_path() const { return find_index_file(path_, kArchiveIndexName); }

std::int64_t ReportArchive::get_index_size() const { return get_file_size_64(get_index_path()); }

void ReportArchive::read_archinfo_mtime() {
    IndexStamp s;
    stamp_ = read_index_stamp(get_index_path(), s) ? s : IndexStamp{};
}

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

Result<void> ReportArchive::write_archinfo() {
    const std::string index = get_index_path();
    if (!safe_ || entries_dropped_ > 0) return archive_io::write_error(index);
    ArchiveIndexLock lock(path_);

    // Entries that another writer appended since the index was read are carried over, so that a
    // rewrite never drops a report stored meanwhile. Anything other than a pure append (the
    // entries read before are no longer the file's first entries) is replaced, as before.
    IndexStamp current;
    if (read_index_stamp(index, current) && !(current == stamp_)) {
        if (platform::UniqueFile file = archive_io::open_index_for_reading(index, nullptr)) {
            std::FILE* f = file.get();
            std::string lines[5];
            std::uint32_t sum = 0;
            std::int32_t entry = 0;
            std::vector<std::unique_ptr<ReportRecord>> appended;
            for (;;) {
                int got = 0;
                while (got < 5 && read_nonblank_line(f, lines[got])) ++got;
                if (got < 5) break;
                if (entry < entries_read_) {
                    for (const std::string& l : lines) fold_line_checksum(l, sum);
                } else {
                    appended.push_back(std::make_unique<ReportRecord>(lines[4], lines[3], lines[2], std::move(lines[0]),
                                                                      path_, std::move(lines[1])));
                }
                ++entry;
            }
            if (entry >= entries_read_ && sum == entries_checksum_)
                for (auto& r : appended) records_.push_back(std::move(r));
        }
    }

    const std::int64_t old_size = get_file_size_64(index);
    if (!archive_io::enough_space_for(path_, old_size + kIndexSpareBytes)) return archive_io::no_space_error();
    std::string text;
    std::int32_t written = 0;
    for (const auto& r : records_) {
        if (!r) continue;
        write_record(*r, text);
        ++written;
    }
    if (!platform::atomic_write_file(index, text)) return archive_io::write_error(index);
    read_archinfo_mtime();
    // What this program wrote is now what it has read.
    std::uint32_t sum = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        fold_line_checksum(std::string_view(text).substr(start, end - start), sum);
        start = end + 2;
    }
    entries_read_ = written;
    entries_checksum_ = sum;
    return {};
}

ReportRecord* ReportArchive::find_record(std::string_view folder_name) const {
    for (const auto& r : records_)
        if (r && platform::iequals(r->get_name(), folder_name)) return r.get();
    return nullptr;
}

Result<void> ReportArchive::delete_report_folder(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) return fail(kArchiveNotFound);
    auto& slot = records_[static_cast<std::size_t>(index)];
    if (!slot) return fail(kArchiveNotFound);
    Result<void> result;
    if (!safe_ || !slot->has_safe_name()) {
        // A name that is not a plain component may point anywhere: never delete through it.
        result = fail(kArchiveDeleteFailed, "Couldn't delete report folder: " + join_path(path_, slot->get_name()));
    } else {
        const std::string folder = slot->get_folder_path();
        struct stat st;
        if (::lstat(folder.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode) || !delete_folder_tree(folder, true, false))
                result = fail(kArchiveDeleteFailed, "Couldn't delete report folder: " + folder);
        }
    }
    slot.reset();
    return result;
}

void ReportArchive::compact() {
    std::vector<std::unique_ptr<ReportRecord>> kept;
    kept.reserve(records_.size());
    for (auto& r : records_)
        if (r) kept.push_back(std::move(r));
    records_ = std::move(kept);
}

void ReportArchive::add_record(std::unique_ptr<ReportRecord> record) {
    if (record) records_.push_back(std::move(record));
}

}  // namespace tv
