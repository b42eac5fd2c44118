#include "common/audit_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <new>
#include <optional>

#include "common/bytes.h"
#include "common/files.h"
#include "common/registry.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/event_log.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/system.h"

namespace tv {

namespace {

// Dates are stored as the host's double; the format is little-endian.
static_assert(std::endian::native == std::endian::little);

std::string error_text(int err) {
    char buffer[512];
    // GNU strerror_r: the text may or may not be placed in the buffer.
    return strerror_r(err, buffer, sizeof buffer);
}

void report_open_error(int err) { show_error(format_string(kCrcFileOpenError, error_text(err).c_str())); }

// A string as stored: C text, so it ends at the first NUL.
std::string_view c_text(const std::string& s) {
    const auto nul = s.find('\0');
    return nul == std::string::npos ? std::string_view(s) : std::string_view(s.data(), nul);
}

enum class LockResult { Locked, Busy, Error };

// Between appending records and writing the register back, a writer that dies leaves a register
// that no longer matches, and every later writer would build on it. So before its first append
// an opening notes where the file ended and the register it had, in a hidden file beside the log
// (".TVyyyymm.LOG.pending"), and removes the note once the register is back. A note whose register
// is still the one at offset 0 marks records that were never sealed: they are not part of the log.
struct PendingAppend {
    std::uint64_t end = 0;
    std::uint32_t reg = 0;
};

std::string pending_name(const std::string& log_name) { return "." + log_name + ".pending"; }

// The note is taken only as a plain file of one name that is no link: a planted FIFO never holds
// the read, and a link never leads the writer to truncate another file.
bool read_pending(int folder_fd, const std::string& log_name, PendingAppend& out) {
    const platform::SharedFile note = platform::open_shared_file_at(folder_fd, pending_name(log_name), O_RDONLY, false);
    if (!note) return false;
    std::uint8_t b[13];
    const ssize_t n = ::pread(note.fd.get(), b, sizeof b, 0);
    if (n != 12) return false;  // cut short: the writer died before appending anything
    out.end = load_le64(b);
    out.reg = load_le32(b + 8);
    return true;
}

// Best effort: a folder that takes no new file still gets its log, only without the note.
void write_pending(int folder_fd, const std::string& log_name, const PendingAppend& p) {
    const std::string name = pending_name(log_name);
    platform::SharedFile note = platform::open_shared_file_at(folder_fd, name, O_WRONLY, true);
    if (!note) return;
    std::uint8_t b[12];
    store_le64(b, p.end);
    store_le32(b + 8, p.reg);
    if (::ftruncate(note.fd.get(), 0) != 0 || !platform::pwrite_all(note.fd.get(), b, sizeof b, 0)) {
        note.fd.reset();
        ::unlinkat(folder_fd, name.c_str(), 0);
    }
}

// The length of the sealed log: `size`, or where the unsealed records of a dead writer begin.
std::uint64_t sealed_size(int folder_fd, const std::string& log_name, std::uint32_t stored_reg, std::uint64_t size) {
    PendingAppend p;
    if (!read_pending(folder_fd, log_name, p)) return size;
    return p.reg == stored_reg && p.end >= 4 && p.end <= size ? p.end : size;
}

// The folder of a log path, opened for the log and its note to be reached relative to it. It is
// an archive folder that others write: a link in its place is refused (errno ELOOP).
platform::UniqueFd open_log_folder(const std::string& path, std::string& name) {
    const std::string folder = get_path_folder(path);
    name = get_path_file_name(path);
    OutsideRefusal why = OutsideRefusal::None;
    platform::UniqueFd fd = open_folder_no_link(folder.empty() ? "." : folder, &why);
    if (why == OutsideRefusal::Link) errno = ELOOP;
    return fd;
}

// What a new file holds at offset 0 until it is first closed.
constexpr std::uint32_t kPlaceholder = 0;

// Folds `count` bytes of the file from `at` into `reg`; false on a read error.
bool fold_file_bytes(int fd, std::uint64_t at, std::uint64_t count, std::uint32_t& reg) {
    std::uint8_t buffer[16384];
    while (count > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof buffer));
        if (!platform::pread_all(fd, buffer, n, at)) return false;
        reg = crc32_update(reg, buffer, n);
        at += n;
        count -= n;
    }
    return true;
}

struct SealedLog {
    std::uint64_t size = 4;           // the log ends here; later bytes were never sealed
    std::uint32_t reg = kCrcInitial;  // the register that seals it, to go on from
};

// The sealed part of a log file of `size` >= 4 bytes whose offset 0 holds `stored`; nullopt on a
// read error. A first writer that died before closing left the placeholder, which seals nothing:
// without this, the next writer would go on from register 0 and the month would never verify. A
// zero can also be a real register (one in 2^32), so the longest run of whole records whose
// register comes to zero stays.
std::optional<SealedLog> find_sealed(int fd, int folder_fd, const std::string& log_name, std::uint32_t stored,
                                     std::uint64_t size) {
    size = sealed_size(folder_fd, log_name, stored, size);
    if (stored != kPlaceholder) return SealedLog{size, stored};
    SealedLog sealed;
    std::uint32_t reg = kCrcInitial;
    for (std::uint64_t at = 4; size - at >= 4;) {
        std::uint8_t length_word[4];
        if (!platform::pread_all(fd, length_word, 4, at)) return std::nullopt;
        const std::uint64_t record = std::uint64_t(load_le32(length_word)) + 4;
        if (record < 20 || record > size - at) break;
        if (!fold_file_bytes(fd, at, record, reg)) return std::nullopt;
        at += record;
        if (reg == kPlaceholder) sealed = {at, reg};
    }
    return sealed;
}

// A whole-file open-file-description lock: released when the descriptor closes, never held by
// a child. With `take_turns` a busy lock is waited for, as writers do.
LockResult lock_whole_file(int fd, bool exclusive, bool take_turns) {
    switch (platform::lock_open_file_within(fd, exclusive, take_turns ? kAuditOpenWaitMs : 0)) {
        case platform::LockFailure::None: return LockResult::Locked;
        case platform::LockFailure::Busy: return LockResult::Busy;
        default: return LockResult::Error;
    }
}

}  // namespace

void rotate_bytes_left(std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>((bytes[i] << 1) | (bytes[i] >> 7));
}

void rotate_bytes_right(std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>((bytes[i] >> 1) | (bytes[i] << 7));
}

double ole_date_from_time(std::int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!localtime_r(&tt, &tm)) return 0;
    // Days from 1899-12-30 to the civil date (proleptic Gregorian).
    const long long y = tm.tm_year + 1900LL - (tm.tm_mon < 2 ? 1 : 0);
    const unsigned m = static_cast<unsigned>(tm.tm_mon + 1);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + tm.tm_mday - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days_since_1970 = era * 146097 + doe - 719468;
    const long long days = days_since_1970 + 25569;  // 1899-12-30 .. 1970-01-01
    const double seconds = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
    return static_cast<double>(days) + seconds / 86400.0;
}

// ---------------------------------------------------------------------------------------------
// Records

std::vector<std::uint8_t> AuditLogRecord::serialize() const {
    const std::string_view texts[4] = {c_text(user), c_text(ip), c_text(program), c_text(message)};
    std::size_t strings = 0;
    for (auto t : texts) strings += t.size() + 1;
    const std::size_t length = strings + 12;  // L: strings, date, status
    std::vector<std::uint8_t> out(length + 4);
    store_le32(out.data(), static_cast<std::uint32_t>(length));
    std::size_t at = 4;
    for (auto t : texts) {
        std::memcpy(out.data() + at, t.data(), t.size());
        at += t.size();
        out[at++] = 0;
    }
    std::memcpy(out.data() + at, &date, 8);  // little-endian host
    at += 8;
    store_le32(out.data() + at, status);
    rotate_bytes_left(out.data() + 4, length - 4);
    return out;
}

bool AuditLogRecord::parse(const std::uint8_t* p, std::size_t avail, AuditLogRecord& out, std::size_t& consumed) {
    if (avail < 4) return false;
    const std::uint32_t length = load_le32(p);
    // At least four empty strings, the date and the status; and no more than what is there.
    if (length < 16 || length > avail - 4) return false;
    const std::size_t strings_size = length - 12;
    std::vector<std::uint8_t> body(p + 4, p + length);
    rotate_bytes_right(body.data(), body.size());

    std::string* fields[4] = {&out.user, &out.ip, &out.program, &out.message};
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const void* nul = std::memchr(body.data() + at, 0, strings_size - at);
        if (!nul) return false;
        const std::size_t end = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - body.data());
        fields[i]->assign(reinterpret_cast<const char*>(body.data() + at), end - at);
        at = end + 1;
    }
    if (at != strings_size) return false;  // the length word must end exactly at the message's NUL
    std::memcpy(&out.date, body.data() + strings_size, 8);
    out.status = load_le32(p + length);
    consumed = std::size_t(length) + 4;
    return true;
}

// ---------------------------------------------------------------------------------------------
// CRCFile

CRCFile::~CRCFile() { close(); }

bool CRCFile::create(const std::string& path, bool take_turns) { return open_locked(path, take_turns, true); }

bool CRCFile::open(const std::string& path, bool take_turns) { return open_locked(path, take_turns, false); }

bool CRCFile::open_locked(const std::string& path, bool take_turns, bool fresh) {
    close();
    // Never truncate on open: another writer may be appending. What the file holds is judged only
    // once the lock is ours.
    // The log lives in an archive folder that others write: a link, a FIFO or a second name of
    // another file planted under its name is refused, never written through.
    std::string name;
    platform::UniqueFd folder = open_log_folder(path, name);
    if (!folder) {
        report_open_error(errno);
        return false;
    }
    refused_ = platform::SharedFileFault::None;
    platform::SharedFile opened = platform::open_shared_file_at(folder.get(), name, O_RDWR, true);
    platform::UniqueFd fd = std::move(opened.fd);
    if (!fd) {
        refused_ = opened.fault;
        if (refused_ == platform::SharedFileFault::None) report_open_error(errno);
        return false;
    }
    auto fail = [&fd](int err, bool report) {
        fd.reset();
        if (report) report_open_error(err);
        return false;
    };
    struct stat st {};
    switch (lock_whole_file(fd.get(), true, take_turns)) {
        case LockResult::Locked: break;
        case LockResult::Busy: return fail(EAGAIN, false);  // the caller says the log is busy
        case LockResult::Error: return fail(errno, true);
    }
    if (::fstat(fd.get(), &st) != 0) return fail(errno, true);
    std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (fresh && size > 0) {
        if (::ftruncate(fd.get(), 0) != 0) return fail(errno, true);
        size = 0;
    }
    std::uint32_t reg = kCrcInitial;
    std::uint32_t stored_reg = kPlaceholder;
    if (size >= 4) {
        // A writer that died before sealing its records: cut them off, so the register holds again.
        std::uint8_t stored[4];
        if (!platform::pread_all(fd.get(), stored, 4, 0)) return fail(errno, true);
        stored_reg = load_le32(stored);
        const std::optional<SealedLog> sealed = find_sealed(fd.get(), folder.get(), name, stored_reg, size);
        if (!sealed) return fail(errno, true);
        if (sealed->size < size) {
            if (::ftruncate(fd.get(), static_cast<off_t>(sealed->size)) != 0) return fail(errno, true);
            size = sealed->size;
        }
        reg = sealed->reg;
    }
    ::unlinkat(folder.get(), pending_name(name).c_str(), 0);
    if (size == 0) {
        const std::uint8_t placeholder[4] = {0, 0, 0, 0};
        if (!platform::pwrite_all(fd.get(), placeholder, 4, 0)) {
            const int err = errno;
            if (::ftruncate(fd.get(), 0) != 0) { /* the file stays short; a later open refuses it */
            }
            return fail(err, true);
        }
        size = 4;
    } else if (size < 4) {
        // Not a log file (a writer died while starting it): leave it for someone to look at.
        return fail(EINVAL, false);
    }
    fd_ = std::move(fd);
    crc_ = reg;
    end_ = size;
    opened_end_ = size;
    opened_stored_reg_ = stored_reg;
    pending_written_ = false;
    path_ = path;
    folder_ = std::move(folder);
    name_ = name;
    return true;
}

bool CRCFile::write(const void* data, std::size_t size) {
    if (!fd_) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (!pending_written_) {
        write_pending(folder_.get(), name_, PendingAppend{opened_end_, opened_stored_reg_});
        pending_written_ = true;
    }
    if (!platform::pwrite_all(fd_.get(), p, size, end_)) {
        // Leave no partial record behind; the register still describes the file.
        const int err = errno;
        while (::ftruncate(fd_.get(), static_cast<off_t>(end_)) != 0 && errno == EINTR) {}
        errno = err;
        return false;
    }
    crc_ = crc32_update(crc_, p, size);
    end_ += size;
    return true;
}

bool CRCFile::close() {
    if (!fd_) return true;
    std::uint8_t stored[4];
    store_le32(stored, crc_);
    bool ok = platform::pwrite_all(fd_.get(), stored, 4, 0);
    if (!ok && end_ > opened_end_) {
        // The old register still stands: drop what this opening appended, so that it holds again.
        if (::ftruncate(fd_.get(), static_cast<off_t>(opened_end_)) != 0) { /* the note still marks them */
        }
    }
    if (pending_written_) ::unlinkat(folder_.get(), pending_name(name_).c_str(), 0);
    if (!fd_.close()) ok = false;  // also releases the lock
    path_.clear();
    folder_.reset();
    name_.clear();
    return ok;
}

// ---------------------------------------------------------------------------------------------
// AuditLog

AuditLog::AuditLog(std::string program)
    : user_(get_user_name()), ip_(get_computer_ip_address()), program_(std::move(program)) {}

std::string AuditLog::make_file_name(const std::string& folder, std::int64_t time) {
    const std::time_t tt = static_cast<std::time_t>(time);
    std::tm tm{};
    if (!localtime_r(&tt, &tm)) tm = std::tm{};
    const std::string name = format_string("TV%d%02i.LOG", tm.tm_year + 1900, tm.tm_mon + 1);
    return folder.empty() ? name : join_path(folder, name);
}

bool AuditLog::open(const std::string& path) {
    close();
    const std::string folder = get_path_folder(path);
    std::string file = make_file_name(folder, platform::system().now());
    // The folder may come from another system that spells the name in another case.
    if (auto existing = platform::find_name_ci(folder.empty() ? "." : folder, get_path_file_name(file)))
        file = folder.empty() ? get_path_file_name(*existing) : *existing;
    tried_ = file;
    if (!file_.open(file, true)) return false;
    folder_ = folder;
    return true;
}

std::string AuditLog::refusal_text() const {
    const std::string file = "the log file \"" + tried_ + "\"";
    switch (file_.refused()) {
        case platform::SharedFileFault::None: break;
        case platform::SharedFileFault::Link: return file + " is a link, which is not followed";
        case platform::SharedFileFault::NotRegular:
            return file + " is not a plain file (a FIFO, a device or a folder stands at its name)";
        case platform::SharedFileFault::SeveralNames:
            return file + " has another name elsewhere too (a hard link), so it is not written";
    }
    return {};
}

void AuditLog::close() {
    file_.close();
    folder_.clear();
}

std::string format_audit_message(const char* format, const std::string& text, const std::string& path_a,
                                 const std::string& path_b) {
    const std::string args[3] = {text, to_lower_copy(get_path_file_name(path_a)),
                                 to_lower_copy(get_path_file_name(path_b))};
    std::string out;
    std::size_t next = 0;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < 3) out += args[next];
            ++next;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

bool AuditLog::write_entry(const char* format, const std::string& text, const std::string& path_a,
                           const std::string& path_b) {
    if (!file_.is_open() || !format) return false;
    AuditLogRecord record;
    record.user = user_;
    record.ip = ip_;
    record.program = program_;
    record.message = format_audit_message(format, text, path_a, path_b);
    record.date = ole_date_from_time(platform::system().now());
    record.status = 0;
    const std::vector<std::uint8_t> bytes = record.serialize();
    const bool written = file_.write(bytes.data(), bytes.size());
    const bool closed = file_.close();
    folder_.clear();
    return written && closed;
}

// ---------------------------------------------------------------------------------------------
// Event log

EventLogSource::EventLogSource(std::string source, const std::string& message_file) : source_(std::move(source)) {
    const std::string key = kEventLogRegistryKey + source_;
    reg_set_string(HKEY_LOCAL_MACHINE, key, "EventMessageFile", message_file);
    reg_set_dword(HKEY_LOCAL_MACHINE, key, "TypesSupported", 7);
}

bool EventLogSource::report_event(int event_id) {
    if (source_.empty()) {
        show_error("Could not register the event source.");
        return false;
    }
    const std::string user = get_user_name();
    if (user.empty()) show_error("Could not obtain the account SID.");
    if (!platform::event_log().report(source_, platform::EventType::Information, 0, event_id, user)) {
        show_error("Could not report the event.");
        return false;
    }
    return true;
}

std::string get_computer_ip_address() {
    // Resolving the host name gives a loopback address on many Linux machines; the platform asks
    // the interfaces first.
    return platform::system().ipv4_address();
}

// ---------------------------------------------------------------------------------------------
// Reading a stored file

AuditFileCheck read_audit_log_file(const std::string& path) {
    AuditFileCheck check;
    std::string name;
    const platform::UniqueFd folder = open_log_folder(path, name);
    platform::UniqueFd fd = folder ? platform::open_regular_at(folder.get(), name) : platform::UniqueFd();
    if (!fd) return check;
    struct stat st {};
    std::vector<std::uint8_t> bytes;
    // Read under a shared lock, so that no writer is between its records and its register.
    bool ok = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
              lock_whole_file(fd.get(), false, true) == LockResult::Locked && ::fstat(fd.get(), &st) == 0 &&
              st.st_size >= 4;
    std::uint8_t stored[4];
    ok = ok && platform::pread_all(fd.get(), stored, 4, 0);
    // Records a dead writer never sealed are not part of the log.
    std::optional<SealedLog> sealed;
    if (ok)
        sealed = find_sealed(fd.get(), folder.get(), name, load_le32(stored), static_cast<std::uint64_t>(st.st_size));
    ok = ok && sealed;
    if (ok) {
        try {
            bytes.resize(static_cast<std::size_t>(sealed->size));
            ok = platform::pread_all(fd.get(), bytes.data(), bytes.size(), 0);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    fd.reset();
    if (!ok) return check;

    check.readable = true;
    check.stored_crc = load_le32(bytes.data());
    check.computed_crc = crc32_update(kCrcInitial, bytes.data() + 4, bytes.size() - 4);
    check.crc_ok = sealed->reg == check.computed_crc;
    std::size_t at = 4;
    while (at < bytes.size()) {
        AuditLogRecord record;
        std::size_t consumed = 0;
        if (!AuditLogRecord::parse(bytes.data() + at, bytes.size() - at, record, consumed)) break;
        check.records.push_back(std::move(record));
        at += consumed;
    }
    check.complete = at == bytes.size();
    return check;
}

}  // namespace tv
