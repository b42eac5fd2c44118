#include "tolbex/timi/grid/grid_top_heading.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "common/values.h"
#include "tolbex/timi/grid/grid_ctrl.h"

namespace tv {

namespace {
constexpr std::int32_t kEdgeSlack = 3;  // an edge is hit strictly inside this distance
constexpr std::int32_t kMaxSize = 1 << 20;

std::int32_t clamp_size(std::int64_t v) { return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, kMaxSize)); }
bool near(std::int64_t edge, std::int32_t p) { return p > edge - kEdgeSlack && p < edge + kEdgeSlack; }
}  // namespace

bool GridTopHeading::region(std::int32_t& col, std::int32_t& row, std::int32_t& end_col, std::int32_t& end_row) const {
    const GridSettings& s = grid_.sheet();
    std::int32_t c = col, r = row;
    end_col = col;
    end_row = row;
    if (grid_.get_join_range(c, r, end_col, end_row) != GRID_OK) return false;
    // A heading block starts among the heading cells and stays inside the heading rows; a
    // source's offsets that lead elsewhere join nothing.
    if (c < 0 || c >= s.num_cols || r >= 0 || r < -static_cast<std::int32_t>(s.heading_heights.size())) {
        end_col = col;
        end_row = row;
        return false;
    }
    col = c;
    row = r;
    end_row = std::clamp(end_row, row, std::int32_t{-1});
    return true;
}

int GridTopHeading::cell_rect(std::int32_t col, std::int32_t row, fw::Rc& rect) const {
    const GridSettings& s = grid_.sheet();
    const auto n = static_cast<std::int32_t>(s.heading_heights.size());
    if (col < 0 || col >= s.num_cols || row >= 0 || row < -n) return GRID_BAD_INDEX;
    // A joined cell answers for its whole block: left at its first column, right after its last.
    std::int32_t end_col = col, end_row = row;
    region(col, row, end_col, end_row);
    // A column scrolled out of view gets an empty rectangle at the locked columns' edge.
    std::int64_t l = col < s.locked_cols ? 0 : s.locked_width, r = l, x = 0;
    for (std::int32_t i = 0; i < s.num_cols; ++i) {
        const std::int32_t c = s.display_col(i);
        if (c >= s.num_cols) break;
        if (c == col) l = x;
        x += s.col_width(c);
        if (c == end_col) {
            r = x;
            break;
        }
    }
    std::int64_t t = 0;
    for (std::int32_t h = -n; h < row; ++h) t += s.heading_heights[static_cast<std::size_t>(-h - 1)];
    std::int64_t b = t;
    for (std::int32_t h = row; h <= end_row; ++h) b += s.heading_heights[static_cast<std::size_t>(-h - 1)];
    rect = {clamp32(l), clamp32(t), clamp32(std::max(l, r)), clamp32(b)};
    return GRID_OK;
}

int GridTopHeading::cell_from_point(fw::Pt p, std::int32_t& col, std::int32_t& row, fw::Rc& rect) const {
    const GridSettings& s = grid_.sheet();
    col = row = -1;
    if (p.x < 0 || p.y < 0) return 1;
    std::int64_t x = 0;
    for (std::int32_t i = 0; i < s.num_cols && x <= s.area_width; ++i) {
        const std::int32_t c = s.display_col(i);
        if (c >= s.num_cols) break;
        const std::int64_t r = x + s.col_width(c);
        if (p.x < r) {
            col = c;
            rect.l = clamp32(x);
            rect.r = clamp32(r);
            break;
        }
        x = r;
    }
    const auto n = static_cast<std::int32_t>(s.heading_heights.size());
    std::int64_t y = 0;
    for (std::int32_t hr = -n; hr < 0; ++hr) {
        const std::int64_t b = y + s.heading_heights[static_cast<std::size_t>(-hr - 1)];
        if (p.y < b) {
            row = hr;
            rect.t = clamp32(y);
            rect.b = clamp32(b);
            break;
        }
        y = b;
    }
    if (col < 0 || row >= 0) {
        col = row = -1;
        return 1;
    }
    return GRID_OK;
}

void GridTopHeading::refit() {
    GridSettings& s = grid_.sheet();
    if (s.heading_heights.empty()) return;
    std::int64_t others = 0;
    for (std::size_t i = 0; i + 1 < s.heading_heights.size(); ++i) others += s.heading_heights[i];
    s.heading_heights.back() = clamp_size(s.heading_height - others);
    grid_.request_repaint(kSectionTop);
}

void GridTopHeading::paint(fw::DrawContext& dc, const fw::Rc& clip) {
    GridSettings& s = grid_.sheet();
    refit();
    grid_.on_paint_section(dc, kSectionTop);
    if (s.default_font) dc.set_font(*s.default_font);
    const auto n = static_cast<std::int32_t>(s.heading_heights.size());
    const auto meets = [&clip](const fw::Rc& r) {
        return r.r > r.l && r.b > r.t && r.r > clip.l && r.l < clip.r && r.b > clip.t && r.t < clip.b;
    };
    std::vector<std::pair<std::int32_t, std::int32_t>> drawn;  // first cells of the blocks drawn in this pass
    std::int64_t widest = 0, top = 0;
    for (std::int32_t hr = -n; hr < 0; ++hr) {
        const std::int32_t h = s.heading_heights[static_cast<std::size_t>(-hr - 1)];
        std::int64_t x = 0;
        for (std::int32_t i = 0; i < s.num_cols; ++i) {
            const std::int32_t c = s.display_col(i);
            if (c >= s.num_cols) break;
            const std::int64_t r = x + s.col_width(c);
            fw::Rc rect{clamp32(x), clamp32(top), clamp32(r), clamp32(top + h)};
            if (h > 0 && r > x && meets(rect)) {
                grid_.fetch(c, hr, cell_);
                std::int32_t fc = c, fr = hr, ec, er, first, dr, dcol;
                if (s.joins_enabled && cell_.get_join(first, dr, dcol) && region(fc, fr, ec, er)) {
                    if (std::find(drawn.begin(), drawn.end(), std::pair{fc, fr}) == drawn.end()) {
                        drawn.emplace_back(fc, fr);
                        cell_rect(fc, fr, rect);
                        if (fc != c || fr != hr) grid_.fetch(fc, fr, cell_);
                        if (meets(rect))
                            grid_.type_of(cell_)->draw(dc, rect, fc, fr, cell_, fc == dragged_ && drop_ >= 0 ? 1 : 0,
                                                       0);
                    }
                } else {
                    grid_.type_of(cell_)->draw(dc, rect, c, hr, cell_, c == dragged_ && drop_ >= 0 ? 1 : 0, 0);
                }
            }
            x = r;
            if (x > s.area_width) break;
        }
        widest = std::max(widest, x);
        top += h;
    }
    if (widest < s.area_width)
        dc.fill_rect({clamp32(widest), 0, s.area_width, s.heading_height},
                     grid_rgb(grid_.get_section_colour(kSectionTop)));
}

void GridTopHeading::find_edge(fw::Pt p) {
    GridSettings& s = grid_.sheet();
    edge_ = false;
    if (s.user_sizing <= 0) return;
    std::int64_t x = 0;
    for (std::int32_t i = 0; i < s.num_cols; ++i) {
        const std::int32_t c = s.display_col(i);
        if (c >= s.num_cols) break;
        x += s.col_width(c);
        if (near(x, p.x)) {
            std::int32_t hit = c;
            // A hidden column right of the edge is the one pulled open.
            const std::int32_t next = s.display_col(i + 1);
            if (next < s.num_cols && s.col_width(next) == 0) hit = next;
            if (!grid_.can_size_col(hit)) return;
            edge_ = true;
            kind_ = 0;
            index_ = hit;
            start_size_ = s.col_width(hit);
            start_pos_ = p.x;
            return;
        }
        if (x > s.area_width) break;
    }
    std::int64_t y = s.heading_height;
    for (std::size_t e = 0; e < s.heading_heights.size(); ++e) {
        if (near(y, p.y)) {
            if (!grid_.can_size_heading()) return;
            edge_ = true;
            kind_ = 1;
            index_ = static_cast<std::int32_t>(e);
            start_size_ = s.heading_heights[e];
            start_pos_ = p.y;
            start_total_ = s.heading_height;
            return;
        }
        y -= s.heading_heights[e];
    }
}

GridCursor GridTopHeading::cursor() const {
    if (!edge_) return GridCursor::Arrow;
    return kind_ == 1 ? GridCursor::SizeNS : GridCursor::SizeWE;
}

void GridTopHeading::set_marker(const fw::Rc& r) {
    if (r == marker_) return;
    marker_ = r;
    grid_.request_repaint(kSectionCells);
}

void GridTopHeading::left_down(fw::Pt p, unsigned /*mouse_flags*/) {
    captured_ = true;
    last_ = p;
    if (edge_) {
        sizing_ = true;
        return;
    }
    std::int32_t c, r;
    fw::Rc rect{};
    if (cell_from_point(p, c, r, rect) != GRID_OK) return;
    if (grid_.sheet().col_dragging && grid_.can_drag_col(c)) dragged_ = c;
    grid_.fetch(c, r, cell_);
    const int done = grid_.type_of(cell_)->on_left_button(c, r, true, rect, p);
    grid_.on_th_lclicked(c, r, true, rect, p, done);
}

void GridTopHeading::mouse_move(fw::Pt p, unsigned /*mouse_flags*/, bool left_held) {
    GridSettings& s = grid_.sheet();
    last_ = p;
    if (sizing_) {
        if (kind_ == 0) {
            const std::int64_t x = std::max<std::int64_t>(p.x, static_cast<std::int64_t>(start_pos_) - start_size_);
            std::int32_t w = clamp_size(start_size_ + (x - start_pos_));
            grid_.on_col_sizing(index_, &w);
            grid_.set_col_width(index_, clamp_size(w));
            if (s.user_sizing == 1) {
                refit();
                set_marker({clamp32(x - 1), 0, clamp32(x + 1), s.area_height});
            } else {
                grid_.redraw_all();
            }
        } else {
            const std::int64_t dy = static_cast<std::int64_t>(p.y) - start_pos_;
            s.heading_heights[static_cast<std::size_t>(index_)] =
                std::min(clamp_size(start_size_ + dy), kGridMaxHeading);
            std::int32_t total = std::min(clamp_size(start_total_ + dy), kGridMaxHeading);
            if (grid_.on_heading_sized(&total) == 1) {
                s.heading_height = std::clamp(total, 0, kGridMaxHeading);
                grid_.layout(grid_.width_, grid_.height_);
            }
        }
        return;
    }
    if (left_held && s.col_dragging && dragged_ >= 0) {
        if (p.x >= 0 && p.x <= s.area_width) {
            std::int32_t c, r;
            fw::Rc rect{};
            if (cell_from_point({p.x, std::clamp(p.y, 0, std::max(0, s.heading_height - 1))}, c, r, rect) != GRID_OK)
                return;
            if (c == dragged_ && drop_ < 0) return;
            const bool past = p.x - rect.l > (rect.r - rect.l) / 2;
            const bool first = drop_ < 0;
            drop_ = std::min(past ? c + 1 : c, s.num_cols);
            if (first) grid_.request_repaint(kSectionTop);
            const std::int32_t x = past ? rect.r : rect.l;
            set_marker({x, 0, x + 2, s.area_height});
        } else {
            set_marker({-1, -1, -1, -1});
            drag_step();
        }
        return;
    }
    if (!left_held) find_edge(p);
}

int GridTopHeading::scroll_period() const {
    const GridSettings& s = grid_.sheet();
    if (!captured_ || dragged_ < 0 || sizing_ || !s.col_dragging) return 0;
    return last_.x >= 0 && last_.x <= s.area_width ? 0 : std::max(1, s.drag_delay_ms);
}

int GridTopHeading::drag_step() {
    GridSettings& s = grid_.sheet();
    if (!captured_ || dragged_ < 0 || sizing_ || !s.col_dragging) return 0;
    if (last_.x >= 0 && last_.x <= s.area_width) return 0;
    const std::int32_t before = s.left_col;
    grid_.scroll_cols(last_.x < 0 ? 0 : 1);
    return s.left_col != before ? std::max(1, s.drag_delay_ms) : 0;
}

void GridTopHeading::col_sized(std::int32_t col) {
    std::int32_t w = grid_.get_col_width(col);
    const std::int32_t was = w;
    grid_.on_col_sized(col, &w);
    if (w != was) grid_.set_col_width(col, clamp_size(w));
}

void GridTopHeading::end_sizing() {
    GridSettings& s = grid_.sheet();
    if (kind_ == 0) {
        col_sized(index_);
    } else {
        grid_.on_heading_sizing_end(s.heading_height);
    }
    sizing_ = false;
    set_marker({-1, -1, -1, -1});
    grid_.layout(grid_.width_, grid_.height_);
}

void GridTopHeading::left_up(fw::Pt p) {
    GridSettings& s = grid_.sheet();
    last_ = p;
    if (sizing_) {
        end_sizing();
    } else {
        std::int32_t c, r;
        fw::Rc rect{};
        if (cell_from_point(p, c, r, rect) == GRID_OK) {
            grid_.fetch(c, r, cell_);
            const int done = grid_.type_of(cell_)->on_left_button(c, r, false, rect, p);
            grid_.on_th_lclicked(c, r, false, rect, p, done);
        }
    }
    if (s.col_dragging && dragged_ >= 0) {
        const std::int32_t target = drop_ > dragged_ ? drop_ - 1 : drop_;
        if (drop_ >= 0 && grid_.can_drop_col(dragged_, target)) {
            // Dropping behind the last column places the column last.
            if (drop_ >= s.num_cols)
                grid_.move_column(dragged_, s.num_cols - 1, false);
            else
                grid_.move_column(dragged_, drop_, true);
            grid_.on_col_dropped(dragged_, target);
            grid_.redraw_all();
        } else if (drop_ < 0) {
            grid_.request_repaint(kSectionTop);
        } else {
            grid_.redraw_all();
        }
    }
    dragged_ = drop_ = -1;
    set_marker({-1, -1, -1, -1});
    captured_ = false;
    find_edge(p);
}

void GridTopHeading::double_click(fw::Pt p) {
    GridSettings& s = grid_.sheet();
    if (!edge_) {
        std::int32_t c, r;
        fw::Rc rect{};
        if (cell_from_point(p, c, r, rect) != GRID_OK) return;
        grid_.fetch(c, r, cell_);
        const int done = grid_.type_of(cell_)->on_double_click(c, r, rect, p);
        grid_.on_th_dclicked(c, r, rect, p, done);
        return;
    }
    if (kind_ != 0 || !s.best_fit_on_dclick || !grid_.measure_) return;
    const std::int32_t col = index_;
    grid_.best_fit(col, col, 20, 1, *grid_.measure_);
    find_edge(p);  // the edge has moved with the new width
    col_sized(col);
    sizing_ = false;
}

void GridTopHeading::right_down(fw::Pt p, unsigned /*mouse_flags*/) {
    std::int32_t c, r;
    fw::Rc rect{};
    if (cell_from_point(p, c, r, rect) != GRID_OK) return;
    grid_.fetch(c, r, cell_);
    const int done = grid_.type_of(cell_)->on_right_button(c, r, true, rect, p);
    grid_.on_th_rclicked(c, r, true, rect, p, done);
    if (grid_.sheet().popup_menus) grid_.start_popup_menu(c, r, p, kSectionTop);  // the widget maps the point
}

void GridTopHeading::right_up(fw::Pt p) {
    std::int32_t c, r;
    fw::Rc rect{};
    if (cell_from_point(p, c, r, rect) != GRID_OK) return;
    grid_.fetch(c, r, cell_);
    const int done = grid_.type_of(cell_)->on_right_button(c, r, false, rect, p);
    grid_.on_th_rclicked(c, r, false, rect, p, done);
}

}  // namespace tv
