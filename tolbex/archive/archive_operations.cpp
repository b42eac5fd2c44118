#include "tolbex/archive/archive_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/folder_judgement.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/change_record.h"
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
    if (get_disk_free_bytes(folder) <= static_cast<std::uint64_t>(kIndexEntryRemoveSpace))
        return fail(kArchiveIndexFull, kIndexEntryDiskFullText);
    Result<void> removed = change_archive_index(folder, [&](ArchiveIndexEntries& entries) -> Result<void> {
        if (entries.remove(folder_name) == 0) entries.leave_file();
        return {};
    });
    if (!removed && removed.error().code == kArchiveNoSpace) return fail(kArchiveIndexFull, kIndexEntryDiskFullText);
    return removed;
}

namespace {

// Applies `edit` to the entry named `folder_name`, which must still be there.
template <class Edit>
ArchiveIndexChange edit_entry(std::string_view folder_name, const std::string& archive_folder, Edit edit) {
    return [folder_name, &archive_folder, edit](ArchiveIndexEntries& entries) -> Result<void> {
        ReportRecord* r = entries.find(folder_name);
        if (!r) return entry_gone_error(archive_folder, folder_name);
        edit(*r);
        return {};
    };
}

}  // namespace

namespace {

Error unreadable_error(const std::string& folder, const FolderJudgement& judged) {
    return fail(kArchiveUnreadable, unreadable_folder_text(folder, judged) + ", so it was left as it is.");
}

// A report folder taken out of its archive: the archive folder and the report folder as they were
// opened when it was judged, the report folder under its hidden name.
struct TakenOut {
    platform::UniqueFd archive;
    archive_io::MadeFolder folder;
    std::string path;       // the hidden folder, for messages
    ChangeRecord deletion;  // names the hidden folder until it is gone
};

// "... was replaced by a link while it was checked - it is not deleted ...": left as it is.
Error replaced_error(const std::string& path, archive_io::JudgedFolder state) {
    return fail(kArchiveReplaced,
                archive_io::replaced_folder_text(path, state == archive_io::JudgedFolder::Link, "it is not deleted"));
}

Error not_deleted_error(const std::string& path) {
    return fail(kArchiveDeleteFailed, "Couldn't delete report folder: " + path);
}

// Takes the report named `name` out of its archive: in one turn of the archive's lock its entry
// goes and its folder, opened relative to the locked archive folder without following a link,
// gets a hidden name checked to hold that same folder; `taken` holds it for deleting after the
// lock (no folder when there was none). With `must_be_listed` a missing entry is an error;
// without, it leaves the folder alone. A folder that cannot be judged or renamed, or another
// folder put in its place, keeps its entry. Where the name is not safe, or a link or anything
// but a folder is in its place, that stays, unlisted, as it never was a report, and is named.
Result<void> take_out_report(ReportArchive& archive, const std::string& name, bool must_be_listed, TakenOut& taken) {
    taken = TakenOut();
    const ArchiveIndexLock lock(archive.get_path());
    if (!lock.held()) return lock.busy_error();
    const int dir = lock.folder_fd();
    Result<void> left = {};
    std::string original;
    const Result<void> removed = archive.update_index(lock, [&](ArchiveIndexEntries& entries) -> Result<void> {
        if (entries.remove(name) == 0) {
            if (must_be_listed) return entry_gone_error(archive.get_path(), name);
            entries.leave_file();
            return {};
        }
        if (!archive.is_safe() || !is_safe_path_component(name)) {
            // A name that is not a plain component may point anywhere: never delete through it.
            left = not_deleted_error(join_path(archive.get_path(), name));
            return {};
        }
        original = archive_io::name_on_disk(dir, name);
        const std::string path = join_path(archive.get_path(), original);
        archive_io::MadeFolder held;
        archive_io::JudgedFolder state = archive_io::open_judged_folder_at(dir, original, held);
        if (state == archive_io::JudgedFolder::Held) {
            // What this account cannot look into cannot be deleted whole: it stays listed.
            if (const FolderJudgement judged = judge_folder(held.fd.get(), "."); judged.unknown())
                return unreadable_error(path, judged);
            state = archive_io::hide_judged_folder_at(lock, held, taken.deletion);
        }
        switch (state) {
            case archive_io::JudgedFolder::Held: taken.folder = std::move(held); return {};
            case archive_io::JudgedFolder::Missing: return {};
            case archive_io::JudgedFolder::Link: left = replaced_error(path, state); return {};
            case archive_io::JudgedFolder::Failed:  // listed while it is there
                if (const FolderJudgement judged = judge_folder(dir, original); judged.unknown())
                    return unreadable_error(path, judged);
                return not_deleted_error(path);
            case archive_io::JudgedFolder::Other: break;
        }
        // Listed as long as a folder is in its place; anything else never was a report.
        if (probe_entry_at(dir, original).kind == EntryKind::Folder) return replaced_error(path, state);
        left = not_deleted_error(path);
        return {};
    });
    if (!removed) {
        if (taken.folder && platform::rename_no_replace_at(dir, taken.folder.name, dir, original))
            taken.deletion.finish();
        taken = TakenOut();
        return removed;
    }
    if (taken.folder) {
        taken.archive = platform::UniqueFd(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
        taken.path = join_path(archive.get_path(), taken.folder.name);
    }
    return left;
}

// kArchiveNotFound for a report the archive does not list, once its lock has been taken (or
// found held, by a holder that settles): a run again after a kill that took the report out
// settles what that run left.
Error not_found(const ReportArchive& archive) {
    { const ArchiveIndexLock settled(archive.get_path()); }
    return fail(kArchiveNotFound);
}

// Deletes what take_out_report took out, through the descriptors opened when it was judged.
// Its record goes once the folder is gone, or once its hidden name holds something else (what is
// there is not this run's to settle); a folder that stays is left to the next holder of the lock.
Result<void> delete_taken_out(TakenOut& taken) {
    if (!taken.folder) return {};
    if (!taken.archive || !archive_io::delete_held_folder_at(taken.archive.get(), taken.folder)) {
        if (taken.archive && !archive_io::holds_made_folder(taken.archive.get(), taken.folder.name, taken.folder)) {
            taken.deletion.finish();
            return replaced_error(taken.path,
                                  probe_entry_at(taken.archive.get(), taken.folder.name).kind == EntryKind::Link
                                      ? archive_io::JudgedFolder::Link
                                      : archive_io::JudgedFolder::Other);
        }
        return not_deleted_error(taken.path);
    }
    taken.deletion.finish();
    return {};
}

}  // namespace

Result<void> delete_report(ReportArchive& archive, std::string_view folder_name, AuditTrail* audit) {
    ReportRecord* r = archive.find_record(folder_name);
    if (!r) return not_found(archive);
    if (classify_drive(archive.get_path()) == 2) {
        const std::int64_t need = std::max<std::int64_t>(archive.get_index_size(), 0) + kRemovableDeleteSpare;
        if (!archive_io::enough_space_for(archive.get_path(), need)) return fail(kArchiveNoSpace, kNotEnoughSpaceText);
    }
    const std::string name(folder_name);
    const std::string folder = r->get_folder_path();
    const std::string description = r->get_description();
    // Never a path: listed, never deleted (the archive says why).
    TakenOut taken;
    if (folder.empty()) return take_out_report(archive, name, true, taken);
    if (!audit_open(audit, folder)) {
        audit_close(audit);
        return fail(kArchiveAuditFailed, kDeleteLogText);
    }
    Result<void> deleted = take_out_report(archive, name, true, taken);
    if (!deleted && deleted.error().code != kArchiveDeleteFailed && deleted.error().code != kArchiveReplaced) {
        audit_close(audit);
        return deleted;
    }
    if (deleted) deleted = delete_taken_out(taken);
    if (deleted)
        audit_write(audit, kAuditDelete, description, folder);
    else
        audit_close(audit);
    return deleted;
}

Result<std::string> transfer_report(ReportArchive& archive, std::string_view folder_name,
                                    const std::string& destination, const std::string& description, bool move,
                                    bool move_files, AuditTrail* audit, std::vector<Error>& notices) {
    ReportRecord* r = archive.find_record(folder_name);
    if (!r) return not_found(archive);
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

    // A move is two changes in two archives: its record in the source archive says, after a
    // kill, whether the destination lists the copy (then the source goes) or not (it stays).
    // Taking the lock settles what a killed run left, a killed move of this report too: only a
    // report still listed then is moved.
    ChangeRecord record;
    if (move) {
        const ArchiveIndexLock lock(archive.get_path());
        if (!lock.held()) return lock.busy_error();
        bool listed = false;
        const Result<void> read = change_archive_index(lock, [&](ArchiveIndexEntries& entries) -> Result<void> {
            listed = entries.find(name) != nullptr;
            entries.leave_file();
            return {};
        });
        if (!read) return read.error();
        if (!listed) return entry_gone_error(archive.get_path(), name);
        if (!record.begin(lock, kRecordMove) || !record.note("name", name) ||
            !record.note("destination", destination)) {
            record.finish();
            return archive_io::write_error(archive.get_index_path());
        }
    }
    if (const FolderJudgement judged = judge_folder(AT_FDCWD, source); judged.unknown()) {
        record.finish();
        return unreadable_error(source, judged);
    }
    const StoreCompletion noted = [&](const std::string& stored, int) {
        return record.note("stored", get_path_file_name(stored));
    };
    std::string new_folder, refusal;
    const int stored =
        store_report_in_archive(destination, source, description, r->get_size(), r->get_time(), r->get_type(),
                                &new_folder, nullptr, move && move_files, move ? noted : StoreCompletion{}, &refusal);
    if (stored != kStoreOk) record.finish();
    switch (stored) {
        case kStoreOk: break;
        // Why the destination could not be locked is the user's to know; nothing was changed.
        case kStoreArchiveBusy: return fail(kArchiveBusy, refusal);
        case kStoreLockDenied: return fail(kArchiveLockDenied, refusal);
        case kStoreArchiveReadOnly: return fail(kArchiveReadOnly, refusal);
        default: return refusal.empty() ? fail(kArchiveStoreFailed) : fail(kArchiveStoreFailed, refusal);
    }

    bool logged =
        audit_open(audit, dummy) && audit_write(audit, move ? kAuditMove : kAuditCopy, own_description, new_folder);
    if (!logged) audit_close(audit);
    if (!move) {
        if (!logged) return fail(kArchiveAuditFailed, kCopyLogText);
        return new_folder;
    }
    // The source entry and folder go in one turn of the lock, as a deleted report's do.
    TakenOut taken;
    Result<void> removed = take_out_report(archive, name, false, taken);
    if (!removed && removed.error().code == kArchiveNoSpace) removed = fail(kArchiveIndexFull, kIndexEntryDiskFullText);
    if (!removed && removed.error().code != kArchiveDeleteFailed && removed.error().code != kArchiveReplaced) {
        // The record stays: the next holder of the source's lock finishes the move.
        notices.push_back(removed.error());
        return fail(kArchiveIncomplete, "The report \"" + own_description + "\" was moved to \"" + new_folder +
                                            "\", but its entry \"" + name + "\" is still listed in \"" +
                                            archive.get_index_path() + "\".");
    }
    if (removed) removed = delete_taken_out(taken);
    if (!removed) {
        const std::string& left = taken.path.empty() ? source : taken.path;
        notices.push_back(fail(kArchiveIncomplete, format_string(kSourceFolderLeftText, left.c_str())));
        if (removed.error().code == kArchiveReplaced) notices.push_back(removed.error());
    } else {
        record.finish();
    }
    if (audit_open(audit, source)) {
        logged = audit_write(audit, kAuditDelete, own_description, source) && logged;
    } else {
        audit_close(audit);
        logged = false;
    }
    if (!logged) return fail(kArchiveAuditFailed, kSourceLogText);
    return new_folder;
}

Result<void> set_description(ReportArchive& archive, std::string_view folder_name, std::string_view text) {
    if (!archive.find_record(folder_name)) return fail(kArchiveNotFound);
    const std::string description(text);
    return archive.update_index(
        edit_entry(folder_name, archive.get_path(), [&](ReportRecord& r) { r.set_description(description); }));
}

Result<void> set_report_time(ArchiveGroup& group, std::string_view folder_name, std::int64_t time) {
    for (std::int32_t a = 0; a < group.get_count(); ++a) {
        ReportArchive* archive = group.get_archive(a);
        if (archive->find_record(folder_name))
            return archive->update_index(
                edit_entry(folder_name, archive->get_path(), [time](ReportRecord& r) { r.set_time(time); }));
    }
    return fail(kArchiveNotFound);
}

Result<void> set_confirmed(const std::string& archive_folder, std::string_view folder_name, bool confirmed,
                           const ReportFolderStep& step, const ReportFolderStep& undo) {
    const ArchiveIndexLock lock(archive_folder);
    if (!lock.held()) return lock.busy_error();
    const std::string listed(folder_name);
    if (!is_safe_path_component(listed))
        return fail(kArchiveUnsafeName, "The report folder name \"" + listed + "\" is not a plain folder name.");
    const int dir = lock.folder_fd();
    const std::string name = archive_io::name_on_disk(dir, listed);
    const std::string path = join_path(archive_folder, name);
    const char* const left = confirmed ? "the report is not confirmed" : "the report is not unconfirmed";
    auto replaced = [&](bool link) {
        return fail(kArchiveReplaced, archive_io::replaced_folder_text(path, link, left));
    };
    archive_io::MadeFolder held;
    switch (archive_io::open_judged_folder_at(dir, name, held)) {
        case archive_io::JudgedFolder::Held: break;
        case archive_io::JudgedFolder::Link: return replaced(true);
        case archive_io::JudgedFolder::Other: return replaced(false);
        default: return fail(kArchiveWriteFailed, "Couldn't open the report folder " + path + ".");
    }
    auto swapped = [&] { return !archive_io::holds_made_folder(dir, name, held); };
    auto take_back = [&] {
        (void)undo(held.fd.get(), path);
        return replaced(probe_entry_at(dir, name).kind == EntryKind::Link);
    };
    if (Result<void> done = step(held.fd.get(), path); !done) return done;
    // Swapped while the step ran: what it did stays in the folder it held, and is taken back.
    if (swapped()) return take_back();
    bool was = confirmed;
    Result<void> written = change_archive_index(lock, edit_entry(folder_name, archive_folder, [&](ReportRecord& r) {
                                                    was = r.is_confirmed();
                                                    r.set_confirmed(confirmed);
                                                }));
    if (!written) {
        (void)undo(held.fd.get(), path);
        return written;
    }
    // Swapped while the index was written: the mark goes back as well.
    if (swapped()) {
        (void)change_archive_index(lock, edit_entry(folder_name, archive_folder,
                                                    [was](ReportRecord& r) { r.set_confirmed(was); }));
        return take_back();
    }
    return written;
}

Result<void> remove_archive(ArchiveGroup& group, std::int32_t archive_index) {
    return group.remove_archive(archive_index);
}

Result<void> delete_group(ArchiveGroup& group, ArchiveConfigList* config, std::vector<Error>& notices) {
    const std::string folder = group.get_folder();
    if (!archive_io::enough_space_for(folder, kGroupDeleteSpace)) return fail(kArchiveNoSpace);
    bool ok = true;
    std::vector<std::string> deleted;
    for (std::int32_t i = group.get_count() - 1; i >= 0; --i) {
        const ReportArchive* a = group.get_archive(i);
        if (Result<void> removed = group.delete_archive_folder(i); !removed) {
            notices.push_back(removed.error());
            ok = false;
        } else {
            deleted.push_back(a->get_folder_entry().empty() ? a->get_folder_name() : a->get_folder_entry());
        }
    }
    // One change of ARCHDIR.DAT: the deleted archives leave it, and it goes when nothing is left.
    // An archive another program added meanwhile stays reachable.
    const ArchiveIndexLock lock(folder);
    if (!lock.held()) {
        notices.push_back(lock.busy_error());
        return fail(kArchiveIncomplete);
    }
    bool empty = false;
    std::size_t added = 0;
    const Result<void> changed =
        change_group_index_locked(lock, group.get_index_path(), [&](GroupIndexEntries& entries) -> Result<void> {
            std::erase_if(entries.list, [&](const GroupIndexEntry& e) {
                return std::any_of(deleted.begin(), deleted.end(),
                                   [&](const std::string& d) { return platform::iequals(d, e.folder); });
            });
            added = ok ? entries.list.size() : 0;
            empty = ok && entries.list.empty();
            entries.leave_file = empty;  // the file goes instead
            return {};
        });
    if (!ok) {
        if (!changed) notices.push_back(changed.error());
        return fail(kArchiveIncomplete);
    }
    if (added > 0) {
        notices.push_back(fail(kArchiveIncomplete, "Another program has added archives to \"" + folder +
                                                       "\" meanwhile; they were left as they are."));
        return fail(kArchiveIncomplete);
    }
    if (::unlinkat(lock.folder_fd(), get_path_file_name(group.get_index_path()).c_str(), 0) != 0 && errno != ENOENT)
        return fail(kArchiveDeleteFailed, "Couldn't delete archive group file: " + group.get_index_path());
    if (config && config->get_count() > 0 && config->remove(folder) == kConfigRefused)
        notices.push_back(config->refusal());
    return {};
}

Result<std::int32_t> ensure_deleted_archive(ArchiveGroup& group) {
    const std::string index = group.get_index_path();
    const std::string folder = join_path(group.get_folder(), kDeletedArchiveFolder);
    // Asked of the file under its lock, not of the group read earlier: another program may have
    // added it, or be adding it now. The folder is made in the same turn as its entry.
    const ArchiveIndexLock lock(group.get_folder());
    if (!lock.held()) return lock.busy_error();
    std::int32_t found = -1;
    archive_io::MadeFolder made;
    const Result<void> changed =
        change_group_index_locked(lock, index, [&](GroupIndexEntries& entries) -> Result<void> {
            for (std::size_t i = 0; i < entries.list.size(); ++i)
                if (entries.list[i].name == kDeletedArchiveName) {
                    found = static_cast<std::int32_t>(i);
                    entries.leave_file = true;
                    return {};
                }
            if (!archive_io::ensure_archive_folder_at(lock.folder_fd(), kDeletedArchiveFolder, made))
                return fail(kArchiveCreateFailed, "Failed to create the \"" + folder + "\" folder.");
            entries.list.push_back({kDeletedArchiveFolder, kDeletedArchiveName});
            found = static_cast<std::int32_t>(entries.list.size() - 1);
            return {};
        });
    if (!changed) {
        archive_io::discard_made_folder(lock.folder_fd(), made, made.name);
        return changed.error();
    }
    return found;
}

}  // namespace tv::archive_ops
