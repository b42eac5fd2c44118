// A small player for enhanced metafiles (.emf): the record kinds the 12-lead pages use (lines,
// polylines, polygons, rectangles, pens, brushes, fonts, text, mapping, saved states). Other
// records are skipped. Every record length is checked against the file.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/draw_context.h"

namespace tv {

struct EmfHeader {
    fw::Rc bounds;           // device units of the reference device
    fw::Rc frame;            // 0.01 mm
    std::uint32_t size = 0;  // bytes, as the header says
    std::uint32_t records = 0;
    fw::Sz device_pixels;  // reference device
    fw::Sz device_mm;
};

class EmfFile {
public:
    // nullopt when the bytes are not a metafile (no header record, bad signature).
    static std::optional<EmfFile> parse(std::string bytes);
    static std::optional<EmfFile> load(const std::string& path);
    const EmfHeader& header() const { return header_; }
    const std::string& bytes() const { return bytes_; }

private:
    EmfHeader header_;
    std::string bytes_;
};

// Plays the metafile with its frame mapped onto `dst` (logical units of `dc`).
void play_metafile(fw::DrawContext& dc, const EmfFile& emf, const fw::Rc& dst);

// Writes metafiles of the kinds the player reads (demo data and tests). Coordinates are device
// units of a 300 dpi reference device; the frame is the bounds in 0.01 mm.
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
