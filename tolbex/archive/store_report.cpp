#include "tolbex/archive/store_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <vector>

#include "common/deferred_stop.h"
#include "common/files.h"
#include "common/folder_judgement.h"
#include "common/registry.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/ascii.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"

namespace tv {

namespace {

std::mutex g_hooks_mutex;
CefUnpackHook g_unpacker;

// Copies the plain files of a folder ("WIN386.SWP" and dot files never) into the folder open as
// `target_fd`, each created there exclusively; the sources copied go
// into `copied`. False when the folder is missing, an entry refuses it (FolderFiles: `refusal`
// then says which) or a copy fails.
bool copy_folder_files(const std::string& source_folder, int target_fd, ProgressWindow* progress,
                       std::vector<std::string>& copied, std::string* refusal) {
    FolderFiles listing;
    if (source_folder.empty() || !listing.read(source_folder, "*", "WIN386.SWP")) {
        if (refusal) *refusal = listing.refusal("stored");
        return false;
    }
    for (const std::string& name : listing.names()) {
        if (DeferredStop::requested()) return false;
        const std::string src = join_path(source_folder, name);
        if (progress) progress->set_text(src);
        if (!listing.copy_into(name, target_fd)) return false;
        copied.push_back(src);
    }
    return true;
}

// More than any group's two lines per archive.
constexpr std::uint64_t kGroupIndexMaxBytes = 4 << 20;

// False only when the folder above has an ARCHDIR.DAT that can be read and does not list it.
bool listed_by_its_group(const std::string& archive_folder) {
    const std::string group_folder = get_path_folder(archive_folder);
    const auto index = platform::find_name_ci(group_folder, kGroupIndexName);
    if (!index) return true;
    const platform::UniqueFd group_fd = open_folder_no_link(group_folder);
    OutsideFile file = group_fd ? open_outside_file_at(group_fd.get(), get_path_file_name(*index), kGroupIndexMaxBytes)
                                : OutsideFile{};
    platform::UniqueFile f(file ? ::fdopen(file.fd.get(), "rb") : nullptr);
    if (!f) return true;
    file.fd.release();  // the stream owns it now
    const std::string name = get_path_file_name(archive_folder);
    std::string folder_line, name_line;
    // Folder line, then display name; a last odd line lists nothing.
    while (read_nonblank_line(f.get(), folder_line) && read_nonblank_line(f.get(), name_line))
        if (platform::iequals(folder_line, name)) return true;
    return std::ferror(f.get()) != 0;
}

// Whether two descriptors are one folder.
bool same_folder(int a, int b) {
    struct stat sa, sb;
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Whether the folder open as `folder_fd` holds `name` in any case.
bool find_name_ci_at(int folder_fd, std::string_view name) {
    const auto entries = list_names_at(folder_fd, "");
    return entries && std::any_of(entries->begin(), entries->end(),
                                  [&](const FolderEntry& e) { return platform::iequals(e.name, name); });
}

}  // namespace

void set_cef_unpacker(CefUnpackHook unpacker) {
    std::lock_guard<std::mutex> lock(g_hooks_mutex);
    g_unpacker = std::move(unpacker);
}

int store_code_of_lock(const ArchiveIndexLock& lock) {
    switch (lock.failure()) {
        case platform::LockFailure::Busy: return kStoreArchiveBusy;
        case platform::LockFailure::NotWritable: return kStoreLockDenied;
        case platform::LockFailure::ReadOnly: return kStoreArchiveReadOnly;
        default: return kStoreIndexFailed;
    }
}

int store_report_in_archive(const std::string& archive_folder, const std::string& source,
                            const std::string& description, std::int32_t size, std::int64_t time, ReportType type,
                            std::string* new_folder_path, ProgressWindow* progress, bool move,
                            const StoreCompletion& complete, std::string* refusal) {
    if (new_folder_path) new_folder_path->clear();
    if (refusal) refusal->clear();
    const std::string extension = report_type_extension(type);
    const std::string type_name = report_type_store_name(type);
    const std::string date_text = format_file_date_text(time);

    // The archive folder itself, opened in its group's folder: never a link in its place (the
    // lock refuses one swapped in later). Everything below is made relative to it.
    OutsideRefusal why = OutsideRefusal::Missing;
    const platform::UniqueFd archive_fd =
        archive_folder.empty() ? platform::UniqueFd() : open_folder_no_link(archive_folder, &why);
    if (!archive_fd) {
        if (refusal && why == OutsideRefusal::Link)
            *refusal = "The archive folder \"" + archive_folder + "\" is a link, so nothing was stored.";
        else if (refusal && why == OutsideRefusal::Unreadable)
            *refusal =
                "The archive folder \"" + archive_folder + "\" cannot be read by this account, so nothing was stored.";
        return kStoreFolderFailed;
    }
    const int dir = archive_fd.get();
    // A lock is on this archive only when it holds the folder opened above, not one put in its place.
    auto lock_refused = [&](const ArchiveIndexLock& lock) -> std::optional<int> {
        if (!lock.held()) {
            if (refusal) *refusal = lock.busy_error().message;
            return store_code_of_lock(lock);
        }
        if (!same_folder(lock.folder_fd(), dir)) {
            if (refusal)
                *refusal =
                    "The archive folder \"" + archive_folder + "\" was replaced meanwhile, so nothing was stored.";
            return kStoreFolderFailed;
        }
        return std::nullopt;
    };

    // The report is built under a hidden name and gets its own only in the turn of the lock that
    // lists it, so that no other program sees a report folder without its entry. The lock is
    // taken before anything changes: a record names the staging folder, before it exists, for
    // whoever holds the lock after a kill.
    // A SIGTERM or SIGINT while the report is built ends the run only once its staging folder is gone.
    const DeferredStop hold;
    ChangeRecord record;
    archive_io::MadeFolder staging;
    std::string staging_name;
    {
        const ArchiveIndexLock lock(archive_folder);
        if (const auto code = lock_refused(lock)) return *code;
        if (!record.begin(lock, kRecordStore)) return kStoreFolderFailed;
        staging_name = archive_io::new_hidden_name("NEW");
        if (!record.note("staging", staging_name)) {
            record.finish();
            return kStoreFolderFailed;
        }
        staging = archive_io::make_hidden_folder_at(dir, staging_name);
        if (!staging || !record.note("made", std::to_string(staging.device) + ":" + std::to_string(staging.inode))) {
            // What stands under the name now is not known to be ours: the record stays for the next holder.
            if (archive_io::discard_made_folder(dir, staging, staging_name) &&
                probe_entry_at(dir, staging_name).kind == EntryKind::Missing)
                record.finish();
            if (refusal && !staging)
                *refusal =
                    "The new report folder in \"" + archive_folder + "\" could not be made as this program made it.";
            return kStoreFolderFailed;
        }
    }
    // On every failure what the staging folder holds goes through its descriptor, then the folder
    // when its name still holds it, then the record that names it.
    struct Undo {
        int dir;
        archive_io::MadeFolder* staging;
        const std::string* name;
        ChangeRecord* record;
        ~Undo() {
            if (!*staging) return;
            if (archive_io::discard_made_folder(dir, *staging, *name)) record->finish();
        }
    } undo{dir, &staging, &staging_name, &record};

    std::vector<std::string> copied;
    int failure = kStoreOk;
    if (type == kReportCef && !source.empty() && is_regular_file_no_link(source)) {
        // The compressed file stays in the report beside what it unpacks to. It is unpacked in a
        // private folder of this account's, so that the unpacker writes nowhere others can reach.
        if (progress) progress->set_text(source);
        CefUnpackHook unpack;
        {
            std::lock_guard<std::mutex> lock(g_hooks_mutex);
            unpack = g_unpacker;
        }
        const TempFolder unpacked;
        FolderFiles files;
        if (!copy_fd_into(open_outside_file(source, UINT64_MAX).fd, staging.fd.get(), get_path_file_name(source)) ||
            unpacked.path().empty()) {
            failure = kStoreCopyFailed;
        } else {
            copied.push_back(source);
            if (!unpack || !unpack(source, unpacked.path()) || !files.read(unpacked.path())) failure = kStoreCopyFailed;
            for (const std::string& name : files.names())
                if (failure == kStoreOk && !files.copy_into(name, staging.fd.get())) failure = kStoreCopyFailed;
        }
    } else if (!copy_folder_files(source, staging.fd.get(), progress, copied, refusal)) {
        failure = kStoreCopyFailed;
    }
    if (failure != kStoreOk) return failure;

    std::string size_text = format_string("%d", size);
    if (is_formatted_type(type) && find_name_ci_at(staging.fd.get(), kConfirmFileName)) size_text += 'C';
    const std::string sanitized = sanitize_description(description);

    std::string folder;
    {
        const ArchiveIndexLock lock(archive_folder);
        if (const auto code = lock_refused(lock)) return *code;
        // An archive its group dropped meanwhile (a check that found it empty) takes no report.
        if (!listed_by_its_group(lock.folder())) {
            if (refusal)
                *refusal = "The archive \"" + lock.folder() +
                           "\" is no longer listed in its group's ARCHDIR.DAT, so nothing was stored.";
            return kStoreFolderFailed;
        }
        // One read of the index under the lock: a free name is free on disk and in the index (an
        // entry whose folder is gone keeps its name), and the new entry joins what was read.
        const auto upper = [](std::string name) {
            for (char& c : name) c = platform::ascii_upper(c);
            return name;
        };
        int refused = kStoreOk;  // why the change stopped before the index was written
        bool published = false;
        std::string folder_name;
        const Result<void> listed_now = change_archive_index(lock, [&](ArchiveIndexEntries& entries) -> Result<void> {
            std::unordered_set<std::string> listed;  // in upper case: names are told apart without regard to it
            for (const auto& r : entries.records())
                if (r) listed.insert(upper(r->get_name()));
            const auto is_listed = [&](const std::string& name) { return listed.count(upper(name)) != 0; };
            // The unique name only tells what did not exist a moment ago: a program that does not
            // take the lock may still get there first, and then another name is taken.
            for (int attempt = 0;; ++attempt) {
                // A 12-lead report becomes a full report of the same base when its ECG goes.
                folder_name = make_unique_file_name(archive_folder, extension,
                                                    type == kReportFullOstrabel12 ? report_type_extension(kReportFull)
                                                    : type == kReportFull ? report_type_extension(kReportFullOstrabel12)
                                                                          : std::string(),
                                                    is_listed);
                if (!record.note("name", folder_name)) return fail(refused = kStoreFolderFailed);
                const archive_io::PublishResult publishing =
                    archive_io::publish_made_folder(dir, staging, staging_name, folder_name);
                if (publishing == archive_io::PublishResult::Done) break;
                if (publishing == archive_io::PublishResult::Swapped) {
                    if (refusal)
                        *refusal = "The new report folder \"" + join_path(archive_folder, staging_name) +
                                   "\" was replaced by another entry while it was filled, so nothing was stored.";
                    return fail(refused = kStoreFolderFailed);
                }
                if (publishing != archive_io::PublishResult::Taken || attempt >= 64)
                    return fail(refused = kStoreFolderFailed);
            }
            published = true;
            folder = join_path(archive_folder, folder_name);
            // Listed, the folder is the archive's: it takes the mode a report folder is made with.
            // Its names go to disk before the index that lists it (each file went when written),
            // so that a stored report is whole on disk without a flush of the file system.
            if (::fchmod(staging.fd.get(), staging.mode) != 0 || (complete && !complete(folder, staging.fd.get())) ||
                ::fsync(staging.fd.get()) != 0)
                return fail(refused = kStoreCopyFailed);
            const std::string entry = format_archive_entry(folder_name, sanitized, date_text, size_text, type_name);
            std::string lines[5];
            std::size_t start = 0;
            for (std::string& l : lines) {
                const std::size_t end = entry.find("\r\n", start);
                l = entry.substr(start, end - start);
                start = end + 2;
            }
            auto added =
                std::make_unique<ReportRecord>(lines[4], lines[3], lines[2], lines[0], lock.folder(), lines[1]);
            entries.keep_as_read(added.get(), entry);  // written as format_archive_entry made it
            entries.add(std::move(added));
            return {};
        });
        if (!listed_now) {
            // Back under the hidden name before the lock goes, to be removed with it.
            if (published && archive_io::publish_made_folder(dir, staging, folder_name, staging_name) !=
                                 archive_io::PublishResult::Done) {
                // Not ours to leave unlisted: what it holds goes, or the record stays.
                if (archive_io::discard_made_folder(dir, staging, folder_name)) record.finish();
                staging = {};
            }
            return refused != kStoreOk ? refused : kStoreIndexFailed;
        }
        staging = {};
        record.finish();
    }
    if (new_folder_path) *new_folder_path = folder;
    if (move)
        for (const std::string& src : copied) force_delete_file(src);
    return kStoreOk;
}

// ---------------------------------------------------------------------------------------------

namespace {

bool is_ecg_file_name(const std::string& name) {
    static constexpr const char* kNames[] = {"os12ecg1.dat", "os12ecg2.dat", "os12ecg3.dat",
                                             "os12ecg4.dat", "os12ecg5.dat", "os12ecg6.dat",
                                             "os12ecg7.dat", "os12ecg8.dat", "os12pac.dat"};
    for (const char* n : kNames)
        if (platform::iequals(name, n)) return true;
    return false;
}

// The entries of the open folder named as ECG files, any case; nullopt when it cannot be listed.
std::optional<std::vector<FolderEntry>> list_ecg_files(int folder_fd) {
    auto entries = list_folder_at(folder_fd);
    if (entries) std::erase_if(*entries, [](const FolderEntry& e) { return !is_ecg_file_name(e.name); });
    return entries;
}

}  // namespace

namespace {

// True for a real folder whose name ends in exactly ".O12".
bool is_twelve_lead_folder(const std::string& folder) {
    const std::string last = get_path_file_name(folder);
    const auto dot = last.rfind('.');
    return dot != std::string::npos && last.substr(dot + 1) == "O12" && probe_entry(folder).kind == EntryKind::Folder;
}

// The ECG files of a report, moved aside into a hidden sub-folder of it while the folder and its
// entry change: until drop() nothing is lost, and put_back() restores them. The record names the
// sub-folder before the first file moves. Both folders are held open from the start, so that
// every step stays in them whatever their names come to hold, the report folder's own rename
// included.
class EcgFilesAside {
public:
    // Moves every ECG file of `folder` aside; false, with all of them back, when one cannot move.
    bool move(const std::string& folder, ChangeRecord& record) {
        folder_ = open_folder_no_link(folder);
        const auto files = folder_ ? list_ecg_files(folder_.get()) : std::nullopt;
        if (!files) return false;
        if (files->empty()) return true;
        for (const FolderEntry& f : *files)
            if (f.folder) return false;  // not an ECG file: it stays
        // Named in the record before it exists, so that a kill right after leaves nothing unnamed.
        // It keeps the group's write bit: another account of the group that settles a killed
        // run moves the files back out of it.
        const std::string aside = archive_io::new_hidden_name("ECG");
        if (!record.note("aside", aside) || !(aside_ = archive_io::make_shared_folder_at(folder_.get(), aside)))
            return false;
        for (const FolderEntry& f : *files) {
            const std::string& name = f.name;
            if (!platform::rename_no_replace_at(folder_.get(), name, aside_.fd.get(), name)) {
                put_back();
                return false;
            }
            moved_.push_back(name);
        }
        return true;
    }
    // The files back into the report folder; false when some stayed aside.
    bool put_back() {
        if (!aside_) return true;
        bool all = true;
        for (const std::string& name : moved_)
            if (!platform::rename_no_replace_at(aside_.fd.get(), name, folder_.get(), name)) all = false;
        moved_.clear();
        // Emptied, it goes; what could not move back stays in it, named by the record.
        if (!all || !archive_io::delete_held_folder_at(folder_.get(), aside_)) all = false;
        aside_ = archive_io::MadeFolder();
        return all;
    }
    // Deletes what was moved aside; false when something stays.
    bool drop() {
        if (!aside_) return true;
        const bool gone = archive_io::delete_held_folder_at(folder_.get(), aside_);
        aside_ = archive_io::MadeFolder();
        moved_.clear();
        return gone;
    }

private:
    platform::UniqueFd folder_;
    archive_io::MadeFolder aside_;
    std::vector<std::string> moved_;
};

// Renames the folder to `renamed`, or when that name is taken (the reports made in the same
// second as a 12-lead report share its base name) to a fresh .FUL name of the archive that
// `listed` does not name either; `renamed` receives the name taken. Never over an existing entry.
// Each name goes into the record before the rename to it.
bool rename_to_full(const std::string& folder, std::string& renamed,
                    const std::function<bool(const std::string&)>& listed, ChangeRecord& record) {
    // The first name too may be listed for a folder that is gone.
    if (!listed(get_path_file_name(renamed))) {
        if (!record.note("to", get_path_file_name(renamed))) return false;
        if (platform::rename_no_replace(folder, renamed)) return true;
        if (errno != EEXIST) return false;
    }
    const std::string archive_folder = get_path_folder(folder);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string name = make_unique_file_name(archive_folder, ".FUL");
        if (listed(name)) return false;  // an entry whose folder is gone: never share it
        renamed = join_path(archive_folder, name);
        if (!record.note("to", name)) return false;
        if (platform::rename_no_replace(folder, renamed)) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

// The record names the renamed folder: its own name with "FUL" for the same base, else the
// fresh folder name.
void take_new_name(ReportRecord& record, const std::string& renamed) {
    const std::string& name = record.get_name();
    const std::string folder_name = get_path_file_name(renamed);
    const auto name_dot = name.rfind('.');
    const bool same_base = name_dot != std::string::npos && folder_name.size() == name.size() &&
                           platform::iequals(folder_name.substr(0, name_dot + 1), name.substr(0, name_dot + 1));
    record.set_name(same_base ? name.substr(0, name_dot + 1) + "FUL" : folder_name);
    record.set_size(get_folder_size(renamed, false));
}

}  // namespace

int delete_twelve_lead_ecg(const std::string& report_folder, bool must_be_listed, ReportRecord* record,
                           Error* index_error) {
    const std::string folder = platform::strip_trailing_slashes(report_folder);
    if (!get_path_file_name(folder).ends_with(".O12")) return kDeleteEcgNotTwelveLead;
    const std::string name = get_path_file_name(folder);
    std::string renamed = folder.substr(0, folder.size() - 3) + "FUL";
    EcgFilesAside aside;
    ChangeRecord change;
    bool moved = false;
    int step_failed = kDeleteEcgOk;
    // The lock first: its holder settles what a killed run of this very command left, and only
    // then is the folder judged.
    const ArchiveIndexLock lock(get_path_folder(folder));
    if (!is_twelve_lead_folder(folder)) return kDeleteEcgNotTwelveLead;
    const Result<void> changed = change_archive_index(lock, [&](ArchiveIndexEntries& entries) -> Result<void> {
        ReportRecord* entry = entries.find(name);
        if (!entry && must_be_listed) return entry_gone_error(lock.folder(), name);
        // A folder this account cannot look into may hold every ECG file: it is left as it is.
        if (const FolderJudgement judged = judge_folder(AT_FDCWD, folder); !judged.readable())
            return fail(kArchiveUnreadable, judged.unknown() ? unreadable_folder_text(folder, judged) +
                                                                   ", so its ECG files were left as they are."
                                                             : "The folder \"" + folder + "\" is no longer there.");
        if (!entry) entries.leave_file();  // not listed: there is no entry to bring up to date
        if (!change.begin(lock, kRecordDeleteEcg) || !change.note("from", name) ||
            !change.note("listed", entry ? "1" : "0")) {
            change.finish();
            return archive_io::write_error(lock.folder() + "/" + name);
        }
        if (!aside.move(folder, change)) {
            change.finish();
            step_failed = kDeleteEcgDeleteFailed;
            return fail(kArchiveDeleteFailed);
        }
        if (!rename_to_full(
                folder, renamed, [&](const std::string& n) { return entries.find(n) != nullptr; }, change)) {
            if (aside.put_back()) change.finish();
            step_failed = kDeleteEcgRenameFailed;
            return fail(kArchiveWriteFailed);
        }
        moved = true;
        ReportRecord updated = entry ? *entry : ReportRecord(name, lock.folder(), "", 0, 0, false);
        take_new_name(updated, renamed);
        if (entry) {
            entry->set_name(updated.get_name());
            entry->set_size(updated.get_size());
        }
        if (record) {
            record->set_name(updated.get_name());
            record->set_size(updated.get_size());
        }
        return {};
    });
    if (step_failed != kDeleteEcgOk) return step_failed;
    if (!changed) {
        // The entry still names the old folder: so must the disk, with its ECG files.
        if (!moved || (platform::rename_no_replace(renamed, folder) && aside.put_back())) change.finish();
        if (index_error) *index_error = changed.error();
        return kDeleteEcgIndexFailed;
    }
    // Only now that the index says so do the files go for good; what stays is the next
    // lock holder's to finish.
    if (!aside.drop()) return kDeleteEcgDeleteFailed;
    change.finish();
    return kDeleteEcgOk;
}

int delete_listed_ecg_files(ReportRecord& record, const std::string& report_folder, Error* index_error) {
    ReportRecord updated = record;
    const int result = delete_twelve_lead_ecg(report_folder, true, &updated, index_error);
    if (result == kDeleteEcgOk || result == kDeleteEcgDeleteFailed) {
        record.set_name(updated.get_name());
        record.set_size(updated.get_size());
    }
    return result;
}

std::string locate_card_program() {
    const std::string own_folder = get_module_folder();
    if (own_folder.empty()) return {};
    std::string found = get_card_program_path();
    if (!found.empty()) return found;
    const std::string candidates[] = {
        join_path(own_folder, "VOND.EXE"),
        join_path(join_path(get_analyser_system_root(), "SYSTEM"), "VOND.EXE"),
    };
    for (const std::string& c : candidates) {
        found = platform::resolve_program(platform::resolve_path_ci(c));
        if (!found.empty() && file_exists(found)) return found;
    }
    return {};
}

}  // namespace tv
