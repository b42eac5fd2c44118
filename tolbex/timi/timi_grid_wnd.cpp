#include "tolbex/timi/timi_grid_wnd.h"

#include <algorithm>

namespace tv::timi_grid {

namespace {

constexpr int kCheckColumns[] = {kColUse, channel_flag_col(0), channel_flag_col(1), channel_flag_col(2)};
constexpr int kAlignRight = 2, kAlignCentre = 4;

void changed(TimiGridState& state) {
    if (state.modified) state.modified();
}

}  // namespace

void show_table(GridCtrl& grid, TimiGridState& state, TimiData&& loaded) {
    state.source.data() = std::move(loaded);
    grid.set_num_rows(state.source.get_num_rows());
    grid.set_num_cols(state.source.get_num_cols());
    GridCell check;
    check.set_alignment(kAlignCentre);
    check.set_cell_type(kCellTypeCheckBox);
    check.set_cell_type_param(kTimiCheckBoxOptions);
    for (int col : kCheckColumns) grid.set_column_default(col, check);
    GridCell time;
    time.set_alignment(kAlignCentre);
    grid.set_column_default(kColTime, time);
    fit_after_load(grid, state);
    if (state.set_data) state.set_data(&state.source.data());
}

void setup(GridCtrl& grid, TimiGridState& state) {
    if (state.set_data) state.set_data(&state.source.data());
    grid.set_default_font(kTimiGridFont);
    grid.set_default_data_source(grid.add_data_source(&state.source));
    GridSettings& sheet = grid.sheet();
    sheet.user_sizing = 0;
    grid.set_highlight_row(true, 1);
    grid.set_sheet_style(2);
    sheet.vscroll_mode = 1;
    sheet.hscroll_mode = 1;
    grid.set_multi_select(true);
    for (auto [code, value] : {std::pair{1, 1}, {2, 1}, {3, 5}, {5, 5}, {4, 5}, {6, 5}})
        grid.set_print_option(code, value);
    sheet.default_cell.set_alignment(kAlignRight);
    sheet.heading_default.set_alignment(kAlignRight);
    sheet.heading_default.set_font(kTimiGridHeadingFont);
}

bool load_day_list(GridCtrl& grid, TimiGridState& state, const std::string& path) {
    // Loads add to what is there: every load starts from an empty table.
    TIMITableSource loading;
    if (!loading.load_day_list(path)) return false;
    show_table(grid, state, std::move(loading.data()));
    return true;
}

bool load_data_file(GridCtrl& grid, TimiGridState& state, const std::string& path, TimiFileFault* fault) {
    TimiData loading;
    if (!loading.read_data_file(path, fault)) return false;
    show_table(grid, state, std::move(loading));
    return true;
}

void fit_after_load(GridCtrl& grid, TimiGridState& state) {
    fw::DrawContext* dc = state.measure;
    if (!dc) return;
    const std::int32_t rows = std::min<std::int32_t>(grid.get_num_rows(), 10);
    grid.best_fit(0, kTimiColumns - 1, rows, 3, *dc);
    dc->set_font(kTimiGridHeadingFont);
    grid.set_side_heading_width(dc->text_extent(kTimiSideWidthText).cx);
    for (int col = 0; col < kTimiColumns; ++col) {
        const std::int32_t sample = dc->text_extent(timi_column_sample(col)).cx;
        if (grid.get_col_width(col) < sample) grid.set_col_width(col, sample);
    }
}

void click(GridCtrl& grid, TimiGridState& state, std::int32_t col, std::int32_t row) {
    if (row < 0 || row >= state.source.get_num_rows()) return;
    if (col == kColUse) {
        state.source.toggle_use(row);
        // A use turned on may also select channel 1: the whole row shows it.
        grid.redraw_row(row);
    } else {
        int channel = -1;
        for (int c = 0; c < kTimiChannels; ++c)
            if (col == channel_flag_col(c)) channel = c;
        if (channel < 0) return;
        state.source.toggle_channel(row, channel);
        grid.redraw_row(row);
    }
    changed(state);
}

void double_click(GridCtrl& grid, TimiGridState& state, std::int32_t row) {
    if (row < 0 || row >= state.source.get_num_rows()) return;
    state.source.toggle_use(row);
    grid.redraw_row(row);
    changed(state);
}

void key_down(GridCtrl& grid, TimiGridState& state, int key) {
    const std::int32_t rows = state.source.get_num_rows();
    std::int32_t col = -1, row = -1;
    if (key == 13 || key == 32) {
        if (grid.get_first_selected(col, row) != 0 || row < 0 || row >= rows) return;
        const bool use = !state.source.is_used(row);
        do {
            if (row >= 0 && row < rows) state.source.set_use(row, use);
        } while (grid.get_next_selected(col, row) == 0);
    } else if (key >= '1' && key <= '3') {
        const int channel = key - '1';
        bool any = false;
        if (grid.get_first_selected(col, row) != 0) return;
        do {
            if (row < 0 || row >= rows) continue;
            state.source.toggle_channel(row, channel);
            any = true;
        } while (grid.get_next_selected(col, row) == 0);
        if (!any) return;
    } else {
        return;
    }
    changed(state);
    grid.redraw_all();
}

void get_selected_rows(GridCtrl& grid, std::int32_t& first, std::int32_t& last) {
    first = last = -1;
    if (grid.sheet().selection.empty()) return;
    std::int32_t col = -1, row = -1;
    if (grid.get_first_selected(col, row) != 0) return;
    first = last = row;
    while (grid.get_next_selected(col, row) == 0) last = row;
}

}  // namespace tv::timi_grid
