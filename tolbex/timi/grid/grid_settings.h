// The state of one grid sheet: counts and sizes of rows and columns, the current cell and the
// scrolled view, heading sizes, behaviour switches, default cells, the sheet's data sources and
// its selection. A new sheet starts with the values below; the grid control works on them and
// its window parts read them.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_cell.h"
#include "tolbex/timi/grid/grid_cell_type_registry.h"
#include "tolbex/timi/grid/grid_mem_data_source.h"
#include "tolbex/timi/grid/grid_multi_selection.h"

namespace tv {

struct GridColumn {
    std::int32_t width = 75;
    GridDataSource* source = nullptr;
    GridCell default_cell;
    std::int32_t data_col = 0;
};

// How the last move of the current cell was made.
enum GridInput : int { kInputKey = 0, kInputLeft = 1, kInputRight = 2, kInputPointer = 3, kInputScrollBar = 4 };

struct GridSettings {
    GridSettings();
    GridSettings(const GridSettings&) = delete;
    GridSettings& operator=(const GridSettings&) = delete;

    std::int32_t num_cols = 0;
    std::int32_t current_col = -1, prev_current_col = -1;
    std::int32_t left_col = 0, prev_left_col = 0, max_left_col = 0;
    std::int32_t default_col_width = 75;
    std::int32_t right_col = 0;  // last visible column, written by the paint pass
    std::int32_t drag_col = -1;  // target of a pending move
    std::vector<GridColumn> cols;

    std::int32_t num_rows = 0;
    std::int32_t current_row = -1, prev_current_row = -1;
    std::int32_t top_row = 0, prev_top_row = 0, max_top_row = 0;
    std::vector<std::int32_t> row_heights;  // empty while every row has the default height
    std::int32_t default_row_height = 20;
    bool uniform_row_height = false;
    std::int32_t bottom_row = 0;
    std::int32_t drag_row = -1;

    std::vector<std::int32_t> heading_heights{20};  // index 0 is heading row -1
    std::vector<std::int32_t> side_widths{25};      // index 0 is side column -1
    std::int32_t heading_height = 20;
    std::int32_t side_width = 40;

    GridCell default_cell;
    GridCell heading_default;

    std::int32_t vscroll_width = 16, hscroll_height = 16;
    std::int32_t tab_width = 0;
    std::int32_t area_width = 0, area_height = 0;

    bool highlight_row = false;
    int highlight_focus_width = 0;
    bool multi_select = false;
    int current_highlight = 1;  // bit of value 2: the current cell is drawn in the selected colours
    int frame_width_3d = 1;
    bool popup_menus = false, cell_hints = false, vscroll_hints = false, hscroll_hints = false;
    int user_sizing = 1;
    // Moving columns by dragging their headings; fitting a column on a double click of its edge.
    bool col_dragging = false, best_fit_on_dclick = false;
    bool joins_enabled = true;
    bool overflow = true;
    bool grid_lines = true;
    int vscroll_mode = 0, hscroll_mode = 0;
    int drag_exponent = 0;
    int drag_delay_ms = 200;
    int key_accel_divisor = 0;
    int key_initial_delay_ms = 0;
    std::int32_t locked_cols = 0, locked_rows = 0;
    std::int64_t locked_width = 0, locked_height = 0;
    int sheet_style = 0;
    bool cancel_edit_on_leave = false;

    std::optional<fw::Font> default_font;
    std::int32_t default_source_index = 0;
    GridMemDataSource builtin_source;
    GridDataSource* default_source = &builtin_source;
    int last_input = kInputKey;
    unsigned mouse_flags = 0;
    GridMultiSelection selection;
    int text_margin = 4;
    GridCellTypeRegistry registry;
    GridPen grid_pen{fw::PenStyle::Solid, 0xDCDCDC, 1};
    GridCell work_cell;

    // The column or row shown at place i of the cell area (locked ones first); may pass the count.
    std::int32_t display_col(std::int32_t i) const { return i < locked_cols ? i : i - locked_cols + left_col; }
    std::int32_t display_row(std::int32_t i) const { return i < locked_rows ? i : i - locked_rows + top_row; }
    std::int32_t row_height(std::int32_t row) const;
    std::int32_t col_width(std::int32_t col) const;
    GridDataSource* source_of(std::int32_t col) const;
};

}  // namespace tv
