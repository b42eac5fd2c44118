// RTF export of a report's page files: every page becomes a page of positioned paragraphs and
// drawing objects (REPORT.RTF). Only the page files are written, as stored on disk.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/report_files.h"

namespace tv {

class CReportPage;

// Logical units to twips, in single precision as the word processors expect.
std::int32_t rtf_twips_x(std::int32_t x);
std::int32_t rtf_twips_y(std::int32_t y);

// Text of one RTF document with the writer state of one export.
class RtfWriter {
public:
    void header();
    void page_break();
    void footer();
    const std::string& text() const { return out_; }

    // Line styles: 0 solid, 1 dotted, 2 dashed, 3 solid grey.
    void line_object(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, int style);
    // Points in logical units; pen-ups split runs, runs of 2 or more points are written.
    void polyline_runs(const std::vector<std::pair<std::int32_t, std::int32_t>>& points, int style);
    void text_item(std::string_view text, std::int32_t x, std::int32_t y);
    void logo(std::int32_t x, std::int32_t y);
    void triangle(std::int32_t cx, std::int32_t top, std::int32_t s);
    void arrow(std::int32_t cx, std::int32_t top, std::int32_t s);
    void hatched_box(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
    void trace(const std::vector<std::pair<std::int32_t, std::int32_t>>& points);
    void shade_next_text() { shade_ = true; }
    void raw(std::string_view s) { out_ += s; }

private:
    void begin_object();
    void end_object();
    void style(int style);
    std::string out_;
    std::string last_text_;
    std::int32_t last_x_ = -1, last_y_ = -1;
    bool shade_ = false;
};

// Escapes text for RTF: '\\', '{', '}' escaped, bytes >= 0x80 as \'hh, the size prefix left out.
std::string rtf_escape(std::string_view cp1252);

// Writes page files PAGE.1 ... of `report_folder` (from max(first, 1), until last - first + 1
// pages with items are written or a page file is missing) to `output_path`, through a temporary
// file in the same folder. False with `error` when a page file that is there cannot be read
// (nothing is written then) or the output cannot be written.
bool write_rtf_report(const ReportFolder& report_folder, const std::string& output_path, int first_page, int last_page,
                      bool oem, std::string* error = nullptr);
bool write_rtf_report(const std::string& report_folder, const std::string& output_path, int first_page, int last_page,
                      bool oem, std::string* error = nullptr);

}  // namespace tv
