// What the two headings and the corner button share: each paints its part of the grid through
// the cell types of its heading cells and takes the mouse input the widget forwards, in the
// part's own pixels; the widget asks it for the pointer shape and whether it holds the mouse.
#pragma once
#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_cell.h"

namespace tv {

class GridCtrl;
enum class GridCursor;

class GridHeadingPart {
public:
    virtual ~GridHeadingPart() = default;

    virtual void paint(fw::DrawContext& dc, const fw::Rc& clip) = 0;
    virtual void left_down(fw::Pt p, unsigned mouse_flags) = 0;
    virtual void left_up(fw::Pt p) = 0;
    virtual void mouse_move(fw::Pt p, unsigned mouse_flags, bool left_held) = 0;
    virtual void double_click(fw::Pt p) = 0;
    virtual void right_down(fw::Pt p, unsigned mouse_flags) = 0;
    virtual void right_up(fw::Pt p) = 0;
    virtual GridCursor cursor() const = 0;
    // True while the widget holds the mouse capture for the part (each part says when).
    virtual bool captured() const = 0;

protected:
    explicit GridHeadingPart(GridCtrl& grid) : grid_(grid) {}

    GridCtrl& grid_;
    GridCell cell_;  // the heading cell being painted or hit
};

}  // namespace tv
