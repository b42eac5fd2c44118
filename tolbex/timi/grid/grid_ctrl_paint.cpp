// The paint of the cell area: queued cells through their cell types, the blanks beyond the last
// row and column, and the focus rectangle.
#include <algorithm>

#include "tolbex/timi/grid/grid_ctrl.h"

namespace tv {

void GridCtrl::paint_cells(fw::DrawContext& dc, bool has_focus) {
    GridSettings& s = sheet();
    if (s.default_font) dc.set_font(*s.default_font);
    s.right_col = s.num_cols;
    s.bottom_row = s.num_rows;
    const fw::Rgb black{0, 0, 0};
    fw::Rc focus{};
    bool focus_seen = false;
    std::int64_t y = 0, blank_x = -1, blank_y = -1, last_right = 0;
    for (std::int32_t i = 0; i < s.num_rows; ++i) {
        const std::int32_t row = i < s.locked_rows ? i : i - s.locked_rows + s.top_row;
        if (row >= s.num_rows) break;
        const std::int32_t h = s.row_height(row);
        if (h == 0) continue;
        if (y >= s.area_height) {
            s.bottom_row = row;
            break;
        }
        std::int64_t x = 0;
        for (std::int32_t j = 0; j < s.num_cols; ++j) {
            const std::int32_t col = j < s.locked_cols ? j : j - s.locked_cols + s.left_col;
            if (col >= s.num_cols) break;
            const std::int32_t w = s.col_width(col);
            if (w == 0) continue;
            if (x >= s.area_width) {
                s.right_col = col;
                break;
            }
            fw::Rc rect{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(x + w),
                        static_cast<std::int32_t>(y + h)};
            std::int32_t fc = col, fr = row, ec = col, er = row;
            bool draw = redraw_.contains(col, row) != 0;
            if (draw) {
                fetch(col, row, work_cell_);
                std::int32_t first, dr, dcol;
                if (s.joins_enabled && work_cell_.get_join(first, dr, dcol) &&
                    get_join_range(fc, fr, ec, er) == GRID_OK) {
                    rect = block_rect(col, row, fc, fr, ec, er, rect);
                    draw = !redraw_.has_cell(fc, fr);
                    if (draw) {
                        redraw_.add_cell(fc, fr);
                        if (fc != col || fr != row) fetch(fc, fr, work_cell_);
                    }
                }
            }
            if (draw) {
                GridCellType* type = type_of(work_cell_);
                const bool current = fr == s.current_row && (fc == s.current_col || s.highlight_row);
                int block = -1;
                const int selected = !current && s.selection.is_selected(fc, fr, &block) ? block + 1 : 0;
                type->draw(dc, rect, fc, fr, work_cell_, selected, current ? 1 : 0);
                if (s.locked_cols > 0) {
                    dc.set_pen(fw::PenStyle::Solid, black, 1);
                    if (col == s.left_col) dc.line({rect.l - 1, rect.t}, {rect.l - 1, rect.b + 1});
                    if (col == s.locked_cols - 1) dc.line({rect.r - 1, rect.t}, {rect.r - 1, rect.b + 1});
                }
                if (s.locked_rows > 0) {
                    dc.set_pen(fw::PenStyle::Solid, black, 1);
                    if (row == s.top_row) dc.line({rect.l, rect.t - 1}, {rect.r + 1, rect.t - 1});
                    if (row == s.locked_rows - 1) dc.line({rect.l, rect.b - 1}, {rect.r + 1, rect.b - 1});
                }
            }
            if (fr == s.current_row && fc == s.current_col) {
                focus = rect;
                focus_seen = true;
            }
            x += w;
            last_right = x;
            if (x > s.area_width) {
                s.right_col = col;
                break;
            }
        }
        if (x <= s.area_width && s.right_col == s.num_cols) blank_x = x;
        y += h;
        if (y > s.area_height) {
            s.bottom_row = row;
            break;
        }
        if (row == s.num_rows - 1) {
            // A source that grows on demand gets the chance to add the next row.
            const std::int32_t before = s.num_rows;
            std::int32_t next = before;
            row_check(next);
            if (s.num_rows > before) redraw_.add_range(0, before, s.num_cols - 1, before);
        }
    }
    redraw_.clear();
    if (y <= s.area_height && s.bottom_row == s.num_rows) blank_y = y;
    const fw::Rgb blank = grid_rgb(get_section_colour(kSectionCells));
    if (s.num_rows == 0 || s.num_cols == 0) {
        dc.fill_rect({0, 0, s.area_width, s.area_height}, blank);
    } else {
        if (blank_x >= 0 && blank_x < s.area_width)
            dc.fill_rect({static_cast<std::int32_t>(blank_x), 0, s.area_width, s.area_height}, blank);
        if (blank_y >= 0 && blank_y < s.area_height)
            dc.fill_rect({0, static_cast<std::int32_t>(blank_y), s.area_width, s.area_height}, blank);
    }
    if (has_focus && focus_seen) {
        if (s.highlight_row) {
            focus.l = 0;
            if (last_right <= s.area_width) {
                focus.r = static_cast<std::int32_t>(last_right);
            } else if (s.highlight_focus_width == 0) {
                std::int64_t sum = 0;
                for (std::int32_t c = s.left_col; c < s.num_cols; ++c) sum += s.col_width(c);
                focus.r = static_cast<std::int32_t>(std::min<std::int64_t>(sum, INT32_MAX));
            } else {
                focus.r = s.area_width;
            }
        }
        draw_focus_rect(dc, focus);
    }
}

}  // namespace tv
