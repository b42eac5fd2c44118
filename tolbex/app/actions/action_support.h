// What several command-line actions share; not for use outside tolbex/app/actions.
#pragma once
#include <string>

#include "common/report_files.h"

namespace tv::action_support {

bool is_regular_file(const std::string& path);
// Only space, tab, CR and LF count as blank here: a title of other control bytes is kept.
bool is_blank_title(const std::string& text);
// The patient's name from PATIENT.TXT of a report folder; "" when there is none.
std::string patient_name_of(const ReportFolder& folder);

}  // namespace tv::action_support
