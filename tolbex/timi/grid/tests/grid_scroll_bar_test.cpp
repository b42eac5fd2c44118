#include <gtest/gtest.h>

#include <limits>

#include "tolbex/timi/grid/grid_scroll_bar.h"

namespace tv {

void PrintTo(const GridScrollRange& r, std::ostream* os) {
    *os << r.min << ".." << r.max << " page " << r.page << " pos " << r.pos;
}

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
const fw::Rc kVBar{600, 20, 617, 400};
const fw::Rc kHBar{100, 400, 600, 417};

GridVScrollSheet vsheet(std::int32_t highest, std::int32_t top = 0, std::int32_t mode = 0, std::int32_t locked = 0) {
    GridVScrollSheet s;
    s.highest_top_row = highest;
    s.top_row = top;
    s.scroll_mode = mode;
    s.locked_rows = locked;
    s.cell_area_height = 400;
    s.row_height = 20;
    return s;
}

TEST(GridScrollBar, VerticalRangesAndPositions) {
    struct Case {
        GridVScrollSheet sheet;
        GridScrollRange bar;
    };
    GridVScrollSheet zero_height = vsheet(10, 3);
    zero_height.row_height = 0;  // raised to 1
    GridVScrollSheet huge = vsheet(kMax, kMax - 1);
    GridVScrollSheet negative = vsheet(10, 0);
    negative.cell_area_height = -50;
    const Case cases[] = {
        {vsheet(80, 10), {0, 99, 20, 10}},
        {vsheet(80, 10, 0, 2), {2, 99, 20, 10}},  // range starts at the locked rows
        {vsheet(80, 0, 0, 2), {2, 99, 20, 2}},
        {vsheet(1000, 1000), {0, 1019, 20, 1000}},
        {vsheet(5000, 2500), {0, 1000, 1, 500}},  // scaled onto 1000 positions
        {vsheet(5000, 2500, 2), {0, 2, 0, 1}},    // mode 2: three positions, thumb in the middle
        {vsheet(80, 10, 2), {0, 2, 0, 1}},
        {zero_height, {0, 409, 400, 3}},
        {huge, {0, 1000, 1, 999}},
        {negative, {0, 9, 0, 0}},
    };
    for (const Case& c : cases) {
        GridVScrollModel m;
        EXPECT_TRUE(m.update(c.sheet, false).changed);
        EXPECT_EQ(m.bar(), c.bar) << c.sheet.highest_top_row << " mode " << c.sheet.scroll_mode;
    }
}

TEST(GridScrollBar, VerticalUpdatesOnlyOnChange) {
    GridVScrollModel m;
    GridScrollUpdate u = m.update(vsheet(80, 10), true);
    EXPECT_TRUE(u.changed);
    EXPECT_TRUE(u.relayout);  // hidden bar: the grid lays out again
    u = m.update(vsheet(80, 10), true);
    EXPECT_FALSE(u.changed);
    EXPECT_FALSE(u.relayout);
    u = m.update(vsheet(80, 12), false);
    EXPECT_TRUE(u.changed);
    EXPECT_EQ(m.bar().pos, 12);
    GridVScrollSheet taller = vsheet(80, 12);
    taller.cell_area_height = 800;  // the range follows the reachable rows, not the height
    EXPECT_FALSE(m.update(taller, false).changed);
    m.update(vsheet(5000, 12), false);  // the thumb follows a new scale
    EXPECT_EQ(m.bar().pos, 2);
}

TEST(GridScrollBar, VerticalActions) {
    GridVScrollModel m;
    GridVScrollSheet s = vsheet(5000, 0);
    m.update(s, false);
    EXPECT_DOUBLE_EQ(m.pos_per_row(), 0.2);
    EXPECT_DOUBLE_EQ(m.rows_per_pos(), 5.0);

    const GridScrollCode steps[] = {GridScrollCode::LineUp,   GridScrollCode::LineDown, GridScrollCode::PageUp,
                                    GridScrollCode::PageDown, GridScrollCode::Top,      GridScrollCode::Bottom};
    for (int i = 0; i < 6; ++i) {
        GridScrollAction a = m.on_scroll(steps[i], 0, s, kVBar, {});
        EXPECT_EQ(a.step, i);
        EXPECT_FALSE(a.go_to);
    }
    EXPECT_EQ(m.on_scroll(GridScrollCode::EndScroll, 0, s, kVBar, {}).step, -1);

    GridScrollAction a = m.on_scroll(GridScrollCode::ThumbPosition, 500, s, kVBar, {});
    EXPECT_TRUE(a.hide_hint);
    EXPECT_EQ(a.go_to, 2500);
    EXPECT_EQ(m.on_scroll(GridScrollCode::ThumbPosition, 1000, s, kVBar, {}).go_to, 5000);
    EXPECT_EQ(m.on_scroll(GridScrollCode::ThumbPosition, 99999, s, kVBar, {}).go_to, 5000);  // bounded
    EXPECT_EQ(m.on_scroll(GridScrollCode::ThumbPosition, -7, s, kVBar, {}).go_to, 0);

    a = m.on_scroll(GridScrollCode::ThumbTrack, 500, s, kVBar, {650, 123});
    EXPECT_EQ(m.tracked(), 2500);
    EXPECT_FALSE(a.go_to);  // mode 0: the view waits for the release
    EXPECT_FALSE(a.hint);
    s.scroll_mode = 1;
    s.thumb_hint = true;
    a = m.on_scroll(GridScrollCode::ThumbTrack, 100, s, kVBar, {650, 123});
    EXPECT_EQ(a.go_to, 500);
    ASSERT_TRUE(a.hint);
    EXPECT_EQ(a.hint->placement, 0x22u);
    EXPECT_EQ(a.hint->x, 599);
    EXPECT_EQ(a.hint->y, 123);
    EXPECT_EQ(a.hint->min_width, 40);

    GridVScrollModel three;  // mode 2: line and page actions still step the rows
    three.update(vsheet(5000, 0, 2), false);
    EXPECT_EQ(three.on_scroll(GridScrollCode::LineDown, 0, vsheet(5000, 0, 2), kVBar, {}).step, 1);
    EXPECT_EQ(three.on_scroll(GridScrollCode::PageUp, 0, vsheet(5000, 0, 2), kVBar, {}).step, 2);
    three.update(vsheet(5000, 40, 2), false);
    EXPECT_EQ(three.bar().pos, 1);

    // With locked rows the dragged thumb reports the row its release goes to.
    GridVScrollModel locked;
    GridVScrollSheet l = vsheet(80, 2, 0, 2);
    locked.update(l, false);
    locked.on_scroll(GridScrollCode::ThumbTrack, 10, l, kVBar, {});
    EXPECT_EQ(locked.tracked(), 10);
    EXPECT_EQ(locked.on_scroll(GridScrollCode::ThumbPosition, 10, l, kVBar, {}).go_to, 10);
    EXPECT_EQ(locked.on_scroll(GridScrollCode::ThumbPosition, 0, l, kVBar, {}).go_to, 2);
}

TEST(GridScrollBar, Horizontal) {
    GridHScrollSheet s;
    s.highest_left_col = 20;
    s.locked_cols = 1;
    s.cell_area_width = 400;
    s.locked_width = 50;
    s.default_col_width = 75;
    s.left_col = 5;
    GridHScrollModel m;
    GridScrollUpdate u = m.update(s, true);
    EXPECT_TRUE(u.changed);
    EXPECT_TRUE(u.relayout);
    EXPECT_EQ(m.bar(), (GridScrollRange{0, 22, 4, 4}));
    EXPECT_FALSE(m.update(s, true).changed);
    s.left_col = 9;
    EXPECT_TRUE(m.update(s, false).changed);
    EXPECT_EQ(m.bar().pos, 8);

    GridScrollAction a = m.on_scroll(GridScrollCode::ThumbPosition, 3, s, kHBar, {});
    EXPECT_EQ(a.go_to, 4);
    EXPECT_TRUE(a.hide_hint);
    EXPECT_EQ(m.on_scroll(GridScrollCode::ThumbPosition, 1LL << 40, s, kHBar, {}).go_to, 20);
    EXPECT_EQ(m.on_scroll(GridScrollCode::PageDown, 0, s, kHBar, {}).step, 3);
    s.thumb_hint = true;
    a = m.on_scroll(GridScrollCode::ThumbTrack, 6, s, kHBar, {333, 410});
    EXPECT_EQ(m.tracked(), 7);
    EXPECT_FALSE(a.go_to);
    ASSERT_TRUE(a.hint);
    EXPECT_EQ(a.hint->placement, 0x14u);
    EXPECT_EQ(a.hint->x, 333);
    EXPECT_EQ(a.hint->y, 399);
    EXPECT_EQ(a.hint->min_width, 20);

    GridHScrollSheet bad = s;  // no default width, huge counts: bounded, no division by 0
    bad.default_col_width = 0;
    bad.highest_left_col = kMax;
    bad.locked_cols = 0;
    bad.cell_area_width = kMax;
    bad.locked_width = -kMax;
    GridHScrollModel b;
    b.update(bad, false);
    EXPECT_EQ(b.bar().max, kMax);
    EXPECT_EQ(b.bar().page, kMax);
}

}  // namespace
}  // namespace tv
