// Opening signed reports from the browser in the running application, offscreen: a formatted
// report with its signature page, a changed signed file, and a TIMI summary in the text viewer.
// The private folder of restored files must be gone whenever nothing shows it any more.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QEvent>

#include <cctype>
#include <cstdlib>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "framework/qt/tooltip.h"
#include "framework/qt/wait_dialogs.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/browser/ui/signed_report_open.h"
#include "tolbex/reports/ui/report_doc_ui.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/tests/signing_fixture.h"
#include "tolbex/timi/tests/timi_test_support.h"
#include "tolbex/timi/timi_strings.h"
#include "tolbex/timi/ui/timi_windows.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class SignedReportOpenTest : public uitest::BrowserAppTest {
protected:
    SignedReportOpenTest() : BrowserAppTest("ab12") {}
    void SetUp() override {
        BrowserAppTest::SetUp();
        make_group(
            {{"STANDARD", "STANDARD", {{"R1.IMG", "Ann Alder"}, {"T1.SUM", "Tim Summary"}, {"D1.TIM", "Tim Data"}}}});
        make_formatted("R1.IMG", "first page");
        testing_root::write_file(report_folder("T1.SUM") / "TIMI_SUMMARY.TXT", "Day 1\r\nDay 2\r\n");
        // The site trusts the signer's certificate.
        testing_root::write_file(fs::path(platform::trust_store_dir()) / "anna.pem", id.cert_pem);
        signed_formatted = sign("R1.IMG", "Ann Alder - signed");
        signed_summary = sign("T1.SUM", "Tim Summary - signed");
        testing_root::write_file(report_folder("D1.TIM") / "DATA.TIMI", "timi data");
        signed_data = sign("D1.TIM", "Tim Data - signed");
        ASSERT_TRUE(start_app());
        scripted.shown.clear();
    }
    void TearDown() override {
        gui::set_signed_timi_opener({});
        BrowserAppTest::TearDown();
    }

    std::string sign(const std::string& name, const std::string& description) { return sign_as(id, name, description); }
    std::string sign_as(const signing::testing::TestIdentity& who, const std::string& name,
                        const std::string& description) {
        auto stored = signing::sign_and_store_report(signing::testing::signer_record(who), report_folder(name).string(),
                                                     description, "");
        EXPECT_TRUE(stored) << stored.error().message;
        return stored ? *stored : std::string();
    }
    // Signed by a certificate the site trusted while it signed, and trusts no longer.
    std::string sign_then_distrust(const signing::testing::TestIdentity& who, const std::string& name,
                                   const std::string& description) {
        const fs::path file = fs::path(platform::trust_store_dir()) / "while-signing.pem";
        testing_root::write_file(file, who.cert_pem);
        const std::string stored = sign_as(who, name, description);
        fs::remove(file);
        return stored;
    }
    // Signing adds rows: each command starts from the browser opened again.
    void run_afresh(fw::CommandId command, const Texts& descriptions) {
        ASSERT_NE(open_browser(), nullptr);
        ASSERT_TRUE(run(command, descriptions));
    }
    void open(const std::string& description) { run_afresh(gui::browser_cmd::Open, {description}); }
    std::vector<gui::CPellarnDoc*> report_docs() { return documents_of<gui::CPellarnDoc>(); }
    // How the audit log names a report: its folder name in lower case.
    static std::string logged(const std::string& folder) {
        std::string name = fs::path(folder).filename().string();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return name;
    }
    // The private folders in TMPDIR.
    std::set<std::string> temp_folders() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(root.tmp()))
            if (e.is_directory()) out.insert(e.path().string());
        return out;
    }

    signing::testing::TestIdentity id = signing::testing::make_identity("Anna Smith", "Clinic CA");
    std::string signed_formatted, signed_summary, signed_data;
};

TEST_F(SignedReportOpenTest, FormattedReportOpensWithItsSignaturePage) {
    const std::set<std::string> before = temp_folders();
    open("Ann Alder - signed");
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    const auto docs = report_docs();
    ASSERT_EQ(docs.size(), 1u);
    gui::CPellarnDoc* doc = docs[0];
    EXPECT_EQ(doc->title(), "Ann Alder - signed (STANDARD)");
    EXPECT_EQ(doc->core().report_name(), "Ann Alder - signed");
    EXPECT_EQ(doc->core().archive_report_path(), signed_formatted);
    // The signature page first, then the report's own page.
    ASSERT_EQ(doc->core().page_count(), 2);
    ASSERT_GE(doc->core().page(0)->items().size(), 16u);
    EXPECT_EQ(doc->core().page(0)->items()[0]->text()->text,
              "\x1b\x01"
              "Brisco Torvane Medical Ltd - Digitally Signed Report");
    EXPECT_EQ(doc->core().page(1)->items()[0]->text()->text, "first page");
    // Signed content cannot change: no annotation is saved into the copy, nothing is confirmed.
    EXPECT_TRUE(doc->core().is_read_only());
    EXPECT_FALSE(doc->core().can_confirm());
    const std::string t = doc->core().temporary_folder();
    ASSERT_FALSE(t.empty());
    EXPECT_TRUE(fs::is_directory(t));
    EXPECT_EQ(audit_messages(), Texts{"View signed report - Ann Alder - signed in " + logged(signed_formatted)});

    for (fw::ChildFrame* f : windows->main_frame()->child_frames()) f->close();
    settle();
    EXPECT_TRUE(report_docs().empty());
    EXPECT_FALSE(fs::exists(t)) << "the restored files go with the document";
    EXPECT_EQ(temp_folders(), before);
}

// The verification blocks the window thread: a tip that waited for the event loop would never show.
TEST_F(SignedReportOpenTest, TheVerifyTipIsPaintedWhileTheReportIsVerified) {
    struct PaintWatch : QObject {
        std::vector<std::string> painted;  // the tip's text at each paint
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                if (auto* tip = dynamic_cast<fw::ToolTipImp*>(watched)) painted.push_back(tip->text());
            return false;
        }
    } watch;
    QCoreApplication::instance()->installEventFilter(&watch);
    open("Ann Alder - signed");
    QCoreApplication::instance()->removeEventFilter(&watch);
    ASSERT_FALSE(watch.painted.empty()) << "the tip was never painted";
    EXPECT_EQ(std::string(gui::kVerifyingReportText) + "Ann Alder - signed", watch.painted.front());
    EXPECT_EQ(report_docs().size(), 1u);
}

TEST_F(SignedReportOpenTest, ChangedSignedFileIsRefusedAndLeavesNothing) {
    const std::string dat = signed_formatted + "/signed.dat";
    std::string bytes = *platform::read_whole_file(dat);
    bytes[bytes.size() / 2] ^= 0x01;
    ASSERT_TRUE(platform::atomic_write_file(dat, bytes));
    const std::set<std::string> before = temp_folders();
    open("Ann Alder - signed");
    ASSERT_EQ(scripted.shown.size(), 1u);
    // The reason is told.
    EXPECT_EQ(scripted.shown[0].text.rfind(std::string(gui::kSignedVerifyFailedText) + "\n\n", 0), 0u)
        << scripted.shown[0].text;
    EXPECT_GT(scripted.shown[0].text.size(), std::string(gui::kSignedVerifyFailedText).size() + 2);
    EXPECT_TRUE(report_docs().empty());
    EXPECT_EQ(temp_folders(), before);
    EXPECT_TRUE(audit_messages().empty());
}

// A report signed with a certificate anyone could make with the signer's names opens with the
// reason it cannot be trusted, and its signature page names no signer.
TEST_F(SignedReportOpenTest, ASelfMadeCertificateWithTheSignersNamesIsNotShownAsSigned) {
    const auto forged =
        signing::testing::make_identity("Anna Smith", "Clinic CA", "0BAD", signing::testing::ca_test_key());
    sign_then_distrust(forged, "R1.IMG", "Ann Alder - forged");
    open("Ann Alder - forged");
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "The signature of this report cannot be trusted: the certificate of \"Anna Smith\" was not issued by an "
              "authority that this site trusts.\n\nThe report is shown, but it must not be taken as signed.");
    const auto docs = report_docs();
    ASSERT_EQ(docs.size(), 1u);
    std::string page;
    for (const auto& item : docs[0]->core().page(0)->items())
        if (item->text()) page += item->text()->text + "\n";
    EXPECT_NE(page.find("Signature not verified : the certificate of \"Anna Smith\" was not issued"), std::string::npos)
        << page;
    EXPECT_EQ(page.find("Signer name"), std::string::npos) << page;
    EXPECT_EQ(page.find("Issued to"), std::string::npos) << page;
}

TEST_F(SignedReportOpenTest, TimiSummaryShowsInTheViewerWithItsSignatures) {
    // The viewer: a program named "notepad" on PATH that keeps what it was shown.
    const fs::path bin = fs::path(root.path()) / "bin";
    const fs::path seen = fs::path(root.path()) / "seen.txt";
    testing_root::write_file(bin / "notepad", "#!/bin/sh\ncat \"$1\" > '" + seen.string() +
                                                  "'\nstat -c %a \"$1\" >> '" + seen.string() + "'\nexit 0\n");
    ::chmod((bin / "notepad").c_str(), 0755);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
    const std::set<std::string> before = temp_folders();
    open("Tim Summary - signed");
    ::setenv("PATH", old_path.c_str(), 1);
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    EXPECT_EQ(temp_folders(), before) << "the restored files go when the viewer has ended";
    EXPECT_EQ(audit_messages(), Texts{"View signed report - Tim Summary - signed in " + logged(signed_summary)});

    // The heading, the signature's block (as it verifies), then the summary's lines, all CR LF.
    auto verified = signing::verify_signed_report(signed_summary + "/signed.dat");
    ASSERT_TRUE(verified);
    const std::string expected = signing::signed_label(signing::SignedLabel::TimiSummaryHeading, true) + "\n\n" +
                                 signing::signature_details_text(verified->signers().front());
    std::string crlf;
    for (char c : expected) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(testing_root::read_all(seen), crlf + "Day 1\r\nDay 2\r\n" + "400\n") << "shown read-only";
}

TEST_F(SignedReportOpenTest, NoViewerIsToldAndLeavesNothing) {
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (fs::path(root.path()) / "nothing").c_str(), 1);
    const std::set<std::string> before = temp_folders();
    open("Tim Summary - signed");
    ::setenv("PATH", old_path.c_str(), 1);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kNotepadFailedText);
    EXPECT_EQ(temp_folders(), before);
    EXPECT_TRUE(audit_messages().empty());
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST_F(SignedReportOpenTest, TimiDataShowsItsSignatureAndGoesToTheTimiSide) {
    std::string details;
    {
        auto verified = signing::verify_signed_report(signed_data + "/signed.dat");
        ASSERT_TRUE(verified);
        details = signing::timi_data_signature_message(verified->signers());
    }
    const std::set<std::string> before = temp_folders();

    // Without the TIMI windows it is refused like unsigned TIMI data, and nothing stays behind.
    open("Tim Data - signed");
    ASSERT_EQ(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[0].text, details);
    EXPECT_EQ(scripted.shown[1].text, "You can only view formatted reports.");
    EXPECT_EQ(temp_folders(), before);
    EXPECT_TRUE(audit_messages().empty());

    // The TIMI side gets the restored data and owns its folder from then on.
    gui::SignedTimiData got;
    gui::set_signed_timi_opener([&](const gui::SignedTimiData& d) {
        got = d;
        return true;
    });
    open("Tim Data - signed");
    EXPECT_EQ(testing_root::read_all(got.data_file), "timi data");
    EXPECT_EQ(fs::path(got.data_file).parent_path(), fs::path(got.folder));
    EXPECT_EQ(got.report_folder, signed_data);
    EXPECT_EQ(got.description, "Tim Data - signed");
    ASSERT_EQ(got.signatures.size(), 1u);
    EXPECT_EQ(got.signatures[0].signer_name, "Anna Smith");
    EXPECT_EQ(audit_messages(), Texts{"View signed report - Tim Data - signed in " + logged(signed_data)});
    EXPECT_TRUE(fs::is_directory(got.folder));
    fs::remove_all(got.folder);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Compare and Print reports take formatted reports only; a signed one is neither compared nor printed.
TEST_F(SignedReportOpenTest, CompareAndPrintReportsLeaveSignedReportsOut) {
    run_afresh(gui::browser_cmd::Compare, {"Ann Alder", "Ann Alder - signed"});
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Wrong number or kind of reports selected");
    EXPECT_TRUE(report_docs().empty());

    Texts printed;
    gui::set_report_print_operation([&](const std::string& folder) {
        printed.push_back(folder);
        return 0;
    });
    run_afresh(gui::browser_cmd::PrintReports, {"Ann Alder - signed"});
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "No formatted reports were selected for printing.");
    run_afresh(gui::browser_cmd::PrintReports, {"Ann Alder", "Ann Alder - signed"});
    gui::set_report_print_operation({});
    EXPECT_EQ(printed, Texts{report_folder("R1.IMG").string()});
    EXPECT_TRUE(audit_messages().empty());
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// With the TIMI windows of the program itself: the TIMI data's message and window title and the
// TIMI summary's heading say "signed" only for a signature the site trusts.
TEST_F(SignedReportOpenTest, TimiReportsAreCalledSignedOnlyWhenTheSignatureVerified) {
    close_app();
    reg_set_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable TIMI Rozaze", "YES");
    testing_root::write_file(fs::path(root.path()) / "log/messages.dll", "x");
    reg_set_string(HKEY_LOCAL_MACHINE, kLogKey, "DLL Install Path", root.path() + "/log/messages.dll");
    register_timi_strings();
    const TimiData table = timi_test::stemi_table();
    ASSERT_TRUE(platform::atomic_write_file((report_folder("D1.TIM") / "DATA.TIMI").string(),
                                            table.data_file_text(0, table.row_count() - 1)));
    // Anyone can make a certificate with the signer's names with the openssl program.
    const std::string cert = root.path() + "/forged.pem", key = root.path() + "/forged-key.pem";
    const auto made =
        platform::testing::run_captured({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days",
                                         "30", "-subj", "/O=Test Clinic/CN=Anna Smith", "-keyout", key, "-out", cert},
                                        {"PATH=/usr/bin:/bin"}, root.path(), 60);
    if (made.code != 0) GTEST_SKIP() << "no openssl program here: " << made.err;
    const auto forged = signing::testing::identity_from_pem(testing_root::read_all(cert), testing_root::read_all(key));
    ASSERT_FALSE(forged.certificate.empty());
    sign("D1.TIM", "Data trusted");
    sign_then_distrust(forged, "D1.TIM", "Data forged");
    sign_then_distrust(forged, "T1.SUM", "Summary forged");
    // Signed by two: the site trusts the first signer only.
    {
        const auto stranger = signing::testing::make_identity("Mallory Stranger");
        const std::string both = sign("D1.TIM", "Data both");
        std::string content(8, '\0');
        content[0] = 1;
        content[4] = 2;
        for (const signing::testing::TestIdentity* who : {&std::as_const(id), &stranger}) {
            signing::SignatureRecord r = signing::testing::signer_record(*who);
            r.kind = static_cast<std::uint32_t>(signing::SignedReportKind::TimiData);
            r.signing_time = ole_date_from_time(std::time(nullptr));
            ASSERT_TRUE(signing::fill_certificate_fields(r));
            signing::append_signature_header(content, r);
        }
        const std::string data = testing_root::read_all(report_folder("D1.TIM") / "DATA.TIMI");
        content += std::string("\x01\0\0\0", 4) + "DATA.TIMI " + std::to_string(data.size()) + "\n" + data;
        ASSERT_TRUE(platform::atomic_write_file(both + "/signed.dat",
                                                signing::testing::signed_file_by_all({&id, &stranger}, content)));
    }
    ASSERT_TRUE(start_app());
    const fs::path seen = fs::path(root.path()) / "seen.txt";
    testing_root::write_file(fs::path(root.path()) / "bin/notepad",
                             "#!/bin/sh\ncat \"$1\" > '" + seen.string() + "'\n");
    ::chmod((fs::path(root.path()) / "bin/notepad").c_str(), 0755);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (root.path() + "/bin:" + old_path).c_str(), 1);
    struct Case {
        const char* description;
        const char* last_shown;  // how the last message before the window starts
        const char* title;       // of the TIMI window; empty: the summary's heading instead
    };
    const Case cases[] = {
        {"Data trusted", "This TIMI Data Report was signed with the following details\n", "Signed TIMI Data"},
        {"Data forged", "The signature of this TIMI Data Report cannot be trusted\n",
         "TIMI Data - Signature not verified"},
        {"Data both", "The signature of this TIMI Data Report cannot be trusted\n",
         "TIMI Data - Signature not verified"},
        {"Summary forged", "The signature of this report cannot be trusted", ""},
    };
    for (const Case& c : cases) {
        scripted.shown.clear();
        open(c.description);
        ASSERT_FALSE(scripted.shown.empty()) << c.description;
        EXPECT_EQ(scripted.shown.back().text.rfind(c.last_shown, 0), 0u) << scripted.shown.back().text;
        if (!*c.title) {
            EXPECT_EQ(testing_root::read_all(seen).rfind(
                          "Brisco Torvane Medical - TIMI Summary Report - Signature not verified\r\n", 0),
                      0u);
            continue;
        }
        const auto docs = documents_of<TIMIDoc>();
        ASSERT_EQ(docs.size(), 1u) << c.description;
        EXPECT_EQ(docs[0]->title(), c.title);
        // Edited, it is no longer what was signed.
        docs[0]->set_edited();
        EXPECT_EQ(docs[0]->title(), kEditedSignedTimiTitle);
        docs[0]->set_modified(false);
        for (fw::ChildFrame* f : windows->main_frame()->child_frames())
            if (f->active_document() == docs[0]) f->close();
        settle();
    }
    ::setenv("PATH", old_path.c_str(), 1);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// What a signed report shows comes from what its signature covers: a confirmation, or patient
// details, put beside signed.dat by anyone who can write the archive are not shown.
TEST_F(SignedReportOpenTest, FilesBesideTheSignatureAreNotShown) {
    testing_root::write_file(report_folder("R1.IMG") / "CONFIRM.TXT", "dr. quillon");
    const std::string confirmed = sign("R1.IMG", "Ann Alder - confirmed");
    for (const std::string& folder : {confirmed, signed_formatted}) {
        testing_root::write_file(fs::path(folder) / "CONFIRM.TXT", "MALLORY");
        testing_root::write_file(fs::path(folder) / "PATIENT.TXT", "--\r\n--\r\nMallory Planted\r\n");
    }
    const struct {
        const char* description;
        const char* confirmation;
    } cases[] = {{"Ann Alder - confirmed", "dr. quillon"}, {"Ann Alder - signed", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        open(c.description);
        EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
        const auto docs = report_docs();
        ASSERT_EQ(docs.size(), 1u);
        EXPECT_EQ(docs[0]->core().confirmation(), c.confirmation);
        EXPECT_EQ(docs[0]->core().page(0)->items()[0]->text()->text,
                  "\x1b\x01"
                  "Brisco Torvane Medical Ltd - Digitally Signed Report");
        for (fw::ChildFrame* f : windows->main_frame()->child_frames()) f->close();
        settle();
    }
    // The browser's details pane does not take the planted patient for the signed one.
    ASSERT_NE(open_browser(), nullptr);
    gui::CBrowserListDoc* doc = gui::open_archive_group(group_index);
    ASSERT_NE(doc, nullptr);
    const BrowserListCore& list = doc->core();
    bool seen = false;
    for (std::int32_t row = 0; row < list.get_row_count(); ++row) {
        if (list.get_record(row)->get_description() != "Ann Alder - confirmed") continue;
        seen = true;
        EXPECT_EQ(list.get_details_text(row), kNoPatientDetailsText);
    }
    EXPECT_TRUE(seen);
}

// "/load" and "/preview" open a signed report from its container too: pages, patient and
// confirmation placed beside it are not shown, and a container that does not verify opens nothing.
TEST_F(SignedReportOpenTest, TheCommandLineOpensASignedReportFromItsContainer) {
    const fs::path folder = signed_formatted;
    testing_root::write_file(folder / "CONFIRM.TXT", "MALLORY");
    testing_root::write_file(folder / "PATIENT.TXT", "--\r\n--\r\nMallory Planted\r\n");
    testing_root::write_file(folder / "PAGE.0", testing::label_record());
    for (const char* page : {"PAGE.1", "PAGE.2", "PAGE.3"})
        testing_root::write_file(folder / page, testing::text_record(3200, 6400, "AF present, paroxysmal."));
    const std::set<std::string> before = temp_folders();
    for (const bool preview : {false, true}) {
        SCOPED_TRACE(preview ? "/preview" : "/load");
        if (preview)
            preview_report_command(folder.string() + "|");
        else
            load_report_command(*CTolbexApp::current(), folder.string() + "|Given");
        settle();
        EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
        const auto docs = report_docs();
        ASSERT_EQ(docs.size(), 1u);
        const ReportDocument& core = docs[0]->core();
        ASSERT_EQ(core.page_count(), 2);
        EXPECT_EQ(core.page(0)->items()[0]->text()->text,
                  "\x1b\x01"
                  "Brisco Torvane Medical Ltd - Digitally Signed Report");
        EXPECT_EQ(core.page(1)->items()[0]->text()->text, "first page");
        EXPECT_EQ(core.confirmation(), "");
        EXPECT_EQ(docs[0]->title().find("Mallory"), std::string::npos) << docs[0]->title();
        EXPECT_TRUE(core.is_read_only());
        for (fw::ChildFrame* f : windows->main_frame()->child_frames()) f->close();
        settle();
        EXPECT_EQ(temp_folders(), before) << "the restored files go with the window";
    }
    // Changed: nothing opens, the user is told, nothing is left behind.
    std::string bytes = testing_root::read_file(folder / signing::kSignedFileName);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    testing_root::write_file(folder / signing::kSignedFileName, bytes);
    preview_report_command(folder.string() + "|");
    settle();
    EXPECT_TRUE(report_docs().empty());
    EXPECT_FALSE(scripted.shown.empty());
    EXPECT_EQ(temp_folders(), before);
}

// A certificate's name with a line break in it shows as one line, on the signature page and in the
// TIMI data's message.
TEST_F(SignedReportOpenTest, ACertificateNameWithALineBreakShowsAsOneLine) {
    const auto crlf =
        signing::testing::make_identity("Anna Smith\r\nThis TIMI Data Report was signed", "Clinic CA", "0C1F");
    testing_root::write_file(fs::path(platform::trust_store_dir()) / "crlf.pem", crlf.cert_pem);
    sign_as(crlf, "R1.IMG", "Ann Alder - line break");
    sign_as(crlf, "D1.TIM", "Tim Data - line break");
    const std::string one_line = "Anna Smith\\x0D\\x0AThis TIMI Data Report was signed";

    open("Ann Alder - line break");
    EXPECT_TRUE(scripted.shown.empty()) << scripted.shown.front().text;
    const auto docs = report_docs();
    ASSERT_EQ(docs.size(), 1u);
    bool named = false;
    for (const auto& item : docs[0]->core().page(0)->items()) {
        const std::optional<TextData> data = item->text();
        if (!data) continue;
        const std::string& text = data->text;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        named = named || text == "\x1b\x03Signer name : " + one_line;
    }
    EXPECT_TRUE(named);

    gui::set_signed_timi_opener([](const gui::SignedTimiData& d) {
        fs::remove_all(d.folder);
        return true;
    });
    open("Tim Data - line break");
    ASSERT_EQ(scripted.shown.size(), 1u);
    const std::string& message = scripted.shown[0].text;
    EXPECT_EQ(message.rfind("This TIMI Data Report was signed with the following details\n", 0), 0u) << message;
    EXPECT_EQ(message.find("\nThis TIMI"), std::string::npos) << message;
    EXPECT_NE(message.find("Signer name : " + one_line + "\n"), std::string::npos) << message;
}

}  // namespace
}  // namespace tv
