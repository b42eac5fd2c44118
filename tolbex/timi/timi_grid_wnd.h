// The grid control set up for the TIMI table: it owns the table source, loads a day list or a
// DATA.TIMI into a fresh table, fits the 22 columns, and turns clicks and keys into the row
// selection (use flag and the three channel flags). The document side is reached through two
// hooks: where the data lives, and that the user changed the selection.
//
// TIMIGridWndOf<Base> puts these rules onto any grid control class, so the same rules run
// headless (TIMIGridWnd, on GridCtrl) and in a window (on the window layer's control).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "tolbex/timi/grid/grid_ctrl.h"
#include "tolbex/timi/timi_table_source.h"

namespace tv {

// Fonts of the TIMI grid; the heading font also measures the columns.
inline const fw::Font kTimiGridFont{"Arial", 16, 400, false};
inline const fw::Font kTimiGridHeadingFont{"Arial", 16, 700, false};
// The side heading is as wide as this text in the heading font.
inline constexpr const char* kTimiSideWidthText = " 99,999 ";
// Cell-type options of the check-box columns: a tick, placed by the alignment.
inline constexpr long kTimiCheckBoxOptions = 0x1004;

struct TimiGridState {
    TIMITableSource source;
    std::function<void(TimiData*)> set_data;  // the document's data pointer
    std::function<void()> modified;           // the user changed the selection
    fw::DrawContext* measure = nullptr;       // a screen context for fitting the columns
};

namespace timi_grid {
void setup(GridCtrl& grid, TimiGridState& state);
bool load_day_list(GridCtrl& grid, TimiGridState& state, const std::string& path);
// False leaves the grid as it was, `fault` (when given) saying where and why; nothing is shown.
bool load_data_file(GridCtrl& grid, TimiGridState& state, const std::string& path, TimiFileFault* fault = nullptr);
// Puts a table in place of the old one and sets the grid up for it, as a load does.
void show_table(GridCtrl& grid, TimiGridState& state, TimiData&& table);
void fit_after_load(GridCtrl& grid, TimiGridState& state);
void click(GridCtrl& grid, TimiGridState& state, std::int32_t col, std::int32_t row);
void double_click(GridCtrl& grid, TimiGridState& state, std::int32_t row);
void key_down(GridCtrl& grid, TimiGridState& state, int key);
// First and last selected row; -1, -1 when no block is selected (the current cell alone is not
// a selection).
void get_selected_rows(GridCtrl& grid, std::int32_t& first, std::int32_t& last);
}  // namespace timi_grid

template <class Base>
class TIMIGridWndOf : public Base {
public:
    TIMITableSource& source() { return state_.source; }
    TimiData& data() { return state_.source.data(); }
    void set_document_hooks(std::function<void(TimiData*)> set_data, std::function<void()> modified) {
        state_.set_data = std::move(set_data);
        state_.modified = std::move(modified);
    }
    void set_measure_context(fw::DrawContext* dc) { state_.measure = dc; }

    // False (the user was told why) leaves the grid as it was.
    bool load_day_list(const std::string& path) { return timi_grid::load_day_list(*this, state_, path); }
    // False leaves the grid as it was; the caller tells the user what `fault` says.
    bool load_data_file(const std::string& path, TimiFileFault* fault = nullptr) {
        return timi_grid::load_data_file(*this, state_, path, fault);
    }
    void show_table(TimiData table) { timi_grid::show_table(*this, state_, std::move(table)); }
    void get_selected_rows(std::int32_t& first, std::int32_t& last) {
        timi_grid::get_selected_rows(*this, first, last);
    }

    void on_setup() override { timi_grid::setup(*this, state_); }
    void on_lclicked(std::int32_t col, std::int32_t row, bool down, const fw::Rc&, fw::Pt, int) override {
        if (!down) timi_grid::click(*this, state_, col, row);
    }
    void on_dclicked(std::int32_t, std::int32_t row, const fw::Rc&, fw::Pt, int) override {
        timi_grid::double_click(*this, state_, row);
    }
    void on_key_down(int* key, int) override {
        if (key) timi_grid::key_down(*this, state_, *key);
    }

private:
    TimiGridState state_;
};

using TIMIGridWnd = TIMIGridWndOf<GridCtrl>;

}  // namespace tv
