// What one of the grid's drawing windows still has to draw: inclusive cell ranges in the order
// they were queued, their bounding range, and the joined-cell origins the current paint pass has
// already drawn. Filled on invalidation and scrolling, asked cell by cell while painting, emptied
// after the pass.
#pragma once
#include <cstdint>
#include <vector>

namespace tv {

struct GridRange {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;  // inclusive
    bool holds(std::int32_t col, std::int32_t row) const {
        return col >= left && col <= right && row >= top && row <= bottom;
    }
};

class GridRectList {
public:
    void clear();
    void add_range(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    void add_cell_range(std::int32_t col, std::int32_t row) { add_range(col, row, col, row); }
    // Grows the first range to cover this one (adds it when the list is empty).
    void widen_first(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    // 1 when a range holds the cell, else 0.
    int contains(std::int32_t col, std::int32_t row) const;
    void add_cell(std::int32_t col, std::int32_t row) { cells_.push_back({col, row}); }
    int has_cell(std::int32_t col, std::int32_t row) const;

    bool empty() const { return ranges_.empty(); }
    const std::vector<GridRange>& ranges() const { return ranges_; }
    const GridRange& bounds() const { return bounds_; }

private:
    void widen_bounds(const GridRange& r);
    struct Cell {
        std::int32_t col, row;
    };
    std::vector<GridRange> ranges_;
    std::vector<Cell> cells_;
    GridRange bounds_;
};

}  // namespace tv
