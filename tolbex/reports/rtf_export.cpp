#include "tolbex/reports/rtf_export.h"

#include <algorithm>
#include <cmath>

#include "common/files.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/reports/report_page.h"

namespace tv {
namespace {

std::int32_t to_int(float v) {
    if (!(v > -2147483520.0f)) return INT32_MIN;
    if (!(v < 2147483520.0f)) return INT32_MAX;
    return static_cast<std::int32_t>(v);
}

bool is_rtf_pen_up(std::int32_t v) { return v == kPenUp || v == kDividedPenUp; }

int point_size(int code) {
    switch (code) {
        case kTextLarge: return 12;
        case kTextTiny: return 5;
        case kTextMedium: return 10;
        default: return 8;
    }
}

}  // namespace

std::int32_t rtf_twips_x(std::int32_t x) { return to_int(static_cast<float>(x) * 1.7632966f); }
std::int32_t rtf_twips_y(std::int32_t y) { return to_int(static_cast<float>(y) * 1.6568047f); }

std::string rtf_escape(std::string_view text) {
    std::string out;
    for (char c : text_without_prefix(text)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '{' || c == '}') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u >= 0x80) {
            out += format_string("\\'%02x", u);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void RtfWriter::header() {
    out_ += "{\\rtf1\\ansi\n";
    out_ += format_string("\\paperw%i\\paperh%i\n", 12240, 15840);
    out_ += format_string("\\margl%i\\margr%i\n", 600, 600);
    out_ += format_string("\\margt%i\\margb%i\n", 500, 500);
    out_ += "\\gutter0\n";
}

void RtfWriter::page_break() { out_ += "\\par \\pagebb \n"; }
void RtfWriter::footer() { out_ += "}\n"; }
void RtfWriter::begin_object() { out_ += "{\n\\*\\do\\dobxmargin\\dobymargin\\dodhgt8275\n"; }
void RtfWriter::end_object() { out_ += "}\n"; }

void RtfWriter::style(int s) {
    switch (s) {
        case 1: out_ += "\\dplinedot\\dplinew2"; break;
        case 2: out_ += "\\dplinedash\\dplinew15"; break;
        case 3: out_ += "\\dplinesolid\\dplinew15\\dplinecor192\\dplinecog192\\dplinecob192\n"; return;
        default: out_ += "\\dplinesolid\\dplinew15"; break;
    }
    out_ += "\\dplinecor0\\dplinecog0\\dplinecob0\n";
}

void RtfWriter::line_object(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, int s) {
    const std::int32_t ax = rtf_twips_x(x1), ay = rtf_twips_y(y1), bx = rtf_twips_x(x2), by = rtf_twips_y(y2);
    begin_object();
    out_ += "\\dpline\n\\dpptx0\\dppty0\\dpptx3024\\dppty720\n";
    out_ += format_string("\\dpx%i\\dpy%i\n", std::min(ax, bx), std::min(ay, by));
    out_ += format_string("\\dpxsize%lld\\dpysize%lld\n", std::llabs(std::int64_t{bx} - ax),
                          std::llabs(std::int64_t{by} - ay));
    style(s);
    end_object();
}

void RtfWriter::polyline_runs(const std::vector<std::pair<std::int32_t, std::int32_t>>& points, int s) {
    std::size_t i = 0;
    while (i < points.size()) {
        std::size_t j = i;
        while (j < points.size() && !is_rtf_pen_up(points[j].first) && !is_rtf_pen_up(points[j].second)) ++j;
        if (j - i >= 2) {
            begin_object();
            out_ += format_string("\\dppolyline\\dppolycount%i\n", static_cast<int>(j - i));
            for (std::size_t k = i; k < j; ++k)
                out_ +=
                    format_string("\\dpptx%i\\dppty%i\n", rtf_twips_x(points[k].first), rtf_twips_y(points[k].second));
            out_ += "\\dpxsize8275\\dpysize8275\n";
            style(s);
            end_object();
        }
        i = j + 1;
    }
}

void RtfWriter::trace(const std::vector<std::pair<std::int32_t, std::int32_t>>& points) {
    for (std::size_t start = 0; start < points.size(); start += 499) {
        const std::size_t count = std::min<std::size_t>(500, points.size() - start);
        if (count < 2) break;
        begin_object();
        out_ += format_string("\\dppolyline\\dppolycount%i\n", static_cast<int>(count));
        for (std::size_t k = start; k < start + count; ++k)
            out_ += format_string("\\dpptx%i\\dppty%i\n", rtf_twips_x(points[k].first), rtf_twips_y(points[k].second));
        out_ += "\\dpxsize8275\\dpysize8275\n\\dplinew4\\dplinecor0\\dplinecog0\\dplinecob0\n";
        end_object();
        if (start + count >= points.size()) break;
    }
}

void RtfWriter::text_item(std::string_view text, std::int32_t x, std::int32_t y) {
    const int size = point_size(text_size_code(text));
    const std::int32_t tx = rtf_twips_x(x);
    std::int32_t ty = rtf_twips_y(static_cast<std::int32_t>(std::int64_t{y} - 12 * size));
    if (text == last_text_ && tx == last_x_ && ty == last_y_) {
        shade_ = false;
        return;
    }
    last_text_.assign(text);
    last_x_ = tx;
    last_y_ = ty;
    std::string_view body = text_without_prefix(text);
    // Lines end at CR LF or LF CR, and at a lone LF as the screen breaks them.
    std::vector<std::string_view> lines;
    for (;;) {
        const std::size_t cut = body.find('\n');
        if (cut == std::string_view::npos) break;
        std::size_t from = cut, to = cut + 1;
        if (cut > 0 && body[cut - 1] == '\r')
            from = cut - 1;
        else if (to < body.size() && body[to] == '\r')
            ++to;
        lines.push_back(body.substr(0, from));
        body.remove_prefix(to);
    }
    lines.push_back(body);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        out_ += format_string("\\par \\pard \\pvmrg\\phmrg\\fs%i\\posx%i\\posy%i%s ", 2 * size, tx, ty,
                              last && shade_ ? "\\shading2000" : "");
        out_ += rtf_escape(lines[i]);
        out_ += "\n";
        ty += rtf_twips_y(12 * size);
    }
    shade_ = false;
}

void RtfWriter::logo(std::int32_t x, std::int32_t y) {
    const std::int32_t tx = rtf_twips_x(x), ty = rtf_twips_y(y);
    out_ += format_string("\\par \\pard \\pvmrg\\phmrg\\fs%i\\posx%i\\posy%i\\shading0 %s\n", 10, tx - 60, ty,
                          "Brisco Torvane");
    out_ += format_string("\\par \\pard \\pvmrg\\phmrg\\fs%i\\posx%i\\posy%i\\shading0 %s\n", 8, tx + 160, ty + 120,
                          "Medical");
}

namespace {
std::string polygon_text(std::int32_t cx, std::int32_t top, std::int32_t tip_y, std::int32_t s) {
    std::string o = "\\dppolygon\\dppolycount4\n";
    o += format_string("\\dpptx%i\\dppty%i\n", cx - s / 2, top);
    o += format_string("\\dpptx%i\\dppty%i\n", cx + s / 2, top);
    o += format_string("\\dpptx%i\\dppty%i\n", cx, tip_y);
    o += format_string("\\dpptx%i\\dppty%i\n", cx - s / 2, top);
    o += format_string("\\dpxsize%i\\dpysize%i\n", s, s);
    o += "\\dplinesolid\\dplinew1\\dplinecor0\\dplinecog0\\dplinecob0\n";
    o += "\\dpfillfgcr0\\dpfillfgcg0\\dpfillfgcb0\\dpfillpat1\n";
    return o;
}
}  // namespace

void RtfWriter::triangle(std::int32_t cx, std::int32_t top, std::int32_t s) {
    const std::int32_t x = rtf_twips_x(cx), t = rtf_twips_y(top), h = rtf_twips_y(s);
    begin_object();
    out_ += polygon_text(x, t, t + h, h);
    end_object();
}

void RtfWriter::arrow(std::int32_t cx, std::int32_t top, std::int32_t s) {
    const std::int32_t x = rtf_twips_x(cx), t = rtf_twips_y(top), h = rtf_twips_y(s);
    begin_object();
    out_ += "\\dpline\n\\dpptx0\\dppty0\\dpptx3024\\dppty720\n";
    out_ += format_string("\\dpx%i\\dpy%i\n\\dpxsize0\\dpysize%i\n", x, t, h);
    out_ += "\\dplinesolid\\dplinew2\\dplinecor0\\dplinecog0\\dplinecob0\n";
    end_object();
    begin_object();
    out_ += polygon_text(x, t, t - h, h);
    end_object();
}

void RtfWriter::hatched_box(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    const std::int32_t ax = rtf_twips_x(x1), ay = rtf_twips_y(y1), bx = rtf_twips_x(x2), by = rtf_twips_y(y2);
    begin_object();
    out_ += "\\dprect\n";
    out_ += format_string("\\dpx%i\\dpy%i\n", std::min(ax, bx), std::min(ay, by));
    out_ += format_string("\\dpxsize%lld\\dpysize%lld\n", std::llabs(std::int64_t{bx} - ax),
                          std::llabs(std::int64_t{by} - ay));
    out_ += "\\dplinesolid\\dplinew5\\dplinecor0\\dplinecog0\\dplinecob0\n";
    out_ += "\\dpfillbgcr255\\dpfillbgcg255\\dpfillbgcb255\n";
    out_ += "\\dpfillfgcr0\\dpfillfgcg0\\dpfillfgcb0\\dpfillpat22\n";
    end_object();
}

bool write_rtf_report(const std::string& report_folder, const std::string& output_path, int first_page, int last_page,
                      bool oem, std::string* error) {
    return write_rtf_report(ReportFolder(report_folder), output_path, first_page, last_page, oem, error);
}

bool write_rtf_report(const ReportFolder& report_folder, const std::string& output_path, int first_page, int last_page,
                      bool oem, std::string* error) {
    first_page = std::max(first_page, 1);
    RtfWriter w;
    w.header();
    int written = 0;
    const std::int64_t wanted = std::int64_t{last_page} - first_page + 1;
    for (int n = first_page; written < wanted && n < INT32_MAX; ++n) {
        auto name = report_folder.find("page." + std::to_string(n));
        if (!name) break;
        std::string why;
        auto page = CReportPage::load(report_folder, *name, oem, &why);
        if (!page) {
            // Half a report is no export of it.
            if (error) *error = why.empty() ? "Cannot read the page file " + report_folder.path_of(*name) + "." : why;
            return false;
        }
        if (page->item_count() == 0) continue;
        if (written > 0) w.page_break();
        page->write_rtf(w);
        ++written;
    }
    w.footer();
    // Text mode: CR LF line ends.
    std::string crlf;
    crlf.reserve(w.text().size() + w.text().size() / 16);
    for (char c : w.text()) {
        if (c == '\n')
            crlf += "\r\n";
        else
            crlf.push_back(c);
    }
    if (!platform::atomic_write_file(output_path, crlf)) {
        if (error) *error = "Calvera is unable to write to the file, check it is not already open, or read only.";
        return false;
    }
    return true;
}

}  // namespace tv
