#include "tolbex/timi/grid/grid_cell.h"

#include <algorithm>
#include <charconv>

#include "common/number_text.h"

namespace tv {

GridSystemColours grid_system_colours() { return {}; }

void GridCell::reset() {
    flags_ = 0;
    text_.clear();
    label_.clear();
    reserved_ = -1;
    cell_type_ = -1;
    cell_type_param_ = -1;
    join_row_ = -1;
    join_col_ = -1;
}

void GridCell::add_from(const GridCell& s) {
    const std::uint32_t f = s.flags_;
    if (f & kCellModifier) modifier_ = s.modifier_;
    if (f & kCellStyle) style_ = s.style_;
    if (f & kCellText) text_ = s.text_;
    if (f & kCellMask) mask_ = s.mask_;
    if (f & kCellLabel) label_ = s.label_;
    if (f & kCellDataType) data_type_ = s.data_type_;
    if (f & kCellReadOnly) read_only_ = s.read_only_;
    if (f & kCellReserved) reserved_ = s.reserved_;
    if (f & kCellDecimals) decimals_ = s.decimals_;
    if (f & kCellCellType) cell_type_ = s.cell_type_;
    if (f & kCellCellTypeParam) cell_type_param_ = s.cell_type_param_;
    if (f & kCellTextColour) text_colour_ = s.text_colour_;
    if (f & kCellBackColour) back_colour_ = s.back_colour_;
    if (f & kCellHighlightTextColour) highlight_text_colour_ = s.highlight_text_colour_;
    if (f & kCellHighlightColour) highlight_colour_ = s.highlight_colour_;
    if (f & kCellBorder) border_ = s.border_;
    if (f & kCellBorderPen) border_pen_ = s.border_pen_;
    if (f & kCellFont) font_ = s.font_;
    if (f & kCellTypeValue) type_value_ = s.type_value_;
    if (f & kCellAlignment) alignment_ = s.alignment_;
    if (f & kCellJoin) {
        join_first_ = s.join_first_;
        join_row_ = s.join_row_;
        join_col_ = s.join_col_;
    }
    flags_ |= f;
}

void GridCell::copy_from(const GridCell& source) {
    if (&source == this) return;
    flags_ = source.flags_;
    add_from(source);
}

int GridCell::set_text(const std::string& text) {
    text_ = text;
    data_type_ = kCellDataText;
    flags_ |= kCellText | kCellDataType;
    return 0;
}

int GridCell::set_bool(bool value) {
// gcc 12 at -O2 sees an overlapping copy in the inlined assignment of a one-character literal
// (a known false positive).
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
    text_ = value ? "1" : "0";
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    data_type_ = kCellDataBool;
    flags_ |= kCellText | kCellDataType;
    return 0;
}

double GridCell::get_number() const {
    if (!is_property_set(kCellText)) return 0.0;
    return leading_number(text_);
}

int GridCell::set_mask(const std::string& mask) {
    mask_ = mask;
    flags_ |= kCellMask;
    return 0;
}

int GridCell::set_label(const std::string& label) {
    label_ = label;
    flags_ |= kCellLabel;
    return 0;
}

int GridCell::get_label(std::string& label) const {
    if (!is_property_set(kCellLabel)) return 1;
    label = label_;
    return 0;
}

#define TV_GRID_SETTER(name, field, bit, type) \
    int GridCell::name(type value) {           \
        field = value;                         \
        flags_ |= bit;                         \
        return 0;                              \
    }

TV_GRID_SETTER(set_data_type, data_type_, kCellDataType, std::int16_t)
TV_GRID_SETTER(set_read_only, read_only_, kCellReadOnly, std::int32_t)
TV_GRID_SETTER(set_cell_type, cell_type_, kCellCellType, std::int32_t)
TV_GRID_SETTER(set_cell_type_param, cell_type_param_, kCellCellTypeParam, std::int32_t)
TV_GRID_SETTER(set_text_colour, text_colour_, kCellTextColour, GridColour)
TV_GRID_SETTER(set_back_colour, back_colour_, kCellBackColour, GridColour)
TV_GRID_SETTER(set_border, border_, kCellBorder, std::int16_t)
TV_GRID_SETTER(set_font, font_, kCellFont, const fw::Font&)
TV_GRID_SETTER(set_alignment, alignment_, kCellAlignment, std::int16_t)
#undef TV_GRID_SETTER

GridColour GridCell::get_text_colour() const {
    return is_property_set(kCellTextColour) ? text_colour_ : grid_system_colours().window_text;
}
GridColour GridCell::get_back_colour() const {
    return is_property_set(kCellBackColour) ? back_colour_ : grid_system_colours().window;
}
GridColour GridCell::get_highlight_text_colour() const {
    return is_property_set(kCellHighlightTextColour) ? highlight_text_colour_ : grid_system_colours().highlight_text;
}
GridColour GridCell::get_highlight_colour() const {
    return is_property_set(kCellHighlightColour) ? highlight_colour_ : grid_system_colours().highlight;
}

int GridCell::set_join(std::int32_t first_cell, std::int32_t row_offset, std::int32_t col_offset) {
    join_first_ = first_cell;
    join_row_ = row_offset;
    join_col_ = col_offset;
    flags_ |= kCellJoin;
    return 0;
}

bool GridCell::get_join(std::int32_t& first_cell, std::int32_t& row_offset, std::int32_t& col_offset) const {
    if (!is_property_set(kCellJoin)) return false;
    first_cell = join_first_;
    row_offset = join_row_;
    col_offset = join_col_;
    return true;
}

}  // namespace tv
