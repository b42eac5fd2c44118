// The report document without a window: loading, annotation round trips through the page files,
// the traced save, confirmation, and the exports it offers the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/audit_log.h"
#include "common/ui.h"
#include "framework/core/recording_draw_context.h"
#include "platform/system.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/reports/metafile_player.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/report_printing.h"
#include "testing/app_test_root.h"
#include "tolbex/reports/tests/page_test_support.h"
#include "tools/demo/emf_writer.h"
#include "tools/demo/page_file_builder.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using testing::hline_record;
using testing::label_record;
using testing::text_record;

std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

const std::string kMarker(
    "\x1d\x00\x00\x00\xad\x00\x00\x00\x56\x00\x00\x00\x64\x00\x00\x00\x3f\x00\x00\x00"
    "\xe0\xff\xff\xff\xe0\xff\xff\xff\x01\x00\x00\x00\x20",
    33);
const std::string kHiRecord = std::string(
                                  "\x1e\x00\x00\x00\xad\x00\x00\x00\x56\x00\x00\x00\x64\x00\x00\x00"
                                  "\x3f\x00\x00\x00\x80\x0c\x00\x00\x00\x19\x00\x00\x02\x00\x00\x00",
                                  32) +
                              "Hi";

class ReportDocumentTest : public testing_root::RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        archive = t / "G" / "STANDARD";
        report = archive / "R.IMG";
        write(report / "VERSION.TXT", "V8.006\r\n");
        write(report / "SUMMARY.TXT", "summary\r\n");
        write(report / "PAGE.0", label_record());
        page1 = text_record(3200, 6400, "Hello") + hline_record(0, 200352, 3200);
        write(report / "PAGE.1", page1);
    }
    std::vector<std::string> audit_messages() const {
        std::vector<std::string> out;
        for (const auto& r :
             read_audit_log_file(AuditLog::make_file_name(archive.string(), platform::system().now())).records)
            out.push_back(r.message);
        return out;
    }
    fs::path archive, report;
    std::string page1;
};

TEST_F(ReportDocumentTest, LoadsPagesInOrderAndFindsTheFolder) {
    write(report / "PAGE.2", std::string());  // empty: dropped
    write(report / "PAGE.3", text_record(0, 0, "three"));
    write(report / "PAGE.5", text_record(0, 0, "after a gap"));  // not reached
    ReportDocument doc;
    ASSERT_TRUE(doc.load((report / "summary.txt").string(), {}));
    EXPECT_EQ(doc.report_folder(), report.string());
    EXPECT_EQ(doc.page_count(), 2);
    EXPECT_FALSE(doc.is_oem());
    EXPECT_FALSE(doc.is_read_only());
    EXPECT_EQ(ReportDocument::folder_of(report.string() + "/SUMMARY.TXT"), report.string());
    EXPECT_EQ(ReportDocument::folder_of(report.string() + "/"), report.string());

    // Only PAGE.0: no pages at all.
    fs::remove(report / "PAGE.1");
    fs::remove(report / "PAGE.2");
    fs::remove(report / "PAGE.3");
    ReportDocument empty;
    ASSERT_TRUE(empty.load(report.string(), {}));
    EXPECT_EQ(empty.page_count(), 0);
}

TEST_F(ReportDocumentTest, ManyPagesLoadInOrderAndTheFirstBadOneIsReported) {
    for (int n = 2; n <= 40; ++n) write(report / ("PAGE." + std::to_string(n)), text_record(0, 0, std::to_string(n)));
    ReportDocument doc;
    ASSERT_TRUE(doc.load(report.string(), {}));
    ASSERT_EQ(doc.page_count(), 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(fs::path(doc.page(i)->file_name()).filename(), "PAGE." + std::to_string(i + 1)) << i;

    // Unreadable pages (folders) at 31 and 17: the lower is named, and nothing stays loaded.
    for (int n : {31, 17}) {
        fs::remove(report / ("PAGE." + std::to_string(n)));
        fs::create_directory(report / ("PAGE." + std::to_string(n)));
    }
    std::string error;
    EXPECT_FALSE(doc.load(report.string(), {}, &error));
    EXPECT_NE(error.find("PAGE.17"), std::string::npos) << error;
    EXPECT_EQ(doc.page_count(), 0);
}

TEST_F(ReportDocumentTest, ReadOnlyFromSwitchOrFile) {
    ReportDocumentMode mode;
    mode.read_only = true;
    ReportDocument by_switch;
    ASSERT_TRUE(by_switch.load(report.string(), mode));
    EXPECT_TRUE(by_switch.is_read_only());
    if (::geteuid() != 0) {
        fs::permissions(report / "PAGE.1", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        ReportDocument by_file;
        ASSERT_TRUE(by_file.load(report.string(), {}));
        EXPECT_TRUE(by_file.is_read_only());
    }
}

TEST_F(ReportDocumentTest, AnnotationRoundTripWithTracedSaves) {
    AuditLogTrail audit("Calvera");
    {
        ReportDocument doc;
        doc.set_audit(&audit);
        ASSERT_TRUE(doc.load(report.string(), {}));
        doc.set_report_name("John Smith");
        ASSERT_GE(doc.add_annotation(0, "Hi", 100, 200), 0);
        EXPECT_TRUE(doc.is_modified());
        scripted.answers = {MsgResult::Yes};
        ASSERT_TRUE(doc.save_modified());
        EXPECT_FALSE(doc.is_modified());
        EXPECT_EQ(read_all(report / "PAGE.1"), page1 + kMarker + kHiRecord);
        ASSERT_EQ(audit_messages().size(), 1u);
        EXPECT_EQ(audit_messages()[0].rfind("Save modified report - John Smith in ", 0), 0u);

        // A second save in the same session: still one marker.
        ASSERT_GE(doc.add_annotation(0, "Yo", 10, 20), 0);
        scripted.answers = {MsgResult::Yes};
        ASSERT_TRUE(doc.save_modified());
        const std::string bytes = read_all(report / "PAGE.1");
        EXPECT_EQ(bytes.find(kMarker), page1.size());
        EXPECT_EQ(bytes.find(kMarker, page1.size() + 1), std::string::npos);
    }
    // Reopened: both annotations, the report's own items unchanged.
    ReportDocument again;
    ASSERT_TRUE(again.load(report.string(), {}));
    const CReportPage* p = again.page(0);
    ASSERT_NE(p, nullptr);
    const int first = p->first_annotation_index();
    ASSERT_GE(first, 0);
    EXPECT_EQ(again.annotation_text(0, first), "Hi");
    EXPECT_EQ(again.annotation_text(0, first + 1), "Yo");
    EXPECT_FALSE(again.replace_annotation(0, first - 1, "report text is not an annotation"));
    ASSERT_TRUE(again.delete_annotation(0, first + 1));
    ASSERT_TRUE(again.delete_annotation(0, first));
    ASSERT_TRUE(again.save());
    EXPECT_EQ(read_all(report / "PAGE.1"), page1 + kMarker);
}

TEST_F(ReportDocumentTest, SavePromptAnswers) {
    bool audit_on = false;
    AuditLogTrail audit("Calvera", [&] { return audit_on; });
    ReportDocument doc;
    doc.set_audit(&audit);
    ASSERT_TRUE(doc.load(report.string(), {}));
    EXPECT_TRUE(doc.save_modified());  // nothing to ask
    EXPECT_TRUE(scripted.shown.empty());
    doc.set_report_title("Mary King (STANDARD)");
    doc.add_annotation(0, "x", 1, 1);
    scripted.answers = {MsgResult::Cancel};
    EXPECT_FALSE(doc.save_modified());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "Do you want to save: Mary King (STANDARD) ?");
    scripted.answers = {MsgResult::No};
    EXPECT_TRUE(doc.save_modified());
    EXPECT_EQ(read_all(report / "PAGE.1"), page1);  // discarded

    // Without the audit log nothing is saved and the window stays.
    audit_on = true;
    fs::permissions(archive, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(archive.c_str(), W_OK) != 0) {
        scripted.answers = {MsgResult::Yes};
        EXPECT_FALSE(doc.save_modified());
        EXPECT_EQ(scripted.shown.back().text, kSaveNoLogMessage);
    }
    fs::permissions(archive, fs::perms::owner_all);
}

TEST_F(ReportDocumentTest, OemPagesConvertBothWays) {
    fs::remove(report / "VERSION.TXT");
    write(report / "PAGE.1", text_record(0, 0, std::string("a\xf3") + "b"));
    ReportDocument doc;
    ASSERT_TRUE(doc.load(report.string(), {}));
    EXPECT_TRUE(doc.is_oem());
    const CReportPage* p = doc.page(0);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->item_count(), 1u);
    EXPECT_EQ(p->items()[0]->text()->text, "a<=b");
    ASSERT_GE(doc.add_annotation(0, "<=", 5, 5), 0);
    ASSERT_TRUE(doc.save());
    const std::string bytes = read_all(report / "PAGE.1");
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "<=");
}

TEST_F(ReportDocumentTest, ConfirmAndUnconfirmThroughTheIndex) {
    write(archive / "ARCHINFO.DAT", "R.IMG\r\nMary King\r\nThu Jan 03 02:03:55 1980\r\n2048\r\nFormatted\r\n");
    ReportArchive arch(archive.string(), "STANDARD");
    ReportRecord* record = arch.find_record("R.IMG");
    ASSERT_NE(record, nullptr);
    ReportDocument doc;
    ASSERT_TRUE(doc.load(report.string(), {}));
    EXPECT_FALSE(doc.can_confirm());  // not linked
    doc.set_archive(arch, *record);
    ASSERT_TRUE(doc.can_confirm());
    EXPECT_FALSE(doc.can_unconfirm());
    const std::string user = platform::system().user_name();
    if (!user.empty()) {
        ASSERT_TRUE(doc.confirm());
        EXPECT_EQ(read_all(report / "CONFIRM.TXT"), user);  // no line end
        EXPECT_EQ(doc.confirmation(), user);
        EXPECT_NE(read_all(archive / "ARCHINFO.DAT").find("2048C\r\n"), std::string::npos);
        ASSERT_TRUE(doc.can_unconfirm());
        // Already gone: the index follows, and the user is told.
        fs::remove(report / "CONFIRM.TXT");
        ASSERT_TRUE(doc.unconfirm());
        ASSERT_FALSE(scripted.shown.empty());
        EXPECT_EQ(scripted.shown.back().caption, kConfirmDeleteCaption);
        EXPECT_EQ(read_all(archive / "ARCHINFO.DAT").find("2048C"), std::string::npos);
        EXPECT_TRUE(doc.confirmation().empty());
    }
    // Read-only documents confirm nothing.
    ReportDocumentMode ro;
    ro.read_only = true;
    ReportDocument locked;
    ASSERT_TRUE(locked.load(report.string(), ro));
    locked.set_archive(arch, *record);
    EXPECT_FALSE(locked.can_confirm());
}

TEST_F(ReportDocumentTest, PeerConfirmationNeedsAName) {
    ReportDocumentMode mode;
    mode.preview = true;
    mode.confirm_cnav = true;
    ReportDocument doc;
    ASSERT_TRUE(doc.load(report.string(), mode));
    ASSERT_TRUE(doc.can_confirm());
    doc.set_peer_user_query([] { return std::string(); });
    EXPECT_FALSE(doc.confirm());
    EXPECT_FALSE(fs::exists(report / "CONFIRM.TXT"));  // no empty confirmation
    EXPECT_EQ(scripted.shown.back().text, kConfirmNoUser);
    doc.set_peer_user_query([] { return std::string("jdoe"); });
    ASSERT_TRUE(doc.confirm());
    EXPECT_EQ(read_all(report / "CONFIRM.TXT"), "jdoe");
    EXPECT_FALSE(doc.can_unconfirm());  // not through the index in preview
}

// The report folder replaced by a link to another folder once the document is open: confirming
// through the index, unconfirming, and a preview's confirmation each change nothing there or in
// the folder the document held, and say that the folder was replaced by a link.
TEST_F(ReportDocumentTest, AReportFolderReplacedByALinkIsNeitherConfirmedNorUnconfirmed) {
    const std::string user = platform::system().user_name();
    if (user.empty()) GTEST_SKIP() << "this account has no name";
    const fs::path elsewhere = t / "private", moved = archive / ".R.moved";
    write(elsewhere / "keep.txt", "mine");
    struct Case {
        const char* what;
        bool confirmed, preview;
    };
    for (const Case& c :
         {Case{"confirm", false, false}, Case{"unconfirm", true, false}, Case{"preview", false, true}}) {
        write(archive / "ARCHINFO.DAT", std::string("R.IMG\r\nMary King\r\nThu Jan 03 02:03:55 1980\r\n2048") +
                                            (c.confirmed ? "C" : "") + "\r\nFormatted\r\n");
        if (c.confirmed) write(report / "CONFIRM.TXT", "jdoe");
        const std::string index = read_all(archive / "ARCHINFO.DAT");
        ReportArchive arch(archive.string(), "STANDARD");
        ReportDocumentMode mode;
        mode.preview = mode.confirm_cnav = c.preview;
        ReportDocument doc;
        ASSERT_TRUE(doc.load(report.string(), mode)) << c.what;
        doc.set_archive(arch, *arch.find_record("R.IMG"));
        doc.set_peer_user_query([] { return std::string("jdoe"); });
        fs::rename(report, moved);
        fs::create_directory_symlink(elsewhere, report);
        EXPECT_FALSE(c.confirmed ? doc.unconfirm() : doc.confirm()) << c.what;
        ASSERT_FALSE(scripted.shown.empty()) << c.what;
        EXPECT_EQ(scripted.shown.back().caption, archive_error_caption(kArchiveReplaced)) << c.what;
        EXPECT_NE(scripted.shown.back().text.find("was replaced by a link"), std::string::npos) << c.what;
        EXPECT_EQ(read_all(archive / "ARCHINFO.DAT"), index) << c.what;
        EXPECT_EQ(fs::exists(moved / "CONFIRM.TXT"), c.confirmed) << c.what;
        EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 1) << c.what;
        fs::remove(report);
        fs::rename(moved, report);
        fs::remove(report / "CONFIRM.TXT");
    }
}

TEST_F(ReportDocumentTest, ClosingDeletesTheTemporaryCopy) {
    const fs::path copy = t / "tmp" / "signed-copy";
    write(copy / "summary.txt", "x");
    ReportDocument doc;
    doc.set_temporary_folder(copy.string() + "/");
    doc.close();
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(doc.temporary_folder().empty());
}

TEST_F(ReportDocumentTest, PrintSequencesAndViewports) {
    EXPECT_EQ(print_page_sequence(0, 0, 2, 3), (std::vector<int>{1, 1, 2, 2, 3}));
    EXPECT_EQ(print_page_sequence(3, 1, 0, 3), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(print_page_sequence(2, 9, 0, 3), (std::vector<int>{2, 3}));
    EXPECT_TRUE(print_page_sequence(0, 0, 0, 0).empty());
    // True scale: the physical page at the device's resolution.
    const PageViewport scaled = print_page_viewport(true, {600, 600}, {}, {4960, 7016});
    EXPECT_EQ(scaled.extent, (fw::Sz{4729, 6755}));
    EXPECT_EQ(scaled.origin, (fw::Pt{0, 0}));
    // Margins are micrometres: 10 mm at 254 dpi is 100 pixels.
    PrintMargins m{10000, 20000, 10000, 20000};
    const PageViewport fitted = print_page_viewport(false, {254, 254}, m, {2000, 3000});
    EXPECT_EQ(fitted.origin, (fw::Pt{100, 200}));
    EXPECT_EQ(fitted.extent, (fw::Sz{1800, 2600}));
    EXPECT_EQ(pdf_output_path("/out", "../x:y"), "/out/_.._x_y.pdf");
    EXPECT_EQ(pdf_output_path("/out", ""), "/out/_.pdf");
    EXPECT_EQ(pdf_output_path("/out", "M\xFCller, J\xF6rg"), "/out/M\xC3\xBCller, J\xC3\xB6rg.pdf");
}

// The 12-lead header takes the name and patient number from the first lines of PATIENT.TXT as
// they stand: a short file or a date that does not parse must not blank them.
TEST_F(ReportDocumentTest, TwelveLeadHeaderReadsNameAndNumberLeniently) {
    EmfWriter w({100, 100});
    w.polyline({{0, 0}, {100, 100}});
    write(report / "R-128-60.emf", w.finish());
    write(report / "emflist.dat", testing::emf_list({{"R-128-60.emf", "Strip"}}, 1));
    // Lines 3 (name), 4 (date of birth), 9 (patient number), 13 (recording date).
    auto patient = [](const std::string& dob, const std::string& number, int lines) {
        const std::string all[16] = {"w",    "w",  "Ann Smith", dob,    "40",         "F",   "op",  "REC1",
                                     number, "dr", "ins",       "hosp", "01/02/2024", "RID", "RID", "01/03/2024"};
        std::string out;
        for (int i = 0; i < lines; ++i) out += all[i] + "\r\n";
        return out;
    };
    const struct {
        const char* what;
        std::string file;
        std::string name, number;
    } cases[] = {
        {"complete", patient("05/06/1980", "P-77", 16), "Ann Smith", "P-77"},
        {"13 lines", patient("05/06/1980", "P-77", 13), "Ann Smith", "P-77"},
        {"bad date of birth", patient("99/99/1980", "P-77", 16), "Ann Smith", "P-77"},
        {"9 lines", patient("x", "P-77", 9), "Ann Smith", "P-77"},
        {"empty number", patient("x", "--", 13), "Ann Smith", ""},
        {"name only", patient("x", "", 3), "Ann Smith", ""},
        {"no file", "", "", ""},  // nothing left over from the report loaded before
    };
    ReportDocument doc;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.file.empty())
            fs::remove(report / "PATIENT.TXT");
        else
            write(report / "PATIENT.TXT", c.file);
        ASSERT_TRUE(doc.load(report.string(), {}));
        EXPECT_EQ(doc.patient_name(), c.name);
        EXPECT_EQ(doc.patient_number(), c.number);
        // Every 12-lead page carries them: the contents page and the strip page.
        ASSERT_EQ(doc.page_count(), 3);
        for (int p = 1; p < 3; ++p) {
            std::vector<std::string> header;
            for (const auto& item : doc.page(p)->items())
                if (auto t = item->text(); t && t->y == 200 && (t->x == 1000 || t->x == 4000))
                    header.push_back(t->text);
            EXPECT_EQ(header, (std::vector<std::string>{c.name, c.number})) << "page " << p;
        }
    }
}

// The mapping already puts the margins into every device point; a clip rectangle must not get
// them a second time, on paper or in the preview.
TEST_F(ReportDocumentTest, ClipRectanglesPrintWhereTheOtherItemsDo) {
    PageFileBuilder b;
    b.clip(100, 200, 3000, 4000);
    b.polyline({{100, 200}, {3000, 200}, {3000, 4000}});
    write(report / "PAGE.1", b.bytes());
    ReportDocument doc;
    ASSERT_TRUE(doc.load(report.string(), {}));
    const PrintMargins margins{20000, 20000, 20000, 20000};  // 20 mm on every side
    for (const auto kind : {fw::DrawContext::Kind::Printer, fw::DrawContext::Kind::Preview}) {
        fw::RecordingDrawContext dc({2480, 3508}, {300, 300}, kind);
        const PageViewport vp = print_page_viewport(false, dc.dpi(), margins, dc.device_size());
        ASSERT_EQ(vp.origin, (fw::Pt{236, 236}));
        draw_print_page(dc, doc, 0, vp);
        const fw::Pt a = dc.to_device({100, 200}), c = dc.to_device({3000, 4000});
        const std::string clip = "clip (" + std::to_string(a.x) + "," + std::to_string(a.y) + "," +
                                 std::to_string(c.x + 1) + "," + std::to_string(c.y) + ")";
        const std::string line = "polyline (" + std::to_string(a.x) + "," + std::to_string(a.y) + ")";
        const std::string s = dc.joined();
        EXPECT_NE(s.find(clip), std::string::npos) << s;
        EXPECT_NE(s.find(line), std::string::npos) << s;
    }
}

}  // namespace
}  // namespace tv
