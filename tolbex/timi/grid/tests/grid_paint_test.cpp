#include <gtest/gtest.h>

#include <algorithm>

#include "tolbex/timi/grid/tests/grid_test_support.h"

namespace tv {
namespace {

using gridtest::GridFixture;
using gridtest::RecordingGrid;

std::vector<std::string> lines_with(const fw::RecordingDrawContext& dc, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : dc.commands())
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

// One cell drawn by its type into a fresh recording.
std::vector<std::string> draw_one(GridCtrl& grid, const GridCell& cell, fw::Rc rect, int selected = 0, int current = 0,
                                  std::int32_t col = 0, std::int32_t row = 0) {
    fw::RecordingDrawContext dc;
    GridCell c = cell;
    grid.get_cell_type(cell.get_cell_type())->draw(dc, rect, col, row, c, selected, current);
    return dc.commands();
}

TEST(GridCellTypes, TextCellBordersAlignmentAndColours) {
    GridCtrl grid;
    GridCell cell;
    cell.set_text("abc");  // 18 x 12 at the fixed metrics
    EXPECT_EQ(draw_one(grid, cell, {0, 0, 75, 20}),
              (std::vector<std::string>{"pen solid #dcdcdc w1", "line (74,0)-(74,20)", "pen solid #dcdcdc w1",
                                        "line (0,19)-(75,19)", "font Arial/12/400", "textcolour #000000",
                                        "fillrect (0,0,74,19) #ffffff", "clip (0,0,74,19)", "text (4,1) \"abc\"",
                                        "clip none"}));
    struct Case {
        int alignment;
        const char* at;
    };
    const Case cases[] = {{2, "text (52,1)"}, {4, "text (28,1)"}, {0x24, "text (28,3)"}, {0x10, "text (4,6)"}};
    for (const Case& c : cases) {
        cell.set_alignment(static_cast<std::int16_t>(c.alignment));
        const auto lines = draw_one(grid, cell, {0, 0, 75, 20});
        EXPECT_NE(std::find(lines.begin(), lines.end(), std::string(c.at) + " \"abc\""), lines.end()) << c.at;
    }
    // Selected cells and a lit current cell take the highlight colours.
    const auto lit = draw_one(grid, cell, {0, 0, 75, 20}, 1, 0);
    EXPECT_NE(std::find(lit.begin(), lit.end(), "textcolour #ffffff"), lit.end());
    EXPECT_NE(std::find(lit.begin(), lit.end(), "fillrect (0,0,74,19) #0078d7"), lit.end());
    // Single-line ellipsis.
    cell.set_alignment(1);
    cell.set_cell_type_param(4);
    cell.set_text("a long text here");
    const auto cut = draw_one(grid, cell, {0, 0, 60, 20});
    EXPECT_NE(std::find(cut.begin(), cut.end(), "text (7,1) \"a long...\""), cut.end());
    // A sunken frame replaces the grid lines; double lines on the left.
    GridCell framed;
    framed.set_border(0x1000);
    EXPECT_EQ(draw_one(grid, framed, {0, 0, 10, 10})[1], "polyline (0,9)(0,0)(10,0)");
}

TEST(GridCellTypes, CheckBoxSizesTogglesAndNotifies) {
    struct Case {
        int height;
        int side;
    };
    for (const Case& c : {Case{14, 8}, Case{30, 12}, Case{11, 0}, Case{12, 6}}) {
        const fw::Rc box = GridCheckBoxCellType::box_rect({0, 0, 50, c.height}, 0, 0);
        EXPECT_EQ(box.width(), c.side) << c.height;
    }
    EXPECT_EQ(GridCheckBoxCellType::box_rect({0, 0, 50, 30}, 4, 2).l, 50 - 12 - 6);

    RecordingGrid grid;
    grid.set_num_cols(1);
    grid.set_num_rows(1);
    grid.layout(200, 100);
    GridCell cell;
    cell.set_cell_type(kCellTypeCheckBox);
    cell.set_cell_type_param(0x2000);
    cell.set_bool(true);
    grid.set_cell(0, 0, cell);
    grid.char_typed(' ');
    EXPECT_EQ(grid.get_cell_text(0, 0), "2");
    // A release on the box (3 pixels in, centred vertically) toggles; a press does not.
    grid.left_down({7, 10}, 0);
    EXPECT_EQ(grid.get_cell_text(0, 0), "2");
    grid.left_up({7, 10});
    EXPECT_EQ(grid.get_cell_text(0, 0), "0");
    grid.left_up({60, 10});  // beside the box
    EXPECT_EQ(grid.get_cell_text(0, 0), "0");
    EXPECT_EQ(grid.log.back(), "notify 2 0,0 53=0");
    GridCell ro;
    grid.get_cell(0, 0, ro);
    ro.set_read_only(1);
    grid.set_cell(0, 0, ro);
    grid.char_typed(' ');
    EXPECT_EQ(grid.get_cell_text(0, 0), "0");
    EXPECT_EQ(grid.start_edit(0, 0), 1);  // check boxes are not edited as text

    // Drawn: a black ring, then a cross for 1.
    cell.set_cell_type_param(0);
    cell.set_bool(true);
    const auto lines = draw_one(grid, cell, {0, 0, 75, 20});
    EXPECT_NE(std::find(lines.begin(), lines.end(), "polyline (3,14)(3,3)(15,3)"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "line (5,5)-(13,13)"), lines.end());
}

TEST(GridCellTypes, DropListEntriesPlacementAndButton) {
    EXPECT_EQ(grid_drop_list_entries("one\ntwo\nthree"), (std::vector<std::string>{"one", "two"}));
    // 20 entries: 16 lines high; moved up inside the area, never above 0.
    EXPECT_EQ(grid_drop_list_rect({10, 40, 85, 60}, 20, 12, {0, 0, 400, 200}), (fw::Rc{20, 6, 95, 200}));
    EXPECT_EQ(grid_drop_list_rect({0, 0, 75, 20}, 3, 12, {0, 0, 50, 30}), (fw::Rc{0, 0, 75, 50}));

    struct Grid : RecordingGrid {
        void show_drop_list(std::int32_t c, std::int32_t r, const std::vector<std::string>& entries, const fw::Rc& at,
                            const fw::Font*) override {
            shown = {c, r};
            items = entries;
            rect = at;
        }
        std::pair<int, int> shown{-1, -1};
        std::vector<std::string> items;
        fw::Rc rect{};
    } grid;
    grid.set_num_cols(2);
    grid.set_num_rows(2);
    grid.layout(300, 200);
    GridCell cell;
    cell.set_cell_type(kCellTypeDropList);
    cell.set_label("Yes\nNo\n");
    grid.set_cell(1, 1, cell);
    grid.left_down({140, 25}, 0);  // cell (1,1) spans x 75..150: the button is its last 16 pixels
    EXPECT_EQ(grid.shown, std::make_pair(1, 1));
    EXPECT_EQ(grid.items, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(grid.rect, (fw::Rc{85, 40, 160, 78}));

    fw::RecordingDrawContext dc;
    grid.get_cell(1, 1, cell);
    cell.set_cell_type_param(0x200);
    grid.get_cell_type(1)->draw(dc, {0, 0, 75, 20}, 1, 1, cell, 0, 0);  // not current: no button
    EXPECT_TRUE(lines_with(dc, "line (60,").empty());
    dc.clear();
    grid.get_cell_type(1)->draw(dc, {0, 0, 75, 20}, 1, 1, cell, 0, 1);
    EXPECT_EQ(lines_with(dc, "line (63,8)"), (std::vector<std::string>{"line (63,8)-(68,8)"}));  // the arrow
}

// The list writes the record of the type that opened it: a dismissal leaves the mark the type
// clears on its next press outside the button.
TEST(GridCellTypes, ADropListWritesTheRecordOfTheTypeThatOpenedIt) {
    struct Grid : RecordingGrid {
        void show_drop_list(std::int32_t, std::int32_t, const std::vector<std::string>&, const fw::Rc&,
                            const fw::Font*) override {
            owner = drop_list_owner();
            type = drop_list_type();
        }
        GridOpenListCell* owner = nullptr;
        int type = -1;
    } grid;
    struct Host : GridDropListHost {
        void notify_chosen_index(int, std::int32_t, std::int32_t, std::int32_t) override {}
        int notify_chosen_text(int, std::int32_t, std::int32_t, std::string&) override { return 1; }
        void set_cell_text(std::int32_t, std::int32_t, const std::string&) override {}
        void focus_cell_area() override {}
        void repaint_cell_area() override {}
    } host;
    GridDropListCellType mine;
    mine.set_grid(&grid);
    const int index = grid.cell_types().add_type(&mine, 0);
    mine.set_type_index(index);
    ASSERT_EQ(index, 4);
    grid.set_num_cols(2);
    grid.set_num_rows(2);
    grid.layout(300, 200);
    GridCell cell;
    cell.set_cell_type(index);
    cell.set_label("a\nb\n");
    grid.set_cell(0, 1, cell);

    grid.left_down({70, 30}, 0);  // the button of (0,1)
    grid.left_up({70, 30});
    ASSERT_EQ(grid.owner, &mine.open_cell());
    EXPECT_EQ(grid.type, index);
    EXPECT_EQ(grid.drop_list_owner(), nullptr) << "only while the list is being shown";
    EXPECT_EQ(mine.open_cell().col, 0);
    EXPECT_EQ(mine.open_cell().row, 1);

    GridDropList list(host);
    list.fill({"a", "b"}, grid.type, grid.owner, 2);
    list.on_set_focus();
    list.on_kill_focus();  // dismissed
    EXPECT_EQ(mine.open_cell().col, -2);
    EXPECT_EQ(mine.open_cell().row, -2);
    grid.left_down({10, 30}, 0);  // off the button
    EXPECT_EQ(mine.open_col(), -1);
}

// Printing scales the font by the printed height over the row's screen height, shared by the
// rows of a joined block; a row of height 0 counts as 1. The unscaled font comes back after.
TEST(GridCellTypes, PrintingScalesTheFontByTheRowHeight) {
    GridCtrl grid;
    grid.set_num_cols(2);
    grid.set_num_rows(4);
    grid.set_uniform_row_height(false);
    grid.set_row_height(3, 0);
    struct Case {
        std::int32_t row;
        int height;
        bool joined;
        const char* font;
    };
    const Case cases[] = {{0, 60, false, "font Arial/36/400"},
                          {-1, 40, false, "font Arial/24/400"},
                          {1, 60, true, "font Arial/18/400"},
                          {3, 6, false, "font Arial/72/400"}};
    for (const Case& c : cases) {
        GridCell cell;
        cell.set_text("x");
        if (c.joined) cell.set_join(1, 1, 0);
        fw::RecordingDrawContext dc({2496, 3520}, {300, 300}, fw::DrawContext::Kind::Printer);
        grid.get_cell_type(0)->print(dc, {0, 0, 225, c.height}, 0, c.row, cell);
        const auto fonts = lines_with(dc, "font ");
        ASSERT_EQ(fonts.size(), 2u) << c.row;
        EXPECT_EQ(fonts[0], c.font) << c.row;
        EXPECT_EQ(fonts[1], "font Arial/12/400");
    }

    // A printed drop list's button is as wide as the scale makes it.
    GridCell list;
    list.set_cell_type(kCellTypeDropList);
    list.set_text("low");
    fw::RecordingDrawContext dc({2496, 3520}, {300, 300}, fw::DrawContext::Kind::Printer);
    grid.get_cell_type(kCellTypeDropList)->print(dc, {0, 0, 225, 60}, 0, 0, list);
    EXPECT_EQ(lines_with(dc, "fillrect (176,"), (std::vector<std::string>{"fillrect (176,0,224,59) #f0f0f0"}));
    EXPECT_EQ(lines_with(dc, "fillrect (0,"), (std::vector<std::string>{"fillrect (0,0,175,59) #ffffff"}));
}

TEST(GridCellTypes, SideArrowGlyphs) {
    GridCtrl grid;
    GridCell cell;
    cell.set_cell_type(kCellTypeSideArrows);
    struct Case {
        int param;
        std::size_t lines;
        const char* first;
    };
    const Case cases[] = {{0, 1, "line (9,7)-(9,14)"},
                          {0x20, 1, "line (11,7)-(11,14)"},
                          {0x40, 2, "line (12,7)-(12,14)"},
                          {0x80, 2, "line (14,7)-(14,14)"},
                          {0x400, 0, ""}};
    for (const Case& c : cases) {
        cell.set_cell_type_param(c.param);
        fw::RecordingDrawContext dc;
        grid.get_cell_type(3)->draw(dc, {0, 0, 21, 21}, 0, 0, cell, 0, 0);
        std::vector<std::string> bars;
        for (const std::string& l : lines_with(dc, "line ("))
            if (l.find(",7)-(") != std::string::npos) bars.push_back(l);
        ASSERT_EQ(bars.size(), c.lines) << c.param;
        if (c.lines) {
            EXPECT_EQ(bars[0], c.first);
        }
    }
}

TEST_F(GridFixture, PaintDrawsTheVisibleCellsTheBlankAndTheFocus) {
    fw::RecordingDrawContext dc;
    grid.focus_in();
    grid.queue_all();
    grid.paint_cells(dc, true);
    // 10 rows of 20 pixels; columns 0..4 (the fifth runs past the 344-pixel edge); nothing
    // starts below or right of the area.
    const auto texts = lines_with(dc, "text ");
    EXPECT_EQ(texts.size(), 50u);
    EXPECT_EQ(texts.front(), "text (4,1) \"0,0\"");
    EXPECT_EQ(texts.back(), "text (304,181) \"4,9\"");
    EXPECT_EQ(grid.get_right_col(), 4);  // the first column not wholly in view
    EXPECT_EQ(grid.get_bottom_row(), 10);
    EXPECT_EQ(dc.commands().back(), "rect (0,0,74,19)");  // the dotted focus frame
    EXPECT_TRUE(grid.redraw_list().empty());

    // After a move only the two cells are drawn again.
    dc.clear();
    grid.goto_cell(1, 0);
    grid.paint_cells(dc, true);
    EXPECT_EQ(lines_with(dc, "text "), (std::vector<std::string>{"text (4,1) \"0,0\"", "text (79,1) \"1,0\""}));

    // Locked rows and columns stay in place and get their separators.
    dc.clear();
    grid.set_locked_cols(1);
    grid.set_locked_rows(1);
    grid.goto_cell(6, 50);
    grid.queue_all();
    grid.paint_cells(dc, false);
    const auto after = lines_with(dc, "text ");
    EXPECT_EQ(after.front(), "text (4,1) \"0,0\"");
    EXPECT_NE(std::find(after.begin(), after.end(), "text (79,21) \"4,42\""), after.end());
    EXPECT_FALSE(lines_with(dc, "line (74,0)-(74,21)").empty());
}

TEST(GridPaint, ShortTablesFillTheBlankAndOverflowRunsIntoEmptyCells) {
    GridCtrl grid;
    grid.set_num_cols(3);
    grid.set_num_rows(2);
    grid.layout(400, 200);
    GridCell left;
    left.set_text("a text longer than its column");
    left.set_alignment(1);
    grid.set_cell(0, 0, left);
    GridCell right;
    right.set_text("right");
    right.set_alignment(2);
    grid.set_cell(0, 1, right);
    fw::RecordingDrawContext dc;
    grid.queue_all();
    grid.paint_cells(dc, false);
    const auto texts = lines_with(dc, "text ");
    // The long text is drawn in its own cell and again, clipped, in the two empty cells beside it.
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "text (4,1) \"a text longer than its column\""), 3);
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& t) { return t.find("right") != std::string::npos; }),
              1);
    EXPECT_FALSE(lines_with(dc, "fillrect (225,0,360,180)").empty());
    EXPECT_FALSE(lines_with(dc, "fillrect (0,40,360,180)").empty());
}

}  // namespace
}  // namespace tv
