#include "framework/qt/painter_draw_context.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintDevice>
#include <QPolygon>

#include "framework/qt/qt_text.h"

namespace tv::fw {
namespace {
QColor qc(Rgb c) { return QColor(c.r, c.g, c.b); }
}  // namespace

QImage to_qimage(const Bitmap& bitmap) {
    if (bitmap.width <= 0 || bitmap.height <= 0) return {};
    QImage img(bitmap.width, bitmap.height, QImage::Format_RGB32);
    for (int y = 0; y < bitmap.height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < bitmap.width; ++x) {
            Rgb c = bitmap.pixel(x, y);
            row[x] = qRgb(c.r, c.g, c.b);
        }
    }
    return img;
}

PainterDrawContext::PainterDrawContext(QPainter& painter, Kind kind) : p_(painter), kind_(kind) {
    p_.save();
    p_.resetTransform();
    p_.setRenderHint(QPainter::Antialiasing, false);
    p_.setRenderHint(QPainter::TextAntialiasing, true);
    p_.setBackgroundMode(Qt::TransparentMode);
    pen_ = QPen(Qt::black, 1, Qt::SolidLine);
    pen_.setCosmetic(true);
    p_.setPen(pen_);
    p_.setBrush(Qt::NoBrush);
}

PainterDrawContext::~PainterDrawContext() { p_.restore(); }

Sz PainterDrawContext::device_size() const {
    QPaintDevice* d = p_.device();
    return d ? Sz{d->width(), d->height()} : Sz{};
}

Sz PainterDrawContext::dpi() const {
    QPaintDevice* d = p_.device();
    return d ? Sz{d->logicalDpiX(), d->logicalDpiY()} : Sz{96, 96};
}

void PainterDrawContext::clip_device(const Rc& r) {
    p_.setClipRect(QRect(r.l, r.t, r.r - r.l, r.b - r.t), Qt::ReplaceClip);
}

void PainterDrawContext::clear_clip() { p_.setClipping(false); }

void PainterDrawContext::set_pen(PenStyle style, Rgb c, int width) {
    pen_null_ = style == PenStyle::Null;
    Qt::PenStyle s = Qt::SolidLine;
    if (style == PenStyle::Dot) s = Qt::DotLine;
    if (style == PenStyle::Dash) s = Qt::DashLine;
    if (style == PenStyle::Null) s = Qt::NoPen;
    pen_ = QPen(qc(c), width < 1 ? 1 : width, s, Qt::FlatCap, Qt::MiterJoin);
    pen_.setCosmetic(true);
}

void PainterDrawContext::set_fill(FillStyle style, Rgb c) {
    fill_ = style;
    fill_colour_ = c;
}

void PainterDrawContext::set_text_colour(Rgb c) { text_colour_ = c; }

QFont qfont_of(const Font& font, int pixel_size) {
    QFont q(to_qstring(font.face));
    q.setPixelSize(std::max(1, pixel_size));
    q.setWeight(font.weight >= 600 ? QFont::Bold : QFont::Normal);
    q.setItalic(font.italic);
    q.setStyleStrategy(QFont::NoAntialias);
    return q;
}

void PainterDrawContext::set_font(const Font& font) {
    const int em = font.em_height < 0 ? -font.em_height : font.em_height;
    qfont_ = qfont_of(font, y_to_device(em));
}

TextMetrics PainterDrawContext::metrics() {
    QFontMetrics fm(qfont_, p_.device());
    TextMetrics m;
    m.height = y_to_logical(fm.height());
    m.ascent = y_to_logical(fm.ascent());
    m.descent = y_to_logical(fm.descent());
    m.external_leading = y_to_logical(std::max(0, fm.leading()));
    Pt a = to_logical({0, 0}), b = to_logical({fm.averageCharWidth(), 0});
    m.avg_char_width = std::abs(b.x - a.x);
    return m;
}

void PainterDrawContext::apply_brush() {
    p_.setPen(pen_null_ ? QPen(Qt::NoPen) : pen_);
    switch (fill_) {
        case FillStyle::Null: p_.setBrush(Qt::NoBrush); break;
        case FillStyle::Solid: p_.setBrush(qc(fill_colour_)); break;
        case FillStyle::HatchFDiagonal: {
            QBrush b(qc(fill_colour_), Qt::FDiagPattern);
            p_.setBrush(b);
            p_.setBrushOrigin(0, 0);
            break;
        }
    }
}

void PainterDrawContext::line(Pt a, Pt b) {
    if (pen_null_) return;
    Pt da = to_device(a), db = to_device(b);
    p_.setPen(pen_);
    p_.drawLine(da.x, da.y, db.x, db.y);
}

void PainterDrawContext::polyline(const std::vector<Pt>& points) {
    if (pen_null_ || points.size() < 2) return;
    QPolygon poly;
    for (Pt p : points) {
        Pt d = to_device(p);
        poly << QPoint(d.x, d.y);
    }
    p_.setPen(pen_);
    p_.drawPolyline(poly);
}

void PainterDrawContext::polygon(const std::vector<Pt>& points) {
    if (points.size() < 2) return;
    QPolygon poly;
    for (Pt p : points) {
        Pt d = to_device(p);
        poly << QPoint(d.x, d.y);
    }
    apply_brush();
    p_.drawPolygon(poly);
}

void PainterDrawContext::rect(const Rc& r) {
    Rc d = rect_to_device(r);
    QRect q =
        QRect(QPoint(std::min(d.l, d.r), std::min(d.t, d.b)), QPoint(std::max(d.l, d.r) - 1, std::max(d.t, d.b) - 1));
    if (q.isEmpty()) return;
    if (fill_ == FillStyle::Solid) p_.fillRect(q, qc(fill_colour_));
    if (fill_ == FillStyle::HatchFDiagonal) {
        p_.setBrushOrigin(0, 0);
        p_.fillRect(q, QBrush(qc(fill_colour_), Qt::FDiagPattern));
    }
    if (!pen_null_) {
        p_.setPen(pen_);
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(q.adjusted(0, 0, -1, -1));
    }
}

void PainterDrawContext::fill_rect(const Rc& r, Rgb c) {
    Rc d = rect_to_device(r);
    p_.fillRect(QRect(QPoint(std::min(d.l, d.r), std::min(d.t, d.b)),
                      QPoint(std::max(d.l, d.r) - 1, std::max(d.t, d.b) - 1)),
                qc(c));
}

void PainterDrawContext::pixel(Pt lp, Rgb c) { pixel_device(to_device(lp), c); }

void PainterDrawContext::pixel_device(Pt dp, Rgb c) { p_.fillRect(QRect(dp.x, dp.y, 1, 1), qc(c)); }

void PainterDrawContext::pixels_device(const std::vector<Pt>& points, Rgb c) {
    if (points.empty()) return;
    QList<QRect> rects;
    rects.reserve(static_cast<qsizetype>(points.size()));
    for (Pt p : points) rects.push_back(QRect(p.x, p.y, 1, 1));
    // Every other primitive sets the pen and brush it needs; these are put back all the same.
    const QPen pen = p_.pen();
    const QBrush brush = p_.brush();
    p_.setPen(Qt::NoPen);
    p_.setBrush(qc(c));
    p_.drawRects(rects.constData(), static_cast<int>(rects.size()));
    p_.setPen(pen);
    p_.setBrush(brush);
}

void PainterDrawContext::blit(const Bitmap& image, const Rc& dst) {
    Rc d = rect_to_device(dst);
    QImage img = to_qimage(image);
    if (img.isNull()) return;
    p_.drawImage(QRect(QPoint(std::min(d.l, d.r), std::min(d.t, d.b)),
                       QPoint(std::max(d.l, d.r) - 1, std::max(d.t, d.b) - 1)),
                 img);
}

Sz PainterDrawContext::text(const Rc& box, std::string_view cp1252, const TextOpts& opts) {
    QFontMetrics fm(qfont_, p_.device());
    Rc dbox = rect_to_device(box);
    auto lines = layout_text(cp1252, opts, dbox.r - dbox.l, fm.averageCharWidth(),
                             [&](std::string_view s) { return fm.horizontalAdvance(to_qstring(s)); });
    int width = 0;
    p_.setFont(qfont_);
    p_.setPen(qc(text_colour_));
    const int top = opts.baseline ? dbox.t - fm.ascent() : dbox.t;
    const int tab_stop = (opts.tab_chars > 0 ? opts.tab_chars : 8) * std::max(1, fm.averageCharWidth());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        width = std::max(width, line.width);
        if (opts.calc_only) continue;
        int x = dbox.l;
        if (opts.align == TextOpts::Align::Center) x = dbox.l + (dbox.r - dbox.l - line.width) / 2;
        if (opts.align == TextOpts::Align::Right) x = dbox.r - line.width;
        const int baseline = top + static_cast<int>(i) * fm.height() + fm.ascent();
        if (!opts.expand_tabs) {
            p_.drawText(x, baseline, to_qstring(line.text));
            continue;
        }
        int cx = 0;
        std::size_t start = 0;
        for (;;) {
            std::size_t tab = line.text.find('\t', start);
            QString piece = to_qstring(
                std::string_view(line.text).substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            p_.drawText(x + cx, baseline, piece);
            cx += fm.horizontalAdvance(piece);
            if (tab == std::string::npos) break;
            cx = (cx / tab_stop + 1) * tab_stop;
            start = tab + 1;
        }
    }
    p_.setPen(pen_);
    Pt a = to_logical({0, 0}), b = to_logical({width, static_cast<int>(lines.size()) * fm.height()});
    return {std::abs(b.x - a.x), std::abs(b.y - a.y)};
}

Sz PainterDrawContext::text_extent(std::string_view cp1252) {
    QFontMetrics fm(qfont_, p_.device());
    Pt a = to_logical({0, 0}), b = to_logical({fm.horizontalAdvance(to_qstring(cp1252)), fm.height()});
    return {std::abs(b.x - a.x), std::abs(b.y - a.y)};
}

}  // namespace tv::fw
