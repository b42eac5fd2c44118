#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "tolbex/timi/grid/grid_cell_type.h"
#include "tolbex/timi/grid/grid_cell_type_registry.h"
#include "tolbex/timi/grid/grid_multi_selection.h"
#include "tolbex/timi/grid/grid_rect_list.h"

namespace tv {
namespace {

TEST(GridRectList, RangesBoundsAndJoinedOrigins) {
    GridRectList list;
    EXPECT_EQ(list.contains(0, 0), 0);  // empty: never the (zero) bounding range
    list.add_range(2, 2, 3, 3);
    list.add_cell_range(10, 10);
    EXPECT_EQ(list.contains(2, 3), 1);
    EXPECT_EQ(list.contains(10, 10), 1);
    EXPECT_EQ(list.contains(5, 5), 0);  // inside the bounds, in no range
    EXPECT_EQ(list.contains(11, 10), 0);
    list.widen_first(0, 0, 20, 20);  // the first range now covers everything
    EXPECT_EQ(list.contains(5, 5), 1);
    EXPECT_EQ(list.contains(20, 0), 1);
    EXPECT_EQ(list.contains(21, 0), 0);
    list.add_cell(4, 4);
    EXPECT_EQ(list.has_cell(4, 4), 1);
    EXPECT_EQ(list.has_cell(4, 5), 0);
    list.clear();
    EXPECT_EQ(list.contains(5, 5), 0);
    EXPECT_EQ(list.has_cell(4, 4), 0);
    list.widen_first(1, 1, 1, 1);  // on an empty list it adds
    EXPECT_EQ(list.contains(1, 1), 1);
}

TEST(GridCellTypeRegistry, GrowsByTenAndNeverServesFreeSlots) {
    GridCellTypeRegistry reg;
    GridCellType types[11];
    EXPECT_EQ(reg.get_capacity(), 0);
    EXPECT_EQ(reg.add_type(&types[0], 0), 0);
    EXPECT_EQ(reg.get_capacity(), 10);
    for (int i = 1; i < 10; ++i) EXPECT_EQ(reg.add_type(&types[i], i), i);
    EXPECT_EQ(reg.get_capacity(), 10);
    const GridCellTypeRegistry::Id id{1, 2, 3, 4};
    EXPECT_EQ(reg.add_type(&types[10], 0, &id), 10);
    EXPECT_EQ(reg.get_capacity(), 20);
    EXPECT_EQ(reg.get_count(), 11);
    EXPECT_EQ(reg.get_type(3), &types[3]);
    EXPECT_EQ(reg.get_type(-1), nullptr);
    EXPECT_EQ(reg.get_type(11), nullptr);  // free slot below the capacity
    EXPECT_EQ(reg.get_type(20), nullptr);
}

// A grid of 10 columns whose redraw list and key state the test sets.
struct Host : GridSelectionHost {
    std::int32_t selection_num_cols() const override { return 10; }
    std::int32_t selection_current_col() const override { return cur_col; }
    std::int32_t selection_current_row() const override { return cur_row; }
    GridRectList& selection_redraw_list() override { return list; }
    bool shift_down() const override { return shift; }
    bool control_down() const override { return control; }
    std::int32_t cur_col = 0, cur_row = 0;
    bool shift = false, control = false;
    GridRectList list;
};

std::vector<std::pair<int, int>> enumerate(GridMultiSelection& s) {
    std::vector<std::pair<int, int>> out;
    std::int32_t c, r;
    for (int rc = s.enum_first(c, r); rc == 0; rc = s.enum_next(c, r)) out.emplace_back(c, r);
    return out;
}

TEST(GridMultiSelection, ClicksShiftAndControl) {
    Host host;
    GridMultiSelection sel;
    sel.set_host(&host);
    sel.set_mode(kGridSelectCells);
    sel.on_mouse_select(1, 1, 0);
    sel.on_mouse_select(2, 3, kGridMouseShift);  // one block 1,1..2,3
    EXPECT_EQ(sel.block_count(), 1u);
    std::int32_t c, r;
    ASSERT_EQ(sel.get_start_cell(c, r), 0);
    EXPECT_EQ(std::make_pair(c, r), std::make_pair(1, 1));
    // Only the strips between the old and new moving corner were queued.
    ASSERT_EQ(host.list.ranges().size(), 2u);
    EXPECT_EQ(host.list.ranges()[0].top, 1);
    EXPECT_EQ(host.list.ranges()[0].bottom, 3);
    EXPECT_EQ(host.list.ranges()[1].left, 1);
    EXPECT_EQ(host.list.ranges()[1].right, 2);

    sel.on_mouse_select(5, 5, kGridMouseControl | kGridMouseShift);  // control wins: second block
    int block = -1;
    EXPECT_EQ(sel.is_selected(5, 5, &block), 1);
    EXPECT_EQ(block, 1);
    EXPECT_EQ(sel.is_selected(2, 2, &block), 1);
    EXPECT_EQ(block, 0);
    std::int32_t l, t, rr, b;
    ASSERT_EQ(sel.get_bounds(l, t, rr, b), 0);
    EXPECT_EQ((std::vector<int>{l, t, rr, b}), (std::vector<int>{1, 1, 5, 5}));

    host.list.clear();
    sel.on_mouse_select(5, 5, 0);  // the same cell again: nothing
    EXPECT_TRUE(host.list.empty());
    sel.on_mouse_select(7, 7, 0);  // a plain click replaces, after queueing the old bounds
    EXPECT_EQ(sel.block_count(), 1u);
    EXPECT_EQ(host.list.contains(3, 3), 1);
}

TEST(GridMultiSelection, RightClickKeysAndDrag) {
    Host host;
    GridMultiSelection sel;
    sel.set_host(&host);
    sel.set_mode(kGridSelectCells);
    sel.on_mouse_select(1, 1, 0);
    sel.on_drag_select(3, 3);
    sel.on_right_select(2, 2);  // inside: kept
    EXPECT_EQ(sel.is_selected(3, 3), 1);
    sel.on_right_select(8, 8);  // outside: replaced
    EXPECT_EQ(sel.is_selected(3, 3), 0);
    EXPECT_EQ(sel.is_selected(8, 8), 1);

    sel.clear();
    sel.on_key_select(0, 0);
    host.shift = true;
    sel.on_key_select(0, 2);
    EXPECT_EQ(sel.is_selected(0, 1), 1);
    host.shift = false;
    host.control = true;
    sel.on_key_select(4, 4);  // control keeps the blocks
    EXPECT_EQ(sel.block_count(), 2u);
    host.control = false;
    sel.on_key_select(5, 5);
    EXPECT_EQ(sel.block_count(), 1u);
    EXPECT_EQ(sel.extend_block(6, 6), 0);
    sel.clear();
    EXPECT_EQ(sel.extend_block(6, 6), 1);
    EXPECT_EQ(sel.get_start_cell(host.cur_col, host.cur_row), 1);
}

TEST(GridMultiSelection, EnumerationInReadingOrder) {
    Host host;
    host.cur_col = 4;
    host.cur_row = 9;
    GridMultiSelection sel;
    sel.set_host(&host);
    sel.set_mode(kGridSelectCells);
    // Nothing selected: exactly the current cell.
    EXPECT_EQ(enumerate(sel), (std::vector<std::pair<int, int>>{{4, 9}}));
    sel.start_block(1, 1);
    sel.extend_block(2, 2);
    sel.start_block(2, 2);  // overlaps: listed once
    sel.extend_block(3, 2);
    EXPECT_EQ(enumerate(sel), (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {1, 2}, {2, 2}, {3, 2}}));

    sel.set_mode(kGridSelectRows);
    host.cur_col = 0;
    host.cur_row = 3;
    sel.start_block(4, 3);
    sel.extend_block(6, 5);
    EXPECT_EQ(enumerate(sel), (std::vector<std::pair<int, int>>{{0, 3}, {0, 4}, {0, 5}}));
    EXPECT_EQ(sel.is_selected(9, 4), 1);  // whole rows
}

}  // namespace
}  // namespace tv
