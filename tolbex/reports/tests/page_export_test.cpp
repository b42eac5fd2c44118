#include <filesystem>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/reports/page_export.h"
#include "tolbex/reports/page_renderer.h"
#include "tolbex/reports/report_page.h"
#include "tolbex/reports/tests/page_test_support.h"

namespace tv {
namespace {

TEST(PcxLines, RunLengthRules) {
    std::string out;
    std::vector<std::uint8_t> hundred(100, 7);
    pcx_encode_line(hundred.data(), hundred.size(), out);
    EXPECT_EQ(out, testing::bytes_of({0xFF, 7, 0xE5, 7}));
    out.clear();
    const std::uint8_t mixed[] = {0xC0, 0xBF, 0x11, 0x11, 0xFF};
    pcx_encode_line(mixed, sizeof mixed, out);
    EXPECT_EQ(out, testing::bytes_of({0xC1, 0xC0, 0xBF, 0xC2, 0x11, 0xC1, 0xFF}));
}

TEST(PageBitmaps, OddWidthsArePadded) {
    MonoImage m = MonoImage::white(33, 2);
    tv::testing::set_black(m, 32, 1);
    EXPECT_EQ(m.stride, 8);
    const std::string bmp = encode_bmp(m);
    EXPECT_EQ(bmp.size(), 62u + 16u);
    EXPECT_EQ(static_cast<unsigned char>(bmp[62 + 4]), 0x7F);  // bottom-up: row 1 first
    const std::string pcx = encode_pcx(m);
    EXPECT_EQ(pcx[66], 6);  // 5 bytes of pixels, padded to an even 6
}

// Without a renderer (a program that draws no pages) nothing is drawn, written or printed.
TEST(PageRenderer, NoneInstalledFailsAndWritesNothing) {
    ASSERT_EQ(page_renderer(), nullptr);
    platform::testing::TempRoot root;
    ASSERT_TRUE(platform::atomic_write_file(root.path() + "/PAGE.1", testing::label_record()));
    const auto page = CReportPage::load(root.path() + "/PAGE.1", false);
    ASSERT_TRUE(page);
    const std::vector<const CReportPage*> pages(2, page.get());
    std::string error;
    EXPECT_FALSE(export_page_bitmaps(
        pages, default_page_fonts(), 16, 16, [&](std::size_t) { return root.path() + "/PAGE.BMP"; }, BitmapFormat::Bmp,
        &error));
    EXPECT_EQ(error, kNoPageRenderer);
    EXPECT_FALSE(std::filesystem::exists(root.path() + "/PAGE.BMP"));
}

}  // namespace
}  // namespace tv
