// The STEMI pages without windows: the time entries, the channel reconciliation, the page texts
// and the measurement text that reaches the summary file.
#include <gtest/gtest.h>

#include "platform/fs.h"
#include "tolbex/timi/stemi_sheet.h"
#include "tolbex/timi/tests/timi_test_support.h"

namespace tv {
namespace {

using timi_test::stemi_table;

constexpr char kInvalid[] =
    "You have entered an invalid time.\nPlease enter a time in the format (d)hh:mm:ss\nThe seconds must be a "
    "multiple of 30.";

class StemiSheetTest : public timi_test::TimiTest {};

const char kChannel1Text[] =
    "Channel 1\n---------\n\n"
    "Absolute time of peak ST deviation : (1)10:10:00\n"
    "Value of peak ST deviation : 4.00 mm\n"
    "Time from peak ST deviation to 50% of peak : 00:00:30\n"
    "Time from peak ST deviation to 30% of peak : 00:10:00\n"
    "Time from peak ST deviation to 10% of peak : 00:20:00\n"
    "Time from peak to < 50% of peak, for > 4hrs : 00:00:30\n"
    "Time from peak to < 30% of peak, for > 4hrs : 00:10:00\n"
    "Slope at 50% of peak : -0.0833 mm/s\n"
    "Slope at 30% of peak : -0.0167 mm/s\n"
    "Slope at 10% of peak : -0.0267 mm/s\n"
    "Absolute time of drug infusion : --:--:--\n"
    "Time from drug infusion to 50% of peak : --:--:--\n"
    "Time from drug infusion to 30% of peak : --:--:--\n"
    "Time from drug infusion to 10% of peak : --:--:--\n\n";

TEST_F(StemiSheetTest, AcceptanceTableOpensAppliesInfusionAndReachesTheSummary) {
    TimiData d = stemi_table();
    StemiSheet sheet(d);
    const StemiPageTexts& tx = sheet.page(0).texts;
    EXPECT_EQ(tx.peak_time, "(1)10:10:00");
    EXPECT_EQ(tx.peak_value, "4.00 mm");
    EXPECT_EQ(tx.time_to, (std::array<std::string, 3>{"00:00:30", "00:10:00", "00:20:00"}));
    EXPECT_EQ(tx.below_4h, (std::array<std::string, 2>{"00:00:30", "00:10:00"}));
    EXPECT_EQ(tx.slope, (std::array<std::string, 3>{"-0.0833 mm/s", "-0.0167 mm/s", "-0.0267 mm/s"}));
    EXPECT_EQ(tx.infusion_time, "--:--:--");
    EXPECT_EQ(tx.infusion_to, (std::array<std::string, 3>{"--:--:--", "--:--:--", "--:--:--"}));
    EXPECT_EQ(d.stemi[0].text, kChannel1Text);
    for (int c = 1; c < 3; ++c) {
        EXPECT_EQ(sheet.page(c).first_row(), -1);
        EXPECT_EQ(d.stemi[c].peak_time.status, TimiStatus::Null);
        EXPECT_EQ(sheet.page(c).texts.peak_time, "--:--:--");
        EXPECT_EQ(sheet.page(c).texts.time_to[0], "--:--:--");
    }

    StemiPage& p = sheet.page(0);
    p.texts.infusion_time = "(1)10:10:00";
    EXPECT_EQ(p.apply_infusion_time(), StemiEntryError::None);
    EXPECT_EQ(p.texts.infusion_time, "(1)10:10:00");
    EXPECT_EQ(p.texts.infusion_to, (std::array<std::string, 3>{"00:00:30", "00:10:00", "00:20:00"}));
    EXPECT_NE(d.stemi[0].text.find("Time from drug infusion to 10% of peak : 00:20:00\n"), std::string::npos);

    const std::string before = d.stemi[0].text;
    p.texts.infusion_time = "(1)10:15:15";
    EXPECT_EQ(p.apply_infusion_time(), StemiEntryError::Invalid);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kInvalid);
    EXPECT_EQ(d.stemi[0].infusion_time.second_of_day(), 36600);
    EXPECT_EQ(d.stemi[0].text, before);

    // The stored texts go into the summary as they stand, with CR LF line ends.
    const std::string path = (t / "TIMI_SUMMARY.TXT").string();
    ASSERT_TRUE(platform::atomic_write_file(path, d.summary_file_text(path)));
    std::string block = "TIMI 28 / Clarity Measurements\n------------------------------\n\n";
    for (const auto& s : d.stemi) block += s.text;
    std::string crlf;
    for (char ch : block) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    EXPECT_NE(timi_test::read_file(path).find(crlf), std::string::npos);
}

TEST_F(StemiSheetTest, TimeEntries) {
    const TimiData d = stemi_table();  // (1)10:00:00 .. (1)18:19:30
    const struct {
        const char* text;
        StemiEntryError error;
    } cases[] = {
        {"(1)10:15:30", StemiEntryError::None},
        {"(1)10:00:00", StemiEntryError::None},
        {"(1)18:19:30", StemiEntryError::None},
        {"(1)10:15:15", StemiEntryError::Invalid},
        {"(12)10:00:00", StemiEntryError::Invalid},
        {"(1", StemiEntryError::Invalid},
        {"", StemiEntryError::Invalid},
        {"(1)", StemiEntryError::Invalid},
        {"(x)10:00:00", StemiEntryError::Invalid},
        {"(1)24:00:00", StemiEntryError::Invalid},
        {"--:--:--", StemiEntryError::Invalid},
        {"(1)09:59:30", StemiEntryError::BeforeStart},
        {"(0)23:00:00", StemiEntryError::BeforeStart},
        {"(1)18:20:00", StemiEntryError::AfterEnd},
        {"(2)00:00:00", StemiEntryError::AfterEnd},
    };
    for (const auto& c : cases) {
        StemiEntry e;
        EXPECT_EQ(read_stemi_entry(d, c.text, e), c.error) << c.text;
    }
    StemiEntry e;
    ASSERT_EQ(read_stemi_entry(d, "(1)10:5:30", e), StemiEntryError::None);
    EXPECT_EQ(e.text, "(1)10:05:30");
    EXPECT_EQ(e.moment, 86400 + 10 * 3600 + 5 * 60 + 30);
    EXPECT_EQ(read_stemi_entry(TimiData(), "(1)10:00:00", e), StemiEntryError::Invalid);
    EXPECT_EQ(stemi_entry_message(StemiEntryError::BeforeStart),
              "You must enter a time that is after the start of the recording.");
    EXPECT_EQ(stemi_entry_message(StemiEntryError::AfterEnd),
              "You must enter a time that is before the end of the recording.");
}

TEST(StemiReconcile, OtherChannelsMustStartInsideTheFirstChannelsRange) {
    const struct {
        std::array<std::int32_t, 3> first, end, kept_first;
    } cases[] = {
        {{100, 110, -1}, {201, 150, -1}, {100, 110, -1}},  // inside and less than 21 rows after
        {{100, 120, 121}, {201, 150, 150}, {100, 120, -1}},
        {{100, 100, -1}, {201, 150, -1}, {100, -1, -1}},    // not strictly after
        {{100, 110, 90}, {201, 150, 95}, {-1, -1, 90}},     // channel 3 starts first: the others begin after its end
        {{100, 105, 95}, {201, 150, 120}, {100, 105, 95}},  // channel 3 starts first and reaches past them
        {{100, -1, 150}, {101, -1, 160}, {100, -1, -1}},    // after the reference's end
        {{-1, -1, -1}, {-1, -1, -1}, {-1, -1, -1}},
    };
    for (const auto& c : cases) {
        auto first = c.first, end = c.end;
        reconcile_stemi_ranges(first, end);
        EXPECT_EQ(first, c.kept_first);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(end[k], first[k] < 0 ? -1 : c.end[k]);
    }
}

TEST_F(StemiSheetTest, ApplyingOneChannelLeavesTheOthersRecords) {
    TimiData d = stemi_table();
    for (int i = 15; i < 300; ++i) {  // channel 2 selected 5 rows after channel 1, with an elevation
        d.rows[i].channel[1].flag = true;
        d.rows[i].channel[1].st_abs = i < 50 ? 3.0 : 0.5;
    }
    StemiSheet sheet(d);
    StemiPage& p2 = sheet.page(1);
    EXPECT_EQ(p2.texts.peak_value, "3.00 mm");
    p2.texts.infusion_time = "(1)10:05:00";
    ASSERT_EQ(p2.apply_infusion_time(), StemiEntryError::None);
    EXPECT_EQ(p2.texts.infusion_to[0], "00:20:00");  // row 50
    const StemiMeasurement kept = d.stemi[1];

    StemiPage& p1 = sheet.page(0);
    p1.operator_edited = true;
    p1.texts.peak_time = "(1)10:10:30";  // row 21, 1.5 mm
    ASSERT_EQ(p1.operator_edited_clicked(), StemiEntryError::None);
    EXPECT_EQ(p1.texts.peak_value, "1.50 mm");
    EXPECT_TRUE(p1.operator_edited);
    EXPECT_NE(d.stemi[0].text.find("Absolute time of peak ST deviation : (1)10:10:30 (operator edited)\n"),
              std::string::npos);
    p1.texts.infusion_time = "(1)10:00:00";
    ASSERT_EQ(p1.apply_infusion_time(), StemiEntryError::None);

    EXPECT_EQ(d.stemi[1].text, kept.text);
    EXPECT_EQ(d.stemi[1].infusion_time, kept.infusion_time);
    EXPECT_EQ(d.stemi[1].infusion_day, 1);
    EXPECT_EQ(format_stemi_span(d.stemi[1].infusion_to[0]), "00:20:00");

    // Clearing the box searches the peak again.
    p1.operator_edited = false;
    ASSERT_EQ(p1.operator_edited_clicked(), StemiEntryError::None);
    EXPECT_EQ(p1.texts.peak_time, "(1)10:10:00");
    EXPECT_EQ(p1.texts.peak_value, "4.00 mm");
    EXPECT_FALSE(d.stemi[0].peak_fixed);
}

TEST_F(StemiSheetTest, EntryOutsideTheRecordingChangesNothing) {
    TimiData d = stemi_table();
    StemiSheet sheet(d);
    StemiPage& p = sheet.page(0);
    const std::string text = d.stemi[0].text;
    p.operator_edited = true;
    p.texts.peak_time = "(1)09:00:00";
    EXPECT_EQ(p.operator_edited_clicked(), StemiEntryError::BeforeStart);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "You must enter a time that is after the start of the recording.");
    EXPECT_EQ(d.stemi[0].fixed_peak_row, 0);
    EXPECT_EQ(d.stemi[0].text, text);
}

}  // namespace
}  // namespace tv
