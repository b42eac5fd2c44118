// The metafile player against hostile metafiles.
#include <gtest/gtest.h>

#include <climits>

#include "framework/core/recording_draw_context.h"
#include "platform/fs.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tools/demo/emf_writer.h"

namespace {

using namespace tv;

// A font record claiming a height near the 32-bit limit, then text in it: the height reached
// the draw context unbounded and overflowed its text metrics.
TEST(MetafileHostile, HugeFontHeightIsBounded) {
    for (int height : {2000000000, -2000000000, INT_MIN + 1}) {
        EmfWriter w({1000, 2000});
        w.font(height);
        w.text({10, 1000}, "X");
        const auto emf = EmfFile::parse(w.finish());
        ASSERT_TRUE(emf);
        fw::RecordingDrawContext dc({1000, 2000});
        play_metafile(dc, *emf, {0, 0, 100000, 200000});
        bool saw_font = false;
        for (const std::string& c : dc.commands()) {
            if (c.rfind("font Arial/", 0) != 0) continue;
            saw_font = true;
            const long em = std::stol(c.substr(11));
            EXPECT_GE(em, 1) << c;
            EXPECT_LE(em, 65536) << c;
        }
        EXPECT_TRUE(saw_font) << height;
    }
}

// Text placed at the far end of the 32-bit range: the next line's position overflowed.
TEST(MetafileHostile, FarPositionsStayInRange) {
    EmfWriter w({1000, 2000});
    w.font(100);
    w.text({2000000000, 2000000000}, "line one\nline two");
    w.polyline({{-2000000000, -2000000000}, {2000000000, 2000000000}});
    const auto emf = EmfFile::parse(w.finish());
    ASSERT_TRUE(emf);
    fw::RecordingDrawContext dc({1000, 2000});
    play_metafile(dc, *emf, {0, 0, 100000, 200000});
    EXPECT_FALSE(dc.commands().empty());
}

TEST(MetafileHostile, ExtremeExtentsAndFrameDoNotOverflow) {
    // A fuzzer's file: window and viewport extents and a frame whose products pass 64 bits.
    const auto bytes = platform::read_whole_file(tv::testing::test_data_path(__FILE__, "metafile_extent_overflow.emf"));
    ASSERT_TRUE(bytes);
    const auto emf = EmfFile::parse(*bytes);
    ASSERT_TRUE(emf);
    fw::RecordingDrawContext dc;
    dc.set_map_mode(fw::MapMode::Anisotropic);
    dc.set_window_ext({2100, 2970});
    dc.set_viewport_ext({2496, 3520});
    play_metafile(dc, *emf, fw::Rc{0, 0, 2100, 2970});
}

}  // namespace
