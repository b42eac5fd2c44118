#include <gtest/gtest.h>

#include <limits>

#include "framework/core/recording_draw_context.h"
#include "tolbex/timi/grid/grid_hint.h"

namespace tv {
namespace {

// The recording context's default font: 6 px a character, 12 px high.
TEST(GridHint, Placement) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const fw::Rc client{0, 0, 400, 300};
    struct Case {
        unsigned placement;
        std::int32_t x, y, min_width;
        fw::Rc expected;
    };
    const Case cases[] = {
        {1, 100, 50, 0, {100, 50, 140, 62}},     // text 36 + 4
        {0x22, 100, 50, 40, {60, 44, 100, 56}},  // ends at x, centred on y (the vertical bar)
        {0x14, 100, 50, 20, {80, 38, 120, 50}},  // centred on x, ends at y (the horizontal bar)
        {1, 100, 50, 90, {100, 50, 190, 62}},    // the minimum width wins over a short text
        {1, -30, -5, 0, {0, 0, 40, 12}},         // starts at the left and top edges
        {0x22, 10, 50, 40, {0, 44, 40, 56}},
        {1, 390, 295, 0, {360, 288, 400, 300}},  // kept inside the right and bottom edges
        {1, kMax, kMax, 0, {360, 288, 400, 300}},
        {1, 0, 0, kMax, {400 - kMax, 0, 400, 12}},  // no overflow with a hostile width
    };
    for (const Case& c : cases) {
        fw::RecordingDrawContext dc;
        GridHint hint;
        hint.set_text("Row 12");
        EXPECT_EQ(hint.set_placement(c.placement), 0);
        const fw::Rc r = hint.place(dc, c.x, c.y, c.min_width, client);
        EXPECT_EQ(r, c.expected) << c.placement << " " << c.x << "," << c.y << " -> " << r.l << "," << r.t << "," << r.r
                                 << "," << r.b;
    }
}

TEST(GridHint, PaintsCentredTextOnPaleYellow) {
    fw::RecordingDrawContext dc;
    GridHint hint;
    hint.set_text("Row 12");
    hint.paint(dc, {0, 0, 60, 20});
    EXPECT_EQ(dc.joined(), "fillrect (0,0,60,20) #ffffe0\ntextcolour #000000\ntext (12,4) \"Row 12\"");

    dc.clear();
    fw::Font big;
    big.em_height = 20;
    hint.set_font(big);
    hint.set_colours(0x0000FF, 0x00FF00);
    hint.paint(dc, {10, 10, 50, 30});
    EXPECT_EQ(dc.joined(),
              "fillrect (10,10,50,30) #00ff00\nfont Arial/20/400\ntextcolour #ff0000\ntext (0,10) \"Row 12\"");
}

}  // namespace
}  // namespace tv
