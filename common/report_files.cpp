#include "common/report_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/files.h"
#include "platform/fs.h"

namespace tv {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

bool plain_component(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string joined(const std::string& folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    return folder.back() == '/' ? folder + std::string(name) : folder + "/" + std::string(name);
}

}  // namespace

std::uint64_t report_file_limit(ReportFileKind kind) {
    // Several times what the analysis system writes; a page, picture or metafile at its limit still
    // leaves a run far below what a workstation has.
    switch (kind) {
        case ReportFileKind::Page: return 16 * kMiB;
        case ReportFileKind::Bitmap: return 16 * kMiB;
        case ReportFileKind::Metafile: return 16 * kMiB;
        case ReportFileKind::EmfList: return 1 * kMiB;
        case ReportFileKind::Text: return 4 * kMiB;
        case ReportFileKind::TimiDay: return 16 * kMiB;
        case ReportFileKind::TimiData: return 32 * kMiB;
        case ReportFileKind::ArrhythmiaEvents: return 16 * kMiB;
        case ReportFileKind::SignatureBitmap: return 4 * kMiB;
        case ReportFileKind::SignatureList: return 64 * 1024;
    }
    return 0;
}

ReportFolder::ReportFolder(const std::string& path) : path_(platform::strip_trailing_slashes(path)) {
    platform::UniqueFd fd = open_folder_no_link(path_, &refusal_);
    if (fd) fd_ = std::make_shared<const platform::UniqueFd>(std::move(fd));
}

ReportFolder::ReportFolder(int parent_fd, const std::string& name, std::string path) : path_(std::move(path)) {
    if (parent_fd < 0 || !plain_component(name)) return;
    platform::UniqueFd fd = open_folder_no_link_at(parent_fd, name, &refusal_);
    if (fd) fd_ = std::make_shared<const platform::UniqueFd>(std::move(fd));
}

ReportFolder ReportFolder::in_group(const std::string& group, const std::string& archive, const std::string& report) {
    const std::string group_path = platform::strip_trailing_slashes(group);
    const ReportFolder group_folder(group_path);
    const std::string archive_name = group_folder.find(archive).value_or(archive);
    const ReportFolder archive_folder(group_folder.fd(), archive_name, joined(group_path, archive_name));
    ReportFolder out = archive_folder.child(report);
    if (!archive_folder.is_open()) out.refusal_ = archive_folder.refusal_;
    return out;
}

ReportFolder ReportFolder::child(const std::string& name) const {
    // Opening the exact spelling asks the file system once; only a miss lists the folder.
    ReportFolder exact(fd(), name, joined(path_, name));
    if (exact.is_open() || exact.refusal_ != OutsideRefusal::Missing) return exact;
    const auto found = find(name);
    if (!found || *found == name) return exact;
    return ReportFolder(fd(), *found, joined(path_, *found));
}

std::optional<std::string> ReportFolder::find(std::string_view name) const {
    if (!fd_ || !plain_component(name)) return std::nullopt;
    const std::string exact(name);
    struct stat st;
    if (::fstatat(fd(), exact.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return exact;
    std::optional<std::string> best;
    for (const std::string& entry : names())
        if (platform::iequals(entry, name) && (!best || entry < *best)) best = entry;
    return best;
}

std::string ReportFolder::path_of(std::string_view name) const {
    return joined(path_, find(name).value_or(std::string(name)));
}

std::vector<std::string> ReportFolder::names() const {
    std::vector<std::string> out;
    if (!fd_) return out;
    // A description of its own, so that listings in several threads do not share a position.
    const int listing = ::openat(fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!dir) {
        if (listing >= 0) ::close(listing);
        return out;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view n(e->d_name);
        if (n != "." && n != "..") out.emplace_back(n);
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

bool ReportFolder::has_file(std::string_view name) const {
    const auto found = find(name);
    struct stat st;
    return found && ::fstatat(fd(), found->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

OutsideFile ReportFolder::open(std::string_view name, ReportFileKind kind) const {
    // The exact spelling is opened at once; only a miss looks for another.
    if (fd_ && plain_component(name)) {
        OutsideFile exact = open_member_at(fd(), std::string(name), report_file_limit(kind));
        if (exact || exact.refusal != OutsideRefusal::Missing) return exact;
    }
    const auto found = find(name);
    if (!found || *found == name) {
        OutsideFile none;
        none.refusal = OutsideRefusal::Missing;
        errno = ENOENT;
        return none;
    }
    return open_member_at(fd(), *found, report_file_limit(kind));
}

platform::UniqueFile ReportFolder::open_stream(std::string_view name, ReportFileKind kind) const {
    OutsideFile file = open(name, kind);
    if (!file) return nullptr;
    platform::UniqueFile stream(::fdopen(file.fd.get(), "rb"));
    if (stream) file.fd.release();  // the stream owns it now
    return stream;
}

std::optional<std::string> ReportFolder::read(std::string_view name, ReportFileKind kind, OutsideRefusal* why) const {
    // The exact spelling is read at once; only a miss looks for another.
    if (fd_ && plain_component(name)) {
        OutsideRefusal refusal = OutsideRefusal::None;
        auto exact = read_member_at(fd(), std::string(name), report_file_limit(kind), &refusal);
        if (why) *why = refusal;
        if (exact || refusal != OutsideRefusal::Missing) return exact;
    }
    const auto found = find(name);
    if (!found || *found == name) {
        if (why) *why = OutsideRefusal::Missing;
        errno = ENOENT;
        return std::nullopt;
    }
    return read_member_at(fd(), *found, report_file_limit(kind), why);
}

ReportFolder folder_of_file(const std::string& path, std::string& name) {
    PathParts parts = split_path(path);
    name = std::move(parts.name);
    return ReportFolder(parts.folder);
}

std::optional<std::string> read_report_file(const std::string& path, ReportFileKind kind, OutsideRefusal* why) {
    std::string name;
    const ReportFolder folder = folder_of_file(path, name);
    if (!folder.is_open()) {
        if (why) *why = folder.refusal();
        return std::nullopt;
    }
    return folder.read(name, kind, why);
}

}  // namespace tv
