// The abstract source of rows, columns and cell contents behind the grid's columns, with the
// hooks through which a source may refuse or redirect moves, edits and key strokes.
#pragma once
#include <cstdint>
#include <string>

#include "tolbex/timi/grid/grid_cell.h"

namespace tv {

// Find flags of find_first / find_next.
inline constexpr int GRID_FIND_PARTIAL = 1;
inline constexpr int GRID_FIND_NOCASE = 2;
inline constexpr int GRID_FIND_UP = 4;
inline constexpr int GRID_FIND_ALLCOLS = 8;

// Result of an operation a source does not support.
inline constexpr int kGridUnsupported = -1;

// What a source needs of the control it is registered with. The grid control implements it.
class GridSourceHost {
public:
    virtual ~GridSourceHost() = default;
    virtual std::int32_t get_number_rows() const = 0;
    virtual std::int32_t get_number_cols() const = 0;
    // The data column that grid column `grid_col` shows (0 <= grid_col < get_number_cols()).
    virtual std::int32_t get_col_data_column(std::int32_t grid_col) const = 0;
    virtual void set_col_data_column(std::int32_t grid_col, std::int32_t data_col) = 0;
    // Negative, 0 or positive; either cell may be absent.
    virtual int compare_cells(const GridCell* a, const GridCell* b, int flags) = 0;
};

// An editor window of the grid, opaque to the sources.
class GridEditor;

class GridDataSource {
public:
    GridDataSource() = default;
    virtual ~GridDataSource() = default;
    GridDataSource(const GridDataSource&) = delete;
    GridDataSource& operator=(const GridDataSource&) = delete;

    // Registration with a control (set by the control's add_data_source).
    void set_grid(GridSourceHost* grid, std::int32_t id) {
        grid_ = grid;
        id_ = id;
    }
    GridSourceHost* grid() const { return grid_; }
    std::int32_t id() const { return id_; }

    virtual std::int32_t get_num_rows() { return kGridUnsupported; }
    virtual std::int32_t get_num_cols() { return kGridUnsupported; }
    // The two argument-less operations beside insert_row (the in-memory source answers 0).
    virtual int on_before_insert_row() { return kGridUnsupported; }
    virtual int on_after_insert_row() { return kGridUnsupported; }
    virtual int insert_row(std::int32_t /*row*/) { return kGridUnsupported; }
    virtual int insert_col(std::int32_t /*col*/) { return kGridUnsupported; }
    virtual int delete_row(std::int32_t /*row*/) { return kGridUnsupported; }
    virtual int delete_col(std::int32_t /*col*/) { return kGridUnsupported; }
    virtual int delete_cell(std::int32_t /*col*/, std::int32_t /*row*/) { return kGridUnsupported; }
    virtual int delete_all() { return kGridUnsupported; }
    // Adds the source's properties to `cell`; 0 when it holds the cell.
    virtual int get_cell(std::int32_t /*col*/, std::int32_t /*row*/, GridCell& /*cell*/) { return kGridUnsupported; }
    virtual int set_cell(std::int32_t /*col*/, std::int32_t /*row*/, const GridCell& /*cell*/) {
        return kGridUnsupported;
    }
    virtual int find_first(const std::string& /*text*/, std::int32_t& /*col*/, std::int32_t& /*row*/, int /*flags*/) {
        return kGridUnsupported;
    }
    virtual int find_next(const std::string& /*text*/, std::int32_t& /*col*/, std::int32_t& /*row*/, int /*flags*/) {
        return kGridUnsupported;
    }
    virtual int sort_rows(const std::int32_t* /*cols*/, int /*count*/, int /*flags*/) { return kGridUnsupported; }
    virtual int sort_by_col(std::int32_t /*col*/, int /*flags*/) { return kGridUnsupported; }
    virtual int on_need_rows(std::int32_t /*rows*/, std::int32_t /*wanted*/, std::int32_t* /*added*/) {
        return kGridUnsupported;
    }
    virtual void on_row_change(std::int32_t /*old_row*/, std::int32_t /*new_row*/) {}
    virtual void on_col_change(std::int32_t /*old_col*/, std::int32_t /*new_col*/) {}
    // 1 allows the move.
    virtual int can_move(std::int32_t /*old_col*/, std::int32_t /*old_row*/, std::int32_t /*new_col*/,
                         std::int32_t /*new_row*/) {
        return 1;
    }
    virtual int can_start_edit(std::int32_t /*col*/, std::int32_t /*row*/, GridEditor** /*editor*/) { return 1; }
    virtual int on_edit_key(std::int32_t /*col*/, std::int32_t /*row*/, GridEditor* /*editor*/, int* /*key*/) {
        return 1;
    }
    virtual int on_edit_finish(std::int32_t /*col*/, std::int32_t /*row*/, GridEditor* /*editor*/,
                               const std::string& /*text*/, bool /*cancelled*/) {
        return 1;
    }
    virtual int on_edit_continue(std::int32_t /*col*/, std::int32_t /*row*/, std::int32_t* /*next_col*/,
                                 std::int32_t* /*next_row*/) {
        return 1;
    }
    // 0 and the column of the nearest cell left of `col` in `row` with text.
    virtual int find_prev_non_blank(std::int32_t& /*col*/, std::int32_t /*row*/) { return kGridUnsupported; }

private:
    GridSourceHost* grid_ = nullptr;
    std::int32_t id_ = -1;
};

}  // namespace tv
