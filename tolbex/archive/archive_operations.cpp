#include "tolbex/archive/archive_operations.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace tv::archive_ops {

namespace {

// Without a trail nothing is logged and every step succeeds.
bool audit_open(AuditTrail* audit, const std::string& path) { return !audit || audit->open(path); }
bool audit_write(AuditTrail* audit, const char* format, const std::string& text, const std::string& path) {
    return !audit || audit->write(format, text, path, "");
}
void audit_close(AuditTrail* audit) {
    if (audit) audit->close();
}

}  // namespace

Result<void> remove_index_entry(const std::string& index_path, std::string_view folder_name) {
    const std::string folder = get_path_folder(index_path);
    ArchiveIndexLock lock(folder);
    platform::UniqueFile file = archive_io::open_index_for_reading(index_path, nullptr);
    std::FILE* f = file.get();
    if (!f) return archive_io::write_error(index_path);
    std::string out;
    std::string lines[5];
    for (;;) {
        int got = 0;
        while (got < 5 && read_nonblank_line(f, lines[got])) ++got;
        if (got < 5) {
            // A torn entry at the end stays as it was: it is not ours to drop.
            for (int i = 0; i < got; ++i) out += lines[i] + "\r\n";
            break;
        }
        if (platform::iequals(lines[0], folder_name)) continue;
        for (const auto& l : lines) out += l + "\r\n";
    }
    const bool read_error = std::ferror(f) != 0;
    file.reset();
    if (read_error) return archive_io::write_error(index_path);
    if (get_disk_free_bytes(folder) <= static_cast<std::uint64_t>(kIndexEntryRemoveSpace) ||
        !archive_io::enough_space_for(folder, static_cast<std::int64_t>(out.size()) + kIndexSpareBytes))
        return fail(kArchiveIndexFull, kIndexEntryDiskFullText);
    if (!platform::atomic_write_file(index_path, out)) return archive_io::write_error(index_path);
    return {};
}

Result<void> delete_report(ReportArchive& archive, std::int32_t record_index, AuditTrail* audit) {
    ReportRecord* r = archive.get_record(record_index);
    if (!r) return fail(kArchiveNotFound);
    if (classify_drive(archive.get_path()) == 2) {
        const std::int64_t need = std::max<std::int64_t>(archive.get_index_size(), 0) + kRemovableDeleteSpare;
        if (!archive_io::enough_space_for(archive.get_path(), need)) return fail(kArchiveNoSpace, kNotEnoughSpaceText);
    }
    const std::string folder = r->get_folder_path();
    const std::string description = r->get_description();
    // Never a path: listed, never deleted (the archive says why).
    if (folder.empty()) return archive.delete_report_folder(record_index);
    if (!audit_open(audit, folder)) {
        audit_close(audit);
        return fail(kArchiveAuditFailed, kDeleteLogText);
    }
    Result<void> deleted = archive.delete_report_folder(record_index);
    if (deleted)
        audit_write(audit, kAuditDelete, description, folder);
    else
        audit_close(audit);
    return deleted;
}

Result<std::string> transfer_report(ReportArchive& archive, std::int32_t record_index, const std::string& destination,
                                    const std::string& description, bool move, bool move_files, AuditTrail* audit,
                                    std::vector<Error>& notices) {
    ReportRecord* r = archive.get_record(record_index);
    if (!r) return fail(kArchiveNotFound);
    const std::string source = r->get_folder_path();
    if (source.empty() || !archive.is_safe())
        return fail(kArchiveUnsafeName,
                    "This report cannot be copied, because its folder name is not valid: " + r->get_name());
    const std::string name = r->get_name();
    const std::string own_description = r->get_description();
    const std::string dummy = join_path(destination, "dummy.img");

    // Everything that could refuse the move is asked before a file changes.
    if (!audit_open(audit, dummy)) {
        audit_close(audit);
        return fail(kArchiveAuditFailed, kCopyLogText);
    }
    audit_close(audit);
    if (move) {
        if (!audit_open(audit, source)) {
            audit_close(audit);
            return fail(kArchiveAuditFailed, kSourceLogText);
        }
        audit_close(audit);
        if (get_disk_free_bytes(archive.get_path()) <= static_cast<std::uint64_t>(kIndexEntryRemoveSpace))
            return fail(kArchiveIndexFull, kIndexEntryDiskFullText);
    }

    std::string new_folder;
    if (store_report_in_archive(destination, source, description, r->get_size(), r->get_time(), r->get_type(),
                                &new_folder, nullptr, move && move_files) != kStoreOk)
        return fail(kArchiveStoreFailed);

    bool logged =
        audit_open(audit, dummy) && audit_write(audit, move ? kAuditMove : kAuditCopy, own_description, new_folder);
    if (!logged) audit_close(audit);
    if (!move) {
        if (!logged) return fail(kArchiveAuditFailed, kCopyLogText);
        return new_folder;
    }
    if (Result<void> removed = remove_index_entry(archive.get_index_path(), name); !removed) {
        notices.push_back(removed.error());
        return fail(kArchiveIncomplete, "The report \"" + own_description + "\" was moved to \"" + new_folder +
                                            "\", but its entry \"" + name + "\" is still listed in \"" +
                                            archive.get_index_path() + "\".");
    }
    if (!delete_folder_tree(source, true, false))
        notices.push_back(fail(kArchiveIncomplete, format_string(kSourceFolderLeftText, source.c_str())));
    if (audit_open(audit, source)) {
        logged = audit_write(audit, kAuditDelete, own_description, source) && logged;
    } else {
        audit_close(audit);
        logged = false;
    }
    if (!logged) return fail(kArchiveAuditFailed, kSourceLogText);
    return new_folder;
}

Result<void> set_description(ReportArchive& archive, std::int32_t record_index, std::string_view text) {
    ReportRecord* r = archive.get_record(record_index);
    if (!r) return fail(kArchiveNotFound);
    r->set_description(text);
    return archive.write_archinfo();
}

Result<void> set_report_time(ArchiveGroup& group, std::string_view folder_name, std::int64_t time) {
    for (std::int32_t a = 0; a < group.get_count(); ++a) {
        ReportArchive* archive = group.get_archive(a);
        if (ReportRecord* r = archive->find_record(folder_name)) {
            r->set_time(time);
            return archive->write_archinfo();
        }
    }
    return fail(kArchiveNotFound);
}

Result<void> compact_and_rewrite(ArchiveGroup& group) {
    for (std::int32_t i = 0; i < group.get_count(); ++i) group.get_archive(i)->compact();
    for (std::int32_t i = 0; i < group.get_count(); ++i) {
        ReportArchive* a = group.get_archive(i);
        if (!a->is_safe()) continue;  // never read, so nothing to write
        if (Result<void> written = a->write_archinfo(); !written) return written;
    }
    return {};
}

Result<void> remove_archive(ArchiveGroup& group, std::int32_t archive_index) {
    if (Result<void> removed = group.remove_archive(archive_index); !removed) return removed;
    return group.write_index();
}

Result<void> delete_group(ArchiveGroup& group, ArchiveConfigList* config, std::vector<Error>& notices) {
    const std::string folder = group.get_folder();
    if (!archive_io::enough_space_for(folder, kGroupDeleteSpace)) return fail(kArchiveNoSpace);
    bool ok = true;
    for (std::int32_t i = group.get_count() - 1; i >= 0; --i) {
        if (Result<void> removed = group.remove_archive(i); !removed) {
            notices.push_back(removed.error());
            ok = false;
        }
    }
    if (!ok) {
        // What could not be deleted stays reachable.
        if (Result<void> written = group.write_index(); !written) notices.push_back(written.error());
        return fail(kArchiveIncomplete);
    }
    if (::unlink(group.get_index_path().c_str()) != 0 && errno != ENOENT)
        return fail(kArchiveDeleteFailed, "Couldn't delete archive group file: " + group.get_index_path());
    if (config && config->get_count() > 0 && config->remove(folder) == kConfigRefused)
        notices.push_back(config->refusal());
    return {};
}

Result<std::int32_t> ensure_deleted_archive(ArchiveGroup& group) {
    const std::string index = group.get_index_path();
    // Asked of the file, not of the group read earlier: another program may have added it.
    auto find_on_disk = [&]() -> std::int32_t {
        ArchiveGroup g(index, false, false, false);
        for (std::int32_t i = 0; i < g.get_count(); ++i)
            if (g.get_archive(i)->get_name() == kDeletedArchiveName) return i;
        return -1;
    };
    if (const std::int32_t found = find_on_disk(); found >= 0) return found;
    const std::string folder = join_path(group.get_folder(), kDeletedArchiveFolder);
    const bool existed = folder_exists(folder);
    if (!existed && ::mkdir(folder.c_str(), 0777) != 0)
        return fail(kArchiveCreateFailed, "Failed to create the \"" + folder + "\" folder.");
    if (!append_group_entry(index, kDeletedArchiveFolder, kDeletedArchiveName)) {
        if (!existed) ::rmdir(folder.c_str());
        return archive_io::write_error(index);
    }
    group.read_index_mtime();
    const std::int32_t found = find_on_disk();
    if (found < 0) return fail(kArchiveNotFound);
    return found;
}

}  // namespace tv::archive_ops
