// Page pictures drawn through Qt, alone and on all cores, and through the installed renderer.
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/reports/page_renderer.h"
#include "tolbex/reports/render/page_render.h"
#include "tolbex/reports/report_page.h"
#include "tolbex/reports/tests/page_test_support.h"

namespace tv {
namespace {

class PageExportTest : public ::testing::Test {
protected:
    void SetUp() override { install_page_renderer(); }
    std::unique_ptr<CReportPage> page_with(const std::string& bytes) {
        const std::string path = root.path() + "/PAGE.1";
        EXPECT_TRUE(platform::atomic_write_file(path, bytes));
        return CReportPage::load(path, false);
    }
    platform::testing::TempRoot root;
};

TEST_F(PageExportTest, LineItemGivesOneBlackRow) {
    auto page = page_with(testing::hline_record(0, 200352, 3200));
    ASSERT_TRUE(page);
    const std::string pcx_path = root.path() + "/" + page_bitmap_file_name(1, BitmapFormat::Pcx);
    const std::string bmp_path = root.path() + "/" + page_bitmap_file_name(1, BitmapFormat::Bmp);
    ASSERT_TRUE(export_page_bitmap(*page, default_page_fonts(), 2496, 3520, pcx_path, BitmapFormat::Pcx));
    ASSERT_TRUE(export_page_bitmap(*page, default_page_fonts(), 2496, 3520, bmp_path, BitmapFormat::Bmp));
    EXPECT_EQ(pcx_path.substr(pcx_path.size() - 12), "PAGE0001.PCX");

    const std::string pcx = platform::read_whole_file(pcx_path).value_or("");
    ASSERT_EQ(pcx.size(), 35328u);
    EXPECT_EQ(testing::hex(pcx.substr(0, 16)), "0a 03 01 01 00 00 00 00 bf 09 bf 0d bf 09 bf 0d");
    EXPECT_EQ(testing::hex(pcx.substr(64, 6)), "00 01 38 01 01 00");
    const std::string white = testing::bytes_of({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC, 0xFF});
    const std::string black = testing::bytes_of({0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFC, 0x00});
    for (int row = 0; row < 3520; ++row)
        ASSERT_EQ(pcx.substr(128 + 10 * static_cast<std::size_t>(row), 10), row == 39 ? black : white) << row;

    const std::string bmp = platform::read_whole_file(bmp_path).value_or("");
    ASSERT_EQ(bmp.size(), 1098302u);
    EXPECT_EQ(testing::hex(bmp.substr(0, 14)), "42 4d 3e c2 10 00 00 00 00 00 3e 00 00 00");
    EXPECT_EQ(testing::hex(bmp.substr(14, 16)), "28 00 00 00 c0 09 00 00 c0 0d 00 00 01 00 01 00");
    EXPECT_EQ(testing::hex(bmp.substr(54, 8)), "00 00 00 00 ff ff ff 00");
    for (int top = 0; top < 3520; ++top) {
        const std::string row = bmp.substr(62 + 312 * static_cast<std::size_t>(3519 - top), 312);
        ASSERT_EQ(row, std::string(312, top == 39 ? '\0' : '\xff')) << top;
    }
}

TEST_F(PageExportTest, LabelOnlyPageIsWhiteAndTextIsDrawn) {
    auto page = page_with(testing::label_record());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->item_count(), 1u);
    const MonoImage blank = render_page_mono(*page, default_page_fonts());
    EXPECT_EQ(blank.bits, MonoImage::white(2496, 3520).bits);

    // Text and the built-in frame leave black pixels where they stand.
    auto builtin = CReportPage::make_builtin(root.path());
    builtin->add_header_texts("Ann Smith", "123", 1);
    const MonoImage img = render_page_mono(*builtin, default_page_fonts(), 800, 1131);
    EXPECT_TRUE(tv::testing::is_black(img, 0, 500));     // outer outline, left edge
    EXPECT_TRUE(tv::testing::is_black(img, 400, 0));     // outer outline, top edge
    EXPECT_FALSE(tv::testing::is_black(img, 400, 500));  // inside the page
    int text_pixels = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 120; x < 250; ++x) text_pixels += tv::testing::is_black(img, x, y);
    EXPECT_GT(text_pixels, 20);  // "Ann Smith" at (1000, 200)
}

TEST_F(PageExportTest, UnwritableFolderFails) {
    auto page = page_with(testing::label_record());
    std::string error;
    EXPECT_FALSE(export_page_bitmap(*page, default_page_fonts(), 16, 16, root.path() + "/no/PAGE0001.BMP",
                                    BitmapFormat::Bmp, &error));
    EXPECT_FALSE(error.empty());
}

// Pages with text in several sizes, lines and labels: enough work per page that the workers
// overlap, and text so that fonts are rasterised on several threads at once.
class PageSetExportTest : public PageExportTest {
protected:
    void SetUp() override {
        PageExportTest::SetUp();
        for (int n = 0; n < 12; ++n) {
            std::string bytes = testing::label_record();
            for (int row = 0; row < 20; ++row) {
                const std::int32_t y = 300 + row * 400 + n * 7;
                bytes +=
                    testing::text_record(100 + n * 50, y, "Page " + std::to_string(n) + " row " + std::to_string(row));
                bytes += testing::hline_record(100, 6000 - n * 100, y + 100);
            }
            const std::string path = root.path() + "/PAGE." + std::to_string(n);
            ASSERT_TRUE(platform::atomic_write_file(path, bytes));
            owned.push_back(CReportPage::load(path, false));
            ASSERT_TRUE(owned.back());
            pages.push_back(owned.back().get());
        }
    }
    std::vector<std::unique_ptr<CReportPage>> owned;
    std::vector<const CReportPage*> pages;
};

TEST_F(PageSetExportTest, AllCoresGiveTheBitsOfOnePageAtATime) {
    const auto fonts = default_page_fonts();
    for (const BitmapFormat format : {BitmapFormat::Bmp, BitmapFormat::Pcx}) {
        const auto name = [&](std::size_t i) { return root.path() + "/" + page_bitmap_file_name(int(i) + 1, format); };
        ASSERT_TRUE(export_page_bitmaps(pages, fonts, 1248, 1760, name, format));
        for (std::size_t i = 0; i < pages.size(); ++i) {
            const std::string one = root.path() + "/one";
            ASSERT_TRUE(export_page_bitmap(*pages[i], fonts, 1248, 1760, one, format));
            EXPECT_EQ(platform::read_whole_file(name(i)), platform::read_whole_file(one)) << i;
        }
    }
}

TEST_F(PageSetExportTest, StopsAtTheFirstPageThatCannotBeWritten) {
    const auto name = [&](std::size_t i) {
        return root.path() + (i == 5 ? "/no/" : "/") + page_bitmap_file_name(int(i) + 1, BitmapFormat::Bmp);
    };
    std::string error;
    EXPECT_FALSE(export_page_bitmaps(pages, default_page_fonts(), 64, 64, name, BitmapFormat::Bmp, &error));
    EXPECT_NE(error.find(name(5)), std::string::npos) << error;
    for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(std::filesystem::exists(name(i)), i < 5) << i;

    EXPECT_FALSE(export_page_bitmaps(pages, default_page_fonts(), 0, 64, name, BitmapFormat::Bmp, &error));
    EXPECT_EQ(error, "Invalid picture size.");
}

}  // namespace
}  // namespace tv
