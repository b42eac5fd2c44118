// The side heading's logic: paints the side columns (-n at the left, -1 next to the cells) of the
// locked and the scrolled rows, and sizes a row or a side column when its border is dragged (a
// border is hit within 2 pixels). A row sized to 0 stays and is pulled open again from the
// border above it. The widget forwards paint and mouse input here, asks for the pointer shape
// and draws `marker()` over the cell area. Points are in the heading's own pixels; its y
// matches the cell area's.
#pragma once
#include <cstdint>

#include "tolbex/timi/grid/grid_heading_part.h"

namespace tv {

class GridSideHeading : public GridHeadingPart {
public:
    explicit GridSideHeading(GridCtrl& grid) : GridHeadingPart(grid) {}

    void paint(fw::DrawContext& dc, const fw::Rc& clip) override;
    void left_down(fw::Pt p, unsigned mouse_flags) override;
    void left_up(fw::Pt p) override;
    void mouse_move(fw::Pt p, unsigned mouse_flags, bool left_held) override;
    void double_click(fw::Pt p) override;
    void right_down(fw::Pt p, unsigned mouse_flags) override;
    void right_up(fw::Pt p) override;
    GridCursor cursor() const override;
    bool captured() const override { return dragging_; }

    // The side cell (side column -n..-1, row) under a point; 1 when none.
    int cell_from_point(fw::Pt p, std::int32_t& col, std::int32_t& row, fw::Rc& rect) const;
    // A side cell's rectangle (a joined cell's: its block's).
    int cell_rect(std::int32_t col, std::int32_t row, fw::Rc& rect) const;
    // The outermost side column takes what the total side width leaves after the others.
    void update();
    // The sizing line over the cell area; t < 0 when none.
    const fw::Rc& marker() const { return marker_; }

private:
    // The joined block holding a side cell: its first and last cell; false when not joined.
    bool region(std::int32_t& col, std::int32_t& row, std::int32_t& end_col, std::int32_t& end_row) const;
    void find_line(fw::Pt p);
    // A side column's width as drawn: the outermost one takes the rest of the total.
    std::int32_t width_of(std::size_t entry) const;
    void set_marker(const fw::Rc& r);

    bool dragging_ = false, hover_ = false;
    int kind_ = 0;  // 0 a side column's right edge, 1 a row's bottom edge
    std::int32_t index_ = 0, start_size_ = 0, start_pos_ = 0, start_total_ = 0, rows_above_ = 0;
    fw::Rc marker_{-1, -1, -1, -1};
};

}  // namespace tv
