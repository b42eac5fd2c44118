// Rendering and exporting report pages: a 30-page report drawn to page pictures, and one page
// written as BMP and PCX.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "common/files.h"
#include "platform/fs.h"
#include "tolbex/reports/render/page_render.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/report_printing.h"
#include "tolbex/reports/report_page.h"
#include "tools/demo/page_file_builder.h"

namespace {

// A page as the analysis system writes them: dot grid, three ECG strips, a table and text.
std::string sample_page(int n) {
    tv::PageFileBuilder b;
    b.label("page");
    b.text(100, 200, "Patient Name : Demo");
    b.text(2500, 600, "Full disclosure", tv::kTextLarge);
    for (int strip = 0; strip < 3; ++strip) {
        const int top = 1000 + strip * 1800;
        std::vector<std::int32_t> rows;
        for (int r = 0; r <= 40; ++r) rows.push_back(top + r * 31);
        b.dot_rows(8, 100, 6100, rows);
        std::vector<std::uint16_t> samples;
        for (int i = 0; i < 1900; ++i) {
            const double t = (i + n * 37) % 200 / 200.0;
            const double qrs =
                std::exp(-std::pow((t - 0.3) * 40, 2)) * 900 - std::exp(-std::pow((t - 0.33) * 40, 2)) * 200;
            samples.push_back(static_cast<std::uint16_t>(1024 + qrs + 60 * std::sin(t * 6.28)));
        }
        b.trace(100, top + 600, 0, 1 << 29, samples);
        b.text(100, top + 1300, "Lead II  25 mm/s  10 mm/mV", tv::kTextTiny);
    }
    for (int row = 0; row < 6; ++row) {
        b.polyline({{100, 6500 + row * 150}, {6100, 6500 + row * 150}});
        b.text(150, 6480 + row * 150, "Heart rate   62   71   118 bpm");
    }
    b.shape(8, 5000, 8500, 5600, 8700);
    return b.bytes();
}

struct Report {
    std::string folder;
    std::vector<std::unique_ptr<tv::CReportPage>> pages;
    Report() {
        folder = tv::create_temp_folder();
        // The label page that a report folder starts with; not one of the drawn pages.
        tv::PageFileBuilder label;
        label.label("label");
        tv::platform::atomic_write_file(folder + "/PAGE.0", label.bytes());
        for (int n = 1; n <= 30; ++n) {
            const std::string path = folder + "/PAGE." + std::to_string(n);
            tv::platform::atomic_write_file(path, sample_page(n));
            pages.push_back(tv::CReportPage::load(path, false));
        }
    }
    ~Report() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Report& report() {
    static Report r;
    return r;
}

std::vector<const tv::CReportPage*> page_list() {
    std::vector<const tv::CReportPage*> pages;
    for (const auto& page : report().pages) pages.push_back(page.get());
    return pages;
}

// One page after another on one thread.
void BM_RenderThirtyPagesOneThread(benchmark::State& state) {
    tv::ensure_render_application();
    const auto fonts = tv::default_page_fonts();
    for (auto _ : state)
        for (const auto& page : report().pages) benchmark::DoNotOptimize(tv::render_page_mono(*page, fonts));
}
BENCHMARK(BM_RenderThirtyPagesOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// The BMP export of the whole report: render, encode and write every page.
void BM_ExportThirtyPages(benchmark::State& state) {
    tv::ensure_render_application();
    const auto fonts = tv::default_page_fonts();
    const auto pages = page_list();
    const std::string folder = report().folder;
    const auto name = [&](std::size_t i) {
        return folder + "/" + tv::page_bitmap_file_name(static_cast<int>(i) + 1, tv::BitmapFormat::Bmp);
    };
    for (auto _ : state)
        tv::write_page_bitmaps(pages, fonts, tv::kPageBitmapWidth, tv::kPageBitmapHeight, name, tv::BitmapFormat::Bmp);
}
BENCHMARK(BM_ExportThirtyPages)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportThirtyPagesOneThread(benchmark::State& state) {
    tv::ensure_render_application();
    const auto fonts = tv::default_page_fonts();
    const std::string folder = report().folder;
    for (auto _ : state)
        for (std::size_t i = 0; i < report().pages.size(); ++i)
            tv::export_page_bitmap(*report().pages[i], fonts, tv::kPageBitmapWidth, tv::kPageBitmapHeight,
                                   folder + "/" +
                                       tv::page_bitmap_file_name(static_cast<int>(i) + 1, tv::BitmapFormat::Bmp),
                                   tv::BitmapFormat::Bmp);
}
BENCHMARK(BM_ExportThirtyPagesOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole report on the PDF printer, as the print command and "/print" write it.
void BM_PrintThirtyPagesToPdf(benchmark::State& state) {
    tv::ensure_render_application();
    tv::ReportDocument doc;
    if (!doc.load(report().folder, {}) || doc.page_count() != 30) state.SkipWithError("the report does not load");
    tv::PrintSettings settings;
    settings.pdf_printer_name = "PDF";
    settings.pdf_output_folder = report().folder + "/pdf";
    tv::PrintRequest request;
    request.document_name = "report";
    request.printer_name = "PDF";
    for (auto _ : state)
        if (!tv::print_report_with_qt(doc, request, settings)) state.SkipWithError("not printed");
}
BENCHMARK(BM_PrintThirtyPagesToPdf)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportPage(benchmark::State& state, tv::BitmapFormat format) {
    tv::ensure_render_application();
    const auto fonts = tv::default_page_fonts();
    const std::string out = report().folder + "/" + tv::page_bitmap_file_name(1, format);
    for (auto _ : state)
        tv::export_page_bitmap(*report().pages[0], fonts, tv::kPageBitmapWidth, tv::kPageBitmapHeight, out, format);
}
BENCHMARK_CAPTURE(BM_ExportPage, bmp, tv::BitmapFormat::Bmp)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExportPage, pcx, tv::BitmapFormat::Pcx)->Unit(benchmark::kMillisecond);

}  // namespace
