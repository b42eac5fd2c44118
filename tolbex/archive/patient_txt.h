// The small text files the analysis system leaves in a report folder (VERSION.TXT, PATIENT.TXT,
// CONFIRM.TXT) and the PATIENT.TXT record reader. Files are Windows-1252 text; readers accept
// CR LF and LF, drop trailing blanks and keep leading ones. Known names are looked up without
// regard to case. No reader throws.
//
// PATIENT.TXT, one item a line, "-" or "--" for an empty item; lines 1 and 2 are the writer's
// own. Version 8.0 and later (lines 3..16): name, date of birth, age, sex, operator, recording
// id, patient number, physician, insurer, hospital, recording date, recorder id, recorder id
// again, analysis date; comments from line 17. Earlier versions (lines 3..11): name, date of
// birth, sex, recording id, physician, insurer, recording date, recorder id, analysis date;
// comments from line 12.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "common/report_files.h"
#include "platform/handles.h"

namespace tv {

inline constexpr const char* kPatientTxtName = "PATIENT.TXT";
inline constexpr const char* kVersionTxtName = "VERSION.TXT";
inline constexpr const char* kAnalsumTxtName = "ANALSUM.TXT";
inline constexpr const char* kConfirmTxtName = "CONFIRM.TXT";

// Line numbers (1-based) in the version 8 layout that other readers look at on their own.
inline constexpr int kPatientTxtRecordingIdLine = 8;
inline constexpr int kPatientTxtLastItemLine = 16;
// First version with the long PATIENT.TXT layout.
inline constexpr double kLongPatientLayoutVersion = 8.0;
// Comments are read up to this many bytes.
inline constexpr std::size_t kPatientCommentsMax = 8191;
// Longest line a reader keeps; the rest of a longer line is skipped.
inline constexpr std::size_t kReportTextLineMax = 65536;

// Reads a report text file line by line. Each line loses its line end (CR LF or LF) and
// trailing blanks, is cut at a NUL byte, and keeps at most kReportTextLineMax bytes (the rest
// of a longer line is skipped). The file is opened as a report folder's Text file (a regular
// file of one name reached without a link, never waiting on a FIFO), and no more than its limit
// is ever read, however the file grows.
class ReportTextReader {
public:
    // `name` of the report folder, found without regard to case.
    ReportTextReader(const ReportFolder& folder, std::string_view name);
    // The file at `path`, as a member of the folder that holds it.
    explicit ReportTextReader(const std::string& path);
    ReportTextReader(const ReportTextReader&) = delete;
    ReportTextReader& operator=(const ReportTextReader&) = delete;

    bool is_open() const { return text_.has_value(); }
    // False at the end of the file or on a read error (see failed()).
    bool next_line(std::string& line);
    // The rest of the file as text (CR LF read as LF), at most `max` bytes, cut at a NUL byte.
    std::string read_rest(std::size_t max);
    // A read error happened (as opposed to the end of the file).
    bool failed() const;

private:
    void open(const ReportFolder& folder, std::string_view name);
    int next_byte();

    // The whole file, read at once within its kind's limit: one read, then lines from memory.
    std::optional<std::string> text_;
    std::size_t pos_ = 0;
};

// Full path of a known file in a report folder, matched without regard to case; "" when absent.
std::string find_report_file(const std::string& folder, std::string_view name);

// The version in a VERSION.TXT line: the number after the first non-blank character
// ("V8.006" gives 8.006); 0 when there is none.
double parse_version_text(std::string_view line);
// The report folder's VERSION.TXT version; 0 when the file is missing or unreadable.
double read_report_version(const ReportFolder& report_folder);
double read_report_version(const std::string& report_folder);

// A PATIENT.TXT item: "-" and "--" stand for the empty text.
std::string patient_item_text(std::string_view line);

// Line `line_number` (1-based) of a text file, line end and trailing blanks removed, cut at a
// NUL byte; nullopt when the file cannot be opened or has fewer lines.
std::optional<std::string> read_text_file_line(const std::string& path, int line_number);
// The same for `name` of the report folder.
std::optional<std::string> read_text_file_line(const ReportFolder& folder, std::string_view name, int line_number);

// The recording id of a report folder: line 8 of its PATIENT.TXT (version 8 layout) as an
// item ("-"/"--" give ""), read on its own so that other lines that do not parse do not hide
// it. nullopt when the folder has no PATIENT.TXT or the file is shorter.
std::optional<std::string> read_recording_id(const ReportFolder& report_folder);
std::optional<std::string> read_recording_id(const std::string& report_folder);

// CONFIRM.TXT: present only in a confirmed formatted report; its first line names the user who
// confirmed it.
bool has_confirm_txt(const ReportFolder& report_folder);
bool has_confirm_txt(const std::string& report_folder);
// The confirming user; nullopt when the file is missing, refused or empty.
std::optional<std::string> read_confirming_user(const ReportFolder& report_folder);
std::optional<std::string> read_confirming_user(const std::string& report_folder);

// A date (and time) read from PATIENT.TXT; null when unknown.
struct PatientDate {
    enum class Status { Null, Valid };
    Status status = Status::Null;
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;

    bool is_valid() const { return status == Status::Valid; }
    bool operator==(const PatientDate&) const = default;
};

// Parses a date as the user's locale writes it, with an optional time: numeric dates in the
// given order (0 month-day-year, 1 day-month-year, 2 year-month-day; a four-digit first number
// always starts year-month-day) separated by '/', '.', '-' or blanks; English month names and
// their three-letter forms; two-digit years 00..29 are 20xx, 30..99 19xx; "hh:mm[:ss]" with an
// optional AM/PM. A time alone gives the date 30 Dec 1899. nullopt when the text is not a
// real date.
std::optional<PatientDate> parse_patient_date(std::string_view text, int date_order);
// The same in the user locale's date order.
std::optional<PatientDate> parse_patient_date(std::string_view text);

// PATIENT.TXT read into a fixed record (always the version 8 layout; comments are not read).
class PatientTxt {
public:
    PatientTxt() = default;

    // Empty texts, age -1, null dates, not loaded.
    void clear();
    // Reads the file at `path` (its name found without regard to case). False, with the record
    // cleared, when the file cannot be opened, has fewer than 16 lines, or a date does not parse.
    bool read(const std::string& path);
    // read() of the report folder's PATIENT.TXT.
    bool read_folder(const ReportFolder& report_folder);
    bool read_folder(const std::string& report_folder);

    std::int32_t m_age = -1;  // -1 unknown
    std::string m_name;
    std::string m_sex;
    std::string m_operator;
    std::string m_recording_id;
    std::string m_patient_number;
    std::string m_physician;
    std::string m_insurer;
    std::string m_hospital;
    std::string m_recorder_id;
    PatientDate m_dob;
    PatientDate m_recording_date;
    PatientDate m_analysis_date;
    bool m_loaded = false;

private:
    bool read_from(ReportTextReader& reader);
};

}  // namespace tv
