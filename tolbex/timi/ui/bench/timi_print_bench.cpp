// Printing the largest TIMI table, a week of rows, to a PDF file the way the print command does.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include <QApplication>

#include "tolbex/timi/ui/timi_print_text.h"
#include "tolbex/timi/ui/timi_print_ui.h"
#include "tools/demo/timi_sample_week.h"

namespace {

// The print command's page source (glyphs shaped once per text) against the plain page source
// (every cell shaped and measured by the painter), one right after the other.
template <class Printer>
void print_week_to_pdf(benchmark::State& state) {
    tv::TimiData data;
    tv::fill_timi_sample_week(data);
    data.header.patient_id = "P1";
    tv::TimiPrintSettings settings;
    const std::string pdf = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/timi_bench.pdf";
    int pages = 0;
    for (auto _ : state) {
        Printer printer(data, settings, tv::TimiPrintRequest::entire_table());
        tv::fw::PrintJobOptions options;
        options.show_dialog = false;
        options.show_progress = false;
        options.output_file = pdf;
        tv::fw::print_setup().orientation = tv::fw::PageOrientation::Landscape;
        const tv::fw::PrintOutcome out = tv::fw::run_print_job(printer, options);
        if (out.result != tv::fw::PrintResult::Printed) state.SkipWithError(out.error.c_str());
        pages = out.pages;
    }
    state.counters["pages"] = pages;
    std::remove(pdf.c_str());
}

void BM_TimiPrintWeekToPdf(benchmark::State& state) { print_week_to_pdf<tv::gui::TimiQtTablePrinter>(state); }
BENCHMARK(BM_TimiPrintWeekToPdf)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TimiPrintWeekToPdfPlain(benchmark::State& state) { print_week_to_pdf<tv::TimiTablePrinter>(state); }
BENCHMARK(BM_TimiPrintWeekToPdfPlain)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
