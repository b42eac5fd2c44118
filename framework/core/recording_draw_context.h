// A drawing context that draws nothing and records one line per call, with fixed font metrics
// (average character width em/2, height em, ascent em*4/5, external leading em/8, in logical
// units), so that layouts give exact expected values. No Qt.
//
// Line formats (device coordinates unless said):
//   pen solid #rrggbb w1 | fill hatch #rrggbb | textcolour #rrggbb | font Arial/102/400[/i]
//   clip (l,t,r,b) | clip none | line (x,y)-(x,y) | polyline (x,y)(x,y)... | polygon (x,y)...
//   rect (l,t,r,b) | fillrect (l,t,r,b) #rrggbb | pixel (x,y) #rrggbb | blit WxHxB (l,t,r,b)
//   text (x,y) "line"          one per drawn line: its device top-left (or baseline start)
#pragma once
#include <string>
#include <vector>

#include "framework/core/draw_context.h"

namespace tv::fw {

class RecordingDrawContext : public DrawContext {
public:
    explicit RecordingDrawContext(Sz device_size = {2496, 3520}, Sz dpi = {300, 300}, Kind kind = Kind::Recording);

    const std::vector<std::string>& commands() const { return commands_; }
    std::string joined() const;  // lines joined with '\n'
    void clear() { commands_.clear(); }

    Sz device_size() const override { return size_; }
    Sz dpi() const override { return dpi_; }
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
    void blit(const Bitmap& image, const Rc& dst) override;
    Sz text(const Rc& box, std::string_view cp1252, const TextOpts& opts = {}) override;
    Sz text_extent(std::string_view cp1252) override;

private:
    void add(std::string line) { commands_.push_back(std::move(line)); }
    Sz size_, dpi_;
    Kind kind_;
    Font font_;
    std::vector<std::string> commands_;
};

}  // namespace tv::fw
