// The grid's built-in data source: cells kept in memory as a linked list of rows, each a linked
// list of cells, created when first set. A cursor kept between calls makes the grid's usual
// walk over neighbouring cells cost a step or two.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "tolbex/timi/grid/grid_data_source.h"

namespace tv {

class GridMemDataSource : public GridDataSource {
public:
    GridMemDataSource() = default;
    ~GridMemDataSource() override;

    // The number of rows from row 0 to the last one (heading rows in front are not counted).
    std::int32_t get_num_rows() override;
    int on_before_insert_row() override { return 0; }
    int on_after_insert_row() override { return 0; }
    int insert_row(std::int32_t row) override;
    int insert_col(std::int32_t col) override;
    int delete_row(std::int32_t row) override;
    int delete_col(std::int32_t col) override;
    int delete_cell(std::int32_t col, std::int32_t row) override;
    int delete_all() override;
    int get_cell(std::int32_t col, std::int32_t row, GridCell& cell) override;
    int set_cell(std::int32_t col, std::int32_t row, const GridCell& cell) override;
    int find_first(const std::string& text, std::int32_t& col, std::int32_t& row, int flags) override;
    int find_next(const std::string& text, std::int32_t& col, std::int32_t& row, int flags) override;
    // Stable: rows that compare equal keep their order. Rows in front of row 0 stay in front.
    int sort_rows(const std::int32_t* cols, int count, int flags) override;
    int sort_by_col(std::int32_t col, int flags) override { return sort_rows(&col, 1, flags); }
    int find_prev_non_blank(std::int32_t& col, std::int32_t row) override;

private:
    struct CellNode {
        std::unique_ptr<GridCell> cell;
        CellNode* next = nullptr;
        CellNode* prev = nullptr;
    };
    struct RowNode {
        CellNode* first = nullptr;
        std::int32_t first_col = 0;  // column of the first cell node
        RowNode* next = nullptr;
        RowNode* prev = nullptr;
    };

    bool goto_row(std::int32_t row);
    bool goto_col(std::int32_t col);
    void rewind_cells();
    void rewind_rows();
    static void free_cells(RowNode* row);
    void insert_cell_before(RowNode* row);  // before the cell cursor
    const GridCell* cell_at(std::int32_t col, std::int32_t row);

    RowNode* row_ = nullptr;
    std::int32_t row_index_ = 0;
    CellNode* cell_ = nullptr;
    std::int32_t col_index_ = 0;
    std::int32_t search_col_ = 0, search_row_ = 0;
};

}  // namespace tv
