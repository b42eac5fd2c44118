#include "tolbex/timi/grid/ui/grid_widget.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>

#include "framework/qt/painter_draw_context.h"
#include "framework/qt/qt_text.h"
#include "common/values.h"
#include "tolbex/timi/grid/grid_corner.h"
#include "tolbex/timi/grid/grid_side_heading.h"
#include "tolbex/timi/grid/grid_top_heading.h"

namespace tv {
namespace {

enum MouseKind { kPress, kRelease, kDouble, kMove };

// Qt keys as the virtual key codes the core knows; 0 for others.
int virtual_key(int key) {
    switch (key) {
        case Qt::Key_Left: return kKeyLeft;
        case Qt::Key_Right: return kKeyRight;
        case Qt::Key_Up: return kKeyUp;
        case Qt::Key_Down: return kKeyDown;
        case Qt::Key_PageUp: return kKeyPageUp;
        case Qt::Key_PageDown: return kKeyPageDown;
        case Qt::Key_Home: return kKeyHome;
        case Qt::Key_End: return kKeyEnd;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return kGridKeyTab;
        case Qt::Key_Return:
        case Qt::Key_Enter: return kGridKeyEnter;
        case Qt::Key_Escape: return kGridKeyEscape;
        case Qt::Key_Backspace: return kGridKeyBackspace;
        case Qt::Key_Delete: return 46;
        case Qt::Key_Insert: return 45;
        case Qt::Key_Space: return 32;
        case Qt::Key_F2: return 113;
        default: break;
    }
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) return key;
    return 0;
}

// The typed character as one Windows-1252 byte; 0 when there is none or it has no byte.
int typed_char(const QKeyEvent* e) {
    if (e->text().size() != 1) return 0;
    const std::string b = from_qstring(e->text());
    return b.size() == 1 ? static_cast<unsigned char>(b[0]) : 0;
}

bool printable(int ch) { return ch >= 0x20 && ch != 0x7F; }

fw::Pt point_of(const QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    return {p.x(), p.y()};
}

unsigned mouse_flags_of(const QMouseEvent* e) {
    unsigned f = 0;
    if (e->buttons() & Qt::LeftButton) f |= 0x1;
    if (e->buttons() & Qt::RightButton) f |= 0x2;
    if (e->modifiers() & Qt::ShiftModifier) f |= 0x4;
    if (e->modifiers() & Qt::ControlModifier) f |= 0x8;
    return f;
}

QRect qrect(const fw::Rc& r) { return {r.l, r.t, std::max(0, r.width()), std::max(0, r.height())}; }

QFont qfont(const fw::Font& f) {
    QFont q(QString::fromStdString(f.face));
    q.setPixelSize(std::max(1, f.em_height));
    q.setWeight(f.weight >= 600 ? QFont::Bold : QFont::Normal);
    q.setItalic(f.italic);
    return q;
}

// Win32 bars count the page into their range; a Qt bar's maximum is the last thumb position.
void show_range(QScrollBar& bar, const GridScrollRange& r) {
    const QSignalBlocker block(bar);
    bar.setRange(r.min, std::max(r.min, r.max - std::max(r.page - 1, 0)));
    bar.setPageStep(std::max(1, r.page));
    bar.setSingleStep(1);
    if (!bar.isSliderDown()) bar.setValue(r.pos);
}

}  // namespace

// --- GridWindowCtrl

void GridWindowCtrl::show_drop_list(std::int32_t, std::int32_t, const std::vector<std::string>& entries,
                                    const fw::Rc& rect, const fw::Font*) {
    if (widget_) widget_->open_drop_list(entries, rect);
}

bool GridWindowCtrl::show_popup_menu(fw::Pt p) { return widget_ && widget_->show_menu(p); }

// --- GridPartWidget

GridPartWidget::GridPartWidget(GridWidget& owner, int section) : QWidget(&owner), owner_(owner), section_(section) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);  // the headings and the tab bar's grip show their sizing pointer on hover
    if (section == kSectionCells) setFocusPolicy(Qt::StrongFocus);
}

bool GridPartWidget::event(QEvent* e) {
    if (e->type() == QEvent::QueryWhatsThis) {
        e->accept();
        return true;
    }
    if (e->type() == QEvent::WhatsThis) {
        const QPoint at = static_cast<QHelpEvent*>(e)->pos();
        owner_.grid().help_at(section_, {at.x(), at.y()});
        e->accept();
        return true;
    }
    return QWidget::event(e);
}

void GridPartWidget::paintEvent(QPaintEvent*) {
    if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
    if (buffer_.isNull()) return;
    {
        QPainter p(&buffer_);
        fw::PainterDrawContext dc(p, fw::DrawContext::Kind::Screen);
        owner_.paint_section(section_, dc, size());
    }
    QPainter(this).drawImage(0, 0, buffer_);
}

void GridPartWidget::mousePressEvent(QMouseEvent* e) { owner_.mouse(section_, e, kPress); }
void GridPartWidget::mouseReleaseEvent(QMouseEvent* e) { owner_.mouse(section_, e, kRelease); }
void GridPartWidget::mouseDoubleClickEvent(QMouseEvent* e) { owner_.mouse(section_, e, kDouble); }
void GridPartWidget::mouseMoveEvent(QMouseEvent* e) { owner_.mouse(section_, e, kMove); }
void GridPartWidget::wheelEvent(QWheelEvent* e) {
    owner_.wheel_turned(e->angleDelta().y());
    e->accept();
}
void GridPartWidget::keyPressEvent(QKeyEvent* e) { owner_.key(e, true); }
void GridPartWidget::keyReleaseEvent(QKeyEvent* e) { owner_.key(e, false); }
void GridPartWidget::focusInEvent(QFocusEvent*) {
    if (section_ == kSectionCells) owner_.focus_changed(true);
}
void GridPartWidget::focusOutEvent(QFocusEvent*) {
    if (section_ == kSectionCells) owner_.focus_changed(false);
}

// --- GridLineEditor

GridLineEditor::GridLineEditor(GridWidget& owner, bool masked) : QLineEdit(&owner), owner_(owner), masked_(masked) {
    setFrame(false);
    QLineEdit::hide();
}

void GridLineEditor::set_text(const std::string& text) { setText(to_qstring(text)); }
std::string GridLineEditor::text() const { return from_qstring(QLineEdit::text()); }

void GridLineEditor::set_mask(const std::string& mask) {
    const GridMask m(mask);
    setMaxLength(m.on() ? static_cast<int>(m.length_limit()) : 32767);
}

void GridLineEditor::set_font(const fw::Font* font) { setFont(font ? qfont(*font) : owner_.font()); }

void GridLineEditor::place(int section, const fw::Rc& rect) {
    const GridComponents& parts = owner_.grid().components();
    const fw::Rc& at = section == kSectionTop ? parts.top : section == kSectionSide ? parts.side : parts.cells;
    setGeometry(qrect(rect).translated(at.l, at.t));
}

void GridLineEditor::hide() {
    hiding_ = true;
    QLineEdit::hide();
    hiding_ = false;
}

void GridLineEditor::type_char(int ch) {
    clear();
    if (!masked_) {
        setText(to_qstring(std::string(1, static_cast<char>(ch))));
        return;
    }
    const GridMaskedChar m = owner_.grid().editor_masked_char(0, ch);
    std::string typed = m.literals;
    if (m.type) typed += static_cast<char>(m.ch);
    setText(to_qstring(typed));
}

void GridLineEditor::keyPressEvent(QKeyEvent* e) {
    GridCtrl& g = owner_.grid();
    g.set_modifiers(e->modifiers() & Qt::ShiftModifier, e->modifiers() & Qt::ControlModifier);
    const int vk = virtual_key(e->key());
    if (vk && g.editor_key_down(vk)) {
        owner_.refresh();
        return;
    }
    int ch = typed_char(e);
    if (!printable(ch) || (e->modifiers() & Qt::ControlModifier)) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (masked_) {
        if (hasSelectedText()) del();
        const GridMaskedChar m = g.editor_masked_char(static_cast<std::size_t>(cursorPosition()), ch);
        std::string typed = m.literals;
        if (m.type) typed += static_cast<char>(m.ch);
        if (!typed.empty()) insert(to_qstring(typed));
    } else if (g.editor_char(ch)) {
        insert(to_qstring(std::string(1, static_cast<char>(ch))));
    }
}

void GridLineEditor::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    if (!hiding_ && isVisible()) owner_.editor_left(QApplication::focusWidget());
}

// --- GridDropListPopup

GridDropListPopup::GridDropListPopup(GridWidget& owner) : QListWidget(&owner), owner_(owner), list_(*this) {
    setWindowFlags(Qt::Popup);
    setFrameShape(QFrame::Box);
}

void GridDropListPopup::open(GridOpenListCell* owner, int type_index, const std::vector<std::string>& entries,
                             const QRect& global) {
    clear();
    for (const std::string& e : entries) addItem(to_qstring(e));
    const auto lines = static_cast<std::int32_t>(std::min<std::size_t>(entries.size(), kGridDropListMaxLines));
    list_.fill(entries, type_index, owner, lines);
    setGeometry(global);
    show();
    setFocus();
    list_.on_set_focus();
}

void GridDropListPopup::notify_chosen_index(int type, std::int32_t col, std::int32_t row, std::int32_t index) {
    owner_.grid().on_cell_type_notify(type, col, row, kGridNotifyChosenIndex, index);
}

int GridDropListPopup::notify_chosen_text(int type, std::int32_t col, std::int32_t row, std::string& text) {
    return owner_.grid().on_cell_type_notify(type, col, row, kGridNotifyChosenText, reinterpret_cast<long>(&text));
}

void GridDropListPopup::set_cell_text(std::int32_t col, std::int32_t row, const std::string& text) {
    owner_.grid().set_cell_text(col, row, text);
    owner_.grid().redraw_cell(col, row);
}

void GridDropListPopup::focus_cell_area() {
    close_list();
    owner_.cell_area().setFocus();
}

void GridDropListPopup::repaint_cell_area() { owner_.cell_area().update(); }

void GridDropListPopup::close_list() {
    if (isVisible()) QListWidget::hide();
    list_.on_kill_focus();
}

void GridDropListPopup::keyPressEvent(QKeyEvent* e) {
    const int vk = virtual_key(e->key());
    if (!vk || !list_.on_key_down(vk)) return;
    if (list_.alive() && list_.selection() >= 0) setCurrentRow(list_.selection());
    if (!list_.alive() || !list_.is_open()) focus_cell_area();
}

void GridDropListPopup::mousePressEvent(QMouseEvent* e) {
    const QModelIndex at = indexAt(e->position().toPoint());
    list_.on_left_button_down(at.isValid() ? at.row() : -1);
    if (list_.selection() >= 0) setCurrentRow(list_.selection());
}

void GridDropListPopup::mouseReleaseEvent(QMouseEvent* e) {
    const QModelIndex at = indexAt(e->position().toPoint());
    list_.on_left_button_up(at.isValid() ? at.row() : -1);
}

void GridDropListPopup::hideEvent(QHideEvent* e) {
    QListWidget::hideEvent(e);
    if (list_.alive()) close_list();
}

// --- GridHintWindow

GridHintWindow::GridHintWindow() : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void GridHintWindow::show_at(QWidget& over, std::int32_t x, std::int32_t y, std::int32_t min_width) {
    QImage scratch(1, 1, QImage::Format_RGB32);
    QPainter p(&scratch);
    p.setFont(font());
    fw::PainterDrawContext dc(p, fw::DrawContext::Kind::Screen);
    const fw::Rc box = hint_.place(dc, x, y, min_width, {0, 0, over.width(), over.height()});
    setGeometry(QRect(over.mapToGlobal(QPoint(box.l, box.t)), QSize(box.width(), box.height())));
    show();
    update();
}

void GridHintWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    fw::PainterDrawContext dc(p, fw::DrawContext::Kind::Screen);
    hint_.paint(dc, {0, 0, width(), height()});
}

// --- GridWidget

GridWidget::GridWidget(std::unique_ptr<GridWindowCtrl> ctrl, QWidget* parent)
    : QWidget(parent),
      ctrl_(ctrl ? std::move(ctrl) : std::make_unique<GridWindowCtrl>()),
      tabs_model_(16),
      drag_timer_(fw::make_timer()),
      measure_image_(1, 1, QImage::Format_RGB32) {
    ctrl_->widget_ = this;
    cells_ = new GridPartWidget(*this, kSectionCells);
    top_ = new GridPartWidget(*this, kSectionTop);
    side_ = new GridPartWidget(*this, kSectionSide);
    corner_ = new GridPartWidget(*this, kSectionCorner);
    tabs_ = new GridPartWidget(*this, kGridPartTabs);
    vbar_ = new QScrollBar(Qt::Vertical, this);
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    vbar_->setFocusPolicy(Qt::NoFocus);
    hbar_->setFocusPolicy(Qt::NoFocus);
    tab_arrows_ = new QScrollBar(Qt::Horizontal, tabs_);
    tab_arrows_->setFocusPolicy(Qt::NoFocus);
    tab_arrows_->setRange(0, 2);
    tab_arrows_->setValue(1);
    menu_ = new QMenu(this);
    connect(menu_, &QMenu::triggered, this, [this](QAction* a) {
        ctrl_->menu_command(a->data().toInt());
        after_input();
    });
    connect(tab_arrows_, &QScrollBar::actionTriggered, this, [this](int a) { on_tab_arrow(a); });
    // The bars' own menus give way to the grid's, opened for column 0, row 0 and the bar.
    for (auto [bar, section] : {std::pair{vbar_, kSectionVScroll}, std::pair{hbar_, kSectionHScroll}}) {
        bar->installEventFilter(this);
        bar->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(bar, &QWidget::customContextMenuRequested, this, [this, section](const QPoint& at) {
            ctrl_->start_popup_menu(0, 0, {at.x(), at.y()}, section);
        });
    }
    plain_ = new GridLineEditor(*this, false);
    masked_ = new GridLineEditor(*this, true);
    drop_ = new GridDropListPopup(*this);
    hint_ = new GridHintWindow();
    ctrl_->set_editors(plain_, masked_);
    measure_painter_ = std::make_unique<QPainter>(&measure_image_);
    measure_ = std::make_unique<fw::PainterDrawContext>(*measure_painter_, fw::DrawContext::Kind::Screen);
    ctrl_->set_measure(measure_.get());
    connect(vbar_, &QScrollBar::actionTriggered, this, [this](int a) { on_vscroll(a); });
    connect(hbar_, &QScrollBar::actionTriggered, this, [this](int a) { on_hscroll(a); });
    connect(vbar_, &QScrollBar::sliderReleased, this, [this] {
        apply_scroll(vmodel_.on_scroll(GridScrollCode::ThumbPosition, vbar_->sliderPosition(), vsheet(), {}, {}), true);
        after_input();
    });
    connect(hbar_, &QScrollBar::sliderReleased, this, [this] {
        apply_scroll(hmodel_.on_scroll(GridScrollCode::ThumbPosition, hbar_->sliderPosition(), hsheet(), {}, {}),
                     false);
        after_input();
    });
    setFocusProxy(cells_);
}

GridWidget::~GridWidget() {
    drag_timer_->stop();
    // The parts forward their last focus events to the control: they go before it does.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
    ctrl_->set_editors(nullptr, nullptr);
    ctrl_->set_measure(nullptr);
    ctrl_->widget_ = nullptr;
    measure_.reset();
    measure_painter_.reset();
    delete hint_;
}

void GridWidget::resizeEvent(QResizeEvent*) { refresh(); }

bool GridWidget::eventFilter(QObject* watched, QEvent* e) {
    if (watched != vbar_ && watched != hbar_) return QWidget::eventFilter(watched, e);
    if (e->type() == QEvent::QueryWhatsThis) {
        e->accept();
        return true;
    }
    if (e->type() == QEvent::WhatsThis) {
        const QPoint at = static_cast<QHelpEvent*>(e)->pos();
        ctrl_->help_at(watched == vbar_ ? kSectionVScroll : kSectionHScroll, {at.x(), at.y()});
        e->accept();
        return true;
    }
    return false;
}

void GridWidget::refresh() {
    ctrl_->layout(width(), height());
    const GridComponents& p = ctrl_->components();
    cells_->setGeometry(qrect(p.cells));
    top_->setGeometry(qrect(p.top));
    side_->setGeometry(qrect(p.side));
    corner_->setGeometry(qrect(p.corner));
    vbar_->setGeometry(qrect(p.vscroll));
    hbar_->setGeometry(qrect(p.hscroll));
    tabs_->setGeometry(qrect(p.tabs));
    vbar_->setVisible(p.vscroll_shown);
    hbar_->setVisible(p.hscroll_shown);
    tabs_->setVisible(p.tabs.width() > 0 && p.tabs.height() > 0);
    const fw::Rc arrows = tabs_model_.layout({0, 0, p.tabs.width(), p.tabs.height()});
    tab_arrows_->setGeometry(qrect(arrows));
    after_input();
}

void GridWidget::after_input() {
    sync_scroll_bars();
    for (QWidget* w : {static_cast<QWidget*>(cells_), static_cast<QWidget*>(top_), static_cast<QWidget*>(side_),
                       static_cast<QWidget*>(corner_), static_cast<QWidget*>(tabs_)})
        w->update();
    if (GridEditor* e = ctrl_->active_editor()) {
        static_cast<GridLineEditor*>(e)->setFocus();
    } else if (plain_->hasFocus() || masked_->hasFocus()) {
        cells_->setFocus();
    }
}

// --- painting

void GridWidget::paint_section(int section, fw::DrawContext& dc, const QSize& size) {
    if (section == kSectionCells) {
        // Every paint is a full one into the back buffer; the queue only matters for partial ones.
        ctrl_->queue_all();
        ctrl_->paint_cells(dc, cells_->hasFocus() || ctrl_->has_focus());
        // The sizing line or drop marker of a heading drag, over the cells.
        for (const fw::Rc* m : {&ctrl_->top_heading().marker(), &ctrl_->side_heading().marker()})
            if (m->t >= 0) dc.fill_rect(*m, fw::Rgb{0, 0, 0});
    } else if (section == kGridPartTabs) {
        tabs_model_.paint(dc, {0, 0, size.width(), size.height()});
    } else {
        paint_heading(section, dc, size);
    }
}

GridHeadingPart& GridWidget::heading_part(int section) {
    if (section == kSectionTop) return ctrl_->top_heading();
    if (section == kSectionSide) return ctrl_->side_heading();
    return ctrl_->corner_button();
}

void GridWidget::paint_heading(int section, fw::DrawContext& dc, const QSize& size) {
    heading_part(section).paint(dc, {0, 0, size.width(), size.height()});
}

// --- input

void GridWidget::mouse(int section, QMouseEvent* e, int kind) {
    const fw::Pt p = point_of(e);
    const unsigned flags = mouse_flags_of(e);
    GridCtrl& g = *ctrl_;
    g.set_modifiers(e->modifiers() & Qt::ShiftModifier, e->modifiers() & Qt::ControlModifier);
    if (section == kGridPartTabs) {
        tabs_mouse(e, p, kind);
        return;
    }
    if (section != kSectionCells) {
        heading_mouse(section, e, p, flags, kind);
        return;
    }
    const bool left = e->button() == Qt::LeftButton, right = e->button() == Qt::RightButton;
    switch (kind) {
        case kPress:
            cells_->setFocus();
            if (left) g.left_down(p, flags);
            if (right) g.right_down(p, flags);
            break;
        case kRelease:
            if (left) {
                drag_timer_->stop();
                g.left_up(p);
            }
            if (right) g.right_up(p);
            break;
        case kDouble:
            if (left) g.double_click(p);
            break;
        case kMove: {
            const bool held = e->buttons() & Qt::LeftButton;
            g.mouse_move(p, flags, held);
            drag_point_ = p;
            std::string tip;
            if (g.sheet().cell_hints && !held && g.tool_hit_test(p, tip))
                cells_->setToolTip(to_qstring(tip));
            else if (!cells_->toolTip().isEmpty())
                cells_->setToolTip({});
            const bool outside = p.x < 0 || p.y < 0 || p.x >= cells_->width() || p.y >= cells_->height();
            // Outside the area the view keeps scrolling while the button is held and the pointer rests.
            if (held && outside && !drag_timer_->active()) {
                drag_timer_->start(std::max(1, g.sheet().drag_delay_ms), [this] {
                    if (ctrl_->drag_step(drag_point_) == 0) drag_timer_->stop();
                    after_input();
                });
            } else if (!held || !outside) {
                drag_timer_->stop();
            }
            break;
        }
        default: break;
    }
    after_input();
}

namespace {

// The widget holds the capture while the part says so and shows the pointer shape it asks for.
void forward_mouse(GridHeadingPart& part, QWidget& widget, QMouseEvent* e, fw::Pt p, unsigned flags, int kind,
                   int press, int release, int dbl) {
    const bool left = e->button() == Qt::LeftButton, right = e->button() == Qt::RightButton;
    if (kind == press) {
        if (left) part.left_down(p, flags);
        if (right) part.right_down(p, flags);
    } else if (kind == release) {
        if (left) part.left_up(p);
        if (right) part.right_up(p);
    } else if (kind == dbl) {
        if (left) part.double_click(p);
    } else {
        part.mouse_move(p, flags, e->buttons() & Qt::LeftButton);
    }
    if (part.captured())
        widget.grabMouse();
    else if (QWidget::mouseGrabber() == &widget)
        widget.releaseMouse();
    switch (part.cursor()) {
        case GridCursor::SizeWE: widget.setCursor(Qt::SizeHorCursor); break;
        case GridCursor::SizeNS: widget.setCursor(Qt::SizeVerCursor); break;
        default: widget.unsetCursor(); break;
    }
}

}  // namespace

void GridWidget::heading_mouse(int section, QMouseEvent* e, fw::Pt p, unsigned flags, int kind) {
    // A click on a heading leaves the keyboard with the cells.
    if (kind == kPress) cells_->setFocus();
    forward_mouse(heading_part(section), *part_widget(section), e, p, flags, kind, kPress, kRelease, kDouble);
    if (section == kSectionTop) {
        // A heading dragged beyond the area keeps the columns scrolling on a timer.
        GridTopHeading& top = ctrl_->top_heading();
        if (kind == kMove && top.scroll_period() > 0 && !drag_timer_->active()) {
            drag_timer_->start(top.scroll_period(), [this] {
                if (ctrl_->top_heading().drag_step() == 0) drag_timer_->stop();
                after_input();
            });
        } else if (kind == kRelease) {
            drag_timer_->stop();
        }
    }
    after_input();
}

// The tab bar: a press on the grip sizes the bar (the sheet keeps its width, the grid lays out
// again), a press elsewhere chooses a tab, the right button opens the menu for the tab.
void GridWidget::tabs_mouse(QMouseEvent* e, fw::Pt p, int kind) {
    const fw::Rc client{0, 0, tabs_->width(), tabs_->height()};
    if (kind == kPress && e->button() == Qt::LeftButton) {
        tabs_model_.mouse_move_hover(p.x, client);
        if (tabs_model_.press_grip()) {
            tabs_->grabMouse();
        } else if (const auto sheet = tabs_model_.choose_at(p.x, client)) {
            ctrl_->on_tab_selected(*sheet);
        }
    } else if (kind == kPress && e->button() == Qt::RightButton) {
        if (ctrl_->sheet().popup_menus) ctrl_->start_popup_menu(tabs_model_.tab_at(p.x), 0, p, kSectionTabs);
    } else if (kind == kRelease && e->button() == Qt::LeftButton && tabs_model_.sizing()) {
        tabs_model_.release();
        if (QWidget::mouseGrabber() == tabs_) tabs_->releaseMouse();
    } else if (kind == kMove) {
        if (const auto width = tabs_model_.mouse_move_sizing(p.x)) {
            ctrl_->sheet().tab_width = *width;
            refresh();
            return;
        }
        tabs_model_.mouse_move_hover(p.x, client);
    }
    if (tabs_model_.grip() || tabs_model_.sizing())
        tabs_->setCursor(Qt::SizeHorCursor);
    else
        tabs_->unsetCursor();
    after_input();
}

void GridWidget::on_tab_arrow(int action) {
    if (action == QAbstractSlider::SliderSingleStepSub || action == QAbstractSlider::SliderPageStepSub)
        tabs_model_.scroll_left();
    else if (action == QAbstractSlider::SliderSingleStepAdd || action == QAbstractSlider::SliderPageStepAdd)
        tabs_model_.scroll_right();
    // The bar is arrows only: its thumb stays in the middle so both arrows keep answering.
    const QSignalBlocker block(tab_arrows_);
    tab_arrows_->setSliderPosition(1);
    tabs_->update();
}

void GridWidget::key(QKeyEvent* e, bool down) {
    GridCtrl& g = *ctrl_;
    if (down && e->key() == Qt::Key_F1) {
        g.on_help(g.get_current_col(), g.get_current_row(), kSectionCells);
        return;
    }
    g.set_modifiers(e->modifiers() & Qt::ShiftModifier, e->modifiers() & Qt::ControlModifier);
    const int vk = virtual_key(e->key());
    if (!down) {
        if (vk && !e->isAutoRepeat()) g.key_up(vk);
        return;
    }
    if (vk) g.key_down(vk);
    const int ch = typed_char(e);
    if (ch && !(e->modifiers() & Qt::ControlModifier)) {
        g.char_typed(ch);
        // Typing into a cell starts its editor with the character.
        if (edit_on_typing_ && printable(ch) && !g.editing() && !drop_->isVisible() && g.get_current_col() >= 0 &&
            g.get_current_row() >= 0)
            g.start_edit(g.get_current_col(), g.get_current_row(), ch);
    }
    after_input();
}

void GridWidget::wheel_turned(int delta) {
    ctrl_->wheel(delta);
    after_input();
}

void GridWidget::focus_changed(bool in) {
    if (in)
        ctrl_->focus_in();
    else
        ctrl_->focus_out();
    cells_->update();
}

void GridWidget::editor_left(QWidget* to) {
    GridFocusTarget target = GridFocusTarget::Other;
    if (!to)
        target = GridFocusTarget::None;
    else if (to == cells_ || to == this)
        target = GridFocusTarget::Grid;
    else if (isAncestorOf(to))
        target = GridFocusTarget::GridChild;
    ctrl_->editor_focus_lost(target);
    after_input();
}

void GridWidget::open_drop_list(const std::vector<std::string>& entries, const fw::Rc& rect) {
    const QRect local = qrect(rect).translated(cells_->pos());
    drop_->open(ctrl_->drop_list_owner(), ctrl_->drop_list_type(), entries,
                QRect(mapToGlobal(local.topLeft()), local.size()));
}

// --- popup menu and help

QWidget* GridWidget::part_widget(int section) {
    switch (section) {
        case kSectionCells: return cells_;
        case kSectionTop: return top_;
        case kSectionSide: return side_;
        case kSectionCorner: return corner_;
        case kSectionHScroll: return hbar_;
        case kSectionVScroll: return vbar_;
        case kSectionTabs: return tabs_;
        default: return this;
    }
}

// Opened without waiting for the choice: the chosen entry comes back through the menu's signal.
bool GridWidget::show_menu(fw::Pt p) {
    if (menu_->isEmpty()) return false;
    menu_->popup(part_widget(ctrl_->menu_section())->mapToGlobal(QPoint(p.x, p.y)));
    return true;
}

// --- scroll bars

GridVScrollSheet GridWidget::vsheet() {
    const GridSettings& s = ctrl_->sheet();
    return {s.max_top_row,        s.vscroll_mode, s.locked_rows,  s.area_height,
            s.default_row_height, s.top_row,      s.vscroll_hints};
}

GridHScrollSheet GridWidget::hsheet() {
    const GridSettings& s = ctrl_->sheet();
    return {s.max_left_col,      s.locked_cols, s.area_width,   clamp32(s.locked_width, 0, INT32_MAX),
            s.default_col_width, s.left_col,    s.hscroll_mode, s.hscroll_hints};
}

void GridWidget::sync_scroll_bars() {
    if (vmodel_.update(vsheet(), !vbar_->isVisible()).changed) show_range(*vbar_, vmodel_.bar());
    if (hmodel_.update(hsheet(), !hbar_->isVisible()).changed) show_range(*hbar_, hmodel_.bar());
}

namespace {
GridScrollCode code_of(int action, bool& track) {
    track = false;
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd: return GridScrollCode::LineDown;
        case QAbstractSlider::SliderSingleStepSub: return GridScrollCode::LineUp;
        case QAbstractSlider::SliderPageStepAdd: return GridScrollCode::PageDown;
        case QAbstractSlider::SliderPageStepSub: return GridScrollCode::PageUp;
        case QAbstractSlider::SliderToMinimum: return GridScrollCode::Top;
        case QAbstractSlider::SliderToMaximum: return GridScrollCode::Bottom;
        case QAbstractSlider::SliderMove: track = true; return GridScrollCode::ThumbTrack;
        default: return GridScrollCode::EndScroll;
    }
}
}  // namespace

// Qt applies the action's position after this returns: a line or page step is answered by the
// grid's own step, and the bar is set to where the grid went.
void GridWidget::on_vscroll(int action) {
    bool track = false;
    GridScrollCode code = code_of(action, track);
    // A move without the thumb held (the bar's own wheel) lands at once.
    if (track && !vbar_->isSliderDown()) code = GridScrollCode::ThumbPosition;
    const QPoint pointer = mapFromGlobal(QCursor::pos());
    const GridComponents& parts = ctrl_->components();
    apply_scroll(vmodel_.on_scroll(code, vbar_->sliderPosition(), vsheet(), parts.vscroll, {pointer.x(), pointer.y()}),
                 true);
    sync_scroll_bars();
    if (!vbar_->isSliderDown()) vbar_->setSliderPosition(vmodel_.bar().pos);
    after_input();
}

void GridWidget::on_hscroll(int action) {
    bool track = false;
    GridScrollCode code = code_of(action, track);
    if (track && !hbar_->isSliderDown()) code = GridScrollCode::ThumbPosition;
    const QPoint pointer = mapFromGlobal(QCursor::pos());
    const GridComponents& parts = ctrl_->components();
    apply_scroll(hmodel_.on_scroll(code, hbar_->sliderPosition(), hsheet(), parts.hscroll, {pointer.x(), pointer.y()}),
                 false);
    sync_scroll_bars();
    if (!hbar_->isSliderDown()) hbar_->setSliderPosition(hmodel_.bar().pos);
    after_input();
}

void GridWidget::apply_scroll(const GridScrollAction& a, bool vertical) {
    GridCtrl& g = *ctrl_;
    g.sheet().last_input = kInputScrollBar;
    if (a.step >= 0) vertical ? g.scroll_rows(a.step) : g.scroll_cols(a.step);
    if (a.go_to) vertical ? g.set_top_row(*a.go_to) : g.set_left_col(*a.go_to);
    g.sheet().last_input = kInputKey;
    if (a.hide_hint) hint_->hide();
    if (a.hint) {
        std::string text;
        vertical ? ctrl_->get_vscroll_hint(vmodel_.tracked(), text) : ctrl_->get_hscroll_hint(hmodel_.tracked(), text);
        hint_->hint().set_text(std::move(text));
        hint_->hint().set_placement(a.hint->placement);
        hint_->show_at(*this, a.hint->x, a.hint->y, a.hint->min_width);
    }
}

}  // namespace tv
