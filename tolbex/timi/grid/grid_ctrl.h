// The grid control's headless core: sheets, column and row sizes, headings, locks, the current
// cell and the scrolled view, the seven part rectangles, cursor moves by calls, keys, mouse and
// wheel, in-place editing over an editor interface, find and replace, and the paint of the cell
// area onto the drawing interface. A window layer forwards size, paint, input and focus here and
// shows the parts where `components()` puts them; applications override the notifications.
// Results: GRID_OK, GRID_BAD_INDEX (a row, column, sheet or identifier outside its range),
// GRID_BAD_VALUE (a value outside its range, or a hook refused); nothing changes on failure.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_cell_type.h"
#include "tolbex/timi/grid/grid_in_place_edit.h"
#include "tolbex/timi/grid/grid_mask.h"
#include "tolbex/timi/grid/grid_rect_list.h"
#include "tolbex/timi/grid/grid_settings.h"

namespace tv {

inline constexpr int GRID_OK = 0;
inline constexpr int GRID_BAD_INDEX = 1;
inline constexpr int GRID_BAD_VALUE = 2;
// Largest heading height, side-heading width and heading row or side column size.
inline constexpr std::int32_t kGridMaxHeading = 1024;

// Sections of the control.
inline constexpr int kSectionCells = 1, kSectionTop = 2, kSectionSide = 3, kSectionCorner = 4;
inline constexpr int kSectionHScroll = 5, kSectionVScroll = 6, kSectionTabs = 7;

// Virtual key codes the key handling knows.
inline constexpr int kKeyPageUp = 33, kKeyPageDown = 34, kKeyEnd = 35, kKeyHome = 36;
inline constexpr int kKeyLeft = 37, kKeyUp = 38, kKeyRight = 39, kKeyDown = 40;

// An in-place editor window, shown by the window layer.
class GridEditor {
public:
    virtual ~GridEditor() = default;
    virtual void set_text(const std::string& text) = 0;
    virtual std::string text() const = 0;
    virtual void set_mask(const std::string& /*mask*/) {}
    virtual void set_font(const fw::Font* font) = 0;
    // Section it is placed in, and its rectangle there.
    virtual void place(int section, const fw::Rc& rect) = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    // A character typed into it as the first one of the edit.
    virtual void type_char(int ch) = 0;
};

// Milliseconds of a monotonic clock; tests drive their own.
class GridClock {
public:
    virtual ~GridClock() = default;
    virtual std::int64_t now_ms() const = 0;
};

// The pointer shape a window part asks for.
enum class GridCursor { Arrow, SizeWE, SizeNS };

class GridTopHeading;
class GridSideHeading;
class GridCornerButton;

struct GridComponents {
    fw::Rc cells, top, side, corner, vscroll, hscroll, tabs;
    bool vscroll_shown = true, hscroll_shown = true;
};

class GridCtrl : public GridSourceHost, private GridSelectionHost {
public:
    GridCtrl();
    ~GridCtrl() override;
    GridCtrl(const GridCtrl&) = delete;
    GridCtrl& operator=(const GridCtrl&) = delete;

    GridSettings& sheet() { return *sheets_[static_cast<std::size_t>(current_sheet_)]; }
    const GridSettings& sheet() const { return *sheets_[static_cast<std::size_t>(current_sheet_)]; }

    // --- counts and sizes
    std::int32_t get_num_cols() const { return sheet().num_cols; }
    std::int32_t get_num_rows() const { return sheet().num_rows; }
    int set_num_cols(std::int32_t n, bool redraw = true);
    int set_num_rows(std::int32_t n, bool redraw = true);
    std::int32_t get_col_width(std::int32_t col) const;
    int set_col_width(std::int32_t col, std::int32_t width);
    std::int32_t get_row_height(std::int32_t row) const;
    int set_row_height(std::int32_t row, std::int32_t height);
    int set_uniform_row_height(bool on);
    int set_side_col_width(std::int32_t col, std::int32_t width);
    int set_heading_height(std::int32_t height);
    int set_side_heading_width(std::int32_t width);
    int set_num_heading_rows(std::int32_t n);
    int set_locked_cols(std::int32_t n);
    int set_locked_rows(std::int32_t n);

    // --- position
    std::int32_t get_current_col() const { return sheet().current_col; }
    std::int32_t get_current_row() const { return sheet().current_row; }
    std::int32_t get_left_col() const { return sheet().left_col; }
    std::int32_t get_right_col() const { return sheet().right_col; }
    std::int32_t get_top_row() const { return sheet().top_row; }
    std::int32_t get_bottom_row() const { return sheet().bottom_row; }
    int goto_cell(std::int32_t col, std::int32_t row);
    int goto_col(std::int32_t col);
    int goto_row(std::int32_t row);
    int set_left_col(std::int32_t col);
    int set_top_row(std::int32_t row);
    // Step codes: 0 one back, 1 one forward, 2 page back, 3 page forward, 4 first, 5 last.
    int move_current_row(int code);
    int move_current_col(int code);
    int scroll_rows(int code);
    int scroll_cols(int code);

    // --- cells
    int get_cell(std::int32_t col, std::int32_t row, GridCell& cell);
    int set_cell(std::int32_t col, std::int32_t row, const GridCell& cell);
    std::string get_cell_text(std::int32_t col, std::int32_t row);
    int set_cell_text(std::int32_t col, std::int32_t row, const std::string& text);
    int set_column_default(std::int32_t col, const GridCell& cell);
    GridCellType* get_cell_type(std::int32_t index);
    GridCellTypeRegistry& cell_types() { return registry_; }
    // The identifier (1 or more), or -1 for none.
    std::int32_t add_data_source(GridDataSource* source);
    int set_default_data_source(std::int32_t id);
    int move_column(std::int32_t col, std::int32_t position, bool before);
    int best_fit(std::int32_t first, std::int32_t last, std::int32_t rows, int flags, fw::DrawContext& dc);
    int set_num_sheets(std::int32_t n);
    std::int32_t get_num_sheets() const { return static_cast<std::int32_t>(sheets_.size()); }
    int set_multi_select(bool on);
    int set_highlight_row(bool on, int value);
    int set_sheet_style(int style);
    int get_first_selected(std::int32_t& col, std::int32_t& row) { return sheet().selection.enum_first(col, row); }
    int get_next_selected(std::int32_t& col, std::int32_t& row) { return sheet().selection.enum_next(col, row); }
    int set_default_font(const fw::Font& font);

    // After the window is made: on_setup, then on_sheet_setup for sheet 0.
    void created();
    // The private cell-type message: the type (the default one for unknown identifiers) answers.
    // Stored only: codes 1 and 2 (default 0), 3 to 6 (default 25), 10 yes/no (default 1).
    int set_print_option(int code, std::int32_t value);
    // GRID_BAD_INDEX when popup menus are off, GRID_BAD_VALUE when on_menu_start refuses; else
    // the window layer shows the menu and later sends the chosen command here.
    int start_popup_menu(std::int32_t col, std::int32_t row, fw::Pt screen, int section);
    void menu_command(int id);
    // Where the popup menu was last opened.
    int menu_section() const { return menu_section_; }
    // Help asked for at a point of a part (its own pixels): the cell area, the headings and the
    // corner name the cell under the point, the scroll bars and the tab bar the current cell.
    // The answer of on_help.
    int help_at(int section, fw::Pt p);
    // During show_drop_list: the record of the list's cell, kept by the cell type that opens it,
    // and that type's registered index, which the list reports its choice with.
    GridOpenListCell* drop_list_owner() const { return list_owner_; }
    int drop_list_type() const { return list_type_; }
    // The tooltip shows once the pointer has rested on one cell for two hit tests; true then,
    // with the text in `text`.
    bool tool_hit_test(fw::Pt p, std::string& text);
    void set_redraw(bool on) { redraw_on_ = on; }

    // The heading and corner windows' logic; their widgets forward paint and input to these.
    GridTopHeading& top_heading() { return *top_; }
    GridSideHeading& side_heading() { return *side_; }
    GridCornerButton& corner_button() { return *corner_; }

    // --- geometry (cell-area pixels)
    void layout(std::int32_t width, std::int32_t height);
    const GridComponents& components() const { return parts_; }
    int get_cell_rect(std::int32_t col, std::int32_t row, fw::Rc& rect) const;
    int get_cell_from_point(std::int32_t x, std::int32_t y, std::int32_t& col, std::int32_t& row,
                            fw::Rc* rect = nullptr) const;
    // Joined blocks: 1 when joined cells are off, 2 when the cell is not joined, else GRID_OK and
    // the block's first cell (and last cell).
    int get_join_start(std::int32_t& col, std::int32_t& row);
    int get_join_range(std::int32_t& col, std::int32_t& row, std::int32_t& end_col, std::int32_t& end_row);
    // Cells whose rectangles meet the cell area, locked ones first, as drawn by the paint.
    struct Visible {
        std::vector<std::int32_t> cols, rows;
    };
    Visible visible_cells() const;

    // --- drawing: the window layer repaints what these queue
    GridRectList& redraw_list() { return redraw_; }
    int redraw_cell(std::int32_t col, std::int32_t row);
    int redraw_row(std::int32_t row);
    int redraw_all();
    // Paints the queued cells of the cell area (all of them after `queue_all`).
    void paint_cells(fw::DrawContext& dc, bool has_focus);
    void queue_all();
    // Grows with every repaint request: the window layer repaints when it changes.
    std::uint64_t repaint_count(int section) const { return repaints_[static_cast<std::size_t>(section)]; }

    // --- input forwarded by the window layer; modifiers are the key state at the event
    void set_modifiers(bool shift, bool control) {
        shift_ = shift;
        control_ = control;
    }
    void set_clock(const GridClock* clock) { clock_ = clock; }
    void key_down(int key);
    void key_up(int key);
    void char_typed(int ch);
    void left_down(fw::Pt p, unsigned mouse_flags);
    void left_up(fw::Pt p);
    void double_click(fw::Pt p);
    void right_down(fw::Pt p, unsigned mouse_flags);
    void right_up(fw::Pt p);
    void mouse_move(fw::Pt p, unsigned mouse_flags, bool left_held);
    // One pass of the drag while the left button is held: the selection follows the point, and
    // the view scrolls when the point is outside the area or on its last partly shown row or
    // column. Answers the timer period for the next pass (the drag delay), or 0 when nothing
    // scrolled and the timer can stop; the window thread never waits.
    int drag_step(fw::Pt p);
    void wheel(int delta);
    void focus_in();
    void focus_out();
    bool has_focus() const { return has_focus_; }

    // --- editing
    void set_editors(GridEditor* plain, GridEditor* masked) {
        plain_editor_ = plain;
        masked_editor_ = masked;
    }
    // 0 opened, 1 refused, 2 the move to the cell was refused.
    int start_edit(std::int32_t col, std::int32_t row, int first_char = 0);
    // Called by the editors; 1 done, 0 while the edit stays open.
    int finish_edit(const std::string& text, bool cancelled, bool move_on, std::int32_t next_col,
                    std::int32_t next_row);
    // Keys and characters the open editor's window receives. A key that ends the edit finishes
    // it (true); a character comes back changed, or refused (false). The masked editor types the
    // answer's literals first, then the character when `type` is set.
    bool editor_key_down(int key);
    bool editor_char(int& ch);
    GridMaskedChar editor_masked_char(std::size_t caret, int ch);
    void editor_focus_lost(GridFocusTarget to);
    const GridMask& edit_mask() const { return edit_mask_; }
    bool editing() const { return editing_; }
    GridEditor* active_editor() const { return editor_; }

    // --- find and replace (the find dialog's requests); 0 found, 1 not found
    enum class FindAction { Find, Replace, ReplaceAll };
    int find(const std::string& what, const std::string& with, FindAction action, bool match_case, bool whole,
             bool down, bool all_cols);

    // --- GridSourceHost
    std::int32_t get_number_rows() const override { return get_num_rows(); }
    std::int32_t get_number_cols() const override { return get_num_cols(); }
    std::int32_t get_col_data_column(std::int32_t grid_col) const override;
    void set_col_data_column(std::int32_t grid_col, std::int32_t data_col) override;
    int compare_cells(const GridCell* a, const GridCell* b, int flags) override;

    // --- notifications (defaults as documented)
    virtual int on_cell_type_notify(int /*type*/, std::int32_t, std::int32_t, int /*msg*/, long /*value*/) { return 1; }
    virtual int can_move(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { return 1; }
    virtual int can_view_move(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { return 1; }
    virtual void on_need_rows(std::int32_t, std::int32_t, std::int32_t*) {}
    virtual void on_col_change(std::int32_t, std::int32_t) {}
    virtual void on_row_change(std::int32_t, std::int32_t) {}
    virtual void on_cell_change(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {}
    virtual void on_left_col_change(std::int32_t, std::int32_t) {}
    virtual void on_top_row_change(std::int32_t, std::int32_t) {}
    virtual void on_lclicked(std::int32_t, std::int32_t, bool, const fw::Rc&, fw::Pt, int) {}
    virtual void on_rclicked(std::int32_t, std::int32_t, bool, const fw::Rc&, fw::Pt, int) {}
    virtual void on_dclicked(std::int32_t, std::int32_t, const fw::Rc&, fw::Pt, int) {}
    virtual void on_mouse_moved(std::int32_t, std::int32_t, fw::Pt, int) {}
    virtual void on_key_down(int*, int) {}
    virtual void on_key_up(int*, int) {}
    virtual void on_char(int*, int) {}
    virtual void on_get_cell(std::int32_t, std::int32_t, GridCell&) {}
    virtual void on_set_cell(std::int32_t, std::int32_t, const GridCell&) {}
    virtual int can_start_edit(std::int32_t, std::int32_t, GridEditor**) { return 1; }
    virtual int on_edit_key(std::int32_t, std::int32_t, GridEditor*, int*) { return 1; }
    virtual int on_edit_finish(std::int32_t, std::int32_t, GridEditor*, const std::string&, bool) { return 1; }
    virtual int on_edit_continue(std::int32_t, std::int32_t, std::int32_t*, std::int32_t*) { return 1; }
    // Sizing and dragging with the mouse in the headings and the corner. The can_ hooks allow
    // with nonzero; the sizing ones may change the size they are given.
    virtual int can_size_col(std::int32_t /*col*/) { return 1; }
    virtual void on_col_sizing(std::int32_t, std::int32_t* /*width*/) {}
    virtual void on_col_sized(std::int32_t, std::int32_t* /*width*/) {}
    virtual int can_size_row(std::int32_t /*row*/) { return 1; }
    virtual void on_row_sized(std::int32_t, std::int32_t* /*height*/) {}
    virtual void on_row_sizing_end(std::int32_t, std::int32_t* /*height*/) {}
    virtual int can_size_heading() { return 1; }
    virtual int can_size_side_heading() { return 1; }
    // The top heading stores the new total only on 1.
    virtual int on_heading_sized(std::int32_t* /*height*/) { return 1; }
    virtual void on_side_heading_sized(std::int32_t* /*width*/) {}
    virtual void on_heading_sizing_end(std::int32_t /*height*/) {}
    virtual void on_side_heading_sizing_end(std::int32_t /*width*/) {}
    virtual int can_drag_col(std::int32_t /*col*/) { return 1; }
    virtual int can_drop_col(std::int32_t /*col*/, std::int32_t /*target*/) { return 1; }
    virtual void on_col_dropped(std::int32_t /*col*/, std::int32_t /*target*/) {}
    // Clicks on heading cells and the corner: processed is the cell type's answer (for the
    // corner: 1 when a sizing began or ended).
    virtual void on_th_lclicked(std::int32_t, std::int32_t, bool /*down*/, const fw::Rc&, fw::Pt, int /*processed*/) {}
    virtual void on_th_rclicked(std::int32_t, std::int32_t, bool, const fw::Rc&, fw::Pt, int) {}
    virtual void on_th_dclicked(std::int32_t, std::int32_t, const fw::Rc&, fw::Pt, int) {}
    virtual void on_sh_lclicked(std::int32_t, std::int32_t, bool, const fw::Rc&, fw::Pt, int) {}
    virtual void on_sh_rclicked(std::int32_t, std::int32_t, bool, const fw::Rc&, fw::Pt, int) {}
    virtual void on_sh_dclicked(std::int32_t, std::int32_t, const fw::Rc&, fw::Pt, int) {}
    virtual void on_corner_lclicked(bool, const fw::Rc&, fw::Pt, int) {}
    virtual void on_corner_rclicked(bool, const fw::Rc&, fw::Pt, int) {}
    virtual void on_corner_dclicked(const fw::Rc&, fw::Pt, int) {}
    // Before a heading or the corner paints; the corner names section 2 like the top heading.
    virtual void on_paint_section(fw::DrawContext&, int /*section*/) {}
    virtual int get_hint_text(std::int32_t col, std::int32_t row, int section, std::string& text);
    virtual GridColour get_section_colour(int section);
    virtual void draw_focus_rect(fw::DrawContext& dc, const fw::Rc& rect);
    // Tells the user; the find dialog takes the focus back afterwards.
    virtual void on_not_found();
    virtual void on_adjust_components(GridComponents&) {}
    virtual void on_set_focus(int /*section*/) {}
    virtual void on_kill_focus(int /*section*/) {}
    virtual void on_setup() {}
    virtual void on_sheet_setup(std::int32_t /*sheet*/) {}
    virtual int on_menu_start(std::int32_t, std::int32_t, int /*section*/) { return 1; }
    virtual void on_menu_command(std::int32_t, std::int32_t, int /*section*/, int /*id*/) {}
    // The window layer shows the popup menu at a screen point; false when it could not.
    virtual bool show_popup_menu(fw::Pt) { return true; }
    // A drop list is to open (the window layer shows it); entries may have been changed by 100.
    virtual void show_drop_list(std::int32_t, std::int32_t, const std::vector<std::string>&, const fw::Rc&,
                                const fw::Font*) {}
    // The text the hint shows while a scroll bar's thumb is dragged with hints on; none by default.
    virtual int get_vscroll_hint(std::int32_t /*row*/, std::string& /*text*/) { return 1; }
    virtual int get_hscroll_hint(std::int32_t /*col*/, std::string& /*text*/) { return 1; }
    // A tab of the sheet tab bar was chosen: its sheet identifier.
    virtual void on_tab_selected(std::int32_t /*sheet*/) {}
    // The help context for a cell or part (0: none).
    virtual int on_help(std::int32_t /*col*/, std::int32_t /*row*/, int /*section*/) { return 0; }

    // Text measuring for layout decisions outside a paint (the window layer's font metrics).
    void set_measure(fw::DrawContext* dc) { measure_ = dc; }

private:
    friend class GridCellType;
    friend class GridDropListCellType;
    friend class GridCheckBoxCellType;
    friend class GridTopHeading;
    friend class GridSideHeading;
    friend class GridCornerButton;

    // GridSelectionHost
    std::int32_t selection_num_cols() const override { return get_num_cols(); }
    std::int32_t selection_current_col() const override { return get_current_col(); }
    std::int32_t selection_current_row() const override { return get_current_row(); }
    GridRectList& selection_redraw_list() override { return redraw_; }
    bool shift_down() const override { return shift_; }
    bool control_down() const override { return control_; }

    void fetch(std::int32_t col, std::int32_t row, GridCell& cell);
    GridCellType* type_of(const GridCell& cell);
    void recompute_locked();
    void recompute_max_top_row();
    void recompute_max_left_col();
    void after_move();
    void scroll_into_view(std::int32_t col, std::int32_t row);
    bool row_check(std::int32_t& row);  // asks for rows beyond the last; false when refused
    std::int32_t page_count(bool rows, std::int32_t from, bool forward) const;  // rows or columns a page holds
    // The cursor's move to (col, row) once the target is known: the moves' questions, scrolling, after_move.
    int land_on(std::int32_t col, std::int32_t row, bool ask_source);
    int set_first(bool rows, std::int32_t first);  // the top row or the left column
    // A button on the cell under `p`: moved to first when `move_there`, then its cell type asked; off the
    // cells col and row are -1 and the answer 0.
    struct CellHit {
        bool on_cell = false;
        std::int32_t col = -1, row = -1;
        fw::Rc rect{};
        int answer = 0;
    };
    CellHit hit_cell(fw::Pt p, bool move_there, const std::function<int(GridCellType&, const CellHit&)>& ask);
    std::int32_t step_target(int code, std::int32_t current, std::int32_t count, bool rows) const;
    void take_selection_current();
    // A move that lands inside a joined block: past it when moving forward and there is room,
    // else onto its first cell.
    void land_outside_block(std::int32_t& col, std::int32_t& row, bool forward, bool across);
    void request_repaint(int section) { ++repaints_[static_cast<std::size_t>(section)]; }
    // The rectangle of the block holding (col, row) when the cell itself is at `rect`.
    fw::Rc block_rect(std::int32_t col, std::int32_t row, std::int32_t first_col, std::int32_t first_row,
                      std::int32_t end_col, std::int32_t end_row, const fw::Rc& rect) const;
    std::int64_t col_x(std::int32_t col) const;  // left edge in the cell area; -1 when out of view
    std::int64_t row_y(std::int32_t row) const;

    std::vector<std::unique_ptr<GridSettings>> sheets_;
    std::int32_t current_sheet_ = 0;
    GridCellType default_type_;
    GridDropListCellType drop_list_type_;
    GridCheckBoxCellType check_box_type_;
    GridSideArrowsCellType side_arrows_type_;
    GridCellTypeRegistry registry_;
    std::vector<GridDataSource*> sources_;  // entry 0 unused
    GridCell work_cell_, edit_cell_;
    GridRectList redraw_;
    GridComponents parts_;
    std::int32_t width_ = 0, height_ = 0;
    std::uint64_t repaints_[8] = {};
    bool redraw_on_ = true;
    std::int32_t print_options_[7] = {0, 0, 25, 25, 25, 25, 1};
    std::int32_t menu_col_ = -1, menu_row_ = -1;
    GridOpenListCell* list_owner_ = nullptr;
    int list_type_ = kCellTypeDropList;
    int menu_section_ = 0;
    std::int32_t armed_col_ = -1, armed_row_ = -1;

    bool shift_ = false, control_ = false, has_focus_ = false;
    const GridClock* clock_ = nullptr;
    int key_repeat_ = 0;
    std::int64_t key_hold_until_ = -1;
    bool capture_ = false, drag_row_edge_ = false, drag_col_edge_ = false;
    fw::DrawContext* measure_ = nullptr;

    bool editing_ = false;
    std::int32_t edit_col_ = -1, edit_row_ = -1;
    int edit_section_ = kSectionCells;
    GridEditor* editor_ = nullptr;
    GridEditEnd edit_end_;
    GridMask edit_mask_;
    GridEditor* plain_editor_ = nullptr;
    GridEditor* masked_editor_ = nullptr;

    std::unique_ptr<GridTopHeading> top_;
    std::unique_ptr<GridSideHeading> side_;
    std::unique_ptr<GridCornerButton> corner_;
};

}  // namespace tv
