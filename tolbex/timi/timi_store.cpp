#include "tolbex/timi/timi_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/report_files.h"
#include "common/audit_log.h"
#include "common/files.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/timi/timi_data.h"
#include "tolbex/timi/timi_files.h"

namespace tv {

namespace {

// The file of that name in the folder, in whatever case it was stored; else the name as given.
std::string file_in(const std::string& folder, const char* name) {
    return platform::find_name_ci(folder, name).value_or(join_path(folder, name));
}

bool exists_in(const std::string& folder, const char* name) {
    return !folder.empty() && platform::find_name_ci(folder, name).has_value();
}

// A fresh temporary folder that goes with all it holds; null (with the message) on failure.
std::unique_ptr<TempFolder> make_temp_folder() {
    auto temp = std::make_unique<TempFolder>();
    if (temp->path().empty()) {
        show_timi_file_error(get_temp_folder());
        return nullptr;
    }
    return temp;
}

// Writes the file whole or not at all; false with the file error shown.
bool write_or_report(const std::string& path, const std::string& text) {
    errno = 0;
    if (platform::atomic_write_file(path, text)) return true;
    show_timi_file_error(path);
    return false;
}

// An archive change's message, as the browser shows it.
void show_archive_error(const Error& error) {
    if (!error.message.empty())
        ui().message_box(error.message, archive_error_caption(error.code), MsgIcon::Error, MsgButtons::Ok);
}

}  // namespace

std::string timi_file_error_text(const std::string& path, const std::string& reason) {
    const std::string why = !reason.empty() ? reason : std::strerror(errno ? errno : EIO);
    return std::string("Serious file error : ") + path + ": " + why;
}

void show_timi_file_error(const std::string& path, const std::string& reason) {
    ui().message_box(timi_file_error_text(path, reason), std::string(), MsgIcon::Error, MsgButtons::Ok);
}

void TimiStore::set_data_folder(const std::string& folder) { data_folder_ = platform::strip_trailing_slashes(folder); }

bool TimiStore::read_location_file(const std::string& path, std::string& location) {
    errno = 0;
    const auto text = read_report_file(path, ReportFileKind::TimiDay);
    if (!text) {
        show_timi_file_error(path);
        return false;
    }
    std::string line = text->substr(0, text->find_first_of("\r\n"));
    location = std::move(line);
    return true;
}

bool TimiStore::write_location_file(const std::string& path, const std::string& location) {
    return write_or_report(path, location);
}

bool TimiStore::open_audit(const char* refusal) {
    if (audit_ && audit_->open(join_path(data_folder_, "dummy.img"))) return true;
    ui().message_box(refusal, std::string(), MsgIcon::None, MsgButtons::Ok);
    if (audit_) audit_->close();
    return false;
}

bool update_listed_report(const std::string& report, const std::int64_t* time, const ReportWrite& write) {
    const std::string folder = platform::strip_trailing_slashes(report);
    const std::string name = get_path_file_name(folder);
    std::string message;  // shown once the lock is gone: nobody waits on a reader
    bool written = false;
    Result<void> changed;
    {
        const ArchiveIndexLock lock(get_path_folder(folder));
        if (!lock.held()) {
            show_archive_error(lock.busy_error());
            return false;
        }
        written = write(message);
        if (written) {
            const std::int32_t size = get_folder_size(folder, false);
            changed = change_archive_index(lock, [&](ArchiveIndexEntries& entries) -> Result<void> {
                ReportRecord* entry = entries.find(name);
                if (!entry) return entry_gone_error(lock.folder(), name);
                entry->set_size(size);
                if (time) entry->set_time(*time);
                return {};
            });
        }
    }
    if (!message.empty()) ui().message_box(message, std::string(), MsgIcon::Error, MsgButtons::Ok);
    if (!changed) show_archive_error(changed.error());
    return written;
}

bool TimiStore::save_timi_data(const TimiRowRange& rows, bool was_modified) {
    last_stored_.clear();
    last_stored_whole_ = false;
    if (!data_ || data_->rows.empty()) {
        ui().message_box(kTimiEmptyTableText, std::string(), MsgIcon::Warning, MsgButtons::Ok);
        return false;
    }
    const std::int64_t report_time = platform::system().now();
    const std::unique_ptr<TempFolder> temp_folder = make_temp_folder();  // goes on every path
    if (!temp_folder) return false;
    const std::string temp = platform::strip_trailing_slashes(temp_folder->path());

    const std::string file = join_path(temp, kTimiDataFileName);
    const std::int32_t last = rows.whole ? data_->row_count() - 1 : std::min(rows.last, data_->row_count() - 1);
    const std::int32_t first = rows.whole ? 0 : rows.first;
    if (first > last) {
        ui().message_box(kTimiEmptyTableText, std::string(), MsgIcon::Warning, MsgButtons::Ok);
        return false;
    }
    // A part of the table is a report of its own: the window's data stays unsaved.
    const bool whole = first == 0 && last == data_->row_count() - 1;
    if (writing_) writing_(true);
    const bool written = platform::atomic_write_file(file, data_->data_file_text(first, last));
    if (writing_) writing_(false);
    if (!written) {
        show_timi_file_error(file);
        return false;
    }
    if (!open_audit(kTimiDataNoLogText)) return false;
    // A signed report stays as it was signed: its edits always become a new report.
    int answer = kTimiCreateNew;
    if (!saved_data_path_.empty() && !signed_source_) answer = ask_ ? ask_(false) : 0;
    if (answer != kTimiOverwrite && answer != kTimiCreateNew) {
        audit_->close();
        return false;
    }

    std::string stored;
    if (answer == kTimiCreateNew) {
        // Goes in with the report, so that it is whole once listed.
        if (!summary_location_.empty())
            write_location_file(join_path(temp, kTimiSummaryLocationFileName), summary_location_);
        const int result = store_report_in_archive(data_folder_, temp, display_name_, get_folder_size(temp, false),
                                                   report_time, kReportTimiData, &stored, nullptr, true);
        if (result != kStoreOk) {
            audit_->close();
            show_timi_file_error(join_path(data_folder_, display_name_),
                                 "the report could not be stored in the archive (" + std::to_string(result) + ")");
            return false;
        }
        if (whole) {
            saved_data_path_ = stored;
            signed_source_ = false;
        }
    } else {
        const std::string target = file_in(saved_data_path_, kTimiDataFileName);
        const bool copied = update_listed_report(saved_data_path_, &report_time, [&](std::string& message) {
            errno = 0;
            if (!copy_file_replacing(file, target)) {
                message = timi_file_error_text(target);
                return false;
            }
            if (!summary_location_.empty()) {
                const std::string location = file_in(saved_data_path_, kTimiSummaryLocationFileName);
                errno = 0;
                if (!platform::atomic_write_file(location, summary_location_)) message = timi_file_error_text(location);
            }
            return true;
        });
        if (!copied) {
            audit_->close();
            return false;
        }
        stored = saved_data_path_;
    }
    audit_->write(was_modified ? kAuditTimiSaveModified : kAuditTimiSaveArchive, display_name_,
                  answer == kTimiCreateNew ? stored : get_path_file_name(stored), std::string());
    audit_->close();
    last_stored_ = stored;
    last_stored_whole_ = whole;
    if (reload_) reload_();
    return true;
}

bool TimiStore::write_summary(const std::string& path, std::string& message) const {
    errno = 0;
    if (platform::atomic_write_file(path, data_->summary_file_text(path))) return true;
    message = timi_file_error_text(path);
    return false;
}

TimiStore::SummaryResult TimiStore::save_timi_summary() {
    if (!data_ || data_->rows.empty()) {
        ui().message_box(kTimiEmptyTableText, std::string(), MsgIcon::Warning, MsgButtons::Ok);
        return SummaryResult::Refused;
    }
    const std::int64_t report_time = platform::system().now();
    const std::unique_ptr<TempFolder> temp_folder = make_temp_folder();
    if (!temp_folder) return SummaryResult::Refused;
    const std::string temp = platform::strip_trailing_slashes(temp_folder->path());

    const std::string file = join_path(temp, kTimiSummaryFileName);
    if (writing_) writing_(true);
    const bool written = platform::atomic_write_file(file, data_->summary_file_text(file));
    if (writing_) writing_(false);
    if (!written) {
        show_timi_file_error(file);
        return SummaryResult::Refused;
    }
    const std::int32_t size = get_folder_size(temp, false);

    if (!open_audit(kTimiSummaryNoLogText)) return SummaryResult::Refused;
    // The location file of a signed report is not ours to read or write.
    const bool own_saved_path = !saved_data_path_.empty() && !signed_source_;
    if (own_saved_path && exists_in(saved_data_path_, kTimiSummaryLocationFileName))
        read_location_file(file_in(saved_data_path_, kTimiSummaryLocationFileName), summary_location_);
    // A location written on another system, or a summary since deleted: no summary yet.
    std::error_code ec;
    if (!summary_location_.empty() && !std::filesystem::is_directory(summary_location_, ec)) summary_location_.clear();
    int answer = kTimiCreateNew;
    if (!summary_location_.empty()) answer = ask_ ? ask_(true) : 0;
    if (answer != kTimiOverwrite && answer != kTimiCreateNew) {
        audit_->close();
        return SummaryResult::Refused;
    }

    std::string target;
    if (answer == kTimiCreateNew) {
        const int result = store_report_in_archive(data_folder_, temp, display_name_, size, report_time,
                                                   kReportTimiSummary, &target, nullptr, true);
        if (result != kStoreOk) {
            audit_->close();
            show_timi_file_error(join_path(data_folder_, display_name_),
                                 "the report could not be stored in the archive (" + std::to_string(result) + ")");
            return SummaryResult::Refused;
        }
        // The data report grows by the location file: its entry says so.
        if (own_saved_path)
            update_listed_report(saved_data_path_, nullptr, [&](std::string& message) {
                const std::string location = file_in(saved_data_path_, kTimiSummaryLocationFileName);
                errno = 0;
                if (platform::atomic_write_file(location, target)) return true;
                message = timi_file_error_text(location);
                return false;
            });
        summary_location_ = target;
        // The text names where it is kept, not the temporary folder it was made in.
        const std::string stored_file = file_in(target, kTimiSummaryFileName);
        update_listed_report(target, nullptr,
                             [&](std::string& message) { return write_summary(stored_file, message); });
        set_read_only(stored_file);
    } else {
        target = summary_location_;
        if (own_saved_path && exists_in(saved_data_path_, kTimiSummaryLocationFileName))
            read_location_file(file_in(saved_data_path_, kTimiSummaryLocationFileName), target);
        const std::string stored_file = file_in(target, kTimiSummaryFileName);
        const bool copied = update_listed_report(target, &report_time, [&](std::string& message) {
            clear_read_only(stored_file);
            const bool ok = write_summary(stored_file, message);
            set_read_only(stored_file);
            return ok;
        });
        if (!copied) {
            audit_->close();
            return SummaryResult::Refused;
        }
    }
    audit_->write(kAuditTimiSaveSummary, display_name_, target, std::string());
    audit_->close();
    if (reload_) reload_();
    return answer == kTimiCreateNew ? SummaryResult::Stored : SummaryResult::Overwritten;
}

}  // namespace tv
