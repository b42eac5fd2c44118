// Command ids and their routing. A command goes view -> document -> child frame -> main frame ->
// application; the first target with a handler for the id takes it. Update handlers decide
// whether a command is enabled, checked, visible and what text it shows; a command nobody
// handles is disabled. No Qt.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tv::fw {

using CommandId = unsigned;

// Well-known framework command ids (the values the resources use).
namespace cmd {
inline constexpr CommandId FileNew = 0xE100, FileOpen = 0xE101, FileClose = 0xE102, FileSave = 0xE103,
                           FileSaveAs = 0xE104, FilePrint = 0xE107, FilePrintPreview = 0xE109,
                           FileMru1 = 0xE110,  // .. FileMru1 + 15
    AppExit = 0xE141, AppAbout = 0xE140, WindowNew = 0xE130, WindowArrange = 0xE131, WindowCascade = 0xE132,
                           WindowTileHorz = 0xE133, WindowTileVert = 0xE134, IndicatorOverwrite = 59140;
}  // namespace cmd

// What an update handler sets for one command (CCmdUI).
class CommandUi {
public:
    explicit CommandUi(CommandId id) : id_(id) {}
    CommandId id() const { return id_; }
    void enable(bool on = true) { enabled_ = on; }
    void set_check(bool on = true) { checked_ = on; }
    void set_visible(bool on) { visible_ = on; }
    void hide() { visible_ = false; }
    void set_text(const std::string& cp1252) {
        text_ = cp1252;
        has_text_ = true;
    }

    bool enabled() const { return enabled_; }
    bool checked() const { return checked_; }
    bool visible() const { return visible_; }
    bool has_text() const { return has_text_; }
    const std::string& text() const { return text_; }
    // Set by the router: whether any target had a handler (command or update) for the id.
    bool handled = false;

private:
    CommandId id_;
    bool enabled_ = true, checked_ = false, visible_ = true, has_text_ = false;
    std::string text_;
};

// Anything on the route. Handlers are registered per id (or per range).
class CommandTarget {
public:
    virtual ~CommandTarget() = default;

    void on_command(CommandId id, std::function<void()> handler);
    void on_command_range(CommandId first, CommandId last, std::function<void(CommandId)> handler);
    void on_update_command(CommandId id, std::function<void(CommandUi&)> handler);
    void on_update_command_range(CommandId first, CommandId last, std::function<void(CommandUi&)> handler);

    // Runs the command when this target has a handler; true when it did.
    virtual bool execute(CommandId id);
    // Fills `ui` when this target has an update or command handler for the id; true when it did.
    // A command handler without an update handler leaves the command enabled.
    virtual bool update_state(CommandUi& ui);

private:
    struct Range {
        CommandId first, last;
        std::function<void(CommandId)> handler;
    };
    struct URange {
        CommandId first, last;
        std::function<void(CommandUi&)> handler;
    };
    std::map<CommandId, std::function<void()>> commands_;
    std::map<CommandId, std::function<void(CommandUi&)>> updates_;
    std::vector<Range> command_ranges_;
    std::vector<URange> update_ranges_;
};

// Routes along `route` (first to last, nulls skipped).
bool route_command(const std::vector<CommandTarget*>& route, CommandId id);
// The command's state along `route`; disabled when no target handles it.
CommandUi route_update(const std::vector<CommandTarget*>& route, CommandId id);

}  // namespace tv::fw
