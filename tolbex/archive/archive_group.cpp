#include "tolbex/archive/archive_group.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"

namespace tv {

std::string find_group_index(const std::string& group_folder) { return find_index_file(group_folder, kGroupIndexName); }

namespace {

std::string group_folder_of(const std::string& index_path) {
    const std::string group_folder = get_path_folder(index_path);
    return group_folder == index_path || group_folder.empty() ? std::string(".") : group_folder;
}

}  // namespace

Result<void> change_group_index(const std::string& index_path, const GroupIndexChange& change) {
    const ArchiveIndexLock lock(group_folder_of(index_path));
    if (!lock.held()) return lock.busy_error();
    return change_group_index_locked(lock, index_path, change);
}

Result<void> change_group_index_locked(const ArchiveIndexLock& lock, const std::string& index_path,
                                       const GroupIndexChange& change, IndexStamp* written) {
    if (written) *written = IndexStamp{};
    const std::string folder = group_folder_of(index_path);
    const std::string name = get_path_file_name(index_path);

    GroupIndexEntries entries;
    std::string odd_line;
    bool has_odd_line = false;
    if (const EntryKind kind = probe_entry_at(lock.folder_fd(), name).kind; kind != EntryKind::Missing) {
        platform::UniqueFd opened =
            kind == EntryKind::Unknown ? platform::UniqueFd() : platform::open_regular_at(lock.folder_fd(), name);
        platform::UniqueFile file(opened ? ::fdopen(opened.get(), "rb") : nullptr);
        if (!file) return archive_io::write_error(index_path);
        opened.release();  // the stream owns it now
        GroupIndexEntry e;
        while (read_nonblank_line(file.get(), e.folder)) {
            if (!read_nonblank_line(file.get(), e.name)) {
                odd_line = std::move(e.folder);
                has_odd_line = true;
                break;
            }
            entries.list.push_back(std::move(e));
        }
        if (std::ferror(file.get())) return archive_io::write_error(index_path);
    }
    if (Result<void> changed = change(entries); !changed) return changed;
    if (entries.leave_file) return {};

    const std::int64_t old_size = std::max<std::int64_t>(get_file_size_64(index_path), 0);
    if (!archive_io::enough_space_for(folder, old_size + kIndexSpareBytes)) return archive_io::no_space_error();
    std::string text;
    for (const GroupIndexEntry& e : entries.list) {
        // A folder line that is not a plain component goes out as it was read, so the rewrite
        // neither repairs nor redirects it.
        const std::string folder_line = sanitize_index_line(e.folder, kGroupLineMax, "_");
        text += folder_line;
        text += "\r\n";
        text += sanitize_index_line(e.name, kGroupLineMax, folder_line);
        text += "\r\n";
    }
    if (has_odd_line) text += odd_line + "\r\n";
    struct stat st {};
    if (!platform::atomic_write_file_at(lock.folder_fd(), name, text, written ? &st : nullptr))
        return archive_io::write_error(index_path);
    if (written) *written = archive_io::stamp_of(st);
    return {};
}

Result<void> add_group_entry(const std::string& index_path, std::string_view folder_name,
                             std::string_view display_name) {
    const std::string folder(folder_name);
    if (!is_safe_path_component(folder) || folder.size() > kGroupLineMax)
        return fail(kArchiveUnsafeName, "The archive folder name is not valid: " + folder);
    return change_group_index(index_path, [&](GroupIndexEntries& entries) -> Result<void> {
        entries.list.push_back({folder, std::string(display_name)});
        return {};
    });
}

ArchivedReportEntry find_archived_report(const std::string& report_folder) {
    ArchivedReportEntry out;
    const std::string folder = platform::strip_trailing_slashes(report_folder);
    const std::string archive_folder = get_path_folder(folder);
    if (archive_folder.empty() || archive_folder == folder ||
        !platform::find_name_ci(archive_folder, kArchiveIndexName))
        return out;
    out.archive = std::make_unique<ReportArchive>(archive_folder, "");
    out.record = out.archive->find_record(get_path_file_name(folder));
    out.archive_name = out.archive->get_folder_name();
    const std::string group_folder = get_path_folder(archive_folder);
    if (group_folder.empty() || group_folder == archive_folder) return out;
    const ArchiveGroup group(find_group_index(group_folder), false, false, false);
    for (std::int32_t i = 0; i < group.get_count(); ++i) {
        const ReportArchive* a = group.get_archive(i);
        if (a->is_safe() && platform::iequals(a->get_folder_name(), out.archive_name)) {
            out.archive_name = a->get_name();
            break;
        }
    }
    return out;
}

ArchiveGroup::ArchiveGroup(std::string index_path, bool raw_only, bool skip_raw, bool read_index)
    : index_path_(std::move(index_path)) {
    platform::UniqueFile file = archive_io::open_index_for_reading(index_path_, &stamp_);
    std::FILE* f = file.get();
    if (!f) {
        // Something unreadable in its place: remember it, so it is not taken for a change.
        seen_ = read_index_stamp(index_path_, stamp_);
        return;
    }
    seen_ = true;
    ScopedDateCache dates;
    const std::string folder = get_folder();
    std::string folder_line, name_line;
    for (;;) {
        if (!read_nonblank_line(f, folder_line)) break;
        if (!read_nonblank_line(f, name_line)) break;  // a last odd line is ignored
        fold_line_checksum(folder_line, checksum_);
        fold_line_checksum(name_line, checksum_);
        const bool safe = is_safe_path_component(folder_line);
        std::string archive_path;
        if (safe) {
            // The repair tool writes folder names in upper case; the folder may be spelt otherwise.
            auto found = platform::find_name_ci(folder, folder_line);
            archive_path = found ? *found : join_path(folder, folder_line);
        } else {
            archive_path = folder.empty() ? folder_line : folder + "/" + folder_line;
        }
        auto archive =
            std::make_unique<ReportArchive>(std::move(archive_path), name_line, raw_only, skip_raw, read_index && safe);
        archive->set_safe(safe);
        archive->set_folder_entry(folder_line);
        checksum_ ^= archive->get_checksum();
        archives_.push_back(std::move(archive));
    }
}

ArchiveGroup::~ArchiveGroup() {
    while (!archives_.empty()) archives_.pop_back();
}

ReportArchive* ArchiveGroup::get_archive(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= archives_.size()) return nullptr;
    return archives_[static_cast<std::size_t>(index)].get();
}

std::string ArchiveGroup::get_folder() const {
    const auto p = index_path_.rfind('/');
    if (p == std::string::npos) return {};
    if (p == 0) return "/";
    return index_path_.substr(0, p);
}

void ArchiveGroup::take_index_stamp(const IndexStamp& written) {
    seen_ = !written.is_zero();
    stamp_ = written;
}

Result<void> ArchiveGroup::delete_archive_folder(std::int32_t index) const {
    ReportArchive* a = get_archive(index);
    if (!a) return fail(kArchiveNotFound);
    const std::string path = a->get_path();
    bool ok = a->is_safe();
    if (ok) {
        // One that cannot be looked at may still hold reports.
        const EntryKind kind = probe_entry(path).kind;
        if (kind != EntryKind::Missing) ok = kind == EntryKind::Folder && delete_folder_tree(path, true, false);
    }
    // The archive stays listed: reports that survived must stay reachable.
    if (!ok) return fail(kArchiveDeleteFailed, "Couldn't delete archive folder: " + path);
    return {};
}

Result<void> ArchiveGroup::remove_archive(std::int32_t index) {
    if (Result<void> deleted = delete_archive_folder(index); !deleted) return deleted;
    ReportArchive* a = get_archive(index);
    const std::string entry = a->get_folder_entry().empty() ? a->get_folder_name() : a->get_folder_entry();
    archives_.erase(archives_.begin() + index);
    return change_group_index(index_path_, [&](GroupIndexEntries& entries) -> Result<void> {
        std::erase_if(entries.list, [&](const GroupIndexEntry& e) { return platform::iequals(e.folder, entry); });
        return {};
    });
}

bool ArchiveGroup::has_changed_on_disk() const {
    IndexStamp s;
    if (!read_index_stamp(index_path_, s)) {
        if (seen_) return true;
    } else if (!(s == stamp_)) {
        return true;
    }
    for (const auto& a : archives_)
        if (a->index_changed_on_disk()) return true;
    return false;
}

std::int32_t ArchiveGroup::find_archive_by_name(std::string_view display_name) const {
    for (std::size_t i = 0; i < archives_.size(); ++i)
        if (platform::iequals(archives_[i]->get_name(), display_name)) return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t ArchiveGroup::find_archive_by_folder(std::string_view folder_name) const {
    for (std::size_t i = 0; i < archives_.size(); ++i)
        if (platform::iequals(archives_[i]->get_folder_name(), folder_name)) return static_cast<std::int32_t>(i);
    return -1;
}

}  // namespace tv
