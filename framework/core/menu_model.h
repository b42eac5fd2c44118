// Menus as data: the main frame builds its menu bar from a model, and start-up edits the model
// (removing commands, then prune_menu) before it is built. No Qt.
#pragma once
#include <string>
#include <vector>

#include "framework/core/command.h"

namespace tv::fw {

struct MenuItem {
    enum class Kind { Command, Separator, Popup };
    Kind kind = Kind::Command;
    CommandId id = 0;
    std::string text;             // Windows-1252; '&' marks the mnemonic
    std::vector<MenuItem> items;  // Popup only
    std::string status;           // Command only: the status bar's text while the item is highlighted

    static MenuItem command(CommandId id, std::string text, std::string status = {}) {
        return {Kind::Command, id, std::move(text), {}, std::move(status)};
    }
    static MenuItem separator() { return {Kind::Separator, 0, {}, {}, {}}; }
    static MenuItem popup(std::string text, std::vector<MenuItem> items) {
        return {Kind::Popup, 0, std::move(text), std::move(items), {}};
    }
    bool operator==(const MenuItem&) const = default;
};

struct MenuModel {
    std::vector<MenuItem> items;  // the menu bar
    bool operator==(const MenuModel&) const = default;
};

// Deletes every command item with the id, at any depth; the number deleted.
int remove_menu_command(MenuModel& menu, CommandId id);
int remove_menu_command(std::vector<MenuItem>& items, CommandId id);
// The first command item with the id, at any depth; nullptr when none.
const MenuItem* find_menu_command(const MenuModel& menu, CommandId id);

// Removes empty sub-menus, and inside sub-menus leading, doubled and trailing separators;
// recurses into sub-menus. The menu bar's own separators are left alone.
void prune_menu(MenuModel& menu);
void prune_menu(std::vector<MenuItem>& items);

// A one-line-per-item picture of the model for tests and logs: "File/Open", "File/-", "File/Recent/".
std::string describe_menu(const MenuModel& menu);

}  // namespace tv::fw
