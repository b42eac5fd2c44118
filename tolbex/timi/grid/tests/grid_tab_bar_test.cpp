#include <gtest/gtest.h>

#include <limits>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/grid/grid_tab_bar.h"

namespace tv {
namespace {

// Arrows 17 px wide: the tabs start at 34. Tabs 60, 80 and 100 wide (sheets 10, 11, 12).
GridTabBar three_tabs(const fw::Rc& client) {
    GridTabBar bar(17);
    for (std::int32_t i = 0; i < 3; ++i) bar.add_tab({"S" + std::to_string(i), 60 + 20 * i, 10 + i});
    bar.layout(client);
    return bar;
}

TEST(GridTabBar, LayoutAndHitTesting) {
    GridTabBar empty(17);
    EXPECT_EQ(empty.layout({0, 0, 300, 17}), (fw::Rc{0, 1, 34, 17}));  // the arrow control
    EXPECT_EQ(empty.largest_offset(), 0);
    EXPECT_EQ(empty.tab_at(40), -1);

    EXPECT_EQ(three_tabs({0, 0, 300, 17}).largest_offset(), 0);  // all tabs fit
    GridTabBar bar = three_tabs({0, 0, 200, 17});
    EXPECT_EQ(bar.largest_offset(), 94);  // 34 - 200 + 240, plus 20
    const std::pair<std::int32_t, std::int32_t> hits[] = {{33, -1}, {34, 0},  {95, 0},  {96, 1},
                                                          {175, 1}, {176, 2}, {275, 2}, {276, -1}};
    for (auto [x, tab] : hits) EXPECT_EQ(bar.tab_at(x), tab) << x;
}

TEST(GridTabBar, ChoosingScrollsTheTabIntoView) {
    const fw::Rc client{0, 0, 200, 17};
    GridTabBar bar = three_tabs(client);
    EXPECT_EQ(bar.choose_at(180, client), 12);
    EXPECT_EQ(bar.current(), 2u);
    EXPECT_EQ(bar.offset(), 93);  // right edge 274 + 19 beyond 200
    EXPECT_EQ(bar.choose_at(-50, client), 10);
    EXPECT_EQ(bar.offset(), 0);  // not below 0
    EXPECT_EQ(bar.choose_at(500, client), std::nullopt);
    EXPECT_EQ(bar.current(), 0u);

    const fw::Rc narrow{0, 0, 60, 17};  // a tab wider than the bar: both edges count
    GridTabBar b = three_tabs(narrow);
    EXPECT_EQ(b.largest_offset(), 234);
    b.choose_at(180, narrow);
    EXPECT_EQ(b.offset(), 233);
    b.choose_at(0, narrow);  // tab 2 again, its left edge now out of view: back to it
    EXPECT_EQ(b.current(), 2u);
    EXPECT_EQ(b.offset(), 135);
}

TEST(GridTabBar, ArrowStepsStayWithinTheOffsets) {
    const fw::Rc client{0, 0, 190, 17};
    GridTabBar bar = three_tabs(client);
    bar.choose_at(100, client);
    ASSERT_EQ(bar.offset(), 3);
    EXPECT_TRUE(bar.scroll_left());
    EXPECT_EQ(bar.offset(), 0);  // not -2
    EXPECT_FALSE(bar.scroll_left());
    EXPECT_EQ(bar.offset(), 0);
    int steps = 0;
    while (bar.scroll_right()) ++steps;
    EXPECT_EQ(steps, 20);
    EXPECT_EQ(bar.offset(), 100);  // stops once no longer below the largest (104) less 5
}

TEST(GridTabBar, GripSizesTheBar) {
    const fw::Rc client{0, 0, 300, 17};
    GridTabBar bar(17);
    bar.mouse_move_hover(293, client);
    EXPECT_FALSE(bar.grip());
    EXPECT_FALSE(bar.press_grip());
    bar.mouse_move_hover(294, client);
    EXPECT_TRUE(bar.grip());
    EXPECT_EQ(bar.mouse_move_sizing(10), std::nullopt);  // not sizing yet
    EXPECT_TRUE(bar.press_grip());
    EXPECT_EQ(bar.mouse_move_sizing(10), 40);  // dragged to x = 10: 40 wide
    EXPECT_EQ(bar.mouse_move_sizing(-5000), 40);
    EXPECT_EQ(bar.mouse_move_sizing(150), 150);
    bar.mouse_move_hover(10, client);  // the grip flag stays while sizing
    EXPECT_TRUE(bar.grip());
    bar.release();
    EXPECT_FALSE(bar.sizing());
}

TEST(GridTabBar, SixtyFourTabsAtMostAndHostileWidths) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    GridTabBar bar(std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(bar.area_left(), kMax);
    EXPECT_FALSE(bar.add_tab({"neg", -1, 0}));
    for (int i = 0; i < 64; ++i) EXPECT_TRUE(bar.add_tab({"t", kMax, i}));
    EXPECT_FALSE(bar.add_tab({"t", 1, 64}));
    EXPECT_EQ(bar.tab_count(), 64u);
    bar.layout({0, 0, 300, 17});
    EXPECT_EQ(bar.largest_offset(), kMax);
    EXPECT_EQ(bar.tab_at(0), -1);
    fw::RecordingDrawContext dc;
    bar.paint(dc, {0, 0, 300, 17});  // coordinates clamp, nothing overflows
    EXPECT_FALSE(dc.commands().empty());
}

TEST(GridTabBar, PaintsTabsAndTheCurrentOneLast) {
    fw::RecordingDrawContext dc;
    GridTabBar empty(17);
    empty.paint(dc, {0, 0, 200, 17});  // no tabs: background and the current tab's outline
    EXPECT_EQ(dc.joined(),
              "fillrect (0,0,200,17) #f0f0f0\n"
              "pen null #000000 w1\n"
              "fill solid #ffffff\n"
              "polygon (34,0)(41,17)(36,17)(43,0)\n"
              "pen solid #f0f0f0 w1\n"
              "line (35,0)-(43,0)\n"
              "font Arial/14/500\n"
              "textcolour #000000\n"
              "text (44,1) \"\"\n"
              "pen solid #ffffff w1\n"
              "line (34,0)-(41,17)\n"
              "pen solid #000000 w1\n"
              "polyline (41,16)(36,16)(43,-1)\n"
              "pen solid #a0a0a0 w1\n"
              "polyline (42,15)(35,15)(42,-1)");

    dc.clear();
    GridTabBar bar(17);
    bar.add_tab({"One", 40, 1, 0x0000FF, 0x00FFFF});
    bar.add_tab({"Two", 40, 2});
    bar.paint(dc, {0, 0, 200, 17});
    const std::string& all = dc.joined();
    // Tab 1 ("Two") first, in its own colours; then tab 0, current, in white with its label.
    const auto two = all.find("text (84,1) \"Two\"");
    const auto one = all.find("text (44,1) \"One\"");
    ASSERT_NE(two, std::string::npos) << all;
    ASSERT_NE(one, std::string::npos) << all;
    EXPECT_LT(two, one);
    EXPECT_NE(all.find("polygon (74,0)(81,17)(116,17)(123,0)"), std::string::npos) << all;
    EXPECT_NE(all.find("textcolour #ff0000\ntext (44,1)"), std::string::npos) << all;
}

}  // namespace
}  // namespace tv
