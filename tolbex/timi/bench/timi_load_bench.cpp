// Loading seven day files (24 hours of 30-second rows each) into the TIMI table, and opening them
// in the TIMI grid window up to its first painted grid (goal: 300 ms).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/ui.h"
#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/grid/grid_corner.h"
#include "tolbex/timi/grid/grid_side_heading.h"
#include "tolbex/timi/grid/grid_top_heading.h"
#include "tolbex/timi/timi_grid_wnd.h"
#include "tolbex/timi/timi_strings.h"
#include "tolbex/timi/timi_table_source.h"

namespace {

namespace fs = std::filesystem;

std::string make_day(int day) {
    std::string out = "Quorril ST Output File, version: 2\r\nPatient ID: P1\r\nRecording ID: R1\r\n";
    char line[256];
    std::snprintf(line, sizeof line, "Recording Date: %02d/03/2004 00:00:00\r\n", day);
    out += line;
    out += "Recording Duration: 24 hrs 0 mins\r\nMin HR (bpm): 50\r\nMax HR (bpm): 120\r\nMean HR (bpm): 70\r\n\r\n";
    for (int c = 1; c <= 3; ++c) {
        std::snprintf(line, sizeof line,
                      "Channel %d Elevation: 1.00\r\nChannel %d Depression: -1.00\r\nChannel %d Slope: UP\r\n", c, c,
                      c);
        out += line;
    }
    out += "\r\nheadings\r\n";
    // Each day repeats the previous day's last row, where the two join.
    if (day > 1) {
        std::snprintf(line, sizeof line, "%d\t23:59:30\t60\t0.10\t0.50\t1.00\t0.00\tX\t\t\t\t\t\t\t\t\t\t\r\n",
                      day - 1);
        out += line;
    }
    for (int i = 0; i < 2880; ++i) {
        const int s = i * 30;
        std::snprintf(line, sizeof line,
                      "%d\t%02d:%02d:%02d\t%d\t0.10\t0.50\t1.%02d\t0.00\tX\t0.20\t0.30\t0.40\t0.10\t\t0.20\t0.30\t"
                      "-0.40\t0.10\t\r\n",
                      day, s / 3600, s / 60 % 60, s % 60, 60 + i % 40, i % 100);
        out += line;
    }
    return out;
}

// Seven day files and their list in a fresh root; the list's path, or empty.
struct Week {
    Week() {
        char tmpl[] = "/tmp/timi-bench-XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        root = tmpl;
        ::setenv("TORVANE_ROOT", root.c_str(), 1);
        tv::register_timi_strings();
        tv::set_ui(&ui);
        std::string text;
        for (int d = 1; d <= 7; ++d) {
            const fs::path folder = root / std::string("d").append(std::to_string(d));
            fs::create_directories(folder);
            std::ofstream(folder / std::string("TIMI1_").append(std::to_string(d)).append(".TXT"), std::ios::binary)
                << make_day(d);
            std::ofstream(folder / "arrhevnt.txt", std::ios::binary) << "Events\r\nSVT\r\n";
            text += (folder / ("TIMI1_" + std::to_string(d) + ".TXT")).string() + "\r\n";
        }
        list = (root / "list.TIMI").string();
        std::ofstream(list, std::ios::binary) << text;
    }
    ~Week() {
        tv::set_ui(nullptr);
        if (!root.empty()) fs::remove_all(root);
    }
    fs::path root;
    std::string list;
    tv::ScriptedUi ui;
};

void BM_LoadSevenDays(benchmark::State& state) {
    Week week;
    if (week.list.empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    for (auto _ : state) {
        tv::TIMITableSource source;
        const bool ok = source.load_day_list(week.list);
        benchmark::DoNotOptimize(ok);
        if (!ok || source.data().row_count() != 7 * 2880) state.SkipWithError("load failed");
    }
}
BENCHMARK(BM_LoadSevenDays)->Unit(benchmark::kMillisecond);

// The TIMI window's path from a 7-day list to its first picture: set-up, load, column fitting,
// then corner, headings, row numbers and the visible cells painted in a 1280 x 900 window.
void BM_OpenSevenDaysToFirstPaint(benchmark::State& state) {
    Week week;
    if (week.list.empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    tv::fw::RecordingDrawContext measure{{1280, 900}, {96, 96}};
    for (auto _ : state) {
        tv::TIMIGridWnd grid;
        grid.set_measure_context(&measure);
        grid.created();
        grid.layout(1280, 900);
        if (!grid.load_day_list(week.list)) state.SkipWithError("load failed");
        tv::fw::RecordingDrawContext dc{{1280, 900}, {96, 96}};
        const tv::GridComponents& parts = grid.components();
        grid.corner_button().paint(dc, {0, 0, parts.corner.width(), parts.corner.height()});
        grid.top_heading().paint(dc, {0, 0, parts.top.width(), parts.top.height()});
        grid.side_heading().paint(dc, {0, 0, parts.side.width(), parts.side.height()});
        grid.queue_all();
        grid.paint_cells(dc, true);
        benchmark::DoNotOptimize(dc.commands().size());
    }
}
BENCHMARK(BM_OpenSevenDaysToFirstPaint)->Unit(benchmark::kMillisecond);

}  // namespace
