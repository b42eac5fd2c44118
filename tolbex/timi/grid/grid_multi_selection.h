// The selected cells of one grid sheet: rectangular blocks in creation order, each spanned by an
// anchor and a moving corner. Answers whether a cell is selected (and by which block), the box
// of all blocks, and the selected cells one by one in reading order. Shape changes queue the
// affected cells in the cell area's redraw list.
#pragma once
#include <cstdint>
#include <vector>

#include "tolbex/timi/grid/grid_rect_list.h"

namespace tv {

// What the selection needs of its grid.
class GridSelectionHost {
public:
    virtual ~GridSelectionHost() = default;
    virtual std::int32_t selection_num_cols() const = 0;
    virtual std::int32_t selection_current_col() const = 0;
    virtual std::int32_t selection_current_row() const = 0;
    virtual GridRectList& selection_redraw_list() = 0;
    // The keyboard state at the time of the step.
    virtual bool shift_down() const = 0;
    virtual bool control_down() const = 0;
};

inline constexpr int kGridSelectOff = 0;
inline constexpr int kGridSelectCells = 1;
inline constexpr int kGridSelectRows = 2;
inline constexpr unsigned kGridMouseShift = 4;  // mouse key flags of a press
inline constexpr unsigned kGridMouseControl = 8;

// Results: 0 done, 1 nothing to work on.
class GridMultiSelection {
public:
    void set_host(GridSelectionHost* host) { host_ = host; }
    void set_mode(int mode);
    int get_mode() const { return mode_; }
    void clear();
    void reset() { clear(); }

    int start_block(std::int32_t col, std::int32_t row);
    int extend_block(std::int32_t col, std::int32_t row);
    // 1 when a block holds the cell; `block` gets the newest such block's number.
    int is_selected(std::int32_t col, std::int32_t row, int* block = nullptr) const;
    int get_start_cell(std::int32_t& col, std::int32_t& row) const;
    int get_bounds(std::int32_t& left, std::int32_t& top, std::int32_t& right, std::int32_t& bottom) const;
    int queue_bounds(GridRectList& list) const;
    // With no blocks the first answer is the current cell.
    int enum_first(std::int32_t& col, std::int32_t& row);
    int enum_next(std::int32_t& col, std::int32_t& row);
    bool empty() const { return blocks_.empty(); }
    std::size_t block_count() const { return blocks_.size(); }

    // The selection steps after a move of the current cell, by how the move was made.
    void on_key_select(std::int32_t col, std::int32_t row);
    void on_mouse_select(std::int32_t col, std::int32_t row, unsigned key_flags);
    void on_right_select(std::int32_t col, std::int32_t row);
    void on_drag_select(std::int32_t col, std::int32_t row);

private:
    struct Block {
        std::int32_t anchor_col, moving_col, anchor_row, moving_row;
        GridRange box;
    };
    void span(Block& b) const;
    void queue(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b);
    void queue_and_clear();

    GridSelectionHost* host_ = nullptr;
    int mode_ = kGridSelectOff;
    std::vector<Block> blocks_;
    bool started_ = false;
    std::int32_t anchor_col_ = -1, anchor_row_ = -1;
    std::int32_t last_col_ = -1, last_row_ = -1;
    GridRange scan_{};
    std::int32_t next_col_ = 0, next_row_ = 0;
    bool enumerating_ = false;
};

}  // namespace tv
