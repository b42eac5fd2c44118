#include "tolbex/app/actions/action_support.h"

#include "common/files.h"
#include "common/strings.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/reports/report_document.h"

namespace tv::action_support {

bool is_blank_title(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

std::string patient_name_of(const ReportFolder& folder) {
    return patient_item_text(read_text_file_line(folder, kPatientTxtName, 3).value_or(""));
}

std::string whole_report_problem(const ReportDocument& doc) {
    std::string missing = doc.missing_parts();
    if (missing.empty() && doc.page_count() == 0) missing = "The report has no pages.";
    return missing;
}

std::string cannot_open_text(const Error& error) {
    return "The signed report cannot be opened: " +
           (error.message.empty() ? std::string("its signature does not verify.") : error.message);
}

}  // namespace tv::action_support
