#include "tolbex/timi/grid/grid_scroll_bar.h"

#include <algorithm>

#include "common/values.h"

namespace tv {
namespace {

constexpr std::int32_t kScaledPositions = 1000;
constexpr unsigned kVHintPlacement = 0x22;  // ends at x, centred on y
constexpr unsigned kHHintPlacement = 0x14;  // centred on x, ends at y
constexpr std::int32_t kVHintMinWidth = 40;
constexpr std::int32_t kHHintMinWidth = 20;

// Line, page, top and bottom actions become the grid's step codes 0..5.
int step_of(GridScrollCode code) {
    switch (code) {
        case GridScrollCode::LineUp: return 0;
        case GridScrollCode::LineDown: return 1;
        case GridScrollCode::PageUp: return 2;
        case GridScrollCode::PageDown: return 3;
        case GridScrollCode::Top: return 4;
        case GridScrollCode::Bottom: return 5;
        default: return -1;
    }
}

}  // namespace

GridScrollUpdate GridVScrollModel::update(const GridVScrollSheet& s, bool bar_hidden) {
    GridScrollUpdate u;
    const bool range =
        s.highest_top_row != last_highest_ || s.scroll_mode != last_mode_ || s.locked_rows != last_locked_;
    if (range) {
        last_highest_ = s.highest_top_row;
        last_mode_ = s.scroll_mode;
        last_locked_ = s.locked_rows;
        pos_per_row_ = rows_per_pos_ = 1.0;
        scaled_ = false;
        if (s.scroll_mode == 2) {
            bar_ = {0, 2, 0, 1};
        } else if (s.highest_top_row > kScaledPositions) {
            pos_per_row_ = double(kScaledPositions) / s.highest_top_row;
            rows_per_pos_ = s.highest_top_row / double(kScaledPositions);
            scaled_ = true;
            bar_ = {0, kScaledPositions, 1, bar_.pos};
        } else {
            const std::int64_t page = std::max<std::int64_t>(0, s.cell_area_height / std::max(s.row_height, 1));
            bar_.min = std::max(s.locked_rows, 0);
            bar_.max = clamp32(std::int64_t{s.highest_top_row} + page - 1, bar_.min, INT32_MAX);
            bar_.page = clamp32(page, 0, INT32_MAX);
        }
        u.changed = true;
        u.relayout = bar_hidden;
    }
    if (range || s.top_row != last_top_) {
        last_top_ = s.top_row;
        // The scale factors' products, worked out exactly in integers.
        const std::int64_t pos = scaled_ ? std::int64_t{s.top_row} * kScaledPositions / last_highest_ : s.top_row;
        bar_.pos = s.scroll_mode == 2 ? 1 : clamp32(pos, bar_.min, bar_.max);
        u.changed = true;
    }
    return u;
}

std::int32_t GridVScrollModel::row_at(std::int64_t pos, const GridVScrollSheet& s) const {
    pos = std::clamp<std::int64_t>(pos, 0, INT32_MAX);
    const std::int64_t row = scaled_ ? pos * last_highest_ / kScaledPositions : pos;
    return clamp32(row, std::max(s.locked_rows, 0), s.highest_top_row);
}

GridScrollAction GridVScrollModel::on_scroll(GridScrollCode code, std::int64_t pos, const GridVScrollSheet& s,
                                             const fw::Rc& bar, fw::Pt pointer) {
    GridScrollAction a;
    a.step = step_of(code);
    if (code == GridScrollCode::ThumbPosition) {
        a.hide_hint = true;
        a.go_to = row_at(pos, s);
    } else if (code == GridScrollCode::ThumbTrack) {
        tracked_ = row_at(pos, s);
        if (s.scroll_mode == 1) a.go_to = tracked_;
        if (s.thumb_hint) a.hint = GridScrollHint{kVHintPlacement, bar.l - 1, pointer.y, kVHintMinWidth};
    }
    return a;
}

GridScrollUpdate GridHScrollModel::update(const GridHScrollSheet& s, bool bar_hidden) {
    GridScrollUpdate u;
    const bool range = s.highest_left_col != last_highest_ || s.locked_cols != last_locked_;
    if (range) {
        last_highest_ = s.highest_left_col;
        last_locked_ = s.locked_cols;
        const std::int64_t room = std::int64_t{s.cell_area_width} - s.locked_width;
        const std::int64_t page = std::max<std::int64_t>(0, room / std::max(s.default_col_width, 1));
        bar_.min = 0;
        bar_.max = clamp32(std::int64_t{s.highest_left_col} - s.locked_cols + page - 1, 0, INT32_MAX);
        bar_.page = clamp32(page, 0, INT32_MAX);
        u.changed = true;
        u.relayout = bar_hidden;
    }
    if (range || s.left_col != last_left_) {
        last_left_ = s.left_col;
        bar_.pos = clamp32(std::int64_t{s.left_col} - s.locked_cols, bar_.min, bar_.max);
        u.changed = true;
    }
    return u;
}

GridScrollAction GridHScrollModel::on_scroll(GridScrollCode code, std::int64_t pos, const GridHScrollSheet& s,
                                             const fw::Rc& bar, fw::Pt pointer) {
    GridScrollAction a;
    a.step = step_of(code);
    const std::int64_t lo = std::max(s.locked_cols, 0);
    const std::int32_t col = clamp32(lo + std::clamp<std::int64_t>(pos, 0, INT32_MAX), lo, s.highest_left_col);
    if (code == GridScrollCode::ThumbPosition) {
        a.hide_hint = true;
        a.go_to = col;
    } else if (code == GridScrollCode::ThumbTrack) {
        tracked_ = col;
        if (s.scroll_mode == 1) a.go_to = col;
        if (s.thumb_hint) a.hint = GridScrollHint{kHHintPlacement, pointer.x, bar.t - 1, kHHintMinWidth};
    }
    return a;
}

}  // namespace tv
