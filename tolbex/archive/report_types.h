// Report types and report records: the closed set of report kinds (told apart by the report
// folder's extension) and the in-memory form of one entry of an archive's ARCHINFO.DAT.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/report_files.h"
#include "common/result.h"

namespace tv {

// A report type code. The set is closed; -1 stands for anything unknown.
using ReportType = std::int32_t;

inline constexpr ReportType kReportFull = 510;            // ".FUL"
inline constexpr ReportType kReportPartial = 511;         // ".PRT"
inline constexpr ReportType kReportUntyped = 512;         // no extension
inline constexpr ReportType kReportRawEcg = 513;          // ".RAW"
inline constexpr ReportType kReportOstrabel = 514;        // ".OSB"
inline constexpr ReportType kReportOstrabelCf = 515;      // ".CFR"
inline constexpr ReportType kReportCef = 516;             // ".CEF"
inline constexpr ReportType kReportNoske = 517;           // ".NOS"
inline constexpr ReportType kReportGavrille = 518;        // ".QDS"
inline constexpr ReportType kReportFormatted = 519;       // ".IMG"
inline constexpr ReportType kReportFormatted520 = 520;    // ".IMG" too; a folder never reads as 520
inline constexpr ReportType kReportVarUdiri = 521;        // ".RR"
inline constexpr ReportType kReportSigned = 522;          // ".SGN"
inline constexpr ReportType kReportTimiData = 523;        // ".TIM"
inline constexpr ReportType kReportTimiSummary = 524;     // ".SUM"
inline constexpr ReportType kReportFullOstrabel12 = 525;  // ".O12"
inline constexpr ReportType kReportTimiArrhythmia = 526;  // ".ARR"
inline constexpr ReportType kReportUnknown = -1;

// A signed report's container. A folder that holds one, or is named *.SGN, is a signed report: it
// is what its container holds, and travels, shows and prints as that alone.
inline constexpr const char* kSignedContainerName = "signed.dat";
bool is_signed_report_folder(const ReportFolder& folder);

// Longest line of each ARCHINFO.DAT field that a writer may produce (readers take any length).
inline constexpr std::size_t kIndexNameMax = 63;
inline constexpr std::size_t kIndexDescriptionMax = 255;
inline constexpr std::size_t kIndexDateMax = 63;
inline constexpr std::size_t kIndexSizeMax = 31;
inline constexpr std::size_t kIndexTypeNameMax = 31;

// Stand-ins that keep an index line from ever being blank.
inline constexpr const char* kEmptyDescriptionText = "<Name>";
inline constexpr const char* kEmptyTypeNameText = "Unknown";

// The type of a report folder path: its text from the last '.' on, compared without case with
// .FUL .PRT .IMG .RAW .OSB .CFR .CEF .NOS .QDS .RR .SGN .TIM .SUM .O12 .ARR in that order.
// No '.' after the last separator, or more than seven characters after it, gives -1.
ReportType report_type_from_path(std::string_view path);

bool is_formatted_type(ReportType type);  // 519 or 520
// ".FUL" etc.; empty for 512 and for unknown codes. 520 gives ".IMG".
std::string report_type_extension(ReportType type);
// The type name of the index and the browser's "Type" column ("Full Ostrabel12" for 525); empty
// for 512 and for unknown codes.
std::string report_type_name(ReportType type);
// The name the store routine writes ("Full Ostrabel 12" for 525); empty for 512 and unknown codes.
std::string report_type_store_name(ReportType type);
// The text that describes the type to the user ("With recording", ...); "Unknown" for 512 and
// for codes outside the table.
std::string report_type_description(ReportType type);

// True when, after leading white space and at least one decimal digit, the next character is 'C'
// ("1234C", " 12C"; not "C").
bool is_confirmed_size_text(std::string_view text);
// The number of an index's size line, as every reader of the index reads it: white space
// (" \t\n\v\f\r"), an optional sign, decimal digits (what follows them, a 'C' say, is not read),
// held within 32 bits. nullopt when no digit comes after the white space and sign.
std::optional<std::int32_t> read_size_line(std::string_view text);

// A description as it may be written into an index: control characters become blanks, the text
// is cut to 255 bytes and trailing blanks go; a text left blank becomes "<Name>".
std::string sanitize_description(std::string_view text);
// Any index line: control characters become blanks, cut to `limit` bytes, trailing blanks
// removed; a text left blank becomes `fallback`.
std::string sanitize_index_line(std::string_view text, std::size_t limit, std::string_view fallback);

// Local time in the fixed form "Www Mmm dd hh:mm:ss yyyy" (24 characters, day zero-padded).
// A time that cannot be broken down gives the text of time 0.
std::string format_file_date_text(std::int64_t time);
// Local time as the user's locale writes a short date, one blank, and the time without seconds
// (64 characters at most). Empty when the time cannot be broken down.
std::string format_display_date_text(std::int64_t time);

// Which product wrote a report folder: 1 when the second line of its version.txt is exactly
// "Gavrille", otherwise 0 (the analysis system; also for a missing file or line). An error
// ("File exception, ...", code 1) when the file cannot be read.
Result<int> get_report_source_product(const std::string& folder);

// Reads the date of an index line as the shared date parser does ("dd/mm/yy hh:mm[:ss]" or
// "Www Mmm dd hh:mm:ss yyyy", local time; the current time for anything unreadable), keeping
// the seconds of the short form.
std::int64_t parse_index_date_text(std::string_view text);

// While one lives on a thread, local midnights are remembered per calendar day, so that reading a
// large index converts most dates without asking the time-zone database again. Nested ones share
// the outer cache. Made by the index readers for the duration of one read.
class ScopedDateCache {
public:
    ScopedDateCache();
    ~ScopedDateCache();
    ScopedDateCache(const ScopedDateCache&) = delete;
    ScopedDateCache& operator=(const ScopedDateCache&) = delete;

private:
    bool owner_ = false;
};

// One report as an archive's index lists it.
class ReportRecord {
public:
    // Built from index lines 5, 4, 3, 1, the archive folder and line 2. The type comes from the
    // folder name's extension, never from the stored type name (which is ignored). Name and
    // description are kept as read, and written back so.
    ReportRecord(std::string_view type_name, std::string_view size_text, std::string_view date_text, std::string name,
                 std::string archive_path, std::string description);
    // Built from values (the store routine, tests).
    ReportRecord(std::string name, std::string archive_path, std::string description, std::int32_t size,
                 std::int64_t time, bool confirmed);

    const std::string& get_name() const { return name_; }
    const std::string& get_archive_path() const { return archive_path_; }
    const std::string& get_description() const { return description_; }
    ReportType get_type() const { return type_; }
    std::int32_t get_size() const { return size_; }
    std::int64_t get_time() const { return time_; }
    bool is_confirmed() const { return confirmed_; }

    // The new text is sanitized as sanitize_description does (an edit obeys the writer's limits).
    void set_description(std::string_view description);
    void set_time(std::int64_t time) { time_ = time; }
    void set_confirmed(bool confirmed) { confirmed_ = confirmed; }
    void set_size(std::int32_t size) { size_ = size; }
    // Renames the record's folder entry; the type follows the new extension. A name read from
    // the index stays exempt from the writer's limits when the new one still reads back as one
    // line, since it names the renamed folder.
    void set_name(std::string name);

    // True while the name / description is the index line it was read from. A rewrite writes
    // such a line back byte for byte: other programs write longer lines than this one may, and
    // a cut name no longer names its folder.
    bool name_as_read() const { return name_as_read_; }
    bool description_as_read() const { return description_as_read_; }

    // True when the name may be used as a path component inside the archive folder. Records
    // whose name is not are listed but never deleted, copied or stored into.
    bool has_safe_name() const;
    // The report folder: the archive folder joined with the name (the existing entry when it is
    // spelt in another case). Empty when the name is not safe.
    std::string get_folder_path() const;
    // The report folder opened from the group folder (the archive folder's parent) down, the
    // archive and the report never through a link. Not open when the name is not safe or a step
    // is refused.
    ReportFolder open_folder() const;

    std::string get_file_date_text() const { return format_file_date_text(time_); }
    std::string get_display_date_text() const { return format_display_date_text(time_); }
    std::string get_size_text() const;  // "%d"
    // "Yes" / "No" for types 519 and 520, empty for every other type.
    std::string get_confirmed_text() const;
    std::string get_type_name() const { return report_type_name(type_); }
    std::string get_type_description() const { return report_type_description(type_); }

private:
    std::string name_, archive_path_, description_;
    ReportType type_ = kReportUnknown;
    std::int32_t size_ = 0;
    std::int64_t time_ = 0;
    bool confirmed_ = false;
    bool name_as_read_ = false, description_as_read_ = false;
};

// Record-level shorthands with the names callers know.
inline std::string report_type_name(const ReportRecord& r) { return report_type_name(r.get_type()); }
inline std::string report_type_description(const ReportRecord& r) { return report_type_description(r.get_type()); }

}  // namespace tv
