#include "tools/demo/timi_day_files.h"

#include <algorithm>

#include "common/bytes.h"
#include "common/text.h"
#include "common/number_text.h"

namespace tv {

namespace {

constexpr const char* kNl = "\r\n";

}  // namespace

std::string timi_day_file_name(const std::string& patient_number, int day) {
    return "TIMI" + patient_number + "_" + std::to_string(day) + ".TXT";
}

std::string timi_day_file_text(const TimiData& data, int day, std::int32_t rows_per_day) {
    const std::int64_t day_start = static_cast<std::int64_t>(day - 1) * rows_per_day;
    const auto last =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(day_start + rows_per_day, 0, data.row_count())) - 1;
    // A day without rows of its own gets no overlap row either.
    std::int32_t first = last + 1;
    if (day_start >= 0 && day_start <= last)
        first = static_cast<std::int32_t>(std::max<std::int64_t>(day_start - 1, 0));
    TimiDateTime recorded = data.header.start;
    recorded.seconds += static_cast<std::int64_t>(day - 1) * 86400;
    std::int32_t min_hr = 0, max_hr = 0;
    std::int64_t beats = 0, rated = 0;
    for (std::int64_t r = std::max<std::int64_t>(day_start, first); r <= last; ++r) {  // not the overlap row
        const std::int32_t hr = data.rows[static_cast<std::size_t>(r)].heart_rate;
        if (hr == kTimiMissingInt) continue;
        min_hr = rated ? std::min(min_hr, hr) : hr;
        max_hr = rated ? std::max(max_hr, hr) : hr;
        beats += hr;
        ++rated;
    }
    const TimiHeader& h = data.header;
    const std::int32_t minutes = rows_per_day / 2;
    std::string out = "Quorril ST Output File, version: 2" + std::string(kNl);
    out += "Patient ID: " + h.patient_id + kNl;
    out += "Recording ID: " + h.recording_id + kNl;
    out += "Recording Date: " + recorded.date_text() + " " + recorded.time_text() + kNl;
    out += format_string("Recording Duration: %d hrs %d mins", minutes / 60, minutes % 60) + kNl;
    out += "Min HR (bpm): " + std::to_string(min_hr) + kNl;
    out += "Max HR (bpm): " + std::to_string(max_hr) + kNl;
    out += "Mean HR (bpm): " + std::to_string(rated ? beats / rated : 0) + kNl + kNl;
    for (int c = 0; c < kTimiChannels; ++c) {
        const std::string n = std::to_string(c + 1);
        out += "Channel " + n + " Elevation: " + format_fixed(h.elevation[c], 2) + kNl;
        out += "Channel " + n + " Depression: " + format_fixed(h.depression[c], 2) + kNl;
        out += "Channel " + n + " Slope: " + (h.slope[c] > 0 ? slope_criterion_text(h.slope[c]) : "") + kNl;
    }
    out += kNl;
    out += "Day\tTime\tHR\tBase1\tJ1\tAbs1\tSlope1\tCh1\tBase2\tJ2\tAbs2\tSlope2\tCh2\tBase3\tJ3\tAbs3\tSlope3\tCh3";
    out += kNl;
    out.reserve(out.size() + static_cast<std::size_t>(std::max(0, last - first + 1)) * 100);
    for (std::int32_t r = first; r <= last; ++r) {
        const TimiRow& row = data.rows[static_cast<std::size_t>(r)];
        out += std::to_string(row.day) + '\t' + row.time.time_text() + '\t';
        if (row.heart_rate != kTimiMissingInt) out += std::to_string(row.heart_rate);
        for (const TimiChannelValues& v : row.channel) {
            for (double x : {v.st_base, v.j_abs, v.st_abs, v.slope}) out += '\t' + timi_value_text(x);
            out += v.flag ? "\tX" : "\t";
        }
        out += kNl;
    }
    return out;
}

std::string arrhevnt_file_bytes(const std::vector<TimiArrhEvent>& events) {
    if (events.size() + 2 > static_cast<std::size_t>(kArrhEntries)) return {};
    std::vector<std::int32_t> tables(static_cast<std::size_t>(kArrhFields) * kArrhEntries, 0);
    const auto at = [&](int field, std::size_t entry) -> std::int32_t& {
        return tables[static_cast<std::size_t>(field) * kArrhEntries + entry];
    };
    at(0, 0) = 1;
    for (std::size_t i = 0; i < events.size(); ++i) {
        for (int f = 1; f < kArrhFields; ++f) at(f, i + 1) = events[i].field[static_cast<std::size_t>(f)];
        at(0, i + 1) = static_cast<std::int32_t>(i + 2);
    }
    at(0, events.size() + 1) = -1;
    std::string out;
    out.reserve(tables.size() * 4);
    for (const std::int32_t v : tables) append_le32(out, static_cast<std::uint32_t>(v));
    return out;
}

std::string arrhevnt_text(const std::vector<TimiArrhEvent>& events, std::int32_t first_second) {
    std::string out = std::string("Arrhythmia events") + kNl;
    for (const TimiArrhEvent& e : events) {
        const std::int64_t s = (std::int64_t{first_second} + e.start() / 128) % 86400;
        out += TimiArrhData::event_type_name(e.type()) +
               format_string("\t%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                             static_cast<int>(s % 60)) +
               kNl;
    }
    return out;
}

}  // namespace tv
