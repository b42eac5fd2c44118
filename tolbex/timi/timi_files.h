// Pieces shared by the TIMI file readers and writers.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "tolbex/timi/timi_data.h"

namespace tv {

// Fixed names of the TIMI report files.
inline constexpr const char* kTimiDataFileName = "DATA.TIMI";
inline constexpr const char* kTimiSummaryFileName = "TIMI_SUMMARY.TXT";
inline constexpr const char* kTimiSummaryLocationFileName = "TIMI_SUMM_LOC.TXT";
inline constexpr const char* kTimiArrhythmiaFileName = "TIMI_ARRH.TXT";

// Fields of a row split at each tab; a tab at the end gives an empty last field.
std::vector<std::string_view> split_timi_fields(std::string_view line);
// A day-file row (18 fields) or a data-file row (22 fields). On failure `bad_field`, when given,
// gets the number (from 1) of the field that did not read, or 0 for a wrong field count.
bool parse_timi_row(std::string_view line, bool data_file, TimiRow& row, std::size_t* bad_field = nullptr);
// The row is the one 30 seconds after `last` (the day going up at midnight).
bool timi_row_follows(const TimiRow& last, const TimiRow& row);

// The data file's lines from "Patient ID #:  " through channel 3's slope line and its empty
// line, with the given start time; CR LF line ends.
std::string timi_header_block(const TimiData& data, const std::string& start_time_text);
// The five arrhythmia count lines and the empty line after them.
std::string timi_count_lines(const TimiData& data);

}  // namespace tv
