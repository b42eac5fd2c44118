#include "framework/core/recording_draw_context.h"

#include <cstdio>
#include <initializer_list>

namespace tv::fw {
namespace {

// Built by appending: gcc 12 at -O3 warns falsely (-Wrestrict) on "literal" + std::string&&.
std::string tuple(std::initializer_list<long long> values) {
    std::string out = "(";
    for (long long v : values) {
        if (out.size() > 1) out += ',';
        out += std::to_string(v);
    }
    out += ')';
    return out;
}
std::string pt(Pt p) { return tuple({p.x, p.y}); }
std::string rc(const Rc& r) { return tuple({r.l, r.t, r.r, r.b}); }
std::string colour(Rgb c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}
const char* pen_name(PenStyle s) {
    switch (s) {
        case PenStyle::Null: return "null";
        case PenStyle::Solid: return "solid";
        case PenStyle::Dot: return "dot";
        case PenStyle::Dash: return "dash";
    }
    return "?";
}
const char* fill_name(FillStyle s) {
    switch (s) {
        case FillStyle::Null: return "null";
        case FillStyle::Solid: return "solid";
        case FillStyle::HatchFDiagonal: return "hatch";
    }
    return "?";
}

}  // namespace

RecordingDrawContext::RecordingDrawContext(Sz device_size, Sz dpi, Kind kind)
    : size_(device_size), dpi_(dpi), kind_(kind) {}

std::string RecordingDrawContext::joined() const {
    std::string out;
    for (const auto& c : commands_) {
        if (!out.empty()) out += '\n';
        out += c;
    }
    return out;
}

void RecordingDrawContext::clip_device(const Rc& r) { add("clip " + rc(r)); }
void RecordingDrawContext::clear_clip() { add("clip none"); }

void RecordingDrawContext::set_pen(PenStyle style, Rgb c, int width) {
    add(std::string("pen ") + pen_name(style) + " " + colour(c) + " w" + std::to_string(width));
}

void RecordingDrawContext::set_fill(FillStyle style, Rgb c) {
    add(std::string("fill ") + fill_name(style) + " " + colour(c));
}

void RecordingDrawContext::set_text_colour(Rgb c) { add("textcolour " + colour(c)); }

void RecordingDrawContext::set_font(const Font& font) {
    font_ = font;
    add("font " + font.face + "/" + std::to_string(font.em_height) + "/" + std::to_string(font.weight) +
        (font.italic ? "/i" : ""));
}

TextMetrics RecordingDrawContext::metrics() {
    const int em = font_.em_height < 0 ? -font_.em_height : font_.em_height;
    TextMetrics m;
    m.height = em;
    m.ascent = em * 4 / 5;
    m.descent = em - m.ascent;
    m.external_leading = em / 8;
    m.avg_char_width = em / 2;
    return m;
}

void RecordingDrawContext::line(Pt a, Pt b) { add("line " + pt(to_device(a)) + "-" + pt(to_device(b))); }

void RecordingDrawContext::polyline(const std::vector<Pt>& points) {
    std::string s = "polyline ";
    for (Pt p : points) s += pt(to_device(p));
    add(s);
}

void RecordingDrawContext::polygon(const std::vector<Pt>& points) {
    std::string s = "polygon ";
    for (Pt p : points) s += pt(to_device(p));
    add(s);
}

void RecordingDrawContext::rect(const Rc& r) { add("rect " + rc(rect_to_device(r))); }

void RecordingDrawContext::fill_rect(const Rc& r, Rgb c) { add("fillrect " + rc(rect_to_device(r)) + " " + colour(c)); }

void RecordingDrawContext::pixel(Pt lp, Rgb c) { add("pixel " + pt(to_device(lp)) + " " + colour(c)); }

void RecordingDrawContext::pixel_device(Pt dp, Rgb c) { add("pixel " + pt(dp) + " " + colour(c)); }

void RecordingDrawContext::blit(const Bitmap& image, const Rc& dst) {
    add("blit " + std::to_string(image.width) + "x" + std::to_string(image.height) + "x" + std::to_string(image.bits) +
        " " + rc(rect_to_device(dst)));
}

Sz RecordingDrawContext::text(const Rc& box, std::string_view cp1252, const TextOpts& opts) {
    const TextMetrics m = metrics();
    auto lines = layout_text(cp1252, opts, box.r - box.l, m.avg_char_width,
                             [&](std::string_view s) { return static_cast<int>(s.size()) * m.avg_char_width; });
    int width = 0;
    const int y = box.t;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        if (line.width > width) width = line.width;
        if (opts.calc_only) continue;
        int x = box.l;
        if (opts.align == TextOpts::Align::Center) x = box.l + (box.r - box.l - line.width) / 2;
        if (opts.align == TextOpts::Align::Right) x = box.r - line.width;
        add("text " + pt(to_device({x, y + static_cast<int>(i) * m.height})) + " \"" + line.text + "\"");
    }
    return {width, static_cast<std::int32_t>(lines.size()) * m.height};
}

Sz RecordingDrawContext::text_extent(std::string_view cp1252) {
    const TextMetrics m = metrics();
    return {static_cast<std::int32_t>(cp1252.size()) * m.avg_char_width, m.height};
}

}  // namespace tv::fw
