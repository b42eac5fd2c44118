// The drawing context on QPainter: screen, printer (QPrinter), PDF (QPdfWriter) and QImage.
// It maps in its own code and drives the painter in device pixels without anti-aliasing.
#pragma once
#include <QFont>
#include <QPainter>
#include <QPen>

#include "framework/core/draw_context.h"

class QImage;

namespace tv::fw {

class PainterDrawContext : public DrawContext {
public:
    // The painter must be active on its device; it is reset to device units. `kind` says what
    // the device is (the screen style depends on it).
    PainterDrawContext(QPainter& painter, Kind kind);
    ~PainterDrawContext() override;

    QPainter& painter() { return p_; }
    Sz device_size() const override;
    Sz dpi() const override;
    Kind kind() const override { return kind_; }
    void clip_device(const Rc& r) override;
    void clear_clip() override;
    void set_pen(PenStyle style, Rgb colour = {}, int width = 1) override;
    void set_fill(FillStyle style, Rgb colour = {}) override;
    void set_text_colour(Rgb colour) override;
    void set_font(const Font& font) override;
    TextMetrics metrics() override;
    void line(Pt a, Pt b) override;
    void polyline(const std::vector<Pt>& points) override;
    void polygon(const std::vector<Pt>& points) override;
    void rect(const Rc& r) override;
    void fill_rect(const Rc& r, Rgb colour) override;
    void pixel(Pt lp, Rgb colour) override;
    void pixel_device(Pt dp, Rgb colour) override;
    void pixels_device(const std::vector<Pt>& points, Rgb colour) override;
    void blit(const Bitmap& image, const Rc& dst) override;
    Sz text(const Rc& box, std::string_view cp1252, const TextOpts& opts = {}) override;
    Sz text_extent(std::string_view cp1252) override;

private:
    void apply_brush();
    QPainter& p_;
    Kind kind_;
    QPen pen_;
    bool pen_null_ = false;
    FillStyle fill_ = FillStyle::Null;
    Rgb fill_colour_{};
    Rgb text_colour_{};
    QFont qfont_;
};

// The Qt font that set_font draws `font` with, `pixel_size` device pixels high (at least 1).
QFont qfont_of(const Font& font, int pixel_size);

// Converts a Bitmap to a QImage (RGB32).
QImage to_qimage(const Bitmap& bitmap);

}  // namespace tv::fw
