#include "tolbex/timi/grid/grid_tab_bar.h"

#include <algorithm>

#include "tolbex/timi/grid/grid_hint.h"
#include "common/values.h"

namespace tv {
namespace {

const fw::Font kTabFont{"Arial", 14, 500, false};
constexpr fw::Rgb kWhite{255, 255, 255};
constexpr fw::Rgb kBlack{0, 0, 0};

}  // namespace

GridTabBar::GridTabBar(std::int32_t arrow_width) : area_left_(clamp32(2 * std::int64_t{std::max(arrow_width, 0)})) {}

bool GridTabBar::add_tab(GridTab tab) {
    if (count_ == kGridMaxTabs || tab.width < 0) return false;
    tabs_[count_++] = std::move(tab);
    return true;
}

std::int64_t GridTabBar::tab_x(std::size_t i) const {
    std::int64_t x = std::int64_t{area_left_} - offset_;
    for (std::size_t k = 0; k < i && k < count_; ++k) x += tabs_[k].width;
    return x;
}

fw::Rc GridTabBar::layout(const fw::Rc& client) {
    if (count_ > 0) {
        std::int64_t widths = 0;
        for (std::size_t i = 0; i < count_; ++i) widths += tabs_[i].width;
        const std::int64_t span = std::int64_t{area_left_} - client.r + widths;
        largest_ = span < 1 ? 0 : clamp32(span + 20);
        offset_ = std::min(offset_, largest_);
    }
    return {client.l, clamp32(std::int64_t{client.t} + 1), area_left_, client.b};
}

std::int32_t GridTabBar::tab_at(std::int32_t x) const {
    for (std::size_t i = 0; i < count_; ++i) {
        const std::int64_t l = tab_x(i), r = l + tabs_[i].width;
        if (x >= l && x < r + 2) return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::optional<std::int32_t> GridTabBar::choose_at(std::int32_t x, const fw::Rc& client) {
    const std::int32_t i = tab_at(x);
    if (i < 0) return std::nullopt;
    current_ = static_cast<std::size_t>(i);
    const std::int64_t l = tab_x(current_), r = l + tabs_[current_].width;
    if (l - 5 < area_left_) offset_ = clamp32(std::max<std::int64_t>(0, offset_ - (area_left_ - (l - 5))));
    if (r + 19 > client.r) {
        offset_ = clamp32(std::min<std::int64_t>(largest_, offset_ + (r + 19 - client.r)));
    }
    return tabs_[current_].sheet_id;
}

bool GridTabBar::scroll_left() {
    if (offset_ < 1) return false;
    offset_ = std::max(offset_ - kGridTabScrollStep, 0);
    return true;
}

bool GridTabBar::scroll_right() {
    if (std::int64_t{offset_} >= std::int64_t{largest_} - kGridTabScrollStep) return false;
    offset_ += kGridTabScrollStep;
    return true;
}

void GridTabBar::mouse_move_hover(std::int32_t x, const fw::Rc& client) {
    if (!sizing_) grip_ = x > std::int64_t{client.r} - kGridTabGrip;
}

bool GridTabBar::press_grip() {
    if (grip_) sizing_ = true;
    return sizing_;
}

std::optional<std::int32_t> GridTabBar::mouse_move_sizing(std::int32_t x) const {
    if (!sizing_) return std::nullopt;
    return std::max(x, kGridTabBarMinWidth);
}

void GridTabBar::paint_tab(fw::DrawContext& dc, std::size_t i, const fw::Rc& client, const GridTabBarColours& colours,
                           bool current) const {
    const GridTab empty;
    const GridTab& tab = i < count_ ? tabs_[i] : empty;
    // Kept clear of the 32-bit ends, so the slanted edges a few pixels beyond stay representable.
    static constexpr std::int64_t kReach = INT32_MAX - 16;
    const auto coord = [](std::int64_t v) { return static_cast<std::int32_t>(std::clamp(v, -kReach, kReach)); };
    const std::int32_t x = coord(tab_x(i)), right = coord(std::int64_t{x} + tab.width);
    const std::int32_t top = client.t, bottom = client.b;
    dc.set_pen(fw::PenStyle::Null);
    dc.set_fill(fw::FillStyle::Solid, current ? kWhite : grid_rgb(tab.back));
    dc.polygon({{x, top}, {x + 7, bottom}, {right + 2, bottom}, {right + 9, top}});
    if (current) {
        dc.set_pen(fw::PenStyle::Solid, grid_rgb(colours.face));
        dc.line({x + 1, top}, {right + 9, top});
    }
    dc.set_font(kTabFont);
    dc.set_text_colour(grid_rgb(tab.text));
    dc.text_out({x + 10, top + 1}, tab.label);
    if (!current) return;
    // The raised edge: light left side, dark bottom and right side with a shadow inside them.
    dc.set_pen(fw::PenStyle::Solid, kWhite);
    dc.line({x, top}, {x + 7, bottom});
    dc.set_pen(fw::PenStyle::Solid, kBlack);
    dc.polyline({{x + 7, bottom - 1}, {right + 2, bottom - 1}, {right + 9, top - 1}});
    dc.set_pen(fw::PenStyle::Solid, grid_rgb(colours.shadow));
    dc.polyline({{x + 8, bottom - 2}, {right + 1, bottom - 2}, {right + 8, top - 1}});
}

void GridTabBar::paint(fw::DrawContext& dc, const fw::Rc& client, const GridTabBarColours& colours) const {
    dc.fill_rect(client, grid_rgb(colours.face));
    for (std::size_t i = 0; i < count_; ++i)
        if (i != current_) paint_tab(dc, i, client, colours, false);
    paint_tab(dc, current_, client, colours, true);
}

}  // namespace tv
