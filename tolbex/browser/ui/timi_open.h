// How the browser opens TIMI windows. The TIMI windows install the opener at start-up; the
// browser only says what to open and where its reports belong, so it never needs the TIMI
// document's type.
#pragma once
#include <functional>
#include <string>

namespace tv::gui {

struct TimiOpenRequest {
    std::string path;             // the day-list file (.TIMI) of a new analysis, or DATA.TIMI of a stored report
    std::string archive_folder;   // the data folder: new TIMI reports are stored and audited here
    std::string saved_data_path;  // the stored TIMI Data report's folder; empty for a new analysis
    std::string display_name;     // shown after "TIMI Data - "
    std::string data_file_id;     // the day files' series id; empty for a stored report
};

enum class TimiOpenResult {
    NoDocument,  // no window opened (no opener, or the framework refused the file)
    NoData,      // a window opened but read no table; it is closing
    Opened,      // a window shows the table
};

using TimiOpener = std::function<TimiOpenResult(const TimiOpenRequest&)>;
// Empty removes the opener; the browser then refuses TIMI like any other unviewable report.
void set_timi_opener(TimiOpener opener);
const TimiOpener& timi_opener();

}  // namespace tv::gui
