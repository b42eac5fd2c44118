#include <gtest/gtest.h>

#include "platform/fs.h"
#include "tolbex/timi/tests/timi_test_support.h"
#include "tolbex/timi/timi_files.h"
#include "tolbex/timi/timi_table_source.h"

namespace tv {
namespace {

using namespace timi_test;

std::string row_text(const TimiData& d, int r) {
    std::string out;
    for (int c = 0; c < kTimiColumns; ++c) out.append(c ? "\t" : "").append(d.cell_text(r, c));
    return out;
}

const std::string kChannelBlock = "Elevation  >=      1.00mm\r\nDepression <=     -1.00mm\r\nSlope       = UP\r\n\r\n";

std::string expected_two_day_data_file() {
    std::string out =
        "Quorril TIMI data file Ver 2\r\n\r\nPatient ID #:  P1\r\nTape (recording) ID #: R1\r\n"
        "Start time: 10:00:00 01/03/2004\r\nAnalyzed Duration: 0 hrs 3 mins\r\nMin HR (bpm): 55\r\n"
        "Max HR (bpm): 80\r\nMean HR (bpm): 77\r\n\r\n";
    for (int c = 1; c <= 3; ++c) out += "Episode Generation for channel " + std::to_string(c) + ":\r\n" + kChannelBlock;
    out += "VT <100 bpm : 1\r\nVT >100 bpm : 0\r\nSVT : 1\r\nBradycardia : 1\r\nPauses : 1\r\n\r\n";
    const char* times[] = {"10:00:00", "10:00:30", "10:01:00", "10:01:30", "10:02:00", "10:02:30", "10:03:00"};
    const int rates[] = {60, 62, 64, 66, 68, 72, 73};
    for (int i = 0; i < 7; ++i) {
        const bool used = i < 5;
        out += std::string(used ? "Y" : "N") + "\t1\t" + times[i] + "\t" + std::to_string(rates[i]) +
               "\t0.10\t0.50\t1.10\t1.00\t0.00\t" + (used ? "Y" : "N") +
               "\t0.20\t0.30\t0.40\t0.20\t0.10\tN\t0.20\t0.30\t0.40\t0.20\t0.10\tN\r\n";
    }
    return out;
}

class TimiLoadTest : public TimiTest {};

TEST_F(TimiLoadTest, TwoDaysJoinAtTheirOverlapWithTotalsAndCounts) {
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_list(two_day_list()));
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    const TimiData& d = source.data();
    ASSERT_EQ(d.row_count(), 7);
    EXPECT_EQ(d.rows.back().day, 1);
    EXPECT_EQ(d.rows.back().time.time_text(), "10:03:00");
    EXPECT_EQ(d.day_count, 2);
    // Beat sum 128 + (4 - 1) * 140 / 4 = 233 over 7 / 2 = 3 minutes.
    EXPECT_EQ(d.header.beat_sum, 233);
    EXPECT_EQ(d.header.mean_hr, 77);
    EXPECT_EQ(d.header.min_hr, 55);
    EXPECT_EQ(d.header.max_hr, 80);
    EXPECT_EQ(d.header.duration, "0 hrs 3 mins");
    EXPECT_EQ(d.arrhythmia_counts, (std::array<std::int32_t, 5>{1, 0, 1, 1, 1}));
    EXPECT_EQ(
        row_text(d, 0),
        "Y\t1\t10:00:00\t60\t0.10\t0.50\t1.10\t1.00\t0.00\tY\t0.20\t0.30\t0.40\t0.20\t0.10\tN\t0.20\t0.30\t0.40\t0."
        "20\t0.10\tN");

    const std::string path = (t / "out" / "DATA.TIMI").string();
    fs::create_directories(t / "out");
    ASSERT_TRUE(platform::atomic_write_file(path, d.data_file_text(0, d.row_count() - 1)));
    EXPECT_EQ(read_file(path), expected_two_day_data_file());
}

TEST_F(TimiLoadTest, DataFileRoundTripsWithEitherLineEnd) {
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_list(two_day_list()));
    const std::string bytes = source.data().data_file_text(0, source.data().row_count() - 1);
    std::string lf;
    for (char c : bytes) {
        if (c != '\r') lf += c;
    }
    for (const std::string& text : {bytes, lf}) {
        TimiData back;
        ASSERT_TRUE(back.read_data_text(text));
        EXPECT_EQ(back.data_file_text(0, back.row_count() - 1), bytes);
        EXPECT_EQ(back.arrhythmia_counts, source.data().arrhythmia_counts);
    }
}

TEST_F(TimiLoadTest, WrongDateOfDayTwoStopsTheLoadWithBothMessages) {
    const std::string list = two_day_list();
    day2.date = "03/03/2004 10:00:00";
    write_file(t / "d2" / "TIMI1234_2.TXT", day_file_text(day2));
    TIMITableSource source;
    EXPECT_FALSE(source.load_day_list(list));
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].text, "Incorrect date for day 2. It should be 02/03/2004, but it is 03/03/2004.");
    EXPECT_EQ(scripted.shown[1].text,
              "There was an error while reading file \"" + (t / "d2" / "TIMI1234_2.TXT").string() +
                  "\".\nThe error code is:\t9\nThe error message is:\t\"The data in the current file header does not "
                  "match that from the previous file.\"");
    EXPECT_EQ(source.data().row_count(), 5);
}

TEST_F(TimiLoadTest, DayFileFaultsGiveTheirCodes) {
    struct Case {
        const char* name;
        std::function<void(DaySpec&)> change;
        int code;
    };
    const std::vector<Case> cases = {
        // A string moved in: gcc 12 at -O3 takes this one assignment from "3" for an overlapping copy.
        {"version 3", [](DaySpec& d) { d.version = std::string("3"); }, kDayBadVersion},
        {"version 0", [](DaySpec& d) { d.version = "0"; }, kDayHeaderMissing},
        {"version text", [](DaySpec& d) { d.version = "two"; }, kDayHeaderMissing},
        {"60 s jump", [](DaySpec& d) { d.rows.push_back(day_row(1, "10:04:00", "70", "")); }, kDayRowsMissing},
        {"17 fields",
         [](DaySpec& d) {
             std::string r = day_row(1, "10:03:30", "70", "");
             r.pop_back();  // the trailing tab goes: one field fewer
             d.rows.push_back(r);
         },
         kDayShortRow},
        {"bad time", [](DaySpec& d) { d.rows.push_back(day_row(1, "10:3x:30", "70", "")); }, kDayBadValue},
        {"bad number",
         [](DaySpec& d) {
             std::string r = day_row(1, "10:03:30", "70", "");
             r.replace(r.find("0.10"), 4, "0,10");
             d.rows.push_back(r);
         },
         kDayBadValue},
        {"empty day", [](DaySpec& d) { d.rows.push_back(day_row(1, "10:03:30", "70", "").substr(1)); }, kDayBadValue},
        {"no patient", [](DaySpec& d) { d.patient = ""; }, kDayHeaderMissing},
        {"zero elevation", [](DaySpec& d) { d.elevation = "0.00"; }, kDayHeaderMissing},
        {"empty depression", [](DaySpec& d) { d.depression = ""; }, kDayHeaderMissing},
        {"odd slope", [](DaySpec& d) { d.slope = "SIDEWAYS"; }, kDayHeaderMissing},
        {"bad date", [](DaySpec& d) { d.date = "31/02/2004 10:00:00"; }, kDayHeaderMissing},
    };
    for (const auto& c : cases) {
        DaySpec d;
        d.rows = {day_row(1, "10:02:30", "70", ""), day_row(1, "10:03:00", "70", "")};
        d.date = "02/03/2004 10:00:00";
        c.change(d);
        write_file(t / "x.TXT", day_file_text(d));
        TIMITableSource source;
        TimiRow last;
        last.day = 1;
        last.time = TimiDateTime::time_of_day(10, 2, 30);
        source.data().rows.push_back(last);
        source.data().day_count = 1;
        source.data().header.patient_id = "P1";
        source.data().header.recording_id = "R1";
        source.data().header.start = TimiDateTime::from_parts(2004, 3, 1, 10, 0, 0);
        source.data().header.elevation = {1, 1, 1};
        source.data().header.depression = {-1, -1, -1};
        source.data().header.slope = {1, 1, 1};
        EXPECT_EQ(source.read_day_file((t / "x.TXT").string()), c.code) << c.name;
    }
}

TEST_F(TimiLoadTest, HeaderEndsAndMissingFiles) {
    TIMITableSource source;
    EXPECT_EQ(source.read_day_file((t / "none.TXT").string()), kDayNotFound);
    DaySpec d;
    std::string text = day_file_text(d);
    write_file(t / "cut.TXT", text.substr(0, text.find("Day\tTime")));
    EXPECT_EQ(source.read_day_file((t / "cut.TXT").string()), kDayNoData);
    write_file(t / "cut2.TXT", text.substr(0, text.find("Channel 2")));
    EXPECT_EQ(source.read_day_file((t / "cut2.TXT").string()), kDayHeaderMissing);
    write_file(t / "empty.TXT", "");
    EXPECT_EQ(source.read_day_file((t / "empty.TXT").string()), kDayHeaderMissing);
    EXPECT_EQ(source.data().row_count(), 0);
}

TEST_F(TimiLoadTest, MidnightVersionOneAndFieldRanges) {
    DaySpec d;
    d.version = "1";
    d.line_end = "\n";
    d.rows = {
        day_row(1, "23:59:30", "", "x"), day_row(2, "00:00:00", "0", ""),
        "2\t0:00:30\t61\t\t0.50\t9999.99\t-0.01\t\t10000\t0.30\t99999.995\t0.10\tX\t-9999.99\t0.30\t0.40\t0.10\t"};
    write_file(t / "a" / "TIMI_1.TXT", day_file_text(d));
    write_file(t / "a" / "arrhevnt.txt", "");
    write_file(t / "list", (t / "a" / "TIMI_1.TXT").string());
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_list((t / "list").string()));
    const TimiData& data = source.data();
    ASSERT_EQ(data.row_count(), 3);
    EXPECT_EQ(data.header.duration, "0 hrs 1 mins");  // channel-1 base present in two rows
    EXPECT_EQ(data.header.mean_hr, 0);                // version 1 has no heart rates
    EXPECT_TRUE(data.rows[0].use);                    // a small "x" selects too
    EXPECT_EQ(data.rows[0].heart_rate, kTimiMissingInt);
    EXPECT_EQ(data.rows[1].heart_rate, 0);
    const TimiRow& r = data.rows[2];
    EXPECT_EQ(r.channel[0].st_base, kTimiMissing);
    EXPECT_EQ(r.channel[0].st_dev, kTimiMissing);  // no base, no deviation
    EXPECT_EQ(r.channel[0].st_abs, 9999.99);
    EXPECT_EQ(r.channel[1].st_base, kTimiMissing);  // beyond 9999.99
    EXPECT_EQ(r.channel[1].st_abs, kTimiMissing);   // beyond 99999.99: missing, never 0
    EXPECT_EQ(r.channel[2].st_base, -9999.99);
    EXPECT_TRUE(r.use);
    EXPECT_EQ(data.cell_text(2, 3), "61");
    EXPECT_EQ(data.cell_text(0, 3), "");
    EXPECT_EQ(data.cell_text(2, 4), "");
}

TEST_F(TimiLoadTest, EmptyDayIsAskedAboutAndCountsAsADay) {
    const std::string list = two_day_list();
    // Day 1 has no rows: the user continues; day 2 is then checked against day 1's date.
    DaySpec d1;
    write_file(t / "d1" / "TIMI1234_1.TXT", day_file_text(d1));
    scripted.answers = {MsgResult::Yes};
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_list(list));
    ASSERT_GE(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "Day 1 does not contain any data,\nfilename : " + (t / "d1" / "TIMI1234_1.TXT").string() +
                  ".\nDo you want to continue the TIMI analysis ?");
    EXPECT_EQ(source.data().row_count(), 4);
    EXPECT_EQ(source.data().day_count, 2);

    // Answering No ends the load.
    TIMITableSource refused;
    EXPECT_FALSE(refused.load_day_list(list));
}

TEST_F(TimiLoadTest, DayWithoutTheLastRowAddsNothingButCounts) {
    const std::string list = two_day_list();
    day2.rows = {day_row(1, "11:00:00", "70", "")};
    write_file(t / "d2" / "TIMI1234_2.TXT", day_file_text(day2));
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_list(list));
    EXPECT_EQ(source.data().row_count(), 5);
    EXPECT_EQ(source.data().day_count, 2);
}

TEST_F(TimiLoadTest, CriteriaMismatchOnlyWarns) {
    const std::string list = two_day_list();
    day2.elevation = "1.50";
    day2.slope = "DOWN, LEVEL";
    write_file(t / "d2" / "TIMI1234_2.TXT", day_file_text(day2));
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_list(list));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].icon, MsgIcon::Warning);
    EXPECT_NE(scripted.shown[0].text.find("\nChannel 1\t\tElevation\t\tDepression\tSlope\n"
                                          "Day 1\t\t     1.00\t\t    -1.00\t\tUP\n"
                                          "Day 2\t\t     1.50\t\t    -1.00\t\tDOWN, LEVEL\n"),
              std::string::npos)
        << scripted.shown[0].text;
    EXPECT_EQ(source.data().row_count(), 7);
}

TEST_F(TimiLoadTest, PatientMismatchAndMissingEventFile) {
    const std::string list = two_day_list();
    day2.patient = "P2";
    write_file(t / "d2" / "TIMI1234_2.TXT", day_file_text(day2));
    TIMITableSource source;
    EXPECT_FALSE(source.load_day_list(list));
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].text,
              "There is a Patient ID mismatch.\nPrevious day's Patient ID was \"P1\", and this day's Patient ID is "
              "\"P2\"");

    scripted.shown.clear();
    fs::remove(t / "d1" / "arrhevnt.txt");
    write_file(t / "one", (t / "d1" / "TIMI1234_1.TXT").string() + "\r\n");
    TIMITableSource one;
    EXPECT_TRUE(one.load_day_list((t / "one").string()));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text.rfind("There was an error while reading arrhevnt.txt\nError message is ", 0), 0u);
    EXPECT_EQ(one.data().row_count(), 5);
}

TEST_F(TimiLoadTest, HostileDayFilesNeverCrash) {
    DaySpec d;
    d.duration = "99999999999 hrs -5 mins";
    d.mean_hr = 2147483647;
    d.rows = {day_row(1, "10:00:00", "99999999999"),
              day_row(1, "10:00:00", "60") + std::string(100000, '\t'),
              std::string(1 << 16, 'x'),
              "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t",
              day_row(1, "25:00:00", "60"),
              day_row(-2147483647, "10:00:00", "60"),
              std::string("1\t10:00:00\t60\0\t", 14)};
    for (const auto& row : d.rows) {
        DaySpec one = d;
        one.rows = {row};
        write_file(t / "h.TXT", day_file_text(one));
        TIMITableSource source;
        const int code = source.read_day_file((t / "h.TXT").string());
        EXPECT_TRUE(code == kDayOk || code == kDayShortRow || code == kDayBadValue) << code;
    }
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
    write_file(t / "b.TXT", binary);
    TIMITableSource source;
    EXPECT_EQ(source.read_day_file((t / "b.TXT").string()), kDayHeaderMissing);
}

TEST_F(TimiLoadTest, TableSourceServesTheGrid) {
    TIMITableSource source;
    ASSERT_TRUE(source.load_day_list(two_day_list()));
    EXPECT_EQ(source.get_num_cols(), 22);
    EXPECT_EQ(source.get_num_rows(), 7);
    GridCell cell;
    ASSERT_EQ(source.get_cell(-1, -1, cell), 0);
    EXPECT_EQ(cell.get_text(), "#");
    EXPECT_EQ(cell.get_alignment(), 4);
    cell.reset();
    ASSERT_EQ(source.get_cell(7, -1, cell), 0);
    EXPECT_EQ(cell.get_text(), " STDev1 ");
    cell.reset();
    ASSERT_EQ(source.get_cell(-1, 6, cell), 0);
    EXPECT_EQ(cell.get_text(), "7");
    cell.reset();
    ASSERT_EQ(source.get_cell(9, 0, cell), 0);
    EXPECT_EQ(cell.get_text(), "1");
    EXPECT_EQ(cell.get_data_type(), kCellDataBool);
    cell.reset();
    ASSERT_EQ(source.get_cell(15, 0, cell), 0);
    EXPECT_EQ(cell.get_text(), "0");
    cell.reset();
    ASSERT_EQ(source.get_cell(2, 6, cell), 0);
    EXPECT_EQ(cell.get_text(), "10:03:00");
    EXPECT_NE(source.get_cell(2, 7, cell), 0);
    EXPECT_NE(source.get_cell(22, 0, cell), 0);
    // Check boxes toggle through the row selection, never through set_cell.
    EXPECT_EQ(source.set_cell(0, 0, cell), kGridUnsupported);
    EXPECT_TRUE(source.is_used(0));

    source.clear_channel(3, 0);  // the last channel: use goes off
    EXPECT_FALSE(source.is_used(3));
    source.set_use(3, true);  // no channel: channel 1 comes on
    EXPECT_TRUE(source.data().rows[3].channel[0].flag);
    source.select_channel(2, 1);
    EXPECT_EQ(source.data().cell_text(2, 9) + source.data().cell_text(2, 15) + source.data().cell_text(2, 21), "NYN");
    source.toggle_channel(2, 1);
    EXPECT_FALSE(source.is_used(2));
    source.toggle_use(2);
    EXPECT_TRUE(source.data().rows[2].channel[0].flag);
    source.toggle_use(2);
    EXPECT_EQ(source.data().cell_text(2, 9), "N");
    EXPECT_EQ(timi_column_sample(2), " 99:99:99 ");
    EXPECT_EQ(timi_column_sample(21), "X");
}

}  // namespace
}  // namespace tv
