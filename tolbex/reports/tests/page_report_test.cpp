#include <gtest/gtest.h>

#include "common/bytes.h"
#include "framework/core/recording_draw_context.h"
#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/report_page.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tools/demo/emf_writer.h"

namespace tv {
namespace {

using testing::emf_list;
using testing::words;

std::vector<std::string> texts_of(const CReportPage& page) {
    std::vector<std::string> out;
    for (const auto& item : page.items())
        if (auto t = item->text()) out.push_back(std::to_string(t->x) + "," + std::to_string(t->y) + " " + t->text);
    return out;
}

TEST(BuiltInPage, FrameHeaderAndLogoPositions) {
    auto page = CReportPage::make_builtin("/r");
    page->add_header_texts("Ann Smith", "123", 4);
    ASSERT_EQ(page->item_count(), 10u);
    const auto& outer = std::get<PolylineData>(page->items()[0]->data()).points;
    ASSERT_EQ(outer.size(), 13u);
    EXPECT_EQ(outer[2], (fw::Pt{6250, 8843}));  // (20, 28.3) cm
    EXPECT_EQ(outer[7], (fw::Pt{656, 8843}));   // (2.1, 28.3)
    const auto& inner = std::get<PolylineData>(page->items()[1]->data()).points;
    EXPECT_EQ(inner[0], (fw::Pt{31, 31}));
    EXPECT_EQ(inner[2], (fw::Pt{6218, 8812}));
    const auto& logo = std::get<ShapeData>(page->items()[2]->data());
    EXPECT_EQ(logo.code, 5u);
    EXPECT_EQ((std::vector<int>{logo.x1, logo.y1, logo.x2, logo.y2}), (std::vector<int>{256, 8768, 656, 8893}));
    EXPECT_EQ(std::get<PolylineData>(page->items()[3]->data()).points, (std::vector<fw::Pt>{{31, 343}, {6218, 343}}));
    EXPECT_EQ(texts_of(*page),
              (std::vector<std::string>{"100,200 Patient Name :", "3000,200 Patient No :", "5450,8860 Page ",
                                        "1000,200 Ann Smith", "4000,200 123", "5700,8860 4"}));
    // A built-in page has no file to keep annotations in, so it takes none.
    EXPECT_FALSE(page->keeps_annotations());
    EXPECT_EQ(page->add_annotation("note", 10, 10), -1);
    EXPECT_TRUE(page->save(false));
    EXPECT_FALSE(page->is_modified());
    EXPECT_EQ(page->item_count(), 10u);
}

TEST(BuiltInPage, ContentsPagesContinueWithTheirGroup) {
    std::vector<EmfEntry> entries;
    for (int i = 0; i < 60; ++i) entries.push_back({"e", std::string("t").append(std::to_string(i)), i < 40 ? 1 : 2});
    std::size_t index = 0;
    auto first = CReportPage::make_builtin("/r");
    EXPECT_FALSE(first->fill_contents_page(entries, index));
    const auto t1 = texts_of(*first);
    EXPECT_EQ(t1[3],
              "2500,600 \x1b\x01"
              "12-lead Views");
    EXPECT_EQ(t1[4],
              "100,900 \x1b\x01"
              "12-lead Strips");
    EXPECT_EQ(t1[5], "200,1150 t0");
    // 1150 + 150 * 40 = 7150; then a group change: +150, heading, +250.
    EXPECT_EQ(t1[45],
              "100,7300 \x1b\x01"
              "12-lead Interval Measurements");
    EXPECT_EQ(t1[46], "200,7550 t40");
    EXPECT_EQ(t1.back(), "200,8450 t46");  // y reached 8600 >= 8501
    EXPECT_EQ(index, 47u);
    auto second = CReportPage::make_builtin("/r");
    EXPECT_TRUE(second->fill_contents_page(entries, index));
    const auto t2 = texts_of(*second);
    EXPECT_EQ(t2[4],
              "100,900 \x1b\x01"
              "12-lead Interval Measurements");
    EXPECT_EQ(t2[5], "200,1150 t47");
    EXPECT_EQ(index, 60u);
    auto none = CReportPage::make_builtin("/r");
    EXPECT_TRUE(none->fill_contents_page(entries, index));
    EXPECT_EQ(none->item_count(), 7u);
}

TEST(MetafileNames, GroupsAndLegend) {
    EXPECT_EQ(metafile_group("A-100-60.emf"), 1);
    EXPECT_EQ(metafile_group("A-100-61.emf"), 1);
    EXPECT_EQ(metafile_group("A-100-62.emf"), 2);
    EXPECT_EQ(metafile_group("A-100-64.emf"), 3);
    EXPECT_EQ(metafile_group("A-100-63.emf"), 0);
    EXPECT_EQ(metafile_group("6.emf"), 0);
    EXPECT_EQ(metafile_group("noext"), 0);
    EXPECT_EQ(legend_file_name("/r/A-100-64.emf"), "/r/A-100-63.emf");
    EXPECT_EQ(legend_file_name("a.e"), "");
}

TEST(EmfList, SortedTitledAndGrouped) {
    platform::testing::TempRoot root;
    ASSERT_TRUE(platform::atomic_write_file(root.path() + "/EMFLIST.DAT", emf_list({{"R-1280-62.emf", "Intervals"},
                                                                                    {"R-256-60.emf", "Strip B"},
                                                                                    {"R-128-60.emf", "Strip A"},
                                                                                    {"R-0-63.emf", "Legend"},
                                                                                    {"R-64.emf", "No sample"},
                                                                                    {"../R-1-60.emf", "Escape"}},
                                                                                   6)));
    std::string problem;
    const auto list = read_emf_list(root.path(), &problem);
    EXPECT_NE(problem.find("outside"), std::string::npos) << "the name with \"..\" is left out";
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].name, "R-128-60.emf");
    EXPECT_EQ(list[0].title, "1. 03:04:06 01/02/24 Strip A");
    EXPECT_EQ(list[1].title, "2. 03:04:07 01/02/24 Strip B");
    EXPECT_EQ(list[2].name, "R-1280-62.emf");
    EXPECT_EQ(list[2].title, "1. 03:04:15 01/02/24 Intervals");
    EXPECT_EQ(list[3].name, "R-64.emf");  // no second '-': the number up to the end
    EXPECT_EQ(list[3].group, 3);
}

TEST(EmfList, HostileLengthsStopReading) {
    platform::testing::TempRoot root;
    const std::string path = root.path() + "/emflist.dat";
    std::string big(300, 'x');
    // Each cut says so; a whole list says nothing.
    std::string problem;
    ASSERT_TRUE(
        platform::atomic_write_file(path, emf_list({{"A-1-60.emf", "ok"}, {big, "bad"}, {"A-2-60.emf", "x"}}, 3)));
    EXPECT_EQ(read_emf_list(root.path(), &problem).size(), 1u);
    EXPECT_NE(problem.find("after 1 of its 3 entries"), std::string::npos) << problem;
    problem.clear();
    ASSERT_TRUE(platform::atomic_write_file(path, emf_list({{"A-1-60.emf", "ok"}}, 65535, "\x05")));
    EXPECT_EQ(read_emf_list(root.path(), &problem).size(), 1u);
    EXPECT_NE(problem.find("after 1 of its 65535 entries"), std::string::npos) << problem;
    problem.clear();
    ASSERT_TRUE(platform::atomic_write_file(path, std::string(30, '\xff')));
    EXPECT_TRUE(read_emf_list(root.path(), &problem).empty());
    EXPECT_NE(problem.find("too short"), std::string::npos) << problem;
    problem.clear();
    ASSERT_TRUE(platform::atomic_write_file(path, emf_list({{"A-1-60.emf", "ok"}}, 1)));
    EXPECT_EQ(read_emf_list(root.path(), &problem).size(), 1u);
    EXPECT_EQ(problem, "");
}

TEST(PageFiles, CountStopsAtTheFirstGap) {
    platform::testing::TempRoot root;
    ASSERT_TRUE(platform::atomic_write_file(root.path() + "/PAGE.1", ""));
    EXPECT_EQ(PageFileSet::enumerate(root.path()).count, 0);
    ASSERT_TRUE(platform::atomic_write_file(root.path() + "/page.0", ""));
    ASSERT_TRUE(platform::atomic_write_file(root.path() + "/PAGE.3", ""));
    const auto set = PageFileSet::enumerate(root.path());
    EXPECT_EQ(set.count, 2);
    EXPECT_EQ(set.path(0), root.path() + "/page.0");
}

TEST(Metafiles, PlayerMapsTheFrameOntoTheSlot) {
    EmfWriter w({1000, 2000});
    w.pen(fw::PenStyle::Solid, {0, 0, 0}, 1);
    w.polyline({{0, 0}, {1000, 2000}});
    w.brush({255, 0, 0});
    w.rectangle({100, 100, 500, 500});
    w.font(100);
    w.text({10, 1000}, "I \xe9");
    const auto emf = EmfFile::parse(w.finish());
    ASSERT_TRUE(emf);
    fw::RecordingDrawContext dc({1000, 2000});
    play_metafile(dc, *emf, {0, 0, 100, 200});
    const std::string s = dc.joined();
    EXPECT_NE(s.find("polyline (0,0)(100,200)"), std::string::npos) << s;
    EXPECT_NE(s.find("fill solid #ff0000"), std::string::npos) << s;
    EXPECT_NE(s.find("rect (10,10,50,50)"), std::string::npos) << s;
    EXPECT_NE(s.find("font Arial/10/400"), std::string::npos) << s;
    EXPECT_NE(s.find("text (1,100) \"I \xe9\""), std::string::npos) << s;

    // Truncated and corrupt metafiles play what is sound and stop.
    std::string bytes = emf->bytes();
    for (std::size_t cut : {std::size_t{0}, std::size_t{40}, std::size_t{100}, bytes.size() - 3}) {
        auto part = EmfFile::parse(bytes.substr(0, cut));
        if (part) play_metafile(dc, *part, {0, 0, 100, 200});
    }
    std::string bad = bytes;
    bad[88 + 4] = '\x7f';  // first record's size past the end
    if (auto b = EmfFile::parse(bad)) play_metafile(dc, *b, {0, 0, 100, 200});
    EXPECT_FALSE(EmfFile::parse("not a metafile"));
}

TEST(Metafiles, FourPicturePageUsesLegendAndSlots) {
    platform::testing::TempRoot root;
    for (const char* name : {"R-1-63.emf", "R-1-64.emf", "R-2-64.emf", "R-3-64.emf"}) {
        EmfWriter w({100, 100});
        w.polyline({{0, 0}, {100, 100}});
        ASSERT_TRUE(platform::atomic_write_file(root.path() + "/" + name, w.finish()));
    }
    auto page = CReportPage::make_builtin("");
    for (const char* name : {"R-1-64.emf", "R-2-64.emf", "R-3-64.emf"})
        page->add_picture_name(root.path() + "/" + name);
    page->set_picture_page(true);
    fw::RecordingDrawContext dc;
    dc.set_map_mode(fw::MapMode::Anisotropic);
    dc.set_window_ext({20000, 29700});
    dc.set_viewport_ext({20000, 29700});
    page->draw(dc, default_page_fonts());
    std::vector<std::string> lines;
    for (const auto& c : dc.commands())
        if (c.rfind("polyline (", 0) == 0 && c.find("(300,2000)") != std::string::npos) lines.push_back(c);
    ASSERT_EQ(lines.size(), 1u);  // the legend in slot 0
    const std::string s = dc.joined();
    EXPECT_NE(s.find("polyline (3000,2000)"), std::string::npos);
    EXPECT_NE(s.find("polyline (7200,2000)"), std::string::npos);
    EXPECT_NE(s.find("polyline (11400,2000)"), std::string::npos);
    EXPECT_EQ(s.find("polyline (15600,2000)"), std::string::npos);
}

// emflist.dat names the metafiles in whatever case the analysis system chose; the files on disk
// may differ, as every other report file may.
TEST(Metafiles, NamesAreFoundWithoutRegardToCase) {
    platform::testing::TempRoot root;
    for (const char* stored : {"r-0-63.EMF", "r-0-64.EMF", "r-5-60.EMF"}) {
        EmfWriter w({100, 100});
        w.polyline({{0, 0}, {100, 100}});
        ASSERT_TRUE(platform::atomic_write_file(root.path() + "/" + stored, w.finish()));
    }
    auto single = CReportPage::make_builtin(root.path() + "/R-5-60.emf");
    single->set_picture_page(true);
    auto four = CReportPage::make_builtin("");
    four->add_picture_name(root.path() + "/R-0-64.emf");  // its legend: R-0-63.emf
    four->set_picture_page(true);
    const struct {
        const char* what;
        const CReportPage* page;
        std::vector<std::string> starts;
    } cases[] = {
        {"single picture", single.get(), {"polyline (400,2000)"}},
        {"legend and picture", four.get(), {"polyline (300,2000)", "polyline (3000,2000)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fw::RecordingDrawContext dc;
        dc.set_map_mode(fw::MapMode::Anisotropic);
        dc.set_window_ext({20000, 29700});
        dc.set_viewport_ext({20000, 29700});
        c.page->draw(dc, default_page_fonts());
        const std::string s = dc.joined();
        for (const std::string& start : c.starts) EXPECT_NE(s.find(start), std::string::npos) << start << "\n" << s;
    }
}

}  // namespace
}  // namespace tv
