// The drop-down list of a DropList cell, apart from its window: the entries taken from the
// cell's label, where the list opens, selection by keys and mouse, and the sequence by which a
// chosen entry reaches the cell. While open the list has the keyboard and the mouse; losing the
// focus always closes it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/core/draw_context.h"

namespace tv {

// Notification messages of on_cell_type_notify about the list.
inline constexpr int kGridNotifyListOpening = 100;
inline constexpr int kGridNotifyChosenText = 101;
inline constexpr int kGridNotifyChosenIndex = 102;

inline constexpr int kGridDropListMaxLines = 15;
inline constexpr std::int32_t kGridDropListDefaultLineHeight = 12;

// The cell whose list is open, kept by the owning DropList type and written by the list:
// -1, -1 for none; -2, -2 after the list was dismissed without a choice.
struct GridOpenListCell {
    std::int32_t col = -1, row = -1;
};

// One entry per line of `label`; text after the last line feed is no entry. A CR before a line
// feed is dropped.
std::vector<std::string> grid_drop_list_entries(std::string_view label);

// The list's rectangle in the cell area's coordinates: its top at the cell's bottom, its left
// and right edges 10 pixels right of the cell's, (entries up to 15, plus 1) lines + 2 high, then
// moved up and left as far as the cell area `area` requires, never above or left of it.
// A line height below 1 counts as 12. Worked out in 64 bits.
fw::Rc grid_drop_list_rect(const fw::Rc& cell, std::size_t entries, std::int32_t line_height, const fw::Rc& area);

// What the list needs of the grid.
class GridDropListHost {
public:
    virtual ~GridDropListHost() = default;
    // on_cell_type_notify with message 102 and the chosen index.
    virtual void notify_chosen_index(int type_index, std::int32_t col, std::int32_t row, std::int32_t index) = 0;
    // on_cell_type_notify with message 101 and the entry's text, which the application may
    // change; 0 keeps the cell's text.
    virtual int notify_chosen_text(int type_index, std::int32_t col, std::int32_t row, std::string& text) = 0;
    // Fetch the cell, set its text, store it back and redraw it.
    virtual void set_cell_text(std::int32_t col, std::int32_t row, const std::string& text) = 0;
    // The list gives the focus back (the window layer then calls on_kill_focus).
    virtual void focus_cell_area() = 0;
    virtual void repaint_cell_area() = 0;
};

class GridDropList {
public:
    explicit GridDropList(GridDropListHost& host) : host_(host) {}

    // Filled by the DropList type: the entries, the type's registered index and where it keeps
    // the open cell. `visible_lines` is how many entries the window shows at once (at least 1).
    void fill(std::vector<std::string> entries, int type_index, GridOpenListCell* owner, std::int32_t visible_lines);
    void on_set_focus();
    // Destroys the list: without a choice the owner's open cell becomes -2, -2; the cell area is
    // repainted. Nothing when the list is gone already.
    void on_kill_focus();

    // A press selects the entry under the pointer; a release over an entry chooses it. A click
    // with no entry under the pointer chooses nothing and the list stays open.
    void on_left_button_down(std::int32_t index);
    void on_left_button_up(std::int32_t index);
    // Escape closes; Enter chooses the selected entry or, with none, closes; Up, Down, Page Up,
    // Page Down, Home and End move the selection. False for other keys.
    bool on_key_down(int key);
    // Chooses the selected entry: messages 102 then 101 to the grid, the text stored when 101
    // allows it, the owner's open cell cleared and the focus back to the cell area.
    void choose();

    bool is_open() const { return open_; }
    // The window exists (from fill to the loss of the focus).
    bool alive() const { return alive_; }
    bool choice_made() const { return choice_made_; }
    const std::vector<std::string>& entries() const { return entries_; }
    std::int32_t selection() const { return selection_; }
    std::int32_t top_index() const { return top_; }

private:
    void select(std::int64_t index);

    GridDropListHost& host_;
    std::vector<std::string> entries_;
    int type_index_ = 0;
    GridOpenListCell* owner_ = nullptr;
    std::int32_t visible_ = 1;
    std::int32_t selection_ = -1, top_ = 0;
    bool alive_ = false, open_ = false, choice_made_ = false;
};

}  // namespace tv
