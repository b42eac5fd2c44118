#include "tolbex/timi/grid/grid_side_heading.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "common/values.h"
#include "tolbex/timi/grid/grid_ctrl.h"

namespace tv {

namespace {
constexpr std::int32_t kEdgeSlack = 3;
constexpr std::int32_t kMaxSize = 1 << 20;

std::int32_t clamp_size(std::int64_t v, std::int32_t most = kMaxSize) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, most));
}
bool near(std::int64_t edge, std::int32_t p) { return p > edge - kEdgeSlack && p < edge + kEdgeSlack; }
}  // namespace

std::int32_t GridSideHeading::width_of(std::size_t entry) const {
    const GridSettings& s = grid_.sheet();
    if (entry + 1 < s.side_widths.size()) return s.side_widths[entry];
    std::int64_t others = 0;
    for (std::size_t i = 0; i + 1 < s.side_widths.size(); ++i) others += s.side_widths[i];
    return clamp_size(s.side_width - others, kGridMaxHeading);
}

void GridSideHeading::update() {
    GridSettings& s = grid_.sheet();
    if (s.side_widths.empty()) return;
    s.side_widths.back() = width_of(s.side_widths.size() - 1);
    grid_.request_repaint(kSectionSide);
}

bool GridSideHeading::region(std::int32_t& col, std::int32_t& row, std::int32_t& end_col, std::int32_t& end_row) const {
    const GridSettings& s = grid_.sheet();
    std::int32_t c = col, r = row;
    end_col = col;
    end_row = row;
    if (grid_.get_join_range(c, r, end_col, end_row) != GRID_OK) return false;
    // A side block starts among the side cells and stays inside the side columns; a source's
    // offsets that lead elsewhere join nothing.
    if (c >= 0 || c < -static_cast<std::int32_t>(s.side_widths.size()) || r < 0 || r >= s.num_rows) {
        end_col = col;
        end_row = row;
        return false;
    }
    col = c;
    row = r;
    end_col = std::clamp(end_col, col, std::int32_t{-1});
    return true;
}

int GridSideHeading::cell_rect(std::int32_t col, std::int32_t row, fw::Rc& rect) const {
    const GridSettings& s = grid_.sheet();
    const auto n = static_cast<std::int32_t>(s.side_widths.size());
    if (col >= 0 || col < -n || row < 0 || row >= s.num_rows) return GRID_BAD_INDEX;
    std::int32_t end_col = col, end_row = row;
    const bool joined = region(col, row, end_col, end_row);
    std::int64_t l = 0;
    for (std::int32_t c = -n; c < col; ++c) l += width_of(static_cast<std::size_t>(-c - 1));
    std::int64_t r = l;
    for (std::int32_t c = col; c <= end_col; ++c) r += width_of(static_cast<std::size_t>(-c - 1));
    std::int64_t y = grid_.row_y(row);
    // A block whose first row is scrolled away starts below the locked rows.
    if (y < 0 && joined) y = s.locked_height;
    const std::int64_t last = grid_.row_y(end_row);
    if (y < 0 || last < 0) return GRID_BAD_INDEX;
    rect = {clamp32(l), clamp32(y), clamp32(r), clamp32(std::max(y, last + s.row_height(end_row)))};
    return GRID_OK;
}

int GridSideHeading::cell_from_point(fw::Pt p, std::int32_t& col, std::int32_t& row, fw::Rc& rect) const {
    const GridSettings& s = grid_.sheet();
    col = row = -1;
    if (p.x < 0 || p.y < 0 || p.y >= s.area_height) return 1;
    const auto n = static_cast<std::int32_t>(s.side_widths.size());
    std::int64_t x = 0;
    std::int32_t hit_c = 0;
    for (std::int32_t c = -n; c < 0; ++c) {
        const std::int64_t r = x + width_of(static_cast<std::size_t>(-c - 1));
        if (p.x < r) {
            hit_c = c;
            rect.l = clamp32(x);
            rect.r = clamp32(r);
            break;
        }
        x = r;
    }
    if (hit_c == 0) return 1;
    std::int64_t y = 0;
    for (std::int32_t i = 0; i < s.num_rows && y < s.area_height; ++i) {
        const std::int32_t r = s.display_row(i);
        if (r >= s.num_rows) break;
        const std::int64_t b = y + s.row_height(r);
        if (p.y < b) {
            col = hit_c;
            row = r;
            rect.t = clamp32(y);
            rect.b = clamp32(b);
            return GRID_OK;
        }
        y = b;
    }
    return 1;
}

void GridSideHeading::paint(fw::DrawContext& dc, const fw::Rc& clip) {
    GridSettings& s = grid_.sheet();
    update();
    grid_.on_paint_section(dc, kSectionSide);
    if (s.default_font) dc.set_font(*s.default_font);
    const auto n = static_cast<std::int32_t>(s.side_widths.size());
    const auto meets = [&clip](const fw::Rc& r) {
        return r.r > r.l && r.b > r.t && r.r > clip.l && r.l < clip.r && r.b > clip.t && r.t < clip.b;
    };
    std::vector<std::pair<std::int32_t, std::int32_t>> drawn;  // first cells of the blocks drawn in this pass
    std::int64_t y = 0;
    for (std::int32_t i = 0; i < s.num_rows && y < s.area_height; ++i) {
        const std::int32_t r = s.display_row(i);
        if (r >= s.num_rows) break;
        const std::int32_t h = s.row_height(r);
        std::int64_t x = 0;
        for (std::int32_t c = -n; c < 0 && h > 0; ++c) {
            const std::int64_t right = x + width_of(static_cast<std::size_t>(-c - 1));
            fw::Rc rect{clamp32(x), clamp32(y), clamp32(right), clamp32(y + h)};
            if (meets(rect)) {
                grid_.fetch(c, r, cell_);
                std::int32_t fc = c, fr = r, ec, er, first, dr, dcol;
                if (s.joins_enabled && cell_.get_join(first, dr, dcol) && region(fc, fr, ec, er)) {
                    if (std::find(drawn.begin(), drawn.end(), std::pair{fc, fr}) == drawn.end()) {
                        drawn.emplace_back(fc, fr);
                        if (cell_rect(fc, fr, rect) == GRID_OK) {
                            if (fc != c || fr != r) grid_.fetch(fc, fr, cell_);
                            if (meets(rect)) grid_.type_of(cell_)->draw(dc, rect, fc, fr, cell_, 0, 0);
                        }
                    }
                } else {
                    grid_.type_of(cell_)->draw(dc, rect, c, r, cell_, 0, 0);
                }
            }
            x = right;
        }
        y += h;
    }
    if (y < s.area_height)
        dc.fill_rect({0, clamp32(y), s.side_width, s.area_height}, grid_rgb(grid_.get_section_colour(kSectionSide)));
}

void GridSideHeading::find_line(fw::Pt p) {
    GridSettings& s = grid_.sheet();
    hover_ = false;
    if (s.user_sizing < 1) return;
    std::int64_t x = s.side_width;
    for (std::size_t e = 0; e < s.side_widths.size(); ++e) {
        if (near(x, p.x)) {
            if (!grid_.can_size_side_heading()) return;
            hover_ = true;
            kind_ = 0;
            index_ = -static_cast<std::int32_t>(e) - 1;
            start_size_ = width_of(e);
            start_pos_ = p.x;
            start_total_ = s.side_width;
            return;
        }
        x -= width_of(e);
    }
    std::int64_t y = 0;
    for (std::int32_t i = 0; i < s.num_rows && y <= s.area_height; ++i) {
        const std::int32_t r = s.display_row(i);
        if (r >= s.num_rows) break;
        y += s.row_height(r);
        if (near(y, p.y)) {
            std::int32_t hit = r;
            // A hidden row below the border is the one pulled open.
            const std::int32_t next = s.display_row(i + 1);
            if (next < s.num_rows && s.row_height(next) == 0) hit = next;
            if (!grid_.can_size_row(hit)) return;
            hover_ = true;
            kind_ = 1;
            index_ = hit;
            start_size_ = s.row_height(hit);
            start_pos_ = p.y;
            rows_above_ = s.uniform_row_height && s.default_row_height > 0 ? p.y / s.default_row_height : 0;
            return;
        }
    }
}

GridCursor GridSideHeading::cursor() const {
    if (!hover_) return GridCursor::Arrow;
    return kind_ == 1 ? GridCursor::SizeNS : GridCursor::SizeWE;
}

void GridSideHeading::set_marker(const fw::Rc& r) {
    if (r == marker_) return;
    marker_ = r;
    grid_.request_repaint(kSectionCells);
}

void GridSideHeading::left_down(fw::Pt p, unsigned /*mouse_flags*/) {
    if (hover_) {
        dragging_ = true;
        return;
    }
    std::int32_t c, r;
    fw::Rc rect{};
    if (cell_from_point(p, c, r, rect) != GRID_OK) return;
    grid_.fetch(c, r, cell_);
    const int done = grid_.type_of(cell_)->on_left_button(c, r, true, rect, p);
    grid_.on_sh_lclicked(c, r, true, rect, p, done);
}

void GridSideHeading::mouse_move(fw::Pt p, unsigned /*mouse_flags*/, bool left_held) {
    GridSettings& s = grid_.sheet();
    if (!dragging_) {
        if (!left_held) find_line(p);
        return;
    }
    if (kind_ == 1) {
        std::int64_t h;
        if (s.uniform_row_height)
            h = rows_above_ > 0 ? std::max(p.y, 1) / rows_above_ : p.y;
        else
            h = static_cast<std::int64_t>(start_size_) + (static_cast<std::int64_t>(p.y) - start_pos_);
        std::int32_t height = clamp_size(h);
        grid_.on_row_sized(index_, &height);
        grid_.set_row_height(index_, clamp_size(height));
        if (s.user_sizing == 1) {
            grid_.redraw_all();
        } else {
            update();
            set_marker({0, p.y - 1, s.area_width, p.y + 1});
        }
    } else {
        const std::int64_t dx = static_cast<std::int64_t>(p.x) - start_pos_;
        s.side_widths[static_cast<std::size_t>(-index_ - 1)] = clamp_size(start_size_ + dx, kGridMaxHeading);
        std::int32_t total = clamp_size(start_total_ + dx, kGridMaxHeading);
        grid_.on_side_heading_sized(&total);
        s.side_width = clamp_size(total, kGridMaxHeading);
        update();
        grid_.layout(grid_.width_, grid_.height_);
    }
}

void GridSideHeading::left_up(fw::Pt p) {
    GridSettings& s = grid_.sheet();
    if (!dragging_) {
        std::int32_t c, r;
        fw::Rc rect{};
        if (cell_from_point(p, c, r, rect) != GRID_OK) return;
        grid_.fetch(c, r, cell_);
        const int done = grid_.type_of(cell_)->on_left_button(c, r, false, rect, p);
        grid_.on_sh_lclicked(c, r, false, rect, p, done);
        return;
    }
    dragging_ = false;
    set_marker({-1, -1, -1, -1});
    if (kind_ == 0) {
        grid_.on_side_heading_sizing_end(s.side_width);
    } else {
        std::int32_t height = grid_.get_row_height(index_);
        grid_.on_row_sizing_end(index_, &height);
        grid_.set_row_height(index_, clamp_size(height));
    }
    grid_.layout(grid_.width_, grid_.height_);
    find_line(p);
}

void GridSideHeading::double_click(fw::Pt p) {
    std::int32_t c, r;
    fw::Rc rect{};
    if (cell_from_point(p, c, r, rect) != GRID_OK) return;
    grid_.on_sh_dclicked(c, r, rect, p, 0);
}

void GridSideHeading::right_down(fw::Pt p, unsigned /*mouse_flags*/) {
    std::int32_t c, r;
    fw::Rc rect{};
    if (cell_from_point(p, c, r, rect) != GRID_OK) return;
    grid_.on_sh_rclicked(c, r, true, rect, p, 0);
    if (grid_.sheet().popup_menus) grid_.start_popup_menu(c, r, p, kSectionSide);
}

void GridSideHeading::right_up(fw::Pt p) {
    std::int32_t c, r;
    fw::Rc rect{};
    if (cell_from_point(p, c, r, rect) != GRID_OK) return;
    grid_.on_sh_rclicked(c, r, false, rect, p, 0);
}

}  // namespace tv
