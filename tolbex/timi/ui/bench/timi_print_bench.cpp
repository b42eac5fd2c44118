// Printing the largest TIMI table, a week of rows, to a PDF file the way the print command does.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include <QApplication>

#include "tolbex/timi/ui/timi_print_ui.h"
#include "tolbex/timi/timi_sample_week.h"

namespace {

void BM_TimiPrintWeekToPdf(benchmark::State& state) {
    tv::TimiData data;
    tv::fill_timi_sample_week(data);
    data.header.patient_id = "P1";
    tv::TimiPrintSettings settings;
    const std::string pdf = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/timi_bench.pdf";
    int pages = 0;
    for (auto _ : state) {
        tv::TimiTablePrinter printer(data, settings, tv::TimiPrintRequest::entire_table());
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
BENCHMARK(BM_TimiPrintWeekToPdf)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
