#include <gtest/gtest.h>

#include "platform/fs.h"
#include "tolbex/timi/tests/timi_test_support.h"
#include "tolbex/timi/timi_table_source.h"

namespace tv {
namespace {

using namespace timi_test;

const char* kHeading =
    "                                            ---------------Heart Rates--------------       STAbs      STDev      "
    "Isch\r\n"
    "  Ch   Onset         End          Duration  -1.0mm   -10     -5     -1   Onset   Max        Max        Max      "
    "Burden\r\n";
const char* kZeroLine =
    "   0   0  00:00:00   0  00:00:00   0:00:00      0      0      0      0      0      0        0.0        0.0      "
    "    0\r\n";
const char* kCounts =
    "\r\n-----------------------\r\nArrhythmia Event Counts\r\n-----------------------\r\n\r\n"
    "VT <100 bpm : 1\r\nVT >100 bpm : 0\r\nSVT : 1\r\nBradycardia : 1\r\nPauses : 1\r\n\r\n";

class TimiSummaryTest : public TimiTest {
protected:
    void load() { ASSERT_TRUE(source.load_day_list(two_day_list())); }
    TIMITableSource source;
};

TEST_F(TimiSummaryTest, GoldenFileWithOneEpisode) {
    load();
    TimiData& d = source.data();
    d.rows[0].time = TimiDateTime::time_of_day(10, 0, 0);
    d.stemi[1].text = "Channel 2\n---------\n\n";
    const std::string path = (t / "TIMI_SUMMARY.TXT").string();
    ASSERT_TRUE(platform::atomic_write_file(path, d.summary_file_text(path)));
    std::string expected = "Quorril TIMI summary file\r\nFilename: " + path +
                           "\r\n\r\nPatient ID #:  P1\r\nTape (recording) ID #: R1\r\n"
                           "Start time: 10:00:00 01/03/2004\r\nAnalyzed Duration: 0 hrs 3 mins\r\n"
                           "Min HR (bpm): 55\r\nMax HR (bpm): 80\r\nMean HR (bpm): 77\r\n\r\n";
    for (int c = 1; c <= 3; ++c) {
        expected += "Episode Generation for channel " + std::to_string(c) +
                    ":\r\nElevation  >=      1.00mm\r\nDepression <=     -1.00mm\r\nSlope       = UP\r\n\r\n";
    }
    expected += kHeading + std::string(118, '-') + "\r\n";
    expected +=
        "   1   1  10:00:00   1  10:02:00   0:02:30     -1  *  60  *  60  *  60     60     68        1.1        1.0 "
        "        95\r\n";
    expected +=
        "\r\n\r\n------------------------------\r\nTIMI 28 / Clarity Measurements\r\n"
        "------------------------------\r\n\r\nChannel 2\r\n---------\r\n\r\n";
    expected += kCounts;
    EXPECT_EQ(read_file(path), expected);
}

TEST_F(TimiSummaryTest, StartLineTakesRowZeroTimeWithTheHeaderDate) {
    load();
    source.data().rows[0].time = TimiDateTime::time_of_day(9, 59, 30);
    const std::string text = source.data().summary_file_text("x");
    EXPECT_NE(text.find("Start time: 09:59:30 01/03/2004\r\n"), std::string::npos);
    EXPECT_NE(source.data().data_file_text(0, 6).find("Start time: 10:00:00 01/03/2004\r\n"), std::string::npos);
}

TEST_F(TimiSummaryTest, EpisodeFieldsCoverTheWholeEpisode) {
    load();
    TimiData& d = source.data();
    for (int r = 0; r < d.row_count(); ++r) d.set_use(r, false);
    // A one-row episode reports its own values, not zeros.
    d.select_channel(6, 2);
    d.rows[6].channel[2].st_abs = -2.5;
    d.rows[6].channel[2].st_base = 0.0;
    d.rows[6].heart_rate = kTimiMissingInt;  // the depression row has no heart rate: -1, never the marker
    const std::string text = d.summary_file_text("x");
    EXPECT_NE(text.find("   3   1  10:03:00   1  10:03:00   0:00:30     -1  *  60  *  60     68  *  72      0       "
                        "-2.5       -2.5        -10\r\n"),
              std::string::npos)
        << text;
}

TEST_F(TimiSummaryTest, NoEpisodeAndEmptyTable) {
    load();
    TimiData& d = source.data();
    for (int r = 0; r < d.row_count(); ++r) d.set_use(r, false);
    const std::string text = d.summary_file_text("x");
    EXPECT_NE(text.find(std::string(118, '-') + "\r\n" + kZeroLine + kCounts), std::string::npos) << text;

    TimiData empty;
    EXPECT_EQ(empty.summary_file_text("x"), std::string(kZeroLine) +
                                                "\r\n-----------------------\r\nArrhythmia Event Counts\r\n"
                                                "-----------------------\r\n\r\nVT <100 bpm : 0\r\nVT >100 bpm : 0\r\n"
                                                "SVT : 0\r\nBradycardia : 0\r\nPauses : 0\r\n\r\n");
}

TEST_F(TimiSummaryTest, HeartRateAccessorMarksBorrowedRates) {
    TimiData d;
    for (int i = 0; i < 6; ++i) {
        TimiRow r;
        r.time = TimiDateTime::time_of_day(10, 0, i * 30);
        r.heart_rate = i == 2 ? 0 : (i == 3 ? kTimiMissingInt : 60 + i);
        d.rows.push_back(r);
    }
    EXPECT_EQ(d.heart_rate_at(0), 60);
    EXPECT_EQ(d.heart_rate_at(2), -61);  // lower neighbour first
    EXPECT_EQ(d.heart_rate_at(3), -64);  // row 2 has 0, so the upper one at distance 1
    EXPECT_EQ(d.heart_rate_at(-15), -60);
    EXPECT_EQ(d.heart_rate_at(99), -65);
    EXPECT_EQ(TimiData().heart_rate_at(0), 0);
    EXPECT_EQ(format_episode_span(TimiData::duration(0, 2879 + 240)), " 26:00:00");
}

TEST_F(TimiSummaryTest, DataFileRanges) {
    load();
    const TimiData& d = source.data();
    const std::string path = (t / "DATA.TIMI").string();
    ASSERT_TRUE(platform::atomic_write_file(path, d.data_file_text(0, 0)));  // a range from row 0 is a real range
    TimiData back;
    ASSERT_TRUE(back.read_data_file(path));
    EXPECT_EQ(back.row_count(), 1);
    ASSERT_TRUE(platform::atomic_write_file(path, d.data_file_text(5, 99)));  // cut at the table's end
    TimiData tail;
    ASSERT_TRUE(tail.read_data_file(path));
    EXPECT_EQ(tail.row_count(), 2);
    EXPECT_EQ(tail.rows[0].time.time_text(), "10:02:30");
    EXPECT_EQ(TimiData().data_file_text(0, 0), "");  // an empty table has no file text
}

TEST_F(TimiSummaryTest, DataFileReaderVersionsAndBadLines) {
    load();
    const std::string good = source.data().data_file_text(0, 6);
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    // Older versions: no counts (1), nor duration and rates (0); a newer one reads as 2.
    std::string v1 = replaced("Ver 2", "Ver 1");
    v1.erase(v1.find("VT <100"), v1.find("Y\t1\t10:00:00") - v1.find("VT <100"));
    TimiData one;
    ASSERT_TRUE(one.read_data_text(v1));
    EXPECT_EQ(one.arrhythmia_counts, (std::array<std::int32_t, 5>{}));
    EXPECT_EQ(one.header.mean_hr, 77);
    std::string v0 = v1;
    v0.replace(v0.find("Ver 1"), 5, "Ver 0");
    v0.erase(v0.find("Analyzed"), v0.find("\r\nEpisode") - v0.find("Analyzed"));
    TimiData zero;
    ASSERT_TRUE(zero.read_data_text(v0)) << v0;
    EXPECT_EQ(zero.header.duration, "");
    EXPECT_EQ(zero.row_count(), 7);
    TimiData three;
    EXPECT_TRUE(three.read_data_text(replaced("Ver 2", "Ver 3")));
    TimiData old;
    ASSERT_TRUE(old.read_data_text(replaced("Analyzed Duration: ", "Duration: ")));
    EXPECT_EQ(old.header.duration, "0 hrs 3 mins");

    for (const auto& bad : {replaced("Patient ID #:  P1", "Patient"), replaced("Tape (recording) ID #: R1", "T"),
                            replaced("Start time: 10:00:00 01/03/2004", "Start time:"),
                            replaced("Start time: 10:00:00 01/03/2004", "Start time: 10:00:00 31/02/2004"),
                            replaced("Start time: 10:00:00 01/03/2004", "Start time: 1x:00:00 01/03/2004"),
                            replaced("Elevation  >=      1.00mm", "m"), replaced("SVT : 1", "SVT 1"),
                            replaced("Y\t1\t10:00:30", "Y\t1\t10:01:30"), replaced("\t62\t", "\t62\t\t"),
                            replaced("\t64\t", "\tsixty\t"), good.substr(0, good.find("Episode")), std::string()}) {
        TimiData d;
        EXPECT_FALSE(d.read_data_text(bad)) << bad.substr(0, 200);
    }
    TimiData lower;
    ASSERT_TRUE(lower.read_data_text(replaced("Y\t1\t10:00:00", "y\t1\t10:00:00")));
    EXPECT_FALSE(lower.rows[0].use);
    EXPECT_TRUE(lower.rows[0].channel[0].flag);  // use and channel flags are read independently
}

}  // namespace
}  // namespace tv
