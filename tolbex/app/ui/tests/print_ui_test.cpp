// Printing from the windows, offscreen: the catalogue of an archive browser and a report window
// printed through the print loop into PDF files (the print dialog answered by a hook), print
// preview, and the orientation the short catalogue leaves behind.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTimer>

#include "common/audit_log.h"
#include "framework/qt/application.h"
#include "framework/qt/frame.h"
#include "framework/qt/print_job.h"
#include "platform/system.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/tests/browser_test_group.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/browser/ui/browser_frame.h"
#include "tolbex/browser/ui/browser_list_doc_ui.h"
#include "tolbex/browser/ui/browser_list_view.h"
#include "tolbex/app/ui/main_frame.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/reports/ui/tests/ui_test_support.h"
#include "tolbex/app/ui/tolbex_window_app.h"
#include "tolbex/reports/report_printing.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using testing_root::make_test_group;

// The page count a PDF states for its page tree.
int pdf_page_count(const std::string& pdf) {
    const std::size_t at = pdf.find("/Count ");
    return at == std::string::npos ? -1 : std::atoi(pdf.c_str() + at + 7);
}

// Whether the first page of a PDF is wider than high.
bool pdf_is_landscape(const std::string& pdf) {
    const std::size_t at = pdf.find("/MediaBox [");
    if (at == std::string::npos) return false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (std::sscanf(pdf.c_str() + at + 11, "%lf %lf %lf %lf", &x0, &y0, &x1, &y1) != 4) return false;
    return x1 - x0 > y1 - y0;
}

void put32(std::string& o, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) o.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A text record of a page file.
std::string text_record(std::int32_t x, std::int32_t y, const std::string& s) {
    std::string o;
    put32(o, static_cast<std::uint32_t>(s.size() + 28));
    for (std::uint32_t w : {0u, 0u, 0u, 63u, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                            static_cast<std::uint32_t>(s.size())})
        put32(o, w);
    return o + s;
}

class PrintUiTest : public uitest::UiRootTest {
protected:
    void SetUp() override {
        UiRootTest::SetUp();
        pdf = root / "out.pdf";
        fw::set_print_dialog_hook([this](QPrinter& printer, int min_page, int max_page) {
            ++dialogs;
            dialog_max = max_page;
            EXPECT_EQ(min_page, 1);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf));
            if (from > 0) printer.setFromTo(from, to);
            if (from > 0) printer.setPrintRange(QPrinter::PageRange);
            if (copies > 1) printer.setCopyCount(copies);
            return accept;
        });
        fw::print_setup().orientation = fw::PageOrientation::Portrait;
    }
    void TearDown() override {
        fw::set_print_dialog_hook({});
        fw::print_setup().orientation = fw::PageOrientation::Portrait;
        windows.reset();
        core.reset();
        UiRootTest::TearDown();
    }
    void start() {
        core = std::make_unique<CTolbexApp>();
        windows = std::make_unique<TolbexWindowApp>(*core);
        ASSERT_TRUE(windows->init_instance({}));
    }
    std::string pdf_bytes() const { return uitest::read_file(pdf); }

    std::string pdf;
    int dialogs = 0, dialog_max = 0;
    int from = 0, to = 0, copies = 1;
    bool accept = true;
    std::unique_ptr<CTolbexApp> core;
    std::unique_ptr<TolbexWindowApp> windows;
};

class CataloguePrintTest : public PrintUiTest {
protected:
    void SetUp() override {
        PrintUiTest::SetUp();
        start();
        std::vector<testing_root::TestReport> reports;
        for (int i = 0; i < 12; ++i)
            reports.push_back({"R" + std::to_string(i) + ".FUL", "Patient " + std::to_string(i)});
        const std::string path =
            make_test_group(fs::path(root.path()) / "GROUP",
                            {{"STANDARD", "STANDARD", reports}, {"ARCH2", "Second", {{"B1.FUL", "Anne Ashcroft"}}}});
        gui::CBrowserListDoc* doc = gui::open_archive_group(path);
        ASSERT_NE(doc, nullptr);
        ASSERT_FALSE(doc->views().empty());
        frame = dynamic_cast<gui::CBrowserFrame*>(doc->views().front());
        ASSERT_NE(frame, nullptr);
    }
    gui::CBrowserFrame* frame = nullptr;
};

TEST_F(CataloguePrintTest, ShortCatalogueIsLandscapeAndPutsTheOrientationBack) {
    ASSERT_TRUE(frame->execute(gui::browser_cmd::ShortCatalogue));
    EXPECT_EQ(dialogs, 1);
    const std::string bytes = pdf_bytes();
    ASSERT_EQ(bytes.rfind("%PDF", 0), 0u);
    EXPECT_EQ(pdf_page_count(bytes), 1);
    EXPECT_TRUE(pdf_is_landscape(bytes));
    EXPECT_TRUE(frame->list_view()->short_catalogue());
    // Put back to what it was, not forced to portrait.
    EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Portrait);
    fw::print_setup().orientation = fw::PageOrientation::Landscape;
    ASSERT_TRUE(frame->execute(gui::browser_cmd::ShortCatalogue));
    EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Landscape);
}

TEST_F(CataloguePrintTest, LongCataloguePrintsABlockPerReportOverSeveralPages) {
    ASSERT_TRUE(frame->execute(gui::browser_cmd::LongCatalogue));
    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(frame->list_view()->short_catalogue());
    const std::string bytes = pdf_bytes();
    ASSERT_EQ(bytes.rfind("%PDF", 0), 0u);
    const int pages = pdf_page_count(bytes);
    // Thirteen blocks of about thirty lines each do not fit on one page, nor take one each.
    EXPECT_GT(pages, 1);
    EXPECT_LT(pages, 13);
    EXPECT_FALSE(pdf_is_landscape(bytes));

    // Two copies on a printer that cannot make them: the whole job twice.
    fs::remove(pdf);
    copies = 2;
    ASSERT_TRUE(frame->execute(gui::browser_cmd::LongCatalogue));
    EXPECT_EQ(pdf_page_count(pdf_bytes()), 2 * pages);
}

TEST_F(CataloguePrintTest, PreviewShowsTheCatalogueOfTheKindPrintedLast) {
    const auto close_soon = [] {
        QTimer::singleShot(50, [] {
            if (QWidget* preview = QApplication::activeModalWidget()) preview->close();
        });
    };
    // Live from the menu, and it leaves the main window usable again.
    close_soon();
    ASSERT_TRUE(frame->execute(fw::cmd::FilePrintPreview));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(dialogs, 0);

    std::function<void()> closer;
    const auto shown = [&](std::function<void()> close) { closer = std::move(close); };
    QTimer::singleShot(50, [&] {
        if (closer) closer();
    });
    const int long_pages = frame->list_view()->preview_catalogue(shown);
    EXPECT_GT(long_pages, 1);
    EXPECT_FALSE(closer);

    ASSERT_TRUE(frame->execute(gui::browser_cmd::ShortCatalogue));
    QTimer::singleShot(50, [&] {
        if (closer) closer();
    });
    EXPECT_EQ(frame->list_view()->preview_catalogue(shown), 1);
    EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Portrait);
}

TEST_F(CataloguePrintTest, CancelledDialogOrEmptyListPrintsNothing) {
    scripted.shown.clear();
    accept = false;
    EXPECT_EQ(frame->list_view()->print_catalogue(false, true), fw::PrintResult::Cancelled);
    EXPECT_FALSE(fs::exists(pdf));
    accept = true;
    // A search that lists nothing.
    frame->search_box()->setCurrentIndex(2);
    frame->text_box()->setText("nobody");
    emit frame->text_box()->editingFinished();
    ASSERT_EQ(frame->list_view()->list_model().item_count(), 0);
    EXPECT_EQ(frame->list_view()->print_catalogue(true, true), fw::PrintResult::Printed);
    EXPECT_FALSE(fs::exists(pdf));
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(CataloguePrintTest, PrintDirectSkipsTheDialog) {
    // Never print on a real printer from a test.
    if (!QPrinterInfo::defaultPrinter().isNull()) GTEST_SKIP() << "a default printer is installed";
    scripted.shown.clear();
    ASSERT_TRUE(frame->execute(gui::browser_cmd::PrintDirect));
    EXPECT_EQ(dialogs, 0);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, fw::kNoPrinterSetUp);
}

class ReportPrintTest : public PrintUiTest {
protected:
    void SetUp() override {
        PrintUiTest::SetUp();
        // The audit log of a report folder lies beside it, in the archive folder.
        archive = fs::path(root.path()) / "ARCH";
        report = archive / "R.IMG";
        uitest::write_file(report / "VERSION.TXT", "V8.006\r\n");
        uitest::write_file(report / "SUMMARY.TXT", "x\r\n");
        uitest::write_file(report / "PAGE.0", text_record(0, 0, "zero"));
        for (int n = 1; n <= 3; ++n)
            uitest::write_file(report / ("PAGE." + std::to_string(n)),
                               text_record(3200, 6400, "Page " + std::to_string(n)));
        start();
        TolbexSettings logging = core->settings();
        logging.switches.logging_enabled = true;
        core->set_settings(logging);
        doc = gui::open_report(report.string());
        ASSERT_NE(doc, nullptr);
        ASSERT_EQ(doc->core().page_count(), 3);
        doc->core().set_report_name("Test report");
    }
    std::vector<std::string> audit_messages() const {
        std::vector<std::string> out;
        for (const auto& r :
             read_audit_log_file(AuditLog::make_file_name(archive.string(), platform::system().now())).records)
            out.push_back(r.message);
        return out;
    }
    static bool any_print_record(const std::vector<std::string>& messages) {
        for (const auto& m : messages)
            if (m.rfind("Print report - Test report", 0) == 0) return true;
        return false;
    }
    fs::path archive, report;
    gui::CPellarnDoc* doc = nullptr;
};

TEST_F(ReportPrintTest, PrintThroughTheDialogWithRangeAndDuplicates) {
    ASSERT_TRUE(doc->execute(fw::cmd::FilePrint));
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(dialog_max, 3);
    EXPECT_EQ(pdf_page_count(pdf_bytes()), 3);
    EXPECT_TRUE(any_print_record(audit_messages()));

    // Pages 2..3 from the dialog, pages up to 2 twice as the command line asked.
    fs::remove(pdf);
    from = 2;
    to = 3;
    core->set_print_duplicate_limit(2);
    ASSERT_TRUE(doc->execute(fw::cmd::FilePrint));
    EXPECT_EQ(pdf_page_count(pdf_bytes()), 3);
}

// A window shows what there is of a report with a damaged page; it prints none of it.
TEST_F(ReportPrintTest, AReportWithADamagedPageIsNotPrinted) {
    const fs::path damaged = archive / "D.IMG";
    uitest::write_file(damaged / "PAGE.2", "");
    for (const char* name : {"VERSION.TXT", "SUMMARY.TXT", "PAGE.0", "PAGE.1", "PAGE.3"})
        fs::copy_file(report / name, damaged / name);
    gui::CPellarnDoc* d = gui::open_report(damaged.string());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->core().page_count(), 2);
    scripted.shown.clear();
    ASSERT_TRUE(d->execute(fw::cmd::FilePrint));
    EXPECT_EQ(dialogs, 0);
    EXPECT_FALSE(fs::exists(pdf));
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_NE(scripted.shown[0].text.find("PAGE.2"), std::string::npos) << scripted.shown[0].text;
}

TEST_F(ReportPrintTest, CancelledPrintLeavesNoAuditRecord) {
    scripted.shown.clear();
    accept = false;
    ASSERT_TRUE(doc->execute(fw::cmd::FilePrint));
    EXPECT_FALSE(fs::exists(pdf));
    EXPECT_FALSE(any_print_record(audit_messages()));
    EXPECT_TRUE(scripted.shown.empty());
}

TEST_F(ReportPrintTest, NoAuditLogNoPrint) {
    // A folder where the log file should be: the log cannot be opened.
    fs::create_directories(AuditLog::make_file_name(archive.string(), platform::system().now()));
    scripted.shown.clear();
    ASSERT_TRUE(doc->execute(fw::cmd::FilePrint));
    EXPECT_EQ(dialogs, 0);
    EXPECT_FALSE(fs::exists(pdf));
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown.back().text, kPrintNoLogMessage);
}

TEST_F(ReportPrintTest, PreviewOpensAndTheMainWindowCloseOnlyLeavesIt) {
    CMainFrame* main = windows->main_frame();
    ASSERT_NE(main, nullptr);
    bool was_in_preview = false, main_closed = true;
    QTimer::singleShot(50, [&] {
        was_in_preview = main->in_preview();
        main_closed = main->close();
    });
    ASSERT_TRUE(doc->execute(fw::cmd::FilePrintPreview));
    EXPECT_TRUE(was_in_preview);
    EXPECT_FALSE(main_closed);
    EXPECT_FALSE(main->in_preview());
    EXPECT_EQ(dialogs, 0);
    EXPECT_FALSE(any_print_record(audit_messages()));
}

// The preview draws every page of a source through the print loop's page calls.
class CountingPages : public fw::PageSource {
public:
    int page_count() const override { return 4; }
    void begin_printing(bool preview) override { previews += preview ? 1 : 0; }
    void print_page(fw::DrawContext& dc, int number, const fw::Rc& page) override {
        EXPECT_EQ(dc.kind(), fw::DrawContext::Kind::Preview);
        EXPECT_GT(page.width(), 0);
        drawn.push_back(number);
    }
    int previews = 0;
    std::vector<int> drawn;
};

TEST_F(PrintUiTest, PreviewDrawsThePagesAndCloses) {
    CountingPages pages;
    fw::PrintJobOptions options;
    options.document_name = "Counting";
    std::function<void()> closer;
    options.preview_shown = [&](std::function<void()> close) { closer = std::move(close); };
    QTimer::singleShot(50, [&] {
        if (closer) closer();
    });
    EXPECT_EQ(fw::run_print_preview(pages, options), 4);
    EXPECT_FALSE(closer);
    EXPECT_GE(pages.previews, 1);
    ASSERT_GE(pages.drawn.size(), 4u);
    EXPECT_EQ(std::vector<int>(pages.drawn.end() - 4, pages.drawn.end()), (std::vector<int>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Records the page calls of a job printed straight into a PDF file.
class OrderPages : public fw::PageSource {
public:
    explicit OrderPages(int count) : count_(count) {}
    int page_count() const override { return count_; }
    void begin_printing(bool preview) override {
        EXPECT_FALSE(preview);
        ++begun;
    }
    void print_page(fw::DrawContext& dc, int number, const fw::Rc&) override {
        EXPECT_EQ(dc.kind(), fw::DrawContext::Kind::Printer);
        order.push_back(number);
    }
    void end_printing() override { ++ended; }
    int begun = 0, ended = 0;
    std::vector<int> order;

private:
    int count_;
};

TEST_F(PrintUiTest, DirectJobToAFileFollowsRangeDirectionAndDuplicates) {
    OrderPages pages(4);
    fw::PrintJobOptions options;
    options.show_dialog = false;
    options.show_progress = true;
    options.output_file = pdf;
    options.first_page = 3;
    options.last_page = 1;
    options.duplicate_limit = 2;
    const fw::PrintOutcome outcome = fw::run_print_job(pages, options);
    ASSERT_EQ(outcome.result, fw::PrintResult::Printed) << outcome.error;
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(pages.order, (std::vector<int>{3, 2, 2, 1, 1}));
    EXPECT_EQ(outcome.pages, 5);
    EXPECT_EQ(pdf_page_count(pdf_bytes()), 5);
    EXPECT_EQ(pages.begun, 1);
    EXPECT_EQ(pages.ended, 1);

    // No pages: no document is started, no file is left.
    fs::remove(pdf);
    OrderPages none(0);
    EXPECT_EQ(fw::run_print_job(none, options).result, fw::PrintResult::Printed);
    EXPECT_FALSE(fs::exists(pdf));
    EXPECT_EQ(none.ended, 1);

    // An output file that cannot be made fails without pretending success.
    options.output_file = root.path() + "/no/such/folder/x.pdf";
    const fw::PrintOutcome bad = fw::run_print_job(pages, options);
    EXPECT_EQ(bad.result, fw::PrintResult::Failed);
    EXPECT_EQ(bad.error, fw::kPrintFailedToStart);
}

}  // namespace
}  // namespace tv
