// Pages of the demo reports (the Holter pages and the 12-lead four-picture page) rendered as the
// page export renders them, compared with reference pictures kept beside this file. A few pixels may differ where font rasterisation changes
// between library versions; anything larger is a fault in the drawing.
// TV_REGENERATE_REFERENCE_IMAGES=1 writes the references anew (review the pictures before
// committing them).
#include <cstdlib>
#include <ostream>
#include <string>

#include <QImage>

#include <gtest/gtest.h>

#include "common/files.h"
#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/reports/render/page_render.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tools/demo/demo_pages.h"
#include "tools/demo/demo_root.h"

namespace tv {
namespace {

constexpr const char* kRegenerateVariable = "TV_REGENERATE_REFERENCE_IMAGES";

struct ReferencePage {
    const char* picture;  // file name under data/
    bool twelve_lead;     // the 12-lead report, else the Holter report
    int page_count;       // pages the document holds
    int page;             // 1-based page to render
};
void PrintTo(const ReferencePage& p, std::ostream* os) { *os << p.picture; }

std::string reference_path(const char* picture) { return tv::testing::test_data_path(__FILE__, picture); }

QImage to_qimage(const MonoImage& m) {
    QImage image(m.width, m.height, QImage::Format_Mono);
    image.setColorCount(2);
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    for (int y = 0; y < m.height; ++y) std::copy(m.row(y), m.row(y) + image.bytesPerLine(), image.scanLine(y));
    return image;
}

struct Comparison {
    long long differing = 0, reference_black = 0, rendered_black = 0;
};

Comparison compare(const MonoImage& rendered, const QImage& reference) {
    Comparison c;
    for (int y = 0; y < rendered.height; ++y)
        for (int x = 0; x < rendered.width; ++x) {
            const bool want = qGray(reference.pixel(x, y)) < 128;
            const bool got = tv::testing::is_black(rendered, x, y);
            c.reference_black += want;
            c.rendered_black += got;
            c.differing += want != got;
        }
    return c;
}

class ReferenceImageTest : public ::testing::TestWithParam<ReferencePage> {
protected:
    void SetUp() override {
        report = root / "R.IMG";
        ASSERT_TRUE(create_folder_path(report));
        ASSERT_TRUE(platform::atomic_write_file(report + "/VERSION.TXT", "V8.006\r\n"));
        ASSERT_TRUE(platform::atomic_write_file(report + "/SUMMARY.TXT", "Alder, Mira\r\n"));
        if (GetParam().twelve_lead) {
            // The 12-lead header takes the name (line 3) and patient number (line 9) from here.
            ASSERT_TRUE(platform::atomic_write_file(
                report + "/PATIENT.TXT",
                "PATIENT DETAILS\r\n2024-03-05 09:00\r\nAlder, Mira\r\n1956-03-14\r\n68\r\nFemale\r\n"
                "J. Okonkwe\r\nDEMO0001005\r\nPN04000\r\nDr. Quillon\r\n--\r\nSt. Averin Hospital\r\n"
                "2024-03-04 09:00\r\n"));
            ASSERT_TRUE(platform::atomic_write_file(report + "/PAGE.0", ""));
            ASSERT_TRUE(demo::write_demo_twelve_lead(report + "/", demo::DemoPatientDetails{}));
        } else {
            ASSERT_TRUE(demo::write_demo_pages(report + "/", "Alder, Mira"));
        }
        ensure_render_application();
    }
    platform::testing::TempRoot root;
    std::string report;
};

TEST_P(ReferenceImageTest, DemoPageMatchesItsReference) {
    const ReferencePage& want = GetParam();
    ReportDocument doc;
    ASSERT_TRUE(doc.load(report, {}));
    ASSERT_EQ(doc.page_count(), want.page_count);
    const CReportPage* page = doc.page(want.page - 1);
    ASSERT_NE(page, nullptr);
    if (want.twelve_lead) {
        EXPECT_EQ(page->picture_count(), 4u);
    }
    const MonoImage rendered = render_page_mono(*page, doc.fonts());
    ASSERT_EQ(rendered.width, kPageBitmapWidth);
    ASSERT_EQ(rendered.height, kPageBitmapHeight);

    const std::string path = reference_path(want.picture);
    if (const char* v = std::getenv(kRegenerateVariable); v && std::string(v) == "1") {
        ASSERT_TRUE(to_qimage(rendered).save(QString::fromStdString(path), "PNG"));
        GTEST_SKIP() << "wrote " << path;
    }
    QImage reference;
    ASSERT_TRUE(reference.load(QString::fromStdString(path))) << path << " is missing; set " << kRegenerateVariable;
    ASSERT_EQ(reference.width(), kPageBitmapWidth);
    ASSERT_EQ(reference.height(), kPageBitmapHeight);

    const Comparison c = compare(rendered, reference);
    const long long total = static_cast<long long>(kPageBitmapWidth) * kPageBitmapHeight;
    // The reference is a real page, not a blank one.
    EXPECT_GT(c.reference_black, total / 1000);
    // At most 0.5 % of the picture, and a small share of what is drawn: a lost text line or
    // strip would exceed the second bound long before the first.
    EXPECT_LE(c.differing * 200, total) << c.differing << " pixels differ";
    EXPECT_LE(c.differing * 20, c.reference_black)
        << c.differing << " pixels differ of " << c.reference_black << " black (rendered " << c.rendered_black << ")";
}

// Holter: summary, event strips, conclusion. 12-lead: contents, rhythm strips, intervals, then the
// four ST columns on one page.
INSTANTIATE_TEST_SUITE_P(DemoReport, ReferenceImageTest,
                         ::testing::Values(ReferencePage{"demo_page1.png", false, 3, 1},
                                           ReferencePage{"demo_page2.png", false, 3, 2},
                                           ReferencePage{"demo_page3.png", false, 3, 3},
                                           ReferencePage{"demo_12lead_four_pictures.png", true, 4, 4}),
                         [](const ::testing::TestParamInfo<ReferencePage>& info) {
                             std::string name = info.param.picture;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace tv
