// The corner button's logic: paints the corner cell (-1, -1) through its cell type, passes
// clicks on to the grid, and sizes the total heading height from its bottom edge or the total
// side-heading width from its right edge (each within 4 pixels; the right edge wins in the
// bottom-right corner). The widget forwards paint and mouse input here and asks for the
// pointer shape. Points are in the corner's own pixels.
#pragma once
#include "tolbex/timi/grid/grid_heading_part.h"

namespace tv {

class GridCornerButton : public GridHeadingPart {
public:
    explicit GridCornerButton(GridCtrl& grid) : GridHeadingPart(grid) {}

    void paint(fw::DrawContext& dc, const fw::Rc& clip) override;
    void left_down(fw::Pt p, unsigned mouse_flags) override;
    void left_up(fw::Pt p) override;
    void mouse_move(fw::Pt p, unsigned mouse_flags, bool left_held) override;
    void double_click(fw::Pt p) override;
    void right_down(fw::Pt p, unsigned mouse_flags) override;
    void right_up(fw::Pt p) override;
    GridCursor cursor() const override;
    bool captured() const override { return sizing_; }

private:
    void find_edge(fw::Pt p);
    fw::Rc client() const;

    bool sizing_ = false, edge_ = false, height_edge_ = false, width_edge_ = false;
};

}  // namespace tv
