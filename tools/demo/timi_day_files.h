// Writers of the files the analysis system leaves in a day report for TIMI: the day file (ST
// output, version 2), arrhevnt.dat and arrhevnt.txt. The demo root and the tests make day reports
// with them; what they write reads back through TIMITableSource and TimiArrhData unchanged.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tolbex/timi/timi_arrhythmia.h"
#include "tolbex/timi/timi_data.h"

namespace tv {

// "TIMI" + patient number + "_" + day + ".TXT" (day from 1).
std::string timi_day_file_name(const std::string& patient_number, int day);

// Day `day` (from 1) of the analysis in `data` as the analysis system writes its day file: the
// header keys of version 2 in their order, then the day's `rows_per_day` rows as 18 tab-separated
// fields, led by the previous day's last row (the overlap the loader joins days at); CR LF line
// ends. Ids and criteria come from `data.header`, the recording date is its start plus the days
// before, the duration that of `rows_per_day`, the heart rates the day's own.
std::string timi_day_file_text(const TimiData& data, int day, std::int32_t rows_per_day);

// arrhevnt.dat holding `events` in order: entry 0 is the list head, the events follow from entry
// 1 and the entry after the last ends the list (link -1). Fields 0 (the link) and 14 of each
// event are ignored. Empty when more events are given than the tables hold.
std::string arrhevnt_file_bytes(const std::vector<TimiArrhEvent>& events);

// arrhevnt.txt: a heading line and one line an event, its type name first (what the day loader
// counts by), then its time of day for a recording that starts at `first_second` of its day.
std::string arrhevnt_text(const std::vector<TimiArrhEvent>& events, std::int32_t first_second = 0);

}  // namespace tv
