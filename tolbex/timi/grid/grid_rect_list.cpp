#include "tolbex/timi/grid/grid_rect_list.h"

#include <algorithm>

namespace tv {

void GridRectList::clear() {
    ranges_.clear();
    cells_.clear();
    bounds_ = {};
}

void GridRectList::widen_bounds(const GridRange& r) {
    if (ranges_.size() == 1) {
        bounds_ = r;
        return;
    }
    bounds_.left = std::min(bounds_.left, r.left);
    bounds_.top = std::min(bounds_.top, r.top);
    bounds_.right = std::max(bounds_.right, r.right);
    bounds_.bottom = std::max(bounds_.bottom, r.bottom);
}

void GridRectList::add_range(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    ranges_.push_back({left, top, right, bottom});
    widen_bounds(ranges_.back());
}

void GridRectList::widen_first(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    if (ranges_.empty()) {
        add_range(left, top, right, bottom);
        return;
    }
    GridRange& f = ranges_.front();
    f.left = std::min(f.left, left);
    f.top = std::min(f.top, top);
    f.right = std::max(f.right, right);
    f.bottom = std::max(f.bottom, bottom);
    bounds_.left = std::min(bounds_.left, f.left);
    bounds_.top = std::min(bounds_.top, f.top);
    bounds_.right = std::max(bounds_.right, f.right);
    bounds_.bottom = std::max(bounds_.bottom, f.bottom);
}

int GridRectList::contains(std::int32_t col, std::int32_t row) const {
    if (ranges_.empty() || !bounds_.holds(col, row)) return 0;
    for (const GridRange& r : ranges_)
        if (r.holds(col, row)) return 1;
    return 0;
}

int GridRectList::has_cell(std::int32_t col, std::int32_t row) const {
    for (const Cell& c : cells_)
        if (c.col == col && c.row == row) return 1;
    return 0;
}

}  // namespace tv
