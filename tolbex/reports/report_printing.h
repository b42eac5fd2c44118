// Printing a formatted report: on a printer, or on the configured PDF printer, which writes a PDF
// file into the PDF output folder. Printing takes a document and an output, never a window, so
// that the command line prints without one (Qt's offscreen platform serves the fonts).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "framework/core/draw_context.h"
#include "tolbex/reports/print_settings.h"

namespace tv {

class ReportDocument;

inline constexpr const char* kPrintNoLogMessage =
    "The report cannot be printed, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kPrintStartFailed = "Failed to start printing.";
inline constexpr const char* kMerivaleBadIdMessage =
    "The report cannot be exported as a PDF file, because its recording ID \"%s\" cannot be used as a file name.";
inline constexpr const char* kMerivaleCopyFailed = "The analysis summary could not be copied to \"%s\".";
// Longest document (job) name.
inline constexpr std::size_t kPrintDocNameMax = 31;

struct PrintRequest {
    std::string document_name;
    int first_page = 0;        // 1-based; 0 or less: all pages from the first
    int last_page = 0;         // 1-based; 0 or less: to the last
    int duplicate_limit = 0;   // pages numbered this or below are printed twice
    std::string printer_name;  // empty: the default printer
    // The PDF printer's file takes <name>.pdf whole, replacing an earlier one: the customer
    // export, whose <id>.pdf goes with the <id>.TXT written beside it.
    bool replace_pdf = false;
};

// Page numbers (1-based) in the order they are printed: first..last clamped to 1..page_count,
// downwards when last < first, pages at or below the duplicate limit twice.
std::vector<int> print_page_sequence(int first, int last, int duplicate_limit, int page_count);

// Where the page box goes on the device: true scale puts the physical page (200.2 x 286 mm) at
// the device origin; otherwise the page box fills the printable area less the margins.
struct PageViewport {
    fw::Pt origin;
    fw::Sz extent;
};
PageViewport print_page_viewport(bool true_scale, fw::Sz dpi, const PrintMargins& margins, fw::Sz printable);

// Whether `printer` names the configured PDF printer (without regard to case).
bool is_pdf_printer(const PrintSettings& settings, const std::string& printer);
// The PDF file for a document name (Windows-1252): <folder>/<name>.pdf, the name made a plain
// file name in UTF-8 that fits one path component.
std::string pdf_output_path(const std::string& folder, const std::string& document_name);

// Prints the pages the request names, through the installed renderer (page_renderer.h). The
// document name is cut to 31 characters. False (with `error`) when there is no renderer, the
// printer is unavailable, a page could not be started or the PDF not written; a failed PDF leaves
// no file behind. Unless the request says so, the PDF printer never replaces an earlier PDF: the
// file takes the first free name of <name>.pdf, "<name> (1).pdf", ...
bool print_report(const ReportDocument& doc, const PrintRequest& request, const PrintSettings& settings,
                  std::string* error = nullptr);
// Prints the report on the PDF printer under its recording ID and copies ANALSUM.TXT beside it as
// <id>.TXT. An ID that is empty or not a plain file name is refused with a message.
bool export_merivale_pdf(const ReportDocument& doc, const PrintSettings& settings, std::string* error = nullptr);

// Draws page `index` (0-based) of the document on a context mapped for printing.
void draw_print_page(fw::DrawContext& dc, const ReportDocument& doc, int index, const PageViewport& viewport);

}  // namespace tv
