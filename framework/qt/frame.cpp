#include "framework/qt/frame.h"

#include <algorithm>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QStyle>
#include <QWindow>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "common/runner.h"
#include "common/ui.h"
#include "framework/core/recent_files.h"
#include "framework/qt/application.h"
#include "framework/qt/document.h"
#include "framework/qt/message_pump.h"
#include "framework/qt/qt_text.h"

namespace tv::fw {

// --- ChildFrame

ChildFrame::ChildFrame(Document* doc, View* view) : document_(doc), view_(view) {
    setAttribute(Qt::WA_DeleteOnClose);
    if (view) setWidget(view);
}

ChildFrame::~ChildFrame() = default;

void ChildFrame::close_silently() {
    silent_close_ = true;
    document_ = nullptr;
    close();
}

void ChildFrame::closeEvent(QCloseEvent* event) {
    if (silent_close_ || !document_) {
        QMdiSubWindow::closeEvent(event);
        return;
    }
    Document* doc = document_;
    if (!doc->can_close_frame(this)) {
        event->ignore();
        return;
    }
    if (doc->views().size() <= 1) {
        silent_close_ = true;
        doc->on_close_document();  // detaches this frame
    } else {
        if (view_) doc->remove_view(view_);
        document_ = nullptr;
    }
    QMdiSubWindow::closeEvent(event);
}

// --- MainFrame

MainFrame::MainFrame(Application& app, int resource_id)
    : app_(app), resource_id_(resource_id), pump_(std::make_unique<ScopedMessagePump>()) {
    mdi_ = new QMdiArea(this);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    app_.set_main_frame(this);
    QObject::connect(mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) { update_command_ui(); });
    if (QCoreApplication* core = QCoreApplication::instance()) core->installEventFilter(this);
}

MainFrame::~MainFrame() {
    if (app_.main_frame() == this) app_.set_main_frame(nullptr);
}

void MainFrame::add_child(ChildFrame* child, bool show) {
    if (!child) return;
    mdi_->addSubWindow(child);
    if (show) show_child(child);
}

void MainFrame::show_child(ChildFrame* child) {
    if (!child) return;
    ChildFrame* active = active_child();
    if (active == child) active = nullptr;
    if (active && active->isMaximized()) {
        child->showMaximized();
    } else if (child->windowState() & Qt::WindowMaximized) {
        child->show();  // the view asked for the whole client area
    } else {
        // A view without a natural size would open as a caption strip where the area placed it.
        const QRect area = mdi_->viewport()->rect();
        child->setWindowState(child->windowState() & ~Qt::WindowMinimized);
        if (child->width() < area.width() / 2 || child->height() < area.height() / 2) {
            int others = 0;
            for (ChildFrame* f : child_frames())
                if (f != child && f->isVisible() && !f->isMinimized()) ++others;
            const int step = child->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, child);
            const int offset = (others % 8) * step;
            child->setGeometry(offset, offset, std::max(child->width(), area.width() * 3 / 4),
                               std::max(child->height(), area.height() * 3 / 4));
        }
        child->showNormal();
    }
    activate_child(child);
}

std::vector<ChildFrame*> MainFrame::child_frames() const {
    std::vector<ChildFrame*> out;
    for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::CreationOrder)) {
        auto* f = dynamic_cast<ChildFrame*>(w);
        if (f && f->active_document()) out.push_back(f);
    }
    return out;
}

ChildFrame* MainFrame::active_child() const {
    auto* f = dynamic_cast<ChildFrame*>(mdi_->currentSubWindow());
    return (f && f->active_document()) ? f : nullptr;
}

void MainFrame::activate_child(ChildFrame* child) {
    if (child) mdi_->setActiveSubWindow(child);
}

namespace {
std::vector<QMdiSubWindow*> tileable(QMdiArea* mdi) {
    std::vector<QMdiSubWindow*> out;
    for (QMdiSubWindow* w : mdi->subWindowList(QMdiArea::CreationOrder))
        if (w->isVisible() && !w->isMinimized()) out.push_back(w);
    return out;
}

void tile(QMdiArea* mdi, bool side_by_side) {
    auto windows = tileable(mdi);
    if (windows.empty()) return;
    const QRect area = mdi->viewport()->rect();
    const int n = static_cast<int>(windows.size());
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* w = windows[static_cast<std::size_t>(i)];
        if (w->isMaximized()) w->showNormal();
        QRect r;
        if (side_by_side) {
            const int x0 = area.width() * i / n, x1 = area.width() * (i + 1) / n;
            r = QRect(x0, 0, x1 - x0, area.height());
        } else {
            const int y0 = area.height() * i / n, y1 = area.height() * (i + 1) / n;
            r = QRect(0, y0, area.width(), y1 - y0);
        }
        w->setGeometry(r);
    }
}

// The toolkit's cascade sizes each window by its size hint, so a view without a natural size
// (a report restored from maximised) would come back as a caption strip: every window gets the
// same working size instead, the active one on top.
void cascade_windows(QMdiArea* mdi) {
    auto windows = tileable(mdi);
    if (windows.empty()) return;
    QMdiSubWindow* active = mdi->activeSubWindow();
    if (auto it = std::find(windows.begin(), windows.end(), active); it != windows.end()) {
        windows.erase(it);
        windows.push_back(active);
    }
    const QRect area = mdi->viewport()->rect();
    const int step =
        std::max(8, windows.front()->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows.front()));
    const int n = static_cast<int>(windows.size());
    const int w = std::max(area.width() / 2, area.width() - step * (n - 1));
    const int h = std::max(area.height() / 2, area.height() - step * (n - 1));
    // Past the area's lower right the stagger starts again at the top left.
    const int room = std::max(1, std::min(area.width() - w, area.height() - h) / step + 1);
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* win = windows[static_cast<std::size_t>(i)];
        if (win->isMaximized()) win->showNormal();
        const int offset = (i % room) * step;
        win->setGeometry(offset, offset, w, h);
        win->raise();
    }
}
}  // namespace

void MainFrame::cascade() { cascade_windows(mdi_); }
void MainFrame::tile_horizontally() { tile(mdi_, false); }
void MainFrame::tile_vertically() { tile(mdi_, true); }

void MainFrame::arrange_icons() {
    const QRect area = mdi_->viewport()->rect();
    int x = 0, y = area.height();
    int row_height = 0;
    for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::CreationOrder)) {
        if (!w->isVisible() || !w->isMinimized()) continue;
        const QSize s = w->size();
        if (row_height == 0) {
            row_height = s.height();
            y = area.height() - row_height;
        }
        if (x > 0 && x + s.width() > area.width()) {
            x = 0;
            y -= row_height;
        }
        w->move(x, y);
        x += s.width();
    }
}

QAction* MainFrame::make_action(const MenuItem& item) {
    QAction* a = make_action(item.id, item.text);
    a->setStatusTip(to_qstring(item.status));
    if (const std::size_t tab = item.text.find('\t'); tab != std::string::npos) {
        const QKeySequence keys =
            QKeySequence::fromString(to_qstring(item.text.substr(tab + 1)), QKeySequence::PortableText);
        if (!keys.isEmpty()) {
            a->setShortcut(keys);
            a->setShortcutContext(Qt::WindowShortcut);
            addAction(a);  // works with the menu bar hidden or a child frame focused
        }
    }
    return a;
}

QAction* MainFrame::make_action(CommandId id, const std::string& text) {
    QAction* a = nullptr;
    if (auto it = actions_.find(id); it != actions_.end()) {
        a = it->second;
    } else {
        a = new QAction(this);
        QObject::connect(a, &QAction::triggered, this, [this, id](bool) { execute_command(id); });
        actions_[id] = a;
    }
    a->setText(to_qstring(text));
    return a;
}

namespace {
bool is_window_command(CommandId id) { return id >= cmd::WindowNew && id < cmd::WindowNew + 16; }

// "&1 " .. "&9 ", then numbers without a mnemonic; '&' in the title shows as itself.
// The frames the Window menu lists: those the user can see, in the order they were made.
std::vector<ChildFrame*> listed_children(const std::vector<ChildFrame*>& all) {
    std::vector<ChildFrame*> out;
    for (ChildFrame* f : all)
        if (!f->isHidden()) out.push_back(f);
    return out;
}

QString window_list_text(std::size_t index, QString title) {
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    const QString number = QString::number(index + 1);
    return (index < 9 ? QLatin1String("&") + number : number) + QLatin1Char(' ') + title;
}
}  // namespace

void MainFrame::build_menu(QMenu* into, const std::vector<MenuItem>& items) {
    for (const auto& item : items) {
        switch (item.kind) {
            case MenuItem::Kind::Command:
                into->addAction(make_action(item));
                if (item.id == cmd::FileMru1) {
                    recent_menu_ = into;
                    recent_placeholder_ = item.text;
                }
                if (is_window_command(item.id)) window_menu_ = into;
                break;
            case MenuItem::Kind::Separator: into->addSeparator(); break;
            case MenuItem::Kind::Popup: {
                QMenu* sub = into->addMenu(to_qstring(item.text));
                QObject::connect(sub, &QMenu::aboutToShow, this, [this] { update_command_ui(); });
                build_menu(sub, item.items);
                break;
            }
        }
    }
}

void MainFrame::set_menu(const MenuModel& model) {
    menu_model_ = model;
    menuBar()->clear();  // deletes the menus and with them the window list
    for (auto& [id, a] : actions_) delete a;
    actions_.clear();
    recent_menu_ = window_menu_ = nullptr;
    recent_placeholder_.clear();
    window_list_.clear();
    for (const auto& item : model.items) {
        switch (item.kind) {
            case MenuItem::Kind::Command: menuBar()->addAction(make_action(item)); break;
            case MenuItem::Kind::Separator: menuBar()->addSeparator(); break;
            case MenuItem::Kind::Popup: {
                QMenu* m = menuBar()->addMenu(to_qstring(item.text));
                QObject::connect(m, &QMenu::aboutToShow, this, [this] { update_command_ui(); });
                build_menu(m, item.items);
                break;
            }
        }
    }
    update_command_ui();
}

QAction* MainFrame::action(CommandId id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainFrame::apply_state(CommandId id, QAction* a) {
    CommandUi s = command_state(id);
    a->setEnabled(s.enabled());
    a->setCheckable(s.checked() || a->isCheckable());
    a->setChecked(s.checked());
    a->setVisible(s.visible());
    if (s.has_text()) a->setText(to_qstring(s.text()));
}

// The entries are made as the list grows and kept: one may be the action being triggered.
void MainFrame::refresh_recent_menu() {
    QAction* first = action(cmd::FileMru1);
    if (!recent_menu_ || !first) return;
    const std::vector<std::string>& files = app_.recent_files().items();
    first->setText(to_qstring(files.empty() ? recent_placeholder_ : recent_file_menu_text(0, files[0])));
    QAction* previous = first;
    for (std::size_t i = 1; i < files.size() && i < 16; ++i) {
        const CommandId id = cmd::FileMru1 + static_cast<CommandId>(i);
        QAction* a = action(id);
        if (!a) {
            a = make_action(id, std::string());
            const QList<QAction*> in_menu = recent_menu_->actions();
            const qsizetype at = in_menu.indexOf(previous);
            recent_menu_->insertAction(at >= 0 && at + 1 < in_menu.size() ? in_menu[at + 1] : nullptr, a);
        }
        a->setText(to_qstring(recent_file_menu_text(i, files[i])));
        previous = a;
    }
}

void MainFrame::refresh_window_list() {
    if (!window_menu_) return;
    const std::vector<ChildFrame*> children = listed_children(child_frames());
    // [0] is the separator; [i + 1] chooses the i-th child, looked up when chosen.
    while (window_list_.size() < children.size() + 1) {
        if (window_list_.empty()) {
            window_list_.push_back(window_menu_->addSeparator());
            continue;
        }
        const std::size_t index = window_list_.size() - 1;
        QAction* a = window_menu_->addAction(QString());
        a->setCheckable(true);
        QObject::connect(a, &QAction::triggered, this, [this, index](bool) {
            const std::vector<ChildFrame*> now = listed_children(child_frames());
            if (index >= now.size()) return;
            ChildFrame* chosen = now[index];
            if (chosen->isMinimized()) chosen->showNormal();
            activate_child(chosen);
        });
        window_list_.push_back(a);
    }
    ChildFrame* active = active_child();
    window_list_[0]->setVisible(!children.empty());
    for (std::size_t i = 1; i < window_list_.size(); ++i) {
        QAction* a = window_list_[i];
        const bool used = i - 1 < children.size();
        a->setVisible(used);
        if (!used) continue;
        ChildFrame* f = children[i - 1];
        a->setText(window_list_text(i - 1, f->windowTitle()));
        a->setChecked(f == active);
    }
}

void MainFrame::update_command_ui() {
    refresh_recent_menu();
    refresh_window_list();
    for (auto& [id, a] : actions_) apply_state(id, a);
    for (auto& [pane, label] : panes_) {
        if (pane.id == 0) continue;
        CommandUi s = command_state(pane.id);
        label->setEnabled(s.enabled());
        if (!s.enabled())
            label->clear();
        else if (s.has_text())
            label->setText(to_qstring(s.text()));
    }
}

void MainFrame::set_indicators(const std::vector<StatusPane>& panes) {
    for (auto& [pane, label] : panes_) {
        statusBar()->removeWidget(label);
        delete label;
    }
    panes_.clear();
    for (const auto& pane : panes) {
        auto* label = new QLabel(statusBar());
        if (pane.id == 0) {
            statusBar()->addWidget(label, 1);
        } else {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            const QString w = to_qstring(pane.width_text.empty() ? std::string("  ") : pane.width_text);
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(w) + 6);
            statusBar()->addPermanentWidget(label);
        }
        panes_.emplace_back(pane, label);
    }
    statusBar()->show();
}

std::string MainFrame::pane_text(CommandId id) const {
    for (const auto& [pane, label] : panes_)
        if (pane.id == id) return from_qstring(label->text());
    return {};
}

bool MainFrame::pane_enabled(CommandId id) const {
    for (const auto& [pane, label] : panes_)
        if (pane.id == id) return label->isEnabled();
    return false;
}

void MainFrame::set_pane_text(CommandId id, const std::string& cp1252) {
    for (auto& [pane, label] : panes_)
        if (pane.id == id) label->setText(to_qstring(cp1252));
}

void MainFrame::set_message_text(const std::string& cp1252) { set_pane_text(0, cp1252); }

std::vector<CommandTarget*> MainFrame::command_route() const {
    std::vector<CommandTarget*> route;
    if (ChildFrame* f = active_child()) {
        if (View* v = f->active_view()) route.push_back(v);
        if (Document* d = f->active_document()) route.push_back(d);
        route.push_back(f);
    }
    route.push_back(const_cast<MainFrame*>(this));
    route.push_back(&app_);
    return route;
}

bool MainFrame::execute_command(CommandId id) {
    // A disabled command does nothing, as a greyed menu item would.
    CommandUi s = command_state(id);
    if (!s.enabled() || !s.visible()) return false;
    return route_command(command_route(), id);
}

CommandUi MainFrame::command_state(CommandId id) const { return route_update(command_route(), id); }

bool MainFrame::query_close() {
    if (!app_.save_all_modified()) return false;
    app_.close_all_documents();
    return true;
}

void MainFrame::closeEvent(QCloseEvent* event) {
    // The wait below this event would return into a program that has gone.
    if (!closing_ && child_run_in_progress()) {
        ui().message_box(kChildStillRunningText, "", MsgIcon::Warning, MsgButtons::Ok);
        event->ignore();
        return;
    }
    if (!closing_ && !query_close()) {
        event->ignore();
        return;
    }
    closing_ = true;
    event->accept();
}

void MainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    on_size();
}

void MainFrame::on_size() { arrange_icons(); }

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ShortcutOverride) return false;
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (widget ? widget->window() != this : watched != windowHandle()) return false;
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (auto& [id, a] : actions_)
        if (!a->shortcut().isEmpty() && a->shortcut().matches(pressed) == QKeySequence::ExactMatch) apply_state(id, a);
    return false;
}

}  // namespace tv::fw
