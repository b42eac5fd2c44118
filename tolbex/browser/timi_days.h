// The day reports a TIMI analysis runs over: one recording of one patient spread over day
// reports, each holding a day file "TIMI" + patient number + "_" + day digit + ".TXT". The
// selection is accepted only as a complete series of consecutive days from day 1; every refusal
// is told through the prompter before any file is written.
//
// List files (what the TIMI day-list and arrhythmia-list readers take): one path a line, in day
// order, CR LF; the readers accept CR LF and LF. Paths carry the files' on-disk spelling, so the
// readers find them whatever case the analysis system wrote.
#pragma once
#include <string>
#include <vector>

#include "tolbex/archive/patient_txt.h"

namespace tv {

inline constexpr const char* kArrhevntDatName = "arrhevnt.dat";
inline constexpr const char* kTimiDayListExtension = ".TIMI";
inline constexpr const char* kTimiArrhythmiaListExtension = ".ARRH";

inline constexpr const char* kTimiNoFeatureText =
    "You cannot load this type of report, because the TIMI features are not enabled.";
inline constexpr const char* kTimiCreateNoLogText =
    "The TIMI Data cannot been opened, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kTimiLoadNoLogText =
    "The TIMI archive cannot be opened, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
// The arrhythmia summary has a row for each of eight days; a longer series is refused rather than
// summarised without its last day.
inline constexpr int kTimiArrhythmiaMaxDays = 8;
inline constexpr const char* kTimiArrhythmiaTooManyDaysText =
    "The TIMI arrhythmia summary covers at most 8 days.\nPlease select the reports of days 1 to 8 only.";

// One selected report, as the browser lists it.
struct TimiDaySource {
    std::string description;
    std::string report_folder;
};

struct TimiDayReport {
    std::string description;
    std::string report_folder;
    std::string day_file_name;    // upper case: orders the series and carries the day digit
    std::string day_file_path;    // the day file as spelt on disk
    std::string arrhythmia_file;  // arrhevnt.dat as spelt on disk; empty when not asked for
    std::string recorder_id;
    std::string patient_number;
    PatientDate recording_date;
};

// Reads each selected report's PATIENT.TXT and finds its day file (and, with `arrhythmia`, its
// arrhevnt.dat). The result is sorted by day file name. False, with the reason shown, when a
// report does not belong to the series; false silently when nothing is selected.
bool collect_timi_days(const std::vector<TimiDaySource>& selected, bool arrhythmia, std::vector<TimiDayReport>& days);
// True when the sorted days run 1, 2, 3, ... on consecutive recording dates; else the first gap
// is shown.
bool check_timi_days(const std::vector<TimiDayReport>& days);

// The series identifier: the day file name without "TIMI" in front and "_n.TXT" behind.
std::string timi_series_id(const std::string& day_file_name);

std::string timi_day_list_text(const std::vector<TimiDayReport>& days);
std::string timi_arrhythmia_list_text(const std::vector<TimiDayReport>& days);
// A new file of its own in the temporary folder, named with `extension`, holding `text`. Empty,
// with the message shown, when it could not be written (nothing is left behind then).
std::string write_timi_list_file(const std::string& extension, const std::string& text);

}  // namespace tv
