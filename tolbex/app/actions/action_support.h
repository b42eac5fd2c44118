// What several command-line actions share; not for use outside tolbex/app/actions.
#pragma once
#include <string>

#include "common/report_files.h"
#include "common/result.h"

namespace tv {
class ReportDocument;
}  // namespace tv

namespace tv::action_support {

// Only space, tab, CR and LF count as blank here: a title of other control bytes is kept.
bool is_blank_title(const std::string& text);
// The patient's name from PATIENT.TXT of a report folder; "" when there is none.
std::string patient_name_of(const ReportFolder& folder);
// Why the pages of a loaded report would not show all of it (none at all, or a part left out);
// "" when they do. Pictures and prints of such a report are not made.
std::string whole_report_problem(const ReportDocument& doc);
// What to say of a report that signing::open_report_for_showing would not open.
std::string cannot_open_text(const Error& error);

}  // namespace tv::action_support
