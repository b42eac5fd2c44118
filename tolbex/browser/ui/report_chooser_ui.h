// The browser's side of choosing a report for the analysis system: asks, writes REPNAME.TXT
// (unpacking a compressed report first) and then closes the program the way the user would.
#pragma once
#include "tolbex/app/report_chooser.h"

class QWidget;

namespace tv {
class ReportRecord;
}  // namespace tv

namespace tv::gui {

// This run's chooser mode; None without an application.
ChooserMode current_chooser_mode();

// Opens a row that is not viewed while a chooser mode is on: refuses, or asks and chooses the
// report folder; once REPNAME.TXT is written the main window is asked to close. False when
// nothing was chosen (refused, cancelled or failed, the user told why).
bool choose_report_row(const ReportRecord& record, ChooserMode mode, QWidget* parent = nullptr);

}  // namespace tv::gui
