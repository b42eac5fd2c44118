// What OK of the Patient Details dialog checks before it closes, without the window: the dates,
// the age offered for correction, the transfer file name and the description; then the chosen
// compression is remembered as the default.
#pragma once
#include <string>

#include "tolbex/intake/intake.h"

namespace tv {

class Ui;

// A dialog date in the locale's order (0 month-day-year, 1 day-month-year, 2 year-month-day):
// 8..51 characters, exactly two separators, digits between them, a four-digit year 1800..3000,
// month 1..12, day 1..31 (not checked against the month). False when not valid.
struct DialogDate {
    int day = 0, month = 0, year = 0;
};
bool parse_dialog_date(const std::string& text, int order, DialogDate& date);
// "%d" of the whole years from birth to recording; empty when a date does not parse or the age
// is outside 0..150.
std::string compute_age(const std::string& birth, const std::string& recording, int order);

// The field OK left the focus on.
enum class DetailsField { None, DateOfBirth, RecordingDate, AnalysisDate, RecordingId, Description, Age };

// OK's steps 1 and 3..6 on `details` (already taken from the controls). Messages go to `u`; the
// age may be changed after the user agreed. True closes the dialog.
bool patient_details_ok(PatientDetails& details, int date_order, Ui& u, DetailsField* focus = nullptr);

}  // namespace tv
