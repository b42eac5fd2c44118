#include <gtest/gtest.h>

#include "tolbex/timi/grid/tests/grid_test_support.h"

namespace tv {
namespace {

using gridtest::GridFixture;
using gridtest::RecordingGrid;

TEST(GridCtrl, NewControlRegistersFourTypesAndStartsWithSheetDefaults) {
    GridCtrl grid;
    EXPECT_EQ(grid.cell_types().get_count(), 4);
    EXPECT_EQ(grid.get_cell_type(1)->get_name(), "DropList");
    EXPECT_EQ(grid.get_cell_type(3)->get_id(), "{F5C12593-D930-11D5-9B36-0050BAD44BCD}");
    EXPECT_EQ(grid.get_cell_type(99)->get_name(), "Normal Cell Type (default)");
    const GridSettings& s = grid.sheet();
    EXPECT_EQ(s.default_col_width, 75);
    EXPECT_EQ(s.default_row_height, 20);
    EXPECT_EQ(s.heading_height, 20);
    EXPECT_EQ(s.side_width, 40);
    EXPECT_EQ(s.text_margin, 4);
    EXPECT_EQ(s.grid_pen.colour, 0xDCDCDCu);
    EXPECT_EQ(s.drag_delay_ms, 200);
    EXPECT_EQ(s.current_col, -1);
    EXPECT_EQ(s.heading_default.get_alignment(), 0x24);
}

TEST(GridCtrl, LayoutOfTheSevenParts) {
    GridCtrl grid;
    grid.set_num_cols(3);
    grid.set_num_rows(5);
    grid.layout(400, 300);  // everything fits: no scroll bars
    const GridComponents& p = grid.components();
    EXPECT_EQ(p.cells, (fw::Rc{40, 20, 400, 300}));
    EXPECT_FALSE(p.vscroll_shown);
    EXPECT_FALSE(p.hscroll_shown);
    grid.set_num_rows(100);
    grid.set_num_cols(8);
    grid.layout(400, 236);
    EXPECT_EQ(p.cells, (fw::Rc{40, 20, 384, 220}));
    EXPECT_EQ(p.top, (fw::Rc{40, 0, 384, 20}));
    EXPECT_EQ(p.side, (fw::Rc{0, 20, 40, 220}));
    EXPECT_EQ(p.corner, (fw::Rc{0, 0, 40, 20}));
    EXPECT_EQ(p.vscroll, (fw::Rc{384, 0, 400, 220}));
    EXPECT_EQ(p.hscroll, (fw::Rc{0, 220, 384, 236}));
    EXPECT_EQ(grid.sheet().max_top_row, 90);
    EXPECT_EQ(grid.sheet().max_left_col, 4);  // columns 4..7 are 300 of 344 pixels
}

TEST(GridCtrl, CountsAndSizesAreBounded) {
    GridCtrl grid;
    EXPECT_EQ(grid.set_num_cols(32001), GRID_BAD_INDEX);
    EXPECT_EQ(grid.get_num_cols(), 0);
    EXPECT_EQ(grid.set_num_rows(-1), GRID_BAD_INDEX);
    grid.set_num_cols(2);
    grid.set_col_width(1, 30);
    grid.set_num_cols(4);
    EXPECT_EQ(grid.get_col_width(1), 30);
    EXPECT_EQ(grid.get_col_width(3), 75);
    EXPECT_EQ(grid.get_col_data_column(3), 3);
    EXPECT_EQ(grid.get_current_col(), 0);
    EXPECT_EQ(grid.set_col_width(1, -5), GRID_BAD_VALUE);  // a negative width would break hit-testing
    EXPECT_EQ(grid.get_col_width(1), 30);
    EXPECT_EQ(grid.set_col_width(4, 10), GRID_BAD_INDEX);

    grid.set_uniform_row_height(false);
    grid.set_num_rows(10);
    grid.set_row_height(3, 7);
    EXPECT_EQ(grid.get_row_height(3), 7);
    grid.set_num_rows(64001);
    EXPECT_TRUE(grid.sheet().uniform_row_height);
    EXPECT_EQ(grid.get_row_height(3), 20);

    EXPECT_EQ(grid.set_heading_height(1025), GRID_BAD_INDEX);
    EXPECT_EQ(grid.set_num_sheets(0), GRID_BAD_INDEX);
    EXPECT_EQ(grid.set_num_sheets(1025), GRID_BAD_INDEX);
    EXPECT_EQ(grid.set_locked_cols(5), GRID_BAD_INDEX);
}

TEST(GridCtrl, HeadingSizesRescaleRoundingHalfUp) {
    struct Case {
        std::vector<std::int32_t> widths;
        std::int32_t total;
        std::vector<std::int32_t> expected;
    };
    const Case cases[] = {
        {{25, 25}, 50, {25, 25}},
        {{10, 30}, 50, {13, 38}},
        {{0, 0}, 51, {26, 25}},  // no old sum to scale by: shared out
    };
    for (const Case& c : cases) {
        GridCtrl grid;
        grid.sheet().side_widths = c.widths;  // a sheet with that many side columns
        EXPECT_EQ(grid.set_side_heading_width(c.total), GRID_OK);
        EXPECT_EQ(grid.sheet().side_widths, c.expected);
    }
}

// Counts how often the source is asked.
class CountingSource : public GridMemDataSource {
public:
    int get_cell(std::int32_t col, std::int32_t row, GridCell& cell) override {
        ++asked;
        return GridMemDataSource::get_cell(col, row, cell);
    }
    int asked = 0;
};

TEST(GridCtrl, FetchLayersDefaultsSourceHookAndStyle) {
    struct Grid : GridCtrl {
        void on_get_cell(std::int32_t, std::int32_t row, GridCell& cell) override {
            if (row == 1) cell.set_alignment(2);
        }
    } grid;
    CountingSource source;
    grid.set_num_cols(2);
    grid.set_num_rows(2);
    grid.set_default_data_source(grid.add_data_source(&source));
    GridCell def;
    def.set_back_colour(0x123456);
    grid.set_column_default(0, def);
    grid.set_cell_text(0, 1, "x");
    GridCell cell;
    grid.get_cell(0, 1, cell);
    EXPECT_EQ(cell.get_text(), "x");
    EXPECT_EQ(cell.get_back_colour(), 0x123456u);
    EXPECT_EQ(cell.get_alignment(), 2);
    const int asked = source.asked;
    grid.get_cell(0, 2, cell);  // at the row count: defaults only
    EXPECT_EQ(source.asked, asked);
    EXPECT_EQ(cell.get_back_colour(), 0x123456u);
    EXPECT_EQ(grid.set_cell(2, 0, cell), GRID_BAD_INDEX);
    EXPECT_EQ(grid.set_cell(0, 2, cell), GRID_BAD_INDEX);
    EXPECT_EQ(grid.set_default_data_source(7), GRID_BAD_INDEX);
}

TEST(GridCtrl, CompareCellsAndMoveColumn) {
    GridCtrl grid;
    GridCell a, b, n1, n2;
    a.set_text("abc");
    b.set_text("abd");
    for (auto [cell, text] : {std::pair{&n1, "10"}, std::pair{&n2, "9"}}) {
        cell->set_text(text);
        cell->set_data_type(kCellDataNumber);
    }
    EXPECT_EQ(grid.compare_cells(&a, &b, 0), -1);
    EXPECT_EQ(grid.compare_cells(&a, &b, 2), 1);    // descending
    EXPECT_EQ(grid.compare_cells(&n1, &n2, 0), 1);  // numbers, not texts
    EXPECT_EQ(grid.compare_cells(nullptr, &a, 0), 1);
    EXPECT_EQ(grid.compare_cells(nullptr, nullptr, 0), 0);
    GridCell empty;
    EXPECT_EQ(grid.compare_cells(&empty, &a, 0), 1);

    grid.set_num_cols(4);
    grid.set_col_width(0, 11);
    EXPECT_EQ(grid.move_column(0, 2, false), GRID_OK);  // behind column 2
    EXPECT_EQ(grid.get_col_width(2), 11);
    EXPECT_EQ(grid.get_col_data_column(2), 0);
    EXPECT_EQ(grid.move_column(0, 4, true), GRID_BAD_INDEX);
}

TEST_F(GridFixture, KeysMoveTheCursorAndScrollTheView) {
    struct Case {
        const char* what;
        std::vector<int> keys;
        bool control;
        std::pair<int, int> cursor;
        std::int32_t top, left;
    };
    const Case cases[] = {
        {"down twelve", std::vector<int>(12, kKeyDown), false, {0, 12}, 3, 0},
        {"right five", std::vector<int>(5, kKeyRight), false, {5, 0}, 0, 2},
        {"page down", {kKeyPageDown}, false, {0, 10}, 1, 0},
        {"page down, up", {kKeyPageDown, kKeyPageUp}, false, {0, 0}, 0, 0},
        {"end", {kKeyEnd}, false, {7, 0}, 0, 4},
        {"ctrl end", {kKeyEnd}, true, {0, 99}, 90, 0},
        {"up at the top", {kKeyUp, kKeyLeft}, false, {0, 0}, 0, 0},
        {"other keys", {65, 13}, false, {0, 0}, 0, 0},
    };
    for (const Case& c : cases) {
        SetUp();
        grid.goto_cell(0, 0);
        grid.set_top_row(0);
        grid.set_left_col(0);
        grid.set_modifiers(false, c.control);
        for (int k : c.keys) {
            grid.key_down(k);
            grid.key_up(k);
        }
        grid.set_modifiers(false, false);
        EXPECT_EQ(cursor(), c.cursor) << c.what;
        EXPECT_EQ(grid.get_top_row(), c.top) << c.what;
        EXPECT_EQ(grid.get_left_col(), c.left) << c.what;
    }
    // Home and Ctrl+Home.
    grid.goto_cell(5, 50);
    keys({kKeyHome});
    EXPECT_EQ(cursor(), std::make_pair(0, 50));
    grid.set_modifiers(false, true);
    keys({kKeyHome});
    EXPECT_EQ(cursor(), std::make_pair(0, 0));
}

TEST_F(GridFixture, HeldKeyAcceleratesAfterThePauseWithoutSleeping) {
    grid.goto_cell(0, 0);
    grid.sheet().key_accel_divisor = 10;
    grid.sheet().key_initial_delay_ms = 500;
    grid.key_down(kKeyDown);  // moves, and starts the pause
    EXPECT_EQ(grid.get_current_row(), 1);
    clock.now += 100;
    grid.key_down(kKeyDown);  // inside the pause: no move
    EXPECT_EQ(grid.get_current_row(), 1);
    clock.now += 500;
    for (int i = 0; i < 8; ++i) grid.key_down(kKeyDown);  // repeats 2..9: one row each
    EXPECT_EQ(grid.get_current_row(), 9);
    for (int i = 0; i < 10; ++i) grid.key_down(kKeyDown);  // repeats 10..19: two rows each
    EXPECT_EQ(grid.get_current_row(), 29);
    grid.key_down(kKeyDown);  // repeat 20: nine rows
    EXPECT_EQ(grid.get_current_row(), 38);
    grid.key_up(kKeyDown);
    grid.key_down(kKeyDown);
    EXPECT_EQ(grid.get_current_row(), 39);
}

TEST_F(GridFixture, WheelScrollsThreeRowsANotchWithinTheRange) {
    const std::pair<int, std::int32_t> cases[] = {{60, 0}, {-240, 6}, {-120, 9}, {360, 0}, {-12000, 90}};
    for (const auto& [delta, top] : cases) {
        grid.wheel(delta);
        EXPECT_EQ(grid.get_top_row(), top) << delta;
    }
    EXPECT_EQ(cursor(), std::make_pair(0, 0));  // the wheel moves the view only
}

TEST_F(GridFixture, MovesNotifyAndRefusalsChangeNothing) {
    grid.log.clear();
    grid.refuse_col = 2;
    grid.refuse_row = 3;
    EXPECT_EQ(grid.goto_cell(2, 3), GRID_BAD_VALUE);
    EXPECT_EQ(cursor(), std::make_pair(0, 0));
    EXPECT_EQ(grid.goto_cell(1, 30), GRID_OK);
    EXPECT_EQ(grid.log, (std::vector<std::string>{"cell 0,0->1,30", "top 0->21"}));
    EXPECT_EQ(grid.goto_cell(8, 0), GRID_BAD_INDEX);
    EXPECT_EQ(grid.goto_row(99), GRID_OK);
    EXPECT_EQ(grid.goto_row(100), GRID_BAD_INDEX);  // already the last row
    grid.goto_row(50);
    EXPECT_EQ(grid.goto_row(500), GRID_OK);  // clamped to the last row
    EXPECT_EQ(grid.get_current_row(), 99);
    EXPECT_EQ(grid.move_current_row(6), GRID_OK);
    EXPECT_EQ(grid.get_current_row(), 99);
    EXPECT_EQ(grid.set_top_row(-5), GRID_OK);
    EXPECT_EQ(grid.get_top_row(), 0);
}

TEST_F(GridFixture, MovesQueueTheOldAndNewCurrentCell) {
    grid.redraw_list().clear();
    const auto before = grid.repaint_count(kSectionCells);
    grid.goto_cell(1, 1);
    EXPECT_EQ(grid.redraw_list().contains(0, 0), 1);
    EXPECT_EQ(grid.redraw_list().contains(1, 1), 1);
    EXPECT_EQ(grid.redraw_list().contains(1, 0), 0);
    EXPECT_GT(grid.repaint_count(kSectionCells), before);
}

TEST_F(GridFixture, ClicksAndDragsSelectBlocks) {
    grid.set_multi_select(true);
    // Cell (1,2) is at x 75..150, y 40..60 of the cell area.
    grid.left_down({80, 45}, 0);
    grid.left_up({80, 45});
    grid.left_down({230, 105}, kGridMouseShift);  // (3,5)
    grid.left_up({230, 105});
    EXPECT_EQ(cursor(), std::make_pair(1, 2));  // the anchor stays current
    std::vector<std::pair<int, int>> cells;
    std::int32_t c, r;
    for (int rc = grid.get_first_selected(c, r); rc == 0; rc = grid.get_next_selected(c, r)) cells.emplace_back(c, r);
    EXPECT_EQ(cells.size(), 12u);
    EXPECT_EQ(cells.front(), std::make_pair(1, 2));
    EXPECT_EQ(cells.back(), std::make_pair(3, 5));

    // A drag from (0,0) to (2,1) with the button held.
    grid.left_down({5, 5}, 0);
    grid.mouse_move({160, 25}, 1, true);
    grid.left_up({160, 25});
    EXPECT_EQ(grid.sheet().selection.is_selected(2, 1), 1);
    EXPECT_EQ(grid.sheet().selection.is_selected(3, 5), 0);

    // While an edit is open a click changes nothing.
    grid.start_edit(0, 0);
    grid.left_down({230, 105}, 0);
    EXPECT_EQ(cursor(), std::make_pair(0, 0));
}

TEST_F(GridFixture, DragAutoScrollStepsByTheExponentOnTimerTicks) {
    grid.set_num_cols(40);
    grid.goto_cell(30, 0);
    grid.sheet().drag_exponent = 2;
    const std::int32_t col = grid.get_current_col();
    EXPECT_EQ(grid.drag_step({-150, 10}), 200);  // (1 + 150 / 75)^2 = 9 columns; next tick after the delay
    EXPECT_EQ(grid.get_current_col(), col - 9);
    grid.sheet().drag_exponent = 0;
    EXPECT_EQ(grid.drag_step({-1, 10}), 200);  // one column a tick
    EXPECT_EQ(grid.get_current_col(), col - 10);
    grid.sheet().drag_exponent = 1;
    grid.sheet().default_col_width = 0;  // never divides by zero
    EXPECT_EQ(grid.drag_step({-10, 10}), 200);
    EXPECT_EQ(grid.get_current_col(), col - 21);
    EXPECT_EQ(grid.drag_step({80, 45}), 0);  // inside the area: the timer stops
    EXPECT_EQ(cursor(), std::make_pair(grid.get_left_col() + 1, 2));
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// A block of three columns and two rows with its first cell at (1,2).
void join_block(GridCtrl& grid) {
    for (std::int32_t r = 2; r <= 3; ++r)
        for (std::int32_t c = 1; c <= 3; ++c) {
            GridCell cell;
            cell.set_text(c == 1 && r == 2 ? "joined" : "");
            if (c == 1 && r == 2)
                cell.set_join(1, 1, 2);
            else
                cell.set_join(0, 2 - r, 1 - c);
            grid.set_cell(c, r, cell);
        }
}

// Join offsets are the source's: extreme ones end at the grid's edge or join nothing.
TEST_F(GridFixture, HostileJoinOffsetsStayInsideTheGrid) {
    GridCell first, rest;
    first.set_join(1, INT32_MAX, INT32_MAX);
    rest.set_join(0, INT32_MAX, INT32_MAX);
    grid.set_cell(1, 1, first);
    grid.set_cell(2, 2, rest);
    std::int32_t c = 1, r = 1, ec, er;
    ASSERT_EQ(grid.get_join_range(c, r, ec, er), GRID_OK);
    EXPECT_EQ((std::vector<int>{c, r, ec, er}),
              (std::vector<int>{1, 1, grid.get_num_cols() - 1, grid.get_num_rows() - 1}));
    c = 2;
    r = 2;
    EXPECT_EQ(grid.get_join_range(c, r, ec, er), 2);
    rest.set_join(0, INT32_MIN + 5, INT32_MIN + 5);  // far before the first column: no walk back there
    grid.set_cell(2, 2, rest);
    EXPECT_EQ(grid.get_join_range(c, r, ec, er), 2);
    fw::Rc rect{};
    EXPECT_EQ(grid.get_cell_rect(2, 2, rect), GRID_OK);
}

TEST_F(GridFixture, JoinedBlocksMoveDrawAndHitAsOne) {
    join_block(grid);
    std::int32_t c = 3, r = 3, ec, er;
    ASSERT_EQ(grid.get_join_range(c, r, ec, er), GRID_OK);
    EXPECT_EQ((std::vector<int>{c, r, ec, er}), (std::vector<int>{1, 2, 3, 3}));
    c = 0;
    r = 0;
    EXPECT_EQ(grid.get_join_start(c, r), 2);
    fw::Rc rect{};
    grid.get_cell_rect(2, 3, rect);
    EXPECT_EQ(rect, (fw::Rc{75, 40, 300, 80}));
    grid.get_cell_from_point(200, 70, c, r, &rect);
    EXPECT_EQ(std::make_pair(c, r), std::make_pair(1, 2));

    grid.goto_cell(3, 3);  // onto the block's first cell
    EXPECT_EQ(cursor(), std::make_pair(1, 2));
    keys({kKeyRight});  // past the block in one press
    EXPECT_EQ(cursor(), std::make_pair(4, 2));
    keys({kKeyLeft});  // back onto its first cell
    EXPECT_EQ(cursor(), std::make_pair(1, 2));
    keys({kKeyDown});
    EXPECT_EQ(cursor(), std::make_pair(1, 4));

    fw::RecordingDrawContext dc;
    grid.queue_all();
    grid.paint_cells(dc, false);
    int drawn = 0;
    for (const std::string& l : dc.commands()) drawn += l == "text (4,41) \"joined\"";  // column 1 is the left one now
    EXPECT_EQ(drawn, 1);                                                                // once for the six cells
    grid.sheet().joins_enabled = false;
    c = 2;
    r = 3;
    EXPECT_EQ(grid.get_join_start(c, r), 1);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST_F(GridFixture, TooltipArmsOnTheFirstHitAndShowsOnTheSecond) {
    std::string text;
    EXPECT_FALSE(grid.tool_hit_test({80, 45}, text));
    EXPECT_TRUE(grid.tool_hit_test({90, 50}, text));  // the same cell
    EXPECT_EQ(text, "Col:1 Row:2");
    EXPECT_FALSE(grid.tool_hit_test({5, 5}, text));  // another cell arms again
    EXPECT_FALSE(grid.tool_hit_test({-5, 5}, text));
}

TEST(GridCtrl, SetupMenusAndTypeMessages) {
    struct Grid : GridCtrl {
        void on_setup() override { log += "setup "; }
        void on_sheet_setup(std::int32_t s) override { log += "sheet" + std::to_string(s) + " "; }
        int on_menu_start(std::int32_t, std::int32_t row, int) override { return row != 9; }
        void on_menu_command(std::int32_t c, std::int32_t r, int section, int id) override {
            log += "cmd " + std::to_string(c) + "," + std::to_string(r) + "/" + std::to_string(section) + " " +
                   std::to_string(id) + " ";
        }
        std::string log;
    } grid;
    grid.created();
    grid.set_num_sheets(3);
    EXPECT_EQ(grid.log, "setup sheet0 sheet1 sheet2 ");
    grid.log.clear();
    EXPECT_EQ(grid.start_popup_menu(1, 2, {0, 0}, kSectionCells), GRID_BAD_INDEX);  // menus off
    grid.sheet().popup_menus = true;
    EXPECT_EQ(grid.start_popup_menu(1, 9, {0, 0}, kSectionCells), GRID_BAD_VALUE);
    EXPECT_EQ(grid.start_popup_menu(1, 2, {0, 0}, kSectionCells), GRID_OK);
    grid.menu_command(999);  // not a menu command
    grid.menu_command(1001);
    EXPECT_EQ(grid.log, "cmd 1,2/1 1001 ");
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST(GridCtrl, BestFitTakesTheWidestCellWithinTheLimit) {
    GridCtrl grid;
    grid.set_num_cols(3);
    grid.set_num_rows(3);
    grid.set_cell_text(0, 1, "twelve chars");  // 72 + 6 at the fixed metrics
    grid.set_cell_text(1, 2, std::string(80, 'w'));
    fw::RecordingDrawContext dc;
    EXPECT_EQ(grid.best_fit(-2, 1, 10, 0, dc), 1);
    EXPECT_EQ(grid.best_fit(0, 3, 10, 0, dc), 2);
    EXPECT_EQ(grid.best_fit(2, 1, 10, 0, dc), 3);
    ASSERT_EQ(grid.best_fit(0, 2, 10, 0, dc), GRID_OK);
    EXPECT_EQ(grid.get_col_width(0), 80);
    EXPECT_EQ(grid.get_col_width(1), 300);  // no window yet: 300 at most
    EXPECT_EQ(grid.get_col_width(2), 11);   // empty: 3 + 6, plus 2
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST_F(GridFixture, MovesBetweenTwoPaintsDoNotPileUpRanges) {
    for (int i = 0; i < 200; ++i) keys({kKeyPageDown, kKeyPageUp});
    EXPECT_LE(grid.redraw_list().ranges().size(), 3u);
    fw::RecordingDrawContext dc;
    grid.paint_cells(dc, true);
    EXPECT_TRUE(grid.redraw_list().empty());
}

}  // namespace
}  // namespace tv
