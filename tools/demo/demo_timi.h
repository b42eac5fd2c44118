// The demo's TIMI week: one recording of seven days stored as seven day reports, each holding what
// the analysis system leaves for TIMI (its day file, arrhevnt.dat and arrhevnt.txt), so that
// TIMI and TIMI Arrhythmia run on them from the browser at once. The ST rows are the sample week
// of tolbex/timi; the events are made up: pauses every day, ventricular tachycardia on most days
// and atrial fibrillation on some, with a few everyday ectopic beats.
#pragma once
#include <cstdint>
#include <string>

#include "tolbex/timi/timi_data.h"

namespace tv::demo {

inline constexpr int kDemoTimiDays = 7;

// The week's table: 2880 rows a day from `start` (UTC seconds; its time of day is the first
// row's), with the given ids and the usual criteria (1 mm elevation, -1 mm depression, slope up).
TimiData demo_timi_week(const std::string& patient_number, const std::string& recording_id, std::int64_t start);

// Day `day` (1 to 7) of `week` into the folder `staging` (ending in '/'): the day file named
// after the patient number, arrhevnt.dat and arrhevnt.txt. False when a file cannot be written.
bool write_demo_timi_day(const std::string& staging, const TimiData& week, int day);

}  // namespace tv::demo
