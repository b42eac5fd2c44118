// The sheet tab bar left of the grid's horizontal scroll bar, apart from its window: up to 64
// tabs laid side by side right of two scroll arrows, scrolled in 5-pixel steps, a grip at the
// right edge by which the user sizes the bar, hit-testing, and the drawing.
//
// Tab i spans x = area left - offset + the widths before it to right = x + width; it is drawn
// as the polygon (x, top) (x + 7, bottom) (right + 2, bottom) (right + 9, top) and answers
// clicks from x to right + 2, the first tab that holds the pointer winning.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_cell.h"

namespace tv {

inline constexpr std::size_t kGridMaxTabs = 64;
inline constexpr std::int32_t kGridTabBarMinWidth = 40;
inline constexpr std::int32_t kGridTabGrip = 7;  // pixels at the right edge that size the bar
inline constexpr std::int32_t kGridTabScrollStep = 5;

struct GridTab {
    std::string label;
    std::int32_t width = 0;
    std::int32_t sheet_id = 0;  // passed to on_tab_selected
    GridColour text = 0x000000;
    GridColour back = 0xFFFFFF;
};

// System colours the bar draws with.
struct GridTabBarColours {
    GridColour face = 0xF0F0F0;
    GridColour shadow = 0xA0A0A0;
};

class GridTabBar {
public:
    // `arrow_width`: the system width of a horizontal scroll-bar arrow; the tab area starts at
    // twice that.
    explicit GridTabBar(std::int32_t arrow_width);

    // False when the bar holds 64 tabs already or the width is negative.
    bool add_tab(GridTab tab);
    std::size_t tab_count() const { return count_; }
    const GridTab& tab(std::size_t i) const { return tabs_[i < count_ ? i : 0]; }
    std::size_t current() const { return current_; }
    std::int32_t offset() const { return offset_; }
    std::int32_t largest_offset() const { return largest_; }
    std::int32_t area_left() const { return area_left_; }

    // A new client size: the arrow control's rectangle, and the largest offset recomputed
    // (kept as it is while there are no tabs).
    fw::Rc layout(const fw::Rc& client);

    // The first tab whose span holds `x`, or -1.
    std::int32_t tab_at(std::int32_t x) const;
    // A left press off the grip: the tab at `x` becomes current and is scrolled into view.
    // Returns its sheet identifier for on_tab_selected, nothing when no tab is there.
    std::optional<std::int32_t> choose_at(std::int32_t x, const fw::Rc& client);

    // The arrows: left steps back 5 pixels, never below 0; right steps on 5 while the offset is
    // below the largest less 5. True when the offset changed (the bar is redrawn).
    bool scroll_left();
    bool scroll_right();

    // Sizing by the grip. Moves set `grip()` while not sizing; a press on the grip starts sizing;
    // while sizing each move answers the bar's new width (the pointer's x, at least 40), which
    // the grid stores in the sheet's settings before laying out its scroll bar and tab bar.
    void mouse_move_hover(std::int32_t x, const fw::Rc& client);
    bool grip() const { return grip_; }
    bool press_grip();
    std::optional<std::int32_t> mouse_move_sizing(std::int32_t x) const;
    bool sizing() const { return sizing_; }
    void release() { sizing_ = false; }

    // Background, the other tabs, then the current tab over its neighbours (also with no tabs:
    // its outline at the tab area's left edge).
    void paint(fw::DrawContext& dc, const fw::Rc& client, const GridTabBarColours& colours = {}) const;

private:
    // Left and right edges of tab i (64 bits: widths and the offset are hostile-proof).
    std::int64_t tab_x(std::size_t i) const;
    void paint_tab(fw::DrawContext& dc, std::size_t i, const fw::Rc& client, const GridTabBarColours& colours,
                   bool current) const;

    std::array<GridTab, kGridMaxTabs> tabs_{};
    std::size_t count_ = 0;
    std::int32_t offset_ = 0, largest_ = 0;
    std::size_t current_ = 0;
    std::int32_t area_left_;
    bool grip_ = false, sizing_ = false;
};

}  // namespace tv
