#include <gtest/gtest.h>

#include <limits>

#include "tolbex/timi/grid/grid_drop_list.h"
#include "tolbex/timi/grid/grid_in_place_edit.h"

namespace tv {
namespace {

// Records the grid's side of the sequence; giving the focus back closes the list as the window
// layer does.
class FakeGrid : public GridDropListHost {
public:
    void notify_chosen_index(int type, std::int32_t col, std::int32_t row, std::int32_t index) override {
        calls.push_back("102 " + std::to_string(type) + " " + std::to_string(col) + "," + std::to_string(row) + " " +
                        std::to_string(index));
    }
    int notify_chosen_text(int type, std::int32_t col, std::int32_t row, std::string& text) override {
        calls.push_back("101 " + std::to_string(type) + " " + std::to_string(col) + "," + std::to_string(row) + " " +
                        text);
        if (!rename.empty()) text = rename;
        return answer_101;
    }
    void set_cell_text(std::int32_t col, std::int32_t row, const std::string& text) override {
        calls.push_back("store " + std::to_string(col) + "," + std::to_string(row) + " " + text);
    }
    void focus_cell_area() override {
        calls.push_back("focus");
        if (list) list->on_kill_focus();
    }
    void repaint_cell_area() override { calls.push_back("repaint"); }

    std::vector<std::string> calls;
    int answer_101 = 1;
    std::string rename;
    GridDropList* list = nullptr;
};

struct Fixture {
    Fixture() {
        grid.list = &list;
        owner = {4, 9};
        list.fill({"red", "green", "blue"}, 1, &owner, 4);
        list.on_set_focus();
    }
    FakeGrid grid;
    GridDropList list{grid};
    GridOpenListCell owner;
};

TEST(GridDropList, EntriesFromTheLabel) {
    using V = std::vector<std::string>;
    EXPECT_EQ(grid_drop_list_entries("one\ntwo\nthree"), (V{"one", "two"}));  // no line feed after "three"
    EXPECT_EQ(grid_drop_list_entries("one\r\ntwo\n"), (V{"one", "two"}));
    EXPECT_EQ(grid_drop_list_entries("\n\n"), (V{"", ""}));
    EXPECT_EQ(grid_drop_list_entries(""), V{});
    EXPECT_EQ(grid_drop_list_entries("no line feed"), V{});
}

TEST(GridDropList, PlacementInsideTheCellArea) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const fw::Rc cell{100, 40, 175, 60};
    const fw::Rc area{0, 0, 400, 300};
    struct Case {
        fw::Rc cell;
        std::size_t entries;
        std::int32_t line_height;
        fw::Rc area, expected;
    };
    const Case cases[] = {
        {cell, 3, 16, area, {110, 60, 185, 126}},                // below the cell, 10 px right, 4 lines + 2
        {cell, 20, 16, area, {110, 42, 185, 300}},               // 16 lines, moved up to fit
        {cell, 2, 0, area, {110, 60, 185, 98}},                  // no line height: 12
        {{340, 40, 415, 60}, 3, 16, area, {325, 60, 400, 126}},  // moved left
        {cell, 20, 16, {0, 0, 50, 50}, {0, 0, 75, 258}},         // never above or left of the area
        {cell, 1000, kMax, area, {110, 0, 185, kMax}},           // hostile sizes stay bounded
    };
    for (const Case& c : cases) {
        const fw::Rc r = grid_drop_list_rect(c.cell, c.entries, c.line_height, c.area);
        EXPECT_EQ(r, c.expected) << c.entries << " -> " << r.l << "," << r.t << "," << r.r << "," << r.b;
    }
}

TEST(GridDropList, ChoosingSendsBothMessagesAndStores) {
    struct Case {
        int answer_101;
        std::string rename;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {1, "", {"102 1 4,9 1", "101 1 4,9 green", "store 4,9 green", "focus", "repaint"}},
        {1, "GREEN", {"102 1 4,9 1", "101 1 4,9 green", "store 4,9 GREEN", "focus", "repaint"}},
        {0, "", {"102 1 4,9 1", "101 1 4,9 green", "focus", "repaint"}},  // the application keeps the text
    };
    for (const Case& c : cases) {
        Fixture f;
        f.grid.answer_101 = c.answer_101;
        f.grid.rename = c.rename;
        f.list.on_left_button_down(1);
        f.list.on_left_button_up(1);
        EXPECT_EQ(f.grid.calls, c.calls);
        EXPECT_EQ(f.owner.col, -1);  // chosen: no dismissal marker
        EXPECT_EQ(f.owner.row, -1);
        EXPECT_FALSE(f.list.is_open());
        EXPECT_FALSE(f.list.alive());
    }
}

TEST(GridDropList, DismissalsLeaveTheCellUnchanged) {
    {
        Fixture f;                      // a click below the last entry chooses nothing; the list stays open
        const std::int32_t below = -1;  // what the list answers for a point past its entries
        f.list.on_left_button_down(below);
        f.list.on_left_button_up(below);
        EXPECT_TRUE(f.grid.calls.empty());
        EXPECT_TRUE(f.list.is_open());
        EXPECT_EQ(f.list.selection(), -1);
    }
    for (int key : {kGridKeyEnter, kGridKeyEscape}) {
        Fixture f;  // Enter with no selection, or Escape
        if (key == kGridKeyEscape) f.list.on_key_down(kGridKeyDown);
        EXPECT_TRUE(f.list.on_key_down(key));
        EXPECT_EQ(f.grid.calls, std::vector<std::string>{"repaint"});
        EXPECT_EQ(f.owner.col, -2);
        EXPECT_EQ(f.owner.row, -2);
        EXPECT_FALSE(f.list.alive());
        f.list.on_kill_focus();  // the window's own loss of focus afterwards changes nothing
        EXPECT_EQ(f.grid.calls.size(), 1u);
    }
    Fixture f;  // a list filled for no cell closes without telling the grid anything
    f.owner = {-1, -1};
    f.list.on_key_down(kGridKeyDown);
    f.list.on_key_down(kGridKeyEnter);
    EXPECT_EQ(f.grid.calls, (std::vector<std::string>{"focus", "repaint"}));
}

TEST(GridDropList, KeysMoveTheSelectionAndKeepItVisible) {
    FakeGrid grid;
    GridDropList list(grid);
    GridOpenListCell owner{0, 0};
    std::vector<std::string> entries;
    for (int i = 0; i < 20; ++i) entries.push_back("e" + std::to_string(i));
    list.fill(entries, 1, &owner, 16);
    list.on_set_focus();
    struct Step {
        int key;
        std::int32_t selection, top;
    };
    const Step steps[] = {
        {kGridKeyUp, 0, 0},     {kGridKeyDown, 1, 0},   {kGridKeyEnd, 19, 4},      {kGridKeyDown, 19, 4},
        {kGridKeyPageUp, 4, 4}, {kGridKeyPageUp, 0, 0}, {kGridKeyPageDown, 15, 0}, {kGridKeyHome, 0, 0},
    };
    for (const Step& s : steps) {
        EXPECT_TRUE(list.on_key_down(s.key));
        EXPECT_EQ(list.selection(), s.selection) << s.key;
        EXPECT_EQ(list.top_index(), s.top) << s.key;
    }
    EXPECT_FALSE(list.on_key_down('A'));
}

}  // namespace
}  // namespace tv
