#include "tolbex/timi/ui/timi_print_text.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include <QFontMetrics>
#include <QGlyphRun>
#include <QList>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>

#include "framework/qt/painter_draw_context.h"
#include "framework/qt/qt_text.h"

namespace tv::gui {

// The shaped texts of one job, per font. A text is measured and shaped once, as the painter
// context would measure and shape it, and its glyph runs are drawn on every later use.
class TimiQtTablePrinter::GlyphCache {
public:
    struct Text {
        int advance = 0;
        qreal line_ascent = 0;
        QList<QGlyphRun> runs;
    };
    struct FontTexts {
        QFont font;  // resolved for the device
        int ascent = 0, height = 0;
        std::unordered_map<std::string, Text> texts;
    };

    void clear() { fonts_.clear(); }

    // The entry of a painter context's font.
    FontTexts& font(QPainter& p, const fw::Font& f, int pixels) {
        const QFont q(fw::qfont_of(f, pixels), p.device());
        for (auto& e : fonts_)
            if (e->font == q) return *e;
        auto e = std::make_unique<FontTexts>();
        e->font = q;
        const QFontMetrics fm(q, p.device());
        e->ascent = fm.ascent();
        e->height = fm.height();
        fonts_.push_back(std::move(e));
        return *fonts_.back();
    }

    static const Text& text(FontTexts& f, QPainter& p, std::string_view cp1252) {
        const auto found = f.texts.find(std::string(cp1252));
        if (found != f.texts.end()) return found->second;
        const QString s = to_qstring(cp1252);
        Text t;
        t.advance = QFontMetrics(f.font, p.device()).horizontalAdvance(s);
        QTextLayout layout(s, f.font, p.device());
        layout.beginLayout();
        QTextLine line = layout.createLine();
        layout.endLayout();
        if (line.isValid()) {
            t.line_ascent = line.ascent();
            t.runs = layout.glyphRuns();
        }
        return f.texts.emplace(std::string(cp1252), std::move(t)).first->second;
    }

private:
    std::vector<std::unique_ptr<FontTexts>> fonts_;
};

namespace {

// The painter context with its single-line texts drawn from the cache; everything else, and
// text it cannot take (several lines, tabs, measuring only), goes to the painter context. The
// glyphs of consecutive texts are gathered and drawn as one run per raw font: the engine's cost
// is per run far more than per glyph. Whatever else draws, or changes the clip or the colour,
// first draws the gathered glyphs, so that the order on the page stays as the calls came.
class CachedTextContext : public fw::DrawContext {
public:
    using Cache = TimiQtTablePrinter::GlyphCache;
    CachedTextContext(fw::PainterDrawContext& inner, Cache& cache) : in_(inner), cache_(cache) {
        set_map_mode(inner.map_mode());
        set_window_org(inner.window_org());
        set_window_ext(inner.window_ext());
        set_viewport_org(inner.viewport_org());
        set_viewport_ext(inner.viewport_ext());
    }
    ~CachedTextContext() override { flush(); }
    CachedTextContext(const CachedTextContext&) = delete;
    CachedTextContext& operator=(const CachedTextContext&) = delete;

    fw::Sz device_size() const override { return in_.device_size(); }
    fw::Sz dpi() const override { return in_.dpi(); }
    Kind kind() const override { return in_.kind(); }
    void clip_device(const fw::Rc& r) override {
        flush();
        in_.clip_device(r);
    }
    void clear_clip() override {
        flush();
        in_.clear_clip();
    }
    void set_pen(fw::PenStyle style, fw::Rgb colour, int width) override { in_.set_pen(style, colour, width); }
    void set_fill(fw::FillStyle style, fw::Rgb colour) override { in_.set_fill(style, colour); }
    void set_text_colour(fw::Rgb colour) override {
        if (colour.r != colour_.r || colour.g != colour_.g || colour.b != colour_.b) flush();
        colour_ = colour;
        in_.set_text_colour(colour);
    }
    void set_font(const fw::Font& font) override {
        in_.set_font(font);
        const int em = font.em_height < 0 ? -font.em_height : font.em_height;
        font_ = &cache_.font(in_.painter(), font, in_.y_to_device(em));
    }
    fw::TextMetrics metrics() override { return in_.metrics(); }
    void line(fw::Pt a, fw::Pt b) override {
        flush();
        in_.line(a, b);
    }
    void polyline(const std::vector<fw::Pt>& points) override {
        flush();
        in_.polyline(points);
    }
    void polygon(const std::vector<fw::Pt>& points) override {
        flush();
        in_.polygon(points);
    }
    void rect(const fw::Rc& r) override {
        flush();
        in_.rect(r);
    }
    void fill_rect(const fw::Rc& r, fw::Rgb colour) override {
        flush();
        in_.fill_rect(r, colour);
    }
    void pixel(fw::Pt lp, fw::Rgb colour) override {
        flush();
        in_.pixel(lp, colour);
    }
    void pixel_device(fw::Pt dp, fw::Rgb colour) override {
        flush();
        in_.pixel_device(dp, colour);
    }
    void blit(const fw::Bitmap& image, const fw::Rc& dst) override {
        flush();
        in_.blit(image, dst);
    }
    fw::Sz text_extent(std::string_view cp1252) override { return in_.text_extent(cp1252); }

    fw::Sz text(const fw::Rc& box, std::string_view cp1252, const fw::TextOpts& opts) override {
        if (!font_ || opts.calc_only || opts.word_wrap || cp1252.empty() ||
            cp1252.find_first_of("\n\r\t") != std::string_view::npos) {
            flush();
            return in_.text(box, cp1252, opts);
        }
        const Cache::Text& t = Cache::text(*font_, in_.painter(), cp1252);
        const fw::Rc d = rect_to_device(box);
        int x = d.l;
        if (opts.align == fw::TextOpts::Align::Center) x = d.l + (d.r - d.l - t.advance) / 2;
        if (opts.align == fw::TextOpts::Align::Right) x = d.r - t.advance;
        const int top = opts.baseline ? d.t - font_->ascent : d.t;
        const QPointF at(x, top + font_->ascent - t.line_ascent);
        for (const QGlyphRun& run : t.runs) gather(at, run);
        const fw::Pt a = to_logical({0, 0}), b = to_logical({t.advance, font_->height});
        return {std::abs(b.x - a.x), std::abs(b.y - a.y)};
    }

private:
    struct Batch {
        QRawFont font;
        QList<quint32> glyphs;
        QList<QPointF> positions;
    };

    void gather(QPointF at, const QGlyphRun& run) {
        const QRawFont font = run.rawFont();
        Batch* batch = nullptr;
        for (Batch& b : pending_)
            if (b.font == font) batch = &b;
        if (!batch) batch = &pending_.emplace_back(Batch{font, {}, {}});
        batch->glyphs.append(run.glyphIndexes());
        for (const QPointF& p : run.positions()) batch->positions.append(at + p);
    }

    void flush() {
        if (pending_.empty()) return;
        QPainter& p = in_.painter();
        const QPen pen = p.pen();
        p.setPen(QColor(colour_.r, colour_.g, colour_.b));
        for (const Batch& b : pending_) {
            QGlyphRun run;
            run.setRawFont(b.font);
            run.setGlyphIndexes(b.glyphs);
            run.setPositions(b.positions);
            p.drawGlyphRun(QPointF(0, 0), run);
        }
        p.setPen(pen);
        pending_.clear();
    }

    fw::PainterDrawContext& in_;
    Cache& cache_;
    Cache::FontTexts* font_ = nullptr;
    fw::Rgb colour_{};
    std::vector<Batch> pending_;
};

}  // namespace

TimiQtTablePrinter::TimiQtTablePrinter(const TimiData& data, const TimiPrintSettings& settings,
                                       const TimiPrintRequest& request)
    : printer_(data, settings, request), cache_(std::make_unique<GlyphCache>()) {}

TimiQtTablePrinter::~TimiQtTablePrinter() = default;

void TimiQtTablePrinter::begin_printing(bool preview) {
    cache_->clear();
    printer_.begin_printing(preview);
}

void TimiQtTablePrinter::print_page(fw::DrawContext& dc, int number, const fw::Rc& page) {
    auto* painter_dc = dynamic_cast<fw::PainterDrawContext*>(&dc);
    if (!painter_dc) {
        printer_.print_page(dc, number, page);
        return;
    }
    CachedTextContext cached(*painter_dc, *cache_);
    printer_.print_page(cached, number, page);
}

void TimiQtTablePrinter::end_printing() {
    printer_.end_printing();
    cache_->clear();
}

}  // namespace tv::gui
