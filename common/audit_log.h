// The audit log: one record per traced action on a report, appended to a monthly file in the
// archive folder, and the program's start and end in the system event log.
//
// Log file TVyyyymm.LOG: a u32 LE register at offset 0, then the records back to back. The
// register is the reflected CRC-32 (0xEDB88320) started at 0xFFFFFFFF over every byte from
// offset 4, stored without the final inversion. A new file holds four zero bytes until it is
// first closed; they seal no records.
//
// Record: u32 L (= the four string lengths + 16), user, IP address, program, message (each NUL
// terminated), f64 OLE date (local time), u32 status (0). Bytes 4..L-1 are stored rotated left by
// one bit; the length word and the status are plain. A record is L + 4 bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/handles.h"

namespace tv {

// Message formats, shared by every place that logs. Each takes the text and the lower-cased file
// names of two paths; formats with fewer "%s" ignore the later ones.
inline constexpr const char* kAuditViewFormatted = "View formatted report - %s in %s";
inline constexpr const char* kAuditViewSigned = "View signed report - %s in %s";
inline constexpr const char* kAuditPrint = "Print report - %s in %s";
inline constexpr const char* kAuditMail = "Mail report - %s in %s";
inline constexpr const char* kAuditDelete = "Delete report - %s in %s";
inline constexpr const char* kAuditExport = "Export report - %s in %s";
inline constexpr const char* kAuditMove = "Move report to - %s in %s";
inline constexpr const char* kAuditCopy = "Copy report to - %s in %s";
inline constexpr const char* kAuditSaveModified = "Save modified report - %s in %s";
inline constexpr const char* kAuditTimiCreate = "TIMI create data - %s in %s";
inline constexpr const char* kAuditTimiLoadArchive = "TIMI load archive - %s in %s";
inline constexpr const char* kAuditTimiSaveModified = "TIMI save modified data - %s in %s";
inline constexpr const char* kAuditTimiSaveArchive = "TIMI save archive - %s in %s";
inline constexpr const char* kAuditTimiSaveSummary = "TIMI save summary - %s";
inline constexpr const char* kAuditTimiSign = "TIMI sign report %s in %s as %s";
inline constexpr const char* kAuditTimiSaveArrhythmiaSummary = "TIMI save arrhythmia summary - %s";
// Not a format: the name of the signed data file, kept with the formats it travels with.
inline constexpr const char* kSignedDataFileName = "signed.dat";

inline constexpr const char* kAuditFormats[17] = {
    kAuditViewFormatted,
    kAuditViewSigned,
    kAuditPrint,
    kAuditMail,
    kAuditDelete,
    kAuditExport,
    kAuditMove,
    kAuditCopy,
    kAuditSaveModified,
    kAuditTimiCreate,
    kAuditTimiLoadArchive,
    kAuditTimiSaveModified,
    kAuditTimiSaveArchive,
    kAuditTimiSaveSummary,
    kAuditTimiSign,
    kAuditTimiSaveArrhythmiaSummary,
    kSignedDataFileName,
};

// Shown when the log file cannot be created or opened; %s is the system's description.
inline constexpr const char* kCrcFileOpenError =
    "There was a serious file opening a CRCFile.\nThe operating system returned the following cause : %s";

// Starting value of a new file's register (the register itself is common/bytes.h's crc32_update).
inline constexpr std::uint32_t kCrcInitial = 0xFFFFFFFFu;
// Taking turns with other writers: how long a writer waits for the lock. A waiter queues in the
// kernel, so many writers that each hold it briefly all get their turn.
inline constexpr int kAuditOpenWaitMs = 6000;

struct AuditLogRecord {
    std::string user, ip, program, message;
    double date = 0;           // OLE automation date, local time
    std::uint32_t status = 0;  // 0 = valid

    // The stored bytes (rotated as on disk). A string is cut at an embedded NUL.
    std::vector<std::uint8_t> serialize() const;
    // Reads one stored record from `avail` bytes at `p`. False when the bytes are not a whole,
    // well-formed record (`out` is then unspecified).
    static bool parse(const std::uint8_t* p, std::size_t avail, AuditLogRecord& out, std::size_t& consumed);
};

void rotate_bytes_left(std::uint8_t* bytes, std::size_t count);
void rotate_bytes_right(std::uint8_t* bytes, std::size_t count);
// Days since 1899-12-30 00:00 with the time of day as fraction, for the local time of `t`.
double ole_date_from_time(std::int64_t t);

// A log file with its running CRC register. While open, the file is held under an exclusive lock
// (an open-file-description lock, never inherited by a child), so writers in other processes and
// on other computers take turns: the register read at open, the appended records and the register
// written back at close all happen under one lock.
class CRCFile {
public:
    CRCFile() = default;
    ~CRCFile();
    CRCFile(const CRCFile&) = delete;
    CRCFile& operator=(const CRCFile&) = delete;

    // Starts the file afresh (placeholder, register 0xFFFFFFFF), discarding what it held. The old
    // content is cut only once the lock is held.
    bool create(const std::string& path, bool take_turns);
    // Opens for appending, creating the file when missing. With `take_turns`, a lock held by another
    // writer is waited for up to kAuditOpenWaitMs; without, tried once.
    // A file of 1 to 3 bytes is no log file and is refused untouched. Records a dead writer left
    // unsealed are cut off first; a never-closed file's placeholder seals none.
    bool open(const std::string& path, bool take_turns);
    // Appends and folds the bytes into the register. On a failed write the file is cut back to its
    // previous end and the register kept, so file and register stay consistent; false then.
    bool write(const void* data, std::size_t size);
    // Writes the register back and releases the file. When the register cannot be written, what was
    // appended since open is cut off again (the old register then still matches) and the result is false.
    bool close();
    bool is_open() const { return static_cast<bool>(fd_); }
    std::uint32_t crc() const { return crc_; }
    const std::string& path() const { return path_; }
    // What stood at the file's name when the last open refused it (no message was shown then:
    // the caller names the file); None after any other outcome.
    platform::SharedFileFault refused() const { return refused_; }

private:
    bool open_locked(const std::string& path, bool take_turns, bool fresh);

    platform::UniqueFd fd_;
    std::uint32_t crc_ = kCrcInitial;
    std::uint64_t end_ = 0;
    std::uint64_t opened_end_ = 0;         // where this opening began to append
    std::uint32_t opened_stored_reg_ = 0;  // offset 0 at open: a new file's placeholder is 0
    bool pending_written_ = false;         // the note of an unsealed append is on disk
    std::string path_;
    platform::UniqueFd folder_;  // the log's folder: its note is reached through it
    std::string name_;
    platform::SharedFileFault refused_ = platform::SharedFileFault::None;
};

class AuditLog {
public:
    // Keeps the program name, the logged-on user's name and this computer's IP address.
    explicit AuditLog(std::string program);

    // Opens this month's file in the folder of `path` (callers pass a path inside the archive).
    bool open(const std::string& path);
    // Appends one record with the current time and closes the log. False when the log is not
    // open or the record could not be written.
    bool write_entry(const char* format, const std::string& text, const std::string& path_a, const std::string& path_b);
    void close();
    bool is_open() const { return file_.is_open(); }
    // Why the last open() refused the log file, naming it ("the log file "<path>" is a link, which
    // is not followed"); empty when it was not refused for what stands at its name.
    std::string refusal_text() const;

    const std::string& folder() const { return folder_; }
    const std::string& user() const { return user_; }
    const std::string& ip() const { return ip_; }
    const std::string& program() const { return program_; }

    // "<folder>/TV<yyyy><mm>.LOG" for the local month of `time`.
    static std::string make_file_name(const std::string& folder, std::int64_t time);

private:
    std::string folder_, tried_;
    CRCFile file_;
    std::string user_, ip_, program_;
};

// The message of a record: `format` with "%s" replaced by the text and the lower-cased file names
// of the two paths, in turn ("%%" is a percent sign). No length limit.
std::string format_audit_message(const char* format, const std::string& text, const std::string& path_a,
                                 const std::string& path_b);

// This program as a source of the system event log.
class EventLogSource {
public:
    // Records the source's registration (message file, supported types) in the machine registry.
    EventLogSource(std::string source, const std::string& message_file);
    // Reports an information event with the logged-on user; false (and a message) on failure.
    bool report_event(int event_id);
    const std::string& source() const { return source_; }

private:
    std::string source_;
};

inline constexpr const char* kEventLogRegistryKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// This computer's address (first non-loopback interface); empty on failure.
std::string get_computer_ip_address();

// A stored log file as read back (the verifier, the fuzzer). Nothing read is trusted: every
// length is checked against the bytes that remain.
struct AuditFileCheck {
    bool readable = false;  // the file could be read and holds at least the register
    bool crc_ok = false;    // the stored register equals the one computed over the records
                            // (a never-closed file's zero placeholder stands for 0xFFFFFFFF)
    bool complete = false;  // every byte after the register belongs to a well-formed record
    std::uint32_t stored_crc = 0;
    std::uint32_t computed_crc = 0;
    std::vector<AuditLogRecord> records;  // the well-formed records up to the first bad one
};
AuditFileCheck read_audit_log_file(const std::string& path);

}  // namespace tv
