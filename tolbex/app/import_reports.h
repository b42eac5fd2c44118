// The report file types tolbex registers, and the import of received report files (.TVZ
// transfer files; .CEF compressed ECG files) into an archive.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tv {

inline constexpr const char* kTransferFileTypeId = "PobtanZip";
inline constexpr const char* kCefFileTypeId = "PobtanCEF";
inline constexpr const char* kMailSwitch = "/mail";

// The desktop's names for the two types and for the entry that opens them; the installed
// package (desktop/) names the same.
inline constexpr const char* kTransferMimeType = "application/x-torvane-transfer";
inline constexpr const char* kCefMimeType = "application/x-torvane-cef";
inline constexpr const char* kMailDesktopEntry = "torvane-tolbex-mail.desktop";

// Registers .TVZ and .CEF for this program ("/mail" and the file), in the registry and, when this
// is the installed program (or TV_REGISTER_FILE_TYPES=1), for this user's desktop session: the
// installation's own entry made the default where the desktop sees it, else an entry of the
// user's. True when both are in the registry.
bool register_report_file_types();

// Stores a compressed ECG file as a report of type 516: unpacked into a fresh temporary folder
// (removed again on every path), stored with the header's description and the size of the file.
// Its result is a store-result code (tolbex/exit_codes.h): kStoreCodeInvalidFile means the file
// itself is not valid; a missing or failing compressor is kStoreCodeUnpackFailed, as it says nothing
// about the file; an archive that could not be locked kStoreCodeArchiveBusy, kStoreCodeLockDenied or
// kStoreCodeArchiveReadOnly, said on the console too. Interactive calls show the messages; others
// only return the code.
// `stored_folder` receives the new report folder on success; `what` names the file's content in
// the messages.
int store_mailed_cef(const std::string& cef_file, const std::string& archive_folder, bool interactive,
                     std::string* stored_folder = nullptr, const char* what = "mailed report");
// The store a recording intake delivers its CEF through (set_cef_archive_store): interactive, true
// when stored.
bool store_intake_cef(const std::string& cef_file, const std::string& archive_folder);

// import_transfer_file results.
inline constexpr int kImportStored = 0;
inline constexpr int kImportNoTempFolder = 1;
inline constexpr int kImportUnpackFailed = 2;
inline constexpr int kImportNoRepInfo = 3;
inline constexpr int kImportBadRepInfo = 4;
inline constexpr int kImportStoreFailed = 5;
inline constexpr int kImportArchiveBusy = 6;      // another process held the archive's lock throughout
inline constexpr int kImportLockDenied = 7;       // the lock file cannot be opened for writing by this account
inline constexpr int kImportArchiveReadOnly = 8;  // the archive is read-only for this account
inline constexpr int kImportIncomplete = 9;       // the report lacks the files its type holds: not stored

// The four lines of a received report's REPINFO.TXT, with the reader's rules applied.
struct RepInfo {
    std::string description;
    std::int32_t type = 0;
    std::int64_t time = 0;
    std::int64_t size = 0;
};
// Reads `path`: a blank description gives "<Name>"; type 512 reads as 519 and anything outside
// 510..526 (or not a number) is refused; a time below 1 becomes `now`; a size of 0 (or below)
// becomes `unpacked_size`. False when a line is missing or the type is refused.
bool read_repinfo(const std::string& path, std::int64_t now, std::int64_t unpacked_size, RepInfo& info);

// Unpacks a transfer file into a fresh temporary folder, stores it as a report in the archive
// from the values of its REPINFO.TXT and removes the temporary folder on every path. A failed
// store leaves nothing in the archive (this holds for store_mailed_cef too).
// `stored_folder` receives the new report folder on success.
int import_transfer_file(const std::string& transfer_file, const std::string& archive_folder, bool interactive,
                         std::string* stored_folder = nullptr);

// The store-result code of an import result: 0 -> 0, 1 -> 9, 2 -> 8, 3..5 -> 7, 6..8 -> 11..13, 9 -> 3.
int import_result_to_store_code(int import_result);

// Chooses the destination archive for a received file (caption given); empty means Cancel.
using ArchiveChooser = std::function<std::string(const std::string& caption)>;

// What an interactive import needs from the windows; the windowed start installs it. Without it
// an interactive import only shows its messages, and "/mail" has no archive to offer.
struct ImportWindowing {
    // The destination archive of "/mail" and File > Import.
    ArchiveChooser choose_archive;
    // The wait cursor and the wait dialog (unpacking or moving/copying) for the life of the result.
    std::function<std::shared_ptr<void>(bool unpacking)> wait;
    // Called after a report was stored in `report_folder`: reload the open archive groups, open a
    // formatted report's summary.
    std::function<void(const std::string& report_folder)> stored;
};
void set_import_windowing(ImportWindowing windowing);  // empty members: nothing of that kind

enum class MailReceipt {
    kStored,
    kCancelled,  // the user cancelled the archive dialog (after any failure shown)
    kNoWindow,   // no archive dialog can be shown: nothing was done
};
// "/mail" and File > Import: asks for an archive, stores the file there, asks again after a
// failure. Without a chooser (a run without windows) it is refused at once.
MailReceipt receive_mailed_report(const std::string& file, const ArchiveChooser& choose_archive);
// The same with the installed windowing's chooser.
MailReceipt receive_mailed_report(const std::string& file);

}  // namespace tv
