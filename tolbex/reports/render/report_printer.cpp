// Print-outs through Qt: a printer, or the PDF writer for the configured PDF printer.
#include "tolbex/reports/render/page_render.h"

#include <unistd.h>

#include <cstdio>

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>

#include "common/files.h"
#include "common/text.h"
#include "framework/qt/painter_draw_context.h"
#include "framework/qt/print_job.h"
#include "framework/qt/qt_text.h"
#include "platform/codepage.h"
#include "tolbex/reports/page_renderer.h"
#include "tolbex/reports/report_document.h"

// Printing loads fonts through fontconfig, which keeps its cache until the process ends: a
// sanitizer build of the program would report it at exit. Weak, so that a test executable's own
// list takes precedence.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
#endif

namespace tv {

namespace {

// Resolution of the PDF printer's pages.
constexpr int kPdfResolution = 600;

std::string cut_name(const std::string& name) {
    return name.size() > kPrintDocNameMax ? name.substr(0, kPrintDocNameMax) : name;
}

// Prints the sequence on a paint device whose pages `next_page` starts.
template <typename NextPage>
bool print_pages(QPainter& painter, const ReportDocument& doc, const std::vector<int>& sequence,
                 const PrintSettings& settings, NextPage&& next_page, std::string* error) {
    bool first = true;
    for (int number : sequence) {
        if (!first && !next_page()) {
            if (error) *error = format_string("Page %d could not be started.", number);
            return false;
        }
        first = false;
        fw::PainterDrawContext dc(painter, fw::DrawContext::Kind::Printer);
        const fw::Sz size = dc.device_size();
        const PageViewport vp = print_page_viewport(settings.true_scale, dc.dpi(), settings.margins, size);
        draw_print_page(dc, doc, number - 1, vp);
    }
    return true;
}

class QtPageRenderer final : public PageRenderer {
public:
    bool export_page_bitmaps(const std::vector<const CReportPage*>& pages, const PageFonts& fonts, int width,
                             int height, const std::function<std::string(std::size_t)>& file_name, BitmapFormat format,
                             std::string* error) const override {
        return write_page_bitmaps(pages, fonts, width, height, file_name, format, error);
    }
    bool print_report(const ReportDocument& doc, const PrintRequest& request, const PrintSettings& settings,
                      std::string* error) const override {
        return print_report_with_qt(doc, request, settings, error);
    }
};

}  // namespace

void install_page_renderer() {
    static const QtPageRenderer renderer;
    set_page_renderer(&renderer);
}

bool print_report_with_qt(const ReportDocument& doc, const PrintRequest& request, const PrintSettings& settings,
                          std::string* error) {
    ensure_render_application();
    const std::vector<int> sequence =
        print_page_sequence(request.first_page, request.last_page, request.duplicate_limit, doc.page_count());
    const std::string name = cut_name(request.document_name);

    if (is_pdf_printer(settings, request.printer_name)) {
        if (!create_folder_path(settings.pdf_output_folder)) {
            if (error) *error = "The PDF output folder cannot be made: " + settings.pdf_output_folder;
            return false;
        }
        // The name becomes a file name here, once: the file system spells it in UTF-8.
        const std::string stem = platform::cp1252_to_utf8(file_name_from_text(name));
        // Written beside the target under a name of this run's own, so that nobody sees half a PDF.
        const std::string partial = join_path(settings.pdf_output_folder,
                                              fitted_file_name("." + stem, "." + std::to_string(::getpid()) + ".part"));
        bool ok = true;
        {
            QPdfWriter writer(qstring_from_path(partial));
            writer.setResolution(kPdfResolution);
            writer.setTitle(to_qstring(request.document_name));  // the file's title is whole
            writer.setCreator(QStringLiteral("Calvera"));
            writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
            QPainter painter;
            if (!painter.begin(&writer)) {
                if (error) *error = kPrintStartFailed;
                ok = false;
            } else {
                ok = print_pages(
                    painter, doc, sequence, settings, [&] { return writer.newPage(); }, error);
                if (!painter.end()) ok = false;
            }
        }
        if (ok && !file_exists(partial)) ok = false;
        // An earlier PDF of the same name stays, unless asked: this one takes the next free name.
        const std::string whole = pdf_output_path(settings.pdf_output_folder, name);
        if (ok &&
            (request.replace_pdf ? std::rename(partial.c_str(), whole.c_str()) != 0
                                 : move_to_free_name(partial, settings.pdf_output_folder, stem, ".pdf").empty())) {
            if (error) *error = "The PDF file cannot be written: " + whole;
            ok = false;
        }
        if (!ok) ::unlink(partial.c_str());
        return ok;
    }

    QPrinter printer(QPrinter::HighResolution);
    if (!request.printer_name.empty()) {
        const QPrinterInfo info = QPrinterInfo::printerInfo(to_qstring(request.printer_name));
        if (info.isNull()) {
            if (error) *error = kPrintStartFailed;
            return false;
        }
        printer.setPrinterName(info.printerName());
    } else if (QPrinterInfo::defaultPrinter().isNull()) {
        if (error) *error = fw::kNoPrinterSetUp;
        return false;
    }
    printer.setDocName(to_qstring(name));
    if (!printer.isValid()) {
        if (error) *error = kPrintStartFailed;
        return false;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        if (error) *error = kPrintStartFailed;
        return false;
    }
    const bool ok = print_pages(
        painter, doc, sequence, settings, [&] { return printer.newPage(); }, error);
    if (!ok) printer.abort();
    painter.end();
    return ok;
}

}  // namespace tv
