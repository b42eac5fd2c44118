#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <functional>
#include <QPushButton>

#include <gtest/gtest.h>

#include "framework/qt/painter_draw_context.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/qt_ui.h"
#include "framework/core/recording_draw_context.h"
#include "framework/qt/tests/qt_test_app.h"
#include "framework/qt/timer.h"
#include "framework/qt/tooltip.h"
#include "framework/qt/wait_cursor.h"

namespace tv::fw {
namespace {

TEST(Mapping, AnisotropicRoundsHalfAwayFromZeroIn64Bits) {
    RecordingDrawContext dc;
    dc.set_map_mode(MapMode::Anisotropic);
    dc.set_window_ext({6261, 8957});
    dc.set_viewport_ext({800, 1131});
    EXPECT_EQ((Pt{0, 0}), dc.to_device({0, 0}));
    EXPECT_EQ((Pt{800, 1131}), dc.to_device({6261, 8957}));
    EXPECT_EQ((Pt{-128, 0}), dc.to_device({-1000, 0}));  // -127.776 -> -128
    dc.set_window_ext({2, 2});
    dc.set_viewport_ext({1, 1});
    EXPECT_EQ((Pt{2, -2}), dc.to_device({3, -3}));  // 1.5 -> 2, -1.5 -> -2
    dc.set_window_ext({1, 1});
    dc.set_viewport_ext({100000, 100000});
    EXPECT_EQ((Pt{INT32_MAX, INT32_MIN}), dc.to_device({2000000, -2000000}));  // clamped, not wrapped
    dc.set_map_mode(MapMode::Text);
    dc.set_window_org({10, 20});
    dc.set_viewport_org({1, 2});
    EXPECT_EQ((Pt{-9, -18}), dc.to_device({0, 0}));
    EXPECT_EQ((Pt{0, 0}), dc.to_logical({-9, -18}));
}

TEST(RecordingContext, GoldenCommandList) {
    RecordingDrawContext dc({2496, 3520}, {300, 300});
    dc.set_map_mode(MapMode::Anisotropic);
    dc.set_window_ext({6261, 8957});
    dc.set_viewport_ext({2496, 3520});
    dc.set_pen(PenStyle::Solid, {0, 0, 0});
    dc.set_fill(FillStyle::HatchFDiagonal);
    dc.clip_device({0, 0, 2496, 3520});
    dc.line({100, 100}, {6161, 100});
    dc.polyline({{0, 0}, {100, 50}, {200, 0}});
    dc.rect({100, 200, 3000, 1000});
    dc.fill_rect({0, 0, 10, 10}, {192, 192, 192});
    dc.pixel({6261, 8957}, {255, 0, 0});
    dc.set_font({"Times New Roman", 102, 400, false});
    dc.set_text_colour({0, 0, 0});
    Sz used = dc.text({100, 200, 8292, 1224}, "Patient Name :\nSecond", {});
    dc.clear_clip();
    Bitmap bmp{2, 2, 24, std::vector<std::uint8_t>(12, 0), {}};
    dc.blit(bmp, {0, 0, 100, 100});
    EXPECT_EQ((Sz{14 * 51, 2 * 102}), used);
    EXPECT_EQ(
        "pen solid #000000 w1\n"
        "fill hatch #000000\n"
        "clip (0,0,2496,3520)\n"
        "line (40,39)-(2456,39)\n"
        "polyline (0,0)(40,20)(80,0)\n"
        "rect (40,79,1196,393)\n"
        "fillrect (0,0,4,4) #c0c0c0\n"
        "pixel (2496,3520) #ff0000\n"
        "font Times New Roman/102/400\n"
        "textcolour #000000\n"
        "text (40,79) \"Patient Name :\"\n"
        "text (40,119) \"Second\"\n"
        "clip none\n"
        "blit 2x2x24 (0,0,40,39)",
        dc.joined());
}

TEST(RecordingContext, FixedMetricsWordWrapTabsAndLineHeight) {
    RecordingDrawContext dc;
    dc.set_font({"Arial", 16});
    TextMetrics m = dc.metrics();
    EXPECT_EQ(16, m.height);
    EXPECT_EQ(8, m.avg_char_width);
    EXPECT_EQ(2, m.external_leading);
    EXPECT_EQ(18, get_text_line_height(dc));
    TextOpts wrap;
    wrap.word_wrap = true;
    wrap.calc_only = true;
    // 10 characters fit in 80 units: "aaa bbb" (7) then "ccc ddddd" would be 9... fits; "eeeeeeeeeeee" alone.
    Sz s = dc.text({0, 0, 80, 0}, "aaa bbb ccc dddd eeeeeeeeeeee", wrap);
    EXPECT_EQ(3 * 16, s.cy);
    EXPECT_EQ(12 * 8, s.cx);                 // an over-long word stands alone on its line
    EXPECT_TRUE(dc.commands().size() == 1);  // calc_only draws nothing
    TextOpts tabs;
    tabs.expand_tabs = true;
    tabs.tab_chars = 4;
    tabs.calc_only = true;
    EXPECT_EQ(32 + 16, dc.text({0, 0, 1000, 0}, "a\tbb", tabs).cx);  // stop at 4 * 8
    auto lines = layout_text("x\r\ny\n", {}, 0, 8, [](std::string_view t) { return static_cast<int>(t.size()); });
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("x", lines[0].text);
    EXPECT_EQ("", lines[2].text);
}

TEST(PainterContext, DrawsIntoAnImageWhereTold) {
    testing::qt_app();
    QImage img(200, 100, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        PainterDrawContext dc(p, DrawContext::Kind::Bitmap);
        EXPECT_EQ((Sz{200, 100}), dc.device_size());
        dc.set_map_mode(MapMode::Anisotropic);
        dc.set_window_ext({2000, 1000});
        dc.set_viewport_ext({200, 100});
        dc.set_pen(PenStyle::Solid, {0, 0, 0});
        dc.line({100, 500}, {1900, 500});  // device (10,50)-(190,50)
        dc.fill_rect({0, 0, 50, 50}, {255, 0, 0});
        dc.pixel_device({150, 80}, {0, 0, 255});
        dc.clip_device({0, 0, 100, 100});
        dc.line({0, 800}, {2000, 800});  // clipped at device x 100
        dc.clear_clip();
        dc.set_font({"DejaVu Sans", 200});
        dc.text({1000, 0, 2000, 400}, "Hi", {});
        EXPECT_GT(dc.metrics().height, 0);
    }
    EXPECT_EQ(qRgb(0, 0, 0), img.pixel(10, 50));
    EXPECT_EQ(qRgb(0, 0, 0), img.pixel(100, 50));
    EXPECT_EQ(qRgb(0, 0, 0), img.pixel(189, 50));
    EXPECT_EQ(qRgb(255, 255, 255), img.pixel(100, 49));
    EXPECT_EQ(qRgb(255, 255, 255), img.pixel(100, 51));
    EXPECT_EQ(qRgb(255, 0, 0), img.pixel(2, 2));
    EXPECT_EQ(qRgb(255, 255, 255), img.pixel(5, 5));  // fills leave out the right/bottom edge
    EXPECT_EQ(qRgb(0, 0, 255), img.pixel(150, 80));
    EXPECT_EQ(qRgb(0, 0, 0), img.pixel(50, 80));
    EXPECT_EQ(qRgb(255, 255, 255), img.pixel(150, 80 - 1));
    EXPECT_EQ(qRgb(255, 255, 255), img.pixel(120, 80));  // outside the clip
    int dark = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 100; x < 200; ++x) dark += qGray(img.pixel(x, y)) < 128;
    EXPECT_GT(dark, 5);  // the text left ink in its box
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The content of a one-page PDF drawn by `draw`, its streams inflated.
std::string pdf_page_content(const std::function<void(PainterDrawContext&)>& draw) {
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        QPainter p(&writer);
        PainterDrawContext dc(p, DrawContext::Kind::Printer);
        draw(dc);
    }
    const QByteArray bytes = pdf.data();
    std::string content;
    for (qsizetype at = bytes.indexOf("stream\n"); at >= 0; at = bytes.indexOf("stream\n", at + 1)) {
        const qsizetype begin = at + 7, end = bytes.indexOf("endstream", begin);
        if (end < 0 || (at > 3 && bytes.mid(at - 3, 3) == "end")) continue;
        // qUncompress wants the expected size in front; a generous guess is enough.
        QByteArray z("\x00\x10\x00\x00", 4);
        z += bytes.mid(begin, end - begin);
        content += qUncompress(z).toStdString();
    }
    return content;
}

// Draws dots, a clip, then a polygon with the pen and brush set before the dots: the batch must
// leave the picture of one call per dot and the state the next primitive expects.
void draw_dots(PainterDrawContext& dc, bool batched) {
    std::vector<Pt> dots;
    for (int i = -3; i < 120; i += 3) dots.push_back({i, (i * 7) % 53});
    dc.set_pen(PenStyle::Solid, {0, 0, 255});
    dc.set_fill(FillStyle::Solid, {0, 255, 0});
    dc.clip_device({10, 0, 90, 40});
    if (batched) {
        dc.pixels_device(dots, {255, 0, 0});
    } else {
        for (Pt p : dots) dc.pixel_device(p, {255, 0, 0});
    }
    dc.clear_clip();
    dc.polygon({{20, 45}, {60, 45}, {40, 58}});
}

TEST(PainterContext, BatchedPixelsAreThePixelsOneByOneAndOneFillInAPdf) {
    testing::qt_app();
    auto picture = [](bool batched) {
        QImage img(100, 60, QImage::Format_RGB32);
        img.fill(Qt::white);
        {
            QPainter p(&img);
            PainterDrawContext dc(p, DrawContext::Kind::Bitmap);
            draw_dots(dc, batched);
        }
        return img;
    };
    const QImage batched = picture(true);
    EXPECT_EQ(batched, picture(false));
    EXPECT_EQ(qRgb(255, 0, 0), batched.pixel(12, 31));     // (12, 84 % 53)
    EXPECT_EQ(qRgb(255, 255, 255), batched.pixel(9, 10));  // (9, 63 % 53), outside the clip
    EXPECT_EQ(qRgb(0, 255, 0), batched.pixel(40, 50));

    // On a PDF page the batch is one path of 41 rectangles, filled once.
    const std::string page = pdf_page_content([](PainterDrawContext& dc) { draw_dots(dc, true); });
    EXPECT_EQ(count_of(page, " 1 1 re"), 41u) << page;
    EXPECT_EQ(count_of(page, "\nf\n"), 1u) << page;  // the polygon is filled and stroked: B*
}

TEST(QtText, Windows1252RoundTrip) {
    const std::string text = "M\xfcller \x80 5\xb0";
    QString q = to_qstring(text);
    EXPECT_EQ(QString::fromUtf8("Müller € 5°"), q);
    EXPECT_EQ(text, from_qstring(q));
    EXPECT_EQ("?", from_qstring(QString::fromUtf8("\xe4\xb8\xad")));
}

TEST(QtUi, AnswersThroughTheScriptedHook) {
    testing::qt_app();
    QtUi qui;
    QString seen_text, seen_title;
    QMessageBox::StandardButtons seen_buttons;
    qui.set_hook([&](QMessageBox& box) {
        seen_text = box.text();
        seen_title = box.windowTitle();
        seen_buttons = box.standardButtons();
        return QMessageBox::No;
    });
    EXPECT_EQ(MsgResult::No,
              qui.message_box("Delete M\xfcller?", "Archive", MsgIcon::Question, MsgButtons::YesNoCancel));
    EXPECT_EQ(QString::fromUtf8("Delete Müller?"), seen_text);
    EXPECT_EQ("Archive", seen_title);
    EXPECT_EQ(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, seen_buttons);
    // Closing the box without a button gives the safe answer.
    qui.set_hook([](QMessageBox&) { return QMessageBox::NoButton; });
    EXPECT_EQ(MsgResult::No, qui.message_box("?", "", MsgIcon::None, MsgButtons::YesNo));
    EXPECT_EQ(MsgResult::Cancel, qui.message_box("?", "", MsgIcon::None, MsgButtons::RetryCancel));
}

TEST(QtUi, MakesTheNamedButtonTheDefault) {
    testing::qt_app();
    struct Case {
        MsgButtons buttons;
        MsgDefault def;
        QMessageBox::StandardButton expected;
    };
    const Case cases[] = {
        {MsgButtons::YesNo, MsgDefault::First, QMessageBox::Yes},
        {MsgButtons::YesNo, MsgDefault::Second, QMessageBox::No},
        {MsgButtons::YesNoCancel, MsgDefault::Third, QMessageBox::Cancel},
        {MsgButtons::OkCancel, MsgDefault::Second, QMessageBox::Cancel},
        {MsgButtons::Ok, MsgDefault::Second, QMessageBox::Ok},  // a place the set lacks
    };
    QtUi qui;
    for (const Case& c : cases) {
        QMessageBox::StandardButton seen = QMessageBox::NoButton;
        qui.set_hook([&](QMessageBox& box) {
            if (QPushButton* b = box.defaultButton()) seen = box.standardButton(b);
            return QMessageBox::NoButton;
        });
        qui.message_box("Delete?", "", MsgIcon::Question, c.buttons, c.def);
        EXPECT_EQ(seen, c.expected) << int(c.buttons) << " " << int(c.def);
    }
    // Without a named default, the first button is it, as the other questions always had.
    QMessageBox::StandardButton seen = QMessageBox::NoButton;
    qui.set_hook([&](QMessageBox& box) {
        if (QPushButton* b = box.defaultButton()) seen = box.standardButton(b);
        return QMessageBox::NoButton;
    });
    qui.message_box("Delete?", "", MsgIcon::Question, MsgButtons::YesNo);
    EXPECT_EQ(seen, QMessageBox::Yes);
}

TEST(Timers, ManualTimersTickOnlyWhenTold) {
    ManualTimers timers;
    int ticks = 0;
    auto t = make_timer();
    t->start(60000, [&] { ++ticks; });
    ASSERT_EQ(1u, timers.count());
    EXPECT_EQ(60000, timers.interval(0));
    EXPECT_EQ(1, timers.fire_interval(60000));
    EXPECT_EQ(0, timers.fire_interval(1000));
    EXPECT_EQ(1, ticks);
    t->stop();
    EXPECT_FALSE(timers.fire(0));
    t.reset();
    EXPECT_FALSE(timers.active(0));
}

TEST(WaitTip, CentredOnTheWindowWithTheWaitCursorAndFontRule) {
    testing::qt_app();
    ManualTimers timers;  // no polling in the test
    QWidget w;
    w.resize(400, 300);
    w.show();
    {
        WaitTip tip("Please wait", &w, 12);
        EXPECT_EQ(1, wait_cursor_depth());
        EXPECT_EQ(QPoint(200, 150), tip.imp()->point());
        EXPECT_EQ(ToolTipImp::Centered, tip.imp()->placement());
        EXPECT_EQ(0, tip.imp()->auto_hide_time());
        EXPECT_TRUE(tip.imp()->tip_visible());
        EXPECT_EQ("MS Sans Serif", tip.imp()->tip_font().family());
        tip.imp()->set_text("");
        EXPECT_FALSE(tip.imp()->tip_visible());
    }
    EXPECT_EQ(0, wait_cursor_depth());
    ToolTip t;
    t.create(&w, 0, 16);
    EXPECT_EQ("Arial", t.imp()->tip_font().family());
    EXPECT_EQ(250, t.imp()->poll_interval());
    t.imp()->set_delay(100);
    EXPECT_EQ(100, t.imp()->poll_interval());
    t.imp()->set_delay(10000);
    EXPECT_EQ(1000, t.imp()->poll_interval());
    // Kept inside the limits: past the right edge moves left to end 4 inside.
    t.imp()->set_text("A rather long text");
    t.imp()->set_point(QPoint(390, 10));
    QRect box = t.imp()->tip_box(QRect(4, 4, 392, 292));
    EXPECT_EQ(395, box.right());
}

}  // namespace
}  // namespace tv::fw
