#include "tolbex/timi/grid/grid_hint.h"

#include <algorithm>

#include "common/values.h"

namespace tv {

fw::Rgb grid_rgb(GridColour c) {
    return {static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>((c >> 8) & 0xFF),
            static_cast<std::uint8_t>((c >> 16) & 0xFF)};
}

void GridHint::select_font(fw::DrawContext& dc) const {
    if (font_) dc.set_font(*font_);
}

fw::Rc GridHint::place(fw::DrawContext& dc, std::int32_t x, std::int32_t y, std::int32_t min_width,
                       const fw::Rc& client) const {
    select_font(dc);
    const std::int64_t w = std::max<std::int64_t>({min_width, std::int64_t{dc.text_extent(text_).cx} + 4, 0});
    const std::int64_t h = std::max(dc.text_extent("X").cy, 0);
    std::int64_t l = x, t = y;
    if (placement_ & kGridHintCentreX)
        l -= w / 2;
    else if (placement_ & kGridHintEndX)
        l -= w;
    if (placement_ & kGridHintCentreY)
        t -= h / 2;
    else if (placement_ & kGridHintEndY)
        t -= h;
    l = std::max<std::int64_t>(l, client.l);
    t = std::max<std::int64_t>(t, client.t);
    l -= std::max<std::int64_t>(0, l + w - client.r);
    t -= std::max<std::int64_t>(0, t + h - client.b);
    return {clamp32(l), clamp32(t), clamp32(l + w), clamp32(t + h)};
}

void GridHint::paint(fw::DrawContext& dc, const fw::Rc& box) const {
    dc.fill_rect(box, grid_rgb(back_colour_));
    select_font(dc);
    dc.set_text_colour(grid_rgb(text_colour_));
    const fw::Sz size = dc.text_extent(text_);
    dc.text_out({box.l + (box.width() - size.cx) / 2, box.t + (box.height() - size.cy) / 2}, text_);
}

}  // namespace tv
