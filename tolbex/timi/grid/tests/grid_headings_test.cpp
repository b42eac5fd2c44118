#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "tolbex/timi/grid/grid_corner.h"
#include "tolbex/timi/grid/grid_side_heading.h"
#include "tolbex/timi/grid/grid_top_heading.h"
#include "tolbex/timi/grid/tests/grid_test_support.h"

namespace tv {
namespace {

using gridtest::GridFixture;

bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A drag as the user makes it: hover, press, move, release.
template <class Part>
void drag(Part& part, fw::Pt from, fw::Pt to) {
    part.mouse_move(from, 0, false);
    part.left_down(from, 0);
    part.mouse_move(to, 0, true);
    part.left_up(to);
}

using Headings = GridFixture;

TEST_F(Headings, TopEdgesAreHitWithinTwoPixels) {
    struct Case {
        int sizing;
        fw::Pt p;
        GridCursor want;
    };
    const Case cases[] = {
        {1, {73, 5}, GridCursor::SizeWE}, {1, {77, 5}, GridCursor::SizeWE},  {1, {72, 5}, GridCursor::Arrow},
        {1, {78, 5}, GridCursor::Arrow},  {1, {10, 18}, GridCursor::SizeNS}, {1, {10, 17}, GridCursor::Arrow},
        {0, {75, 5}, GridCursor::Arrow},  {0, {10, 19}, GridCursor::Arrow},
    };
    for (const Case& c : cases) {
        grid.sheet().user_sizing = c.sizing;
        grid.top_heading().mouse_move(c.p, 0, false);
        EXPECT_EQ(grid.top_heading().cursor(), c.want) << c.sizing << " " << c.p.x << "," << c.p.y;
    }
}

// Refuses sizing column 1 and the heading rows.
struct RefusingGrid : gridtest::RecordingGrid {
    int can_size_col(std::int32_t col) override { return col != 1; }
    int can_size_heading() override { return 0; }
};

TEST(HeadingsRefused, ARefusedEdgeLeavesNoSizingBehind) {
    RefusingGrid grid;
    grid.set_num_cols(4);
    grid.set_num_rows(4);
    grid.layout(400, 236);
    GridTopHeading& top = grid.top_heading();
    top.mouse_move({75, 5}, 0, false);
    EXPECT_EQ(top.cursor(), GridCursor::SizeWE);
    for (fw::Pt p : {fw::Pt{150, 5}, fw::Pt{10, 19}}) {
        top.mouse_move(p, 0, false);
        EXPECT_EQ(top.cursor(), GridCursor::Arrow);
    }
    top.left_down({150, 5}, 0);
    top.mouse_move({200, 5}, 0, true);
    top.left_up({200, 5});
    EXPECT_EQ(grid.get_col_width(1), 75);
    EXPECT_EQ(grid.corner_button().cursor(), GridCursor::Arrow);
    grid.corner_button().mouse_move({10, 18}, 0, false);
    EXPECT_EQ(grid.corner_button().cursor(), GridCursor::Arrow);
}

TEST_F(Headings, SizingAColumnNeverGoesNegativeAndReportsTheEnd) {
    GridTopHeading& top = grid.top_heading();
    top.mouse_move({75, 5}, 0, false);
    top.left_down({75, 5}, 0);
    const auto repaints = grid.repaint_count(kSectionCells);
    top.mouse_move({100, 5}, 0, true);
    EXPECT_EQ(grid.get_col_width(0), 100);
    EXPECT_EQ(top.marker(), (fw::Rc{99, 0, 101, 200}));
    EXPECT_GT(grid.repaint_count(kSectionCells), repaints);
    top.mouse_move({-50, 5}, 0, true);
    EXPECT_EQ(grid.get_col_width(0), 0);
    top.left_up({-50, 5});
    EXPECT_EQ(grid.log.back(), "col sized 0=0");
    EXPECT_LT(top.marker().t, 0);
    EXPECT_FALSE(top.captured());
    // A point far beyond any screen stays a bounded width.
    top.mouse_move({0, 5}, 0, false);
    drag(top, {0, 5}, {INT32_MAX, 5});
    EXPECT_EQ(grid.get_col_width(0), 1 << 20);
}

TEST_F(Headings, AHiddenColumnIsPulledOpenFromTheEdgeBeforeIt) {
    grid.set_col_width(2, 0);
    drag(grid.top_heading(), {150, 5}, {170, 5});
    EXPECT_EQ(grid.get_col_width(1), 75);
    EXPECT_EQ(grid.get_col_width(2), 20);
}

TEST_F(Headings, HeadingRowSizingAndDoubleClickFit) {
    grid.set_num_heading_rows(2);
    grid.layout(400, 236);
    drag(grid.top_heading(), {10, 39}, {10, 49});
    EXPECT_EQ(grid.sheet().heading_heights, (std::vector<std::int32_t>{30, 20}));
    EXPECT_EQ(grid.components().cells.t, 50);
    EXPECT_EQ(grid.log.back(), "heading 50");
    // A double click on a heading-row edge sizes nothing.
    fw::RecordingDrawContext measure;
    grid.set_measure(&measure);
    grid.sheet().best_fit_on_dclick = true;
    grid.top_heading().mouse_move({10, 49}, 0, false);
    grid.top_heading().double_click({10, 49});
    EXPECT_EQ(grid.sheet().heading_height, 50);
    EXPECT_EQ(grid.get_col_width(0), 75);
}

TEST_F(Headings, DoubleClickOnAColumnEdgeFitsOverTwentyRowsFromTheHeading) {
    fw::RecordingDrawContext measure;
    grid.set_measure(&measure);
    grid.sheet().best_fit_on_dclick = true;
    // The heading row and rows 0 to 18 are measured; row 19 is not.
    struct Case {
        std::int32_t row;
        bool wider;
    };
    for (const Case c : {Case{19, false}, Case{18, true}}) {
        grid.set_col_width(0, 75);
        grid.set_cell_text(0, c.row, "a text much wider than any short one");
        grid.top_heading().mouse_move({75, 5}, 0, false);
        grid.top_heading().double_click({75, 5});
        grid.set_cell_text(0, c.row, "0");
        const std::int32_t w = grid.get_col_width(0);
        EXPECT_EQ(w > 100, c.wider) << c.row << " " << w;
        EXPECT_EQ(grid.log.back(), "col sized 0=" + std::to_string(w));
    }
}

std::vector<std::string> row0(GridCtrl& g) {
    std::vector<std::string> out;
    for (std::int32_t c = 0; c < g.get_num_cols(); ++c) out.push_back(g.get_cell_text(c, 0));
    return out;
}

TEST_F(Headings, DraggingAColumnHeadingMovesTheColumn) {
    grid.sheet().col_dragging = true;
    GridTopHeading& top = grid.top_heading();
    // A click without a drag moves nothing.
    top.left_down({100, 5}, 0);
    top.left_up({100, 5});
    EXPECT_EQ(row0(grid)[1], "1,0");
    EXPECT_EQ(grid.log, (std::vector<std::string>{"top down 1,-1", "top up 1,-1"}));
    // Onto the right half of column 3: behind it, the dragged heading drawn selected meanwhile.
    top.left_down({100, 5}, 0);
    top.mouse_move({280, 5}, 0, true);
    EXPECT_EQ(top.drop_position(), 4);
    EXPECT_EQ(top.marker(), (fw::Rc{300, 0, 302, 200}));
    fw::RecordingDrawContext dc;
    top.paint(dc, {0, 0, 344, 20});
    EXPECT_TRUE(has(dc.commands(), "fillrect (76,1,149,19) #0078d7"));
    top.left_up({280, 5});
    EXPECT_EQ(row0(grid), (std::vector<std::string>{"0,0", "2,0", "3,0", "1,0", "4,0", "5,0", "6,0", "7,0"}));
    EXPECT_EQ(grid.log.back(), "dropped 1->3");
    EXPECT_EQ(top.dragged_col(), -1);
    // Onto the right half of the last column: it becomes the last.
    grid.set_left_col(4);
    top.left_down({10, 5}, 0);
    top.mouse_move({290, 5}, 0, true);
    EXPECT_EQ(top.drop_position(), 8);
    top.left_up({290, 5});
    EXPECT_EQ(row0(grid), (std::vector<std::string>{"0,0", "2,0", "3,0", "1,0", "5,0", "6,0", "7,0", "4,0"}));
    EXPECT_EQ(grid.log.back(), "dropped 4->7");
}

TEST_F(Headings, AHeadingHeldPastTheEdgeScrollsOnTimerTicks) {
    grid.sheet().col_dragging = true;
    GridTopHeading& top = grid.top_heading();
    top.left_down({100, 5}, 0);
    top.mouse_move({400, 5}, 0, true);
    EXPECT_EQ(grid.get_left_col(), 1);
    EXPECT_EQ(top.scroll_period(), 200);
    EXPECT_LT(top.marker().t, 0);
    int ticks = 0;
    while (top.drag_step() == 200) ++ticks;
    EXPECT_EQ(grid.get_left_col(), grid.sheet().max_left_col);
    EXPECT_EQ(ticks, grid.sheet().max_left_col - 1);
    top.mouse_move({100, 5}, 0, true);
    EXPECT_EQ(top.scroll_period(), 0);
    grid.set_left_col(0);
    EXPECT_EQ(top.drag_step(), 0);
    EXPECT_EQ(grid.get_left_col(), 0);
    top.left_up({100, 5});
}

TEST_F(Headings, TopPaintDrawsHeadingsAndTheBlankStrip) {
    grid.set_num_cols(3);
    for (std::int32_t c = 0; c < 3; ++c) grid.set_cell_text(c, -1, "H" + std::to_string(c));
    fw::RecordingDrawContext dc;
    grid.top_heading().paint(dc, {0, 0, 344, 20});
    for (const char* t : {"H0", "H1", "H2"}) {
        EXPECT_EQ(std::count_if(dc.commands().begin(), dc.commands().end(),
                                [&](const std::string& l) {
                                    return l.find(std::string("\"") + t + "\"") != std::string::npos;
                                }),
                  1)
            << t;
    }
    EXPECT_EQ(dc.commands().back(), "fillrect (225,0,344,20) #f0f0f0");
}

TEST_F(Headings, SideLinesAreHitWithinTwoPixels) {
    struct Case {
        int sizing;
        fw::Pt p;
        GridCursor want;
    };
    const Case cases[] = {
        {1, {38, 10}, GridCursor::SizeWE}, {1, {37, 10}, GridCursor::Arrow}, {1, {10, 22}, GridCursor::SizeNS},
        {1, {10, 23}, GridCursor::Arrow},  {0, {38, 10}, GridCursor::Arrow}, {0, {10, 21}, GridCursor::Arrow},
    };
    for (const Case& c : cases) {
        grid.sheet().user_sizing = c.sizing;
        grid.side_heading().mouse_move(c.p, 0, false);
        EXPECT_EQ(grid.side_heading().cursor(), c.want) << c.sizing << " " << c.p.x << "," << c.p.y;
    }
}

TEST_F(Headings, ARowSizedToZeroStaysAndIsPulledOpenFromTheRowAbove) {
    GridSideHeading& side = grid.side_heading();
    drag(side, {10, 40}, {10, 10});
    EXPECT_EQ(grid.get_row_height(1), 0);
    EXPECT_EQ(grid.get_num_rows(), 100);
    EXPECT_EQ(grid.log.back(), "row sized 1=0");
    drag(side, {10, 20}, {10, 35});
    EXPECT_EQ(grid.get_row_height(0), 20);
    EXPECT_EQ(grid.get_row_height(1), 15);
    // Uniform heights: the height is the pointer's y shared by the rows above it.
    grid.set_uniform_row_height(true);
    drag(side, {10, 60}, {10, 90});
    EXPECT_EQ(grid.get_row_height(2), 30);
}

TEST_F(Headings, SideColumnsSizeAndTheOutermostTakesTheRest) {
    drag(grid.side_heading(), {40, 10}, {60, 10});
    EXPECT_EQ(grid.sheet().side_width, 60);
    EXPECT_EQ(grid.components().cells.l, 60);
    EXPECT_EQ(grid.log.back(), "side 60");
    grid.sheet().side_widths = {25, 25};
    grid.sheet().side_width = 70;
    grid.side_heading().update();
    EXPECT_EQ(grid.sheet().side_widths, (std::vector<std::int32_t>{25, 45}));
}

TEST_F(Headings, SideClicksAndPaint) {
    grid.set_num_rows(5);
    for (std::int32_t r = 0; r < 5; ++r) grid.set_cell_text(-1, r, "R" + std::to_string(r));
    grid.side_heading().left_down({10, 30}, 0);
    grid.side_heading().left_up({10, 30});
    EXPECT_EQ(grid.log, (std::vector<std::string>{"side down -1,1", "side up -1,1"}));
    fw::RecordingDrawContext dc;
    grid.side_heading().paint(dc, {0, 0, 40, 200});
    EXPECT_TRUE(has(dc.commands(), "text (14,64) \"R3\""));
    EXPECT_EQ(dc.commands().back(), "fillrect (0,100,40,200) #f0f0f0");
}

TEST_F(Headings, CornerEdgesAndSizing) {
    GridCornerButton& corner = grid.corner_button();
    struct Case {
        int sizing;
        fw::Pt p;
        GridCursor want;
    };
    const Case cases[] = {{1, {37, 5}, GridCursor::SizeWE},  {1, {36, 5}, GridCursor::Arrow},
                          {1, {10, 17}, GridCursor::SizeNS}, {1, {38, 18}, GridCursor::SizeWE},
                          {0, {38, 18}, GridCursor::Arrow},  {0, {10, 18}, GridCursor::Arrow}};
    for (const Case& c : cases) {
        grid.sheet().user_sizing = c.sizing;
        corner.mouse_move(c.p, 0, false);
        EXPECT_EQ(corner.cursor(), c.want) << c.sizing << " " << c.p.x << "," << c.p.y;
    }
    grid.sheet().user_sizing = 1;
    drag(corner, {10, 18}, {10, -10});
    EXPECT_EQ(grid.sheet().heading_height, 0);
    EXPECT_EQ(grid.components().cells.t, 0);
    EXPECT_EQ(grid.log, (std::vector<std::string>{"corner down 1", "heading 0", "corner up 1"}));
    grid.set_heading_height(20);
    grid.log.clear();
    drag(corner, {38, 5}, {70, 5});
    EXPECT_EQ(grid.sheet().side_width, 70);
    EXPECT_EQ(grid.components().cells.l, 70);
    corner.mouse_move({10, 5}, 0, false);
    corner.left_down({10, 5}, 0);
    corner.left_up({10, 5});
    EXPECT_EQ(grid.log,
              (std::vector<std::string>{"corner down 1", "side 70", "corner up 1", "corner down 0", "corner up 0"}));
}

TEST_F(Headings, EditorsOpenOverHeadingCells) {
    grid.set_num_heading_rows(2);
    grid.layout(400, 256);
    struct Case {
        std::int32_t col, row;
        int section;
        fw::Rc rect;
    };
    const Case cases[] = {{2, -1, kSectionTop, {150, 20, 225, 40}},
                          {0, -2, kSectionTop, {0, 0, 75, 20}},
                          {-1, 3, kSectionSide, {0, 60, 40, 80}}};
    for (const Case& c : cases) {
        ASSERT_EQ(grid.start_edit(c.col, c.row), GRID_OK);
        EXPECT_EQ(editor.section, c.section);
        EXPECT_EQ(editor.rect, c.rect) << c.col << "," << c.row;
        grid.finish_edit(editor.text(), true, false, 0, 0);
    }
    // A column scrolled out of view has no place in the heading.
    grid.set_left_col(3);
    fw::Rc rect{};
    ASSERT_EQ(grid.top_heading().cell_rect(1, -1, rect), GRID_OK);
    EXPECT_EQ(rect.width(), 0);
}

TEST_F(Headings, CornerPaintsItsCell) {
    grid.set_cell_text(-1, -1, "#");
    fw::RecordingDrawContext dc;
    grid.corner_button().paint(dc, {0, 0, 40, 20});
    EXPECT_TRUE(has(dc.commands(), "fillrect (1,1,39,19) #f0f0f0"));
    EXPECT_TRUE(has(dc.commands(), "text (17,4) \"#\""));
    grid.side_heading().paint(dc, {0, 0, 40, 200});
    grid.top_heading().paint(dc, {0, 0, 344, 20});
    EXPECT_EQ(grid.log, (std::vector<std::string>{"paint 2", "paint 3", "paint 2"}));
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// A heading block two columns wide in the upper of two heading rows, and a side block two rows
// high: each is one cell drawn once over its whole block, and its rectangle is the block's.
TEST_F(Headings, JoinedHeadingCellsAreDrawnOnceOverTheirBlock) {
    ASSERT_EQ(grid.set_num_heading_rows(2), GRID_OK);
    grid.layout(400, 236);
    GridCell cell;
    cell.set_text("Both");
    cell.set_join(1, 0, 1);
    grid.set_cell(0, -2, cell);
    GridCell rest;
    rest.set_join(0, 0, -1);
    grid.set_cell(1, -2, rest);
    cell.set_text("Pair");
    cell.set_join(1, 1, 0);
    grid.set_cell(-1, 0, cell);
    rest.set_join(0, -1, 0);
    grid.set_cell(-1, 1, rest);

    struct Case {
        bool top;
        std::int32_t col, row;
        fw::Rc want;
    };
    const Case cases[] = {{true, 0, -2, {0, 0, 150, 20}},   {true, 1, -2, {0, 0, 150, 20}},
                          {true, 1, -1, {75, 20, 150, 40}}, {false, -1, 0, {0, 0, 40, 40}},
                          {false, -1, 1, {0, 0, 40, 40}},   {false, -1, 2, {0, 40, 40, 60}}};
    for (const Case& c : cases) {
        fw::Rc r{};
        ASSERT_EQ(c.top ? grid.top_heading().cell_rect(c.col, c.row, r)
                        : grid.side_heading().cell_rect(c.col, c.row, r),
                  GRID_OK);
        EXPECT_EQ(r, c.want) << c.col << "," << c.row;
    }

    fw::RecordingDrawContext top;
    grid.top_heading().paint(top, {0, 0, 344, 40});
    const std::vector<std::string> t = top.commands();
    EXPECT_TRUE(has(t, "polyline (149,1)(149,19)(0,19)")) << "the block's raised edge";
    EXPECT_FALSE(has(t, "polyline (74,1)(74,19)(0,19)")) << "no edge inside the block";
    EXPECT_TRUE(has(t, "polyline (74,21)(74,39)(0,39)")) << "the row below keeps its own cells";
    EXPECT_EQ(std::count_if(t.begin(), t.end(), [](const std::string& l) { return l.find("\"Both\"") != l.npos; }), 1);

    fw::RecordingDrawContext side;
    grid.side_heading().paint(side, {0, 0, 40, 200});
    const std::vector<std::string> s = side.commands();
    EXPECT_TRUE(has(s, "polyline (39,1)(39,39)(0,39)")) << "the block's raised edge";
    EXPECT_FALSE(has(s, "polyline (39,1)(39,19)(0,19)")) << "no edge inside the block";
    EXPECT_EQ(std::count_if(s.begin(), s.end(), [](const std::string& l) { return l.find("\"Pair\"") != l.npos; }), 1);
}

// A source whose join offsets lead out of the headings: the cells are drawn on their own.
TEST(HeadingsHostile, JoinsThatLeaveTheHeadingsJoinNothing) {
    struct Source : GridDataSource {
        int get_cell(std::int32_t col, std::int32_t row, GridCell& cell) override {
            if (row == -1 && col == 0) cell.set_join(0, -30, 0);  // back to a row above the headings
            if (row == -31) cell.set_join(1, 30, 0);              // which claims the block
            if (col == -1 && row == 2) cell.set_join(0, 0, -9);   // left of the side columns
            if (col == -10) cell.set_join(1, 0, 9);
            return 0;
        }
    } source;
    GridCtrl grid;
    grid.set_default_data_source(grid.add_data_source(&source));
    grid.set_num_cols(4);
    grid.set_num_rows(10);
    grid.layout(400, 236);
    fw::Rc r{};
    ASSERT_EQ(grid.top_heading().cell_rect(0, -1, r), GRID_OK);
    EXPECT_EQ(r, (fw::Rc{0, 0, 75, 20}));
    ASSERT_EQ(grid.side_heading().cell_rect(-1, 2, r), GRID_OK);
    EXPECT_EQ(r, (fw::Rc{0, 40, 40, 60}));
    fw::RecordingDrawContext dc;
    grid.top_heading().paint(dc, {0, 0, 344, 20});
    grid.side_heading().paint(dc, {0, 0, 40, 200});
    EXPECT_TRUE(has(dc.commands(), "polyline (74,1)(74,19)(0,19)"));
    EXPECT_TRUE(has(dc.commands(), "polyline (39,41)(39,59)(0,59)"));
}

// Help asked for over each part names the cell under the point, or the current cell for the
// scroll bars and the tab bar.
struct HelpGrid : gridtest::RecordingGrid {
    int on_help(std::int32_t col, std::int32_t row, int section) override {
        log.push_back(std::to_string(col) + "," + std::to_string(row) + " " + std::to_string(section));
        return 42;
    }
};

TEST(GridHelp, EachPartNamesItsCell) {
    HelpGrid grid;
    grid.set_num_cols(8);
    grid.set_num_rows(100);
    grid.layout(400, 236);
    grid.goto_cell(2, 3);
    struct Case {
        int section;
        fw::Pt p;
        const char* want;
    };
    const Case cases[] = {{kSectionCells, {80, 25}, "1,1 1"}, {kSectionCells, {390, 5}, "-1,-1 1"},
                          {kSectionTop, {80, 5}, "1,-1 2"},   {kSectionSide, {5, 45}, "-1,2 3"},
                          {kSectionCorner, {5, 5}, "0,0 4"},  {kSectionHScroll, {3, 3}, "2,3 5"},
                          {kSectionVScroll, {3, 3}, "2,3 6"}, {kSectionTabs, {3, 3}, "2,3 7"}};
    for (const Case& c : cases) {
        grid.log.clear();
        EXPECT_EQ(grid.help_at(c.section, c.p), 42);
        EXPECT_EQ(grid.log, std::vector<std::string>{c.want}) << c.section;
    }
}

}  // namespace
}  // namespace tv
