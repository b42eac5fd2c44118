// The TIMI grid window headless: set-up after a load, clicks, shift-clicks, keys, the selected
// rows, and what its paint shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/grid/grid_corner.h"
#include "tolbex/timi/grid/grid_side_heading.h"
#include "tolbex/timi/grid/grid_top_heading.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/timi/timi_grid_wnd.h"
#include "tolbex/timi/timi_store.h"
#include "tolbex/timi/tests/timi_test_support.h"

namespace tv {
namespace {

using timi_test::TimiTest;
namespace fs = std::filesystem;

struct GridWndTest : TimiTest {
    void SetUp() override {
        TimiTest::SetUp();
        grid.set_document_hooks([this](TimiData* d) { data = d; }, [this] { ++modified; });
        grid.set_measure_context(&measure);
        grid.created();
        grid.layout(2400, 400);
    }
    // The row's use and channel flags as "Y"/"N" letters: use, Ch1, Ch2, Ch3.
    std::string flags(int row) {
        const TimiRow& r = grid.data().rows[static_cast<std::size_t>(row)];
        std::string s;
        for (bool b : {r.use, r.channel[0].flag, r.channel[1].flag, r.channel[2].flag}) s += b ? 'Y' : 'N';
        return s;
    }
    fw::Pt centre(int col, int row) {
        fw::Rc r{};
        EXPECT_EQ(grid.get_cell_rect(col, row, r), GRID_OK);
        return {(r.l + r.r) / 2, (r.t + r.b) / 2};
    }
    void click(int col, int row, bool shift = false) {
        grid.set_modifiers(shift, false);
        grid.left_down(centre(col, row), shift ? kGridMouseShift : 0);
        grid.left_up(centre(col, row));
        grid.set_modifiers(false, false);
    }
    void key(int k) {
        grid.key_down(k);
        grid.key_up(k);
    }

    TIMIGridWnd grid;
    fw::RecordingDrawContext measure{{1280, 900}, {96, 96}};
    TimiData* data = nullptr;
    int modified = 0;
};

TEST_F(GridWndTest, LoadSetsUpTheColumnsAndHandsTheDocumentItsData) {
    ASSERT_TRUE(grid.load_day_list(two_day_list()));
    EXPECT_EQ(data, &grid.data());
    EXPECT_EQ(grid.get_num_rows(), 7);
    EXPECT_EQ(grid.get_num_cols(), kTimiColumns);
    auto column_default = [&](int col) -> const GridCell& {
        return grid.sheet().cols[static_cast<std::size_t>(col)].default_cell;
    };
    for (int col : {0, 9, 15, 21}) {
        const GridCell& cell = column_default(col);
        EXPECT_EQ(cell.get_cell_type(), kCellTypeCheckBox) << col;
        EXPECT_EQ(cell.get_cell_type_param(), 0x1004) << col;
        EXPECT_EQ(cell.get_alignment(), 4) << col;
    }
    EXPECT_EQ(column_default(kColTime).get_alignment(), 4);
    // Recording metrics: a character is em/2 = 8 wide.
    EXPECT_EQ(grid.sheet().side_width, 8 * 8);
    for (int col = 0; col < kTimiColumns; ++col)
        EXPECT_GE(grid.get_col_width(col), 8 * static_cast<int>(timi_column_sample(col).size())) << col;
    EXPECT_EQ(modified, 0);

    // A failed load leaves the table and the grid as they were.
    EXPECT_FALSE(grid.load_day_list((t / "missing.TIMI").string()));
    EXPECT_EQ(grid.get_num_rows(), 7);
    EXPECT_EQ(grid.data().row_count(), 7);
}

TEST_F(GridWndTest, ClicksShiftClicksAndKeysEditTheSelection) {
    ASSERT_TRUE(grid.load_day_list(two_day_list()));
    for (int r = 0; r < 7; ++r) {
        TimiRow& row = grid.data().rows[static_cast<std::size_t>(r)];
        row.use = row.channel[0].flag = true;
        row.channel[1].flag = row.channel[2].flag = false;
    }
    std::int32_t first = 0, last = 0;
    grid.get_selected_rows(first, last);
    EXPECT_EQ(std::pair(first, last), std::pair(-1, -1));  // no block: nothing selected

    click(channel_flag_col(0), 3);  // clearing the last channel turns use off
    EXPECT_EQ(flags(3), "NNNN");
    EXPECT_EQ(modified, 1);

    click(kColDay, 2);
    click(kColDay, 4, true);
    grid.get_selected_rows(first, last);
    EXPECT_EQ(std::pair(first, last), std::pair(2, 4));
    EXPECT_EQ(modified, 1);  // other columns change nothing

    key('2');
    for (int r : {2, 3, 4}) EXPECT_EQ(flags(r), "YNYN") << r;
    EXPECT_EQ(flags(1), "YYNN");

    // Save Selected stores exactly those rows (golden DATA.TIMI).
    AuditLogTrail audit("Calvera", [] { return false; });
    TimiStore store;
    store.set_data(&grid.data());
    fs::create_directories(t / "ARCH");
    store.set_data_folder((t / "ARCH").string());
    store.set_audit(&audit);
    ASSERT_TRUE(store.save_timi_data(TimiRowRange::selected(first, last), true));
    std::string golden =
        "Quorril TIMI data file Ver 2\r\n\r\nPatient ID #:  P1\r\nTape (recording) ID #: R1\r\n"
        "Start time: 10:00:00 01/03/2004\r\nAnalyzed Duration: 0 hrs 3 mins\r\nMin HR (bpm): 55\r\n"
        "Max HR (bpm): 80\r\nMean HR (bpm): 77\r\n\r\n";
    for (int c = 1; c <= 3; ++c)
        golden += "Episode Generation for channel " + std::to_string(c) +
                  ":\r\nElevation  >=      1.00mm\r\nDepression <=     -1.00mm\r\nSlope       = UP\r\n\r\n";
    golden += "VT <100 bpm : 1\r\nVT >100 bpm : 0\r\nSVT : 1\r\nBradycardia : 1\r\nPauses : 1\r\n\r\n";
    for (const char* row : {"10:01:00\t64", "10:01:30\t66", "10:02:00\t68"})
        golden += std::string("Y\t1\t") + row +
                  "\t0.10\t0.50\t1.10\t1.00\t0.00\tN\t0.20\t0.30\t0.40\t0.20\t0.10\tY\t0.20\t0.30\t0.40\t0.20\t0.10"
                  "\tN\r\n";
    EXPECT_EQ(timi_test::read_file(fs::path(store.last_stored_folder()) / "DATA.TIMI"), golden);
    EXPECT_TRUE(store.saved_data_path().empty());  // a part is no saved table

    key(13);
    for (int r : {2, 3, 4}) EXPECT_EQ(flags(r), "NNNN") << r;
    key('7');  // other keys: nothing
    EXPECT_EQ(modified, 3);

    grid.double_click(centre(kColHr, 5));
    EXPECT_EQ(flags(5)[0], 'N');
    click(kColUse, 6);
    EXPECT_EQ(flags(6)[0], 'N');
}

TEST_F(GridWndTest, PaintShowsCornerHeadingsRowNumbersAndCheckBoxes) {
    ASSERT_TRUE(grid.load_day_list(two_day_list()));
    fw::RecordingDrawContext dc{{2400, 400}, {96, 96}};
    const GridComponents& parts = grid.components();
    grid.corner_button().paint(dc, {0, 0, parts.corner.width(), parts.corner.height()});
    grid.top_heading().paint(dc, {0, 0, parts.top.width(), parts.top.height()});
    grid.side_heading().paint(dc, {0, 0, parts.side.width(), parts.side.height()});
    fw::RecordingDrawContext cells{{2400, 400}, {96, 96}};
    grid.queue_all();
    grid.paint_cells(cells, true);
    const std::string painted = dc.joined() + cells.joined();
    for (const char* text : {"\"#\"", "\"1\"", "\"7\"", "\" Use? \"", "\" Day \"", "\" Time \"", "\" HR \"",
                             "\" STBase1 \"", "\" Ch1 \"", "\" Ch3 \"", "\"10:00:00\""})
        EXPECT_NE(painted.find(text), std::string::npos) << text;
    // A ticked box in each check column of row 0 (use and Ch1 on) and empty boxes elsewhere.
    std::vector<int> ticks;
    for (const std::string& line : cells.commands()) {
        int x[3], y[3];
        if (std::sscanf(line.c_str(), "polyline (%d,%d)(%d,%d)(%d,%d)", &x[0], &y[0], &x[1], &y[1], &x[2], &y[2]) != 6)
            continue;
        if (*std::max_element(x, x + 3) - *std::min_element(x, x + 3) > 14) continue;  // a box is 12 wide
        std::int32_t col = -1, row = -1;
        if (grid.get_cell_from_point(x[0], y[0], col, row) == GRID_OK) ticks.push_back(col);
    }
    for (int col : {0, 9, 15, 21}) EXPECT_NE(std::find(ticks.begin(), ticks.end(), col), ticks.end()) << col;
    for (int col : {1, 2, 3, 4}) EXPECT_EQ(std::find(ticks.begin(), ticks.end(), col), ticks.end()) << col;
}

}  // namespace
}  // namespace tv
