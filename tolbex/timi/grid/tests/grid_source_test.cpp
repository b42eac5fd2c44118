#include <gtest/gtest.h>

#include <map>

#include "tolbex/timi/grid/grid_cell.h"
#include "tolbex/timi/grid/grid_mem_data_source.h"

namespace tv {
namespace {

// A grid of fixed size whose column map starts as the identity; compares texts.
class FakeGrid : public GridSourceHost {
public:
    FakeGrid(std::int32_t rows, std::int32_t cols) : rows_(rows), map_(cols) {
        for (std::int32_t i = 0; i < cols; ++i) map_[i] = i;
    }
    std::int32_t get_number_rows() const override { return rows_; }
    std::int32_t get_number_cols() const override { return static_cast<std::int32_t>(map_.size()); }
    std::int32_t get_col_data_column(std::int32_t c) const override { return map_[c]; }
    void set_col_data_column(std::int32_t c, std::int32_t d) override { map_[c] = d; }
    int compare_cells(const GridCell* a, const GridCell* b, int) override {
        return a->get_text().compare(b->get_text());
    }
    std::int32_t rows_;
    std::vector<std::int32_t> map_;
};

GridCell text_cell(const std::string& text) {
    GridCell c;
    c.set_text(text);
    return c;
}

std::string text_at(GridMemDataSource& s, std::int32_t col, std::int32_t row) {
    GridCell c;
    return s.get_cell(col, row, c) == 0 ? c.get_text() : "<none>";
}

TEST(GridCell, DefaultsSettersAndLayering) {
    GridCell c;
    EXPECT_EQ(c.get_data_type(), kCellDataText);
    EXPECT_EQ(c.get_text_length(), 0u);
    EXPECT_EQ(c.get_number(), 0.0);
    EXPECT_EQ(c.get_cell_type(), 0);
    EXPECT_EQ(c.get_back_colour(), grid_system_colours().window);
    std::string label;
    EXPECT_EQ(c.get_label(label), 1);

    c.set_bool(true);
    EXPECT_EQ(c.get_text(), "1");
    EXPECT_EQ(c.get_data_type(), kCellDataBool);

    GridCell colour;
    colour.set_back_colour(0xE0FFFF);
    GridCell target = text_cell("kept");
    target.add_from(colour);
    EXPECT_EQ(target.get_text(), "kept");
    EXPECT_EQ(target.get_back_colour(), 0xE0FFFFu);
    target.copy_from(colour);
    EXPECT_FALSE(target.is_property_set(kCellText));
    EXPECT_EQ(target.get_back_colour(), 0xE0FFFFu);

    GridCell masked;
    masked.set_mask("99:99");
    masked.reset();
    EXPECT_EQ(masked.get_mask(), "");
}

TEST(GridMemDataSource, EmptySourceAndSparseCreation) {
    GridMemDataSource s;
    GridCell c;
    EXPECT_EQ(s.get_num_rows(), 0);
    EXPECT_EQ(s.get_cell(0, 0, c), 1);
    EXPECT_EQ(s.insert_row(0), 1);
    EXPECT_EQ(s.insert_col(0), 1);
    EXPECT_EQ(s.delete_col(0), 1);
    EXPECT_EQ(s.delete_cell(0, 0), 1);
    EXPECT_EQ(s.delete_row(0), 0);

    EXPECT_EQ(s.set_cell(5, 3, text_cell("x")), 0);
    EXPECT_EQ(s.get_num_rows(), 4);  // a count, not the last index
    EXPECT_EQ(text_at(s, 5, 3), "x");
    EXPECT_EQ(text_at(s, 2, 3), "<none>");  // an empty node
    EXPECT_EQ(text_at(s, 6, 3), "<none>");  // no node
    EXPECT_EQ(text_at(s, 0, 0), "<none>");

    s.set_cell(0, -1, text_cell("heading"));
    s.set_cell(-1, 2, text_cell("side"));
    EXPECT_EQ(text_at(s, 0, -1), "heading");
    EXPECT_EQ(text_at(s, -1, 2), "side");
    EXPECT_EQ(s.get_num_rows(), 4);

    GridMemDataSource one;
    one.set_cell(0, 0, text_cell("a"));
    EXPECT_EQ(one.get_num_rows(), 1);
}

TEST(GridMemDataSource, InsertAndDeleteKeepNumbering) {
    FakeGrid grid(4, 4);
    GridMemDataSource s;
    s.set_grid(&grid, 1);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) s.set_cell(c, r, text_cell(std::to_string(r) + std::to_string(c)));
    }
    EXPECT_EQ(s.delete_cell(1, 0), 0);
    EXPECT_EQ(text_at(s, 1, 0), "<none>");
    EXPECT_EQ(text_at(s, 2, 0), "02");  // later columns keep their numbers

    EXPECT_EQ(s.insert_row(1), 0);
    EXPECT_EQ(text_at(s, 0, 1), "<none>");
    EXPECT_EQ(text_at(s, 0, 2), "10");
    EXPECT_EQ(s.get_num_rows(), 4);
    EXPECT_EQ(s.delete_row(1), 0);
    EXPECT_EQ(text_at(s, 0, 1), "10");

    EXPECT_EQ(s.insert_col(1), 0);
    EXPECT_EQ(text_at(s, 2, 2), "21");
    EXPECT_EQ(grid.map_, (std::vector<std::int32_t>{0, 2, 3, 4}));
    EXPECT_EQ(s.delete_col(1), 0);
    EXPECT_EQ(text_at(s, 1, 2), "21");
    EXPECT_EQ(grid.map_, (std::vector<std::int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(s.delete_col(3), 0);  // the last cell of a row leaves an empty node
    EXPECT_EQ(text_at(s, 3, 2), "<none>");
    EXPECT_EQ(s.delete_all(), 0);
    EXPECT_EQ(s.get_num_rows(), 0);
}

TEST(GridMemDataSource, FindCoversEveryCellOnce) {
    FakeGrid grid(3, 3);
    GridMemDataSource s;
    std::int32_t col = 2, row = 0;
    EXPECT_EQ(s.find_first("x", col, row, 0), 1);  // no grid
    s.set_grid(&grid, 1);
    s.set_cell(1, 0, text_cell("Alpha"));
    s.set_cell(2, 2, text_cell("BETA"));
    EXPECT_EQ(s.find_first("beta", col, row, 0), 0);  // whole text: always without case
    EXPECT_EQ(row, 2);
    std::string search = "et";
    col = 2;
    EXPECT_EQ(s.find_first(search, col, row, GRID_FIND_PARTIAL), 1);
    EXPECT_EQ(s.find_first(search, col, row, GRID_FIND_PARTIAL | GRID_FIND_NOCASE), 0);
    EXPECT_EQ(search, "et");  // the caller's text is not changed
    col = 0;
    row = 0;
    EXPECT_EQ(s.find_first("alpha", col, row, GRID_FIND_ALLCOLS), 0);
    EXPECT_EQ(col, 1);
    EXPECT_EQ(row, 0);
    // From the match, the next one wraps round; the starting cell comes last.
    EXPECT_EQ(s.find_next("alpha", col, row, GRID_FIND_ALLCOLS), 0);
    EXPECT_EQ(col, 1);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(s.find_next("gamma", col, row, GRID_FIND_ALLCOLS | GRID_FIND_UP), 1);

    FakeGrid none(0, 0);
    s.set_grid(&none, 1);
    EXPECT_EQ(s.find_first("alpha", col, row, 0), 1);
}

TEST(GridMemDataSource, SortIsStableAndLeavesHeadingsInFront) {
    FakeGrid grid(5, 2);
    GridMemDataSource s;
    s.set_grid(&grid, 1);
    s.set_cell(0, -1, text_cell("head"));
    const char* keys[] = {"c", "a", "b", "a"};
    for (int r = 0; r < 4; ++r) {
        s.set_cell(0, r, text_cell(keys[r]));
        s.set_cell(1, r, text_cell(std::to_string(r)));
    }
    EXPECT_EQ(s.sort_by_col(0, 0), 0);
    std::string order;
    for (int r = 0; r < 4; ++r) order += text_at(s, 0, r) + text_at(s, 1, r) + " ";
    EXPECT_EQ(order, "a1 a3 b2 c0 ");
    EXPECT_EQ(text_at(s, 0, -1), "head");

    std::int32_t col = 1;
    EXPECT_EQ(s.find_prev_non_blank(col, 0), 0);
    EXPECT_EQ(col, 0);
    col = 0;
    EXPECT_EQ(s.find_prev_non_blank(col, 0), 1);
}

}  // namespace
}  // namespace tv
