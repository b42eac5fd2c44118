// The corner button's logic: paints the corner cell (-1, -1) through its cell type, passes
// clicks on to the grid, and sizes the total heading height from its bottom edge or the total
// side-heading width from its right edge (each within 4 pixels; the right edge wins in the
// bottom-right corner). The widget forwards paint and mouse input here and asks for the
// pointer shape. Points are in the corner's own pixels.
#pragma once
#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_cell.h"

namespace tv {

class GridCtrl;
enum class GridCursor;

class GridCornerButton {
public:
    explicit GridCornerButton(GridCtrl& grid) : grid_(grid) {}

    void paint(fw::DrawContext& dc, const fw::Rc& clip);
    void left_down(fw::Pt p, unsigned mouse_flags);
    void left_up(fw::Pt p);
    void mouse_move(fw::Pt p, unsigned mouse_flags, bool left_held);
    void double_click(fw::Pt p);
    void right_down(fw::Pt p, unsigned mouse_flags);
    void right_up(fw::Pt p);
    GridCursor cursor() const;
    bool captured() const { return sizing_; }

private:
    void find_edge(fw::Pt p);
    fw::Rc client() const;

    GridCtrl& grid_;
    GridCell cell_;
    bool sizing_ = false, edge_ = false, height_edge_ = false, width_edge_ = false;
};

}  // namespace tv
