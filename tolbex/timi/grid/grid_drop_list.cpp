#include "tolbex/timi/grid/grid_drop_list.h"

#include <algorithm>

#include "tolbex/timi/grid/grid_in_place_edit.h"
#include "common/text.h"
#include "common/values.h"

namespace tv {
std::vector<std::string> grid_drop_list_entries(std::string_view label) {
    std::vector<std::string> entries;
    while (const auto line = take_line(label)) entries.emplace_back(*line);
    return entries;
}

fw::Rc grid_drop_list_rect(const fw::Rc& cell, std::size_t entries, std::int32_t line_height, const fw::Rc& area) {
    const std::int64_t lh = line_height < 1 ? kGridDropListDefaultLineHeight : line_height;
    const std::int64_t lines = std::min<std::size_t>(entries, kGridDropListMaxLines) + 1;
    const std::int64_t h = lines * lh + 2;
    const std::int64_t w = std::int64_t{cell.r} - cell.l;
    std::int64_t l = std::int64_t{cell.l} + 10, t = cell.b;
    l -= std::max<std::int64_t>(0, l + w - area.r);
    t -= std::max<std::int64_t>(0, t + h - area.b);
    l = std::max<std::int64_t>(l, area.l);
    t = std::max<std::int64_t>(t, area.t);
    return {clamp32(l), clamp32(t), clamp32(l + w), clamp32(t + h)};
}

void GridDropList::fill(std::vector<std::string> entries, int type_index, GridOpenListCell* owner,
                        std::int32_t visible_lines) {
    entries_ = std::move(entries);
    type_index_ = type_index;
    owner_ = owner;
    visible_ = std::max(visible_lines, 1);
    selection_ = -1;
    top_ = 0;
    alive_ = true;
}

void GridDropList::on_set_focus() {
    open_ = true;
    choice_made_ = false;
}

void GridDropList::on_kill_focus() {
    if (!alive_) return;
    alive_ = false;
    open_ = false;
    if (!choice_made_ && owner_) *owner_ = {-2, -2};
    choice_made_ = false;
    entries_.clear();
    selection_ = -1;
    host_.repaint_cell_area();
}

void GridDropList::select(std::int64_t index) {
    if (entries_.empty()) return;
    selection_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(index, 0, std::int64_t(entries_.size()) - 1));
    if (selection_ < top_) top_ = selection_;
    if (selection_ >= std::int64_t{top_} + visible_) top_ = selection_ - visible_ + 1;
}

void GridDropList::on_left_button_down(std::int32_t index) {
    if (index >= 0 && index < static_cast<std::int64_t>(entries_.size())) select(index);
}

void GridDropList::on_left_button_up(std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int64_t>(entries_.size())) return;
    select(index);
    choose();
}

bool GridDropList::on_key_down(int key) {
    const std::int64_t page = std::max(visible_ - 1, 1);
    switch (key) {
        case kGridKeyEscape: on_kill_focus(); return true;
        case kGridKeyEnter:
            if (selection_ >= 0) {
                choose();
            } else {
                open_ = false;
                on_kill_focus();
            }
            return true;
        case kGridKeyUp: select(selection_ < 0 ? 0 : std::int64_t{selection_} - 1); return true;
        case kGridKeyDown: select(std::int64_t{selection_} + 1); return true;
        case kGridKeyPageUp: select(std::max<std::int64_t>(selection_, 0) - page); return true;
        case kGridKeyPageDown: select(std::max<std::int64_t>(selection_, 0) + page); return true;
        case kGridKeyHome: select(0); return true;
        case kGridKeyEnd: select(std::int64_t(entries_.size()) - 1); return true;
        default: return false;
    }
}

void GridDropList::choose() {
    if (!alive_ || selection_ < 0 || selection_ >= static_cast<std::int64_t>(entries_.size())) return;
    // A list opened for no cell closes as if dismissed.
    if (owner_ && owner_->col >= 0 && owner_->row >= 0) {
        const GridOpenListCell cell = *owner_;
        choice_made_ = true;
        std::string text = entries_[selection_];
        host_.notify_chosen_index(type_index_, cell.col, cell.row, selection_);
        if (host_.notify_chosen_text(type_index_, cell.col, cell.row, text) != 0)
            host_.set_cell_text(cell.col, cell.row, text);
        *owner_ = {-1, -1};
    }
    open_ = false;
    host_.focus_cell_area();
}

}  // namespace tv
