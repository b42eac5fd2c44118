#include "tools/demo/timi_day_files.h"

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "tolbex/timi/tests/timi_test_support.h"
#include "tools/demo/timi_sample_week.h"
#include "tolbex/timi/timi_table_source.h"

namespace tv {
namespace {

using namespace timi_test;

void set_header(TimiData& d, std::int64_t start) {
    d.header.patient_id = "PN1";
    d.header.recording_id = "REC-7";
    d.header.start = {TimiStatus::Valid, start};
    for (int c = 0; c < kTimiChannels; ++c) {
        d.header.elevation[c] = 1.0;
        d.header.depression[c] = -1.0;
        d.header.slope[c] = kSlopeUp | kSlopeDown;
    }
}

TimiArrhEvent event(std::int32_t type, std::int32_t start, std::int32_t end, std::int32_t length,
                    std::int32_t peak = kTimiMissingInt) {
    TimiArrhEvent e;
    e.field[4] = type;
    e.field[6] = start;
    e.field[7] = end;
    e.field[8] = length;
    e.field[9] = peak;
    e.field[10] = peak == kTimiMissingInt ? kTimiMissingInt : start;
    return e;
}

class TimiDayFilesTest : public TimiTest {};

// Day 2 of a three-row-a-day table: led by day 1's last row, its own heart rates in the header.
TEST_F(TimiDayFilesTest, DayFileGolden) {
    TimiData d;
    d.rows.resize(6);
    for (int i = 0; i < 6; ++i) {
        TimiRow& r = d.rows[static_cast<std::size_t>(i)];
        const int second = 23 * 3600 + 58 * 60 + 30 + 30 * i;
        r.day = 1 + second / 86400;
        r.time = TimiDateTime::time_of_day(0, 0, second % 86400);
        r.heart_rate = i == 4 ? kTimiMissingInt : 60 + i;
        r.channel[0] = {0.1, 0.5, 1.1, 1.0, 0.0, true};
    }
    set_header(d, TimiDateTime::from_parts(2024, 3, 4, 23, 58, 30).seconds);
    d.header.slope[2] = 0;
    EXPECT_EQ(timi_day_file_name("PN1", 2), "TIMIPN1_2.TXT");
    // Days outside the table: a header and no rows.
    for (int day : {0, 3}) {
        const std::string text = timi_day_file_text(d, day, 3);
        ASSERT_NE(text.find("Ch3\r\n"), std::string::npos) << day;
        EXPECT_EQ(text.substr(text.find("Ch3\r\n") + 5), "") << day;
    }
    EXPECT_EQ(
        timi_day_file_text(d, 2, 3),
        "Quorril ST Output File, version: 2\r\nPatient ID: PN1\r\nRecording ID: REC-7\r\n"
        "Recording Date: 05/03/2024 23:58:30\r\nRecording Duration: 0 hrs 1 mins\r\n"
        "Min HR (bpm): 63\r\nMax HR (bpm): 65\r\nMean HR (bpm): 64\r\n\r\n"
        "Channel 1 Elevation: 1.00\r\nChannel 1 Depression: -1.00\r\nChannel 1 Slope: UP, DOWN\r\n"
        "Channel 2 Elevation: 1.00\r\nChannel 2 Depression: -1.00\r\nChannel 2 Slope: UP, DOWN\r\n"
        "Channel 3 Elevation: 1.00\r\nChannel 3 Depression: -1.00\r\nChannel 3 Slope: \r\n\r\n"
        "Day\tTime\tHR\tBase1\tJ1\tAbs1\tSlope1\tCh1\tBase2\tJ2\tAbs2\tSlope2\tCh2\tBase3\tJ3\tAbs3\tSlope3\tCh3\r\n"
        "1\t23:59:30\t62\t0.10\t0.50\t1.10\t0.00\tX\t\t\t\t\t\t\t\t\t\t\r\n"
        "2\t00:00:00\t63\t0.10\t0.50\t1.10\t0.00\tX\t\t\t\t\t\t\t\t\t\t\r\n"
        "2\t00:00:30\t\t0.10\t0.50\t1.10\t0.00\tX\t\t\t\t\t\t\t\t\t\t\r\n"
        "2\t00:01:00\t65\t0.10\t0.50\t1.10\t0.00\tX\t\t\t\t\t\t\t\t\t\t\r\n");
}

// A week written as seven day files reads back through the day loader as the same table, and
// the events written beside each day are what the loader and the arrhythmia summary count.
TEST_F(TimiDayFilesTest, WeekRoundTripsThroughTheLoaders) {
    TimiData week;
    fill_timi_sample_week(week, 9 * 3600);
    set_header(week, TimiDateTime::from_parts(2024, 3, 4, 9, 0, 0).seconds);
    const std::vector<TimiArrhEvent> events = {event(1, 12800, 13056, 3), event(2, 128000, 129280, 12, 150),
                                               event(148, 256000, 307200, 51200), event(6, 400000, 401000, 8)};
    std::vector<std::string> days, event_files;
    for (int day = 1; day <= 7; ++day) {
        const fs::path folder = t / ("d" + std::to_string(day));
        days.push_back((folder / timi_day_file_name("PN1", day)).string());
        event_files.push_back((folder / "arrhevnt.dat").string());
        write_file(days.back(), timi_day_file_text(week, day, 2880));
        write_file(event_files.back(), arrhevnt_file_bytes(events));
        write_file(folder / "arrhevnt.txt", arrhevnt_text(events, 9 * 3600));
    }
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_paths(days));
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    const TimiData& d = source.data();
    ASSERT_EQ(d.row_count(), kTimiSampleWeekRows);
    EXPECT_EQ(d.day_count, 7);
    EXPECT_EQ(d.header.start, week.header.start);
    EXPECT_EQ(d.header.duration, "168 hrs 0 mins");
    // A day file has no use column: a row is used when one of its channels is.
    for (std::int32_t r = 0; r < d.row_count(); r += 97) {
        for (int col = 1; col < kTimiColumns; ++col) ASSERT_EQ(d.cell_text(r, col), week.cell_text(r, col)) << r;
        const auto& c = week.rows[static_cast<std::size_t>(r)].channel;
        ASSERT_EQ(d.rows[static_cast<std::size_t>(r)].use, c[0].flag || c[1].flag || c[2].flag) << r;
    }
    EXPECT_EQ(d.cell_text(kTimiSampleWeekRows - 1, kColDay), "8");
    EXPECT_EQ(d.arrhythmia_counts, (std::array<std::int32_t, 5>{0, 7, 0, 7, 7}));
    EXPECT_EQ(arrhevnt_text(events, 86000).substr(0, 35), "Arrhythmia events\r\npause\t23:55:00\r\n");

    const std::string bytes = arrhevnt_file_bytes(events);
    ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), kArrhFileSize);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(load_le32(p), 1u);                                    // the head links to entry 1
    EXPECT_EQ(load_le32(p + 4 * 5), 0xFFFFFFFFu);                   // the entry after the last ends
    EXPECT_EQ(load_le32(p + 4 * (6 * kArrhEntries + 2)), 128000u);  // field 6 of the second event
    TimiArrhData arrh;
    for (int day = 0; day < 7; ++day) ASSERT_TRUE(arrh.read_arrhevnt_file(day, event_files[day]));
    ASSERT_EQ(arrh.all_events().size(), 28u);
    EXPECT_EQ(arrh.all_events()[1].field, (TimiArrhEvent{{3, 0, 0, 0, 2, 0, 128000, 129280, 12, 150, 128000}}.field));
    EXPECT_TRUE(arrhevnt_file_bytes(std::vector<TimiArrhEvent>(kArrhEntries - 1)).empty());
}

}  // namespace
}  // namespace tv
