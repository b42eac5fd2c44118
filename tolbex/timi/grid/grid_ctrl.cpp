#include "tolbex/timi/grid/grid_ctrl.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "common/values.h"
#include "common/ui.h"
#include "tolbex/timi/grid/grid_corner.h"
#include "tolbex/timi/grid/grid_side_heading.h"
#include "tolbex/timi/grid/grid_top_heading.h"

namespace tv {

namespace {
constexpr std::int32_t kMaxCols = 32000;
constexpr std::int32_t kMaxPerRowHeights = 64000;
constexpr std::int32_t kMaxHeading = kGridMaxHeading;

// Rescales sizes to a new total, each rounded half up; an all-zero list is shared out equally.
void rescale(std::vector<std::int32_t>& sizes, std::int32_t total) {
    std::int64_t sum = 0;
    for (std::int32_t s : sizes) sum += s;
    const auto n = static_cast<std::int64_t>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (sum == 0)
            sizes[i] = static_cast<std::int32_t>(total / n + (static_cast<std::int64_t>(i) < total % n ? 1 : 0));
        else
            sizes[i] = static_cast<std::int32_t>((static_cast<std::int64_t>(sizes[i]) * total * 2 + sum) / (2 * sum));
    }
}
}  // namespace

GridCtrl::GridCtrl()
    : top_(std::make_unique<GridTopHeading>(*this)),
      side_(std::make_unique<GridSideHeading>(*this)),
      corner_(std::make_unique<GridCornerButton>(*this)) {
    sources_.resize(16, nullptr);
    set_num_sheets(1);
    for (GridCellType* t :
         std::initializer_list<GridCellType*>{&default_type_, &drop_list_type_, &check_box_type_, &side_arrows_type_}) {
        t->set_grid(this);
        t->set_type_index(registry_.add_type(t, 0));
    }
}

GridCtrl::~GridCtrl() = default;

// --- counts and sizes

int GridCtrl::set_num_cols(std::int32_t n, bool redraw) {
    if (n < 0 || n > kMaxCols) return GRID_BAD_INDEX;
    GridSettings& s = sheet();
    const auto old = static_cast<std::int32_t>(s.cols.size());
    s.cols.resize(static_cast<std::size_t>(n));
    for (std::int32_t c = old; c < n; ++c) {
        GridColumn& col = s.cols[static_cast<std::size_t>(c)];
        col.width = s.default_col_width;
        col.source = s.default_source;
        col.default_cell = s.default_cell;
        col.data_col = c;
    }
    s.num_cols = n;
    if (n > 0 && n <= s.locked_cols) s.locked_cols = n - 1;
    if (n == 0) s.locked_cols = 0;
    if (s.current_col >= n) s.current_col = n - 1;
    if (s.drag_col >= n) s.drag_col = n - 1;
    if (s.current_col < 0 && n > 0) s.current_col = s.drag_col = 0;
    s.left_col = std::clamp(s.left_col, s.locked_cols, std::max(s.locked_cols, n - 1));
    recompute_locked();
    recompute_max_left_col();
    if (redraw && redraw_on_) redraw_all();
    return GRID_OK;
}

int GridCtrl::set_num_rows(std::int32_t n, bool redraw) {
    if (n < 0) return GRID_BAD_INDEX;
    GridSettings& s = sheet();
    if (n > 0 && n <= s.locked_rows) s.locked_rows = n - 1;
    if (n == 0) s.locked_rows = 0;
    if (n > kMaxPerRowHeights) {
        s.row_heights.clear();
        s.row_heights.shrink_to_fit();
        s.uniform_row_height = true;
    } else if (!s.uniform_row_height && !s.row_heights.empty()) {
        s.row_heights.resize(static_cast<std::size_t>(n), s.default_row_height);
    }
    s.num_rows = n;
    recompute_locked();
    const std::int32_t old_top = s.top_row;
    recompute_max_top_row();
    s.top_row = std::clamp(s.top_row, s.locked_rows, std::max(s.locked_rows, s.max_top_row));
    if (s.current_row >= n) s.current_row = n - 1;
    if (s.drag_row >= n) s.drag_row = n - 1;
    if (s.current_row < 0 && n > 0) {
        s.current_row = s.drag_row = 0;
        if (s.current_col < 0 && s.num_cols > 0) s.current_col = s.drag_col = 0;
    }
    if (s.top_row != old_top) after_move();
    if (redraw && redraw_on_) redraw_all();
    return GRID_OK;
}

std::int32_t GridCtrl::get_col_width(std::int32_t col) const {
    const GridSettings& s = sheet();
    return col >= 0 && col < s.num_cols ? s.cols[static_cast<std::size_t>(col)].width : 0;
}

int GridCtrl::set_col_width(std::int32_t col, std::int32_t width) {
    GridSettings& s = sheet();
    if (col < 0) return set_side_col_width(col, width);
    if (col >= s.num_cols) return GRID_BAD_INDEX;
    if (width < 0) return GRID_BAD_VALUE;
    s.cols[static_cast<std::size_t>(col)].width = width;
    recompute_locked();
    recompute_max_left_col();
    return GRID_OK;
}

std::int32_t GridCtrl::get_row_height(std::int32_t row) const {
    const GridSettings& s = sheet();
    if (row < 0 || row >= s.num_rows) return 0;
    return s.row_height(row);
}

int GridCtrl::set_row_height(std::int32_t row, std::int32_t height) {
    GridSettings& s = sheet();
    if (row < 0 || row >= s.num_rows) return GRID_BAD_INDEX;
    if (height < 0) return GRID_BAD_VALUE;
    if (s.uniform_row_height) {
        s.default_row_height = height;
    } else {
        if (s.row_heights.empty()) s.row_heights.assign(static_cast<std::size_t>(s.num_rows), s.default_row_height);
        s.row_heights[static_cast<std::size_t>(row)] = height;
    }
    recompute_locked();
    recompute_max_top_row();
    return GRID_OK;
}

int GridCtrl::set_uniform_row_height(bool on) {
    GridSettings& s = sheet();
    s.uniform_row_height = on;
    if (on) {
        s.row_heights.clear();
        s.row_heights.shrink_to_fit();
    } else if (s.num_rows > 0 && s.num_rows <= kMaxPerRowHeights && s.row_heights.empty()) {
        s.row_heights.assign(static_cast<std::size_t>(s.num_rows), s.default_row_height);
    }
    recompute_locked();
    recompute_max_top_row();
    return GRID_OK;
}

int GridCtrl::set_side_col_width(std::int32_t col, std::int32_t width) {
    GridSettings& s = sheet();
    if (col >= 0 || -col > static_cast<std::int32_t>(s.side_widths.size())) return GRID_BAD_INDEX;
    if (width < 0 || width > kMaxHeading) return GRID_BAD_VALUE;
    s.side_widths[static_cast<std::size_t>(-col - 1)] = width;
    if (s.side_widths.size() == 1) s.side_width = width;
    layout(width_, height_);
    return GRID_OK;
}

int GridCtrl::set_heading_height(std::int32_t height) {
    if (height < 0 || height > kMaxHeading) return GRID_BAD_INDEX;
    GridSettings& s = sheet();
    s.heading_height = height;
    rescale(s.heading_heights, height);
    layout(width_, height_);
    return GRID_OK;
}

int GridCtrl::set_side_heading_width(std::int32_t width) {
    if (width < 0 || width > kMaxHeading) return GRID_BAD_INDEX;
    GridSettings& s = sheet();
    s.side_width = width;
    rescale(s.side_widths, width);
    layout(width_, height_);
    return GRID_OK;
}

int GridCtrl::set_num_heading_rows(std::int32_t n) {
    if (n < 0 || n > 64) return GRID_BAD_INDEX;
    GridSettings& s = sheet();
    s.heading_heights.resize(static_cast<std::size_t>(n), s.default_row_height);
    s.heading_height = 0;
    for (std::int32_t h : s.heading_heights) s.heading_height += h;
    layout(width_, height_);
    return GRID_OK;
}

int GridCtrl::set_locked_cols(std::int32_t n) {
    GridSettings& s = sheet();
    if (n < 0 || n > s.num_cols) return GRID_BAD_INDEX;
    s.locked_cols = n;
    recompute_locked();
    s.left_col = s.prev_left_col = n;
    recompute_max_left_col();
    return GRID_OK;
}

int GridCtrl::set_locked_rows(std::int32_t n) {
    GridSettings& s = sheet();
    if (n < 0 || n > s.num_rows) return GRID_BAD_INDEX;
    s.locked_rows = n;
    recompute_locked();
    s.top_row = s.prev_top_row = n;
    recompute_max_top_row();
    return GRID_OK;
}

void GridCtrl::recompute_locked() {
    GridSettings& s = sheet();
    s.locked_width = 0;
    for (std::int32_t c = 0; c < s.locked_cols; ++c) s.locked_width += s.col_width(c);
    s.locked_height = 0;
    for (std::int32_t r = 0; r < s.locked_rows; ++r) s.locked_height += s.row_height(r);
}

void GridCtrl::recompute_max_top_row() {
    GridSettings& s = sheet();
    std::int64_t room = static_cast<std::int64_t>(s.area_height) - s.locked_height;
    std::int32_t r = s.num_rows - 1;
    if (s.uniform_row_height || s.row_heights.empty()) {
        const std::int64_t h = std::max(1, s.default_row_height);
        const std::int64_t fit = std::max<std::int64_t>(room / h, 0);
        r = static_cast<std::int32_t>(std::max<std::int64_t>(s.num_rows - fit, 0));
    } else {
        for (; r >= s.locked_rows; --r) {
            room -= s.row_height(r);
            if (room < 0) break;
        }
        ++r;
    }
    s.max_top_row = std::max(r, s.locked_rows);
}

void GridCtrl::recompute_max_left_col() {
    GridSettings& s = sheet();
    std::int64_t room = static_cast<std::int64_t>(s.area_width) - s.locked_width;
    std::int32_t c = s.num_cols - 1;
    for (; c >= s.locked_cols; --c) {
        room -= s.col_width(c);
        if (room < 0) break;
    }
    s.max_left_col = std::max(c + 1, s.locked_cols);
}

// --- layout and geometry

void GridCtrl::layout(std::int32_t w, std::int32_t h) {
    width_ = w;
    height_ = h;
    GridSettings& s = sheet();
    std::int32_t sv = s.vscroll_width, sh = s.hscroll_height;
    const std::int32_t sw = s.side_width, th = s.heading_height;
    std::int32_t tw = std::min(s.tab_width, std::max(0, w - sw - 20));
    std::int64_t rows_h = s.locked_height;
    for (std::int32_t r = s.locked_rows; r < s.num_rows && rows_h <= h - th; ++r) rows_h += s.row_height(r);
    if (rows_h <= h - th) sv = 0;
    std::int64_t cols_w = 0;
    for (std::int32_t c = 0; c < s.num_cols && cols_w <= w - sw - sv; ++c) cols_w += s.col_width(c);
    if (cols_w <= w - sw - sv) {
        if (tw == 0)
            sh = 0;
        else
            tw = w - sv + 3;
    }
    GridComponents p;
    p.cells = {sw, th, w - sv, h - sh};
    p.top = {sw, 0, w - sv, th};
    p.side = {0, th, sw, h - sh};
    p.corner = {0, 0, sw, th};
    p.vscroll = {w - sv, 0, w, h - sh};
    p.hscroll = {tw, h - sh, w - sv, h};
    p.tabs = {0, h - sh, tw, h};
    p.vscroll_shown = sv > 0;
    p.hscroll_shown = sh > 0;
    on_adjust_components(p);
    parts_ = p;
    s.area_width = std::max(0, p.cells.width());
    s.area_height = std::max(0, p.cells.height());
    recompute_max_top_row();
    recompute_max_left_col();
    if (redraw_on_) redraw_all();
    s.prev_top_row = s.top_row;
    s.prev_left_col = s.left_col;
}

std::int64_t GridCtrl::col_x(std::int32_t col) const {
    const GridSettings& s = sheet();
    if (col < s.locked_cols) {
        std::int64_t x = 0;
        for (std::int32_t c = 0; c < col; ++c) x += s.col_width(c);
        return x;
    }
    if (col < s.left_col) return -1;
    std::int64_t x = s.locked_width;
    for (std::int32_t c = s.left_col; c < col && x <= s.area_width; ++c) x += s.col_width(c);
    return x;
}

std::int64_t GridCtrl::row_y(std::int32_t row) const {
    const GridSettings& s = sheet();
    if (row < s.locked_rows) {
        std::int64_t y = 0;
        for (std::int32_t r = 0; r < row; ++r) y += s.row_height(r);
        return y;
    }
    if (row < s.top_row) return -1;
    if (s.uniform_row_height || s.row_heights.empty())
        return s.locked_height + static_cast<std::int64_t>(row - s.top_row) * s.default_row_height;
    std::int64_t y = s.locked_height;
    for (std::int32_t r = s.top_row; r < row && y <= s.area_height; ++r) y += s.row_height(r);
    return y;
}

int GridCtrl::get_cell_rect(std::int32_t col, std::int32_t row, fw::Rc& rect) const {
    const GridSettings& s = sheet();
    if (col < 0 || col >= s.num_cols || row < 0 || row >= s.num_rows) return GRID_BAD_INDEX;
    const std::int64_t x = col_x(col), y = row_y(row);
    if (x < 0 || y < 0 || x > s.area_width || y > s.area_height) return GRID_BAD_INDEX;
    rect = {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(x + s.col_width(col)),
            static_cast<std::int32_t>(y + s.row_height(row))};
    std::int32_t fc = col, fr = row, ec, er;
    if (const_cast<GridCtrl*>(this)->get_join_range(fc, fr, ec, er) == GRID_OK)
        rect = block_rect(col, row, fc, fr, ec, er, rect);
    return GRID_OK;
}

int GridCtrl::get_join_range(std::int32_t& col, std::int32_t& row, std::int32_t& end_col, std::int32_t& end_row) {
    GridSettings& s = sheet();
    if (!s.joins_enabled) return 1;
    GridCell cell;
    fetch(col, row, cell);
    std::int32_t first = 0, dr = 0, dc = 0;
    if (!cell.get_join(first, dr, dc)) return 2;
    // Offsets come from the data source: summed in 64 bits, so a hostile one cannot wrap.
    if (!first) {
        const std::int64_t c = std::int64_t(col) + dc, r = std::int64_t(row) + dr;
        // A cell's first cell lies in the grid, or the walks over the block would leave it.
        const bool cell_area = col >= 0 && row >= 0;
        if (c < INT32_MIN || c > INT32_MAX || r < INT32_MIN || r > INT32_MAX ||
            (cell_area && (c < 0 || r < 0 || c >= s.num_cols || r >= s.num_rows)))
            return 2;
        col = static_cast<std::int32_t>(c);
        row = static_cast<std::int32_t>(r);
        fetch(col, row, cell);
        if (!cell.get_join(first, dr, dc) || !first) return 2;  // a block without its first cell
    }
    const auto end = [](std::int32_t at, std::int32_t span, std::int32_t count) {
        const std::int64_t last = std::max<std::int64_t>(at, std::int64_t(count) - 1);
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t(at) + std::max(span, 0), at, last));
    };
    end_col = end(col, dc, s.num_cols);
    end_row = end(row, dr, s.num_rows);
    return GRID_OK;
}

int GridCtrl::get_join_start(std::int32_t& col, std::int32_t& row) {
    std::int32_t end_col, end_row;
    return get_join_range(col, row, end_col, end_row);
}

fw::Rc GridCtrl::block_rect(std::int32_t col, std::int32_t row, std::int32_t first_col, std::int32_t first_row,
                            std::int32_t end_col, std::int32_t end_row, const fw::Rc& rect) const {
    const GridSettings& s = sheet();
    std::int64_t l = rect.l, t = rect.t, r = rect.r, b = rect.b;
    for (std::int32_t c = first_col; c < col; ++c) l -= s.col_width(c);
    for (std::int32_t c = col + 1; c <= end_col; ++c) r += s.col_width(c);
    for (std::int32_t w = first_row; w < row; ++w) t -= s.row_height(w);
    for (std::int32_t w = row + 1; w <= end_row; ++w) b += s.row_height(w);
    return {clamp32(l), clamp32(t), clamp32(r), clamp32(b)};
}

GridCtrl::Visible GridCtrl::visible_cells() const {
    const GridSettings& s = sheet();
    Visible v;
    std::int64_t x = 0;
    for (std::int32_t i = 0; i < s.num_cols && x < s.area_width; ++i) {
        const std::int32_t c = i < s.locked_cols ? i : i - s.locked_cols + s.left_col;
        if (c >= s.num_cols) break;
        const std::int32_t w = s.col_width(c);
        if (w == 0) continue;
        v.cols.push_back(c);
        x += w;
    }
    std::int64_t y = 0;
    for (std::int32_t i = 0; i < s.num_rows && y < s.area_height; ++i) {
        const std::int32_t r = i < s.locked_rows ? i : i - s.locked_rows + s.top_row;
        if (r >= s.num_rows) break;
        const std::int32_t h = s.row_height(r);
        if (h == 0) continue;
        v.rows.push_back(r);
        y += h;
    }
    return v;
}

int GridCtrl::get_cell_from_point(std::int32_t x, std::int32_t y, std::int32_t& col, std::int32_t& row,
                                  fw::Rc* rect) const {
    const GridSettings& s = sheet();
    if (x < 0 || y < 0 || x >= s.area_width || y >= s.area_height) return GRID_BAD_INDEX;
    const Visible v = visible_cells();
    std::int64_t cx = 0;
    std::int32_t hit_c = -1, left = 0;
    for (std::int32_t c : v.cols) {
        const std::int32_t w = s.col_width(c);
        if (x < cx + w) {
            hit_c = c;
            left = static_cast<std::int32_t>(cx);
            break;
        }
        cx += w;
    }
    std::int64_t cy = 0;
    std::int32_t hit_r = -1, top = 0;
    for (std::int32_t r : v.rows) {
        const std::int32_t h = s.row_height(r);
        if (y < cy + h) {
            hit_r = r;
            top = static_cast<std::int32_t>(cy);
            break;
        }
        cy += h;
    }
    if (hit_c < 0 || hit_r < 0) return GRID_BAD_INDEX;
    col = hit_c;
    row = hit_r;
    fw::Rc own{left, top, left + s.col_width(hit_c), top + s.row_height(hit_r)};
    std::int32_t fc = col, fr = row, ec, er;
    if (const_cast<GridCtrl*>(this)->get_join_range(fc, fr, ec, er) == GRID_OK) {
        own = block_rect(col, row, fc, fr, ec, er, own);
        col = fc;
        row = fr;
    }
    if (rect) *rect = own;
    return GRID_OK;
}

// --- cells

void GridCtrl::fetch(std::int32_t col, std::int32_t row, GridCell& cell) {
    GridSettings& s = sheet();
    cell.set_flags(0);
    const bool data = col >= 0 && col < s.num_cols && row >= 0;
    if (data)
        cell.copy_from(s.cols[static_cast<std::size_t>(col)].default_cell);
    else
        cell.copy_from(s.heading_default);
    if (row >= s.num_rows) return;
    GridDataSource* src = s.source_of(col);
    const std::int32_t data_col = col >= 0 && col < s.num_cols ? s.cols[static_cast<std::size_t>(col)].data_col : col;
    if (src) src->get_cell(data_col, row, cell);
    on_get_cell(data_col, row, cell);
    if (GridCellModifier* m = cell.get_modifier()) m->modify(cell);
    if (const GridCell* style = cell.get_style()) cell.add_from(*style);
}

int GridCtrl::get_cell(std::int32_t col, std::int32_t row, GridCell& cell) {
    fetch(col, row, cell);
    return GRID_OK;
}

int GridCtrl::set_cell(std::int32_t col, std::int32_t row, const GridCell& cell) {
    GridSettings& s = sheet();
    if (col < -static_cast<std::int32_t>(s.side_widths.size()) || col >= s.num_cols ||
        row < -static_cast<std::int32_t>(s.heading_heights.size()) || row >= s.num_rows)
        return GRID_BAD_INDEX;
    on_set_cell(col, row, cell);
    const std::int32_t data_col = col >= 0 ? s.cols[static_cast<std::size_t>(col)].data_col : col;
    if (GridDataSource* src = s.source_of(col)) src->set_cell(data_col, row, cell);
    return GRID_OK;
}

std::string GridCtrl::get_cell_text(std::int32_t col, std::int32_t row) {
    fetch(col, row, work_cell_);
    return work_cell_.get_text();
}

int GridCtrl::set_cell_text(std::int32_t col, std::int32_t row, const std::string& text) {
    GridSettings& s = sheet();
    GridCell cell;
    if (GridDataSource* src = s.source_of(col)) src->get_cell(get_col_data_column(col), row, cell);
    cell.set_text(text);
    set_cell(col, row, cell);
    return GRID_OK;
}

int GridCtrl::set_column_default(std::int32_t col, const GridCell& cell) {
    if (col < 0 || col >= get_num_cols()) return GRID_BAD_INDEX;
    sheet().cols[static_cast<std::size_t>(col)].default_cell.copy_from(cell);
    return GRID_OK;
}

GridCellType* GridCtrl::get_cell_type(std::int32_t index) {
    if (index < 1) return &default_type_;
    GridCellType* t = registry_.get_type(index);
    return t ? t : &default_type_;
}

GridCellType* GridCtrl::type_of(const GridCell& cell) {
    if (!cell.is_property_set(kCellCellType)) return &default_type_;
    return get_cell_type(cell.get_cell_type());
}

std::int32_t GridCtrl::add_data_source(GridDataSource* source) {
    if (!source) return -1;
    for (std::size_t i = 1;; ++i) {
        if (i >= sources_.size()) sources_.resize(sources_.size() + 16, nullptr);
        if (!sources_[i]) {
            sources_[i] = source;
            source->set_grid(this, static_cast<std::int32_t>(i));
            return static_cast<std::int32_t>(i);
        }
    }
}

int GridCtrl::set_default_data_source(std::int32_t id) {
    GridSettings& s = sheet();
    GridDataSource* src = nullptr;
    if (id == 0) {
        src = &s.builtin_source;
    } else {
        if (id < 0 || static_cast<std::size_t>(id) >= sources_.size() || !sources_[static_cast<std::size_t>(id)])
            return GRID_BAD_INDEX;
        src = sources_[static_cast<std::size_t>(id)];
    }
    s.default_source = src;
    s.default_source_index = id;
    for (GridColumn& c : s.cols) c.source = src;
    return GRID_OK;
}

int GridCtrl::move_column(std::int32_t col, std::int32_t position, bool before) {
    GridSettings& s = sheet();
    if (col < 0 || col >= s.num_cols || position < 0 || position >= s.num_cols) return GRID_BAD_INDEX;
    std::int32_t to = before ? position : position + 1;
    if (to == col || to == col + 1) return GRID_OK;
    GridColumn moved = std::move(s.cols[static_cast<std::size_t>(col)]);
    s.cols.erase(s.cols.begin() + col);
    if (to > col) --to;
    s.cols.insert(s.cols.begin() + to, std::move(moved));
    recompute_locked();
    if (redraw_on_) redraw_all();
    return GRID_OK;
}

int GridCtrl::best_fit(std::int32_t first, std::int32_t last, std::int32_t rows, int flags, fw::DrawContext& dc) {
    GridSettings& s = sheet();
    const auto sides = static_cast<std::int32_t>(s.side_widths.size());
    if (first < -sides) return 1;
    if (last >= s.num_cols) return 2;
    if (first > last) return 3;
    std::vector<std::int32_t> widest(static_cast<std::size_t>(last - first + 1), 3);
    std::vector<std::int32_t> visit;
    if (flags & 1)
        for (std::int32_t r = -static_cast<std::int32_t>(s.heading_heights.size()); r < 0; ++r) visit.push_back(r);
    for (std::int32_t r = 0; r < s.locked_rows; ++r) visit.push_back(r);
    for (std::int32_t r = std::max(s.top_row, s.locked_rows); r < s.num_rows; ++r) {
        if (static_cast<std::int32_t>(visit.size()) >= rows) break;
        visit.push_back(r);
    }
    if (static_cast<std::int32_t>(visit.size()) > rows && rows >= 0) visit.resize(static_cast<std::size_t>(rows));
    GridCell cell;
    for (std::int32_t r : visit)
        for (std::int32_t c = first; c <= last; ++c) {
            fetch(c, r, cell);
            if (cell.is_property_set(kCellJoin)) continue;
            fw::Sz size{};
            type_of(cell)->get_best_size(dc, size, cell);
            auto& w = widest[static_cast<std::size_t>(c - first)];
            w = std::max(w, size.cx);
        }
    const std::int32_t limit = s.area_width > 0 ? s.area_width - s.vscroll_width : 300;
    for (std::int32_t c = first; c <= last; ++c) {
        const std::int32_t w = widest[static_cast<std::size_t>(c - first)];
        const std::int32_t fit = w > limit ? limit : w + 2;
        if (c >= 0)
            s.cols[static_cast<std::size_t>(c)].width = fit;
        else
            s.side_widths[static_cast<std::size_t>(-c - 1)] = std::min(fit, kMaxHeading);
    }
    if (first < 0) {
        s.side_width = 0;
        for (std::int32_t w : s.side_widths) s.side_width += w;
    }
    recompute_locked();
    layout(width_, height_);
    return GRID_OK;
}

int GridCtrl::set_num_sheets(std::int32_t n) {
    if (n < 1 || n > 1024) return GRID_BAD_INDEX;
    while (static_cast<std::int32_t>(sheets_.size()) > n) sheets_.pop_back();
    while (static_cast<std::int32_t>(sheets_.size()) < n) {
        sheets_.push_back(std::make_unique<GridSettings>());
        sheets_.back()->selection.set_host(this);
        sheets_.back()->builtin_source.set_grid(this, 0);
        // Set up while briefly current.
        const std::int32_t keep = current_sheet_;
        current_sheet_ = static_cast<std::int32_t>(sheets_.size()) - 1;
        if (current_sheet_ > 0) on_sheet_setup(current_sheet_);
        current_sheet_ = keep;
    }
    if (current_sheet_ >= n) current_sheet_ = n - 1;
    return GRID_OK;
}

int GridCtrl::set_multi_select(bool on) {
    GridSettings& s = sheet();
    s.multi_select = on;
    s.selection.set_mode(!on ? kGridSelectOff : s.highlight_row ? kGridSelectRows : kGridSelectCells);
    return GRID_OK;
}

int GridCtrl::set_highlight_row(bool on, int value) {
    GridSettings& s = sheet();
    s.highlight_row = on;
    if (on) s.highlight_focus_width = value;
    // The selection's shape follows only while multiple selection is on.
    if (s.multi_select) s.selection.set_mode(on ? kGridSelectRows : kGridSelectCells);
    return GRID_OK;
}

int GridCtrl::set_sheet_style(int style) {
    if (style < 0 || style > 3) return GRID_BAD_INDEX;
    sheet().sheet_style = style;
    return GRID_OK;
}

int GridCtrl::set_default_font(const fw::Font& font) {
    sheet().default_font = font;
    return GRID_OK;
}

std::int32_t GridCtrl::get_col_data_column(std::int32_t grid_col) const {
    const GridSettings& s = sheet();
    if (grid_col < 0 || grid_col >= s.num_cols) return grid_col;
    return s.cols[static_cast<std::size_t>(grid_col)].data_col;
}

void GridCtrl::set_col_data_column(std::int32_t grid_col, std::int32_t data_col) {
    GridSettings& s = sheet();
    if (grid_col >= 0 && grid_col < s.num_cols) s.cols[static_cast<std::size_t>(grid_col)].data_col = data_col;
}

int GridCtrl::compare_cells(const GridCell* a, const GridCell* b, int flags) {
    if (flags & 2) std::swap(a, b);
    if (!a) return b ? 1 : 0;
    if (!b) return -1;
    const std::int16_t t = a->get_data_type();
    if (t == kCellDataNumber || t == kCellDataBool || t == 5) {
        const double x = a->get_number(), y = b->get_number();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    const bool ha = a->get_text_length() > 0, hb = b->get_text_length() > 0;
    if (!ha || !hb) return ha == hb ? 0 : ha ? -1 : 1;
    const std::string ta = a->get_text(), tb = b->get_text();
    const int c = std::char_traits<char>::compare(ta.data(), tb.data(), std::min(ta.size(), tb.size()));
    if (c != 0) return c < 0 ? -1 : 1;
    return ta.size() < tb.size() ? -1 : ta.size() > tb.size() ? 1 : 0;
}

int GridCtrl::get_hint_text(std::int32_t col, std::int32_t row, int, std::string& text) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Col:%d Row:%ld", col, static_cast<long>(row));
    text = buf;
    return 1;
}

void GridCtrl::created() {
    on_setup();
    on_sheet_setup(0);
}

namespace {
int print_slot(int code) {
    if (code >= 1 && code <= 6) return code - 1;
    return code == 10 ? 6 : -1;
}
}  // namespace

int GridCtrl::set_print_option(int code, std::int32_t value) {
    const int slot = print_slot(code);
    if (slot >= 0) print_options_[slot] = code == 10 ? (value != 0) : value;
    return GRID_OK;
}

int GridCtrl::start_popup_menu(std::int32_t col, std::int32_t row, fw::Pt screen, int section) {
    if (!sheet().popup_menus) return GRID_BAD_INDEX;
    if (!on_menu_start(col, row, section)) return GRID_BAD_VALUE;
    menu_col_ = col;
    menu_row_ = row;
    menu_section_ = section;
    return show_popup_menu(screen) ? GRID_OK : 3;
}

void GridCtrl::menu_command(int id) {
    if (id >= 1000) on_menu_command(menu_col_, menu_row_, menu_section_, id);
}

int GridCtrl::help_at(int section, fw::Pt p) {
    std::int32_t col = -1, row = -1;
    fw::Rc rect{};
    switch (section) {
        case kSectionTop: top_->cell_from_point(p, col, row, rect); break;
        case kSectionSide: side_->cell_from_point(p, col, row, rect); break;
        case kSectionCells:
        case kSectionCorner:
            if (get_cell_from_point(p.x, p.y, col, row) != GRID_OK) col = row = -1;
            break;
        default:
            col = get_current_col();
            row = get_current_row();
            break;
    }
    return on_help(col, row, section);
}

bool GridCtrl::tool_hit_test(fw::Pt p, std::string& text) {
    std::int32_t c, r;
    if (get_cell_from_point(p.x, p.y, c, r) != GRID_OK) return false;
    if (c != armed_col_ || r != armed_row_) {
        armed_col_ = c;
        armed_row_ = r;
        return false;
    }
    return get_hint_text(c, r, kSectionCells, text) == 1;
}

void GridCtrl::on_not_found() { ui().message_box("Item not found", "Not Found", MsgIcon::None, MsgButtons::Ok); }

GridColour GridCtrl::get_section_colour(int section) {
    const GridSystemColours sys = grid_system_colours();
    return section == kSectionCells ? sys.window : sys.button_face;
}

void GridCtrl::draw_focus_rect(fw::DrawContext& dc, const fw::Rc& rect) {
    GridSettings& s = sheet();
    fetch(s.current_col, s.current_row, work_cell_);
    if (type_of(work_cell_)->draw_focus_rect(dc, rect, s.current_col, s.current_row)) return;
    dc.set_pen(fw::PenStyle::Dot, {0, 0, 0}, 1);
    dc.set_fill(fw::FillStyle::Null);
    dc.rect({rect.l, rect.t, rect.r - 1, rect.b - 1});
}

// --- redraw

int GridCtrl::redraw_cell(std::int32_t col, std::int32_t row) {
    if (col < 0)
        request_repaint(kSectionSide);
    else if (row < 0)
        request_repaint(kSectionTop);
    else {
        if (!redraw_.contains(col, row)) redraw_.add_cell_range(col, row);
        request_repaint(kSectionCells);
    }
    return GRID_OK;
}

int GridCtrl::redraw_row(std::int32_t row) {
    redraw_.add_range(0, row, std::max(0, get_num_cols() - 1), row);
    request_repaint(kSectionCells);
    return GRID_OK;
}

// Grows the first range, so that moves between two paints never pile ranges up.
void GridCtrl::queue_all() { redraw_.widen_first(0, 0, get_num_cols(), get_num_rows()); }

int GridCtrl::redraw_all() {
    if (!redraw_on_) return GRID_OK;
    queue_all();
    for (int s = 1; s < 8; ++s) request_repaint(s);
    return GRID_OK;
}

}  // namespace tv
