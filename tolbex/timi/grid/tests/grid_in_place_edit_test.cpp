#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/grid/grid_in_place_edit.h"

namespace tv {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(GridInPlaceEdit, KeysEndTheEditWithTheirMove) {
    struct Case {
        int key;
        bool shift;
        std::int32_t col, row;
        bool ends, move, cancelled;
        std::int32_t next_col, next_row;
    };
    const Case cases[] = {
        {kGridKeyTab, false, 3, 7, true, true, false, 4, 7},
        {kGridKeyTab, true, 3, 7, true, true, false, 2, 7},  // Shift+Tab: previous column
        {kGridKeyEnter, false, 3, 7, true, true, false, 3, 8},
        {kGridKeyDown, true, 3, 7, true, true, false, 3, 8},
        {kGridKeyUp, false, 3, 7, true, true, false, 3, 6},
        {kGridKeyUp, false, 0, 0, true, true, false, 0, -1},  // the grid refuses row -1
        {kGridKeyEscape, false, 3, 7, true, false, true, 11, 12},
        {'A', false, 3, 7, false, false, false, 11, 12},
        {kGridKeyTab, false, kMax, kMax, true, true, false, kMax, kMax},  // saturates, no overflow
        {kGridKeyDown, false, kMax, kMax, true, true, false, kMax, kMax},
        {kGridKeyTab, true, kMin, kMin, true, true, false, kMin, kMin},
    };
    for (const Case& c : cases) {
        GridEditEnd end{11, 12, false, false};
        EXPECT_EQ(grid_edit_key_down(end, c.key, c.shift, c.col, c.row), c.ends) << c.key;
        EXPECT_EQ(end.move, c.move) << c.key;
        EXPECT_EQ(end.cancelled, c.cancelled) << c.key;
        EXPECT_EQ(end.next_col, c.next_col) << c.key;
        EXPECT_EQ(end.next_row, c.next_row) << c.key;
    }
    GridEditEnd end{0, 0, false, true};
    grid_edit_key_down(end, kGridKeyEscape, false, 1, 1);  // Escape after a move never stores
    EXPECT_TRUE(end.cancelled);
    EXPECT_FALSE(end.move);
}

TEST(GridInPlaceEdit, CharactersPassTheHooksInOrder) {
    std::vector<std::string> calls;
    auto hook = [&](std::string name, int answer, int change_to) {
        return GridEditKeyHook([&calls, name, answer, change_to](std::int32_t col, std::int32_t row, int* ch) {
            calls.push_back(name + ":" + std::to_string(col) + "," + std::to_string(row) + "," + std::to_string(*ch));
            if (change_to) *ch = change_to;
            return answer;
        });
    };
    int ch = 'a';
    EXPECT_TRUE(grid_edit_char(ch, 2, 5, hook("src", 1, 'b'), hook("grid", 7, 0)));
    EXPECT_EQ(ch, 'b');
    EXPECT_EQ(calls, (std::vector<std::string>{"src:2,5,97", "grid:2,5,98"}));

    calls.clear();
    ch = 'a';
    EXPECT_FALSE(grid_edit_char(ch, 2, 5, hook("src", 0, 0), hook("grid", 1, 0)));
    EXPECT_EQ(calls.size(), 1u);  // a refusing source ends it
    ch = 'a';
    EXPECT_FALSE(grid_edit_char(ch, 2, 5, {}, hook("grid", 1, kGridKeyEnter)));  // changed into Enter
    for (int key : {kGridKeyTab, kGridKeyEnter, kGridKeyEscape}) {
        calls.clear();
        ch = key;
        EXPECT_FALSE(grid_edit_char(ch, 0, 0, hook("src", 1, 0), {}));
        EXPECT_TRUE(calls.empty());
    }
    ch = kGridKeyBackspace;
    EXPECT_TRUE(grid_edit_char(ch, 0, 0, {}, {}));
}

TEST(GridInPlaceEdit, MaskedTypingChecksTheMaskBeforeTheHooks) {
    const GridMask mask("(999");
    int asked = 0;
    GridEditKeyHook count = [&](std::int32_t, std::int32_t, int*) { return ++asked, 1; };
    GridEditKeyHook to_letter = [](std::int32_t, std::int32_t, int* ch) { return *ch = 'x', 1; };
    GridEditKeyHook refuse = [](std::int32_t, std::int32_t, int*) { return 0; };

    GridMaskedChar r = grid_masked_edit_char(mask, 0, '5', 0, 0, count, count);
    EXPECT_TRUE(r.type);
    EXPECT_EQ(r.literals, "(");
    EXPECT_EQ(r.ch, '5');
    EXPECT_EQ(asked, 2);

    r = grid_masked_edit_char(mask, 1, 'q', 0, 0, count, count);  // refused by the mask: no hook asked
    EXPECT_FALSE(r.type);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(grid_masked_edit_char(mask, 1, '5', 0, 0, {}, refuse).type);
    EXPECT_FALSE(grid_masked_edit_char(mask, 1, '5', 0, 0, {}, to_letter).type);                // changed into a misfit
    EXPECT_FALSE(grid_masked_edit_char(mask, 4, kGridKeyBackspace, 0, 0, {}, to_letter).type);  // past the end
    EXPECT_TRUE(grid_masked_edit_char(mask, 4, kGridKeyBackspace, 0, 0, {}, {}).type);
    EXPECT_TRUE(grid_masked_edit_char(GridMask(), 0, 'x', 0, 0, {}, to_letter).type);  // mask off
    EXPECT_FALSE(grid_masked_edit_char(mask, 1, 0x1234, 0, 0, {}, {}).type);           // no single byte
}

}  // namespace
}  // namespace tv
