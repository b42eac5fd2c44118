// The hint window's content and placement: one line of text in a small box next to a point of
// the grid window (the scroll bars show the row or column a dragged thumb has reached).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_cell.h"

namespace tv {

// Placement bits: horizontally 4 centres the box on x, 2 ends it at x, else it starts at x;
// vertically 0x20 centres it on y, 0x10 ends it at y, else it starts at y.
inline constexpr unsigned kGridHintCentreX = 0x4;
inline constexpr unsigned kGridHintEndX = 0x2;
inline constexpr unsigned kGridHintCentreY = 0x20;
inline constexpr unsigned kGridHintEndY = 0x10;

// Pale yellow.
inline constexpr GridColour kGridHintBackground = 0xE0FFFF;

// A COLORREF as the drawing interface's colour.
fw::Rgb grid_rgb(GridColour colour);

class GridHint {
public:
    void set_text(std::string text) { text_ = std::move(text); }
    const std::string& text() const { return text_; }
    // Answers 0.
    int set_placement(unsigned bits) {
        placement_ = bits;
        return 0;
    }
    unsigned placement() const { return placement_; }
    // No font: the context's current one.
    void set_font(std::optional<fw::Font> font) { font_ = std::move(font); }
    void set_colours(GridColour text, GridColour back) {
        text_colour_ = text;
        back_colour_ = back;
    }

    // The box for a hint at (x, y) in the grid window's client area `client`, in the same
    // coordinates: the larger of `min_width` and the text's width + 4 wide, as high as an "X".
    // Moved right and down to remove negative coordinates, then left and up as far as the
    // client's right and bottom edges require. Worked out in 64 bits.
    fw::Rc place(fw::DrawContext& dc, std::int32_t x, std::int32_t y, std::int32_t min_width,
                 const fw::Rc& client) const;

    // The background, and the text on one line centred both ways in `box`.
    void paint(fw::DrawContext& dc, const fw::Rc& box) const;

private:
    void select_font(fw::DrawContext& dc) const;

    std::string text_;
    GridColour text_colour_ = 0;
    GridColour back_colour_ = kGridHintBackground;
    unsigned placement_ = 1;
    std::optional<fw::Font> font_;
};

}  // namespace tv
