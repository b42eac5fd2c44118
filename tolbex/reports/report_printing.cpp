#include "tolbex/reports/report_printing.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>

#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/qt/painter_draw_context.h"
#include "framework/qt/print_job.h"
#include "framework/qt/qt_text.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/reports/page_export.h"
#include "tolbex/reports/report_document.h"

// Printing loads fonts through fontconfig, which keeps its cache until the process ends: a
// sanitizer build of the program would report it at exit. Weak, so that a test executable's own
// list takes precedence.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
#endif

namespace tv {

namespace {

// The physical page in micrometres.
constexpr std::int64_t kPageWidthUm = 200200;
constexpr std::int64_t kPageHeightUm = 286000;
constexpr std::int64_t kUmPerInch = 25400;
// Resolution of the PDF printer's pages.
constexpr int kPdfResolution = 600;

std::int32_t um_to_pixels(std::int64_t um, int dpi) { return static_cast<std::int32_t>(um * dpi / kUmPerInch); }

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

}  // namespace

std::vector<int> print_page_sequence(int first, int last, int duplicate_limit, int page_count) {
    std::vector<int> out;
    if (page_count <= 0) return out;
    // The same order as the windowed print job's.
    const fw::PageSequence sequence = fw::make_page_sequence(first, last, duplicate_limit, page_count);
    for (int p = sequence.next(0); p != 0; p = sequence.next(p))
        out.insert(out.end(), static_cast<std::size_t>(sequence.copies(p)), p);
    return out;
}

PageViewport print_page_viewport(bool true_scale, fw::Sz dpi, const PrintMargins& margins, fw::Sz printable) {
    PageViewport vp;
    if (true_scale) {
        vp.origin = {0, 0};
        vp.extent = {um_to_pixels(kPageWidthUm, dpi.cx), um_to_pixels(kPageHeightUm, dpi.cy)};
        return vp;
    }
    // Margins are kept in micrometres; the device wants pixels.
    const std::int32_t l = um_to_pixels(margins.left, dpi.cx), r = um_to_pixels(margins.right, dpi.cx);
    const std::int32_t t = um_to_pixels(margins.top, dpi.cy), b = um_to_pixels(margins.bottom, dpi.cy);
    vp.origin = {l, t};
    vp.extent = {std::max(printable.cx - l - r, 1), std::max(printable.cy - t - b, 1)};
    return vp;
}

void draw_print_page(fw::DrawContext& dc, const ReportDocument& doc, int index, const PageViewport& viewport) {
    dc.set_map_mode(fw::MapMode::Anisotropic);
    dc.set_window_org({0, 0});
    dc.set_window_ext({kPageBoxWidth, kPageBoxHeight});
    dc.set_viewport_org(viewport.origin);
    dc.set_viewport_ext(viewport.extent);
    dc.clear_clip();
    if (const CReportPage* page = doc.page(index)) page->draw(dc, doc.fonts());
}

bool is_pdf_printer(const PrintSettings& settings, const std::string& printer) {
    return !printer.empty() && !settings.pdf_printer_name.empty() &&
           platform::iequals(printer, settings.pdf_printer_name);
}

std::string pdf_output_path(const std::string& folder, const std::string& document_name) {
    return join_path(folder, fitted_file_name(platform::cp1252_to_utf8(file_name_from_text(document_name)), ".pdf"));
}

bool print_report(const ReportDocument& doc, const PrintRequest& request, const PrintSettings& settings,
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

bool export_merivale_pdf(const ReportDocument& doc, const PrintSettings& settings, std::string* error) {
    const std::string id = read_recording_id(doc.report_files()).value_or("");
    // The ID names files in the output folder: nothing that leads elsewhere.
    if (id.empty() || !is_safe_path_component(id)) {
        const std::string text = format_string(kMerivaleBadIdMessage, id.c_str());
        ui().message_box(text, "", MsgIcon::Error, MsgButtons::Ok);
        if (error) *error = text;
        return false;
    }
    PrintRequest request;
    request.document_name = id;
    request.printer_name = settings.pdf_printer_name;
    request.replace_pdf = true;
    if (!print_report(doc, request, settings, error)) return false;
    // The summary leaves the report folder: a plain file of it, never what a link leads to.
    FolderFiles summary;
    const std::string target = join_path(settings.pdf_output_folder, platform::cp1252_to_utf8(id) + ".TXT");
    if (!summary.read(doc.report_folder(), kAnalsumTxtName) || summary.names().empty() ||
        !summary.copy(summary.names().front(), target)) {
        const std::string text =
            summary.blocker().empty() ? format_string(kMerivaleCopyFailed, target.c_str()) : summary.refusal("copied");
        ui().message_box(text, "", MsgIcon::Error, MsgButtons::Ok);
        if (error) *error = text;
        return false;
    }
    return true;
}

}  // namespace tv
