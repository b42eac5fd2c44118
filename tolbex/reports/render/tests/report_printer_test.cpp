// Print-outs through Qt on the PDF printer, reached as the command line reaches them: through the
// installed renderer.
#include <filesystem>

#include <gtest/gtest.h>

#include "testing/app_test_root.h"
#include "tolbex/reports/page_renderer.h"
#include "tolbex/reports/render/page_render.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/tests/page_test_support.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using testing::hline_record;
using testing::label_record;
using testing::text_record;
using testing_root::read_file;
using testing_root::write_file;

class ReportPrinterTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        install_page_renderer();
        report = t / "G" / "STANDARD" / "R.IMG";
        write_file(report / "VERSION.TXT", "V8.006\r\n");
        write_file(report / "PAGE.0", label_record());
        write_file(report / "PAGE.1", text_record(3200, 6400, "Hello") + hline_record(0, 200352, 3200));
    }
    fs::path report;
};

TEST_F(ReportPrinterTest, PdfPrintingWritesEveryRequestedPage) {
    write_file(report / "PAGE.2", hline_record(0, 10000, 6400));
    write_file(report / "PAGE.3", text_record(3200, 6400, "three"));
    ReportDocument doc;
    ASSERT_TRUE(doc.load(report.string(), {}));
    PrintSettings settings;
    settings.pdf_printer_name = "PDF Out";
    settings.pdf_output_folder = (t / "pdf").string();
    PrintRequest request;
    request.document_name = "Smith, John";
    request.duplicate_limit = 2;
    request.printer_name = "pdf out";
    std::string error;
    ASSERT_TRUE(print_report(doc, request, settings, &error)) << error;
    const std::string pdf = read_file(t / "pdf" / "Smith, John.pdf");
    ASSERT_EQ(pdf.rfind("%PDF", 0), 0u);
    EXPECT_NE(pdf.find("/Count 5"), std::string::npos);
    EXPECT_FALSE(fs::exists(t / "pdf" / "Smith, John.pdf.part"));

    // The recording ID names files: one that leads elsewhere is refused.
    write_file(report / "PATIENT.TXT", "a\r\nb\r\nname\r\n-\r\n-\r\n-\r\n-\r\n../x\r\n");
    write_file(report / "ANALSUM.TXT", "summary");
    EXPECT_FALSE(export_merivale_pdf(doc, settings));
    EXPECT_FALSE(fs::exists(t / "x.pdf"));
    write_file(report / "PATIENT.TXT", "a\r\nb\r\nname\r\n-\r\n-\r\n-\r\n-\r\nREC01\r\n");
    ASSERT_TRUE(export_merivale_pdf(doc, settings));
    EXPECT_EQ(read_file(t / "pdf" / "REC01.TXT"), "summary");
    EXPECT_TRUE(fs::exists(t / "pdf" / "REC01.pdf"));
    // Exported again, its PDF is replaced: the pair <id>.pdf and <id>.TXT stays one.
    ASSERT_TRUE(export_merivale_pdf(doc, settings));
    EXPECT_FALSE(fs::exists(t / "pdf" / "REC01 (1).pdf"));
    // The print of a name seen before keeps the earlier PDF.
    ASSERT_TRUE(print_report(doc, request, settings, &error)) << error;
    EXPECT_TRUE(fs::exists(t / "pdf" / "Smith, John (1).pdf"));
    EXPECT_EQ(read_file(t / "pdf" / "Smith, John.pdf"), pdf);
}

}  // namespace
}  // namespace tv
