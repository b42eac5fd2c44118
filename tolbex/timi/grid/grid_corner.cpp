#include "tolbex/timi/grid/grid_corner.h"

#include <algorithm>

#include "tolbex/timi/grid/grid_ctrl.h"

namespace tv {

namespace {
constexpr std::int32_t kCornerEdge = 4;
}  // namespace

fw::Rc GridCornerButton::client() const {
    const fw::Rc& c = grid_.components().corner;
    return {0, 0, c.width(), c.height()};
}

void GridCornerButton::paint(fw::DrawContext& dc, const fw::Rc& /*clip*/) {
    GridSettings& s = grid_.sheet();
    grid_.on_paint_section(dc, kSectionTop);
    if (s.default_font) dc.set_font(*s.default_font);
    grid_.fetch(-1, -1, cell_);
    if (!cell_.is_property_set(kCellBackColour)) cell_.set_back_colour(grid_system_colours().button_face);
    grid_.type_of(cell_)->draw(dc, client(), -1, -1, cell_, 0, 0);
}

void GridCornerButton::find_edge(fw::Pt p) {
    edge_ = height_edge_ = width_edge_ = false;
    if (grid_.sheet().user_sizing < 1) return;
    const fw::Rc rc = client();
    if (p.x > rc.r - kCornerEdge && grid_.can_size_side_heading()) {
        edge_ = width_edge_ = true;
    } else if (p.y > rc.b - kCornerEdge && grid_.can_size_heading()) {
        edge_ = height_edge_ = true;
    }
}

GridCursor GridCornerButton::cursor() const {
    if (!edge_) return GridCursor::Arrow;
    return width_edge_ ? GridCursor::SizeWE : GridCursor::SizeNS;
}

void GridCornerButton::left_down(fw::Pt p, unsigned /*mouse_flags*/) {
    if (edge_) sizing_ = true;
    grid_.on_corner_lclicked(true, grid_.components().corner, p, sizing_ ? 1 : 0);
}

void GridCornerButton::mouse_move(fw::Pt p, unsigned /*mouse_flags*/, bool left_held) {
    if (!sizing_) {
        if (!left_held) find_edge(p);
        return;
    }
    if (height_edge_) {
        std::int32_t h = std::clamp(p.y, 0, kGridMaxHeading);
        grid_.on_heading_sized(&h);
        grid_.set_heading_height(std::clamp(h, 0, kGridMaxHeading));
    } else {
        std::int32_t w = std::clamp(p.x, 0, kGridMaxHeading);
        grid_.on_side_heading_sized(&w);
        grid_.set_side_heading_width(std::clamp(w, 0, kGridMaxHeading));
    }
}

void GridCornerButton::left_up(fw::Pt p) {
    const bool ended = sizing_;
    if (sizing_) {
        sizing_ = false;
        const GridSettings& s = grid_.sheet();
        if (height_edge_)
            grid_.on_heading_sizing_end(s.heading_height);
        else
            grid_.on_side_heading_sizing_end(s.side_width);
    }
    grid_.on_corner_lclicked(false, grid_.components().corner, p, ended ? 1 : 0);
    find_edge(p);
}

void GridCornerButton::double_click(fw::Pt p) { grid_.on_corner_dclicked(grid_.components().corner, p, 0); }

void GridCornerButton::right_down(fw::Pt p, unsigned /*mouse_flags*/) {
    grid_.on_corner_rclicked(true, grid_.components().corner, p, 0);
    if (grid_.sheet().popup_menus) grid_.start_popup_menu(-1, -1, p, kSectionCorner);
}

void GridCornerButton::right_up(fw::Pt p) { grid_.on_corner_rclicked(false, grid_.components().corner, p, 0); }

}  // namespace tv
