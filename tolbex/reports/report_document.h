// The document of one formatted report: the report folder the analysis system wrote (SUMMARY.TXT,
// VERSION.TXT, PATIENT.TXT, PAGE.<n>, the 12-lead metafiles and their emflist.dat). It loads the
// pages in display order, keeps the user's annotations and writes them back, confirms and
// unconfirms the report, and exports it. No window is needed: the report window, printing and
// the command line all work on this class.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tolbex/archive/report_types.h"
#include "tolbex/reports/report_page.h"

namespace tv {

class AuditTrail;

class ReportArchive;
class ReportRecord;

inline constexpr const char* kSummaryTxtName = "SUMMARY.TXT";
inline constexpr const char* kReportRtfName = "REPORT.RTF";
inline constexpr const char* kEmfListName = "emflist.dat";
// A signed report (is_signed_report_folder) shows only what its container restores, never the files
// beside it, so this document refuses it (tolbex/signing opens it for showing).
inline constexpr const char* kSignedFolderRefusal =
    "%s is a signed report: it is shown only from its verified signed file.";

// Message texts of the document.
inline constexpr const char* kReportTitlePrefix = "Report: ";
inline constexpr const char* kSaveQuestionPrefix = "Do you want to save: ";
inline constexpr const char* kPreviewSaveQuestion =
    "Do you want to keep your text changes?\n\nYes keeps them for printing now.\nNo discards them.\nCancel returns "
    "to the preview.";
inline constexpr const char* kSaveNoLogMessage =
    "The modified report cannot be saved, because the logfile cannot be opened.\n\nPlease attempt the operation "
    "again.";
inline constexpr const char* kConfirmWriteFailed = "Couldn't write user name to file \"%s\".";
inline constexpr const char* kConfirmWriteCaption = "Couldn't write \"CONFIRM.TXT\"";
inline constexpr const char* kConfirmDeleteFailed = "Couldn't delete the confirmation file \"%s\"";
inline constexpr const char* kConfirmDeleteCaption = "Couldn't delete \"CONFIRM.TXT\"";
inline constexpr const char* kConfirmNoUser =
    "The user who confirms the report could not be found out, so the report was not confirmed.";
inline constexpr const char* kReportSaveFailed = "The annotations of the report could not be saved:\n%s";

// What the header of a built-in or picture page shows, from the first 13 lines of a report
// folder's PATIENT.TXT as written: line 3 the name, 9 the patient number, 13 the recording date,
// "--" standing for empty. Dates are not checked and missing lines stay empty, so that a short
// file or one unreadable date does not hide the patient. nullopt when there is no PATIENT.TXT.
struct PatientHeaderFields {
    std::string name, patient_number, recording_date;
};
std::optional<PatientHeaderFields> read_patient_header_fields(const ReportFolder& report_folder);
std::optional<PatientHeaderFields> read_patient_header_fields(const std::string& report_folder);

// The program's switches the document follows.
struct ReportDocumentMode {
    bool preview = false;       // "/preview"
    bool read_only = false;     // "/readonly"
    bool confirm_cnav = false;  // "/enable_confirm_cnav": confirmation asks the identity window
};

class ReportDocument {
public:
    ReportDocument();
    ~ReportDocument();
    ReportDocument(const ReportDocument&) = delete;
    ReportDocument& operator=(const ReportDocument&) = delete;

    // Loads the report folder (a folder, or any file inside it such as SUMMARY.TXT). False when a
    // page file cannot be read (`error` says which) or the folder is a signed report; the
    // document then holds no pages.
    bool load(const std::string& path, const ReportDocumentMode& mode, std::string* error = nullptr);
    // The same for a report folder already open (from its archive down, or as the command line
    // named it): every file of the report is read through it.
    bool load(const ReportFolder& folder, const ReportDocumentMode& mode, std::string* error = nullptr);
    // The report folder of a path given to open: a trailing "/SUMMARY.TXT" (any case) removed, or
    // the folder of a file path; trailing slashes dropped.
    static std::string folder_of(const std::string& path);

    // --- pages ---
    int page_count() const { return static_cast<int>(pages_.size()); }
    CReportPage* page(int index) const;
    const PageFonts& fonts() const { return fonts_; }

    // --- annotations (each marks the document modified); false for a bad page or item ---
    // Returns the new item's index, or -1.
    int add_annotation(int page, const std::string& text, std::int32_t x, std::int32_t y);
    bool replace_annotation(int page, int item, const std::string& text);
    bool delete_annotation(int page, int item);
    std::string annotation_text(int page, int item) const;

    bool is_modified() const { return modified_; }
    void set_modified(bool on = true) { modified_ = on; }
    // Writes every page's annotations back (page files only). False when one failed; the pages
    // that did not save stay modified and the document stays modified.
    bool save(std::string* error = nullptr);

    // The save prompt on closing. True: go on (saved, discarded or nothing to save); false: stay
    // open. With "Yes", the save is traced in the audit log and refused without it.
    bool save_modified();
    // Where traced saves leave their audit entries; null (the default) logs nothing.
    void set_audit(AuditTrail* audit) { audit_ = audit; }
    // The traced save of the report window (its Save command): audit log, save, record. With no
    // page changed there is nothing to write: no log, true.
    bool save_with_audit();

    // Deletes the temporary folder (the unpacked copy of a signed report), if any.
    void close();

    // --- confirmation ---
    // Asks the identity window for the confirming user; empty when it cannot say.
    using PeerUserQuery = std::function<std::string()>;
    void set_peer_user_query(PeerUserQuery query) { peer_user_ = std::move(query); }
    bool can_confirm() const;
    bool can_unconfirm() const;
    // False (with a message shown) when nothing changed on disk. Unconfirming a report whose
    // CONFIRM.TXT is already gone still unconfirms it in the index, and says the file was not
    // there to delete. CONFIRM.TXT is written and removed through the report folder held open
    // (archive_ops::set_confirmed; a preview's through the folder loaded), under the folder's own
    // lock; a folder replaced by a link meanwhile is left as it is, and the message says so.
    bool confirm();
    bool unconfirm();

    // What the pages leave out of the report: a page file that is not whole (empty, damaged, or
    // missing while a later one is there), the 12-lead section when the folder holds metafiles
    // and their list (emflist.dat) is missing, cannot be read or is cut short, and each metafile
    // a picture page plays that cannot be read (the first found). Empty when nothing is. A window
    // shows what there is; the command line writes and prints nothing of such a report.
    std::string missing_parts() const;
    // The page-file part of that alone (what an RTF export, which holds the page files only,
    // needs whole).
    const std::string& page_problem() const { return page_problem_; }

    // --- export for the command line ---
    // format "RTF": <folder>/REPORT.RTF from the page files; "PCX" (any case) or anything else
    // (BMP): PAGE%04d.<ext> for every page at 2496 x 3520. False when a file could not be written.
    bool export_rtf(const std::string& folder, const std::string& format, std::string* error = nullptr) const;

    // --- what the openers set and read ---
    const std::string& report_folder() const { return folder_; }
    // The report folder as loaded; not open before a load.
    const ReportFolder& report_files() const { return files_; }
    bool is_oem() const { return oem_; }
    bool is_read_only() const { return read_only_; }
    const ReportDocumentMode& mode() const { return mode_; }
    const std::string& patient_name() const { return patient_name_; }
    const std::string& patient_number() const { return patient_number_; }
    const std::vector<EmfEntry>& metafile_list() const { return emf_list_; }

    void set_report_title(const std::string& title) { title_ = title; }
    const std::string& report_title() const { return title_; }
    void set_report_name(const std::string& name) { name_ = name; }
    // The name, or the title when no name was given.
    const std::string& report_name() const { return name_.empty() ? title_ : name_; }
    void set_confirmation(const std::string& user);
    const std::string& confirmation() const { return confirmation_; }
    void set_temporary_folder(const std::string& folder) { temp_folder_ = folder; }
    const std::string& temporary_folder() const { return temp_folder_; }
    void set_archive_report_path(const std::string& path) { archive_report_path_ = path; }
    const std::string& archive_report_path() const { return archive_report_path_; }
    // Where audit records say the report is: the archive report path, else the report folder.
    const std::string& audit_location() const { return archive_report_path_.empty() ? folder_ : archive_report_path_; }
    void set_report_size(std::uint32_t size) { size_ = size; }
    std::uint32_t report_size() const { return size_; }
    void set_report_time(std::int64_t time) { time_ = time; }
    std::int64_t report_time() const { return time_; }
    // Links the document to its archive entry (so that confirming updates the index). The entry
    // is remembered by archive folder and folder name: the archive's records do not outlive a
    // refresh of the list they came from.
    void set_archive(const ReportArchive& archive, const ReportRecord& record);
    // After a confirm or unconfirm changed an index (the windows refresh what lists it).
    void set_on_index_changed(std::function<void()> callback) { on_index_changed_ = std::move(callback); }
    // Whenever the confirmation changes, however it was changed (what shows it follows).
    void set_on_confirmation_changed(std::function<void()> callback) { on_confirmation_changed_ = std::move(callback); }

private:
    void append_builtin(std::unique_ptr<CReportPage> page);
    bool has_page_changes() const;
    void clear_pages();

    std::vector<std::unique_ptr<CReportPage>> pages_;
    std::vector<EmfEntry> emf_list_;
    PageFonts fonts_;
    AuditTrail* audit_ = nullptr;
    ReportDocumentMode mode_;
    std::string folder_, title_, name_, confirmation_, temp_folder_, archive_report_path_;
    std::string patient_name_, patient_number_, emf_problem_, page_problem_;
    ReportFolder files_;
    std::uint32_t size_ = 0;
    std::int64_t time_ = 0;
    struct ArchiveEntry {
        std::string archive_folder, name, folder_path;
        bool confirmed = false;
    };
    std::optional<ArchiveEntry> entry_;
    std::function<void()> on_index_changed_;
    std::function<void()> on_confirmation_changed_;
    PeerUserQuery peer_user_;
    bool oem_ = false;
    bool read_only_ = false;
    bool modified_ = false;
};

}  // namespace tv
