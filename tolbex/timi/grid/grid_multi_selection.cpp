#include "tolbex/timi/grid/grid_multi_selection.h"

#include <algorithm>

namespace tv {

void GridMultiSelection::set_mode(int mode) {
    clear();
    mode_ = mode;
}

void GridMultiSelection::clear() {
    blocks_.clear();
    started_ = false;
    enumerating_ = false;
    last_col_ = -1;
    last_row_ = -1;
}

void GridMultiSelection::span(Block& b) const {
    b.box.left = std::min(b.anchor_col, b.moving_col);
    b.box.right = std::max(b.anchor_col, b.moving_col);
    b.box.top = std::min(b.anchor_row, b.moving_row);
    b.box.bottom = std::max(b.anchor_row, b.moving_row);
    if (mode_ == kGridSelectRows) {
        b.box.left = 0;
        b.box.right = host_ ? host_->selection_num_cols() : 0;
    }
}

void GridMultiSelection::queue(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
    if (host_) host_->selection_redraw_list().add_range(l, t, r, b);
}

int GridMultiSelection::start_block(std::int32_t col, std::int32_t row) {
    Block b{col, col, row, row, {}};
    span(b);
    blocks_.push_back(b);
    anchor_col_ = col;
    anchor_row_ = row;
    started_ = true;
    return 0;
}

int GridMultiSelection::extend_block(std::int32_t col, std::int32_t row) {
    if (!started_ || blocks_.empty()) return 1;
    Block& b = blocks_.back();
    const Block old = b;
    b.moving_col = col;
    b.moving_row = row;
    span(b);
    const std::int32_t l = std::min(old.box.left, b.box.left), r = std::max(old.box.right, b.box.right);
    const std::int32_t t = std::min(old.box.top, b.box.top), btm = std::max(old.box.bottom, b.box.bottom);
    if (row != old.moving_row) queue(l, std::min(row, old.moving_row), r, std::max(row, old.moving_row));
    if (col != old.moving_col) queue(std::min(col, old.moving_col), t, std::max(col, old.moving_col), btm);
    return 0;
}

int GridMultiSelection::is_selected(std::int32_t col, std::int32_t row, int* block) const {
    for (std::size_t i = blocks_.size(); i-- > 0;) {
        if (blocks_[i].box.holds(col, row)) {
            if (block) *block = static_cast<int>(i);
            return 1;
        }
    }
    return 0;
}

int GridMultiSelection::get_start_cell(std::int32_t& col, std::int32_t& row) const {
    if (!started_) return 1;
    col = anchor_col_;
    row = anchor_row_;
    return 0;
}

int GridMultiSelection::get_bounds(std::int32_t& left, std::int32_t& top, std::int32_t& right,
                                   std::int32_t& bottom) const {
    if (blocks_.empty()) return 1;
    GridRange box = blocks_.front().box;
    for (const Block& b : blocks_) {
        box.left = std::min(box.left, b.box.left);
        box.top = std::min(box.top, b.box.top);
        box.right = std::max(box.right, b.box.right);
        box.bottom = std::max(box.bottom, b.box.bottom);
    }
    left = box.left;
    top = box.top;
    right = box.right;
    bottom = box.bottom;
    return 0;
}

int GridMultiSelection::queue_bounds(GridRectList& list) const {
    std::int32_t l, t, r, b;
    if (get_bounds(l, t, r, b) != 0) return 1;
    list.add_range(l, t, r, b);
    return 0;
}

int GridMultiSelection::enum_first(std::int32_t& col, std::int32_t& row) {
    const std::int32_t cc = host_ ? host_->selection_current_col() : -1;
    const std::int32_t cr = host_ ? host_->selection_current_row() : -1;
    if (blocks_.empty()) {
        enumerating_ = false;
        col = cc;
        row = cr;
        return 0;
    }
    scan_ = {cc, cr, cc, cr};
    for (const Block& b : blocks_) {
        scan_.left = std::min(scan_.left, b.box.left);
        scan_.top = std::min(scan_.top, b.box.top);
        scan_.right = std::max(scan_.right, b.box.right);
        scan_.bottom = std::max(scan_.bottom, b.box.bottom);
    }
    next_col_ = scan_.left;
    next_row_ = scan_.top;
    enumerating_ = true;
    return enum_next(col, row);
}

int GridMultiSelection::enum_next(std::int32_t& col, std::int32_t& row) {
    if (!enumerating_) return 1;
    for (; next_row_ <= scan_.bottom; ++next_row_, next_col_ = scan_.left) {
        if (mode_ == kGridSelectRows) {
            if (is_selected(scan_.left, next_row_)) {
                col = scan_.left;
                row = next_row_++;
                next_col_ = scan_.left;
                return 0;
            }
            continue;
        }
        for (; next_col_ <= scan_.right; ++next_col_) {
            if (is_selected(next_col_, next_row_)) {
                col = next_col_++;
                row = next_row_;
                return 0;
            }
        }
    }
    enumerating_ = false;
    return 1;
}

void GridMultiSelection::queue_and_clear() {
    if (host_) queue_bounds(host_->selection_redraw_list());
    clear();
}

void GridMultiSelection::on_mouse_select(std::int32_t col, std::int32_t row, unsigned key_flags) {
    if (col == last_col_ && row == last_row_) return;
    if (key_flags & kGridMouseControl) {
        start_block(col, row);
    } else if (key_flags & kGridMouseShift) {
        extend_block(col, row);
    } else {
        queue_and_clear();
        start_block(col, row);
    }
    last_col_ = col;
    last_row_ = row;
}

void GridMultiSelection::on_key_select(std::int32_t col, std::int32_t row) {
    if (col == last_col_ && row == last_row_) return;
    if (host_ && host_->shift_down() && started_) {
        extend_block(col, row);
        return;
    }
    if (!host_ || !host_->control_down()) queue_and_clear();
    start_block(col, row);
}

void GridMultiSelection::on_right_select(std::int32_t col, std::int32_t row) {
    if (is_selected(col, row)) return;
    queue_and_clear();
    start_block(col, row);
}

void GridMultiSelection::on_drag_select(std::int32_t col, std::int32_t row) {
    if (col == last_col_ && row == last_row_) return;
    extend_block(col, row);
}

}  // namespace tv
