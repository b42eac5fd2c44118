// A week of 30-second TIMI rows with varying values, for the grid's demo and benchmarks: the size
// of the largest table the TIMI window shows.
#pragma once
#include "tolbex/timi/timi_data.h"

namespace tv {

inline constexpr std::int32_t kTimiSampleWeekRows = 7 * 2880;
// The rows start at `first_second` of day 1 (0 .. 86399) and the day goes up at each midnight.
void fill_timi_sample_week(TimiData& data, std::int32_t first_second = 0);

}  // namespace tv
