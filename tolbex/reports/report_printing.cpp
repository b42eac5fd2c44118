#include "tolbex/reports/report_printing.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "common/files.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/core/page_source.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/reports/page_renderer.h"
#include "tolbex/reports/report_document.h"

namespace tv {

namespace {

// The physical page in micrometres.
constexpr std::int64_t kPageWidthUm = 200200;
constexpr std::int64_t kPageHeightUm = 286000;
constexpr std::int64_t kUmPerInch = 25400;
std::int32_t um_to_pixels(std::int64_t um, int dpi) { return static_cast<std::int32_t>(um * dpi / kUmPerInch); }

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
    if (const PageRenderer* renderer = page_renderer()) return renderer->print_report(doc, request, settings, error);
    if (error) *error = kNoPageRenderer;
    return false;
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
