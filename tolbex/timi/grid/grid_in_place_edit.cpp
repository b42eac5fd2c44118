#include "tolbex/timi/grid/grid_in_place_edit.h"

#include "common/values.h"

namespace tv {
namespace {

std::int32_t step(std::int32_t v, int by) { return clamp32(std::int64_t{v} + by); }

bool ends_by_key_down(int ch) { return ch == kGridKeyTab || ch == kGridKeyEnter || ch == kGridKeyEscape; }

bool ask(const GridEditKeyHook& hook, std::int32_t col, std::int32_t row, int& ch) {
    return !hook || hook(col, row, &ch) != 0;
}

}  // namespace

bool grid_edit_key_down(GridEditEnd& end, int key, bool shift, std::int32_t col, std::int32_t row) {
    switch (key) {
        case kGridKeyTab:
            end.next_col = step(col, shift ? -1 : 1);
            end.next_row = row;
            break;
        case kGridKeyEnter:
        case kGridKeyDown:
            end.next_col = col;
            end.next_row = step(row, 1);
            break;
        case kGridKeyUp:
            end.next_col = col;
            end.next_row = step(row, -1);
            break;
        case kGridKeyEscape:
            end.cancelled = true;
            end.move = false;
            return true;
        default: return false;
    }
    end.move = true;
    return true;
}

void grid_edit_focus_lost(GridEditEnd& end, bool cancel_on_leave, GridFocusTarget to) {
    if (cancel_on_leave && (to == GridFocusTarget::None || to == GridFocusTarget::Other)) end.cancelled = true;
}

bool grid_edit_char(int& ch, std::int32_t col, std::int32_t row, const GridEditKeyHook& source,
                    const GridEditKeyHook& grid) {
    if (ends_by_key_down(ch)) return false;
    return ask(source, col, row, ch) && ask(grid, col, row, ch) && !ends_by_key_down(ch);
}

GridMaskedChar grid_masked_edit_char(const GridMask& mask, std::size_t pos, int ch, std::int32_t col, std::int32_t row,
                                     const GridEditKeyHook& source, const GridEditKeyHook& grid) {
    GridMaskedChar out;
    out.ch = ch;
    if (ch < 0 || ch > 0xFF) return out;
    const GridMaskTyping typed = mask.type_char(pos, static_cast<unsigned char>(ch));
    out.literals = typed.literals;
    if (!typed.accepted || !grid_edit_char(out.ch, col, row, source, grid)) return out;
    if (out.ch != ch) {
        if (out.ch < 0 || out.ch > 0xFF) return out;
        const auto changed = static_cast<unsigned char>(out.ch);
        if (mask.on() && grid_mask_printable(changed) &&
            (typed.position >= mask.positions() ||
             !grid_mask_char_accepts(mask.mask_string()[typed.position], changed)))
            return out;
    }
    out.type = true;
    return out;
}

}  // namespace tv
