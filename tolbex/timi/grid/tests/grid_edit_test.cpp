#include <gtest/gtest.h>

#include "common/ui.h"
#include "tolbex/timi/grid/tests/grid_test_support.h"

namespace tv {
namespace {

using gridtest::GridFixture;

TEST_F(GridFixture, TypingIntoTheEditorStoresTheTextAndMovesOn) {
    ASSERT_EQ(grid.start_edit(2, 3, 'x'), 0);
    EXPECT_EQ(cursor(), std::make_pair(2, 3));
    EXPECT_TRUE(editor.shown);
    EXPECT_EQ(editor.section, kSectionCells);
    EXPECT_EQ(editor.rect, (fw::Rc{150, 60, 224, 79}));  // the cell less a pixel right and below
    EXPECT_EQ(editor.text(), "x");
    editor.text_ += "yz";
    EXPECT_EQ(grid.finish_edit(editor.text(), false, true, 3, 3), 1);
    EXPECT_EQ(grid.get_cell_text(2, 3), "xyz");
    EXPECT_TRUE(grid.editing());  // went on in the next cell
    EXPECT_EQ(cursor(), std::make_pair(3, 3));
    EXPECT_EQ(editor.text(), "3,3");
    EXPECT_EQ(grid.finish_edit("lost", true, false, 0, 0), 1);  // cancelled: nothing stored
    EXPECT_FALSE(editor.shown);
    EXPECT_FALSE(grid.editing());
    EXPECT_EQ(grid.get_cell_text(3, 3), "3,3");
}

TEST_F(GridFixture, MovingOnWrapsAroundTheTable) {
    struct Case {
        std::int32_t col, row;
        std::pair<int, int> lands;
    };
    const Case cases[] = {{8, 4, {0, 4}}, {-1, 4, {7, 4}}, {2, 100, {2, 0}}, {2, -1, {2, 99}}};
    for (const Case& c : cases) {
        ASSERT_EQ(grid.start_edit(1, 4), 0);
        grid.finish_edit("v", false, true, c.col, c.row);
        EXPECT_EQ(cursor(), c.lands) << c.col << "," << c.row;
        grid.finish_edit("", true, false, 0, 0);
    }
}

TEST_F(GridFixture, EditsAreRefusedWhereTheCellOrAHookSaysSo) {
    GridCell ro;
    ro.set_text("fixed");
    ro.set_read_only(1);
    grid.set_cell(0, 5, ro);
    EXPECT_EQ(grid.start_edit(0, 5), 1);
    EXPECT_FALSE(grid.editing());
    grid.refuse_col = 4;
    grid.refuse_row = 4;
    EXPECT_EQ(grid.start_edit(4, 4), 2);
    EXPECT_EQ(grid.start_edit(9, 4), 1);  // outside the grid

    struct Grid : gridtest::RecordingGrid {
        int on_edit_finish(std::int32_t, std::int32_t, GridEditor*, const std::string& text, bool) override {
            return text != "bad";
        }
    } strict;
    strict.set_num_cols(1);
    strict.set_num_rows(1);
    strict.layout(200, 100);
    gridtest::FakeEditor ed;
    strict.set_editors(&ed, &ed);
    ASSERT_EQ(strict.start_edit(0, 0), 0);
    EXPECT_EQ(strict.finish_edit("bad", false, false, 0, 0), 0);  // stays open
    EXPECT_TRUE(ed.shown);
    EXPECT_EQ(strict.finish_edit("good", false, false, 0, 0), 1);
    EXPECT_EQ(strict.get_cell_text(0, 0), "good");

    // A masked cell opens the masked editor with its mask.
    GridCell masked;
    masked.set_mask("99:99");
    grid.set_cell(1, 1, masked);
    ASSERT_EQ(grid.start_edit(1, 1), 0);
    EXPECT_EQ(grid.active_editor(), &this->masked);
    EXPECT_EQ(this->masked.mask, "99:99");
}

TEST_F(GridFixture, FindMovesToTheNextMatchAndSaysWhenThereIsNone) {
    grid.set_cell_text(3, 40, "Needle");
    grid.log.clear();
    EXPECT_EQ(grid.find("needle", "", GridCtrl::FindAction::Find, false, true, true, true), 0);
    EXPECT_EQ(cursor(), std::make_pair(3, 40));
    EXPECT_EQ(grid.get_top_row(), 31);
    EXPECT_EQ(grid.find("hay", "", GridCtrl::FindAction::Find, false, true, true, true), 1);
    EXPECT_EQ(grid.log.back(), "Item not found");
    EXPECT_EQ(cursor(), std::make_pair(3, 40));
}

TEST_F(GridFixture, ReplaceTouchesOnlyMatchesAndReplaceAllEnds) {
    grid.set_cell_text(0, 7, "cat");
    grid.set_cell_text(5, 9, "cat");
    // The current cell (0,0) is no match: it keeps its text.
    grid.find("cat", "dog", GridCtrl::FindAction::Replace, true, true, true, true);
    EXPECT_EQ(grid.get_cell_text(0, 0), "0,0");
    EXPECT_EQ(cursor(), std::make_pair(0, 7));
    grid.find("cat", "dog", GridCtrl::FindAction::Replace, true, true, true, true);
    EXPECT_EQ(grid.get_cell_text(0, 7), "dog");
    EXPECT_EQ(cursor(), std::make_pair(5, 9));
    // Replace all with a text equal to the search text but for case ends at once.
    grid.find("dog", "DOG", GridCtrl::FindAction::ReplaceAll, false, true, true, true);
    EXPECT_EQ(grid.get_cell_text(0, 7), "dog");
    // A replacement holding the search text (partial) replaces the current cell once and stops.
    grid.goto_cell(5, 9);
    grid.find("cat", "cats", GridCtrl::FindAction::ReplaceAll, true, false, true, true);
    EXPECT_EQ(grid.get_cell_text(5, 9), "cats");
    // Replace all walks every match once.
    for (std::int32_t r = 60; r < 70; ++r) grid.set_cell_text(2, r, "x");
    grid.find("x", "y", GridCtrl::FindAction::ReplaceAll, true, true, true, true);
    for (std::int32_t r = 60; r < 70; ++r) EXPECT_EQ(grid.get_cell_text(2, r), "y") << r;
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Types a character into the fake editor the way its window would: through the control.
void type(GridCtrl& grid, gridtest::FakeEditor& ed, char ch) {
    int c = static_cast<unsigned char>(ch);
    if (grid.edit_mask().on()) {
        const GridMaskedChar m = grid.editor_masked_char(ed.text_.size(), c);
        ed.text_ += m.literals;
        if (m.type) ed.text_ += static_cast<char>(m.ch);
    } else if (grid.editor_char(c)) {
        ed.text_ += static_cast<char>(c);
    }
}

TEST_F(GridFixture, EditorKeysFinishAndMoveAsTheUserTypes) {
    struct Grid : gridtest::RecordingGrid {
        int on_edit_key(std::int32_t, std::int32_t, GridEditor*, int* ch) override {
            if (*ch == 'q') return 0;  // refused
            if (*ch == 'a') *ch = 'A';
            return 1;
        }
    } g;
    g.set_num_cols(3);
    g.set_num_rows(3);
    g.layout(400, 200);
    gridtest::FakeEditor ed;
    g.set_editors(&ed, &ed);
    ASSERT_EQ(g.start_edit(0, 0), 0);
    for (char ch : std::string("baqa")) type(g, ed, ch);
    EXPECT_EQ(ed.text(), "bAA");
    EXPECT_TRUE(g.editor_key_down(kGridKeyTab));  // stores, and edits the next cell
    EXPECT_EQ(g.get_cell_text(0, 0), "bAA");
    EXPECT_EQ(std::make_pair(g.get_current_col(), g.get_current_row()), std::make_pair(1, 0));
    EXPECT_FALSE(g.editor_key_down('x'));  // left to the edit control
    type(g, ed, 'z');
    EXPECT_TRUE(g.editor_key_down(kGridKeyEscape));
    EXPECT_FALSE(g.editing());
    EXPECT_EQ(g.get_cell_text(1, 0), "");
    ASSERT_EQ(g.start_edit(2, 2), 0);
    ed.text_ = "last";
    g.editor_key_down(kGridKeyEnter);  // below the last row: row 0 of the same column
    EXPECT_EQ(g.get_cell_text(2, 2), "last");
    EXPECT_EQ(std::make_pair(g.get_current_col(), g.get_current_row()), std::make_pair(2, 0));
    g.sheet().cancel_edit_on_leave = true;
    ed.text_ = "gone";
    g.editor_focus_lost(GridFocusTarget::Other);
    EXPECT_FALSE(g.editing());
    EXPECT_EQ(g.get_cell_text(2, 0), "");
}

TEST_F(GridFixture, MaskedEditorTypesLiteralsAndRefusesWhatDoesNotFit) {
    GridCell cell;
    cell.set_mask("99:99");
    grid.set_cell(1, 1, cell);
    ASSERT_EQ(grid.start_edit(1, 1), 0);
    masked.text_.clear();
    for (char ch : std::string("12x345")) type(grid, masked, ch);
    EXPECT_EQ(masked.text(), "12:34");  // the colon typed by the mask, 'x' and the extra digit refused
    grid.editor_key_down(kGridKeyEnter);
    EXPECT_EQ(grid.get_cell_text(1, 1), "12:34");
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST(GridFind, NotFoundTellsTheUserAndEmptyGridsFindNothing) {
    ScriptedUi ui;
    set_ui(&ui);
    GridCtrl grid;
    EXPECT_EQ(grid.find("x", "", GridCtrl::FindAction::Find, false, true, true, true), 1);  // no rows or columns
    grid.set_num_cols(2);
    grid.set_num_rows(2);
    EXPECT_EQ(grid.find("x", "", GridCtrl::FindAction::Find, false, true, true, true), 1);
    set_ui(nullptr);
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[1].text, "Item not found");
    EXPECT_EQ(ui.shown[1].caption, "Not Found");
}

}  // namespace
}  // namespace tv
