// The grid's two scroll bars as models: the range, page and position each bar shows for the
// sheet's rows and columns, and what a scroll action asks of the grid. Tables with more than 1000
// reachable top rows are scaled onto a vertical bar of 1000 positions; vertical mode 2 shows a
// bar of three positions with the thumb in the middle whatever the table. Every size and
// position is bounded; sums and the scale's products are worked out exactly in 64 bits.
#pragma once
#include <cstdint>
#include <optional>

#include "framework/core/draw_context.h"

namespace tv {

// The standard scroll-bar action codes.
enum class GridScrollCode : int {
    LineUp = 0,
    LineDown = 1,
    PageUp = 2,
    PageDown = 3,
    ThumbPosition = 4,
    ThumbTrack = 5,
    Top = 6,
    Bottom = 7,
    EndScroll = 8,
};

// What a bar shows.
struct GridScrollRange {
    std::int32_t min = 0, max = 0, page = 0, pos = 0;
    bool operator==(const GridScrollRange&) const = default;
};

// What an update did; the window layer copies `bar()` to its control when `changed`.
struct GridScrollUpdate {
    bool changed = false;
    bool relayout = false;  // the bar is hidden: the grid lays out again
};

// Where and how the hint window shows the text of a dragged thumb (see GridHint::move_to).
struct GridScrollHint {
    unsigned placement = 0;
    std::int32_t x = 0, y = 0, min_width = 0;
};

// What a scroll action asks of the grid.
struct GridScrollAction {
    int step = -1;                      // for scroll_rows / scroll_cols: 0..5 as the codes above; -1 none
    std::optional<std::int32_t> go_to;  // the top row / left column to set
    bool hide_hint = false;
    std::optional<GridScrollHint> hint;  // show the hint for tracked() with this placement
};

// The sheet's state the vertical bar follows.
struct GridVScrollSheet {
    std::int32_t highest_top_row = 0;
    std::int32_t scroll_mode = 0;  // 1: the view follows a dragged thumb; 2: three fixed positions
    std::int32_t locked_rows = 0;
    std::int32_t cell_area_height = 0;
    std::int32_t row_height = 0;  // the uniform row height
    std::int32_t top_row = 0;
    bool thumb_hint = false;
};

class GridVScrollModel {
public:
    // Brings the bar up to date; sets nothing while the sheet's values are those last used.
    GridScrollUpdate update(const GridVScrollSheet& sheet, bool bar_hidden);
    const GridScrollRange& bar() const { return bar_; }
    // The scale factors (1000 / highest top row and its inverse, 1 when not scaled).
    double pos_per_row() const { return pos_per_row_; }
    double rows_per_pos() const { return rows_per_pos_; }

    // An action at thumb position `pos`; `bar` is the bar's rectangle and `pointer` the mouse,
    // both in the grid's client coordinates (for the hint).
    GridScrollAction on_scroll(GridScrollCode code, std::int64_t pos, const GridVScrollSheet& sheet, const fw::Rc& bar,
                               fw::Pt pointer);
    // The row the last thumb drag reached.
    std::int32_t tracked() const { return tracked_; }

private:
    std::int32_t row_at(std::int64_t pos, const GridVScrollSheet& sheet) const;

    GridScrollRange bar_;
    std::int32_t last_highest_ = -1, last_mode_ = -1, last_locked_ = -1, last_top_ = -1;
    double pos_per_row_ = 1.0, rows_per_pos_ = 1.0;
    bool scaled_ = false;
    std::int32_t tracked_ = 0;
};

// The sheet's state the horizontal bar follows.
struct GridHScrollSheet {
    std::int32_t highest_left_col = 0;
    std::int32_t locked_cols = 0;
    std::int32_t cell_area_width = 0;
    std::int32_t locked_width = 0;
    std::int32_t default_col_width = 0;
    std::int32_t left_col = 0;
    std::int32_t scroll_mode = 0;  // 1: the view follows a dragged thumb
    bool thumb_hint = false;
};

class GridHScrollModel {
public:
    GridScrollUpdate update(const GridHScrollSheet& sheet, bool bar_hidden);
    const GridScrollRange& bar() const { return bar_; }
    GridScrollAction on_scroll(GridScrollCode code, std::int64_t pos, const GridHScrollSheet& sheet, const fw::Rc& bar,
                               fw::Pt pointer);
    // The column the last thumb drag reached.
    std::int32_t tracked() const { return tracked_; }

private:
    GridScrollRange bar_;
    std::int32_t last_highest_ = -1, last_locked_ = -1, last_left_ = -1;
    std::int32_t tracked_ = 0;
};

}  // namespace tv
