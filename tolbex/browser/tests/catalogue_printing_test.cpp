// The report catalogue's pages laid out on the recording context (72 dpi: 10-point font of em 10,
// line height 11, character width 5), and the page order of the print loop.
#include "tolbex/browser/catalogue_printing.h"

#include <cstdlib>

#include "framework/core/recording_draw_context.h"
#include "tolbex/browser/browser_list_core.h"
#include "tolbex/browser/browser_list_model.h"
#include "tolbex/browser/tests/browser_test_group.h"

namespace tv {
namespace {

using namespace testing_root;

struct FakeRow {
    FakeRow(std::string a, std::string n, std::string d = "d", std::string s = "1", std::string ty = "Full",
            std::string det = {})
        : archive(std::move(a)),
          name(std::move(n)),
          date(std::move(d)),
          size(std::move(s)),
          type(std::move(ty)),
          details(std::move(det)) {}
    std::string archive, name, date, size, type, details;
    PatientTxt patient;
};

class FakeRows : public CatalogueRows {
public:
    std::vector<FakeRow> rows;
    std::int32_t count() const override { return static_cast<std::int32_t>(rows.size()); }
    std::string column_text(std::int32_t item, int column) const override {
        const FakeRow& r = rows.at(static_cast<std::size_t>(item));
        switch (column) {
            case kColumnName: return r.name;
            case kColumnArchive: return r.archive;
            case kColumnDate: return r.date;
            case kColumnSize: return r.size;
            case kColumnType: return r.type;
            default: return {};
        }
    }
    PatientTxt patient(std::int32_t item) const override { return rows.at(static_cast<std::size_t>(item)).patient; }
    std::string details_text(std::int32_t item) const override {
        return rows.at(static_cast<std::size_t>(item)).details;
    }
};

// The text lines of one page.
std::vector<std::string> page_texts(CataloguePrinter& printer, int number, fw::Rc page) {
    fw::RecordingDrawContext dc({page.r, page.b}, {72, 72});
    printer.print_page(dc, number, page);
    std::vector<std::string> out;
    for (const std::string& c : dc.commands())
        if (c.rfind("text ", 0) == 0) out.push_back(c);
    return out;
}

// Every page of a job until the printer says it is done.
std::vector<std::vector<std::string>> all_pages(CataloguePrinter& printer, fw::Rc page) {
    std::vector<std::vector<std::string>> pages;
    printer.begin_printing(false);
    for (int n = 1; printer.continue_printing(n) && n < 100; ++n) pages.push_back(page_texts(printer, n, page));
    return pages;
}

std::string unknown_line(const std::string& name) {
    return name + ", d, Full, Recording: <unknown>, Recorded <unknown>, Analysed <unknown>";
}

class CatalogueTest : public RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        // The C locale's short date is %m/%d/%y.
        ::setenv("LC_ALL", "C", 1);
    }
    void TearDown() override {
        ::unsetenv("LC_ALL");
        RootTest::TearDown();
    }
};

TEST_F(CatalogueTest, ShortLineForms) {
    PatientTxt p;
    p.m_loaded = true;
    p.m_name = "JOHN SMITH";
    p.m_patient_number = "PN1";
    p.m_recording_id = "REC01";
    p.m_recording_date = {PatientDate::Status::Valid, 2024, 1, 2, 10, 0, 0};
    // Description equal to the patient name (any case): the patient number follows in brackets.
    EXPECT_EQ(short_catalogue_line("John Smith", "02/01/24 10:00", "Full", p),
              "John Smith (PN1), 02/01/24 10:00, Full, Recording: REC01, Recorded 01/02/24, Analysed <unknown>");
    EXPECT_EQ(short_catalogue_line("Other", "x", "Full", p),
              "Other, x, Full, Recording: REC01, Recorded 01/02/24, Analysed <unknown>");
    // Blank texts and a blank patient number print as unknown.
    p.m_patient_number = "  ";
    p.m_recording_id.clear();
    EXPECT_EQ(short_catalogue_line("john smith", " ", "", p),
              "john smith (<unknown>), <unknown>, <unknown>, Recording: <unknown>, Recorded 01/02/24, Analysed "
              "<unknown>");
    // No PATIENT.TXT: every value unknown, and a name can never match.
    EXPECT_EQ(short_catalogue_line("Ann", "d", "Full", PatientTxt{}), unknown_line("Ann"));
    EXPECT_EQ(catalogue_date_text(PatientDate{}), "<unknown>");
    EXPECT_EQ(catalogue_date_text({PatientDate::Status::Valid, 1999, 12, 31, 0, 0, 0}), "12/31/99");
}

TEST_F(CatalogueTest, ShortPagesBreakAndRepeatTheArchiveHeading) {
    FakeRows rows;
    for (const char* n : {"Ann", "Bob"}) rows.rows.push_back({"A", n});
    for (const char* n : {"Cid", "Dan", "Eve", "Fay"}) rows.rows.push_back({"B", n});
    CataloguePrinter printer(rows, "Archives in folder /g", true);
    auto pages = all_pages(printer, {0, 0, 500, 100});
    ASSERT_EQ(pages.size(), 2u);
    // The archive changes with too little room for a heading and five lines: the page ends.
    EXPECT_EQ(pages[0],
              (std::vector<std::string>{"text (0,0) \"Archives in folder /g,  page 1\"", "text (0,22) \"Archive: A\"",
                                        "text (0,44) \"" + unknown_line("Ann") + "\"",
                                        "text (0,55) \"" + unknown_line("Bob") + "\""}));
    EXPECT_EQ(pages[1],
              (std::vector<std::string>{"text (0,0) \"Archives in folder /g,  page 2\"", "text (0,22) \"Archive: B\"",
                                        "text (0,44) \"" + unknown_line("Cid") + "\"",
                                        "text (0,55) \"" + unknown_line("Dan") + "\"",
                                        "text (0,66) \"" + unknown_line("Eve") + "\"",
                                        "text (0,77) \"" + unknown_line("Fay") + "\""}));
    EXPECT_FALSE(printer.continue_printing(3));

    // With room, the new heading follows one empty line on the same page.
    pages = all_pages(printer, {0, 0, 500, 200});
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].size(), 9u);
    EXPECT_EQ(pages[0][4], "text (0,77) \"Archive: B\"");
    EXPECT_EQ(pages[0][5], "text (0,99) \"" + unknown_line("Cid") + "\"");
    EXPECT_EQ(pages[0][8], "text (0,132) \"" + unknown_line("Fay") + "\"");
}

TEST_F(CatalogueTest, ShortHeadingRepeatedOnEachPageOfOneArchive) {
    FakeRows rows;
    for (int i = 0; i < 7; ++i) rows.rows.push_back({"STANDARD", "R" + std::to_string(i)});
    CataloguePrinter printer(rows, "T", true);
    const auto pages = all_pages(printer, {0, 0, 500, 100});
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[0].size(), 7u);  // title, heading, five lines (the last ends at 99)
    EXPECT_EQ(pages[0][6], "text (0,88) \"" + unknown_line("R4") + "\"");
    ASSERT_EQ(pages[1].size(), 4u);
    EXPECT_EQ(pages[1][1], "text (0,22) \"Archive: STANDARD\"");
    EXPECT_EQ(pages[1][3], "text (0,55) \"" + unknown_line("R6") + "\"");
}

TEST_F(CatalogueTest, FirstLineOfAPageIsPrintedEvenWhenItDoesNotFit) {
    FakeRows rows;
    rows.rows = {{"A", "Ann"}, {"A", "Bob"}};
    CataloguePrinter printer(rows, "T", true);
    // A page only as high as the page heading: still one report a page, never an endless job.
    const auto pages = all_pages(printer, {0, 0, 500, 20});
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].back(), "text (0,44) \"" + unknown_line("Ann") + "\"");
    EXPECT_EQ(pages[1].back(), "text (0,44) \"" + unknown_line("Bob") + "\"");
}

TEST_F(CatalogueTest, EmptyListPrintsNothing) {
    FakeRows rows;
    for (bool short_catalogue : {true, false}) {
        CataloguePrinter printer(rows, "T", short_catalogue);
        printer.begin_printing(false);
        EXPECT_FALSE(printer.continue_printing(1));
    }
}

TEST_F(CatalogueTest, LongBlocksPageBreaksAndTheTallBlockCut) {
    FakeRows rows;
    rows.rows.push_back({"A", "Ann", "d", "100", "Full", "Line one\nLine two"});
    rows.rows.push_back({"A", "Bob", "d", "200", "Holter", "x"});
    std::string tall;
    for (int i = 0; i < 30; ++i) tall.append("L").append(std::to_string(i)).append("\n");
    rows.rows.push_back({"B", "Cid", "d", "300", "Full", tall});
    rows.rows.push_back({"B", "Dan", "d", "4", "Full", "aaaa bbbb cccc dddd eeee ffff"});
    CataloguePrinter printer(rows, "T", false);
    auto pages = all_pages(printer, {0, 0, 500, 200});
    ASSERT_EQ(pages.size(), 4u);
    // Block: five tabbed lines, "Patient Details:", the details from seven lines down.
    EXPECT_EQ(pages[0], (std::vector<std::string>{"text (0,0) \"T,  page 1\"", "text (0,22) \"Archive:\tA\"",
                                                  "text (0,33) \"Report:\tAnn\"", "text (0,44) \"Date:\td\"",
                                                  "text (0,55) \"Size:\t100\"", "text (0,66) \"Type:\tFull\"",
                                                  "text (0,77) \"Patient Details:\"", "text (0,99) \"Line one\"",
                                                  "text (0,109) \"Line two\""}));
    // The second block (88 + 10 high) does not fit below the first (which ends at 131).
    EXPECT_EQ(pages[1][1], "text (0,22) \"Archive:\tA\"");
    EXPECT_EQ(pages[1][2], "text (0,33) \"Report:\tBob\"");
    ASSERT_EQ(pages[1].size(), 8u);
    // The block taller than a page stands alone, its details cut at the page bottom.
    ASSERT_EQ(pages[2].size(), 1u + 6u + 10u);
    EXPECT_EQ(pages[2][7], "text (0,99) \"L0\"");
    EXPECT_EQ(pages[2].back(), "text (0,189) \"L9\"");
    EXPECT_EQ(pages[3][2], "text (0,33) \"Report:\tDan\"");

    // Details are measured with word wrap at the page width (20 characters here).
    pages = all_pages(printer, {0, 0, 100, 400});
    ASSERT_EQ(pages.size(), 3u);
    const std::vector<std::string>& last = pages.back();
    ASSERT_EQ(last.size(), 9u);
    EXPECT_EQ(last[7], "text (0,99) \"aaaa bbbb cccc dddd\"");
    EXPECT_EQ(last[8], "text (0,109) \"eeee ffff\"");
}

TEST_F(CatalogueTest, BrowserRowsReadPatientFilesAndDetails) {
    const std::string path =
        make_test_group(t / "G", {{"STANDARD", "STANDARD", {{"A1.FUL", "John Smith"}, {"A2.FUL", "Other"}}},
                                  {"X", "Second", {{"B1.FUL", "Gone", "Wed Jan 02 02:03:55 1980", "1", false}}}});
    {
        BrowserListCore doc;
        ASSERT_TRUE(doc.open_document(path));
        BrowserListModel list(doc);
        list.update();
        list.sort(kColumnName, true);
        BrowserCatalogueRows rows(list, doc);
        ASSERT_EQ(rows.count(), 3);
        EXPECT_EQ(rows.column_text(0, kColumnName), "Gone");
        EXPECT_FALSE(rows.patient(0).m_loaded);  // no report folder
        const PatientTxt p = rows.patient(1);
        ASSERT_TRUE(p.m_loaded);
        EXPECT_EQ(short_catalogue_line("John Smith", "d", "Full", p),
                  "John Smith (PN1), d, Full, Recording: ABCD1234566, Recorded 01/01/24, Analysed 01/02/24");
        EXPECT_EQ(rows.details_text(2), doc.get_details_text(list.row_of_item(2)));
        EXPECT_NE(rows.details_text(2).find("Other"), std::string::npos);
    }
}

TEST(PageSequence, RangesDuplicatesAndDirection) {
    auto pages = [](const fw::PageSequence& s) {
        std::vector<int> out;
        for (int p = s.next(0); p != 0 && out.size() < 50; p = s.next(p))
            for (int c = 0; c < s.copies(p); ++c) out.push_back(p);
        return out;
    };
    EXPECT_EQ(pages(fw::make_page_sequence(0, 0, 2, 3)), (std::vector<int>{1, 1, 2, 2, 3}));
    EXPECT_EQ(pages(fw::make_page_sequence(3, 1, 0, 5)), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(pages(fw::make_page_sequence(-4, 99, 0, 2)), (std::vector<int>{1, 2}));
    EXPECT_EQ(pages(fw::make_page_sequence(2, 2, 0, 4)), (std::vector<int>{2}));
    // Unknown length: open from page 1, the source decides where it ends.
    const fw::PageSequence open = fw::make_page_sequence(3, 4, 0, 0);
    EXPECT_EQ(open.next(0), 1);
    EXPECT_EQ(open.next(41), 42);
}

TEST(PrintOrientation, RestoredToWhatItWasBefore) {
    fw::print_setup().orientation = fw::PageOrientation::Landscape;
    {
        fw::ScopedPrintOrientation landscape(fw::PageOrientation::Landscape);
        EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Landscape);
    }
    // Not forced back to portrait.
    EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Landscape);
    fw::print_setup().orientation = fw::PageOrientation::Portrait;
    {
        fw::ScopedPrintOrientation landscape(fw::PageOrientation::Landscape);
        EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Landscape);
    }
    EXPECT_EQ(fw::print_setup().orientation, fw::PageOrientation::Portrait);
}

}  // namespace
}  // namespace tv
