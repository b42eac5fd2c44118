// The top heading's logic: paints the heading rows of the columns in the cell area's order,
// sizes a column or a heading row when its edge is dragged (an edge is hit within 2 pixels),
// fits a column on a double click of its edge and moves a column whose heading is dragged to
// another place. The widget forwards paint, mouse input and the auto-scroll timer here, asks
// for the pointer shape, and draws `marker()` over the cell area as a rubber band. Points are
// in the heading's own pixels; its x matches the cell area's.
#pragma once
#include <cstdint>

#include "tolbex/timi/grid/grid_heading_part.h"

namespace tv {

class GridTopHeading : public GridHeadingPart {
public:
    explicit GridTopHeading(GridCtrl& grid) : GridHeadingPart(grid) {}

    // Draws the heading cells meeting `clip` and the blank strip right of the last column.
    void paint(fw::DrawContext& dc, const fw::Rc& clip) override;
    void left_down(fw::Pt p, unsigned mouse_flags) override;
    void left_up(fw::Pt p) override;
    void mouse_move(fw::Pt p, unsigned mouse_flags, bool left_held) override;
    void double_click(fw::Pt p) override;
    void right_down(fw::Pt p, unsigned mouse_flags) override;
    void right_up(fw::Pt p) override;
    GridCursor cursor() const override;
    // While a dragged heading is held left or right of the area, a mouse move scrolls one column
    // and this answers the timer period (the drag delay) to keep scrolling; else 0.
    int scroll_period() const;
    // One timer tick: one column scrolled. Answers the period for the next tick, or 0 when the
    // timer can stop (the pointer came back, the view is at its end, or the drag ended).
    int drag_step();
    // True from a button down until its button up: the widget holds the mouse capture.
    bool captured() const override { return captured_; }

    // The heading cell (column, heading row -n..-1) under a point; 1 when none.
    int cell_from_point(fw::Pt p, std::int32_t& col, std::int32_t& row, fw::Rc& rect) const;
    // A heading cell's rectangle (a joined cell's: its block's); columns left of the view start at
    // the locked columns' width.
    int cell_rect(std::int32_t col, std::int32_t row, fw::Rc& rect) const;
    // The top-most heading row takes what the total heading height leaves after the others.
    void refit();

    std::int32_t dragged_col() const { return dragged_; }
    std::int32_t drop_position() const { return drop_; }
    // The sizing line or drop marker over the cell area; t < 0 when none.
    const fw::Rc& marker() const { return marker_; }

private:
    // The joined block holding a heading cell: its first and last cell; false when not joined.
    bool region(std::int32_t& col, std::int32_t& row, std::int32_t& end_col, std::int32_t& end_row) const;
    void find_edge(fw::Pt p);
    void set_marker(const fw::Rc& r);
    void end_sizing();
    void col_sized(std::int32_t col);

    bool edge_ = false, sizing_ = false, captured_ = false;
    int kind_ = 0;  // 0 column width, 1 heading-row height
    std::int32_t index_ = -1, start_size_ = 0, start_pos_ = 0, start_total_ = 0;
    std::int32_t dragged_ = -1, drop_ = -1;
    fw::Pt last_{};
    fw::Rc marker_{-1, -1, -1, -1};
};

}  // namespace tv
