// "/convert", "/print" and "/printto" as the analysis system runs them: hidden, no window.
#include <functional>
#include <random>

#include <sys/stat.h>

#include "common/bytes.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tolbex/tests/cli_fixture.h"
#include "tools/demo/emf_writer.h"

namespace cli {
namespace {

// A page record in the page-file layout.
std::string record(std::uint32_t type, const std::vector<std::int64_t>& words, const std::string& tail = "") {
    std::string payload;
    for (auto w : words) tv::append_le32(payload, static_cast<std::uint32_t>(w));
    payload += tail;
    std::string o;
    tv::append_le32(o, static_cast<std::uint32_t>(payload.size() + 16));
    tv::append_le32(o, 0);
    tv::append_le32(o, 0);
    tv::append_le32(o, 0);
    tv::append_le32(o, type);
    return o + payload;
}

std::string hline(std::int64_t x1, std::int64_t x2, std::int64_t y) { return record(62, {2, x1, y, x2, y}); }
std::string text(std::int64_t x, std::int64_t y, const std::string& s) {
    return record(63, {x, y, static_cast<std::int64_t>(s.size())}, s);
}

class ReportCliTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        r = t / "R.IMG";
        write_file(r / "VERSION.TXT", "V8.006\r\n");
        write_file(r / "SUMMARY.TXT", "x\r\n");
        write_file(r / "PAGE.0", record(17, {1, 3}, "abc"));
        out = t / "OUT";
        fs::create_directories(out);
    }
    // The folder where the PDF printers write, set in the user's profile.
    fs::path use_pdf_folder() {
        write_hive(root / "user" / "registry" / "HKCU.reg",
                   "[Software\\Torvane Medical\\Calvera\\Pelwin]\r\n\"PDF Output Folder\"=\"" + (t / "pdf").string() +
                       "\"\r\n");
        return t / "pdf";
    }
    fs::path r, out;
};

TEST_F(ReportCliTest, ConvertWritesTheRtfOfThePageFiles) {
    write_file(r / "PAGE.1", text(3200, 6400, "Hello") + hline(0, 200352, 3200));
    const RunResult run_result = run({"/convert", (r / "SUMMARY.TXT").string(), out.string(), "RTF"});
    ASSERT_EQ(run_result.code, 0) << run_result.err;
    EXPECT_EQ(read_file(out / "REPORT.RTF"),
              "{\\rtf1\\ansi\r\n\\paperw12240\\paperh15840\r\n\\margl600\\margr600\r\n\\margt500\\margb500\r\n"
              "\\gutter0\r\n\\par \\pard \\pvmrg\\phmrg\\fs16\\posx176\\posy172 Hello\r\n{\r\n"
              "\\*\\do\\dobxmargin\\dobymargin\\dodhgt8275\r\n\\dppolyline\\dppolycount2\r\n\\dpptx0\\dppty165\r\n"
              "\\dpptx11040\\dppty165\r\n\\dpxsize8275\\dpysize8275\r\n"
              "\\dplinesolid\\dplinew15\\dplinecor0\\dplinecog0\\dplinecob0\r\n}\r\n}\r\n");
    EXPECT_TRUE(temp_leftovers().empty());

    // Text that would break the RTF comes out escaped.
    write_file(r / "PAGE.1", text(3200, 6400, "a{b}\\c"));
    ASSERT_EQ(run({"/convert", r.string(), out.string(), "rtf"}).code, 0);
    EXPECT_NE(read_file(out / "REPORT.RTF").find(" a\\{b\\}\\\\c\r\n"), std::string::npos);
}

TEST_F(ReportCliTest, ConvertWritesMonochromePictures) {
    write_file(r / "PAGE.1", hline(0, 200352, 3200));
    write_file(r / "PAGE.2", record(17, {1, 3}, "abc"));  // a label only: a white page
    ASSERT_EQ(run({"/convert", r.string(), out.string(), "PCX"}).code, 0);
    const std::string pcx = read_file(out / "PAGE0001.PCX");
    ASSERT_EQ(pcx.size(), 35328u);
    EXPECT_EQ(pcx.substr(0, 16), std::string("\x0a\x03\x01\x01\x00\x00\x00\x00\xbf\x09\xbf\x0d\xbf\x09\xbf\x0d", 16));
    const std::string white("\xff\xff\xff\xff\xff\xff\xff\xff\xfc\xff", 10);
    const std::string black("\xff\x00\xff\x00\xff\x00\xff\x00\xfc\x00", 10);
    for (int line = 0; line < 3520; ++line)
        ASSERT_EQ(pcx.substr(128 + 10 * static_cast<std::size_t>(line), 10), line == 39 ? black : white) << line;
    EXPECT_EQ(read_file(out / "PAGE0002.PCX").size(), 35328u);

    ASSERT_EQ(run({"/convert", r.string(), out.string(), "BMP"}).code, 0);
    const std::string bmp = read_file(out / "PAGE0001.BMP");
    ASSERT_EQ(bmp.size(), 1098302u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<unsigned char>(bmp[10]), 62);
    // Rows are stored bottom-up: top row 39 is stored row 3480.
    for (int top = 0; top < 3520; top += 1) {
        const std::string row = bmp.substr(62 + 312 * static_cast<std::size_t>(3519 - top), 312);
        ASSERT_EQ(row, std::string(312, top == 39 ? '\x00' : '\xff')) << top;
    }
}

TEST_F(ReportCliTest, ConvertOfAMissingReportFails) {
    EXPECT_EQ(run({"/convert", (t / "nothing" / "SUMMARY.TXT").string(), out.string(), "RTF"}).code, 1);
    EXPECT_FALSE(fs::exists(out / "REPORT.RTF"));
}

TEST_F(ReportCliTest, PrintToThePdfPrinterRepeatsTheFirstPages) {
    write_file(r / "PAGE.1", hline(0, 10000, 6400));
    write_file(r / "PAGE.2", text(3200, 6400, "two"));
    write_file(r / "PAGE.3", text(3200, 6400, "three"));
    const fs::path pdf_folder = t / "pdf";
    write_hive(root / "user" / "registry" / "HKCU.reg",
               "[Software\\Torvane Medical\\Calvera\\Pelwin]\r\n\"PDF Printer Name\"=\"PDF File\"\r\n"
               "\"PDF Output Folder\"=\"" +
                   pdf_folder.string() + "\"\r\n");
    const RunResult res = run({"/printto", r.string(), "0", "0", "1", "2", "NJob Title", "PDF File"});
    ASSERT_EQ(res.code, 0) << res.err;
    const std::string pdf = read_file(pdf_folder / "Job Title.pdf");
    ASSERT_EQ(pdf.rfind("%PDF", 0), 0u);
    EXPECT_NE(pdf.find("/Count 5"), std::string::npos);

    // A printer that does not exist: failure, exit code 1.
    EXPECT_EQ(run({"/printto", r.string(), "0", "0", "1", "0", "N", "No Such Printer 42"}).code, 1);
}

// The PDF's name is the title in the file system's bytes, whether the caller gave it in
// Windows-1252 (as the analysis system does) or in UTF-8 (as a terminal does).
TEST_F(ReportCliTest, PrintToThePdfPrinterNamesThePdfAfterANonAsciiTitle) {
    write_file(r / "PAGE.1", text(3200, 6400, "one"));
    const fs::path pdf_folder = use_pdf_folder();
    for (const char* title : {"M\xFCller, J\xF6rg", "M\xC3\xBCller, J\xC3\xB6rg"}) {
        SCOPED_TRACE(title);
        fs::remove_all(pdf_folder);
        const RunResult res = run({"/printto", r.string(), "0", "0", "1", "0", std::string("N") + title, "Adobe PDF"});
        ASSERT_EQ(res.code, 0) << res.err;
        EXPECT_EQ(read_file(pdf_folder / "M\xC3\xBCller, J\xC3\xB6rg.pdf").rfind("%PDF", 0), 0u);
        EXPECT_EQ(std::distance(fs::directory_iterator(pdf_folder), {}), 1) << "nothing else, no .part";
    }
}

// The files of a folder whose names end so.
std::vector<std::string> files_ending(const fs::path& folder, const std::string& end) {
    std::vector<std::string> names;
    if (fs::is_directory(folder))
        for (auto& e : fs::directory_iterator(folder)) {
            const std::string n = e.path().filename().string();
            if (n.size() >= end.size() && n.compare(n.size() - end.size(), end.size(), end) == 0) names.push_back(n);
        }
    std::sort(names.begin(), names.end());
    return names;
}

class TwelveLeadCliTest : public ReportCliTest {
protected:
    void SetUp() override {
        ReportCliTest::SetUp();
        use_pdf_folder();
        // No page file: the report is its 12-lead section, a contents page and two strips.
        tv::EmfWriter w({300, 300});
        w.polyline({{0, 0}, {300, 300}});
        const std::string emf = w.finish();
        for (const char* name : {"R-128-60.emf", "R-256-61.emf"}) write_file(r / name, emf);
        write_file(r / "emflist.dat",
                   tv::testing::emf_list({{"R-128-60.emf", "Strip"}, {"R-256-61.emf", "Rhythm"}}, 2));
    }
    RunResult convert() { return run({"/convert", r.string(), out.string(), "BMP"}); }
    RunResult print() { return run({"/printto", r.string(), "0", "0", "1", "0", "NTwelve", "Adobe PDF"}); }
    const fs::path pdf_folder = t / "pdf";
};

TEST_F(TwelveLeadCliTest, AWholeReportConvertsAndPrints) {
    const RunResult c = convert();
    ASSERT_EQ(c.code, 0) << c.err;
    EXPECT_EQ(files_ending(out, ".BMP"), (std::vector<std::string>{"PAGE0001.BMP", "PAGE0002.BMP", "PAGE0003.BMP"}));
    const RunResult p = print();
    ASSERT_EQ(p.code, 0) << p.err;
    EXPECT_NE(read_file(pdf_folder / "Twelve.pdf").find("/Count 3"), std::string::npos);
}

// What the pages would leave out makes the run fail, with nothing written or printed.
TEST_F(TwelveLeadCliTest, ADamagedReportIsNeitherConvertedNorPrinted) {
    const std::string list = read_file(r / "emflist.dat");
    const struct {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"no list", [&] { fs::remove(r / "emflist.dat"); }},
        {"a list of 7 bytes", [&] { write_file(r / "emflist.dat", list.substr(0, 7)); }},
        {"a list cut in its second entry", [&] { write_file(r / "emflist.dat", list.substr(0, list.size() - 3)); }},
        {"a list that claims more entries",
         [&] { write_file(r / "emflist.dat", list.substr(0, 25) + std::string("\x03", 1) + list.substr(26)); }},
        {"a metafile missing", [&] { fs::remove(r / "R-256-61.emf"); }},
        {"a metafile that is none", [&] { write_file(r / "R-128-60.emf", "not a metafile"); }},
    };
    const std::string emf = read_file(r / "R-128-60.emf");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(r / "emflist.dat", list);
        for (const char* name : {"R-128-60.emf", "R-256-61.emf"}) write_file(r / name, emf);
        c.damage();
        fs::remove_all(out);
        fs::create_directories(out);
        fs::remove_all(pdf_folder);
        const RunResult converted = convert();
        EXPECT_NE(converted.code, 0);
        EXPECT_NE(converted.err, "");
        EXPECT_TRUE(fs::is_empty(out));
        const RunResult printed = print();
        EXPECT_NE(printed.code, 0);
        EXPECT_NE(printed.err, "");
        EXPECT_TRUE(files_ending(pdf_folder, "").empty());
    }
}

// A page that cannot be read makes every output of the report fail, naming the page, before
// anything is written or printed: never a report with a page left out.
TEST_F(ReportCliTest, ADamagedPageMakesNoOutput) {
    const fs::path pdf_folder = use_pdf_folder();
    std::string random(4096, '\0');
    std::mt19937 rng(11);
    for (char& c : random) c = static_cast<char>(rng() & 0xFF);
    const struct {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"random bytes", [&] { write_file(r / "PAGE.2", random); }},
        {"empty", [&] { write_file(r / "PAGE.2", ""); }},
        {"cut inside a record", [&] { write_file(r / "PAGE.2", text(3200, 6400, "two").substr(0, 30)); }},
        {"deleted, a later page there", [&] { fs::remove(r / "PAGE.2"); }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo((r / "PAGE.2").c_str(), 0644), 0); }},
        {"a link", [&] { fs::create_symlink(r / "PAGE.1", r / "PAGE.2"); }},
        {"a folder", [&] { fs::create_directory(r / "PAGE.2"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* n : {"PAGE.1", "PAGE.2", "PAGE.3"}) fs::remove_all(r / n);
        write_file(r / "PAGE.1", text(3200, 6400, "one"));
        write_file(r / "PAGE.3", text(3200, 6400, "three"));
        c.damage();
        fs::remove_all(pdf_folder);
        const RunResult printed = run({"/printto", r.string(), "0", "0", "1", "0", "NDamaged", "Adobe PDF"});
        EXPECT_EQ(printed.code, 1);
        EXPECT_NE(printed.err.find("PAGE.2"), std::string::npos) << printed.err;
        EXPECT_FALSE(fs::exists(pdf_folder / "Damaged.pdf"));
        for (const char* format : {"BMP", "PCX", "RTF"}) {
            fs::remove_all(out);
            fs::create_directories(out);
            const RunResult converted = run({"/convert", r.string(), out.string(), format});
            EXPECT_EQ(converted.code, 1) << format;
            EXPECT_NE(converted.err.find("PAGE.2"), std::string::npos) << format << ": " << converted.err;
            EXPECT_TRUE(fs::is_empty(out)) << format;
        }
    }
}

// A report without a page prints nothing, not a blank page.
TEST_F(ReportCliTest, PrintToOfAReportWithoutPagesFails) {
    const RunResult res = run({"/printto", r.string(), "0", "0", "1", "0", "NEmpty", "Adobe PDF"});
    EXPECT_EQ(res.code, 1);
    EXPECT_NE(res.err.find("no pages"), std::string::npos) << res.err;
    EXPECT_FALSE(fs::exists(root / "user" / "pdf_output"));
}

// An earlier PDF is never replaced: a title seen before (or one alike in its first 31
// characters) gives a PDF of its own beside it.
TEST_F(ReportCliTest, PrintToThePdfPrinterKeepsEarlierPdfs) {
    write_file(r / "PAGE.1", text(3200, 6400, "one"));
    const fs::path pdf_folder = use_pdf_folder();
    const std::string shared = "Holter report of the patient with number ";
    std::vector<std::pair<std::string, std::string>> kept;  // name, bytes
    const std::string titles[] = {shared + "0001", shared + "0002", shared + "0001"};
    for (const std::string& title : titles) {
        const RunResult res = run({"/printto", r.string(), "0", "0", "1", "0", "N" + title, "Adobe PDF"});
        ASSERT_EQ(res.code, 0) << res.err;
        const std::vector<std::string> now = files_ending(pdf_folder, "");
        ASSERT_EQ(now.size(), kept.size() + 1) << title;
        for (const auto& [name, bytes] : kept) EXPECT_EQ(read_file(pdf_folder / name), bytes) << name;
        kept.clear();
        for (const std::string& name : now) kept.emplace_back(name, read_file(pdf_folder / name));
    }
    for (const auto& [name, bytes] : kept) EXPECT_EQ(name.substr(name.size() - 4), ".pdf") << name;
}

}  // namespace
}  // namespace cli
