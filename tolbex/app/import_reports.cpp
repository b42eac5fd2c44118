#include "tolbex/app/import_reports.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/desktop_types.h"
#include "common/files.h"
#include "common/registry.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "tolbex/app/cef_import.h"
#include "tolbex/archive/report_folder.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/archive/report_archive.h"
#include "formats/transfer_file.h"

namespace tv {

namespace {

constexpr const char* kStoreErrorCaption = "Error While Storing Mailed Report";

ImportWindowing& windowing() {
    static ImportWindowing w;
    return w;
}

// The wait cursor and dialog of an interactive import; ended before any message is shown, so
// that no message hides behind it.
class ImportWait {
public:
    ImportWait(bool interactive, bool unpacking) {
        if (interactive && windowing().wait) held_ = windowing().wait(unpacking);
    }
    void end() { held_.reset(); }

private:
    std::shared_ptr<void> held_;
};

// Stores the unpacked `folder` and finishes (a failed store leaves no report behind).
int store_received_folder(const std::string& folder, const std::string& archive_folder, const std::string& description,
                          std::int32_t size, std::int64_t time, ReportType type, std::string* stored_folder,
                          std::string* refusal) {
    std::string new_folder;
    const int stored = store_report_in_archive(archive_folder, folder, description, size, time, type, &new_folder,
                                               nullptr, false, nullptr, refusal);
    if (stored == kStoreOk && stored_folder) *stored_folder = new_folder;
    return stored;
}

bool is_lock_failure(int store_result) {
    return store_result == kStoreArchiveBusy || store_result == kStoreLockDenied ||
           store_result == kStoreArchiveReadOnly;
}

// The store-result code of a store that could not lock the archive.
int store_code_of_lock_failure(int store_result) {
    switch (store_result) {
        case kStoreArchiveBusy: return kStoreCodeArchiveBusy;
        case kStoreLockDenied: return kStoreCodeLockDenied;
        default: return kStoreCodeArchiveReadOnly;
    }
}

// After a successful interactive import: the windows catch up with the new report.
void announce_stored(bool interactive, const std::string& report_folder) {
    if (interactive && windowing().stored) windowing().stored(report_folder);
}

void tell(bool interactive, const std::string& text, const std::string& caption) {
    if (interactive) ui().message_box(text, caption, MsgIcon::Error, MsgButtons::Ok);
}

// The messages for a failed store_report_in_archive. Why the archive could not be locked is said
// even without windows (on the console), since retrying helps only when it is in use.
// `what` names what was stored: a mailed report, or a recording an intake packed.
void tell_store_failure(bool interactive, int result, const std::string& refusal = {},
                        const char* what = "mailed report") {
    if (is_lock_failure(result)) {
        const int code = result == kStoreArchiveBusy  ? kArchiveBusy
                         : result == kStoreLockDenied ? kArchiveLockDenied
                                                      : kArchiveReadOnly;
        ui().message_box(refusal, archive_error_caption(code), MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    // An archive folder that is a link, or that its group no longer lists: said as the lock is.
    if (result == kStoreFolderFailed && !refusal.empty()) {
        ui().message_box(refusal, archive_error_caption(kArchiveNotFound), MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    std::string text;
    switch (result) {
        case kStoreFolderFailed:
            text = format_string(
                "The new folder for the %s could not be created.\nThe disk may be full, or you may not have write "
                "access to it.",
                what);
            break;
        case kStoreCopyFailed:
            text = format_string(
                "The files for the %s could not be copied.\nThe disk may be full, or you may not have write "
                "access to it.",
                what);
            break;
        case kStoreIndexFailed:
            text =
                "The \"ARCHINFO.DAT\" file could not be updated.\nThe destination disk may be full, or you may "
                "not have write access to it.";
            break;
        default:
            text = format_string("The files for the %s could not be copied\nbecause of an unknown error.", what);
            break;
    }
    tell(interactive, text, kStoreErrorCaption);
}

// A whole decimal number with optional sign and surrounding blanks.
bool parse_whole_number(const std::string& text, std::int64_t& value) {
    const ParsedInteger n = parse_integer(text, INT64_MIN, INT64_MAX);
    if (!n.ok() || n.value == INT64_MIN || n.value == INT64_MAX) return false;  // beyond what is kept
    std::size_t end = n.end;
    while (end < text.size() && is_space_char(text[end])) ++end;
    if (end != text.size()) return false;
    value = n.value;
    return true;
}

}  // namespace

bool register_report_file_types() {
    const bool tvz = register_file_type(kTransferFileTypeId, "Quorril Report", ".TVZ", kMailSwitch) == 0;
    const bool cef = register_file_type(kCefFileTypeId, "Compressed Quorril Report", ".CEF", kMailSwitch) == 0;
    // The desktop opens a received file with this program too, as the registry's command does.
    DesktopOpener opener{kMailDesktopEntry,
                         "Calvera (Receive Report)",
                         {get_module_path(), kMailSwitch},
                         {{kTransferMimeType, "Quorril Report", ".TVZ"},
                          {kCefMimeType, "Compressed Quorril Report", ".CEF"}},
                         "torvane-reports.xml"};
    // Only the installed program (its installation holds the entry) speaks for this account's
    // desktop; a program run from a build folder leaves the account's openers alone unless
    // TV_REGISTER_FILE_TYPES=1 asks, so a double-clicked report never opens in a stray build.
    // An entry of this account's that an older or a build-folder tolbex left would shadow the
    // installation's, so it goes first.
    const std::string share = installation_share(get_module_path(), kMailDesktopEntry);
    const bool installed = !share.empty();
    const char* asked = std::getenv("TV_REGISTER_FILE_TYPES");
    const bool asked_for = asked && std::string(asked) == "1";
    if (installed && desktop_reads_data_folder(share)) {
        remove_stale_user_entry(opener);
        adopt_installed_opener(opener);
    } else if (installed || asked_for) {
        const DesktopRegistration done = register_desktop_opener(opener);
        // Asked for by hand, its failure is said where it was asked.
        if (asked_for && (done == DesktopRegistration::Failed || done == DesktopRegistration::NoDesktop))
            std::fprintf(stderr, "TV_REGISTER_FILE_TYPES=1: the desktop's file types were not registered (%s).\n",
                         done == DesktopRegistration::Failed ? "a file could not be written or a tool failed"
                                                             : "no desktop session, or its tools are missing");
    }
    // Neither the machine's classes nor the account's own took them: nothing else would tell.
    if (!tvz || !cef) std::fprintf(stderr, "The report file types could not be registered in the registry.\n");
    return tvz && cef;
}

int store_mailed_cef(const std::string& cef_file, const std::string& archive_folder, bool interactive,
                     std::string* stored_folder, const char* what) {
    if (!file_exists(cef_file)) {
        tell(interactive,
             format_string("The Compressed ECG File \"%s\" cannot be found.", escape_control_chars(cef_file).c_str()),
             "Missing CEF");
        return kStoreCodeMissing;
    }
    // A fresh folder of its own: nothing that other programs leave in the shared temporary
    // folder can slip into the stored report.
    const ReceivedCef received = unpack_received_cef(cef_file);
    switch (received.status) {
        case ReceivedCef::kUnpacked: break;
        case ReceivedCef::kNotCef:
        case ReceivedCef::kInvalid:
            tell(interactive,
                 format_string("The Compressed ECG File \"%s\" is not valid.", escape_control_chars(cef_file).c_str()),
                 "Invalid CEF");
            return kStoreCodeInvalidFile;
        case ReceivedCef::kNoCompressor:
            tell(interactive, "The \"SZIP.EXE\" program cannot be found.", kStoreErrorCaption);
            return kStoreCodeUnpackFailed;
        case ReceivedCef::kCancelled:
            // The user has just seen the compressor's failure and chose Cancel.
            return kStoreCodeUnpackFailed;
        case ReceivedCef::kNoTempFolder:
            tell(interactive,
                 "The temporary folder used to hold the uncompressed report files could not be created.\nYour disk "
                 "may be full.",
                 "Unable to Create Temporary Folder");
            return kStoreCodeNoTempFolder;
        case ReceivedCef::kFailed: tell_store_failure(interactive, -1, {}, what); return kStoreCodeUnpackFailed;
    }
    FolderRemover remover(received.folder, true, true);

    const std::int64_t file_size = get_file_size_64(cef_file);
    const std::int32_t size = file_size > 0x7FFFFFFF ? 0x7FFFFFFF
                              : file_size < 0        ? 0
                                                     : static_cast<std::int32_t>(file_size);
    ImportWait wait(interactive, false);
    std::string new_folder, refusal;
    const int stored =
        store_received_folder(received.folder.substr(0, received.folder.size() - 1), archive_folder,
                              received.description, size, platform::system().now(), kReportCef, &new_folder, &refusal);
    wait.end();
    if (stored != kStoreOk) {
        tell_store_failure(interactive, stored, refusal, what);
        return is_lock_failure(stored) ? store_code_of_lock_failure(stored) : kStoreCodeUnpackFailed;
    }
    if (stored_folder) *stored_folder = new_folder;
    announce_stored(interactive, new_folder);
    return kStoreCodeOk;
}

bool store_intake_cef(const std::string& cef_file, const std::string& archive_folder) {
    return store_mailed_cef(cef_file, archive_folder, true, nullptr, "recording") == kStoreCodeOk;
}

bool read_repinfo(const std::string& path, std::int64_t now, std::int64_t unpacked_size, RepInfo& info) {
    // Four short lines from the sender; anything larger is not one.
    platform::UniqueFile f = open_outside_stream(path, 1 << 16);
    if (!f) return false;
    std::string lines[4];
    bool complete = true;
    for (auto& line : lines) {
        if (!read_text_line(f.get(), line)) {
            complete = false;
            break;
        }
    }
    if (!complete) return false;

    trim_trailing_chars(lines[0], " \t");
    // Appended, not "<" + name: gcc 12 at -O3 takes the string insert for an overlapping copy.
    info.description =
        is_blank(lines[0]) ? std::string("<").append(load_resource_string(kStrName)).append(">") : lines[0];
    std::int64_t type = 0, time = 0, size = 0;
    if (!parse_whole_number(lines[1], type)) return false;
    if (type == kReportUntyped) type = kReportFormatted;
    if (type < kReportFull || type > kReportTimiArrhythmia) return false;
    if (!parse_whole_number(lines[2], time)) return false;
    if (!parse_whole_number(lines[3], size)) return false;
    info.type = static_cast<std::int32_t>(type);
    info.time = time < 1 ? now : time;
    info.size = size <= 0 ? unpacked_size : size;
    return true;
}

int import_transfer_file(const std::string& transfer_file, const std::string& archive_folder, bool interactive,
                         std::string* stored_folder) {
    // A fresh folder of its own: nothing that other programs leave in the shared temporary
    // folder can slip into the stored report.
    const TempFolder temp;
    const std::string& folder = temp.path();
    if (folder.empty()) {
        tell(interactive,
             "The temporary folder used to hold the uncompressed report files could not be created.\nYour disk "
             "may be full.",
             "Unable to Create Temporary Folder");
        return kImportNoTempFolder;
    }

    ImportWait wait(interactive, true);
    std::string notice;
    const int unpacked = unpack_transfer_file(transfer_file, folder, &notice);
    wait.end();
    if (!notice.empty()) show_error(notice);
    if (unpacked != kUnpackOk) {
        const char* text;
        switch (unpacked) {
            case kUnpackBadData: text = "The mailed report file is not a valid compressed report file."; break;
            case kUnpackCannotCreate:
                text =
                    "The compressed mailed report could not be uncompressed\nbecause there is not enough disk space.";
                break;
            case kUnpackCannotOpen: text = "The compressed mailed report file cannot be found."; break;
            default:
                text = "The uncompression of the compressed mailed report failed because of an unknown error.";
                break;
        }
        tell(interactive, text, kStoreErrorCaption);
        return kImportUnpackFailed;
    }

    auto repinfo = platform::find_name_ci(folder, std::string(kRepInfoName));
    if (!repinfo) {
        tell(interactive, "The file that describes the mailed report (\"REPINFO.TXT\") is missing.",
             kStoreErrorCaption);
        return kImportNoRepInfo;
    }
    RepInfo info;
    if (!read_repinfo(*repinfo, platform::system().now(), sum_file_sizes(folder + "*.*"), info)) {
        tell(interactive, "The file that describes the mailed report (\"REPINFO.TXT\") could not be read.",
             kStoreErrorCaption);
        return kImportBadRepInfo;
    }
    // What the repair tool would remove as incomplete is never stored; said without windows too.
    if (!is_sound_report_folder(info.type, folder.substr(0, folder.size() - 1))) {
        ui().message_box(format_string("The mailed report \"%s\" is incomplete: it lacks files that a report of "
                                       "its type (%s) holds, so it was not stored.",
                                       get_path_file_name(transfer_file).c_str(), report_type_name(info.type).c_str()),
                         kStoreErrorCaption, MsgIcon::Error, MsgButtons::Ok);
        return kImportIncomplete;
    }
    const std::int32_t size = info.size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(info.size);
    // A signed report is its container: whatever came beside it is not stored with it.
    const TempFolder container_only;
    std::string received = folder.substr(0, folder.size() - 1);
    if (info.type == kReportSigned) {
        const auto container = platform::find_name_ci(received, kSignedContainerName);
        if (container_only.path().empty() || !container ||
            std::rename(container->c_str(), (container_only.path() + kSignedContainerName).c_str()) != 0) {
            tell(interactive, "The mailed signed report could not be taken from its temporary folder.",
                 kStoreErrorCaption);
            return kImportStoreFailed;
        }
        received = container_only.path().substr(0, container_only.path().size() - 1);
    }
    std::string new_folder, refusal;
    const int stored = store_received_folder(received, archive_folder, info.description, size, info.time, info.type,
                                             &new_folder, &refusal);
    if (stored != kStoreOk) {
        tell_store_failure(interactive, stored, refusal);
        switch (stored) {
            case kStoreArchiveBusy: return kImportArchiveBusy;
            case kStoreLockDenied: return kImportLockDenied;
            case kStoreArchiveReadOnly: return kImportArchiveReadOnly;
            default: return kImportStoreFailed;
        }
    }
    if (stored_folder) *stored_folder = new_folder;
    announce_stored(interactive, new_folder);
    return kImportStored;
}

int import_result_to_store_code(int import_result) {
    switch (import_result) {
        case kImportStored: return 0;
        case kImportNoTempFolder: return 9;
        case kImportUnpackFailed: return 8;
        case kImportIncomplete: return kStoreCodeInvalidFile;
        case kImportArchiveBusy: return kStoreCodeArchiveBusy;
        case kImportLockDenied: return kStoreCodeLockDenied;
        case kImportArchiveReadOnly: return kStoreCodeArchiveReadOnly;
        default: return 7;
    }
}

void set_import_windowing(ImportWindowing w) { windowing() = std::move(w); }

MailReceipt receive_mailed_report(const std::string& file, const ArchiveChooser& choose_archive) {
    if (!choose_archive) return MailReceipt::kNoWindow;
    const bool is_cef = get_extension_upper(get_path_file_name(file)) == "CEF";
    for (;;) {
        const std::string archive = choose_archive(load_resource_string(kStrReceivingMail));
        if (archive.empty()) return MailReceipt::kCancelled;
        const int result = is_cef ? store_mailed_cef(file, archive, true) : import_transfer_file(file, archive, true);
        if (result == 0) return MailReceipt::kStored;
    }
}

MailReceipt receive_mailed_report(const std::string& file) {
    // A copy: the chooser may run a nested event loop in which the windowing is replaced.
    const ArchiveChooser choose = windowing().choose_archive;
    return receive_mailed_report(file, choose);
}

}  // namespace tv
