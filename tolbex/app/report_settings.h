// What the running application tells the report side: the switches a report document follows and
// the print settings. Defaults when no application runs (tests, tools).
#pragma once
#include "tolbex/reports/print_settings.h"
#include "tolbex/reports/report_document.h"

namespace tv {

ReportDocumentMode current_report_mode();
PrintSettings current_print_settings();

}  // namespace tv
