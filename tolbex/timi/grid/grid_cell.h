// The unit in which cell contents and appearance travel between the grid, its data sources and
// its cell types: a bag of optional properties with a flag word saying which ones are set.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/draw_context.h"

namespace tv {

// A Windows COLORREF: 0x00BBGGRR.
using GridColour = std::uint32_t;
// A cell carries its own pen and font, so a cell outlives whatever set them.
struct GridPen {
    fw::PenStyle style = fw::PenStyle::Solid;
    GridColour colour = 0;
    int width = 1;
    bool operator==(const GridPen&) const = default;
};
fw::Rgb grid_rgb(GridColour colour);  // defined with the hint box, its first user

// The colours a cell answers for properties it does not set.
struct GridSystemColours {
    GridColour window_text = 0x000000;
    GridColour window = 0xFFFFFF;
    GridColour highlight_text = 0xFFFFFF;
    GridColour highlight = 0xD77800;
    GridColour button_face = 0xF0F0F0;
    GridColour button_shadow = 0xA0A0A0;
    GridColour button_highlight = 0xFFFFFF;
};
// The grid draws in fixed colours of its own, whatever the desktop's theme.
GridSystemColours grid_system_colours();

class GridCell;

// Lets an application change a cell after every fetch.
class GridCellModifier {
public:
    virtual ~GridCellModifier() = default;
    virtual void modify(GridCell& cell) = 0;
};

inline constexpr std::uint32_t kCellText = 0x1;
inline constexpr std::uint32_t kCellMask = 0x2;
inline constexpr std::uint32_t kCellLabel = 0x4;
inline constexpr std::uint32_t kCellDataType = 0x8;
inline constexpr std::uint32_t kCellReserved = 0x10;
inline constexpr std::uint32_t kCellCellType = 0x20;
inline constexpr std::uint32_t kCellCellTypeParam = 0x40;
inline constexpr std::uint32_t kCellTextColour = 0x80;
inline constexpr std::uint32_t kCellBackColour = 0x100;
inline constexpr std::uint32_t kCellHighlightTextColour = 0x200;
inline constexpr std::uint32_t kCellHighlightColour = 0x400;
inline constexpr std::uint32_t kCellBorder = 0x800;
inline constexpr std::uint32_t kCellBorderPen = 0x1000;
inline constexpr std::uint32_t kCellFont = 0x2000;
inline constexpr std::uint32_t kCellTypeValue = 0x4000;
inline constexpr std::uint32_t kCellAlignment = 0x8000;
inline constexpr std::uint32_t kCellUserData = 0x10000;
inline constexpr std::uint32_t kCellJoin = 0x20000;
inline constexpr std::uint32_t kCellModifier = 0x200000;
inline constexpr std::uint32_t kCellStyle = 0x800000;
inline constexpr std::uint32_t kCellReadOnly = 0x1000000;
inline constexpr std::uint32_t kCellDecimals = 0x2000000;

inline constexpr std::int16_t kCellDataText = 1;
inline constexpr std::int16_t kCellDataNumber = 2;
inline constexpr std::int16_t kCellDataBool = 3;

class GridCell {
public:
    GridCell() { reset(); }
    virtual ~GridCell() = default;
    GridCell(const GridCell&) = default;
    GridCell& operator=(const GridCell&) = default;

    // Clears every property; the mask string is kept but counts as unset.
    void reset();

    std::uint32_t flags() const { return flags_; }
    void set_flags(std::uint32_t flags) { flags_ = flags; }
    bool is_property_set(std::uint32_t bits) const { return (flags_ & bits) != 0; }

    // Every property set in `source` is copied here (others stay).
    void add_from(const GridCell& source);
    void add_to(GridCell& target) const { target.add_from(*this); }
    // This cell's flag word becomes the source's, then add.
    void copy_from(const GridCell& source);
    void copy_to(GridCell& target) const { target.copy_from(*this); }

    int set_text(const std::string& text);
    std::string get_text() const { return is_property_set(kCellText) ? text_ : std::string(); }
    // Valid until the cell changes.
    std::string_view get_text_view() const {
        return is_property_set(kCellText) ? std::string_view(text_) : std::string_view();
    }
    std::size_t get_text_length() const { return is_property_set(kCellText) ? text_.size() : 0; }
    int set_bool(bool value);
    // The text read as a decimal number; 0 without text.
    double get_number() const;

    int set_mask(const std::string& mask);
    std::string get_mask() const { return is_property_set(kCellMask) ? mask_ : std::string(); }
    int set_label(const std::string& label);
    // 0 and the label when set, else 1.
    int get_label(std::string& label) const;
    int set_data_type(std::int16_t type);
    std::int16_t get_data_type() const { return is_property_set(kCellDataType) ? data_type_ : kCellDataText; }
    int set_read_only(std::int32_t value);
    std::int32_t get_read_only() const { return is_property_set(kCellReadOnly) ? read_only_ : 0; }
    std::int32_t get_decimals() const { return decimals_; }
    int set_cell_type(std::int32_t id);
    std::int32_t get_cell_type() const { return is_property_set(kCellCellType) ? cell_type_ : 0; }
    int set_cell_type_param(std::int32_t param);
    std::int32_t get_cell_type_param() const { return is_property_set(kCellCellTypeParam) ? cell_type_param_ : 0; }
    int set_text_colour(GridColour c);
    GridColour get_text_colour() const;
    int set_back_colour(GridColour c);
    GridColour get_back_colour() const;
    GridColour get_highlight_text_colour() const;
    GridColour get_highlight_colour() const;
    int set_border(std::int16_t style);
    std::int16_t get_border() const { return is_property_set(kCellBorder) ? border_ : 0; }
    // None when unset.
    const GridPen* get_border_pen() const { return is_property_set(kCellBorderPen) ? &border_pen_ : nullptr; }
    int set_font(const fw::Font& font);
    const fw::Font* get_font() const { return is_property_set(kCellFont) ? &font_ : nullptr; }
    std::int32_t get_type_value() const { return is_property_set(kCellTypeValue) ? type_value_ : 0; }
    int set_alignment(std::int16_t alignment);
    std::int16_t get_alignment() const { return is_property_set(kCellAlignment) ? alignment_ : 0; }
    int set_join(std::int32_t first_cell, std::int32_t row_offset, std::int32_t col_offset);
    // False when the cell is not joined.
    bool get_join(std::int32_t& first_cell, std::int32_t& row_offset, std::int32_t& col_offset) const;
    GridCellModifier* get_modifier() const { return is_property_set(kCellModifier) ? modifier_ : nullptr; }
    const GridCell* get_style() const { return is_property_set(kCellStyle) ? style_ : nullptr; }

private:
    std::uint32_t flags_ = 0;
    GridCellModifier* modifier_ = nullptr;
    const GridCell* style_ = nullptr;
    std::string text_, mask_, label_;
    std::int16_t data_type_ = kCellDataText;
    std::int32_t read_only_ = 0;
    std::int32_t reserved_ = -1;
    std::int32_t decimals_ = 0;
    std::int32_t cell_type_ = -1;
    std::int32_t cell_type_param_ = -1;
    GridColour text_colour_ = 0, back_colour_ = 0, highlight_text_colour_ = 0, highlight_colour_ = 0;
    std::int16_t border_ = 0;
    GridPen border_pen_;
    fw::Font font_;
    std::int32_t type_value_ = 0;
    std::int16_t alignment_ = 0;
    std::int32_t join_first_ = 0, join_row_ = -1, join_col_ = -1;
};

}  // namespace tv
