// "/printto" on the PDF printer: the PDF it writes is read back here (page tree and page boxes),
// so that the page count and the paper size are checked without outside tools.
#if defined(__GNUC__) && !defined(__clang__)
// gcc 12 with the sanitizers at -O2 reports std::regex's own std::function members as maybe
// uninitialized; the warning is about the library's code, so it is off for this file only.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <cstdlib>
#include <regex>

#include "common/bytes.h"
#include "tolbex/tests/cli_fixture.h"

namespace cli {
namespace {

// A polyline record (type 62) of two points, fine units.
std::string hline(std::int64_t x1, std::int64_t x2, std::int64_t y) {
    std::string payload;
    for (std::int64_t w : {std::int64_t{2}, x1, y, x2, y}) tv::append_le32(payload, static_cast<std::uint32_t>(w));
    std::string o;
    tv::append_le32(o, static_cast<std::uint32_t>(payload.size() + 16));
    for (std::uint32_t w : {0u, 0u, 0u, 62u}) tv::append_le32(o, w);
    return o + payload;
}

struct PdfFacts {
    int count = -1;  // the page tree's /Count
    int page_objects = 0;
    std::vector<std::pair<double, double>> media_boxes;  // width, height in points
};

// The facts a PDF writer states in plain text: "/Type /Page" objects, "/Count n" of the page
// tree and "/MediaBox [x0 y0 x1 y1]".
PdfFacts read_pdf_facts(const std::string& pdf) {
    PdfFacts f;
    static const std::regex page(R"(/Type\s*/Page(?![a-zA-Z]))");
    static const std::regex count(R"(/Type\s*/Pages\b[^>]*?/Count\s+(\d+)|/Count\s+(\d+)[^>]*?/Type\s*/Pages\b)");
    static const std::regex box(R"(/MediaBox\s*\[\s*([-\d.]+)\s+([-\d.]+)\s+([-\d.]+)\s+([-\d.]+)\s*\])");
    f.page_objects = static_cast<int>(std::distance(std::sregex_iterator(pdf.begin(), pdf.end(), page), {}));
    std::smatch m;
    if (std::regex_search(pdf, m, count)) f.count = std::stoi(m[1].matched ? m[1].str() : m[2].str());
    for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), box); it != std::sregex_iterator(); ++it)
        f.media_boxes.emplace_back(std::stod((*it)[3]) - std::stod((*it)[1]),
                                   std::stod((*it)[4]) - std::stod((*it)[2]));
    return f;
}

constexpr double kA4Width = 210.0 / 25.4 * 72.0, kA4Height = 297.0 / 25.4 * 72.0;

class PdfPageSizeTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        r = t / "R.IMG";
        write_file(r / "VERSION.TXT", "V8.006\r\n");
        write_file(r / "SUMMARY.TXT", "x\r\n");
        for (int n = 0; n <= 3; ++n) write_file(r / ("PAGE." + std::to_string(n)), hline(0, 10000, 6400 * (n + 1)));
        pdf_folder = t / "pdf";
    }
    void settings(const std::string& extra) {
        write_hive(root / "user" / "registry" / "HKCU.reg",
                   "[Software\\Torvane Medical\\Calvera\\Pelwin]\r\n\"PDF Printer Name\"=\"PDF File\"\r\n"
                   "\"PDF Output Folder\"=\"" +
                       pdf_folder.string() +
                       "\"\r\n\r\n"
                       "[Software\\Torvane Medical\\Calvera\\Settings]\r\n" +
                       extra);
    }
    fs::path r, pdf_folder;
};

TEST(PdfFacts, ReadsThePageTreeAndBoxes) {
    const std::string pdf =
        "%PDF-1.4\n1 0 obj\n<<\n/Type /Catalog\n/Pages 2 0 R\n>>\nendobj\n"
        "2 0 obj\n<<\n/Type /Pages\n/Kids [3 0 R 4 0 R]\n/Count 2\n>>\nendobj\n"
        "3 0 obj\n<<\n/Type /Page\n/Parent 2 0 R\n/MediaBox [0 0 595.28 841.89]\n>>\nendobj\n"
        "4 0 obj\n<</Type/Page/MediaBox[10 20 622 812]>>\nendobj\n";
    const PdfFacts f = read_pdf_facts(pdf);
    EXPECT_EQ(f.count, 2);
    EXPECT_EQ(f.page_objects, 2);
    ASSERT_EQ(f.media_boxes.size(), 2u);
    EXPECT_DOUBLE_EQ(f.media_boxes[0].first, 595.28);
    EXPECT_DOUBLE_EQ(f.media_boxes[1].first, 612.0);
    EXPECT_DOUBLE_EQ(f.media_boxes[1].second, 792.0);
    EXPECT_EQ(read_pdf_facts("not a pdf").count, -1);
}

TEST_F(PdfPageSizeTest, EveryPrintedPageIsAnA4PageAtTrueScale) {
    settings("\"ECG Scaling\"=dword:00000001\r\n");
    const RunResult res = run({"/printto", r.string(), "0", "0", "1", "2", "NScaled", "PDF File"});
    ASSERT_EQ(res.code, 0) << res.err;
    const std::string pdf = read_file(pdf_folder / "Scaled.pdf");
    ASSERT_EQ(pdf.rfind("%PDF", 0), 0u);
    const PdfFacts f = read_pdf_facts(pdf);
    // Three pages, the first two twice.
    EXPECT_EQ(f.count, 5);
    EXPECT_EQ(f.page_objects, 5);
    ASSERT_EQ(f.media_boxes.size(), 5u);
    for (const auto& [w, h] : f.media_boxes) {
        EXPECT_NEAR(w, kA4Width, 0.5);
        EXPECT_NEAR(h, kA4Height, 0.5);
    }
    // Only Qt's runtime folder may remain; no partial PDF or other file of the run.
    for (const std::string& name : temp_leftovers()) EXPECT_EQ(name.rfind("runtime-", 0), 0u) << name;
    for (const auto& e : fs::directory_iterator(pdf_folder)) EXPECT_EQ(e.path().filename(), "Scaled.pdf");
}

TEST_F(PdfPageSizeTest, PageRangeSelectsPagesAndTheSizeStays) {
    settings("\"Left Margin\"=dword:00002710\r\n\"Top Margin\"=dword:00002710\r\n");
    const RunResult res = run({"/printto", r.string(), "2", "3", "1", "0", "NRange", "PDF File"});
    ASSERT_EQ(res.code, 0) << res.err;
    const PdfFacts f = read_pdf_facts(read_file(pdf_folder / "Range.pdf"));
    EXPECT_EQ(f.count, 2);
    ASSERT_EQ(f.media_boxes.size(), 2u);
    for (const auto& [w, h] : f.media_boxes) {
        EXPECT_NEAR(w, kA4Width, 0.5);
        EXPECT_NEAR(h, kA4Height, 0.5);
    }
}

}  // namespace
}  // namespace cli
