// Cell types: how a grid cell looks and how it answers the mouse and the keys. The default type
// draws text; the drop-list, check-box and side-arrows types derive from it. Every type draws
// onto the framework's drawing interface, so the same code serves the screen and the tests.
// Event answers are 1 handled, 0 not handled; the grid passes them on to its notifications.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_cell.h"
#include "tolbex/timi/grid/grid_drop_list.h"

namespace tv {

class GridCtrl;

inline constexpr int kCellTypeDefault = 0;
inline constexpr int kCellTypeDropList = 1;
inline constexpr int kCellTypeCheckBox = 2;
inline constexpr int kCellTypeSideArrows = 3;
inline constexpr int kNotifyCheckChanged = 53;
inline constexpr int kNotifyListOpening = 100;

class GridCellType {
public:
    virtual ~GridCellType() = default;
    void set_grid(GridCtrl* grid) { grid_ = grid; }
    void set_type_index(int index) { index_ = index; }
    int type_index() const { return index_; }

    virtual std::string get_name() const { return "Normal Cell Type (default)"; }
    virtual std::string get_id() const { return "{78A705C1-F3E9-11D0-9C7B-0080C83F712F}"; }
    virtual int get_edit_area(fw::Rc& /*rect*/) { return 0; }
    virtual int on_left_button(std::int32_t, std::int32_t, bool /*down*/, const fw::Rc&, fw::Pt) { return 0; }
    virtual int on_right_button(std::int32_t, std::int32_t, bool, const fw::Rc&, fw::Pt) { return 0; }
    virtual int on_double_click(std::int32_t, std::int32_t, const fw::Rc&, fw::Pt) { return 0; }
    virtual int on_key_down(std::int32_t, std::int32_t, int& /*key*/) { return 0; }
    virtual int on_key_up(std::int32_t, std::int32_t, int& /*key*/) { return 0; }
    virtual int on_char(std::int32_t, std::int32_t, int& /*key*/) { return 0; }
    virtual int on_mouse_move(std::int32_t, std::int32_t, fw::Pt, unsigned /*flags*/) { return 0; }
    // selected: 0, or the selection block's number + 1.
    virtual void draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row, const GridCell& cell,
                      int selected, int current);
    // 0: the grid draws its standard focus rectangle.
    virtual int draw_focus_rect(fw::DrawContext&, const fw::Rc&, std::int32_t, std::int32_t) { return 0; }
    virtual void on_set_focus(std::int32_t, std::int32_t, const GridCell&) {}
    virtual void on_kill_focus(std::int32_t, std::int32_t, const GridCell&) {}
    virtual void on_scrolled(std::int32_t, std::int32_t, const GridCell&) {}
    virtual void get_best_size(fw::DrawContext& dc, fw::Sz& size, const GridCell& cell);
    // Draws the cell onto a printed rectangle in its font scaled by the rectangle's height over the
    // row's height on screen (a heading row's for negative rows), shared by the rows of a joined
    // block; a height of 0 counts as 1. The cell's font is selected again afterwards.
    virtual void print(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row,
                       const GridCell& cell);
    virtual int on_notify(long /*value*/) { return 0; }

    bool accepts_edit = true;
    bool draws_label = false;
    bool may_overflow = true;
    double print_scale = 1.0;  // of the last print

protected:
    // Draws the borders and grid lines (only measures without a context); returns what is left
    // for the content.
    fw::Rc draw_border(fw::DrawContext* dc, const fw::Rc& rect, const GridCell& cell);
    void draw_text(fw::DrawContext& dc, fw::Rc rect, const GridCell& cell, int selected, int current);
    // Text and background colours as drawn.
    void colours(const GridCell& cell, int selected, int current, GridColour& text, GridColour& back) const;
    void select_font(fw::DrawContext& dc, const GridCell& cell) const;
    bool cell_may_overflow(const GridCell& cell) const;

    GridCtrl* grid_ = nullptr;
    int index_ = 0;
};

class GridDropListCellType : public GridCellType {
public:
    GridDropListCellType() { may_overflow = false; }
    std::string get_name() const override { return "DropList"; }
    std::string get_id() const override { return "{1667A6A0-F746-11D0-9C7F-0080C83F712F}"; }
    int get_edit_area(fw::Rc& rect) override;
    int on_left_button(std::int32_t col, std::int32_t row, bool down, const fw::Rc& rect, fw::Pt point) override;
    int on_double_click(std::int32_t col, std::int32_t row, const fw::Rc& rect, fw::Pt point) override;
    int on_key_down(std::int32_t col, std::int32_t row, int& key) override;
    int on_char(std::int32_t, std::int32_t, int& key) override { return key == 13 || key == 40 ? 1 : 0; }
    int on_mouse_move(std::int32_t col, std::int32_t row, fw::Pt point, unsigned flags) override;
    void draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row, const GridCell& cell,
              int selected, int current) override;
    void on_kill_focus(std::int32_t, std::int32_t, const GridCell&) override { open_ = {}; }

    int button_width = 16;
    bool pressed() const { return pressed_; }
    std::int32_t open_col() const { return open_.col; }
    // The one record of the cell whose list is open: the type sets it when it opens the list,
    // the list (GridDropList, filled with this record) clears it on a choice and marks it -2 on
    // a dismissal.
    GridOpenListCell& open_cell() { return open_; }

private:
    void open_list(std::int32_t col, std::int32_t row);
    bool pressed_ = false;
    fw::Rc button_{};
    GridOpenListCell open_;
};

class GridCheckBoxCellType : public GridCellType {
public:
    GridCheckBoxCellType() {
        accepts_edit = false;
        may_overflow = false;
    }
    std::string get_name() const override { return "CheckBox"; }
    std::string get_id() const override { return "{93AAB8D0-F749-11D0-9C7F-0080C83F712F}"; }
    int on_left_button(std::int32_t col, std::int32_t row, bool down, const fw::Rc& rect, fw::Pt point) override;
    int on_double_click(std::int32_t col, std::int32_t row, const fw::Rc& rect, fw::Pt point) override {
        return on_left_button(col, row, true, rect, point);
    }
    int on_char(std::int32_t col, std::int32_t row, int& key) override;
    void draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row, const GridCell& cell,
              int selected, int current) override;
    // The box inside a cell rectangle; side 0 when the cell is too low for one.
    static fw::Rc box_rect(const fw::Rc& rect, int param, int alignment);

private:
    void toggle(std::int32_t col, std::int32_t row);
};

class GridSideArrowsCellType : public GridCellType {
public:
    GridSideArrowsCellType() { accepts_edit = false; }
    std::string get_name() const override { return "Side Arrows"; }
    std::string get_id() const override { return "{F5C12593-D930-11D5-9B36-0050BAD44BCD}"; }
    void draw(fw::DrawContext& dc, const fw::Rc& rect, std::int32_t col, std::int32_t row, const GridCell& cell,
              int selected, int current) override;
};

}  // namespace tv
