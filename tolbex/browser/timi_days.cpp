#include "tolbex/browser/timi_days.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/handles.h"

namespace tv {
namespace {

constexpr std::size_t kDaySuffixLength = 6;  // "_1.TXT"

void refuse(const std::string& text) { ui().message_box(text, std::string(), MsgIcon::Error, MsgButtons::Ok); }

bool equal_nocase(std::string_view a, std::string_view b) { return platform::compare_text_nocase(a, b) == 0; }

// The first day file of the folder, by name: "TIMI" + patient + "_?.TXT" without regard to case.
// The patient number is matched as text, never as a wildcard.
std::string find_day_file(const std::string& folder, const std::string& patient) {
    const std::string prefix = "TIMI" + patient + "_";
    std::vector<std::string> found;
    for (FileFinder f(join_path(folder, "*"), kFindFiles); !f.at_end(); f.next()) {
        if (f.is_folder()) continue;
        const std::string name = f.get_name();
        if (name.size() != prefix.size() + 5) continue;
        if (!equal_nocase(std::string_view(name).substr(0, prefix.size()), prefix)) continue;
        if (!equal_nocase(std::string_view(name).substr(prefix.size() + 1), ".TXT")) continue;
        found.push_back(name);
    }
    if (found.empty()) return std::string();
    return *std::min_element(found.begin(), found.end());
}

std::string quoted_report(const char* format, const TimiDaySource& s) {
    return format_string(format, s.description.c_str(), s.report_folder.c_str());
}

// The calendar day after `d`; false when `d` is no date.
bool next_day(const PatientDate& d, int& year, unsigned& month, unsigned& day) {
    using namespace std::chrono;
    if (!d.is_valid()) return false;
    const year_month_day ymd{std::chrono::year{d.year}, std::chrono::month{unsigned(d.month)},
                             std::chrono::day{unsigned(d.day)}};
    if (!ymd.ok()) return false;
    const year_month_day after{sys_days{ymd} + days{1}};
    year = int(after.year());
    month = unsigned(after.month());
    day = unsigned(after.day());
    return true;
}

std::string list_text(const std::vector<TimiDayReport>& days, bool arrhythmia) {
    std::string text;
    for (const auto& d : days) {
        if (arrhythmia)
            text += d.arrhythmia_file.empty() ? join_path(d.report_folder, kArrhevntDatName) : d.arrhythmia_file;
        else
            text += d.day_file_path;
        text += "\r\n";
    }
    return text;
}

}  // namespace

bool collect_timi_days(const std::vector<TimiDaySource>& selected, bool arrhythmia, std::vector<TimiDayReport>& days) {
    days.clear();
    if (selected.empty()) return false;
    for (const TimiDaySource& s : selected) {
        PatientTxt patient;
        if (!patient.read_folder(s.report_folder) || patient.m_patient_number.empty()) {
            refuse(quoted_report("Missing Patient Details (in \"PATIENT.TXT\")\nfor report \"%s\"\n(\"%s\")", s));
            return false;
        }
        if (!days.empty()) {
            if (patient.m_recorder_id != days.back().recorder_id) {
                refuse("The selected reports are not all from the same recorder.");
                return false;
            }
            if (patient.m_patient_number != days.back().patient_number) {
                refuse("The selected reports are not all from the same patient number.");
                return false;
            }
        }
        const std::string day_file = find_day_file(s.report_folder, patient.m_patient_number);
        if (day_file.empty()) {
            refuse(quoted_report("Cannot find TIMI file for report \"%s\"\n(\"%s\")", s));
            return false;
        }
        TimiDayReport day;
        if (arrhythmia) {
            const auto events = platform::find_name_ci(s.report_folder, kArrhevntDatName);
            if (!events || folder_exists(*events)) {
                refuse("Please select the \"With recording\" reports for TIMI Arrhythmia analysis.");
                return false;
            }
            day.arrhythmia_file = *events;
        }
        day.description = s.description;
        day.report_folder = s.report_folder;
        day.day_file_name = to_upper_copy(day_file);
        day.day_file_path = join_path(s.report_folder, day_file);
        day.recorder_id = patient.m_recorder_id;
        day.patient_number = patient.m_patient_number;
        day.recording_date = patient.m_recording_date;
        days.push_back(std::move(day));
    }
    std::stable_sort(days.begin(), days.end(),
                     [](const TimiDayReport& a, const TimiDayReport& b) { return a.day_file_name < b.day_file_name; });
    return true;
}

bool check_timi_days(const std::vector<TimiDayReport>& days) {
    std::string expected = "_1.TXT";
    for (std::size_t i = 0; i < days.size(); ++i) {
        const TimiDayReport& d = days[i];
        if (d.day_file_name.size() < kDaySuffixLength ||
            d.day_file_name.compare(d.day_file_name.size() - kDaySuffixLength, kDaySuffixLength, expected) != 0) {
            refuse(format_string(
                "The report for day %d was not selected.\nPlease ensure that you have selected a report for each day.",
                expected[1] - '0'));
            return false;
        }
        if (i > 0) {
            int year = 0;
            unsigned month = 0, day = 0;
            const PatientDate& date = d.recording_date;
            if (!next_day(days[i - 1].recording_date, year, month, day) || !date.is_valid() || date.year != year ||
                unsigned(date.month) != month || unsigned(date.day) != day) {
                refuse(format_string("Recording date is incorrect for report \"%s\"\n(\"%s\")", d.description.c_str(),
                                     d.report_folder.c_str()));
                return false;
            }
        }
        ++expected[1];
    }
    return true;
}

std::string timi_series_id(const std::string& day_file_name) {
    if (day_file_name.size() < 4 + kDaySuffixLength) return std::string();
    return day_file_name.substr(4, day_file_name.size() - 4 - kDaySuffixLength);
}

std::string timi_day_list_text(const std::vector<TimiDayReport>& days) { return list_text(days, false); }

std::string timi_arrhythmia_list_text(const std::vector<TimiDayReport>& days) { return list_text(days, true); }

std::string write_timi_list_file(const std::string& extension, const std::string& text) {
    int error = EEXIST;
    // The placeholder only makes the name unique; the list beside it is created exclusively.
    for (int attempt = 0; attempt < 10 && error == EEXIST; ++attempt) {
        const std::string base = get_temp_file_name();
        if (base.empty()) {
            error = errno ? errno : EIO;
            break;
        }
        const std::string path = base + extension;
        platform::UniqueFd file = create_new_file(path);
        error = file ? 0 : errno;
        bool written = false;
        if (file) {
            written = platform::write_all(file.get(), text.data(), text.size());
            if (!written) error = errno ? errno : EIO;
            if (!file.close() && written) {
                written = false;
                error = errno ? errno : EIO;
            }
            if (!written) ::unlink(path.c_str());
        }
        ::unlink(base.c_str());
        if (written) return path;
    }
    refuse(format_string("The TIMI list file cannot be written.\n%s", std::strerror(error ? error : EIO)));
    return std::string();
}

}  // namespace tv
