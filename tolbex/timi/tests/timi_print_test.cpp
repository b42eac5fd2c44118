#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/timi_print.h"

namespace tv {
namespace {

// `rows` rows 30 s apart, the use flag on where `used` says, patient "P1".
TimiData print_table(int rows, const std::vector<std::pair<int, int>>& used = {}) {
    TimiData d;
    d.header.patient_id = "P1";
    for (int i = 0; i < rows; ++i) {
        TimiRow r;
        r.day = 1;
        r.time = TimiDateTime::time_of_day(10 + i / 120, i / 2 % 60, i % 2 * 30);
        r.heart_rate = 60 + i % 40;
        r.channel[0].st_abs = 1.5;
        d.rows.push_back(r);
    }
    for (auto [a, b] : used)
        for (int i = a; i <= b; ++i) d.set_use(i, true);
    return d;
}

std::vector<std::int32_t> range(int a, int b) {
    std::vector<std::int32_t> v;
    for (int i = a; i <= b; ++i) v.push_back(i);
    return v;
}

// The rows a whole run prints, -1 for an empty line.
std::vector<std::int32_t> all_lines(TimiPrintPlan& plan) {
    std::vector<std::int32_t> out;
    for (auto line = plan.next_line(); line.kind != TimiPrintPlan::LineKind::End; line = plan.next_line())
        out.push_back(line.row);
    return out;
}

std::vector<std::int32_t> lines_of(const TimiData& d, TimiPrintRequest request) {
    TimiPrintSettings s;
    TimiPrintPlan plan(d, s, request);
    return all_lines(plan);
}

std::vector<std::int32_t> rows_only(std::vector<std::int32_t> lines) {
    lines.erase(std::remove(lines.begin(), lines.end(), -1), lines.end());
    return lines;
}

TEST(TimiPrintPlanTest, EventsOnlyPrintsPreAndPostRowsOnceWithAGapBetweenEvents) {
    const TimiData d = print_table(200, {{100, 119}, {150, 155}});
    std::vector<std::int32_t> want = range(80, 139);
    want.push_back(-1);
    const auto second = range(140, 175);
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(lines_of(d, TimiPrintRequest::events_only()), want);
}

TEST(TimiPrintPlanTest, RowsAndGapsOfEachRequest) {
    const TimiData d = print_table(12, {{0, 3}, {8, 11}});
    const TimiData unused_first = print_table(4, {{2, 3}});
    const TimiData none_used = print_table(5), empty = print_table(0);
    struct Case {
        const char* name;
        const TimiData& data;
        TimiPrintRequest request;
        std::vector<std::int32_t> lines;
    };
    const Case cases[] = {
        {"entire table, a gap at each change of use",
         d,
         TimiPrintRequest::entire_table(),
         {0, 1, 2, 3, -1, 4, 5, 6, 7, -1, 8, 9, 10, 11}},
        {"first row unused: the first line is empty",
         unused_first,
         TimiPrintRequest::entire_table(),
         {-1, 0, 1, -1, 2, 3}},
        {"a selection from row 0 is a range", d, TimiPrintRequest::selected(0, 2), {0, 1, 2}},
        {"the last selected row prints", d, TimiPrintRequest::selected(5, 9), {-1, 5, 6, 7, -1, 8, 9}},
        {"a one-row selection", d, TimiPrintRequest::selected(11, 11), {11}},
        {"a selection past the end is cut", d, TimiPrintRequest::selected(10, 50), {10, 11}},
        {"no selection prints the whole table", unused_first, TimiPrintRequest::selected(-1, -1), {-1, 0, 1, -1, 2, 3}},
        {"events only without used rows", none_used, TimiPrintRequest::events_only(), {}},
        {"events at both ends of the table", d, TimiPrintRequest::events_only(), range(0, 11)},
        {"an empty table", empty, TimiPrintRequest::entire_table(), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(lines_of(c.data, c.request), c.lines) << c.name;
}

TEST(TimiPrintPlanTest, SelectedFiveToNineOfTheEventTablePrintsThoseRows) {
    const TimiData d = print_table(200, {{100, 119}, {150, 155}});
    EXPECT_EQ(rows_only(lines_of(d, TimiPrintRequest::selected(5, 9))), range(5, 9));
}

TEST(TimiPrintPlanTest, AnEventInsideThePreviousPostRowsAddsNoEmptyLines) {
    TimiPrintSettings s;
    s.pre_time = s.post_time = 20;
    // The second event's rows were all printed with the first one, up to the table's end.
    const TimiData d = print_table(30, {{10, 12}, {14, 15}});
    TimiPrintPlan plan(d, s, TimiPrintRequest::events_only());
    EXPECT_EQ(all_lines(plan), range(0, 29));
    EXPECT_FALSE(plan.has_more());
}

TEST(TimiPrintFontTest, DialogHeightsAndDeviceFonts) {
    struct Case {
        int tenths, dpi, pixels;
    };
    // Whole points only: 10.5 points show as 10.
    for (const Case& c :
         {Case{100, 96, -13}, Case{105, 96, -13}, Case{120, 96, -16}, Case{80, 120, -13}, Case{5, 96, 0}})
        EXPECT_EQ(timi_font_dialog_pixels(c.tenths, c.dpi), c.pixels) << c.tenths << "@" << c.dpi;
    EXPECT_EQ(timi_font_tenths_from_pixels(-13, 96), 98);
    EXPECT_EQ(timi_font_tenths_from_pixels(16, 96), 120);
    const fw::Font f = timi_device_font({100, 700, true}, 300);
    EXPECT_EQ(f.em_height, 42);
    EXPECT_EQ(f.weight, 700);
    EXPECT_TRUE(f.italic);
    EXPECT_EQ(f.face, "Arial Narrow");
}

// Every page of a run on the recording context at 300 dpi, on pages 4200 x 3520 pixels by default
// (wide enough for the table in the context's fixed fonts).
std::vector<std::vector<std::string>> print_pages(const TimiData& d, TimiPrintRequest request,
                                                  fw::Sz page = {4200, 3520}) {
    TimiTablePrinter printer(d, TimiPrintSettings{}, request);
    fw::RecordingDrawContext dc(page);
    std::vector<std::vector<std::string>> pages;
    printer.begin_printing(false);
    for (int n = 1; printer.continue_printing(n) && n < 1000; ++n) {
        dc.clear();
        printer.print_page(dc, n, {0, 0, page.cx, page.cy});
        pages.push_back(dc.commands());
    }
    printer.end_printing();
    return pages;
}

bool has(const std::vector<std::string>& page, const std::string& line) {
    return std::find(page.begin(), page.end(), line) != page.end();
}

// The recording context's fonts at 300 dpi: 10 points is 42 units high, a character 21 wide, a
// line 47 high; so rows start at 58 and a page holds 72 lines.
constexpr int kLinesPerPage = 72;

TEST(TimiTablePrinterTest, PageLayoutOnTheRecordingContext) {
    const TimiData d = print_table(100, {{0, 1}});
    const auto pages = print_pages(d, TimiPrintRequest::entire_table());
    ASSERT_EQ(pages.size(), 2u);  // 100 rows and one gap
    const auto& p = pages[0];
    // " Use? " ends one unit left of its 147-wide column (7 characters: heading and a blank).
    EXPECT_TRUE(has(p, "text (20,0) \" Use? \""));
    // " STBase1 " (10 units of half a blank more than its 10 characters) ends at 869.
    EXPECT_TRUE(has(p, "text (660,0) \" STBase1 \""));
    EXPECT_TRUE(has(p, "pen solid #000000 w3"));
    EXPECT_TRUE(has(p, "line (0,52)-(4200,52)"));  // 47 + 11 / 2
    // Row 0 on the first line: "Y" right-aligned in column 0; rows 2.. after one empty line.
    EXPECT_TRUE(has(p, "text (125,58) \"Y\""));
    EXPECT_TRUE(has(p, "text (125,105) \"Y\""));
    EXPECT_TRUE(has(p, "text (125,199) \"N\""));
    EXPECT_FALSE(has(p, "text (125,152) \"N\""));
    // Footer after the 72nd line.
    const int y = 58 + kLinesPerPage * 47;
    EXPECT_TRUE(has(p, "line (0," + std::to_string(y + 5) + ")-(4200," + std::to_string(y + 5) + ")"));
    EXPECT_TRUE(has(p, "text (0," + std::to_string(y + 11) + ") \"Page 1\""));
    EXPECT_TRUE(has(p, "text (3906," + std::to_string(y + 11) + ") \"Subject ID: P1\""));
    // The channel groups' rules, a blank right of the groups' left edges, down to the footer rule.
    for (const char* x : {"651", "1732", "2813"})
        EXPECT_TRUE(has(p, std::string("line (") + x + ",0)-(" + x + "," + std::to_string(y + 5) + ")")) << x;
    // 71 rows and the gap on page 1; the 29 left end page 2.
    EXPECT_TRUE(has(pages[1], "text (0," + std::to_string(58 + 29 * 47 + 11) + ") \"Page 2\""));
}

TEST(TimiTablePrinterTest, ATableWiderThanThePageIsScaledToFit) {
    const auto pages = print_pages(print_table(3), TimiPrintRequest::entire_table(), {2496, 3520});
    ASSERT_EQ(pages.size(), 1u);
    const auto& p = pages[0];
    const auto body = std::find_if(p.rbegin(), p.rend(), [](const std::string& l) { return l.starts_with("font "); });
    ASSERT_NE(body, p.rend());
    EXPECT_LT(std::stoi(body->substr(body->find('/') + 1)), 42) << *body;
    // The last heading ends inside the page.
    const auto ch3 = std::find_if(p.begin(), p.end(), [](const std::string& l) { return l.ends_with("\" Ch3 \""); });
    ASSERT_NE(ch3, p.end());
    const int x = std::stoi(ch3->substr(ch3->find('(') + 1));
    EXPECT_LE(x + 5 * 21, 2496);
    EXPECT_GT(x + 5 * 14, 2000);  // not shrunk more than needed
}

TEST(TimiTablePrinterTest, APageThatFillsAtTheLastRowEndsTheRun) {
    for (int rows : {kLinesPerPage, kLinesPerPage + 1, 2 * kLinesPerPage})
        EXPECT_EQ(print_pages(print_table(rows, {{0, rows - 1}}), TimiPrintRequest::entire_table()).size(),
                  static_cast<std::size_t>((rows + kLinesPerPage - 1) / kLinesPerPage))
            << rows;
    // Events only: the post rows reach the table's end exactly at a page's end.
    const TimiData d = print_table(100, {{20, 51}});  // rows 0..71
    EXPECT_EQ(print_pages(d, TimiPrintRequest::events_only()).size(), 1u);
    EXPECT_TRUE(print_pages(print_table(10), TimiPrintRequest::events_only()).empty());
}

TEST(TimiTablePrinterTest, APageTooShortForItsLinesStillTakesARow) {
    // Rows from 58; the footer needs 2 lines and a quarter below the last: no line fits in 150.
    const auto pages = print_pages(print_table(5, {{2, 4}}), TimiPrintRequest::entire_table(), {4200, 150});
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_TRUE(has(pages[0], "text (125,105) \"N\""));  // after the first line, empty
    EXPECT_TRUE(has(pages[1], "text (125,58) \"N\""));
    EXPECT_TRUE(has(pages[2], "text (125,105) \"Y\""));  // after the gap line
}

}  // namespace
}  // namespace tv
