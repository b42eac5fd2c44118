#include "tolbex/timi/timi_table_source.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "common/report_files.h"
#include "common/files.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "tolbex/timi/timi_files.h"
#include "common/number_text.h"
#include "tolbex/timi/timi_strings.h"

namespace tv {

namespace {

// The value after `key` at the start of `line`, leading white space removed; false when the line
// does not start with the key.
bool key_value(std::string_view line, const std::string& key, std::string_view& value) {
    if (key.empty() || line.substr(0, key.size()) != key) return false;
    value = line.substr(key.size());
    while (!value.empty() && is_space_char(value.front())) value.remove_prefix(1);
    return true;
}

std::string channel_key(unsigned id, int channel) { return format_resource_string(id, channel); }

void show(const std::string& text, MsgIcon icon) { ui().message_box(text, std::string(), icon, MsgButtons::Ok); }

bool is_empty_line(std::string_view line) { return trim_blanks(line).empty(); }

}  // namespace

std::string timi_day_code_message(int code) {
    if (code >= 1 && code <= 10) return load_resource_string(kStrTimiCodeFirst + code - 1);
    return load_resource_string(kStrTimiCodeUnknown);
}

int TIMITableSource::get_cell(std::int32_t col, std::int32_t row, GridCell& cell) {
    if (col < 0 && row < 0) {
        cell.set_alignment(4);
        cell.set_text("#");
        return 0;
    }
    if (col < 0) {
        if (row >= data_.row_count()) return 1;
        cell.set_text(format_thousands(row + 1));
        return 0;
    }
    if (col >= kTimiColumns) return 1;
    if (row < 0) {
        cell.set_alignment(4);
        cell.set_text(timi_column_heading(col));
        return 0;
    }
    if (row >= data_.row_count()) return 1;
    const TimiRow& r = data_.rows[row];
    if (col == kColUse) {
        cell.set_bool(r.use);
    } else if (col == channel_flag_col(0) || col == channel_flag_col(1) || col == channel_flag_col(2)) {
        cell.set_bool(r.channel[(col - 9) / 6].flag);
    } else {
        cell.set_text(data_.cell_text(row, col));
    }
    return 0;
}

bool TIMITableSource::load_day_list(const std::string& list_path) {
    const auto text = read_report_file(list_path, ReportFileKind::TimiDay);
    if (!text) {
        const int err = errno;
        show(format_resource_string(kStrTimiDayListError, list_path.c_str(), std::strerror(err)), MsgIcon::Error);
        return false;
    }
    std::vector<std::string> paths;
    for (std::string_view line : split_lines(*text)) paths.emplace_back(line);
    return load_day_paths(paths);
}

bool TIMITableSource::load_day_paths(const std::vector<std::string>& paths) {
    data_.header.beat_sum = 0;
    data_.header.row_count = 0;
    for (const auto& path : paths) {
        if (!load_day(path)) return false;
    }
    data_.finish_totals();
    read_arrhythmia_counts(paths);
    return true;
}

bool TIMITableSource::day_file_has_data(const std::string& path) {
    const auto text = read_report_file(path, ReportFileKind::TimiDay);
    if (!text) return false;
    const auto lines = split_lines(*text);
    // The rows follow a header of 20 lines, or 15 in a version-1 file (no heart-rate block).
    std::string_view version;
    const bool v1 = !lines.empty() && key_value(lines[0], load_resource_string(kStrTimiKeyVersion), version) &&
                    leading_int(version) == 1;
    for (std::size_t i = v1 ? 15 : 20; i < lines.size(); ++i) {
        TimiRow row;
        if (!parse_timi_row(lines[i], false, row)) continue;
        bool all = true;
        for (const auto& c : row.channel) all = all && timi_present(c.st_abs);
        if (all) return true;
    }
    return false;
}

bool TIMITableSource::load_day(const std::string& path) {
    if (!day_file_has_data(path)) {
        const std::string question = format_resource_string(kStrTimiNoData, data_.day_count + 1, path.c_str());
        if (ui().message_box(question, std::string(), MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes) {
            return false;
        }
    }
    const int code = read_day_file(path);
    if (code == kDayOk) return true;
    if (code == kDayNoOverlap) {
        // The day adds no row, but it counts: the next day's date lies one further on.
        ++data_.day_count;
        return true;
    }
    show(format_resource_string(kStrTimiReadError, path.c_str(), code, timi_day_code_message(code).c_str()),
         MsgIcon::Error);
    return false;
}

int TIMITableSource::read_day_header(const std::vector<std::string_view>& lines, std::size_t& next,
                                     std::int64_t& day_rows, std::int64_t& day_beats) {
    TimiHeader h;
    std::string_view line, value;
    const auto take = [&](std::string_view& out) {
        if (next >= lines.size()) return false;
        out = lines[next++];
        return true;
    };
    const auto keyed = [&](unsigned id, std::string_view& out) {
        return take(line) && key_value(line, load_resource_string(id), out);
    };

    if (!keyed(kStrTimiKeyVersion, value)) return kDayHeaderMissing;
    std::int32_t version = 0;
    if (!parse_int_field(value, version) || version <= 0) return kDayHeaderMissing;
    if (version > 2) return kDayBadVersion;
    if (!keyed(kStrTimiKeyPatientId, value) || value.empty()) return kDayHeaderMissing;
    h.patient_id = std::string(value);
    if (!keyed(kStrTimiKeyRecordingId, value) || value.empty()) return kDayHeaderMissing;
    h.recording_id = std::string(value);
    if (!keyed(kStrTimiKeyRecordingDate, value) || !parse_timi_date_time(value, h.start)) return kDayHeaderMissing;
    h.duration.clear();
    h.min_hr = h.max_hr = h.mean_hr = 0;
    if (version == 2) {
        if (!take(line)) return kDayHeaderMissing;
        if (key_value(line, load_resource_string(kStrTimiKeyDuration), value)) h.duration = std::string(value);
        std::int32_t* rates[3] = {&h.min_hr, &h.max_hr, &h.mean_hr};
        const unsigned keys[3] = {kStrTimiKeyMinHr, kStrTimiKeyMaxHr, kStrTimiKeyMeanHr};
        for (int i = 0; i < 3; ++i) {
            if (!take(line)) return kDayHeaderMissing;
            if (key_value(line, load_resource_string(keys[i]), value)) *rates[i] = leading_int(value);
        }
        if (!take(line)) return kDayHeaderMissing;  // skipped
    }
    for (int c = 0; c < kTimiChannels; ++c) {
        double* limits[2] = {&h.elevation[c], &h.depression[c]};
        const unsigned keys[2] = {kStrTimiKeyElevation, kStrTimiKeyDepression};
        for (int i = 0; i < 2; ++i) {
            if (!take(line) || !key_value(line, channel_key(keys[i], c + 1), value)) return kDayHeaderMissing;
            double v = 0.0;
            if (!parse_double_field(value, v) || v == 0.0) return kDayHeaderMissing;
            *limits[i] = v;
        }
        if (!take(line) || !key_value(line, channel_key(kStrTimiKeySlope, c + 1), value)) return kDayHeaderMissing;
        h.slope[c] = slope_criterion_bits(value);
        if (!trim_blanks(value).empty() && h.slope[c] == 0) return kDayHeaderMissing;
    }
    if (!take(line) || !take(line)) return kDayNoData;  // a skipped line, then the column headings

    TimiHeader& t = data_.header;
    if (data_.day_count == 0) {
        const std::int64_t beat_sum = t.beat_sum, row_count = t.row_count;
        t = h;
        t.beat_sum = beat_sum;
        t.row_count = row_count;
    } else {
        if (h.patient_id != t.patient_id) {
            show(format_resource_string(kStrTimiPatientMismatch, t.patient_id.c_str(), h.patient_id.c_str()),
                 MsgIcon::Error);
            return kDayHeaderMismatch;
        }
        if (h.recording_id != t.recording_id) {
            show(format_resource_string(kStrTimiRecordingMismatch, t.recording_id.c_str(), h.recording_id.c_str()),
                 MsgIcon::Error);
            return kDayHeaderMismatch;
        }
        TimiDateTime expected = t.start;
        expected.seconds += static_cast<std::int64_t>(data_.day_count) * 86400;
        if (!t.start.is_valid() || expected.seconds != h.start.seconds) {
            show(format_resource_string(kStrTimiDateMismatch, data_.day_count + 1, expected.date_text().c_str(),
                                        h.start.date_text().c_str()),
                 MsgIcon::Error);
            return kDayHeaderMismatch;
        }
        t.min_hr = std::min(t.min_hr, h.min_hr);
        t.max_hr = std::max(t.max_hr, h.max_hr);
        bool differ = false;
        for (int c = 0; c < kTimiChannels; ++c) {
            differ = differ || std::fabs(t.elevation[c] - h.elevation[c]) >= 0.0001 ||
                     std::fabs(t.depression[c] - h.depression[c]) >= 0.0001 || t.slope[c] != h.slope[c];
        }
        if (differ) {
            std::string text = load_resource_string(kStrTimiCriteriaWarning);
            for (int c = 0; c < kTimiChannels; ++c) {
                text += format_resource_string(kStrTimiCriteriaChannel, c + 1);
                text += format_resource_string(kStrTimiCriteriaDay, data_.day_count,
                                               format_fixed(t.elevation[c], 2, 9).c_str(),
                                               format_fixed(t.depression[c], 2, 9).c_str(),
                                               slope_criterion_text(t.slope[c]).c_str());
                text += format_resource_string(kStrTimiCriteriaDay, data_.day_count + 1,
                                               format_fixed(h.elevation[c], 2, 9).c_str(),
                                               format_fixed(h.depression[c], 2, 9).c_str(),
                                               slope_criterion_text(h.slope[c]).c_str());
            }
            show(text, MsgIcon::Warning);
        }
    }
    // "%d hrs %d mins": hours before the first blank, minutes between the second and third.
    std::vector<std::string_view> words;
    std::string_view rest = h.duration;
    for (int i = 0; i < 4 && !rest.empty(); ++i) {
        const auto blank = rest.find(' ');
        words.push_back(rest.substr(0, blank));
        rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    }
    const std::int64_t hours = words.size() > 0 ? std::clamp(leading_int(words[0]), 0, 1000000) : 0;
    const std::int64_t minutes = words.size() > 2 ? std::clamp(leading_int(words[2]), 0, 1000000) : 0;
    day_rows = (hours * 60 + minutes) * 2;
    day_beats = day_rows / 2 * h.mean_hr;
    return kDayOk;
}

int TIMITableSource::read_day_file(const std::string& path) {
    if (!file_exists(path)) return kDayNotFound;
    const auto text = read_report_file(path, ReportFileKind::TimiDay);
    if (!text) return kDayFileError;
    const auto lines = split_lines(*text);
    std::size_t next = 0;
    std::int64_t day_rows = 0, day_beats = 0;
    if (const int code = read_day_header(lines, next, day_rows, day_beats); code != kDayOk) return code;

    std::int64_t skipped = 0;
    if (!data_.rows.empty()) {
        const TimiRow& last = data_.rows.back();
        for (;;) {
            if (next >= lines.size()) return kDayNoOverlap;
            const std::string_view line = lines[next++];
            if (is_empty_line(line)) continue;
            if (split_timi_fields(line).size() != 18) return kDayShortRow;
            TimiRow row;
            if (!parse_timi_row(line, false, row)) return kDayBadValue;
            if (row.day == last.day && row.time == last.time) break;
            ++skipped;
        }
    }
    TimiHeader& t = data_.header;
    if (day_rows > 0) {
        const std::int64_t taken = std::max<std::int64_t>(day_rows - skipped, 0);
        t.beat_sum += skipped == 0 ? day_beats : taken * day_beats / day_rows;
        t.row_count += taken;
    }
    for (; next < lines.size(); ++next) {
        const std::string_view line = lines[next];
        if (is_empty_line(line)) continue;
        if (split_timi_fields(line).size() != 18) return kDayShortRow;
        TimiRow row;
        if (!parse_timi_row(line, false, row)) return kDayBadValue;
        if (!data_.rows.empty() && !timi_row_follows(data_.rows.back(), row)) return kDayRowsMissing;
        data_.rows.push_back(row);
    }
    ++data_.day_count;
    return kDayOk;
}

void TIMITableSource::read_arrhythmia_counts(const std::vector<std::string>& paths) {
    static constexpr const char* kTexts[5] = {"VT < 100bpm", "VT > 100bpm", "SVT", "bradycardia", "pause"};
    data_.arrhythmia_counts = {};
    for (const auto& path : paths) {
        const std::string folder = get_path_folder_slash(path);
        const auto file = platform::find_name_ci(folder.empty() ? "." : folder, "arrhevnt.txt");
        std::optional<std::string> text;
        if (file) text = read_report_file(*file, ReportFileKind::ArrhythmiaEvents);
        if (!text) {
            const int err = file ? errno : ENOENT;
            show(format_resource_string(kStrTimiArrhevntError, std::strerror(err)), MsgIcon::Error);
            return;
        }
        const auto lines = split_lines(*text);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            for (int k = 0; k < 5; ++k) {
                if (lines[i].find(kTexts[k]) != std::string_view::npos) {
                    ++data_.arrhythmia_counts[k];
                    break;
                }
            }
        }
    }
}

}  // namespace tv
