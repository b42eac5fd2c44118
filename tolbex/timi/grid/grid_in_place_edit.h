// The decisions of the grid's cell editors, apart from their windows: how a key ends an edit and
// where the grid is to move afterwards, which typed characters reach the text, and how far the
// plain editor grows over empty neighbour cells while the user types.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "framework/core/draw_context.h"
#include "tolbex/timi/grid/grid_mask.h"

namespace tv {

// Key and character codes the editors and the drop-down list act on.
inline constexpr int kGridKeyBackspace = 8;
inline constexpr int kGridKeyTab = 9;
inline constexpr int kGridKeyEnter = 13;
inline constexpr int kGridKeyEscape = 27;
inline constexpr int kGridKeyPageUp = 33;
inline constexpr int kGridKeyPageDown = 34;
inline constexpr int kGridKeyEnd = 35;
inline constexpr int kGridKeyHome = 36;
inline constexpr int kGridKeyUp = 38;
inline constexpr int kGridKeyDown = 40;

// Control ids of the plain editor (also used by the drop-down list) and the masked editor.
inline constexpr int kGridPlainEditId = 123;
inline constexpr int kGridMaskedEditId = 124;

// What the grid's edit finishing receives when an edit ends. Getting the focus starts an edit
// with both flags cleared; next column and row keep their last values until a key sets them.
struct GridEditEnd {
    std::int32_t next_col = 0, next_row = 0;
    bool cancelled = false;
    bool move = false;
};

// A key pressed in an editor over (col, row). Tab (Shift+Tab backwards), Enter, Down and Up set
// the next cell and `move`; Escape sets `cancelled` and clears `move`. Returns true when the
// key ends the edit (the focus goes to the grid), false for keys the edit control handles.
// Next column and row saturate at the 32-bit bounds; the grid checks them against the sheet.
bool grid_edit_key_down(GridEditEnd& end, int key, bool shift, std::int32_t col, std::int32_t row);

// Where the focus went when an editor lost it.
enum class GridFocusTarget { None, Grid, GridChild, Other };
// With the sheet's cancel-on-leave switch on, losing the focus to no window or to one outside
// the grid cancels the edit.
void grid_edit_focus_lost(GridEditEnd& end, bool cancel_on_leave, GridFocusTarget to);

// A data source's or the grid's on_edit_key for (col, row): nonzero lets the character through
// and may change it.
using GridEditKeyHook = std::function<int(std::int32_t col, std::int32_t row, int* ch)>;

// A character typed into the plain editor. Tab, Enter and Escape never reach the text (key-down
// deals with them). Others go to the source's hook, then the grid's (an empty hook accepts);
// true when both accept and the possibly changed character is still none of the three.
bool grid_edit_char(int& ch, std::int32_t col, std::int32_t row, const GridEditKeyHook& source,
                    const GridEditKeyHook& grid);

// A character typed into the masked editor with the caret at `pos` (selection cleared): the
// mask decides first (see GridMask::type_char), then the hooks as for the plain editor. A hook
// that changes the character must leave one that fits the same position. The literals are typed
// by the editor itself, past the checks, even when the character is refused.
struct GridMaskedChar {
    bool type = false;
    std::string literals;
    int ch = 0;
};
GridMaskedChar grid_masked_edit_char(const GridMask& mask, std::size_t pos, int ch, std::int32_t col, std::int32_t row,
                                     const GridEditKeyHook& source, const GridEditKeyHook& grid);

}  // namespace tv
