// Drawing report pages into pictures and onto printers needs Qt's painters, which live in
// tolbex/reports/render/ so that the libraries below the windows link no widgets. A program that
// draws pages installs that renderer once at start-up (render/page_render.h); export_page_bitmaps
// and print_report go through it and fail without one.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tolbex/reports/page_export.h"
#include "tolbex/reports/report_printing.h"

namespace tv {

class PageRenderer {
public:
    virtual ~PageRenderer() = default;
    virtual bool export_page_bitmaps(const std::vector<const CReportPage*>& pages, const PageFonts& fonts, int width,
                                     int height, const std::function<std::string(std::size_t)>& file_name,
                                     BitmapFormat format, std::string* error) const = 0;
    virtual bool print_report(const ReportDocument& doc, const PrintRequest& request, const PrintSettings& settings,
                              std::string* error) const = 0;
};

inline constexpr const char* kNoPageRenderer = "This program cannot draw report pages.";

// The renderer lives as long as the process and is not owned; null removes it.
void set_page_renderer(const PageRenderer* renderer);
const PageRenderer* page_renderer();

}  // namespace tv
