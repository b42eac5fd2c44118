#include "tolbex/timi/grid/grid_cell_type.h"

#include <algorithm>
#include <cmath>

#include "tolbex/timi/grid/grid_ctrl.h"

namespace tv {

namespace {

const fw::Rgb kBlack{0, 0, 0};

void pen(fw::DrawContext& dc, GridColour c, int width = 1) { dc.set_pen(fw::PenStyle::Solid, grid_rgb(c), width); }

// Longest prefix of `text` that fits `width` with "..." after it.
std::string ellipsize(fw::DrawContext& dc, const std::string& text, int width) {
    if (dc.text_extent(text).cx <= width) return text;
    std::size_t n = text.size();
    while (n > 0 && dc.text_extent(text.substr(0, n) + "...").cx > width) --n;
    return text.substr(0, n) + "...";
}

}  // namespace

void GridCellType::select_font(fw::DrawContext& dc, const GridCell& cell) const {
    if (const fw::Font* f = cell.get_font())
        dc.set_font(*f);
    else if (grid_ && grid_->sheet().default_font)
        dc.set_font(*grid_->sheet().default_font);
    else
        dc.set_font(fw::Font{});
}

void GridCellType::colours(const GridCell& cell, int selected, int current, GridColour& text, GridColour& back) const {
    const bool current_lit = current && grid_ && (grid_->sheet().current_highlight & 2);
    if (selected || current_lit) {
        text = cell.get_highlight_text_colour();
        back = cell.get_highlight_colour();
    } else {
        text = cell.get_text_colour();
        back = cell.get_back_colour();
    }
}

bool GridCellType::cell_may_overflow(const GridCell& cell) const {
    if (!may_overflow) return false;
    if (cell.is_property_set(kCellAlignment)) return (cell.get_alignment() & 1) != 0;
    return cell.get_cell_type_param() == 0 && !cell.is_property_set(kCellJoin);
}

fw::Rc GridCellType::draw_border(fw::DrawContext* dc, const fw::Rc& rect, const GridCell& cell) {
    const GridSettings* s = grid_ ? &grid_->sheet() : nullptr;
    const int style = cell.get_border();
    bool lines = s && s->grid_lines;
    if (style == 0 && !lines) return rect;
    fw::Rc in = rect;
    if (style & 0x3000) {
        const int width = s ? s->frame_width_3d : 1;
        const GridSystemColours sys = grid_system_colours();
        const GridColour first = (style & 0x1000) ? sys.button_shadow : sys.button_highlight;
        const GridColour second = (style & 0x1000) ? sys.button_highlight : sys.button_shadow;
        for (int i = 0; dc && i < width; ++i) {
            pen(*dc, first);
            dc->polyline({{in.l, in.b - 1}, {in.l, in.t}, {in.r, in.t}});
            pen(*dc, second);
            dc->polyline({{in.r - 1, in.t + 1}, {in.r - 1, in.b - 1}, {in.l, in.b - 1}});
            in = {in.l + 1, in.t + 1, in.r - 1, in.b - 1};
        }
        return {rect.l + width, rect.t + width, rect.r - width, rect.b - width};
    }
    const GridPen* own = cell.get_border_pen();
    const GridPen grid_pen = s ? s->grid_pen : GridPen{fw::PenStyle::Solid, 0xDCDCDC, 1};
    const GridPen border = own ? *own : grid_pen;
    // Lines per side: single, double or triple.
    auto count = [&](int bit) { return (style & bit) ? 1 : (style & (bit << 4)) ? 2 : (style & (bit << 8)) ? 3 : 0; };
    int n_left = count(1), n_top = count(2), n_right = count(4), n_bottom = count(8);
    const GridPen right_pen = n_right ? border : grid_pen;
    const GridPen bottom_pen = n_bottom ? border : grid_pen;
    if (lines) {
        n_right = std::max(n_right, 1);
        n_bottom = std::max(n_bottom, 1);
    }
    if (!dc) return {rect.l + n_left, rect.t + n_top, rect.r - n_right, rect.b - n_bottom};
    if (n_left || n_top) dc->set_pen(border.style, grid_rgb(border.colour), border.width);
    for (int i = 0; i < n_left; ++i) dc->line({rect.l + i, rect.t}, {rect.l + i, rect.b});
    for (int i = 0; i < n_top; ++i) dc->line({rect.l, rect.t + i}, {rect.r, rect.t + i});
    if (n_right) dc->set_pen(right_pen.style, grid_rgb(right_pen.colour), right_pen.width);
    for (int i = 0; i < n_right; ++i) dc->line({rect.r - 1 - i, rect.t}, {rect.r - 1 - i, rect.b});
    if (n_bottom) dc->set_pen(bottom_pen.style, grid_rgb(bottom_pen.colour), bottom_pen.width);
    for (int i = 0; i < n_bottom; ++i) dc->line({rect.l, rect.b - 1 - i}, {rect.r, rect.b - 1 - i});
    return {rect.l + n_left, rect.t + n_top, rect.r - n_right, rect.b - n_bottom};
}

void GridCellType::draw_text(fw::DrawContext& dc, fw::Rc rect, const GridCell& cell, int selected, int current) {
    std::string text;
    if (draws_label || cell.get_cell_type_param() == 8)
        cell.get_label(text);
    else
        text = cell.get_text();
    GridColour fore, back;
    colours(cell, selected, current, fore, back);
    if (rect.r <= rect.l || rect.b <= rect.t) return;
    select_font(dc, cell);
    dc.set_text_colour(grid_rgb(fore));
    const int margin = grid_ ? grid_->sheet().text_margin : 4;
    const int align = cell.get_alignment();
    const int param = cell.get_cell_type_param();
    dc.fill_rect(rect, grid_rgb(back));
    if (text.empty()) return;
    if (param & 2) {
        fw::TextOpts o;
        o.word_wrap = true;
        o.align = (align & 4)   ? fw::TextOpts::Align::Center
                  : (align & 2) ? fw::TextOpts::Align::Right
                                : fw::TextOpts::Align::Left;
        dc.clip_device(dc.rect_to_device(rect));
        dc.text({rect.l + margin, rect.t, rect.r - margin, rect.b}, text, o);
        dc.clear_clip();
        return;
    }
    if (param & 4) {
        rect.l += 3;
        text = ellipsize(dc, text, rect.width());
    }
    const fw::Sz size = dc.text_extent(text);
    std::int32_t x = rect.l + margin;
    if (align & 4)
        x = rect.l + (rect.width() - size.cx) / 2;
    else if (align & 2)
        x = rect.r - margin - size.cx;
    std::int32_t y = rect.t + 1;
    if (align & 0x20)
        y = rect.t + (rect.height() - size.cy) / 2;
    else if (align & 0x10)
        y = rect.b - size.cy - 1;
    dc.clip_device(dc.rect_to_device(rect));
    dc.text_out({x, y}, text);
    dc.clear_clip();
}

void GridCellType::draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row,
                        const GridCell& cell, int selected, int current) {
    if (grid_ && grid_->sheet().overflow && col > 0 && row >= 0 && cell_may_overflow(cell) &&
        cell.get_text_length() == 0 && !(draws_label || cell.get_cell_type_param() == 8)) {
        // Text running in from the nearest non-empty cell on the left.
        GridSettings& s = grid_->sheet();
        std::int32_t data_col = grid_->get_col_data_column(col);
        if (s.source_of(col)->find_prev_non_blank(data_col, row) == 0) {
            std::int32_t from = -1;
            for (std::int32_t c = col - 1; c >= 0; --c)
                if (grid_->get_col_data_column(c) == data_col) {
                    from = c;
                    break;
                }
            fw::Rc own{};
            GridCell left;
            if (from >= 0 && grid_->get_cell_rect(from, row, own) == GRID_OK) {
                grid_->get_cell(from, row, left);
                GridCellType* t = grid_->type_of(left);
                select_font(dc, left);
                const std::string text = left.get_text();
                const std::int32_t x = own.l + s.text_margin;
                if (t && t->cell_may_overflow(left) && x + dc.text_extent(text).cx > rect.l) {
                    GridColour fore, back;
                    colours(cell, selected, current, fore, back);
                    const fw::Rc in = draw_border(&dc, rect, cell);
                    dc.fill_rect(in, grid_rgb(back));
                    dc.set_text_colour(grid_rgb(fore));
                    dc.clip_device(dc.rect_to_device(in));
                    dc.text_out({x, own.t + 1}, text);
                    dc.clear_clip();
                    return;
                }
            }
        }
    }
    draw_text(dc, draw_border(&dc, rect, cell), cell, selected, current);
}

void GridCellType::get_best_size(fw::DrawContext& dc, fw::Sz& size, const GridCell& cell) {
    select_font(dc, cell);
    fw::Sz s{3, 3};
    const std::string text = cell.get_text();
    if (!text.empty()) s = dc.text_extent(text);
    size = {s.cx + 6, s.cy + 2};
}

void GridCellType::print(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row,
                         const GridCell& cell) {
    std::int64_t height = 1;
    if (grid_) {
        const GridSettings& s = grid_->sheet();
        if (row >= 0)
            height = grid_->get_row_height(row);
        else if (static_cast<std::size_t>(-std::int64_t{row}) <= s.heading_heights.size())
            height = s.heading_heights[static_cast<std::size_t>(-std::int64_t{row} - 1)];
    }
    std::int32_t first = 0, rows = 0, cols = 0;
    const std::int64_t joined = cell.get_join(first, rows, cols) && first && rows > 0 ? std::int64_t{rows} + 1 : 1;
    print_scale = static_cast<double>(rect.height()) / static_cast<double>(std::max<std::int64_t>(height, 1)) /
                  static_cast<double>(joined);
    fw::Font font;
    if (const fw::Font* f = cell.get_font())
        font = *f;
    else if (grid_ && grid_->sheet().default_font)
        font = *grid_->sheet().default_font;
    GridCell scaled = cell;
    fw::Font big = font;
    big.em_height = static_cast<int>(std::clamp(font.em_height * print_scale, 1.0, 32767.0));
    scaled.set_font(big);
    draw(dc, rect, col, row, scaled, 0, 0);
    dc.set_font(font);
}

// --- drop list

int GridDropListCellType::get_edit_area(fw::Rc& rect) {
    rect.r -= button_width + 1;
    return 0;
}

void GridDropListCellType::open_list(std::int32_t col, std::int32_t row) {
    if (!grid_) return;
    GridCell cell;
    grid_->get_cell(col, row, cell);
    std::string label;
    cell.get_label(label);
    std::vector<std::string> entries = grid_drop_list_entries(label);
    grid_->on_cell_type_notify(index_, col, row, kNotifyListOpening, reinterpret_cast<long>(&entries));
    const fw::Font* font = cell.get_font();
    if (!font && grid_->sheet().default_font) font = &*grid_->sheet().default_font;
    const int line = font ? std::max(1, font->em_height) : 12;
    fw::Rc rect{};
    grid_->get_cell_rect(col, row, rect);
    const fw::Rc& area = grid_->components().cells;
    grid_->list_owner_ = &open_;
    grid_->list_type_ = index_;
    grid_->show_drop_list(col, row, entries,
                          grid_drop_list_rect(rect, entries.size(), line, {0, 0, area.width(), area.height()}), font);
    grid_->list_owner_ = nullptr;
    grid_->redraw_cell(col, row);
}

int GridDropListCellType::on_left_button(std::int32_t col, std::int32_t row, bool down, const fw::Rc& rect,
                                         fw::Pt point) {
    if (down) {
        if (point.x > rect.r - button_width) {
            if (open_.col == col && open_.row == row) {
                open_ = {};
                return 0;
            }
            button_ = {rect.r - button_width, rect.t, rect.r, rect.b};
            pressed_ = true;
            open_ = {col, row};
            if (grid_) grid_->redraw_cell(col, row);
            open_list(col, row);
            return 1;
        }
        if (open_.col == -2) open_ = {};
        return 0;
    }
    if (pressed_) {
        pressed_ = false;
        if (grid_) grid_->redraw_cell(col, row);
        return 1;
    }
    return 0;
}

int GridDropListCellType::on_double_click(std::int32_t col, std::int32_t row, const fw::Rc& rect, fw::Pt point) {
    if (point.x > rect.r - button_width) return on_left_button(col, row, true, rect, point);
    return 0;
}

int GridDropListCellType::on_key_down(std::int32_t col, std::int32_t row, int& key) {
    if (key == 13 || (key == kKeyDown && grid_ && grid_->control_down())) {
        if (open_.col < 0) {
            open_ = {col, row};
            open_list(col, row);
        }
        key = 0;
        return 1;
    }
    return 0;
}

int GridDropListCellType::on_mouse_move(std::int32_t col, std::int32_t row, fw::Pt p, unsigned flags) {
    if (!(flags & 1)) return 1;  // MK_LBUTTON
    const bool inside = p.x >= button_.l && p.x <= button_.r && p.y >= button_.t && p.y <= button_.b;
    if (inside != pressed_) {
        pressed_ = inside;
        if (grid_) grid_->redraw_cell(col, row);
    }
    return 0;
}

void GridDropListCellType::draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row,
                                const GridCell& cell, int selected, int current) {
    if ((cell.get_cell_type_param() & 0x200) && !current) {
        GridCellType::draw_text(dc, draw_border(&dc, rect, cell), cell, selected, current);
        return;
    }
    const fw::Rc in = draw_border(&dc, rect, cell);
    const GridSystemColours sys = grid_system_colours();
    // Printed, the button keeps its share of the cell at the print's scale.
    const int bw = dc.kind() == fw::DrawContext::Kind::Printer
                       ? static_cast<int>(std::clamp(button_width * print_scale, 0.0, 32767.0))
                       : button_width;
    const fw::Rc button{in.r - bw, in.t, in.r, in.b};
    dc.fill_rect(button, grid_rgb(sys.button_face));
    const bool sunk = pressed_ && current;
    pen(dc, sunk ? sys.button_shadow : sys.button_highlight);
    dc.polyline({{button.l, button.b - 1}, {button.l, button.t}, {button.r, button.t}});
    pen(dc, sunk ? sys.button_highlight : sys.button_shadow);
    dc.polyline({{button.r - 1, button.t + 1}, {button.r - 1, button.b - 1}, {button.l, button.b - 1}});
    pen(dc, sys.button_face);
    dc.line({button.l - 1, button.t}, {button.l - 1, button.b});
    const int x0 = button.l + (bw - 5) / 2, y0 = in.t + (in.height() - 3) / 2;
    dc.set_pen(fw::PenStyle::Solid, kBlack, 1);
    dc.line({x0, y0}, {x0 + 5, y0});
    dc.line({x0 + 1, y0 + 1}, {x0 + 4, y0 + 1});
    dc.line({x0 + 2, y0 + 2}, {x0 + 3, y0 + 2});
    draw_text(dc, {in.l, in.t, in.r - bw - 1, in.b}, cell, selected, current);
    (void)col;
    (void)row;
}

// --- check box

fw::Rc GridCheckBoxCellType::box_rect(const fw::Rc& rect, int param, int align) {
    const int side = std::min(12, rect.height() - 6);
    if (side < 6) return {rect.l, rect.t, rect.l, rect.t};
    int x = rect.l + 3, y = rect.t + (rect.height() - side) / 2;
    if (param & 4) {
        if (align & 4)
            x = rect.l + (rect.width() - side) / 2;
        else if (align & 2)
            x = rect.r - side - 6;
        if (align & 8)
            y = rect.t + 3;
        else if (align & 0x10)
            y = rect.b - side - 6;
    }
    return {x, y, x + side, y + side};
}

void GridCheckBoxCellType::draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t, std::int32_t,
                                const GridCell& cell, int selected, int current) {
    const fw::Rc in = draw_border(&dc, rect, cell);
    GridColour fore, back;
    colours(cell, selected, current, fore, back);
    dc.fill_rect(in, grid_rgb(back));
    const int param = cell.get_cell_type_param();
    const fw::Rc box = box_rect(in, param, cell.get_alignment());
    const int side = box.width();
    if (side >= 6) {
        const GridSystemColours sys = grid_system_colours();
        auto ring = [&](fw::Rc r, GridColour tl, GridColour br) {
            pen(dc, tl);
            dc.polyline({{r.l, r.b - 1}, {r.l, r.t}, {r.r, r.t}});
            pen(dc, br);
            dc.polyline({{r.r - 1, r.t + 1}, {r.r - 1, r.b - 1}, {r.l, r.b - 1}});
        };
        fw::Rc inside = box;
        if (param & 0x100) {
            ring(box, sys.button_shadow, 0xE1E1E1);
            ring({box.l + 1, box.t + 1, box.r - 1, box.b - 1}, 0x000000, sys.button_face);
            inside = {box.l + 2, box.t + 2, box.r - 2, box.b - 2};
        } else if (param & 0x200) {
            ring(box, 0xE1E1E1, 0x000000);
            ring({box.l + 1, box.t + 1, box.r - 1, box.b - 1}, sys.button_face, sys.button_shadow);
            inside = {box.l + 2, box.t + 2, box.r - 2, box.b - 2};
        } else {
            ring(box, 0x000000, 0x000000);
            inside = {box.l + 1, box.t + 1, box.r - 1, box.b - 1};
        }
        const int value = static_cast<int>(cell.get_number());
        if (value > 1 || cell.get_read_only() == 1) {
            dc.set_fill(fw::FillStyle::HatchFDiagonal, grid_rgb(sys.button_face));
            dc.set_pen(fw::PenStyle::Null);
            dc.rect(inside);
        } else {
            dc.fill_rect(inside, grid_rgb(sys.window));
        }
        if (value > 0) {
            pen(dc, value > 1 ? sys.button_shadow : 0x000000);
            const int l = inside.l + 1, t = inside.t + 1, r = inside.r - 1, b = inside.b - 1;
            const int strokes = side > 9 ? 2 : 1;
            for (int i = 0; i < strokes; ++i) {
                if (param & 0x1000) {
                    const int mx = l + (r - l) / 3;
                    dc.polyline({{l, (t + b) / 2 + i}, {mx, b - 1 + i}, {r, t + i}});
                } else {
                    dc.line({l, t + i}, {r, b + i});
                    dc.line({r - 1, t + i}, {l - 1, b + i});
                }
            }
        }
    }
    if (!(param & 4)) {
        draws_label = true;
        draw_text(dc, {in.l + side + 6, in.t, in.r, in.b}, cell, selected, current);
        draws_label = false;
    }
}

void GridCheckBoxCellType::toggle(std::int32_t col, std::int32_t row) {
    if (!grid_) return;
    GridCell cell;
    grid_->get_cell(col, row, cell);
    const int modulo = (cell.get_cell_type_param() & 0x2000) ? 3 : 2;
    const int value = (static_cast<int>(cell.get_number()) + 1) % modulo;
    const std::int16_t type = cell.get_data_type();
    cell.set_text(std::to_string(value));
    cell.set_data_type(type);
    grid_->set_cell(col, row, cell);
    grid_->redraw_cell(col, row);
    grid_->on_cell_type_notify(index_, col, row, kNotifyCheckChanged, value);
}

int GridCheckBoxCellType::on_left_button(std::int32_t col, std::int32_t row, bool down, const fw::Rc& rect, fw::Pt p) {
    if (down || !grid_) return 0;
    GridCell cell;
    grid_->get_cell(col, row, cell);
    if (cell.get_read_only() == 1) return 0;
    const fw::Rc in = draw_border(nullptr, rect, cell);
    const fw::Rc box = box_rect(in, cell.get_cell_type_param(), cell.get_alignment());
    if (p.x < box.l || p.x >= box.r || p.y < box.t || p.y >= box.b) return 0;
    toggle(col, row);
    return 1;
}

int GridCheckBoxCellType::on_char(std::int32_t col, std::int32_t row, int& key) {
    if (key != 32 || !grid_) return 0;
    GridCell cell;
    grid_->get_cell(col, row, cell);
    if (cell.get_read_only() != 0) return 0;
    toggle(col, row);
    return 1;
}

// --- side arrows

void GridSideArrowsCellType::draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t, std::int32_t,
                                  const GridCell& cell, int selected, int current) {
    const fw::Rc in = draw_border(&dc, rect, cell);
    GridColour fore, back;
    colours(cell, selected, current, fore, back);
    dc.fill_rect(in, grid_rgb(back));
    if (in.width() < 4) return;
    pen(dc, fore);
    const int cx = (in.l + in.r) / 2, cy = (in.t + in.b) / 2;
    auto right = [&](int bar) {
        dc.line({bar, cy - 3}, {bar, cy + 4});
        dc.polyline({{bar + 1, cy - 2}, {bar + 1, cy + 2}, {bar + 3, cy}, {bar + 2, cy - 1}, {bar + 2, cy + 1}});
    };
    auto left = [&](int bar) {
        dc.line({bar, cy - 3}, {bar, cy + 4});
        dc.polyline({{bar - 1, cy - 2}, {bar - 1, cy + 2}, {bar - 3, cy}, {bar - 2, cy - 1}, {bar - 2, cy + 1}});
    };
    const int p = cell.get_cell_type_param();
    if (p == 0 || (p & 0x10)) {
        right(cx - 1);
    } else if (p & 0x20) {
        left(cx + 1);
    } else if (p & 0x40) {
        right(cx + 2);
        right(cx - 4);
    } else if (p & 0x80) {
        left(cx + 4);
        left(cx - 2);
    }
}

}  // namespace tv
