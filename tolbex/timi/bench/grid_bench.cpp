// The grid on a week of 30-second TIMI rows (20,160 x 22): a full repaint of the visible cells,
// one page down, a find over the whole table and a sort by a column.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/timi_grid_wnd.h"
#include "tools/demo/timi_sample_week.h"
#include "tolbex/timi/timi_table_source.h"

namespace {

constexpr std::int32_t kRows = tv::kTimiSampleWeekRows;

// The TIMI window's grid on the sample week, in a 1280 x 900 window.
struct TimiGrid {
    TimiGrid() {
        grid.set_measure_context(&dc);
        grid.created();
        tv::TimiData week;
        tv::fill_timi_sample_week(week);
        grid.show_table(std::move(week));
        grid.layout(1280, 900);
        grid.goto_cell(0, 0);
        dc.clear();
    }
    tv::fw::RecordingDrawContext dc{{1280, 900}, {96, 96}};
    tv::TIMIGridWnd grid;
    tv::TIMITableSource& source = grid.source();
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
