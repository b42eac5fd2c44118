// Report pages drawn through Qt: monochrome pictures and print-outs. A picture is drawn as for
// printing, without true scale and with zero margins, in screen style; a pixel whose luminance is
// below half becomes black. Rendering uses Qt's fonts: a QGuiApplication must exist
// (ensure_render_application makes an offscreen one when the program has none).
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tolbex/reports/page_export.h"
#include "tolbex/reports/report_printing.h"

namespace tv {

// Makes these the renderer behind export_page_bitmaps and print_report (page_renderer.h) for the
// rest of the process.
void install_page_renderer();

// Makes an offscreen QGuiApplication when the process has no Qt application yet.
void ensure_render_application();

MonoImage render_page_mono(const CReportPage& page, const PageFonts& fonts, int width = kPageBitmapWidth,
                           int height = kPageBitmapHeight);
// Renders and writes one page, replacing the file atomically. False with `error` on failure.
bool export_page_bitmap(const CReportPage& page, const PageFonts& fonts, int width, int height,
                        const std::string& file_name, BitmapFormat format, std::string* error = nullptr);
// export_page_bitmaps' work (page_export.h).
bool write_page_bitmaps(const std::vector<const CReportPage*>& pages, const PageFonts& fonts, int width, int height,
                        const std::function<std::string(std::size_t)>& file_name, BitmapFormat format,
                        std::string* error = nullptr);
// print_report's work (report_printing.h) on a Qt printer or the PDF writer.
bool print_report_with_qt(const ReportDocument& doc, const PrintRequest& request, const PrintSettings& settings,
                          std::string* error = nullptr);

}  // namespace tv
