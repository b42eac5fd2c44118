// The grid on a week of 30-second TIMI rows (20,160 x 22): a full repaint of the visible cells,
// one page down, a find over the whole table and a sort by a column.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/grid/grid_ctrl.h"
#include "tolbex/timi/timi_sample_week.h"
#include "tolbex/timi/timi_table_source.h"

namespace {

constexpr std::int32_t kRows = tv::kTimiSampleWeekRows;

// The grid as the TIMI window sets it up, in a 1280 x 900 window.
struct TimiGrid {
    TimiGrid() {
        tv::fill_timi_sample_week(source.data());
        grid.set_default_data_source(grid.add_data_source(&source));
        grid.set_num_cols(tv::kTimiColumns);
        grid.set_num_rows(kRows);
        grid.set_uniform_row_height(true);
        tv::GridCell check;
        check.set_cell_type(tv::kCellTypeCheckBox);
        check.set_cell_type_param(0x1004);
        check.set_alignment(4);
        for (int col : {tv::kColUse, tv::channel_flag_col(0), tv::channel_flag_col(1), tv::channel_flag_col(2)}) {
            grid.set_column_default(col, check);
            grid.set_col_width(col, 40);
        }
        grid.set_highlight_row(true, 1);
        grid.set_multi_select(true);
        grid.layout(1280, 900);
        grid.goto_cell(0, 0);
    }
    tv::TIMITableSource source;
    tv::GridCtrl grid;
    tv::fw::RecordingDrawContext dc{{1280, 900}, {96, 96}};
};

void BM_GridFullRepaint(benchmark::State& state) {
    TimiGrid t;
    for (auto _ : state) {
        t.dc.clear();
        t.grid.queue_all();
        t.grid.paint_cells(t.dc, true);
        benchmark::DoNotOptimize(t.dc.commands().size());
    }
    state.counters["cells"] =
        static_cast<double>(t.grid.visible_cells().cols.size() * t.grid.visible_cells().rows.size());
}
BENCHMARK(BM_GridFullRepaint)->Unit(benchmark::kMillisecond);

// A Page Down key and the repaint it asks for.
void BM_GridPageDown(benchmark::State& state) {
    TimiGrid t;
    for (auto _ : state) {
        if (t.grid.get_current_row() >= kRows - 1) {
            state.PauseTiming();
            t.grid.key_down(tv::kKeyHome);
            t.grid.set_modifiers(false, true);
            t.grid.key_down(tv::kKeyHome);
            t.grid.set_modifiers(false, false);
            state.ResumeTiming();
        }
        t.grid.key_down(tv::kKeyPageDown);
        t.dc.clear();
        t.grid.paint_cells(t.dc, true);
        benchmark::DoNotOptimize(t.dc.commands().size());
    }
}
BENCHMARK(BM_GridPageDown)->Unit(benchmark::kMillisecond);

// A text found only in the last row, searched from the first cell over every column.
void BM_GridFindWholeTable(benchmark::State& state) {
    TimiGrid t;
    t.source.data().rows.back().heart_rate = 777;
    for (auto _ : state) {
        t.grid.goto_cell(0, 0);
        const int rc = t.grid.find("777", "", tv::GridCtrl::FindAction::Find, false, true, true, true);
        if (rc != 0 || t.grid.get_current_row() != kRows - 1) state.SkipWithError("not found");
    }
}
BENCHMARK(BM_GridFindWholeTable)->Unit(benchmark::kMillisecond);

// The table copied into the grid's in-memory source, sorted by heart rate, both ways in turn.
void BM_GridSortByColumn(benchmark::State& state) {
    TimiGrid t;
    tv::GridCtrl grid;
    grid.set_num_cols(tv::kTimiColumns);
    grid.set_num_rows(kRows);
    tv::GridCell cell;
    for (std::int32_t r = 0; r < kRows; ++r)
        for (std::int32_t c = 0; c < tv::kTimiColumns; ++c) {
            cell.reset();
            t.source.get_cell(c, r, cell);
            grid.set_cell(c, r, cell);
        }
    int flags = 0;
    for (auto _ : state) {
        grid.sheet().default_source->sort_by_col(tv::kColHr, flags);
        flags ^= 2;
    }
}
BENCHMARK(BM_GridSortByColumn)->Unit(benchmark::kMillisecond);

}  // namespace
