// The MDI main frame (QMainWindow + QMdiArea) and its child frames (QMdiSubWindow). The main
// frame owns the menu bar (built from a MenuModel), the status-bar panes and the command route.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QMdiSubWindow>

#include "framework/core/command.h"
#include "framework/core/menu_model.h"

class QAction;
class QLabel;
class QMdiArea;
class QMenu;

namespace tv::fw {

class ScopedMessagePump;

// Closing is refused while a window-thread wait for another program runs under it.
inline constexpr const char* kChildStillRunningText =
    "A program that was started from here is still running.\nPlease wait until it has finished before closing.";

class Application;
class Document;
class View;

class ChildFrame : public QMdiSubWindow, public CommandTarget {
public:
    ChildFrame(Document* doc, View* view);
    ~ChildFrame() override;
    View* active_view() const { return view_; }
    Document* active_document() const { return document_; }
    // Closes without asking (the document is closing this frame).
    void close_silently();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class Document;
    Document* document_;
    View* view_;
    bool silent_close_ = false;
};

// A status-bar pane: id 0 is the message pane (stretches); others are sized from width_text.
struct StatusPane {
    CommandId id = 0;
    std::string width_text;
};

class MainFrame : public QMainWindow, public CommandTarget {
public:
    explicit MainFrame(Application& app, int resource_id = 128);
    ~MainFrame() override;

    Application& application() const { return app_; }
    int resource_id() const { return resource_id_; }
    QMdiArea* mdi_area() const { return mdi_; }

    void add_child(ChildFrame* child, bool show = true);
    // Shows a new child and activates it: maximised when the active child is, else normal at a
    // size that can be worked with (never minimised, never a caption-only strip).
    void show_child(ChildFrame* child);
    ChildFrame* active_child() const;
    std::vector<ChildFrame*> child_frames() const;
    void activate_child(ChildFrame* child);

    // Window arrangement: cascade; tile in rows (horizontal) or side by side (vertical);
    // arrange the minimised frames along the bottom.
    void cascade();
    void tile_horizontally();
    void tile_vertically();
    void arrange_icons();

    // Menus: the model is built into the menu bar; one QAction per command id. An item text's
    // part after a tab is its accelerator ("Ctrl+O"), bound to the frame's window. The recent-file
    // item (FileMru1) stands for the application's recent-file list; the popup holding the Window
    // commands lists the open child frames after them.
    void set_menu(const MenuModel& model);
    const MenuModel& menu_model() const { return menu_model_; }
    QAction* action(CommandId id) const;
    // Refreshes every action and status pane from the update handlers along the route.
    void update_command_ui();

    // Status bar.
    void set_indicators(const std::vector<StatusPane>& panes);
    std::string pane_text(CommandId id) const;
    bool pane_enabled(CommandId id) const;
    void set_pane_text(CommandId id, const std::string& cp1252);
    void set_message_text(const std::string& cp1252);

    // The route for the active child: view, document, child frame, this frame, the application.
    std::vector<CommandTarget*> command_route() const;
    bool execute_command(CommandId id);
    CommandUi command_state(CommandId id) const;

    // The close sequence; default: the application's save_all_modified, then close all documents.
    virtual bool query_close();
    bool is_closing() const { return closing_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Brings an accelerator's action up to date before the key is matched to it.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // After every resize (the frame's WM_SIZE); default arranges the minimised frames.
    virtual void on_size();

private:
    void build_menu(QMenu* into, const std::vector<MenuItem>& items);
    QAction* make_action(CommandId id, const std::string& text);
    QAction* make_action(const MenuItem& item);  // with the item's status text and accelerator
    void apply_state(CommandId id, QAction* action);
    void refresh_recent_menu();
    void refresh_window_list();
    Application& app_;
    int resource_id_;
    QMdiArea* mdi_;
    MenuModel menu_model_;
    std::map<CommandId, QAction*> actions_;
    QMenu* recent_menu_ = nullptr;  // the popup with the recent-file entries
    std::string recent_placeholder_;
    QMenu* window_menu_ = nullptr;
    std::vector<QAction*> window_list_;  // owned by window_menu_, with their separator first
    std::vector<std::pair<StatusPane, QLabel*>> panes_;
    bool closing_ = false;
    std::unique_ptr<ScopedMessagePump> pump_;
};

}  // namespace tv::fw
