#include "tolbex/signing/signature_page.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/files.h"
#include "framework/core/recording_draw_context.h"
#include "platform/fs.h"
#include "testing/test_root.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/signing/shown_report.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace tv::signing {
namespace {

// This test program shows the signed report its environment names, before any test runs: the
// restore and its signature page in a process of its own that can be killed at any step.
const bool g_show_signed_child = [] {
    const char* folder = std::getenv("TV_TEST_SHOW_SIGNED");
    if (!folder) return false;
    std::_Exit(open_report_for_showing(folder) ? 0 : 3);
}();

std::uint32_t u32(const std::string& s, std::size_t at) {
    return load_le32(reinterpret_cast<const std::uint8_t*>(s.data()) + at);
}

SignatureRecord signer(const std::string& name, std::uint32_t meaning) {
    SignatureRecord r;
    r.signing_time = 45000.5;  // 2023-03-15 12:00:00
    r.signing_time_status = kTimeValid;
    r.signer_name = name;
    r.meaning = meaning;
    r.logon_name = "asmith";
    r.system_name = "WARD7";
    r.issued_to = name;
    r.issued_by = "Clinic CA";
    r.valid_from = "03:04:05 02 Jan 2024";
    r.valid_to = "03:04:05 02 Jan 2044";
    r.fingerprint = "0a1b";
    r.verified = true;
    return r;
}

// (x, y in fine units, size code, text) of every text record, and the boxes of the bitmap records.
struct PageTexts {
    std::vector<std::string> texts;
    std::vector<std::string> boxes;
};
PageTexts page_texts(const std::string& bytes) {
    PageTexts out;
    for (std::size_t pos = 0; pos + 20 <= bytes.size();) {
        const std::uint32_t length = u32(bytes, pos);
        const std::uint32_t type = u32(bytes, pos + 16);
        const std::string payload = bytes.substr(pos + 20, length - 16);
        pos += 4 + length;
        if (type == 63) {
            const std::string text = payload.substr(12);
            EXPECT_EQ(u32(payload, 8), text.size());
            out.texts.push_back(std::to_string(static_cast<std::int32_t>(u32(payload, 0))) + "," +
                                std::to_string(static_cast<std::int32_t>(u32(payload, 4))) + "," +
                                std::to_string(int(text[1])) + " " + text.substr(2));
        } else if (type == 56) {
            std::string box = std::to_string(u32(payload, 0));
            for (int i = 0; i < 4; ++i) box += " " + std::to_string(u32(payload, 8 + 4 * i));
            out.boxes.push_back(box + " " + payload.substr(24));
        }
    }
    return out;
}

TEST(SignaturePage, OneSignerGolden) {
    const std::string bytes =
        signature_page_bytes({"Smith, John", "", "01/02/2003 10:11:12"}, {signer("Anna Smith", 0)});
    // The first record exactly: length n+28, words 0 86 100 63, x 2.0 cm, y 6.0 cm, n, ESC 1 text.
    std::string first;
    for (std::uint32_t w : {54u + 28u, 0u, 86u, 100u, 63u, 20000u, 60000u, 54u}) append_le32(first, w);
    first +=
        "\x1b\x01"
        "Brisco Torvane Medical Ltd - Digitally Signed Report";
    EXPECT_EQ(bytes.substr(0, first.size()), first);

    const PageTexts page = page_texts(bytes);
    const std::vector<std::string> texts = {
        "20000,60000,1 Brisco Torvane Medical Ltd - Digitally Signed Report",
        "30000,70000,3 Patient Name : Smith, John",
        "30000,75000,3 Patient ID : ",
        "30000,80000,3 Recording Date : 01/02/2003 10:11:12",
        "30000,100000,1 Signature Details",
        "40000,110000,3 Date and time of signing : 12:00:00 15 Mar 2023",
        "40000,115000,3 Signer name : Anna Smith",
        "40000,120000,3 Signature meaning : Report has been reviewed",
        "40000,125000,3 Signer login name : asmith",
        "40000,130000,3 System name : WARD7",
        "40000,135000,3 Signature : ",
        "40000,160000,1 Certificate Details",
        "40000,165000,3 Issued to : Anna Smith",
        "40000,170000,3 Issued by : Clinic CA",
        "40000,175000,3 Valid from : 03:04:05 02 Jan 2024",
        "40000,180000,3 Valid to : 03:04:05 02 Jan 2044",
        "40000,185000,3 SHA-256 fingerprint : 0a1b",
    };
    EXPECT_EQ(page.texts, texts);
    EXPECT_EQ(page.boxes, std::vector<std::string>{std::string("25 60000 130000 140000 155000 signature.bmp") + '\0'});
    // The bitmap record: length 54, words 0 86 100 56.
    const std::size_t at = bytes.find(std::string("\x38\0\0\0\x19\0\0\0", 8));
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(u32(bytes, at - 16), 54u);
    EXPECT_EQ(u32(bytes, at - 12), 0u);
}

TEST(SignaturePage, TwoSignersStartHigherAndFollowEachOther) {
    const PageTexts page = page_texts(signature_page_bytes({}, {signer("Anna Smith", 0), signer("Ben Brook", 1)}));
    ASSERT_EQ(page.texts.size(), 4u + 2u * 13u);
    EXPECT_EQ(page.texts[0], "20000,30000,1 Brisco Torvane Medical Ltd - Digitally Signed Report");
    EXPECT_EQ(page.texts[4], "30000,70000,1 Signature Details");
    // The second block starts where the first one's fingerprint line left y (+2.0 cm).
    EXPECT_EQ(page.texts[16], "40000,155000,3 SHA-256 fingerprint : 0a1b");
    EXPECT_EQ(page.texts[17], "30000,175000,1 Signature Details");
    EXPECT_EQ(page.texts[19], "40000,190000,3 Signer name : Ben Brook");
    EXPECT_EQ(page.texts[20], "40000,195000,3 Signature meaning : Report has been approved");
    EXPECT_EQ(page.boxes.size(), 2u);
}

// A signature the site does not trust shows why instead of any signer's details, and no bitmap.
TEST(SignaturePage, ASignatureNotVerifiedShowsWhyInsteadOfTheDetails) {
    SignatureRecord r = signer("Anna Smith", 0);
    r.verified = false;
    r.problem = "the certificate of \"Anna Smith\" was not issued by an authority that this site trusts";
    const PageTexts page = page_texts(signature_page_bytes({}, {r}));
    EXPECT_EQ(page.texts[0], "20000,60000,1 Brisco Torvane Medical Ltd - Report - Signature not verified");
    EXPECT_EQ(std::vector<std::string>(page.texts.begin() + 4, page.texts.end()),
              (std::vector<std::string>{"30000,100000,1 Signature Details",
                                        "40000,110000,3 Signature not verified : " + r.problem + ".",
                                        "40000,115000,3 This report must not be taken as signed."}));
    EXPECT_TRUE(page.boxes.empty());
    // One verified signature beside it does not make the report signed.
    EXPECT_EQ(page_texts(signature_page_bytes({}, {signer("Ben Brook", 0), r})).texts[0],
              "20000,30000,1 Brisco Torvane Medical Ltd - Report - Signature not verified");
}

TEST(SignaturePage, LongTextsAreCutToOneRecord) {
    SignatureRecord r = signer(std::string(5000, 'n'), 0);
    const PageTexts page = page_texts(signature_page_bytes({}, {r}));
    EXPECT_EQ(page.texts[6], "40000,115000,3 " + ("Signer name : " + r.signer_name).substr(0, kMaxPageText));
}

class AddSignaturePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder);
        put("VERSION.TXT", "V8.006\r\n");
        put("PATIENT.TXT",
            "PATIENT DETAILS\r\n--\r\nSmith, John\r\n1950\r\n53\r\nMale\r\nOp\r\nREC1\r\n--\r\nDr\r\nIns\r\nH\r\n"
            "01/02/2003 10:11:12\r\n");
        put("PAGE.0", make_page_record(PageRecordKind::Label, std::string(8, '\0') + "lbl", 0, 0, 0));
        for (int n = 1; n <= 3; ++n) put("PAGE." + std::to_string(n), page_text(n));
    }
    void put(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(platform::atomic_write_file(folder + "/" + name, bytes));
    }
    static std::string page_text(int n) {
        std::string payload;
        for (std::uint32_t w : {100u, 200u, 8u}) append_le32(payload, w);
        return make_page_record(PageRecordKind::Text, payload + "page " + std::to_string(n) + "!!");
    }
    std::string read(const std::string& name) { return platform::read_whole_file(folder + "/" + name).value_or(""); }

    platform::testing::TempRoot root;
    std::string folder = root / "T";
};

TEST_F(AddSignaturePageTest, SignaturePageBecomesTheFirstShownPage) {
    ASSERT_TRUE(add_signature_page(folder, {signer("Anna Smith", 0)}));
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(read("PAGE." + std::to_string(n + 1)), page_text(n));
    EXPECT_EQ(page_texts(read("PAGE.1")).texts[2], "30000,75000,3 Patient ID : ");
    EXPECT_EQ(page_texts(read("PAGE.1")).texts[1], "30000,70000,3 Patient Name : Smith, John");

    // The report document shows it first, and it draws its texts like any page.
    ReportDocument doc;
    ASSERT_TRUE(doc.load(folder, {}));
    ASSERT_EQ(doc.page_count(), 4);
    fw::RecordingDrawContext dc;
    map_page_to_device(dc, {0, 0, 2496, 3520});
    doc.page(0)->draw(dc, doc.fonts());
    std::vector<std::string> drawn;
    for (const std::string& line : dc.commands())
        if (line.rfind("text ", 0) == 0) drawn.push_back(line.substr(line.find('"')));
    ASSERT_EQ(drawn.size(), 17u);
    EXPECT_EQ(drawn[0], "\"Brisco Torvane Medical Ltd - Digitally Signed Report\"");
    EXPECT_EQ(drawn[15], "\"Valid to : 03:04:05 02 Jan 2044\"");
}

TEST_F(AddSignaturePageTest, FailedMoveStopsBeforeAnyPageIsOverwritten) {
    // PAGE.4 exists as a folder, so PAGE.3 cannot move onto it.
    std::filesystem::create_directories(folder + "/PAGE.4/x");
    const auto added = add_signature_page(folder, {signer("Anna Smith", 0)});
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().code, kErrFile);
    EXPECT_EQ(added.error().message.rfind("Serious file error : PAGE.3", 0), 0u) << added.error().message;
    EXPECT_EQ(read("PAGE.1"), page_text(1));
}

TEST_F(AddSignaturePageTest, AFolderThatIsALinkIsNamedAndNothingIsWritten) {
    const std::string link = root / "L";
    std::filesystem::create_directory_symlink(folder, link);
    const auto added = add_signature_page(link, {signer("Anna Smith", 0)});
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().code, kArchiveReplaced);
    EXPECT_NE(added.error().message.find("was replaced by a link"), std::string::npos) << added.error().message;
    EXPECT_EQ(read("PAGE.1"), page_text(1));
    EXPECT_FALSE(std::filesystem::exists(folder + "/PAGE.4"));
}

TEST_F(AddSignaturePageTest, MissingPatientFileGivesEmptyValues) {
    std::filesystem::remove(folder + "/PATIENT.TXT");
    ASSERT_TRUE(add_signature_page(folder, {signer("Anna Smith", 0)}));
    EXPECT_EQ(page_texts(read("PAGE.1")).texts[1], "30000,70000,3 Patient Name : ");
}

// A showing of a signed report killed at each step of adding its signature page: the report is
// the signed file, which it never changes, so the next showing has the signature page first and
// every page after it in order, and what the killed run restored goes as a leftover.
TEST_F(AddSignaturePageTest, AShowingKilledAtAnyStepLeavesTheSignedReportWhole) {
    if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is needed";
    const testing::TestCa ca = testing::make_ca("Clinic CA");
    const testing::TestIdentity id = testing::make_issued_identity("Anna Smith", ca);
    const std::string report = root / "ARCH/ABC123.IMG", signed_folder = root / "ARCH/ABC123.SGN";
    std::filesystem::create_directories(report);
    std::filesystem::create_directories(signed_folder);
    for (const auto& e : std::filesystem::directory_iterator(folder))
        std::filesystem::copy_file(e.path(), report + "/" + e.path().filename().string());
    SignatureRecord record = testing::signer_record(id);
    ASSERT_TRUE(sign_report_folder(record, report, "", signed_folder + "/signed.dat"));
    std::vector<std::string> env = {"TV_TEST_SHOW_SIGNED=" + signed_folder,
                                    "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};  // no leak check under a tracer
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    auto temp_folders = [&] { return std::distance(std::filesystem::directory_iterator(root.tmp()), {}); };
    int killed = 0;
    for (const char* call : {"renameat2", "write"}) {
        for (int n = 1;; ++n) {
            ASSERT_LT(n, 40) << call;
            const std::string what = std::string(call) + " #" + std::to_string(n);
            const auto run = platform::testing::run_captured(
                {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-e", std::string("trace=") + call, "-e",
                 std::string("inject=") + call + ":signal=KILL:when=" + std::to_string(n), "--", self},
                env, root / "ARCH", 60);
            auto shown = open_report_for_showing(signed_folder);
            ASSERT_TRUE(shown) << what << ": " << shown.error().message;
            ReportDocument doc;
            ASSERT_TRUE(doc.load(shown->folder(), {})) << what;
            ASSERT_EQ(doc.page_count(), 4) << what;
            EXPECT_TRUE(doc.missing_parts().empty()) << what << ": " << doc.missing_parts();
            for (int k = 1; k <= 3; ++k)
                EXPECT_EQ(platform::read_whole_file(shown->folder() + "/PAGE." + std::to_string(k + 1)), page_text(k))
                    << what;
            if (run.code == 0) break;
            ++killed;
            // What the killed run restored, if it got so far, is a leftover of a program that ended: it goes.
            const auto leftovers = temp_folders() - 1;
            EXPECT_EQ(remove_stale_temp_folders(), leftovers) << what;
            EXPECT_EQ(temp_folders(), 1) << what << ": only this showing's restore is left";
            if (HasFailure()) break;
        }
    }
    EXPECT_GE(killed, 3 + 7);  // each move, and each file written
}

}  // namespace
}  // namespace tv::signing
