// The grid's windows offscreen: what a grab shows, and the user's keys, typing, wheel and scroll
// bar reaching the core through the widgets.
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "framework/qt/tests/qt_test_app.h"
#include "framework/qt/tests/pictures.h"
#include "tolbex/timi/grid/ui/grid_widget.h"

namespace tv {
namespace {

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

using tv::testing_pictures::dark_pixels;

// 8 columns x 100 rows of "c,r" texts with headings "H<c>" and "R<r>" in a 400 x 236 window:
// a 344 x 200 cell area of 20-pixel rows.
struct GridWidgetTest : ::testing::Test {
    void SetUp() override {
        GridCtrl& g = widget.grid();
        g.set_num_cols(8);
        g.set_num_rows(100);
        for (std::int32_t c = 0; c < 8; ++c) g.set_cell_text(c, -1, "H" + std::to_string(c));
        for (std::int32_t r = 0; r < 100; ++r) {
            g.set_cell_text(-1, r, "R" + std::to_string(r));
            for (std::int32_t c = 0; c < 8; ++c) g.set_cell_text(c, r, std::to_string(c) + "," + std::to_string(r));
        }
        widget.resize(400, 236);
        widget.show();
        widget.activateWindow();
        widget.refresh();
        widget.setFocus();
        settle();
    }
    GridCtrl& grid() { return widget.grid(); }
    QWidget* focus() { return QApplication::focusWidget(); }
    // A key pressed and released where the focus is.
    void key(int qt_key, const QString& text = {}, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* to = focus() ? focus() : &widget.cell_area();
        QKeyEvent down(QEvent::KeyPress, qt_key, mods, text);
        QCoreApplication::sendEvent(to, &down);
        QKeyEvent up(QEvent::KeyRelease, qt_key, mods, text);
        QCoreApplication::sendEvent(focus() ? focus() : to, &up);
        settle();
    }
    void type(const std::string& text) {
        for (char ch : text) key(Qt::Key_A + (ch >= 'a' && ch <= 'z' ? ch - 'a' : 0), QString(QChar(ch)));
    }
    void wheel(int delta) {
        const QPointF at(10, 10);
        QWheelEvent e(at, widget.cell_area().mapToGlobal(at), {}, {0, delta}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&widget.cell_area(), &e);
        settle();
    }
    void mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QWidget& area = widget.cell_area();
        QMouseEvent e(type, at, area.mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&area, &e);
        settle();
    }
    QImage grab() { return widget.grab().toImage(); }
    // The cell's rectangle in the widget, inside its grid lines.
    QRect cell(std::int32_t col, std::int32_t row) {
        fw::Rc r{};
        EXPECT_EQ(grid().get_cell_rect(col, row, r), GRID_OK);
        return QRect(r.l + 2, r.t + 2, r.width() - 4, r.height() - 4).translated(widget.cell_area().pos());
    }
    // The top edge of the cursor's frame.
    QRect frame_top(std::int32_t col, std::int32_t row) {
        fw::Rc r{};
        EXPECT_EQ(grid().get_cell_rect(col, row, r), GRID_OK);
        return QRect(r.l, r.t, r.width() - 1, 1).translated(widget.cell_area().pos());
    }
    std::pair<int, int> cursor() { return {grid().get_current_col(), grid().get_current_row()}; }

    bool app_ = (fw::testing::qt_app(), true);
    fw::ManualTimers timers;
    GridWidget widget;
};

TEST_F(GridWidgetTest, GrabShowsHeadingsCellTextsAndTheCursorFrame) {
    grid().set_cell_text(3, 2, "");
    grid().set_cell_text(2, -1, "");
    grid().goto_cell(0, 0);
    widget.refresh();
    settle();
    ASSERT_EQ(focus(), &widget.cell_area());
    QImage image = grab();
    const QPoint top = widget.top_heading().pos(), side = widget.side_heading().pos();
    EXPECT_GT(dark_pixels(image, QRect(2, 2, 71, 16).translated(top)), 10) << "H0";
    EXPECT_EQ(dark_pixels(image, QRect(152, 2, 71, 16).translated(top)), 0) << "empty heading";
    EXPECT_GT(dark_pixels(image, QRect(2, 2, 36, 16).translated(side)), 5) << "R0";
    EXPECT_GT(dark_pixels(image, cell(0, 0)), 10);
    EXPECT_GT(dark_pixels(image, cell(1, 3)), 10);
    EXPECT_EQ(dark_pixels(image, cell(3, 2)), 0) << "empty cell";
    EXPECT_GT(dark_pixels(image, frame_top(0, 0)), 10) << "cursor frame";
    EXPECT_EQ(dark_pixels(image, frame_top(1, 0)), 0);

    key(Qt::Key_Right);
    image = grab();
    EXPECT_EQ(cursor(), std::make_pair(1, 0));
    EXPECT_GT(dark_pixels(image, frame_top(1, 0)), 10);
    EXPECT_EQ(dark_pixels(image, frame_top(0, 0)), 0);
}

TEST_F(GridWidgetTest, KeysMoveTheCursorAndScrollTheViewAndTheBar) {
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        int times;
        std::pair<int, int> cursor;
        int top_row;
    };
    const Case cases[] = {
        {Qt::Key_Down, Qt::NoModifier, 12, {0, 12}, 3},    {Qt::Key_Right, Qt::NoModifier, 2, {2, 12}, 3},
        {Qt::Key_Up, Qt::NoModifier, 10, {2, 2}, 2},       {Qt::Key_End, Qt::ControlModifier, 1, {2, 99}, 90},
        {Qt::Key_Home, Qt::ControlModifier, 1, {2, 0}, 0},
    };
    grid().goto_cell(0, 0);
    for (const Case& c : cases) {
        for (int i = 0; i < c.times; ++i) key(c.key, {}, c.mods);
        EXPECT_EQ(cursor(), c.cursor) << c.key;
        EXPECT_EQ(grid().get_top_row(), c.top_row) << c.key;
        EXPECT_EQ(widget.vscroll().value(), c.top_row) << c.key;
    }
}

TEST_F(GridWidgetTest, TypingOpensTheEditorAndEnterStoresTheText) {
    grid().goto_cell(1, 1);
    type("xyz");
    ASSERT_TRUE(grid().editing());
    EXPECT_TRUE(widget.plain_editor().isVisible());
    EXPECT_EQ(focus(), &widget.plain_editor());
    EXPECT_EQ(widget.plain_editor().text(), "xyz");

    key(Qt::Key_Return, "\r");
    EXPECT_EQ(grid().get_cell_text(1, 1), "xyz");
    // Enter goes on editing the cell below, and Escape leaves it as it was.
    EXPECT_EQ(cursor(), std::make_pair(1, 2));
    key(Qt::Key_Escape);
    EXPECT_FALSE(grid().editing());
    EXPECT_FALSE(widget.plain_editor().isVisible());
    EXPECT_EQ(grid().get_cell_text(1, 2), "1,2");
    EXPECT_EQ(focus(), &widget.cell_area());

    widget.set_edit_on_typing(false);
    type("q");
    EXPECT_FALSE(grid().editing());
}

TEST_F(GridWidgetTest, AMaskedCellRefusesALetter) {
    GridCell masked;
    masked.set_text("");
    masked.set_mask("00-00");
    grid().set_cell(2, 3, masked);
    grid().goto_cell(2, 3);
    key(Qt::Key_1, "1");
    ASSERT_TRUE(grid().editing());
    EXPECT_TRUE(widget.masked_editor().isVisible());
    EXPECT_EQ(focus(), &widget.masked_editor());
    type("a");
    EXPECT_EQ(widget.masked_editor().text(), "1");
    key(Qt::Key_2, "2");
    key(Qt::Key_3, "3");  // the literal comes by itself
    EXPECT_EQ(widget.masked_editor().text(), "12-3");
    key(Qt::Key_Tab, "\t");
    EXPECT_EQ(grid().get_cell_text(2, 3), "12-3");
}

TEST_F(GridWidgetTest, TheWheelScrollsThreeRowsANotch) {
    wheel(-120);
    EXPECT_EQ(grid().get_top_row(), 3);
    EXPECT_EQ(widget.vscroll().value(), 3);
    wheel(-240);
    EXPECT_EQ(grid().get_top_row(), 9);
    wheel(120);
    EXPECT_EQ(grid().get_top_row(), 6);
    EXPECT_EQ(widget.vscroll().value(), 6);
}

TEST_F(GridWidgetTest, TheScrollBarsDriveAndFollowTheView) {
    QScrollBar& v = widget.vscroll();
    EXPECT_TRUE(v.isVisible());
    EXPECT_EQ(v.maximum(), grid().sheet().max_top_row);
    v.triggerAction(QAbstractSlider::SliderPageStepAdd);
    settle();
    EXPECT_EQ(grid().get_top_row(), v.value());
    EXPECT_GT(v.value(), 0);
    v.triggerAction(QAbstractSlider::SliderSingleStepAdd);
    settle();
    EXPECT_EQ(grid().get_top_row(), v.value());

    grid().set_top_row(40);
    widget.refresh();
    EXPECT_EQ(v.value(), 40);

    QScrollBar& h = widget.hscroll();
    h.triggerAction(QAbstractSlider::SliderToMaximum);
    settle();
    EXPECT_EQ(grid().get_left_col(), grid().sheet().max_left_col);
    EXPECT_EQ(h.value(), grid().get_left_col());
}

TEST_F(GridWidgetTest, ADragHeldBelowTheCellsScrollsOnTheTimerUntilReleased) {
    mouse(QEvent::MouseButtonPress, {10, 190}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(cursor(), std::make_pair(0, 9)) << "the last whole row";
    mouse(QEvent::MouseMove, {10, 230}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(cursor(), std::make_pair(0, 10));
    EXPECT_EQ(grid().get_top_row(), 1);
    ASSERT_EQ(timers.count(), 1u);
    EXPECT_TRUE(timers.active(0));
    EXPECT_EQ(timers.interval(0), 200);
    // The pointer rests: each tick scrolls on.
    EXPECT_TRUE(timers.fire(0));
    settle();
    EXPECT_EQ(cursor(), std::make_pair(0, 11));
    EXPECT_EQ(grid().get_top_row(), 2);
    EXPECT_EQ(widget.vscroll().value(), 2);
    mouse(QEvent::MouseButtonRelease, {10, 230}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(timers.active(0));
}

TEST_F(GridWidgetTest, TheDropDownListChoosesIntoItsCell) {
    GridCell list;
    list.set_cell_type(kCellTypeDropList);
    list.set_label("low\nmid\nhigh\n");
    list.set_text("low");
    grid().set_cell(1, 1, list);
    grid().goto_cell(1, 1);
    key(Qt::Key_Return, "\r");
    GridDropListPopup& popup = widget.drop_list();
    ASSERT_TRUE(popup.isVisible());
    EXPECT_EQ(popup.count(), 3);
    // It opens below the cell.
    fw::Rc rect{};
    grid().get_cell_rect(1, 1, rect);
    EXPECT_EQ(popup.geometry().top(), widget.cell_area().mapToGlobal(QPoint(0, rect.b)).y());

    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(&popup, &down);
    QCoreApplication::sendEvent(&popup, &down);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QCoreApplication::sendEvent(&popup, &enter);
    settle();
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(grid().get_cell_text(1, 1), "mid");

    // Escape dismisses the list and leaves the cell as it is.
    key(Qt::Key_Return, "\r");
    ASSERT_TRUE(popup.isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&popup, &escape);
    settle();
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(grid().get_cell_text(1, 1), "mid");
}

TEST_F(GridWidgetTest, TheCornerAndTheHintWindowShowTheirTexts) {
    grid().set_cell_text(-1, -1, "#");
    widget.refresh();
    settle();
    const QImage image = grab();
    EXPECT_GT(dark_pixels(image, QRect(QPoint(2, 2), widget.corner().size() - QSize(4, 4))), 3);

    GridHintWindow& hint = widget.hint_window();
    hint.hint().set_text("Row 42");
    hint.show_at(widget, 100, 50, 40);
    settle();
    EXPECT_TRUE(hint.isVisible());
    EXPECT_GE(hint.width(), 40);
    const QImage box = hint.grab().toImage();
    EXPECT_EQ(box.pixel(1, 1), qRgb(0xFF, 0xFF, 0xE0)) << "pale yellow";
    EXPECT_GT(dark_pixels(box, box.rect()), 10);
    hint.hide();
}

struct HintingGrid : GridWindowCtrl {
    int get_vscroll_hint(std::int32_t row, std::string& text) override {
        text = "Row " + std::to_string(row);
        return 1;
    }
};

TEST(GridWidgetThumbTest, ADraggedThumbShowsTheControlsHintAndTheViewLandsOnRelease) {
    fw::testing::qt_app();
    GridWidget widget(std::make_unique<HintingGrid>());
    GridCtrl& grid = widget.grid();
    grid.set_num_cols(3);
    grid.set_num_rows(100);
    grid.sheet().vscroll_hints = true;
    widget.resize(300, 200);
    widget.show();
    widget.refresh();
    settle();
    QScrollBar& v = widget.vscroll();
    v.setSliderDown(true);
    v.setSliderPosition(30);
    settle();
    EXPECT_EQ(grid.get_top_row(), 0) << "the view waits for the release";
    EXPECT_TRUE(widget.hint_window().isVisible());
    EXPECT_EQ(widget.hint_window().hint().text(), "Row 30");
    v.setSliderDown(false);
    settle();
    EXPECT_EQ(grid.get_top_row(), 30);
    EXPECT_EQ(v.value(), 30);
    EXPECT_FALSE(widget.hint_window().isVisible());
}

// Records what reaches the control from the windows: cell-type notifications, menu commands,
// help, tab choices.
struct LoggingGrid : GridWindowCtrl {
    int on_cell_type_notify(int type, std::int32_t c, std::int32_t r, int msg, long) override {
        log.push_back("notify " + std::to_string(type) + " " + std::to_string(c) + "," + std::to_string(r) + " " +
                      std::to_string(msg));
        return 1;
    }
    void on_menu_command(std::int32_t c, std::int32_t r, int section, int id) override {
        log.push_back("menu " + std::to_string(c) + "," + std::to_string(r) + " " + std::to_string(section) + " " +
                      std::to_string(id));
    }
    int on_help(std::int32_t c, std::int32_t r, int section) override {
        log.push_back("help " + std::to_string(c) + "," + std::to_string(r) + " " + std::to_string(section));
        return 1;
    }
    void on_tab_selected(std::int32_t sheet) override { log.push_back("tab " + std::to_string(sheet)); }
    std::vector<std::string> log;
};

struct LoggingWidgetTest : ::testing::Test {
    void SetUp() override {
        grid.set_num_cols(4);
        grid.set_num_rows(10);
        widget.resize(400, 236);
        widget.show();
        widget.refresh();
        widget.cell_area().setFocus();
        settle();
    }
    void send(QWidget& to, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, at, to.mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&to, &e);
        settle();
    }
    void press_key(QWidget& to, int qt_key, const QString& text = {}) {
        QKeyEvent e(QEvent::KeyPress, qt_key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(&to, &e);
        settle();
    }
    bool app_ = (fw::testing::qt_app(), true);
    fw::ManualTimers timers;
    GridWidget widget{std::make_unique<LoggingGrid>()};
    LoggingGrid& grid = static_cast<LoggingGrid&>(widget.grid());
};

// An application's own drop-list type: the choice is reported with that type's index.
TEST_F(LoggingWidgetTest, ADropListReportsTheTypeThatOpenedIt) {
    GridDropListCellType mine;
    mine.set_grid(&grid);
    const int index = grid.cell_types().add_type(&mine, 0);
    mine.set_type_index(index);
    GridCell cell;
    cell.set_cell_type(index);
    cell.set_label("low\nhigh\n");
    grid.set_cell(1, 1, cell);
    grid.goto_cell(1, 1);
    press_key(widget.cell_area(), Qt::Key_Return, "\r");
    GridDropListPopup& popup = widget.drop_list();
    ASSERT_TRUE(popup.isVisible());
    press_key(popup, Qt::Key_Down);
    press_key(popup, Qt::Key_Return, "\r");
    EXPECT_FALSE(popup.isVisible());
    EXPECT_EQ(grid.get_cell_text(1, 1), "low");
    const std::string i = std::to_string(index);
    EXPECT_EQ(grid.log, (std::vector<std::string>{"notify " + i + " 1,1 100", "notify " + i + " 1,1 102",
                                                  "notify " + i + " 1,1 101"}));
    EXPECT_EQ(mine.open_col(), -1);
}

// An empty menu is not shown; F1 asks for help on the current cell, what's-this on the cell
// under the point.
TEST_F(LoggingWidgetTest, AnEmptyMenuAndHelpOnTheCurrentCell) {
    grid.sheet().popup_menus = true;
    EXPECT_EQ(grid.start_popup_menu(0, 0, {1, 1}, kSectionCells), 3);
    EXPECT_FALSE(widget.popup_menu().isVisible());
    grid.goto_cell(3, 4);
    press_key(widget.cell_area(), Qt::Key_F1);
    // What's-this on a part names the cell under the point.
    for (auto [part, at] : {std::pair<QWidget*, QPoint>{&widget.top_heading(), {80, 5}},
                            std::pair<QWidget*, QPoint>{&widget.side_heading(), {5, 25}},
                            std::pair<QWidget*, QPoint>{&widget.vscroll(), {3, 3}}}) {
        QHelpEvent help(QEvent::WhatsThis, at, part->mapToGlobal(at));
        QCoreApplication::sendEvent(part, &help);
    }
    EXPECT_EQ(grid.log, (std::vector<std::string>{"help 3,4 1", "help 1,-1 2", "help -1,1 3", "help 3,4 6"}));
}

// The popup menu opens on a right click with the cell and the part it was opened on; its command
// reaches the control.
TEST_F(LoggingWidgetTest, MenuCommandsNameTheCellAndThePart) {
    grid.sheet().popup_menus = true;
    QAction* action = widget.popup_menu().addAction("Mark");
    action->setData(1001);
    fw::Rc rect{};
    grid.get_cell_rect(2, 3, rect);
    send(widget.cell_area(), QEvent::MouseButtonPress, {rect.l + 5, rect.t + 5}, Qt::RightButton, Qt::RightButton);
    EXPECT_TRUE(widget.popup_menu().isVisible());
    action->trigger();
    widget.popup_menu().hide();
    send(widget.top_heading(), QEvent::MouseButtonPress, {80, 5}, Qt::RightButton, Qt::RightButton);
    action->trigger();
    widget.popup_menu().hide();
    std::vector<std::string> menus;
    for (const std::string& l : grid.log)
        if (l.rfind("menu", 0) == 0) menus.push_back(l);
    EXPECT_EQ(menus, (std::vector<std::string>{"menu 2,3 1 1001", "menu 1,-1 2 1001"}));
}

// The sheet tab bar: its arrows step the tabs by 5 pixels, never below 0; a click chooses a tab;
// the grip at its right edge sizes the bar, never below 40 pixels.
TEST_F(LoggingWidgetTest, TheTabBarsArrowsTabsAndGrip) {
    grid.set_num_cols(8);  // the columns do not fit: the bar keeps its own width
    grid.sheet().tab_width = 160;
    for (int i = 0; i < 3; ++i) widget.tab_bar().add_tab({"Sheet" + std::to_string(i), 100, 10 + i});
    widget.refresh();
    settle();
    QWidget& tabs = widget.tab_part();
    ASSERT_TRUE(tabs.isVisible());
    EXPECT_EQ(tabs.width(), 160);
    QScrollBar& arrows = widget.tab_arrows();
    EXPECT_EQ(arrows.geometry().right() + 1, widget.tab_bar().area_left());
    EXPECT_TRUE(arrows.isVisible());
    const QImage image = widget.grab().toImage();
    const QRect label(widget.tab_bar().area_left() + 10, 1, 60, tabs.height() - 2);
    EXPECT_GT(dark_pixels(image, label.translated(tabs.pos())), 10) << "the first tab's label";

    arrows.triggerAction(QAbstractSlider::SliderSingleStepAdd);
    arrows.triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(widget.tab_bar().offset(), 10);
    arrows.triggerAction(QAbstractSlider::SliderSingleStepSub);
    arrows.triggerAction(QAbstractSlider::SliderSingleStepSub);
    arrows.triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(widget.tab_bar().offset(), 0);

    const int second = widget.tab_bar().area_left() + 110;
    send(tabs, QEvent::MouseButtonPress, {second, 5}, Qt::LeftButton, Qt::LeftButton);
    send(tabs, QEvent::MouseButtonRelease, {second, 5}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(grid.log, std::vector<std::string>{"tab 11"});
    EXPECT_EQ(widget.tab_bar().current(), 1u);

    send(tabs, QEvent::MouseMove, {157, 5}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(tabs.cursor().shape(), Qt::SizeHorCursor);
    send(tabs, QEvent::MouseButtonPress, {157, 5}, Qt::LeftButton, Qt::LeftButton);
    send(tabs, QEvent::MouseMove, {200, 5}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(grid.sheet().tab_width, 200);
    EXPECT_EQ(tabs.width(), 200);
    send(tabs, QEvent::MouseMove, {10, 5}, Qt::NoButton, Qt::LeftButton);
    send(tabs, QEvent::MouseButtonRelease, {10, 5}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(grid.sheet().tab_width, 40);
    EXPECT_EQ(tabs.width(), 40);
    EXPECT_EQ(grid.log.size(), 1u) << "sizing chooses no tab";
}

}  // namespace
}  // namespace tv
