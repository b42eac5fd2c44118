// The report view's zoom, scrolling and annotation-dialog rules, without a window.
#include <gtest/gtest.h>

#include "tolbex/reports/ui/report_view.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/reports/report_page.h"

namespace tv::gui {
namespace {

TEST(ReportViewGeometry, ZoomStepsAndLimits) {
    EXPECT_EQ(zoom_step(24), 1);
    EXPECT_EQ(zoom_step(99), 5);
    EXPECT_EQ(zoom_step(249), 10);
    EXPECT_EQ(zoom_step(250), 20);
    ReportViewGeometry g;
    EXPECT_FALSE(g.set_zoom(100));
    EXPECT_TRUE(g.set_zoom(500));
    EXPECT_EQ(g.zoom(), 400);
    EXPECT_TRUE(g.set_zoom(3));
    EXPECT_EQ(g.zoom(), 25);
    EXPECT_EQ(g.viewport_width(), 200);
    EXPECT_EQ(g.viewport_height(), 282);
}

TEST(ReportViewGeometry, ScrollingStopsAboveTheLastPageEnd) {
    ReportViewGeometry g;
    g.set_page_count(3);
    g.set_client_size(800, 1131);  // one page high at 100 %
    EXPECT_EQ(g.client_logical_height(), kPageBoxHeight);
    EXPECT_EQ(g.vertical_range(), 3 * kPageBoxHeight / 256);
    ASSERT_TRUE(g.scroll_vertical(ReportViewGeometry::Code::Bottom));
    // The last page ends a twentieth of a window above the lower edge.
    EXPECT_EQ(g.vpos(), 104 - 34 * 19 / 20);
    EXPECT_FALSE(g.scroll_vertical(ReportViewGeometry::Code::PageDown));
    ASSERT_TRUE(g.scroll_vertical(ReportViewGeometry::Code::Top));
    EXPECT_TRUE(g.scroll_vertical(ReportViewGeometry::Code::LineDown));
    EXPECT_EQ(g.vpos(), 34 / 16);
    // The page fits across: no horizontal scrolling.
    EXPECT_FALSE(g.scroll_horizontal(ReportViewGeometry::HCode::RightEnd));
    g.set_zoom(200);
    EXPECT_TRUE(g.scroll_horizontal(ReportViewGeometry::HCode::RightEnd));
    EXPECT_EQ(g.hpos(), kPageBoxWidth - kPageBoxWidth * 800 / 1600);
}

TEST(ReportViewGeometry, ClientPointsMapToPages) {
    ReportViewGeometry g;
    g.set_page_count(2);
    g.set_client_size(800, 600);
    ReportViewGeometry::PagePoint p = g.client_to_page(400, 1131 + 10);
    EXPECT_EQ(p.page, 1);
    EXPECT_EQ(p.x, 400 * kPageBoxWidth / 800);
    EXPECT_EQ(p.y, (1131 + 10) * kPageBoxHeight / 1131 - kPageBoxHeight);
    ASSERT_TRUE(g.scroll_to(0, 40));
    EXPECT_EQ(g.first_visible_page(), 40 * 256 / kPageBoxHeight);
    EXPECT_EQ(g.window_origin_y(0), 40 * 256 % kPageBoxHeight);
    EXPECT_EQ(g.window_origin_y(1), 40 * 256 % kPageBoxHeight - kPageBoxHeight);
}

TEST(AnnotationDialog, PrefixAndSizeIndex) {
    AnnotationDialogState s = annotation_dialog_open("\x1b\x01Title", 1);
    EXPECT_EQ(s.text, "Title");
    EXPECT_EQ(s.size_index, 3);                 // Large
    s = annotation_dialog_open("\x1b\x02", 1);  // only a prefix: no raw ESC shown
    EXPECT_EQ(s.text, "");
    EXPECT_EQ(s.size_index, 0);  // Tiny
    s = annotation_dialog_open("plain", 2);
    EXPECT_EQ(s.text, "plain");
    EXPECT_EQ(s.size_index, 2);
    EXPECT_EQ(annotation_dialog_result("x", 0), "\x1b\x02x");
    EXPECT_EQ(annotation_dialog_result("x", 1), "x");
    EXPECT_EQ(annotation_dialog_result("x", 2), "\x1b\x03x");
    EXPECT_EQ(annotation_dialog_result("x", 3), "\x1b\x01x");
    // The editor's lines end in LF; pages keep CR LF, cut to one record without half a line end.
    EXPECT_EQ(annotation_dialog_result("one\ntwo\r\nthree\n", 1), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(annotation_dialog_open("\x1b\x03one\r\ntwo", 1).text, "one\ntwo");
    const std::string full = annotation_dialog_result("a" + std::string(2047, '\n'), 0);
    EXPECT_EQ(full.size(), kMaxPagePayload - 13);
    EXPECT_EQ(full.substr(full.size() - 2), "\r\n");
}

}  // namespace
}  // namespace tv::gui
