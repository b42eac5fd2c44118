#include "framework/core/command.h"

namespace tv::fw {

void CommandTarget::on_command(CommandId id, std::function<void()> handler) { commands_[id] = std::move(handler); }

void CommandTarget::on_command_range(CommandId first, CommandId last, std::function<void(CommandId)> handler) {
    command_ranges_.push_back({first, last, std::move(handler)});
}

void CommandTarget::on_update_command(CommandId id, std::function<void(CommandUi&)> handler) {
    updates_[id] = std::move(handler);
}

void CommandTarget::on_update_command_range(CommandId first, CommandId last, std::function<void(CommandUi&)> handler) {
    update_ranges_.push_back({first, last, std::move(handler)});
}

bool CommandTarget::execute(CommandId id) {
    if (auto it = commands_.find(id); it != commands_.end() && it->second) {
        // A handler may remove its own target (closing a document): keep a copy alive.
        auto handler = it->second;
        handler();
        return true;
    }
    for (const auto& r : command_ranges_) {
        if (id >= r.first && id <= r.last && r.handler) {
            auto handler = r.handler;
            handler(id);
            return true;
        }
    }
    return false;
}

bool CommandTarget::update_state(CommandUi& ui) {
    if (auto it = updates_.find(ui.id()); it != updates_.end() && it->second) {
        it->second(ui);
        return true;
    }
    for (const auto& r : update_ranges_) {
        if (ui.id() >= r.first && ui.id() <= r.last && r.handler) {
            r.handler(ui);
            return true;
        }
    }
    if (commands_.count(ui.id())) return true;
    for (const auto& r : command_ranges_)
        if (ui.id() >= r.first && ui.id() <= r.last) return true;
    return false;
}

bool route_command(const std::vector<CommandTarget*>& route, CommandId id) {
    for (CommandTarget* t : route)
        if (t && t->execute(id)) return true;
    return false;
}

CommandUi route_update(const std::vector<CommandTarget*>& route, CommandId id) {
    CommandUi ui(id);
    for (CommandTarget* t : route) {
        if (t && t->update_state(ui)) {
            ui.handled = true;
            return ui;
        }
    }
    ui.enable(false);
    return ui;
}

}  // namespace tv::fw
