#include <gtest/gtest.h>

#include <array>

#include "tolbex/timi/timi_data.h"
#include "common/number_text.h"
#include "tolbex/timi/tests/timi_test_support.h"

namespace tv {
namespace {

using timi_test::stemi_table;

// The measurements over each channel's selected rows.
void compute_from_selection(TimiData& d) {
    std::array<std::int32_t, 3> first{}, end{};
    for (int c = 0; c < kTimiChannels; ++c) d.selection_range(c, first[c], end[c]);
    d.compute_stemi(first, end);
}

TEST(Stemi, MeasurementsOfTheAcceptanceTable) {
    TimiData d = stemi_table();
    std::int32_t first = 0, end = 0;
    d.selection_range(0, first, end);
    EXPECT_EQ(first, 10);
    EXPECT_EQ(end, 990);
    compute_from_selection(d);
    const StemiMeasurement& m = d.stemi[0];
    EXPECT_EQ(m.peak_day, 1);
    EXPECT_EQ(m.peak_time.time_text(), "10:10:00");
    EXPECT_EQ(format_fixed(m.peak_value, 2), "4.00");
    EXPECT_EQ(format_stemi_span(m.time_to[0]), "00:00:30");
    EXPECT_EQ(format_stemi_span(m.time_to[1]), "00:10:00");
    EXPECT_EQ(format_stemi_span(m.time_to[2]), "00:20:00");
    EXPECT_EQ(format_stemi_span(m.time_below_4h[0]), "00:00:30");
    EXPECT_EQ(format_stemi_span(m.time_below_4h[1]), "00:10:00");
    EXPECT_EQ(format_fixed(m.slope_at[0], 4), "-0.0833");
    EXPECT_EQ(format_fixed(m.slope_at[1], 4), "-0.0167");
    EXPECT_EQ(format_fixed(m.slope_at[2], 4), "-0.0267");
    for (const auto& s : m.infusion_to) EXPECT_EQ(format_stemi_span(s), "--:--:--");
    // Channels 2 and 3 have no selected rows.
    for (int c = 1; c < 3; ++c) {
        EXPECT_EQ(d.stemi[c].peak_time.status, TimiStatus::Null);
        EXPECT_EQ(d.stemi[c].time_to[0].status, TimiStatus::Null);
    }

    d.stemi[0].infusion_time = TimiDateTime::time_of_day(10, 10, 0);
    d.stemi[0].infusion_day = 1;
    compute_from_selection(d);
    EXPECT_EQ(format_stemi_span(d.stemi[0].infusion_to[0]), "00:00:30");
    EXPECT_EQ(format_stemi_span(d.stemi[0].infusion_to[1]), "00:10:00");
    EXPECT_EQ(format_stemi_span(d.stemi[0].infusion_to[2]), "00:20:00");
}

TEST(Stemi, FixedPeakUnreachedFractionsAndSelectionToTheEnd) {
    TimiData d = stemi_table();
    // Selection up to the last row still measures.
    for (int i = 990; i < 1000; ++i) d.rows[i].channel[0].flag = true;
    // Below half of 1.5 for 40 rows only, never below 10 %.
    for (int i = 60; i < 1000; ++i) d.rows[i].channel[0].st_abs = i < 100 ? 0.5 : 2.0;
    d.stemi[0].peak_fixed = true;
    d.stemi[0].fixed_peak_row = 21;  // 1.5, although row 20 is higher
    std::array<std::int32_t, 3> first{}, end{};
    for (int c = 0; c < 3; ++c) d.selection_range(c, first[c], end[c]);
    EXPECT_EQ(end[0], 1000);
    d.compute_stemi(first, end);
    const StemiMeasurement& m = d.stemi[0];
    EXPECT_EQ(m.peak_time.time_text(), "10:10:30");
    EXPECT_EQ(format_fixed(m.peak_value, 2), "1.50");
    EXPECT_EQ(format_stemi_span(m.time_to[0]), "00:19:30");  // row 60
    EXPECT_EQ(format_fixed(m.slope_at[0], 4), "-0.0167");
    EXPECT_EQ(format_stemi_span(m.time_to[2]), "--:--:--");  // never reached: not measured to row 0
    EXPECT_EQ(m.slope_at[2], 0.0);
    EXPECT_EQ(m.time_below_4h[0].status, TimiStatus::Null);  // below half for only 40 rows

    // A depression peak resets the channel and its range.
    TimiData neg = stemi_table();
    for (auto& r : neg.rows) {
        r.channel[1].flag = true;
    }
    std::array<std::int32_t, 3> f2{-1, 0, -1}, e2{-1, 1000, -1};
    neg.compute_stemi(f2, e2);
    EXPECT_EQ(f2[1], -1);
    EXPECT_EQ(e2[1], -1);
    EXPECT_EQ(neg.stemi[1].peak_time.status, TimiStatus::Null);
}

TEST(Stemi, SpansShowTotalHours) {
    EXPECT_EQ(format_stemi_span({TimiStatus::Valid, 26 * 3600}), "26:00:00");
    EXPECT_EQ(format_stemi_span({TimiStatus::Valid, -30}), "--:--:--");
    EXPECT_EQ(format_stemi_span(TimiSpan::null_value()), "--:--:--");
    EXPECT_EQ(format_stemi_span({TimiStatus::Invalid, 30}), "--:--:--");
}

}  // namespace
}  // namespace tv
