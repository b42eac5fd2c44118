// DATA.TIMI: the header and the 30-second rows of a TIMI analysis as tab-separated text, written
// with CR LF line ends (as stored reports from the original workstations have them); the reader
// takes CR LF and LF alike.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/report_files.h"
#include "platform/fs.h"
#include "tolbex/timi/timi_data.h"
#include "tolbex/timi/timi_files.h"
#include "common/number_text.h"
#include "common/text.h"

namespace tv {

namespace {

constexpr const char* kNl = "\r\n";
constexpr int kWrittenVersion = 2;

std::string_view after_last_blank(std::string_view line) {
    const auto at = line.rfind(' ');
    return at == std::string_view::npos ? line : line.substr(at + 1);
}

}  // namespace

std::vector<std::string_view> split_timi_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    for (;;) {
        const auto tab = line.find('\t', pos);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(pos));
            return fields;
        }
        fields.push_back(line.substr(pos, tab - pos));
        pos = tab + 1;
    }
}

std::string timi_header_block(const TimiData& data, const std::string& start_time_text) {
    const TimiHeader& h = data.header;
    std::string out;
    out += "Patient ID #:  " + h.patient_id + kNl;
    out += "Tape (recording) ID #: " + h.recording_id + kNl;
    out += "Start time: " + start_time_text + " " + h.start.date_text() + kNl;
    out += "Analyzed Duration: " + h.duration + kNl;
    out += "Min HR (bpm): " + std::to_string(h.min_hr) + kNl;
    out += "Max HR (bpm): " + std::to_string(h.max_hr) + kNl;
    out += "Mean HR (bpm): " + std::to_string(h.mean_hr) + kNl + kNl;
    for (int c = 0; c < kTimiChannels; ++c) {
        out += "Episode Generation for channel " + std::to_string(c + 1) + ":" + kNl;
        out += "Elevation  >= " + format_fixed(h.elevation[c], 2, 9) + "mm" + kNl;
        out += "Depression <= " + format_fixed(h.depression[c], 2, 9) + "mm" + kNl;
        out += "Slope       = " + slope_criterion_text(h.slope[c]) + kNl + kNl;
    }
    return out;
}

std::string timi_count_lines(const TimiData& data) {
    const auto& n = data.arrhythmia_counts;
    std::string out;
    out += "VT <100 bpm : " + std::to_string(n[kCountVtBelow100]) + kNl;
    out += "VT >100 bpm : " + std::to_string(n[kCountVtAbove100]) + kNl;
    out += "SVT : " + std::to_string(n[kCountSvt]) + kNl;
    out += "Bradycardia : " + std::to_string(n[kCountBradycardia]) + kNl;
    out += "Pauses : " + std::to_string(n[kCountPauses]) + kNl + kNl;
    return out;
}

std::string TimiData::data_file_text(std::int32_t first, std::int32_t last) const {
    if (rows.empty()) return {};
    first = std::max(first, 0);
    last = std::min(last, row_count() - 1);
    std::string out = "Quorril TIMI data file Ver " + std::to_string(kWrittenVersion) + kNl + kNl;
    out += timi_header_block(*this, header.start.time_text());
    out += timi_count_lines(*this);
    out.reserve(out.size() + static_cast<std::size_t>(std::max(0, last - first + 1)) * 120);
    for (std::int32_t r = first; r <= last; ++r) {
        for (int col = 0; col < kTimiColumns; ++col) {
            if (col) out += '\t';
            out += cell_text(r, col);
        }
        out += kNl;
    }
    return out;
}

std::string timi_data_file_error_text(const std::string& path, const TimiFileFault& fault) {
    std::string text = "The TIMI data file \"" + path + "\" cannot be read: ";
    if (fault.line > 0) text += "line " + std::to_string(fault.line) + ": ";
    return text + fault.reason + ".";
}

bool TimiData::read_data_file(const std::string& path, TimiFileFault* fault) {
    errno = 0;
    const auto text = read_report_file(path, ReportFileKind::TimiData);
    if (!text) {
        if (fault) *fault = {0, std::strerror(errno ? errno : EIO)};
        return false;
    }
    return read_data_text(*text, fault);
}

bool TimiData::read_data_text(std::string_view text, TimiFileFault* fault) {
    const std::vector<std::string_view> lines = split_lines(text);
    std::size_t next = 0;  // lines read so far: the number of the line last read
    const auto failed = [&](std::string reason) {
        if (fault) *fault = {static_cast<std::int32_t>(next), std::move(reason)};
        return false;
    };
    std::string_view l;
    // The next line; at the end of the file the failure names the line that is missing.
    const auto line = [&](std::string_view& out) {
        if (next >= lines.size()) {
            ++next;
            return false;
        }
        out = lines[next++];
        return true;
    };
    const char* const kEnded = "the file ends before the header does";
    if (lines.empty()) {
        next = 1;
        return failed("the file is empty");
    }
    line(l);
    const int version = std::clamp(leading_int(after_last_blank(l)), 0, 2);
    if (!line(l)) return failed(kEnded);
    if (!line(l)) return failed(kEnded);
    if (l.size() < 15) return failed("the patient ID line is too short");
    header.patient_id = std::string(l.substr(15));
    if (!line(l)) return failed(kEnded);
    if (l.size() < 23) return failed("the recording ID line is too short");
    header.recording_id = std::string(l.substr(23));
    if (!line(l)) return failed(kEnded);
    {
        const char* const kBadStart = "the start time is not a valid date and time";
        if (l.size() <= 12) return failed(kBadStart);
        const std::string_view t = l.substr(12, 19);
        if (t.size() < 16) return failed(kBadStart);
        const auto number = [&](std::size_t pos, std::size_t len, int& v) {
            std::int32_t x = 0;
            if (!parse_int_field(t.substr(pos, len), x)) return false;
            v = x;
            return true;
        };
        int hh = 0, mm = 0, ss = 0, dd = 0, mo = 0, yy = 0;
        if (!number(0, 2, hh) || !number(3, 2, mm) || !number(6, 2, ss) || !number(9, 2, dd) || !number(12, 2, mo) ||
            !number(15, std::string_view::npos, yy)) {
            return failed(kBadStart);
        }
        header.start = TimiDateTime::from_parts(yy, mo, dd, hh, mm, ss);
        if (!header.start.is_valid()) return failed(kBadStart);
    }
    if (version >= 1) {
        if (!line(l)) return failed(kEnded);
        const std::size_t skip = (!l.empty() && l.front() == 'D') ? 10 : 19;
        if (l.size() < skip) return failed("the duration line is too short");
        header.duration = std::string(l.substr(skip));
        std::int32_t* rates[3] = {&header.min_hr, &header.max_hr, &header.mean_hr};
        for (auto* rate : rates) {
            if (!line(l)) return failed(kEnded);
            *rate = leading_int(after_last_blank(l));
        }
    } else {
        header.duration.clear();
        header.min_hr = header.max_hr = header.mean_hr = 0;
    }
    for (int c = 0; c < kTimiChannels; ++c) {
        if (!line(l) || !line(l)) return failed(kEnded);  // the empty line and the channel title
        double* limits[2] = {&header.elevation[c], &header.depression[c]};
        for (double* limit : limits) {
            if (!line(l)) return failed(kEnded);
            std::string_view number = after_last_blank(l);
            if (number.size() < 2) return failed("the limit is not a number of mm");
            number.remove_suffix(2);  // "mm"
            if (!parse_double_field(number, *limit)) return failed("the limit is not a number of mm");
        }
        if (!line(l)) return failed(kEnded);
        const auto eq = l.find('=');
        header.slope[c] = slope_criterion_bits(eq == std::string_view::npos ? l : l.substr(eq + 1));
    }
    if (!line(l)) return failed(kEnded);
    arrhythmia_counts = {};
    if (version >= 2) {
        for (auto& count : arrhythmia_counts) {
            if (!line(l)) return failed(kEnded);
            const auto at = l.find(": ");
            if (at == std::string_view::npos) return failed("the count line has no \": \"");
            count = leading_int(l.substr(at + 2));
        }
        if (!line(l)) return failed(kEnded);
    }
    while (line(l)) {
        TimiRow row;
        std::size_t bad_field = 0;
        if (!parse_timi_row(l, true, row, &bad_field)) {
            if (bad_field == 0)
                return failed("the row has " + std::to_string(split_timi_fields(l).size()) + " fields instead of 22");
            return failed("field " + std::to_string(bad_field) + " of the row does not read as a value");
        }
        if (!rows.empty() && !timi_row_follows(rows.back(), row))
            return failed("the row is not 30 seconds after the row before it");
        rows.push_back(row);
    }
    return true;
}

bool timi_row_follows(const TimiRow& last, const TimiRow& row) {
    const std::int32_t expected = (last.time.second_of_day() + kTimiRowSeconds) % 86400;
    const std::int64_t expected_day = static_cast<std::int64_t>(last.day) + (expected == 0 ? 1 : 0);
    return row.day == expected_day && row.time.second_of_day() == expected;
}

// A row of a day file (18 fields) or of the data file (22 fields). False when the field count
// is wrong or a field does not parse; `row` is then partly filled.
bool parse_timi_row(std::string_view line, bool data_file, TimiRow& row, std::size_t* bad_field) {
    const auto f = split_timi_fields(line);
    std::size_t i = 0;  // the field being read
    const auto failed = [&](std::size_t field) {
        if (bad_field) *bad_field = field;
        return false;
    };
    if (f.size() != (data_file ? 22u : 18u)) return failed(0);
    const auto value = [&](double& v) {
        if (!read_timi_value(f[i], v)) return false;
        ++i;
        return true;
    };
    if (data_file) row.use = f[i++] == "Y";
    if (trim_blanks(f[i]).empty() || !parse_int_field(f[i], row.day)) return failed(i + 1);
    ++i;
    if (!parse_timi_time(f[i], row.time)) return failed(i + 1);
    ++i;
    if (trim_blanks(f[i]).empty()) {
        row.heart_rate = kTimiMissingInt;
    } else if (!parse_int_field(f[i], row.heart_rate) || row.heart_rate == kTimiMissingInt) {
        return failed(i + 1);
    }
    ++i;
    bool any_flag = false;
    for (auto& c : row.channel) {
        if (data_file) {
            if (!value(c.st_base) || !value(c.j_abs) || !value(c.st_abs) || !value(c.st_dev) || !value(c.slope))
                return failed(i + 1);
            c.flag = f[i++] == "Y";
        } else {
            if (!value(c.st_base) || !value(c.j_abs) || !value(c.st_abs) || !value(c.slope)) return failed(i + 1);
            const std::string_view flag = f[i++];
            c.flag = !flag.empty() && (flag.front() == 'X' || flag.front() == 'x');
            c.st_dev = timi_present(c.st_abs) && timi_present(c.st_base) ? c.st_abs - c.st_base : kTimiMissing;
            any_flag = any_flag || c.flag;
        }
    }
    if (!data_file) row.use = any_flag;
    return true;
}

}  // namespace tv
