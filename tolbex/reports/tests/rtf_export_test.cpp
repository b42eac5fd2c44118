#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/rtf_export.h"
#include "tolbex/reports/tests/page_test_support.h"

namespace tv {
namespace {

using testing::words;

class RtfTest : public ::testing::Test {
protected:
    void page(int n, const std::string& bytes) {
        ASSERT_TRUE(platform::atomic_write_file(root.path() + "/PAGE." + std::to_string(n), bytes));
    }
    std::string run(int first = 1, int last = 1000) {
        const std::string out = root.path() + "/out/REPORT.RTF";
        std::filesystem::create_directories(root.path() + "/out");
        EXPECT_TRUE(write_rtf_report(root.path(), out, first, last, false));
        return platform::read_whole_file(out).value_or("");
    }
    platform::testing::TempRoot root;
};

constexpr const char* kHeader =
    "{\\rtf1\\ansi\r\n\\paperw12240\\paperh15840\r\n\\margl600\\margr600\r\n\\margt500\\margb500\r\n\\gutter0\r\n";

TEST_F(RtfTest, SmallReportGolden) {
    page(0, testing::label_record());
    page(1, testing::text_record(3200, 6400, "Hello") + testing::hline_record(0, 200352, 3200));
    EXPECT_EQ(run(), std::string(kHeader) +
                         "\\par \\pard \\pvmrg\\phmrg\\fs16\\posx176\\posy172 Hello\r\n"
                         "{\r\n"
                         "\\*\\do\\dobxmargin\\dobymargin\\dodhgt8275\r\n"
                         "\\dppolyline\\dppolycount2\r\n"
                         "\\dpptx0\\dppty165\r\n"
                         "\\dpptx11040\\dppty165\r\n"
                         "\\dpxsize8275\\dpysize8275\r\n"
                         "\\dplinesolid\\dplinew15\\dplinecor0\\dplinecog0\\dplinecob0\r\n"
                         "}\r\n"
                         "}\r\n");
}

TEST_F(RtfTest, TextIsEscapedAndRepeatsWrittenOnce) {
    page(1, testing::text_record(3200, 6400, "a{b}\\c\xe9") + testing::text_record(3200, 6400, "a{b}\\c\xe9") +
                make_page_record(PageRecordKind::Shape, words({11, 0, 0, 0, 3200, 3200})) +
                testing::text_record(0, 3200,
                                     "\x1b\x01"
                                     "one\r\ntwo"));
    page(2, testing::label_record());
    page(3, "");  // no items: not a page of the document
    page(4, testing::text_record(0, 0, "last"));
    const std::string s = run();
    EXPECT_NE(s.find("\\posy172 a\\{b\\}\\\\c\\'e9\r\n"), std::string::npos) << s;
    EXPECT_EQ(s.find("a\\{b"), s.rfind("a\\{b"));
    // Large text: the first line plain, the last shaded after the grey box.
    EXPECT_NE(
        s.find("\\fs24\\posx0\\posy-72 one\r\n\\par \\pard \\pvmrg\\phmrg\\fs24\\posx0\\posy166\\shading2000 two\r\n"),
        std::string::npos)
        << s;
    // Page 2 (a label only) and page 4 follow with page breaks; page 3 has no items.
    EXPECT_NE(s.find("\\par \\pagebb \r\n\\par \\pagebb \r\n\\par \\pard"), std::string::npos);
    EXPECT_NE(s.find("\\posy-159 last"), std::string::npos) << s;
    // A range of one page with items.
    EXPECT_EQ(run(4, 4), std::string(kHeader) + "\\par \\pard \\pvmrg\\phmrg\\fs16\\posx0\\posy-159 last\r\n}\r\n");
}

TEST(RtfWriterTest, TracePiecesAndDotRules) {
    TraceData t{1 << 30, 0, 0, 0, std::vector<std::uint16_t>(1000, 0)};
    PageItem trace(PageRecordKind::Trace, t);
    RtfWriter w;
    trace.write_rtf(w);
    const std::string& s = w.text();
    std::vector<std::string> counts;
    for (std::size_t at = s.find("dppolycount"); at != std::string::npos; at = s.find("dppolycount", at + 1))
        counts.push_back(s.substr(at + 11, s.find('\n', at) - at - 11));
    EXPECT_EQ(counts, (std::vector<std::string>{"500", "500", "2"}));
    // Exactly 76 rows write nothing; other counts write one dotted line each.
    RtfWriter none, some;
    PageItem(PageRecordKind::DotRows, DotsData{0, 0, 0, 100, std::vector<std::int32_t>(76, 5)}).write_rtf(none);
    EXPECT_EQ(none.text(), "");
    PageItem(PageRecordKind::DotRows, DotsData{0, 0, 0, 100, {5, 6}}).write_rtf(some);
    EXPECT_NE(some.text().find("\\dplinedot\\dplinew2"), std::string::npos);
    // A dotted polyline with a single point writes nothing; pen-ups split both kinds.
    RtfWriter single, split;
    PageItem(PageRecordKind::DottedPolyline, PolylineData{{{1, 1}}}).write_rtf(single);
    EXPECT_EQ(single.text(), "");
    PageItem(PageRecordKind::Polyline,
             PolylineData{{{1, 1}, {2, 2}, {kPenUp, 0}, {3, 3}, {kDividedPenUp, 1}, {4, 4}, {5, 5}}})
        .write_rtf(split);
    EXPECT_EQ(split.text().find("dppolycount2"), split.text().find("dppolycount"));
    EXPECT_EQ(rtf_twips_x(6261), 11040);
    EXPECT_EQ(rtf_twips_y(8957), 14840);
}

TEST(RtfWriterTest, UnwritableOutputIsReported) {
    platform::testing::TempRoot root;
    std::string error;
    EXPECT_FALSE(write_rtf_report(root.path(), root.path() + "/missing/REPORT.RTF", 1, 1, false, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(RtfTest, AnUnreadablePageWritesNoHalfReport) {
    page(1, testing::text_record(0, 0, "one"));
    std::filesystem::create_directories(root.path() + "/PAGE.2");  // there, but no file to read
    page(3, testing::text_record(0, 0, "three"));
    std::string error;
    EXPECT_FALSE(write_rtf_report(root.path(), root.path() + "/REPORT.RTF", 1, 1000, false, &error));
    EXPECT_NE(error.find("PAGE.2"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(root.path() + "/REPORT.RTF"));
}

// Lines break at CR LF, LF CR and a lone LF alike; a lone CR is no break.
TEST_F(RtfTest, EveryKindOfLineEndStartsALine) {
    page(1, testing::text_record(0, 3200, "a\r\nb\n\rc\nd\n\ne\rf"));
    const std::string s = run();
    std::string lines;
    for (std::size_t at = s.find("\\posy"); at != std::string::npos; at = s.find("\\posy", at + 1))
        lines += s.substr(s.find(' ', at) + 1, s.find("\r\n", at) - s.find(' ', at) - 1) + "|";
    EXPECT_EQ(lines, "a|b|c|d||e\rf|");
}

// soffice, when it is installed: its own profile, so that a desktop session is not disturbed.
std::string soffice_program() {
    for (const char* p : {"/usr/bin/soffice", "/usr/local/bin/soffice"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

// The paragraphs LibreOffice reads from an RTF file, each as its text (from the flat ODF it
// converts the file to; its plain-text export leaves positioned paragraphs out).
std::vector<std::string> office_paragraphs(const std::string& rtf, const std::string& work) {
    const std::string command = soffice_program() + " --headless -env:UserInstallation=file://" + work +
                                "/office --convert-to fodt --outdir " + work + "/fodt " + rtf + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const std::string xml = platform::read_whole_file(work + "/fodt/REPORT.fodt").value_or("");
    std::vector<std::string> out;
    for (std::size_t end = xml.find("</text:p>"); end != std::string::npos; end = xml.find("</text:p>", end + 1)) {
        const std::size_t start = xml.rfind("<text:p", end);
        std::string text;
        bool in_tag = false;
        for (std::size_t i = xml.find('>', start) + 1; i < end; ++i) {
            if (xml[i] == '<' || xml[i] == '>')
                in_tag = xml[i] == '<';
            else if (!in_tag)
                text += xml[i];
        }
        out.push_back(text);
    }
    return out;
}

// A note of two lines, as the annotation editor gives it (LF alone), is stored with CR LF and
// reaches the word processor as two lines; so does a page that another program wrote with LF.
TEST_F(RtfTest, TwoLineNotesAreTwoLinesInTheWordProcessor) {
    if (soffice_program().empty()) GTEST_SKIP() << "soffice is not installed";
    std::filesystem::create_directories(root.path() + "/R.IMG");
    const std::string folder = root.path() + "/R.IMG";
    ASSERT_TRUE(platform::atomic_write_file(folder + "/VERSION.TXT", "V8.006\r\n"));
    ASSERT_TRUE(platform::atomic_write_file(folder + "/PAGE.0", testing::label_record()));
    ASSERT_TRUE(platform::atomic_write_file(folder + "/PAGE.1", testing::text_record(3200, 3200, "theirs\nas well")));
    ReportDocument doc;
    ASSERT_TRUE(doc.load(folder, {}));
    ASSERT_GE(doc.add_annotation(0, "first line\nsecond line", 3200, 6400), 0);
    ASSERT_TRUE(doc.save());
    EXPECT_NE(platform::read_whole_file(folder + "/PAGE.1").value_or("").find("first line\r\nsecond line"),
              std::string::npos);
    ASSERT_TRUE(doc.export_rtf(root.path(), "RTF"));

    const std::vector<std::string> paragraphs = office_paragraphs(root.path() + "/REPORT.RTF", root.path());
    for (const char* line : {"theirs", "as well", "first line", "second line"})
        EXPECT_NE(std::find(paragraphs.begin(), paragraphs.end(), line), paragraphs.end()) << line;
}

}  // namespace
}  // namespace tv
