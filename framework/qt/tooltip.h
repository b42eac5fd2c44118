// A small self-drawn tip window near a point of an owner widget, with a hover delay and an
// automatic hide; WaitTip shows a text centred on a window together with the wait cursor for
// its lifetime; SubclassWnd chains input hooks on a widget (event filters, latest first).
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QFont>
#include <QPointer>
#include <QWidget>

#include "framework/qt/timer.h"

class QDialog;
class QEvent;

namespace tv::fw {

// A hook on a widget's input. window_proc answers true when it consumed the event; the default
// passes it on to the next hook and so to the widget.
class SubclassWnd {
public:
    SubclassWnd();
    virtual ~SubclassWnd();
    // Hooks the widget (at the head of its chain); nullptr unhooks. True.
    bool hook_window(QWidget* window);
    QWidget* hooked_window() const { return window_; }
    virtual bool window_proc(QObject* watched, QEvent* event);

private:
    class Filter;
    std::unique_ptr<Filter> filter_;
    QPointer<QWidget> window_;
};

class ToolTipImp : public QWidget {
public:
    enum Placement { BelowRight = 0, Centered = 4 };
    explicit ToolTipImp(bool owner_hook);
    ~ToolTipImp() override;

    // Keeps the owner and hover message, makes the font ("MS Sans Serif" below height 16, else
    // "Arial", weight 400), starts the poll timer every clamp(delay/4, 100, 1000) ms.
    void create(QWidget* owner, unsigned hover_message, int font_height);
    void set_text(const std::string& cp1252);  // empty hides a visible tip
    const std::string& text() const { return text_; }
    void show_tip();
    void hide_tip();
    bool tip_visible() const { return visible_; }
    void set_point(QPoint point);  // owner client coordinates
    QPoint point() const { return point_; }
    void set_auto_hide_time(int ms);
    int auto_hide_time() const { return auto_hide_ms_; }
    void set_delay(int ms) { delay_ms_ = ms; }
    int delay() const { return delay_ms_; }
    int poll_interval() const;
    void set_placement(int mode) { placement_ = mode; }
    int placement() const { return placement_; }
    const QFont& tip_font() const { return font_; }
    QWidget* owner() const { return owner_; }
    // The box in global coordinates that the tip takes for its text and point, kept inside
    // `limits` (the screen inset by 4).
    QRect tip_box(const QRect& limits) const;
    // How often the tip has been painted.
    int paint_count() const { return paint_count_; }
    // Owner input (mouse move, button, key): hides the tip and restarts the rest time.
    void on_owner_input(QPoint at, bool is_move);
    // Receives the hover message (the owner's "posted message") with the point.
    std::function<void(unsigned message, QPoint point)> on_hover;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void poll();
    void place();
    std::string text_;
    QPointer<QWidget> owner_;
    unsigned hover_message_ = 0;
    bool hover_posted_ = false, visible_ = false;
    QPoint point_;
    QFont font_;
    qint64 last_activity_ = 0;
    std::unique_ptr<Timer> poll_timer_, hide_timer_;
    int auto_hide_ms_ = 4000, delay_ms_ = 1000;
    QPoint offset_{7, 20};
    int placement_ = BelowRight;
    int paint_count_ = 0;
    std::unique_ptr<SubclassWnd> hook_;
};

class ToolTip {
public:
    explicit ToolTip(bool owner_hook = false);
    virtual ~ToolTip();
    ToolTip(const ToolTip&) = delete;
    ToolTip& operator=(const ToolTip&) = delete;

    void create(QWidget* owner, unsigned hover_message, int font_height);
    void set_text(const std::string& cp1252);
    void set_position(QPoint point);
    void set_auto_hide_time(int ms);
    void set_placement(int mode);
    // On `window`, else the application's active top-level window, else its main window (never
    // another program's): no auto-hide, centred on the window's client area.
    void show_centered(const std::string& cp1252, QWidget* window, int font_height);
    ToolTipImp* imp() const { return imp_.get(); }

private:
    std::unique_ptr<ToolTipImp> imp_;
};

// A tip and the wait cursor for the object's lifetime.
class WaitTip : public ToolTip {
public:
    WaitTip(const std::string& text, QWidget* window = nullptr, int font_height = 16);
    WaitTip(const char* text, QWidget* window = nullptr, int font_height = 16);
    WaitTip(const QString& text, QWidget* window = nullptr, int font_height = 16);
    ~WaitTip() override;
};

}  // namespace tv::fw
