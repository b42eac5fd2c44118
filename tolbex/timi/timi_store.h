// Where a TIMI window's data came from and how it goes into the archive: the TIMI Data report
// (523, DATA.TIMI, plus TIMI_SUMM_LOC.TXT naming its summary) and the TIMI Summary report (524,
// TIMI_SUMMARY.TXT, read-only once stored). Every store is audited, is written into a temporary
// folder first and removes that folder on every path; a failed write stores nothing and says
// which file failed and why. A report's entry changes with its files, under the archive's lock,
// and lists the folder's size after the save. A report opened from a signed report is never written into: its
// saves always make new reports. The questions the user answers come in through hooks, so the
// rules run without windows.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace tv {

class AuditTrail;
class TimiData;

// The overwrite question's answers (any other answer cancels).
inline constexpr int kTimiOverwrite = 100;
inline constexpr int kTimiCreateNew = 101;

inline constexpr const char* kTimiDataNoLogText =
    "The TIMI data cannot be saved, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kTimiSummaryNoLogText =
    "The TIMI summary cannot be saved, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kTimiFileErrorFormat = "Serious file error : %s";
inline constexpr const char* kTimiEmptyTableText = "The TIMI table holds no rows, so there is nothing to save.";

// Rows to save: the whole table, or first..last inclusive. A selection that does not make a real
// range (nothing selected: -1, -1) means the whole table; row 0 is an ordinary first row.
struct TimiRowRange {
    bool whole = true;
    std::int32_t first = 0, last = 0;
    static TimiRowRange whole_table() { return {}; }
    static TimiRowRange selected(std::int32_t first, std::int32_t last) {
        if (first < 0 || last < first) return {};
        return {false, first, last};
    }
};

// Changes a listed report's files; false leaves its entry alone. A non-empty message is shown once
// the lock is gone.
using ReportWrite = std::function<bool(std::string& message)>;
// One turn of the lock of the archive that lists `report` (its parent folder): `write` changes the
// report's files, then its entry takes the folder's size and, when `time` is given, that time, so
// that another program sees files and entry agree. False when the lock is not to be had or `write`
// fails (the user is told; the entry is untouched). An entry that cannot be changed is told; the
// files stay written.
bool update_listed_report(const std::string& report, const std::int64_t* time, const ReportWrite& write);

class TimiStore {
public:
    // Answers kTimiOverwrite, kTimiCreateNew or anything else for Cancel.
    using AskOverwrite = std::function<int(bool summary)>;

    // A trailing separator is removed.
    void set_data_folder(const std::string& folder);
    const std::string& data_folder() const { return data_folder_; }
    void set_saved_data_path(const std::string& path) { saved_data_path_ = path; }
    const std::string& saved_data_path() const { return saved_data_path_; }
    void set_display_name(const std::string& name) { display_name_ = name; }
    const std::string& display_name() const { return display_name_; }
    void set_data_file_id(const std::string& id) { data_file_id_ = id; }
    const std::string& data_file_id() const { return data_file_id_; }
    void set_summary_location(const std::string& path) { summary_location_ = path; }
    const std::string& summary_location() const { return summary_location_; }
    // The saved data path is a signed report: never overwritten, never written into.
    void set_signed_source(bool on) { signed_source_ = on; }
    bool signed_source() const { return signed_source_; }
    void set_data(const TimiData* data) { data_ = data; }
    const TimiData* data() const { return data_; }

    void set_audit(AuditTrail* audit) { audit_ = audit; }
    void set_ask_overwrite(AskOverwrite ask) { ask_ = std::move(ask); }
    void set_reload_hook(std::function<void()> hook) { reload_ = std::move(hook); }
    // Told true before a report file is written and false once it is (the wait message).
    void set_writing_hook(std::function<void(bool)> hook) { writing_ = std::move(hook); }

    // Stores the rows as a new TIMI Data report, or over the saved one when the user says so.
    // `was_modified` picks the audit text. True when the data is stored; false when refused or
    // failed, with the user told why. Only a store of every row makes a new report the saved
    // data path: a part of the table leaves the window's report what a later save overwrites.
    bool save_timi_data(const TimiRowRange& rows, bool was_modified);
    // The report folder the last successful save_timi_data wrote, and whether it got every row
    // (only then is the document unmodified).
    const std::string& last_stored_folder() const { return last_stored_; }
    bool last_stored_whole() const { return last_stored_whole_; }

    enum class SummaryResult { Refused, Stored, Overwritten };
    SummaryResult save_timi_summary();

    // TIMI_SUMM_LOC.TXT: its first line (a trailing line end is accepted); nullopt-like empty
    // when missing. Writing puts the text alone, without a line end. Failures show the file
    // error and answer false.
    static bool read_location_file(const std::string& path, std::string& location);
    static bool write_location_file(const std::string& path, const std::string& location);

private:
    bool open_audit(const char* refusal);
    // Writes the summary file at `path`, naming that path; false with the message when it cannot.
    bool write_summary(const std::string& path, std::string& message) const;

    std::string data_folder_, saved_data_path_, display_name_, data_file_id_, summary_location_, last_stored_;
    bool signed_source_ = false, last_stored_whole_ = false;
    const TimiData* data_ = nullptr;
    AuditTrail* audit_ = nullptr;
    AskOverwrite ask_;
    std::function<void()> reload_;
    std::function<void(bool)> writing_;
};

// The file-error message for `path` and the reason in errno (or `reason` when given), and
// showing it.
std::string timi_file_error_text(const std::string& path, const std::string& reason = {});
void show_timi_file_error(const std::string& path, const std::string& reason = {});

}  // namespace tv
