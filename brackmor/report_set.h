// One archive as the check sees it: the records of its ARCHINFO.DAT, each checked against its
// report folder. Invalid records are dropped (their folders deleted on request), unlisted report
// folders are recovered with their patient names, and the index is rewritten with generations.
//
// Reading differs from the browser's reader on purpose: a record is five lines, or four when the
// description line is missing (told by the date patterns), and after a record that does not fit
// the reader starts again one line further on, so one stray line costs one record, not all that
// follow. Every report type the browser stores is known here.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "brackmor/folder_tools.h"
#include "tolbex/archive/report_types.h"

namespace tv::brackmor {

class Reporter;

inline constexpr const char* kBlankDescription = "<Blank Name>";

// Why a record is invalid.
enum class Reason { None = 0, UnknownType = 1, BadDate = 2, BadSuffix = 3, FilesMissing = 4 };

// One known report type: the browser's code, the names the index may give it (the first is
// written for it), whether the name as read is kept, its folder suffix and the files its folder
// must hold.
struct KnownType {
    ReportType code;
    std::vector<std::string> names;
    bool keep_name_as_read;
    std::string suffix;
    std::vector<std::string> required_files;
};
const std::vector<KnownType>& known_types();
// The type of an index type name (exact); null when unknown.
const KnownType* type_by_name(std::string_view name);
// The type of a folder suffix (any case); null when unknown.
const KnownType* type_by_suffix(std::string_view suffix);

// True when `text` begins with "XXX XXX ?# ##:##:## ####" or "##/##/## ##:##:##" (X a letter,
// # a digit, ? anything).
bool is_date_text(std::string_view text);

struct ReportEntry {
    std::string name;  // upper case
    std::string description;
    std::string date;
    std::int32_t size = 0;
    const KnownType* type = nullptr;  // null: invalid
    std::string type_name;            // written back
    Reason reason = Reason::None;
    bool confirmed = false;  // the folder holds CONFIRM.TXT (known once checked)
};

// The patient name of a report folder for its description: PATIENT.TXT's third line, else the
// patient identifier line of DATA.TIMI, TIMI_SUMMARY.TXT or TIMI_ARRH.TXT ("Patient " before
// it), at most 63 characters. A name shorter than 4 characters gives, with `fallback`, the folder
// name, ": " and the time now; without, an empty text.
std::string report_name(const std::string& folder, bool fallback);

class ReportSet {
public:
    struct Options {
        bool delete_reports = false;
    };

    // Reads and checks the archive's ARCHINFO.DAT (none: no records).
    ReportSet(std::string archive_folder, Options options, Reporter& reporter);

    // False when the index exists but cannot be read: nothing may then be written.
    bool readable() const { return readable_; }
    void recover();
    // Writes ARCHINFO.DAT (deleted when there are no records); false, with the old file in
    // place and the failure reported, when it cannot be written.
    bool write(bool generations);
    void rename_all();

    const std::vector<ReportEntry>& records() const { return records_; }
    int recovered() const { return recovered_; }
    int removed() const { return removed_; }
    int deleted() const { return deleted_; }

private:
    void read_index();
    // Fills type/reason from the folder; reports why a record is invalid.
    void check_against_folder(ReportEntry& entry, const FolderNames& reports);
    void delete_report_folder(const std::string& path);

    std::string folder_;
    Options options_;
    Reporter& reporter_;
    std::vector<ReportEntry> records_;
    std::unordered_set<std::string> listed_;
    std::unordered_map<std::string, FolderNames> listings_;  // the report folders' names, read once
    bool readable_ = true;
    int recovered_ = 0, removed_ = 0, deleted_ = 0;
};

}  // namespace tv::brackmor
