#include "framework/core/draw_context.h"

#include <cstdlib>

#include "common/values.h"

namespace tv::fw {
namespace {

// num / den rounded half away from zero; den != 0.
std::int64_t round_div(std::int64_t num, std::int64_t den) {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const std::int64_t q = num / den, r = num % den;
    if (2 * (r < 0 ? -r : r) >= den) return num < 0 ? q - 1 : q + 1;
    return q;
}

}  // namespace

Rgb Bitmap::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {};
    auto pal = [&](std::size_t i) -> Rgb {
        if (i < palette.size()) return palette[i];
        if (bits == 1) return i ? Rgb{255, 255, 255} : Rgb{};
        auto g = static_cast<std::uint8_t>(i);
        return {g, g, g};
    };
    const std::size_t w = static_cast<std::size_t>(width);
    switch (bits) {
        case 24: {
            std::size_t at = (static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)) * 3;
            if (at + 2 >= pixels.size()) return {};
            return {pixels[at], pixels[at + 1], pixels[at + 2]};
        }
        case 8: {
            std::size_t at = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x);
            return at < pixels.size() ? pal(pixels[at]) : Rgb{};
        }
        case 1: {
            std::size_t row = (w + 7) / 8;
            std::size_t at = static_cast<std::size_t>(y) * row + static_cast<std::size_t>(x) / 8;
            if (at >= pixels.size()) return {};
            return pal((pixels[at] >> (7 - x % 8)) & 1);
        }
        default: return {};
    }
}

void DrawContext::set_window_ext(Sz ext) {
    if (ext.cx != 0 && ext.cy != 0) window_ext_ = ext;
}

void DrawContext::set_viewport_ext(Sz ext) {
    if (ext.cx != 0 && ext.cy != 0) viewport_ext_ = ext;
}

Pt DrawContext::to_device(Pt lp) const {
    if (mode_ == MapMode::Text)
        return {clamp32(std::int64_t{lp.x} - window_org_.x + viewport_org_.x),
                clamp32(std::int64_t{lp.y} - window_org_.y + viewport_org_.y)};
    return {
        clamp32(round_div((std::int64_t{lp.x} - window_org_.x) * viewport_ext_.cx, window_ext_.cx) + viewport_org_.x),
        clamp32(round_div((std::int64_t{lp.y} - window_org_.y) * viewport_ext_.cy, window_ext_.cy) + viewport_org_.y)};
}

Pt DrawContext::to_logical(Pt dp) const {
    if (mode_ == MapMode::Text)
        return {clamp32(std::int64_t{dp.x} - viewport_org_.x + window_org_.x),
                clamp32(std::int64_t{dp.y} - viewport_org_.y + window_org_.y)};
    return {
        clamp32(round_div((std::int64_t{dp.x} - viewport_org_.x) * window_ext_.cx, viewport_ext_.cx) + window_org_.x),
        clamp32(round_div((std::int64_t{dp.y} - viewport_org_.y) * window_ext_.cy, viewport_ext_.cy) + window_org_.y)};
}

Rc DrawContext::rect_to_device(const Rc& lr) const {
    Pt a = to_device(Pt{lr.l, lr.t}), b = to_device(Pt{lr.r, lr.b});
    return {a.x, a.y, b.x, b.y};
}

Sz DrawContext::device_pixel_in_logical() const {
    if (mode_ == MapMode::Text) return {1, 1};
    auto one = [](std::int32_t w, std::int32_t v) {
        std::int64_t r = std::llabs(round_div(w, v));
        return static_cast<std::int32_t>(r < 1 ? 1 : r);
    };
    return {one(window_ext_.cx, viewport_ext_.cx), one(window_ext_.cy, viewport_ext_.cy)};
}

int DrawContext::y_to_device(int logical) const {
    if (mode_ == MapMode::Text) return logical;
    return static_cast<int>(std::llabs(round_div(std::int64_t{logical} * viewport_ext_.cy, window_ext_.cy)));
}

int DrawContext::y_to_logical(int device) const {
    if (mode_ == MapMode::Text) return device;
    return static_cast<int>(std::llabs(round_div(std::int64_t{device} * window_ext_.cy, viewport_ext_.cy)));
}

void DrawContext::text_out(Pt at, std::string_view cp1252, bool baseline) {
    TextOpts o;
    o.baseline = baseline;
    text({at.x, at.y, at.x, at.y}, cp1252, o);
}

namespace {
int measure_line(std::string_view line, const TextOpts& opts, int avg,
                 const std::function<int(std::string_view)>& width_of) {
    if (!opts.expand_tabs) return width_of(line);
    const int stop = (opts.tab_chars > 0 ? opts.tab_chars : 8) * (avg > 0 ? avg : 1);
    int x = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        x += width_of(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) break;
        x = (x / stop + 1) * stop;
        start = tab + 1;
    }
    return x;
}
}  // namespace

std::vector<TextLine> layout_text(std::string_view text, const TextOpts& opts, int max_width, int avg_char_width,
                                  const std::function<int(std::string_view)>& width_of) {
    std::vector<TextLine> out;
    auto measure = [&](std::string_view s) { return measure_line(s, opts, avg_char_width, width_of); };
    std::size_t start = 0;
    for (;;) {
        std::size_t nl = text.find('\n', start);
        std::string_view para = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!para.empty() && para.back() == '\r') para.remove_suffix(1);
        if (!opts.word_wrap || max_width <= 0) {
            out.push_back({std::string(para), measure(para)});
        } else {
            std::string line;
            std::size_t i = 0;
            bool any = false;
            while (i < para.size()) {
                // One word with the blanks in front of it.
                std::size_t j = i;
                while (j < para.size() && (para[j] == ' ' || para[j] == '\t')) ++j;
                while (j < para.size() && para[j] != ' ' && para[j] != '\t') ++j;
                std::string_view word = para.substr(i, j - i);
                std::string candidate = line + std::string(word);
                if (!line.empty() && measure(candidate) > max_width) {
                    while (!line.empty() && line.back() == ' ') line.pop_back();
                    out.push_back({line, measure(line)});
                    any = true;
                    std::size_t k = 0;
                    while (k < word.size() && word[k] == ' ') ++k;
                    line = std::string(word.substr(k));
                } else {
                    line = std::move(candidate);
                }
                i = j;
            }
            while (!line.empty() && line.back() == ' ') line.pop_back();
            if (!line.empty() || !any) out.push_back({line, measure(line)});
        }
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return out;
}

int get_text_line_height(DrawContext& dc) {
    TextMetrics m = dc.metrics();
    return m.height + m.external_leading;
}

}  // namespace tv::fw
