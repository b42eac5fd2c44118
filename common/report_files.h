// A report folder as one open object: the folder is opened once, never through a link (within an
// archive group each step, the archive and then the report folder, is opened relative to the one
// above it), and every file of it is opened relative to that descriptor through safe_open.h: a
// regular file reached without a link, of one name only, opened without waiting (a FIFO or device
// never holds a run), and no larger than its kind may be, checked before anything is read. What
// another account of the archive's group places in the folder therefore never carries a file
// only this account can read into an output, and never hangs or swells a run. The path is kept
// for messages, audit records and writers. Copies share the descriptor. No call throws.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/safe_open.h"

namespace tv {

// The kinds of file read from a report folder or beside one, each with its own upper size.
enum class ReportFileKind {
    Page,              // PAGE.<n>
    Bitmap,            // a bitmap a page names
    Metafile,          // *.emf of a 12-lead report
    EmfList,           // emflist.dat
    Text,              // PATIENT.TXT, VERSION.TXT, CONFIRM.TXT, SUMMARY.TXT and the other small texts
    TimiDay,           // a TIMI day file, the day list and the location file
    TimiData,          // DATA.TIMI
    ArrhythmiaEvents,  // arrhevnt.txt
    SignatureBitmap,   // a signature bitmap
    SignatureList,     // the list of signature bitmaps
};

// The largest file of `kind` that is read, in bytes.
std::uint64_t report_file_limit(ReportFileKind kind);

class ReportFolder {
public:
    // Not open.
    ReportFolder() = default;
    // Opens the folder `path` relative to the folder that holds it (reached as named: the caller
    // chose it), never through a link itself. Not open on failure; refusal() says why.
    explicit ReportFolder(const std::string& path);
    // Opens `name` inside the folder open as `parent_fd`, never through a link; `path` names the
    // result. Not open on failure.
    ReportFolder(int parent_fd, const std::string& name, std::string path);
    // Report folder `report` of archive folder `archive` of the group folder `group`: the group
    // as named, the archive and the report each relative to the one above, never through a link,
    // each name found as find() finds it. Not open on failure.
    static ReportFolder in_group(const std::string& group, const std::string& archive, const std::string& report);

    // The sub-folder `name` as in_group() opens each step: the exact spelling is opened at once,
    // else the name find() finds; never through a link. Not open on failure.
    ReportFolder child(const std::string& name) const;

    bool is_open() const { return fd_ != nullptr; }
    // The folder's descriptor; -1 when not open.
    int fd() const { return fd_ ? fd_->get() : -1; }
    const std::string& path() const { return path_; }
    // Why the folder is not open (None when it is).
    OutsideRefusal refusal() const { return refusal_; }

    // The entry whose name equals `name` without regard to ASCII case, the exact spelling first,
    // else the smallest; nullopt when there is none, the folder is not open, or `name` is not one
    // plain component.
    std::optional<std::string> find(std::string_view name) const;
    // path() joined with the found name, else with `name` as given.
    std::string path_of(std::string_view name) const;
    // Every name in the folder but "." and "..", sorted by its bytes; empty when not open.
    std::vector<std::string> names() const;
    // True when `name` (as find() finds it) is a regular file, not a link.
    bool has_file(std::string_view name) const;

    // Opens `name` (as find() finds it) for reading as described above. Empty on failure; its
    // refusal says why (Missing when the folder is not open or holds no such name).
    OutsideFile open(std::string_view name, ReportFileKind kind) const;
    // open() as a stdio stream ("rb"). Null on failure.
    platform::UniqueFile open_stream(std::string_view name, ReportFileKind kind) const;
    // The whole file, read through open(); a file that grows past its limit while it is read is
    // refused. nullopt on failure; `why`, when given, says why.
    std::optional<std::string> read(std::string_view name, ReportFileKind kind, OutsideRefusal* why = nullptr) const;

private:
    std::shared_ptr<const platform::UniqueFd> fd_;
    std::string path_;
    OutsideRefusal refusal_ = OutsideRefusal::Missing;
};

// The folder that holds the file `path`, opened as ReportFolder(path) opens; `name` receives the
// file's own name.
ReportFolder folder_of_file(const std::string& path, std::string& name);
// The file at `path` read as its folder's member (ReportFolder of the folder that holds it): for a
// file named by a path, such as a day file a list names. nullopt on failure; `why` says why.
std::optional<std::string> read_report_file(const std::string& path, ReportFileKind kind,
                                            OutsideRefusal* why = nullptr);

}  // namespace tv
