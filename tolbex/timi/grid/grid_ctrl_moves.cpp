// Cursor and view moves, key, mouse and wheel input, in-place editing and find of the grid.
#include <algorithm>

#include "common/values.h"
#include "tolbex/timi/grid/grid_ctrl.h"
#include "tolbex/timi/grid/grid_side_heading.h"
#include "tolbex/timi/grid/grid_top_heading.h"

namespace tv {

void GridCtrl::take_selection_current() {
    GridSettings& s = sheet();
    if (s.last_input != kInputKey || shift_ || control_ || s.selection.empty()) return;
    std::int32_t c, r;
    if (s.selection.get_start_cell(c, r) == 0) {
        s.drag_col = c;
        s.drag_row = r;
    }
}

namespace {

// One axis of the sheet, so that each move is written once for rows and columns.
struct Axis {
    const GridSettings& s;
    bool rows;
    std::int32_t count() const { return rows ? s.num_rows : s.num_cols; }
    std::int32_t locked() const { return rows ? s.locked_rows : s.locked_cols; }
    std::int32_t first() const { return rows ? s.top_row : s.left_col; }
    std::int32_t max_first() const { return rows ? s.max_top_row : s.max_left_col; }
    std::int64_t room() const { return rows ? s.area_height - s.locked_height : s.area_width - s.locked_width; }
    std::int32_t area() const { return rows ? s.area_height : s.area_width; }
    std::int32_t size(std::int32_t i) const { return rows ? s.row_height(i) : s.col_width(i); }
    std::int32_t default_size() const { return rows ? s.default_row_height : s.default_col_width; }
    std::int32_t clamp_first(std::int32_t v) const { return std::clamp(v, locked(), std::max(locked(), max_first())); }
};

std::int32_t& first_of(GridSettings& s, bool rows) { return rows ? s.top_row : s.left_col; }

}  // namespace

void GridCtrl::scroll_into_view(std::int32_t col, std::int32_t row) {
    GridSettings& s = sheet();
    for (const bool rows : {true, false}) {
        const Axis a{s, rows};
        const std::int32_t at = rows ? row : col;
        if (at < a.locked() || at >= a.count()) continue;
        const std::int64_t edge = rows ? row_y(row) : col_x(col);
        std::int32_t& shown_first = first_of(s, rows);
        if (at < shown_first) {
            shown_first = at;
        } else if (edge < 0 || edge + a.size(at) > a.area()) {
            // The first that still shows `at` whole at the far end.
            std::int64_t room = a.room();
            std::int32_t first = at;
            for (std::int32_t i = at; i >= a.locked(); --i) {
                room -= a.size(i);
                if (room < 0) break;
                first = i;
            }
            shown_first = first;
        }
        shown_first = a.clamp_first(shown_first);
    }
}

// The move to (col, row) once it is allowed: scroll when needed, then the after-move steps.
static bool in_view(const GridSettings& s, std::int64_t x, std::int64_t y, std::int32_t w, std::int32_t h) {
    return x >= 0 && y >= 0 && x + w <= s.area_width && y + h <= s.area_height;
}

void GridCtrl::land_outside_block(std::int32_t& col, std::int32_t& row, bool forward, bool across) {
    const GridSettings& s = sheet();
    std::int32_t fc = col, fr = row, ec, er;
    if (get_join_range(fc, fr, ec, er) != GRID_OK || (fc == col && fr == row)) return;
    if (forward && across && ec + 1 < s.num_cols) {
        col = ec + 1;
    } else if (forward && !across && er + 1 < s.num_rows) {
        row = er + 1;
    } else {
        col = fc;
        row = fr;
    }
}

int GridCtrl::goto_cell(std::int32_t col, std::int32_t row) {
    GridSettings& s = sheet();
    if (col < 0 || col >= s.num_cols || row < 0 || row >= s.num_rows) return GRID_BAD_INDEX;
    get_join_start(col, row);
    if (col == s.drag_col && row == s.drag_row) {
        // A click on the target still makes a selection step.
        if (s.multi_select && s.last_input != kInputKey) after_move();
        return GRID_OK;
    }
    return land_on(col, row, true);
}

int GridCtrl::goto_col(std::int32_t col) {
    GridSettings& s = sheet();
    if (s.num_cols == 0 || s.num_rows == 0) return GRID_BAD_INDEX;
    take_selection_current();
    if (col < 0) col = 0;
    if (col >= s.num_cols) {
        if (s.drag_col == s.num_cols - 1) return GRID_BAD_INDEX;
        col = s.num_cols - 1;
    }
    std::int32_t row = std::max(s.drag_row, 0);
    land_outside_block(col, row, col > s.drag_col, true);
    if (col == s.drag_col && s.drag_row == row) return GRID_OK;
    return land_on(col, row, true);
}

bool GridCtrl::row_check(std::int32_t& row) {
    GridSettings& s = sheet();
    if (row < s.num_rows) return true;
    std::int32_t added = 0;
    const std::int32_t count = s.num_rows;
    s.default_source->on_need_rows(count, row - count + 1, &added);
    on_need_rows(count, row - count + 1, &added);
    if (added > 0) set_num_rows(count + std::min(added, row - count + 1), false);
    if (row < s.num_rows) return true;
    if (s.drag_row == s.num_rows - 1) return false;
    row = s.num_rows - 1;
    return true;
}

int GridCtrl::goto_row(std::int32_t row) {
    GridSettings& s = sheet();
    if (s.num_cols == 0) return GRID_BAD_INDEX;
    take_selection_current();
    if (row < 0) row = 0;
    if (!row_check(row) || s.num_rows == 0) return GRID_BAD_INDEX;
    std::int32_t col = std::max(s.drag_col, 0);
    land_outside_block(col, row, row > s.drag_row, false);
    if (row == s.drag_row && col == s.drag_col) return GRID_OK;
    // A row move leaves the data source's can_move unasked, as it always has.
    return land_on(col, row, false);
}

int GridCtrl::land_on(std::int32_t col, std::int32_t row, bool ask_source) {
    GridSettings& s = sheet();
    if (ask_source && s.default_source->can_move(s.current_col, s.current_row, col, row) != 1) return GRID_BAD_VALUE;
    if (!can_move(s.current_col, s.current_row, col, row)) return GRID_BAD_VALUE;
    if (!in_view(s, col_x(col), row_y(row), s.col_width(col), s.row_height(row))) {
        if (!can_view_move(s.left_col, col, s.top_row, row)) return GRID_BAD_VALUE;
        scroll_into_view(col, row);
    }
    s.drag_col = col;
    s.drag_row = row;
    after_move();
    return GRID_OK;
}

int GridCtrl::set_left_col(std::int32_t col) { return set_first(false, col); }

int GridCtrl::set_top_row(std::int32_t row) { return set_first(true, row); }

int GridCtrl::set_first(bool rows, std::int32_t first) {
    GridSettings& s = sheet();
    const Axis a{s, rows};
    first = a.clamp_first(first);
    if (first == a.first()) return GRID_OK;
    if (!can_view_move(s.left_col, s.top_row, rows ? s.left_col : first, rows ? first : s.top_row))
        return GRID_BAD_VALUE;
    first_of(s, rows) = first;
    after_move();
    return GRID_OK;
}

std::int32_t GridCtrl::page_count(bool rows, std::int32_t from, bool forward) const {
    const Axis a{sheet(), rows};
    std::int64_t room = a.room();
    std::int32_t n = 0;
    for (std::int32_t i = from; room > 0; i += forward ? 1 : -1, ++n) {
        room -= i >= 0 && i < a.count() ? std::max(1, a.size(i)) : std::max(1, a.default_size());
        if (room < 0) break;
    }
    return std::max(n, 1);
}

std::int32_t GridCtrl::step_target(int code, std::int32_t at, std::int32_t count, bool rows) const {
    switch (code) {
        case 0: return at - 1;
        case 1: return at + 1;
        case 2: return at - page_count(rows, at, false);
        case 3: return at + page_count(rows, at, true);
        case 4: return 0;
        default: return count - 1;
    }
}

int GridCtrl::move_current_row(int code) {
    if (code < 0 || code > 5) return GRID_OK;
    const GridSettings& s = sheet();
    std::int32_t target = step_target(code, s.drag_row, s.num_rows, true);
    if (code == 1 || code == 3) target = std::min(target, std::max(s.num_rows - 1, 0));
    return goto_row(target);
}

int GridCtrl::move_current_col(int code) {
    if (code < 0 || code > 5) return GRID_OK;
    const GridSettings& s = sheet();
    return goto_col(step_target(code, s.drag_col, s.num_cols, false));
}

int GridCtrl::scroll_rows(int code) {
    if (code < 0 || code > 5) return GRID_OK;
    const GridSettings& s = sheet();
    return set_top_row(step_target(code, s.top_row, s.num_rows, true));
}

int GridCtrl::scroll_cols(int code) {
    if (code < 0 || code > 5) return GRID_OK;
    const GridSettings& s = sheet();
    return set_left_col(step_target(code, s.left_col, s.num_cols, false));
}

void GridCtrl::after_move() {
    GridSettings& s = sheet();
    const std::int32_t old_col = s.current_col, old_row = s.current_row;
    if (s.multi_select && !editing_ && s.drag_col >= 0 && s.drag_row >= 0) {
        switch (s.last_input) {
            case kInputKey: s.selection.on_key_select(s.drag_col, s.drag_row); break;
            case kInputLeft: s.selection.on_mouse_select(s.drag_col, s.drag_row, s.mouse_flags); break;
            case kInputRight: s.selection.on_right_select(s.drag_col, s.drag_row); break;
            default: s.selection.on_drag_select(s.drag_col, s.drag_row); break;
        }
        if (s.selection.get_start_cell(s.current_col, s.current_row) != 0) {
            s.current_col = s.drag_col;
            s.current_row = s.drag_row;
        }
    } else {
        s.current_col = s.drag_col;
        s.current_row = s.drag_row;
    }
    const bool col_changed = s.current_col != old_col, row_changed = s.current_row != old_row;
    if (col_changed) {
        s.default_source->on_col_change(old_col, s.current_col);
        on_col_change(old_col, s.current_col);
    }
    if (row_changed) {
        s.default_source->on_row_change(old_row, s.current_row);
        on_row_change(old_row, s.current_row);
    }
    if (col_changed || row_changed) on_cell_change(old_col, old_row, s.current_col, s.current_row);
    const bool scrolled = s.left_col != s.prev_left_col || s.top_row != s.prev_top_row;
    if (s.left_col != s.prev_left_col) on_left_col_change(s.prev_left_col, s.left_col);
    if (s.top_row != s.prev_top_row) on_top_row_change(s.prev_top_row, s.top_row);
    GridCell cell;
    if (col_changed || row_changed) {
        if (old_col >= 0 && old_row >= 0) {
            fetch(old_col, old_row, cell);
            type_of(cell)->on_kill_focus(old_col, old_row, cell);
        }
        if (s.current_col >= 0 && s.current_row >= 0) {
            fetch(s.current_col, s.current_row, cell);
            type_of(cell)->on_set_focus(s.current_col, s.current_row, cell);
        }
    }
    if (scrolled && s.current_col >= 0 && s.current_row >= 0) {
        fetch(s.current_col, s.current_row, cell);
        type_of(cell)->on_scrolled(s.current_col, s.current_row, cell);
    }
    // What the windows must draw again.
    if (scrolled) {
        queue_all();
        for (int part : {kSectionCells, kSectionTop, kSectionSide, 5, 6}) request_repaint(part);
    } else if (col_changed || row_changed) {
        if (s.highlight_row) {
            redraw_.add_range(0, old_row, s.num_cols, old_row);
            redraw_.add_range(0, s.current_row, s.num_cols, s.current_row);
        } else {
            redraw_.add_cell_range(old_col, old_row);
            redraw_.add_cell_range(s.current_col, s.current_row);
        }
        request_repaint(kSectionCells);
    } else if (!redraw_.empty()) {
        request_repaint(kSectionCells);
    }
    s.prev_current_col = s.current_col;
    s.prev_current_row = s.current_row;
    s.prev_left_col = s.left_col;
    s.prev_top_row = s.top_row;
}

// --- input

void GridCtrl::key_down(int key) {
    GridSettings& s = sheet();
    s.last_input = kInputKey;
    std::int32_t step = 1;
    if (s.key_accel_divisor > 0) {
        ++key_repeat_;
        const std::int32_t q = key_repeat_ / s.key_accel_divisor;
        step = q * q * q + 1;
        // The pause after the first key-down: repeats inside it do not move.
        if (s.key_initial_delay_ms > 0 && q == 0 && clock_) {
            const std::int64_t now = clock_->now_ms();
            if (key_repeat_ == 1) key_hold_until_ = now + s.key_initial_delay_ms;
            if (key_repeat_ > 1 && now < key_hold_until_) {
                --key_repeat_;
                return;
            }
        }
    }
    if (s.current_col >= 0 && s.current_row >= 0) {
        fetch(s.current_col, s.current_row, work_cell_);
        const int handled = type_of(work_cell_)->on_key_down(s.current_col, s.current_row, key);
        on_key_down(&key, handled);
    }
    std::int32_t fc = s.drag_col, fr = s.drag_row, ec = fc, er = fr;
    const bool joined = (key == kKeyRight || key == kKeyDown) && get_join_range(fc, fr, ec, er) == GRID_OK;
    if (joined) step += key == kKeyRight ? ec - fc : er - fr;
    switch (key) {
        case kKeyLeft: goto_col(s.drag_col - step); break;
        case kKeyRight: goto_col(s.drag_col + step); break;
        case kKeyUp: goto_row(s.drag_row - step); break;
        case kKeyDown: goto_row(s.drag_row + step); break;
        case kKeyPageUp: move_current_row(2); break;
        case kKeyPageDown: move_current_row(3); break;
        case kKeyHome: control_ ? move_current_row(4) : move_current_col(4); break;
        case kKeyEnd: control_ ? move_current_row(5) : move_current_col(5); break;
        default: break;
    }
}

void GridCtrl::key_up(int key) {
    key_repeat_ = 0;
    key_hold_until_ = -1;
    GridSettings& s = sheet();
    if (s.current_col < 0 || s.current_row < 0) return;
    fetch(s.current_col, s.current_row, work_cell_);
    const int handled = type_of(work_cell_)->on_key_up(s.current_col, s.current_row, key);
    on_key_up(&key, handled);
}

void GridCtrl::char_typed(int ch) {
    GridSettings& s = sheet();
    if (s.current_col < 0 || s.current_row < 0) return;
    fetch(s.current_col, s.current_row, work_cell_);
    const int handled = type_of(work_cell_)->on_char(s.current_col, s.current_row, ch);
    on_char(&ch, handled);
}

GridCtrl::CellHit GridCtrl::hit_cell(fw::Pt p, bool move_there,
                                     const std::function<int(GridCellType&, const CellHit&)>& ask) {
    CellHit hit;
    if (get_cell_from_point(p.x, p.y, hit.col, hit.row, &hit.rect) != GRID_OK)
        return CellHit{false, -1, -1, hit.rect, 0};
    hit.on_cell = true;
    if (move_there) goto_cell(hit.col, hit.row);
    fetch(hit.col, hit.row, work_cell_);
    hit.answer = ask(*type_of(work_cell_), hit);
    return hit;
}

void GridCtrl::left_down(fw::Pt p, unsigned flags) {
    if (editing_) return;
    GridSettings& s = sheet();
    s.last_input = kInputLeft;
    s.mouse_flags = flags;
    drag_row_edge_ = drag_col_edge_ = false;
    const CellHit h = hit_cell(p, true, [&](GridCellType& t, const CellHit& at) {
        return t.on_left_button(at.col, at.row, true, at.rect, p);
    });
    if (h.on_cell) capture_ = h.answer != 0;
    on_lclicked(h.col, h.row, true, h.rect, p, h.answer);
    s.last_input = kInputKey;
}

void GridCtrl::left_up(fw::Pt p) {
    const CellHit h = hit_cell(p, false, [&](GridCellType& t, const CellHit& at) {
        return t.on_left_button(at.col, at.row, false, at.rect, p);
    });
    on_lclicked(h.col, h.row, false, h.rect, p, h.answer);
    capture_ = false;
}

void GridCtrl::double_click(fw::Pt p) {
    const CellHit h = hit_cell(p, false, [&](GridCellType& t, const CellHit& at) {
        return t.on_double_click(at.col, at.row, at.rect, p);
    });
    on_dclicked(h.col, h.row, h.rect, p, h.answer);
}

void GridCtrl::right_down(fw::Pt p, unsigned flags) {
    if (editing_) return;
    GridSettings& s = sheet();
    s.last_input = kInputRight;
    s.mouse_flags = flags;
    const CellHit h = hit_cell(p, true, [&](GridCellType& t, const CellHit& at) {
        return t.on_right_button(at.col, at.row, true, at.rect, p);
    });
    on_rclicked(h.col, h.row, true, h.rect, p, h.answer);
    s.last_input = kInputKey;
    if (s.popup_menus) start_popup_menu(h.col, h.row, p, kSectionCells);  // the window layer maps the point
}

void GridCtrl::right_up(fw::Pt p) {
    const CellHit h = hit_cell(p, false, [&](GridCellType& t, const CellHit& at) {
        return t.on_right_button(at.col, at.row, false, at.rect, p);
    });
    on_rclicked(h.col, h.row, false, h.rect, p, h.answer);
}

void GridCtrl::mouse_move(fw::Pt p, unsigned flags, bool left_held) {
    GridSettings& s = sheet();
    if (capture_) {
        fetch(s.current_col, s.current_row, work_cell_);
        const int answer = type_of(work_cell_)->on_mouse_move(s.current_col, s.current_row, p, flags);
        on_mouse_moved(s.current_col, s.current_row, p, answer);
        return;
    }
    if (editing_) return;
    s.last_input = kInputPointer;
    s.mouse_flags = flags;
    std::int32_t c = -1, r = -1;
    if (get_cell_from_point(p.x, p.y, c, r) == GRID_OK) {
        fetch(c, r, work_cell_);
        const int answer = type_of(work_cell_)->on_mouse_move(c, r, p, flags);
        on_mouse_moved(c, r, p, answer);
    }
    if (left_held) drag_step(p);
    s.last_input = kInputKey;
}

int GridCtrl::drag_step(fw::Pt p) {
    GridSettings& s = sheet();
    s.last_input = kInputPointer;
    std::int32_t c, r;
    if (get_cell_from_point(p.x, p.y, c, r) == GRID_OK) {
        if (r == s.bottom_row) drag_row_edge_ = true;
        if (c == s.right_col) drag_col_edge_ = true;
        if (s.locked_cols == 0 && s.locked_rows == 0) {
            goto_cell(c, r);
        } else {
            if (s.drag_col >= s.locked_cols && c < s.locked_cols)
                move_current_col(0);
            else
                goto_col(c);
            if (s.drag_row >= s.locked_rows && r < s.locked_rows)
                move_current_row(0);
            else
                goto_row(r);
        }
    }
    auto power = [](std::int64_t base, int exp) {
        std::int64_t v = 1;
        for (int i = 0; i < exp && v < (1 << 20); ++i) v *= base;
        return static_cast<std::int32_t>(std::min<std::int64_t>(v, 1 << 20));
    };
    // Past an edge of the cell area the cursor runs on, faster the farther out the pointer is.
    const auto run = [&](bool rows, std::int32_t at, bool at_far_edge) {
        const Axis a{s, rows};
        const std::int32_t unit = std::max(1, a.default_size());
        const std::int32_t drag = rows ? s.drag_row : s.drag_col;
        if (at >= 0 && at <= a.area() && !at_far_edge) return false;
        const bool back = at < 0;
        if (s.drag_exponent == 0) {
            rows ? move_current_row(back ? 0 : 1) : move_current_col(back ? 0 : 1);
        } else {
            const std::int32_t step = power(back ? 1 - at / unit : (at - a.area()) / unit + 1, s.drag_exponent);
            rows ? goto_row(back ? drag - step : drag + step) : goto_col(back ? drag - step : drag + step);
        }
        return true;
    };
    const bool scrolled_across = run(false, p.x, drag_col_edge_);
    const bool scrolled = run(true, p.y, drag_row_edge_) || scrolled_across;
    s.last_input = kInputKey;
    return scrolled ? std::max(1, s.drag_delay_ms) : 0;
}

void GridCtrl::wheel(int delta) {
    GridSettings& s = sheet();
    s.last_input = kInputPointer;
    set_top_row(s.top_row - (delta / 120) * 3);
}

void GridCtrl::focus_in() {
    has_focus_ = true;
    capture_ = false;
    key_repeat_ = 0;
    on_set_focus(kSectionCells);
    redraw_cell(get_current_col(), get_current_row());
}

void GridCtrl::focus_out() {
    has_focus_ = false;
    on_kill_focus(kSectionCells);
    redraw_cell(get_current_col(), get_current_row());
}

// --- editing

int GridCtrl::start_edit(std::int32_t col, std::int32_t row, int first_char) {
    GridSettings& s = sheet();
    const auto sides = static_cast<std::int32_t>(s.side_widths.size());
    const auto heads = static_cast<std::int32_t>(s.heading_heights.size());
    if (col < -sides || col >= s.num_cols || row < -heads || row >= s.num_rows) return 1;
    editing_ = true;
    s.selection.queue_bounds(redraw_);
    s.selection.clear();
    if (col >= 0 && row >= 0 && (col != s.current_col || row != s.current_row)) {
        if (goto_cell(col, row) != GRID_OK) {
            editing_ = false;
            return 2;
        }
    }
    fetch(col, row, edit_cell_);
    GridCellType* type = type_of(edit_cell_);
    fw::Rc rect{};
    int section = kSectionCells;
    if (row < 0) {
        section = kSectionTop;
        top_->cell_rect(col, row, rect);
    } else if (col < 0) {
        section = kSectionSide;
        side_->cell_rect(col, row, rect);
    } else if (get_cell_rect(col, row, rect) == GRID_OK) {
        rect.r -= 1;
        rect.b -= 1;
    }
    if (!type->accepts_edit || edit_cell_.get_read_only() != 0) {
        editing_ = false;
        return 1;
    }
    type->get_edit_area(rect);
    GridEditor* editor = edit_cell_.is_property_set(kCellMask) && masked_editor_ ? masked_editor_ : plain_editor_;
    if (s.default_source->can_start_edit(col, row, &editor) == 0 || can_start_edit(col, row, &editor) == 0 || !editor) {
        editing_ = false;
        return 1;
    }
    editor_ = editor;
    edit_end_ = GridEditEnd{col, row, false, false};
    edit_mask_.set_mask(edit_cell_.get_mask());
    edit_col_ = col;
    edit_row_ = row;
    edit_section_ = section;
    editor->set_mask(edit_cell_.get_mask());
    editor->set_text(edit_cell_.get_text());
    const fw::Font* font = edit_cell_.get_font();
    editor->set_font(font ? font : s.default_font ? &*s.default_font : nullptr);
    editor->place(section, rect);
    editor->show();
    if (first_char > 0) editor->type_char(first_char);
    return GRID_OK;
}

int GridCtrl::finish_edit(const std::string& text, bool cancelled, bool move_on, std::int32_t next_col,
                          std::int32_t next_row) {
    GridSettings& s = sheet();
    if (!editing_) cancelled = true;
    if (s.default_source->on_edit_finish(edit_col_, edit_row_, editor_, text, cancelled) != 1 ||
        !on_edit_finish(edit_col_, edit_row_, editor_, text, cancelled))
        return editing_ ? 0 : 1;
    if (editor_) editor_->hide();
    if (!editing_) return 1;
    if (!cancelled) {
        set_cell_text(edit_col_, edit_row_, text);
        redraw_cell(edit_col_, edit_row_);
        // Text wider than its column runs into an empty neighbour: draw the row again.
        if (s.overflow && edit_col_ >= 0 && edit_row_ >= 0 && edit_col_ + 1 < s.num_cols && measure_ &&
            get_cell_text(edit_col_ + 1, edit_row_).empty() && measure_->text_extent(text).cx > s.col_width(edit_col_))
            redraw_row(edit_row_);
    }
    editing_ = false;
    editor_ = nullptr;
    if (move_on && edit_section_ == kSectionCells && s.num_cols > 0 && s.num_rows > 0) {
        if (next_col < 0) next_col = s.num_cols - 1;
        if (next_col >= s.num_cols) next_col = 0;
        if (next_row < 0) next_row = s.num_rows - 1;
        if (next_row >= s.num_rows) next_row = 0;
        if (s.default_source->on_edit_continue(edit_col_, edit_row_, &next_col, &next_row) == 1 &&
            on_edit_continue(edit_col_, edit_row_, &next_col, &next_row))
            start_edit(next_col, next_row, 0);
    }
    return 1;
}

bool GridCtrl::editor_key_down(int key) {
    if (!editing_ || !grid_edit_key_down(edit_end_, key, shift_, edit_col_, edit_row_)) return false;
    const GridEditEnd end = edit_end_;
    finish_edit(editor_ ? editor_->text() : std::string(), end.cancelled, end.move, end.next_col, end.next_row);
    return true;
}

bool GridCtrl::editor_char(int& ch) {
    if (!editing_) return false;
    GridDataSource* src = sheet().default_source;
    return grid_edit_char(
        ch, edit_col_, edit_row_,
        [&](std::int32_t c, std::int32_t r, int* k) { return src->on_edit_key(c, r, editor_, k); },
        [&](std::int32_t c, std::int32_t r, int* k) { return on_edit_key(c, r, editor_, k); });
}

GridMaskedChar GridCtrl::editor_masked_char(std::size_t caret, int ch) {
    if (!editing_) return {};
    GridDataSource* src = sheet().default_source;
    return grid_masked_edit_char(
        edit_mask_, caret, ch, edit_col_, edit_row_,
        [&](std::int32_t c, std::int32_t r, int* k) { return src->on_edit_key(c, r, editor_, k); },
        [&](std::int32_t c, std::int32_t r, int* k) { return on_edit_key(c, r, editor_, k); });
}

void GridCtrl::editor_focus_lost(GridFocusTarget to) {
    if (!editing_) return;
    grid_edit_focus_lost(edit_end_, sheet().cancel_edit_on_leave, to);
    const GridEditEnd end = edit_end_;
    finish_edit(editor_ ? editor_->text() : std::string(), end.cancelled, false, end.next_col, end.next_row);
}

// --- find and replace

int GridCtrl::find(const std::string& what, const std::string& with, FindAction action, bool match_case, bool whole,
                   bool down, bool all_cols) {
    GridSettings& s = sheet();
    int flags = 0;
    if (!match_case) flags |= GRID_FIND_NOCASE;
    if (!whole) flags |= GRID_FIND_PARTIAL;
    if (!down) flags |= GRID_FIND_UP;
    if (all_cols) flags |= GRID_FIND_ALLCOLS;
    if (s.num_cols == 0 || s.num_rows == 0 || what.empty()) {
        on_not_found();
        return 1;
    }
    const auto fold = [&](char c) { return match_case ? c : ascii_upper(c); };
    const auto equal = [&](char a, char b) { return fold(a) == fold(b); };
    const auto same = [&](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), equal);
    };
    const auto holds = [&](std::string_view text, std::string_view part) {
        return std::search(text.begin(), text.end(), part.begin(), part.end(), equal) != text.end();
    };
    const auto matches = [&](std::string_view text) {
        return (flags & GRID_FIND_PARTIAL) ? holds(text, what) : same(text, what);
    };
    const auto replace_current = [&] {
        if (!matches(get_cell_text(s.current_col, s.current_row))) return;
        set_cell_text(s.current_col, s.current_row, with);
        redraw_cell(s.current_col, s.current_row);
    };
    if (action != FindAction::Find) {
        replace_current();
        if (same(with, what) || ((flags & GRID_FIND_PARTIAL) && holds(with, what))) return 0;
    }
    // Every cell at most once, however the replacement reads.
    const std::int64_t cap = static_cast<std::int64_t>(s.num_rows) * s.num_cols + 1;
    for (std::int64_t pass = 0; pass < cap; ++pass) {
        std::int32_t col = get_col_data_column(s.current_col), row = s.current_row;
        int found = s.default_source->find_next(what, col, row, flags);
        if (found == kGridUnsupported) {
            // Search through the grid itself when the source cannot.
            found = 1;
            std::int32_t c = s.current_col, r = s.current_row;
            const std::int64_t cells = static_cast<std::int64_t>(s.num_rows) * (all_cols ? s.num_cols : 1);
            for (std::int64_t i = 0; i < cells; ++i) {
                if (all_cols) {
                    c += down ? 1 : -1;
                    if (c >= s.num_cols || c < 0) {
                        c = down ? 0 : s.num_cols - 1;
                        r += down ? 1 : -1;
                    }
                } else {
                    r += down ? 1 : -1;
                }
                if (r >= s.num_rows) r = 0;
                if (r < 0) r = s.num_rows - 1;
                fetch(c, r, work_cell_);
                const std::string_view text = work_cell_.get_text_view();
                if (!text.empty() && matches(text)) {
                    found = 0;
                    col = get_col_data_column(c);
                    row = r;
                    break;
                }
            }
        }
        if (found != 0) {
            if (action != FindAction::ReplaceAll) on_not_found();
            return 1;
        }
        std::int32_t grid_col = col;
        for (std::int32_t c = 0; c < s.num_cols; ++c)
            if (s.cols[static_cast<std::size_t>(c)].data_col == col) {
                grid_col = c;
                break;
            }
        goto_cell(grid_col, row);
        if (action != FindAction::ReplaceAll) return 0;
        replace_current();
    }
    return 0;
}

}  // namespace tv
