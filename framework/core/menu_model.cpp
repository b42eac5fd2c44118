#include "framework/core/menu_model.h"

namespace tv::fw {

int remove_menu_command(std::vector<MenuItem>& items, CommandId id) {
    int removed = 0;
    for (std::size_t i = 0; i < items.size();) {
        if (items[i].kind == MenuItem::Kind::Command && items[i].id == id) {
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
            ++removed;
            continue;
        }
        if (items[i].kind == MenuItem::Kind::Popup) removed += remove_menu_command(items[i].items, id);
        ++i;
    }
    return removed;
}

int remove_menu_command(MenuModel& menu, CommandId id) { return remove_menu_command(menu.items, id); }

namespace {
const MenuItem* find_in(const std::vector<MenuItem>& items, CommandId id) {
    for (const auto& item : items) {
        if (item.kind == MenuItem::Kind::Command && item.id == id) return &item;
        if (item.kind == MenuItem::Kind::Popup)
            if (const MenuItem* found = find_in(item.items, id)) return found;
    }
    return nullptr;
}

void describe(const std::vector<MenuItem>& items, const std::string& prefix, std::string& out) {
    for (const auto& item : items) {
        switch (item.kind) {
            case MenuItem::Kind::Command: out += prefix + item.text + "\n"; break;
            case MenuItem::Kind::Separator: out += prefix + "-\n"; break;
            case MenuItem::Kind::Popup:
                if (item.items.empty()) out += prefix + item.text + "/\n";
                describe(item.items, prefix + item.text + "/", out);
                break;
        }
    }
}

// Inside a sub-menu: separators that would lead, double up or trail go.
void prune_separators(std::vector<MenuItem>& items) {
    bool previous_was_separator = true;
    for (std::size_t i = 0; i < items.size();) {
        if (items[i].kind == MenuItem::Kind::Separator) {
            if (previous_was_separator || i + 1 == items.size()) {
                items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            previous_was_separator = true;
        } else {
            previous_was_separator = false;
        }
        ++i;
    }
    // A separator left last after its trailing neighbours went would still dangle.
    while (!items.empty() && items.back().kind == MenuItem::Kind::Separator) items.pop_back();
}
}  // namespace

const MenuItem* find_menu_command(const MenuModel& menu, CommandId id) { return find_in(menu.items, id); }

void prune_menu(std::vector<MenuItem>& items) {
    for (std::size_t i = 0; i < items.size();) {
        MenuItem& item = items[i];
        if (item.kind == MenuItem::Kind::Popup) {
            if (item.items.empty()) {
                items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            prune_separators(item.items);
            prune_menu(item.items);
        }
        ++i;
    }
}

void prune_menu(MenuModel& menu) { prune_menu(menu.items); }

std::string describe_menu(const MenuModel& menu) {
    std::string out;
    describe(menu.items, "", out);
    return out;
}

}  // namespace tv::fw
