// The archive-group document of the archive browser, without any window: one archive group,
// all reports of all its archives flattened into rows, the texts the list shows, the row order,
// the patient details of a row and the operations that change the archives from the browser
// (description, delete, copy, move, archives). The windowed document owns one and forwards to it;
// tests drive it directly.
//
// Rows are (archive index, record index) pairs into the loaded group: nothing is copied out of
// the records, so a group of 100,000 reports lists at the cost of reading its indexes.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tolbex/archive/archive_operations.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/browser/archive_documents.h"

namespace tv {

class ArchiveConfigList;
class AuditTrail;
class ArchiveGroup;
class ReportArchive;

inline constexpr const char* kNoPatientDetailsText = "<No Patient Details Available>";
inline constexpr const char* kArchivesInFolderText = "Archives in folder ";
inline constexpr const char* kArchiveGroupDocTitle = "Archive Group";
// File-type id of the archive-group document template.
inline constexpr const char* kArchiveDocTypeId = "Calvera.Archive";

// Columns of the report list.
inline constexpr int kBrowserColumnCount = 6;
enum BrowserColumn {
    kColumnName = 0,
    kColumnArchive = 1,
    kColumnDate = 2,
    kColumnSize = 3,
    kColumnType = 4,
    kColumnConfirmed = 5
};
// "Name", "Archive", "Date", "Size (bytes)", "Type", "Confirmed"; "" outside 0..5.
const char* browser_column_title(int column);

// Edited descriptions: at most 63 bytes; a blank one is stored as "----------".
inline constexpr std::size_t kEditedDescriptionMax = 63;
inline constexpr const char* kBlankDescriptionText = "----------";
std::string edited_description_text(std::string_view typed);
// The description a copied or moved report gets: with `prefix`, "[archive] description"; a
// result over 63 bytes becomes its first 60 bytes and "...".
std::string transfer_description(std::string_view archive_name, std::string_view description, bool prefix);

// Messages of the browser's operations (fixed English texts); those of the archive steps are in
// tolbex/archive/archive_operations.h.
inline constexpr const char* kCopyErrorText =
    "There was an error while copying reports.\nThe destination disk may be full, or you may not have write "
    "access to it.";
inline constexpr const char* kArchiveMissingText =
    "The currently displayed archive cannot be found.\nIf the archive was on a disk (such as a floppy) that has "
    "been removed,\nyou must replace the disk before you can work with any reports in the archive.";
inline constexpr const char* kArchiveMissingCaption = "Current Archive Cannot Be Found";
inline constexpr const char* kArchiveChangedText =
    "Archives have been changed by another program - the display will now be refreshed";
inline constexpr const char* kArchiveChangedCaption = "Archive Changed";
inline constexpr const char* kSameArchiveText =
    "No reports were copied because the source and destination archives were the same.";
inline constexpr const char* kReportGoneText =
    "The report \"%s\" is no longer listed in its archive: another program has moved or deleted it. It was "
    "left out.";

// A report as a command names it from the moment it is chosen: rows do not outlive a refresh.
struct ReportRef {
    std::string archive_path, name, description;
};

// archive_ops::remove_index_entry, showing its message on failure.
bool remove_index_entry(const std::string& index_path, std::string_view folder_name);

// The labelled patient details of PATIENT.TXT contents for the version given.
std::string format_patient_details(std::string_view text, double version);

class BrowserListCore {
public:
    BrowserListCore();
    ~BrowserListCore();
    BrowserListCore(const BrowserListCore&) = delete;
    BrowserListCore& operator=(const BrowserListCore&) = delete;

    // Opening from the framework: `path` is an ARCHDIR.DAT. Remembers the path, loads, sets the
    // title. Returns the load's result.
    bool open_document(const std::string& path);
    // Where the operations leave their audit entries; null (the default) logs nothing.
    void set_audit(AuditTrail* audit) { audit_ = audit; }
    AuditTrail* audit() const { return audit_; }
    const std::string& get_path_name() const { return path_; }
    // "Archives in folder <group folder>" once loaded; "Archive Group" before.
    const std::string& get_title() const { return title_; }

    // Reads the group afresh (indexes included). Rows, current row and details start over.
    bool load_group(const std::string& path);
    // load_group, then the title.
    bool reload_group(const std::string& path);
    // reload_group of the own path, then the views are told (see set_on_reloaded).
    bool reload();
    // Called after every reload: the windowed document updates its views here.
    void set_on_reloaded(std::function<void()> callback) { on_reloaded_ = std::move(callback); }
    // Makes the wait window that copying and moving reports show, each report's description set
    // on it in turn; it goes before the outcome is told. Not used when the caller passes its own.
    using WaitWindowMaker = std::function<std::unique_ptr<ProgressWindow>()>;
    void set_wait_window_maker(WaitWindowMaker maker) { wait_maker_ = std::move(maker); }

    bool has_group() const { return group_ != nullptr; }
    ArchiveGroup* get_group() const { return group_.get(); }

    std::int32_t get_row_count() const { return static_cast<std::int32_t>(rows_.size()); }
    std::int32_t get_archive_count() const;
    // The row's archive and record (null for a row out of range or a deleted slot).
    ReportArchive* get_archive(std::int32_t row) const;
    ReportRecord* get_record(std::int32_t row) const;
    std::int32_t get_archive_index(std::int32_t row) const;  // -1 out of range
    ReportType get_record_type(std::int32_t row) const;      // 0 without a group or record
    std::string get_archive_name(std::int32_t archive_index) const;
    std::string get_group_folder() const;
    // <archive>/<name>; "" when the row has none.
    std::string get_report_folder(std::int32_t row) const;
    std::string get_column_text(std::int32_t row, int column) const;
    // Size of the row's archive's ARCHINFO.DAT; 0 when none.
    std::int64_t get_index_size(std::int32_t row) const;

    // Sorts rows by the key's column (texts without regard to case, times and sizes as numbers),
    // reversed when descending; ties by archive name, then description, both ascending; rows
    // that compare equal keep their order.
    void sort_rows(std::vector<std::int32_t>& rows, int key, bool ascending) const;

    // The reports the rows show, and the row that shows a report now (-1 when it is gone).
    std::vector<ReportRef> refs_of(const std::vector<std::int32_t>& rows) const;
    std::int32_t find_row(const ReportRef& ref) const;

    // Every change below is made to the index as it is on disk (see archive_operations.h) and
    // reloads the group, so the rows then show what the files hold.
    // Stores the description in the archive's index.
    bool set_description(std::int32_t row, std::string_view text);
    // The first record named `folder_name` (any case) in archive order gets `time`. False when no
    // archive holds it or the change failed.
    bool set_report_time(std::string_view folder_name, std::int64_t time);
    // Deletes the 12-lead ECG files of the report and renames its folder and entry together
    // (result of tv::delete_listed_ecg_files); a report that is no longer listed is named and
    // left out (kDeleteEcgNotTwelveLead).
    // Does not reload: the caller does after the last one.
    int delete_ecg_files(const ReportRef& report);
    int delete_ecg_files(std::int32_t row);

    bool has_changed_on_disk() const;
    bool is_group_file_missing() const;

    // The row whose details are shown; returns the previous one. -1 for none.
    std::int32_t set_current_row(std::int32_t row);
    std::int32_t get_current_row() const { return current_row_; }
    // Works out the current row's details and flags again (its files may have changed meanwhile).
    void refresh_current_details();
    const std::string& get_current_details() const { return details_; }
    bool has_letters() const { return has_letters_; }
    bool has_voice_message() const { return has_voice_; }
    std::string get_details_text(std::int32_t row) const;

    // --- operations ---
    // Deletes the reports for good (audit entry each), then reloads. Stops at the first report
    // that the disk space, the audit log or the index refuses; one no longer listed is named and
    // left out. Returns the number deleted.
    int delete_named_reports(const std::vector<ReportRef>& reports);
    int delete_reports(const std::vector<std::int32_t>& rows);
    // Copies or moves one report into another archive folder. Before anything is stored the
    // audit logs of destination (and, moving, source) and the free space are checked.
    bool copy_or_move_report(std::int32_t archive_index, std::int32_t record_index,
                             const std::string& destination_archive, bool move, bool move_files, bool prefix);
    // Copies or moves the reports into archive `archive_index` of the group in `group_folder`;
    // reports already in that archive are skipped. Reloads every open group document and shows
    // the outcome. True when nothing failed.
    bool copy_or_move_named(const std::vector<ReportRef>& reports, const std::string& group_folder,
                            std::int32_t archive_index, bool move, bool move_files, bool prefix,
                            ProgressWindow* progress = nullptr);
    // Moves every report of archive `from` into archive `to` (prefixed with the archive name).
    bool move_archive_contents(std::int32_t from, std::int32_t to, ProgressWindow* progress = nullptr);
    // Deletes the archive's folder, rewrites ARCHDIR.DAT and reloads; nothing is rewritten when
    // the folder could not be deleted.
    bool remove_archive(std::int32_t archive_index);
    // remove_archive of the first archive whose folder is "DELETED" (any case); false when none.
    bool remove_deleted_archive();
    // Deletes every archive folder and ARCHDIR.DAT, and the group from `config` when it lists
    // entries. False, with the reason shown, when less than 65,536 bytes are free, an archive
    // could not be deleted (ARCHDIR.DAT then lists the archives that are left) or ARCHDIR.DAT
    // could not be deleted.
    bool delete_group(ArchiveConfigList* config);

    // The index of the archive named exactly "Deleted Reports", creating it (folder "DELETED"
    // first, then the ARCHDIR.DAT entry) when missing; -1 when it cannot be made.
    std::int32_t ensure_deleted_archive();
    // Moves the rows into "Deleted Reports" (prefixed with their archive names). False when the
    // group's disk has less than 65,536 bytes free or any move failed.
    bool move_named_to_deleted_reports(const std::vector<ReportRef>& reports, ProgressWindow* progress = nullptr);
    // The browser's Delete command after the selection check: asks, moves into "Deleted Reports"
    // or, when `shown_archive` is that archive or the move failed and the user agrees, deletes
    // for good. The reports are those the rows showed when the command was chosen; the refresh
    // waits from the question to the end. True when something changed.
    bool delete_selected(const std::vector<std::int32_t>& rows, std::string_view shown_archive);
    // Adds a new archive with `display_name` (a fresh folder first, then the ARCHDIR.DAT entry)
    // and reloads every open group document. False (message shown) on failure.
    bool create_archive(std::string_view display_name);

private:
    // The archive and record a report is now at; null, with the report named, when it is gone.
    ReportArchive* find_archive_of(const ReportRef& ref) const;
    ReportRecord* resolve(const ReportRef& ref, ReportArchive** archive) const;
    bool copy_or_move_report(ReportArchive& archive, const std::string& name, const std::string& destination, bool move,
                             bool move_files, bool prefix);
    void rebuild_rows();
    void update_title();
    void compute_current_flags();

    std::string path_;
    std::string title_ = kArchiveGroupDocTitle;
    std::unique_ptr<ArchiveGroup> group_;
    struct Row {
        std::int32_t archive;
        std::int32_t record;
    };
    std::vector<Row> rows_;
    std::int32_t current_row_ = -1;
    std::string details_ = kNoPatientDetailsText;
    bool has_letters_ = false;
    bool has_voice_ = false;
    std::function<void()> on_reloaded_;
    WaitWindowMaker wait_maker_;
    AuditTrail* audit_ = nullptr;
};

}  // namespace tv
