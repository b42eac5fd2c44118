#include "framework/qt/tooltip.h"

#include <QApplication>
#include <QCursor>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "common/strings.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/window_helpers.h"

namespace tv::fw {

// --- SubclassWnd: Qt's event filters already chain, latest installed first.

class SubclassWnd::Filter : public QObject {
public:
    explicit Filter(SubclassWnd& owner) : owner_(owner) {}
    bool eventFilter(QObject* watched, QEvent* event) override { return owner_.window_proc(watched, event); }

private:
    SubclassWnd& owner_;
};

SubclassWnd::SubclassWnd() : filter_(std::make_unique<Filter>(*this)) {}

SubclassWnd::~SubclassWnd() { hook_window(nullptr); }

bool SubclassWnd::hook_window(QWidget* window) {
    if (window_) window_->removeEventFilter(filter_.get());
    window_ = window;
    if (window) window->installEventFilter(filter_.get());
    return true;
}

bool SubclassWnd::window_proc(QObject*, QEvent*) { return false; }

namespace {
class ToolTipOwnerHook : public SubclassWnd {
public:
    explicit ToolTipOwnerHook(ToolTipImp& tip) : tip_(tip) {}
    bool window_proc(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseMove:
                tip_.on_owner_input(static_cast<QMouseEvent*>(event)->position().toPoint(), true);
                break;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease: tip_.on_owner_input(tip_.point(), false); break;
            default: break;
        }
        return false;
    }

private:
    ToolTipImp& tip_;
};

qint64 now_ms() { return QDateTime::currentMSecsSinceEpoch(); }
}  // namespace

// --- ToolTipImp

ToolTipImp::ToolTipImp(bool owner_hook)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    poll_timer_ = make_timer();
    hide_timer_ = make_timer();
    if (owner_hook) hook_ = std::make_unique<ToolTipOwnerHook>(*this);
    last_activity_ = now_ms();
}

ToolTipImp::~ToolTipImp() {
    if (hook_) hook_->hook_window(nullptr);
}

int ToolTipImp::poll_interval() const { return std::clamp(delay_ms_ / 4, 100, 1000); }

void ToolTipImp::create(QWidget* owner, unsigned hover_message, int font_height) {
    owner_ = owner;
    hover_message_ = hover_message;
    font_ = QFont(font_height < 16 ? QStringLiteral("MS Sans Serif") : QStringLiteral("Arial"));
    font_.setPixelSize(std::max(1, font_height));
    font_.setWeight(QFont::Normal);
    if (hook_ && owner) hook_->hook_window(owner);
    poll_timer_->start(poll_interval(), [this] { poll(); });
    last_activity_ = now_ms();
    if (delay_ms_ == 0 && !text_.empty()) show_tip();
}

void ToolTipImp::set_text(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    if (!visible_) return;
    if (text_.empty())
        hide_tip();
    else
        place();
}

void ToolTipImp::show_tip() {
    if (text_.empty() || visible_) return;
    visible_ = true;
    place();
    if (auto_hide_ms_ != 0)
        hide_timer_->start(auto_hide_ms_, [this] {
            hide_timer_->stop();
            if (auto_hide_ms_ != 0 && visible_) hide_tip();
        });
}

void ToolTipImp::hide_tip() {
    if (!visible_) return;
    hide();
    visible_ = false;
}

void ToolTipImp::set_point(QPoint point) {
    if (point == point_) return;
    point_ = point;
    if (visible_) place();
}

void ToolTipImp::set_auto_hide_time(int ms) {
    auto_hide_ms_ = ms;
    if (!hide_timer_->active()) return;
    if (ms == 0)
        hide_timer_->stop();
    else
        hide_timer_->start(ms, [this] {
            hide_timer_->stop();
            if (auto_hide_ms_ != 0 && visible_) hide_tip();
        });
}

QRect ToolTipImp::tip_box(const QRect& limits) const {
    QFontMetrics fm(font_);
    QRect text_rect =
        fm.boundingRect(QRect(0, 0, 4000, 4000), Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs, to_qstring(text_));
    QSize size(text_rect.width() + 8, text_rect.height() + 8);
    QPoint anchor = owner_ ? owner_->mapToGlobal(point_) : point_;
    QRect box = placement_ == Centered ? QRect(anchor - QPoint(size.width() / 2, size.height() / 2), size)
                                       : QRect(anchor + offset_, size);
    if (box.right() > limits.right()) box.moveRight(limits.right());
    if (box.bottom() > limits.bottom()) box.moveBottom(limits.bottom());
    if (box.left() < limits.left()) box.moveLeft(limits.left());
    if (box.top() < limits.top()) box.moveTop(limits.top());
    return box;
}

void ToolTipImp::place() {
    QPoint anchor = owner_ ? owner_->mapToGlobal(point_) : point_;
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    QRect limits = screen ? screen->geometry().adjusted(4, 4, -4, -4) : QRect(0, 0, 1 << 20, 1 << 20);
    setGeometry(tip_box(limits));
    show();
    raise();
    update();
}

void ToolTipImp::paintEvent(QPaintEvent*) {
    ++paint_count_;
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::ToolTipBase));
    p.setPen(palette().color(QPalette::ToolTipText));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setFont(font_);
    p.drawText(rect().adjusted(4, 4, -2, -2), Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs, to_qstring(text_));
}

void ToolTipImp::poll() {
    if (!owner_) return;
    const QPoint at = owner_->mapFromGlobal(QCursor::pos());
    if (at == point_) return;
    point_ = at;
    QWidget* active = QApplication::activeWindow();
    const bool ours = active && (active == owner_->window() || active == owner_);
    if (owner_->rect().contains(at) && ours) {
        if (!visible_ && !hover_posted_ && now_ms() - last_activity_ >= delay_ms_) {
            if (on_hover) on_hover(hover_message_, at);
            hover_posted_ = true;
            hide_timer_->stop();
        }
    } else {
        hide_tip();
    }
}

void ToolTipImp::on_owner_input(QPoint at, bool is_move) {
    if (is_move && at == point_) return;
    hide_timer_->stop();
    hover_posted_ = false;
    hide_tip();
    last_activity_ = now_ms();
    if (delay_ms_ == 0) poll();
}

// --- ToolTip

ToolTip::ToolTip(bool owner_hook) : imp_(std::make_unique<ToolTipImp>(owner_hook)) {}
ToolTip::~ToolTip() = default;

void ToolTip::create(QWidget* owner, unsigned hover_message, int font_height) {
    imp_->create(owner, hover_message, font_height);
}

void ToolTip::set_text(const std::string& text) {
    imp_->set_text(text);
    imp_->show_tip();
}

void ToolTip::set_position(QPoint point) { imp_->set_point(point); }
void ToolTip::set_auto_hide_time(int ms) { imp_->set_auto_hide_time(ms); }
void ToolTip::set_placement(int mode) { imp_->set_placement(mode); }

void ToolTip::show_centered(const std::string& text, QWidget* window, int font_height) {
    // Never another program's window: only ours can be found here.
    if (!window) window = active_or_main_window();
    imp_->create(window, 0, font_height);
    imp_->set_auto_hide_time(0);
    imp_->set_placement(ToolTipImp::Centered);
    if (window) imp_->set_point(window->rect().center() + QPoint(1, 1));
    set_text(text);
}

// --- WaitTip

WaitTip::WaitTip(const std::string& text, QWidget* window, int font_height) {
    begin_wait_cursor();
    show_centered(text, window, font_height);
    // The caller blocks the window thread next, so the tip is painted now or never. A window the
    // system has not exposed yet takes no paint: let the expose arrive, user input left queued.
    ToolTipImp* tip = imp();
    if (!tip->tip_visible()) return;
    const int before = tip->paint_count();
    tip->repaint();
    QElapsedTimer waited;
    waited.start();
    while (tip->paint_count() == before && waited.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
}

WaitTip::WaitTip(const char* text, QWidget* window, int font_height)
    : WaitTip(std::string(text ? text : ""), window, font_height) {}

WaitTip::WaitTip(const QString& text, QWidget* window, int font_height)
    : WaitTip(from_qstring(text), window, font_height) {}

WaitTip::~WaitTip() { end_wait_cursor(); }

}  // namespace tv::fw
