// Writes metafiles of the kinds the report pages' player reads, for the demo data and the tests.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/draw_context.h"

namespace tv {

// Coordinates are device units of a 300 dpi reference device; the frame is the bounds in 0.01 mm.
class EmfWriter {
public:
    explicit EmfWriter(fw::Sz size_pixels);
    void pen(fw::PenStyle style, fw::Rgb colour = {}, int width = 1);
    void brush(fw::Rgb colour);
    void null_brush();
    void font(int height, int weight = 400, const std::string& face = "Arial");
    void text_colour(fw::Rgb colour);
    void polyline(const std::vector<fw::Pt>& points);
    void polygon(const std::vector<fw::Pt>& points);
    void rectangle(const fw::Rc& r);
    void move_to(fw::Pt p);
    void line_to(fw::Pt p);
    void text(fw::Pt at, std::string_view cp1252);
    std::string finish();  // the whole file

private:
    void record(std::uint32_t type, std::string_view payload);
    void select_new(std::uint32_t create_type, std::string payload, std::uint32_t& slot);
    fw::Sz size_;
    std::string body_;
    std::uint32_t records_ = 0;
    std::uint32_t pen_slot_ = 0, brush_slot_ = 0, font_slot_ = 0, next_handle_ = 1;
};

}  // namespace tv
