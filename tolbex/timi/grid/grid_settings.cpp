#include "tolbex/timi/grid/grid_settings.h"

namespace tv {

GridSettings::GridSettings() {
    heading_default.set_back_colour(grid_system_colours().button_face);
    heading_default.set_border(0x2000);
    heading_default.set_alignment(0x24);
}

std::int32_t GridSettings::row_height(std::int32_t row) const {
    if (row < 0) {
        const auto i = static_cast<std::size_t>(-row - 1);
        return i < heading_heights.size() ? heading_heights[i] : 0;
    }
    if (uniform_row_height || row_heights.empty() || row >= static_cast<std::int32_t>(row_heights.size()))
        return default_row_height;
    return row_heights[static_cast<std::size_t>(row)];
}

std::int32_t GridSettings::col_width(std::int32_t col) const {
    if (col < 0) {
        const auto i = static_cast<std::size_t>(-col - 1);
        return i < side_widths.size() ? side_widths[i] : 0;
    }
    return col < num_cols ? cols[static_cast<std::size_t>(col)].width : 0;
}

GridDataSource* GridSettings::source_of(std::int32_t col) const {
    if (col >= 0 && col < num_cols && cols[static_cast<std::size_t>(col)].source)
        return cols[static_cast<std::size_t>(col)].source;
    return default_source;
}

}  // namespace tv
