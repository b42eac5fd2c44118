// The grid control's windows: a thin Qt layer over GridCtrl. GridWidget lays out one child per
// part where the core's components() puts it (cell area, top and side headings, corner, two Qt
// scroll bars, the sheet tab bar), forwards paint, mouse, keys, wheel, focus and size to the core
// and shows what the core asks for: a line edit as the plain or masked editor, a list popup for
// a drop-down, a tool window for hints, a timer for the drag's auto-scroll.
#pragma once
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QWidget>
#include <memory>

#include "framework/qt/timer.h"
#include "tolbex/timi/grid/grid_ctrl.h"
#include "tolbex/timi/grid/grid_drop_list.h"
#include "tolbex/timi/grid/grid_hint.h"
#include "tolbex/timi/grid/grid_scroll_bar.h"
#include "tolbex/timi/grid/grid_tab_bar.h"

class QScrollBar;

namespace tv {

class GridHeadingPart;
class GridWidget;

// The part code of the sheet tab bar (after the core's four sections and the two scroll bars).
inline constexpr int kGridPartTabs = kSectionTabs;

// The control for a GridWidget: the window requests of the core (drop list, popup menu) reach the
// widget. Applications derive their grids from it.
class GridWindowCtrl : public GridCtrl {
public:
    void show_drop_list(std::int32_t col, std::int32_t row, const std::vector<std::string>& entries, const fw::Rc& rect,
                        const fw::Font* font) override;
    // Shows the widget's popup menu at a point of the part the menu was opened on; false when the
    // menu has no entries.
    bool show_popup_menu(fw::Pt p) override;

private:
    friend class GridWidget;
    GridWidget* widget_ = nullptr;
};

// One part of the grid: paints and takes input through the owning GridWidget.
class GridPartWidget : public QWidget {
public:
    GridPartWidget(GridWidget& owner, int section);
    int section() const { return section_; }

protected:
    // What's-this help at a point goes to the control's help for this part.
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool focusNextPrevChild(bool) override { return false; }  // Tab is the grid's key

private:
    GridWidget& owner_;
    int section_;
    QImage buffer_;  // the cell area paints off screen, then in one copy
};

// A line edit as the in-place editor; with `masked` set its typing goes through the cell's mask.
class GridLineEditor : public QLineEdit, public GridEditor {
public:
    GridLineEditor(GridWidget& owner, bool masked);
    void set_text(const std::string& text) override;
    std::string text() const override;
    void set_mask(const std::string& mask) override;
    void set_font(const fw::Font* font) override;
    void place(int section, const fw::Rc& rect) override;
    void show() override { QLineEdit::show(); }
    void hide() override;
    void type_char(int ch) override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool focusNextPrevChild(bool) override { return false; }

private:
    GridWidget& owner_;
    bool masked_;
    bool hiding_ = false;
};

// The drop-down list: a popup list over GridDropList.
class GridDropListPopup : public QListWidget, public GridDropListHost {
public:
    explicit GridDropListPopup(GridWidget& owner);
    // `owner`: the opening cell type's record of the open cell; `type_index` its registered index.
    void open(GridOpenListCell* owner, int type_index, const std::vector<std::string>& entries, const QRect& global);
    GridDropList& model() { return list_; }

    void notify_chosen_index(int type_index, std::int32_t col, std::int32_t row, std::int32_t index) override;
    int notify_chosen_text(int type_index, std::int32_t col, std::int32_t row, std::string& text) override;
    void set_cell_text(std::int32_t col, std::int32_t row, const std::string& text) override;
    void focus_cell_area() override;
    void repaint_cell_area() override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void close_list();
    GridWidget& owner_;
    GridDropList list_;
};

// The hint: a tool window showing GridHint's one line.
class GridHintWindow : public QWidget {
public:
    GridHintWindow();
    GridHint& hint() { return hint_; }
    // Shows the hint at (x, y) of `over`, placed inside `over`'s rectangle as GridHint decides.
    void show_at(QWidget& over, std::int32_t x, std::int32_t y, std::int32_t min_width);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    GridHint hint_;
};

class GridWidget : public QWidget {
public:
    // Without a control the widget makes a plain one.
    explicit GridWidget(std::unique_ptr<GridWindowCtrl> ctrl = nullptr, QWidget* parent = nullptr);
    ~GridWidget() override;

    GridWindowCtrl& grid() { return *ctrl_; }
    GridPartWidget& cell_area() { return *cells_; }
    GridPartWidget& top_heading() { return *top_; }
    GridPartWidget& side_heading() { return *side_; }
    GridPartWidget& corner() { return *corner_; }
    QScrollBar& vscroll() { return *vbar_; }
    QScrollBar& hscroll() { return *hbar_; }
    GridLineEditor& plain_editor() { return *plain_; }
    GridLineEditor& masked_editor() { return *masked_; }
    GridDropListPopup& drop_list() { return *drop_; }
    GridHintWindow& hint_window() { return *hint_; }
    GridTabBar& tab_bar() { return tabs_model_; }
    QWidget& tab_part() { return *tabs_; }
    // The sheet tab bar's two scroll arrows (a bar of arrows only, at the tab bar's left end).
    QScrollBar& tab_arrows() { return *tab_arrows_; }
    // The popup menu of every part, empty at first: entries added with identifiers of 1000 or
    // more reach on_menu_command with the cell and the part it was opened on.
    QMenu& popup_menu() { return *menu_; }

    // A printable character typed on the cells opens the current cell's editor with it (on by
    // default; a read-only table turns it off and handles on_char itself).
    void set_edit_on_typing(bool on) { edit_on_typing_ = on; }

    // After changes made to the control from outside (counts, sizes, sources): lay out, bring
    // the scroll bars up to date and repaint.
    void refresh();

    // --- forwarding from the parts (one place per concern)
    void paint_section(int section, fw::DrawContext& dc, const QSize& size);
    void mouse(int section, QMouseEvent* e, int kind);
    void key(QKeyEvent* e, bool down);
    void wheel_turned(int delta);
    void focus_changed(bool in);
    void open_drop_list(const std::vector<std::string>& entries, const fw::Rc& rect);
    bool show_menu(fw::Pt p);
    void editor_left(QWidget* to);

protected:
    void resizeEvent(QResizeEvent*) override;
    // What's-this help on a scroll bar goes to the control's help for the bar.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // The heading and corner parts: drawn and hit through the cell types of their heading cells.
    GridHeadingPart& heading_part(int section);
    void paint_heading(int section, fw::DrawContext& dc, const QSize& size);
    void heading_mouse(int section, QMouseEvent* e, fw::Pt p, unsigned flags, int kind);
    void tabs_mouse(QMouseEvent* e, fw::Pt p, int kind);
    void on_tab_arrow(int action);
    QWidget* part_widget(int section);
    void after_input();
    void sync_scroll_bars();
    void on_vscroll(int action);
    void on_hscroll(int action);
    void apply_scroll(const GridScrollAction& a, bool vertical);
    GridVScrollSheet vsheet();
    GridHScrollSheet hsheet();

    std::unique_ptr<GridWindowCtrl> ctrl_;
    GridPartWidget *cells_, *top_, *side_, *corner_, *tabs_;
    QScrollBar *vbar_, *hbar_, *tab_arrows_;
    QMenu* menu_;
    GridLineEditor *plain_, *masked_;
    GridDropListPopup* drop_;
    GridHintWindow* hint_;
    GridVScrollModel vmodel_;
    GridHScrollModel hmodel_;
    GridTabBar tabs_model_;
    std::unique_ptr<fw::Timer> drag_timer_;
    fw::Pt drag_point_{};
    QImage measure_image_;
    std::unique_ptr<QPainter> measure_painter_;
    std::unique_ptr<fw::DrawContext> measure_;
    bool edit_on_typing_ = true;
};

}  // namespace tv
