#include "tolbex/signing/sign_flow.h"

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "common/audit_log.h"
#include "common/files.h"
#include "platform/cert_store.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/pam_test_config.h"
#include "testing/test_root.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/signing/signature_bitmaps.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/tests/bmp_fixture.h"
#include "tolbex/signing/tests/pkcs12_cli.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace tv::signing {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// The dialogs as a user answers them: OK or Cancel, the first certificate.
class ScriptedDialogs : public SignDialogs {
public:
    bool logon_ok = true, confirm_ok = true;
    int meaning = 1;
    std::string password;  // opens the keys, as the logon's password does
    int confirms = 0, confirm_limit = 100;
    ConfirmValues shown;
    Texts tips;
    bool logon(LogonSession& session, Crypto& keys, std::string& logon_name, std::string& full_name) override {
        if (!logon_ok) return false;
        session.logon("asmith");
        logon_name = "asmith";
        full_name = "Anna Smith";
        keys.unlock(password);
        return true;
    }
    bool confirm(const Crypto& crypto, ConfirmValues& values) override {
        shown = values;
        if (!confirm_ok || ++confirms > confirm_limit) return false;
        const auto list = crypto.list_certificates();
        if (list.empty()) return false;
        values.certificate = crypto.find_certificate(list.front().fingerprint);
        values.meaning = meaning;
        return true;
    }
    void signing(const std::string& name) override { tips.push_back(kSigningTipPrefix + name + " "); }
};

class RecordingTrail : public AuditTrail {
public:
    Texts entries;
    std::string refuse;  // a folder whose log does not open
    int open_logs = 0;
    bool open(const std::string& path) override {
        if (path == refuse) return false;
        ++open_logs;
        return true;
    }
    bool write(const char* format, const std::string& a, const std::string& b, const std::string& c) override {
        entries.push_back(std::string(format) + "|" + a + "|" + b + "|" + c);
        return true;
    }
    void close() override { open_logs = 0; }
};

class SignFlowTest : public ::testing::Test {
public:
    void SetUp() override {
        platform::set_cert_store(store.get());
        ASSERT_TRUE(store->put("anna.p12", id.p12));
        // The site trusts this signer's certificate itself.
        fs::create_directories(platform::trust_store_dir());
        ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/anna.pem", id.cert_pem));
        fs::create_directories(root / "ARCH");
        ASSERT_TRUE(platform::atomic_write_file(root / "ARCH/ARCHINFO.DAT", ""));
        folders.clear();
        for (const char* name : {"R1.IMG", "R2.IMG", "R3.IMG"}) {
            folders.push_back(root / (std::string("ARCH/") + name));
            fs::create_directories(folders.back());
            ASSERT_TRUE(platform::atomic_write_file(folders.back() + "/PAGE.1", name));
        }
    }
    void TearDown() override { platform::set_cert_store(nullptr); }

    std::vector<std::string> sign(const std::vector<std::string>& f, const Texts& n) {
        Crypto crypto;
        return sign_reports(f, n, crypto, dialogs, trail, scripted, session);
    }
    std::size_t signed_count() {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(root / "ARCH")) n += get_extension_upper(e.path()) == "SGN";
        return n;
    }

    platform::testing::TempRoot root;
    std::unique_ptr<platform::CertStore> store = platform::make_memory_cert_store();
    testing::TestIdentity id = testing::make_identity("Anna Smith", "Clinic CA");
    std::vector<std::string> folders;
    ScriptedDialogs dialogs;
    RecordingTrail trail;
    ScriptedUi scripted;
    LogonSession session;
};

// A certificate whose key usage does not allow signing is refused with the reason, before any
// log is opened or anything written.
TEST_F(SignFlowTest, ACertificateNotMeantForSigningSignsNothing) {
    EVP_PKEY* key = testing::shared_test_key();
    X509* x = testing::make_x509("Anna Smith", "Clinic CA", "77", key, key, true, false, "20240102030405Z",
                                 "20440102030405Z");
    X509_EXTENSION* usage = X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, "critical,keyEncipherment");
    X509_add_ext(x, usage, -1);
    X509_EXTENSION_free(usage);
    X509_sign(x, key, EVP_sha256());
    ASSERT_TRUE(store->put("anna.p12", testing::identity_of(x, key, "Anna Smith").p12));
    EXPECT_TRUE(sign({folders[0]}, {"First"}).empty());
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "The report cannot be signed with this certificate: the certificate of \"Anna Smith\" is not meant for "
              "signing: its key usage allows neither digital signatures nor non-repudiation.");
    EXPECT_EQ(trail.open_logs, 0);
    EXPECT_TRUE(trail.entries.empty());
    EXPECT_EQ(signed_count(), 0u);
}

// A certificate that would not verify here now (the site does not trust it, or no longer, or not
// yet) is refused with the reason before any log is opened or anything written.
TEST_F(SignFlowTest, ACertificateThatWouldNotVerifyNowSignsNothing) {
    const testing::TestCa ca = testing::make_ca("Clinic CA");
    ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/clinic-ca.pem", ca.id.cert_pem));
    const struct {
        testing::TestIdentity signer;
        const char* why;
    } cases[] = {
        {testing::make_issued_identity("Anna Smith", ca, "20100101000000Z", "20150101000000Z"),
         "the certificate of \"Anna Smith\" has expired"},
        {testing::make_issued_identity("Anna Smith", ca, "20990101000000Z", "21000101000000Z"),
         "the certificate of \"Anna Smith\" is not yet valid"},
        {testing::make_identity("Anna Smith", "Stranger CA", "03"),
         "the certificate of \"Anna Smith\" was not issued by an authority that this site trusts"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(store->put("anna.p12", c.signer.p12));
        scripted.shown.clear();
        EXPECT_TRUE(sign({folders[0]}, {"First"}).empty());
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text,
                  std::string("The report cannot be signed with this certificate: ") + c.why + ".");
        EXPECT_EQ(trail.open_logs, 0);
        EXPECT_TRUE(trail.entries.empty());
        EXPECT_EQ(signed_count(), 0u);
        EXPECT_EQ(std::distance(fs::directory_iterator(root.tmp()), {}), 0);
    }
}

TEST_F(SignFlowTest, EachReportBecomesASignedReportWithItsAuditEntry) {
    const auto stored = sign({folders[0], folders[1]}, {"First", "Second"});
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(dialogs.tips, (Texts{" Signing report : First ", " Signing report : Second "}));
    EXPECT_EQ(trail.entries, (Texts{std::string(kAuditTimiSign) + "|First|" + folders[0] + "|" + stored[0],
                                    std::string(kAuditTimiSign) + "|Second|" + folders[1] + "|" + stored[1]}));
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(get_path_folder(stored[i]), root / "ARCH");
        auto v = verify_signed_report(stored[i] + "/signed.dat");
        ASSERT_TRUE(v) << v.error().message;
        const SignatureRecord& s = v->signers().front();
        EXPECT_EQ(s.signer_name, "Anna Smith");
        EXPECT_EQ(s.logon_name, "asmith");
        EXPECT_EQ(s.meaning, 1u);
        EXPECT_EQ(*platform::read_whole_file(v->folder() + "/PAGE.1"), get_path_file_name(folders[i]));
    }
    EXPECT_TRUE(scripted.shown.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(root.tmp()), {}), 0) << "no scratch left";
}

// TIMI data and TIMI summaries sign like formatted reports: a new signed report beside each, whose
// restored files are the report's and whose kind says how it is shown; the summary shows with
// the signatures in front of its own lines.
TEST_F(SignFlowTest, TimiDataAndSummaryReportsSignWithTheirKinds) {
    using Files = std::map<std::string, std::string>;
    const struct {
        const char* folder;
        Files files;
        SignedReportKind kind;
    } cases[] = {
        {"T1.TIM",
         {{"DATA.TIMI", "Quorril TIMI data file Ver 2\r\n\r\nPatient ID #:  P1\r\n"},
          {"TIMI_SUMM_LOC.TXT", "/archive/T2.SUM/TIMI_SUMMARY.TXT"}},
         SignedReportKind::TimiData},
        {"T2.SUM",
         {{"TIMI_SUMMARY.TXT", "TIMI Summary\r\nPatient ID #:  P1\r\nlast line"}},
         SignedReportKind::TimiSummary},
    };
    std::vector<std::string> timi;
    for (const auto& c : cases) {
        timi.push_back(root / (std::string("ARCH/") + c.folder));
        fs::create_directories(timi.back());
        for (const auto& [name, bytes] : c.files)
            ASSERT_TRUE(platform::atomic_write_file(timi.back() + "/" + name, bytes));
    }
    EXPECT_TRUE(sign_enabled_for({"T1.TIM", "T2.SUM"}));
    const auto stored = sign(timi, {"TIMI Data", "TIMI Summary"});
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_TRUE(scripted.shown.empty());
    const std::string index = *platform::read_whole_file(root / "ARCH/ARCHINFO.DAT");
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(cases[i].folder);
        EXPECT_EQ(get_path_folder(stored[i]), root / "ARCH");
        EXPECT_EQ(report_type_from_path(stored[i]), kReportSigned);
        EXPECT_NE(index.find(get_path_file_name(stored[i])), std::string::npos);
        auto v = verify_signed_report(stored[i] + "/signed.dat");
        ASSERT_TRUE(v) << v.error().message;
        EXPECT_EQ(v->kind(), cases[i].kind);
        Files restored;
        for (const auto& e : fs::directory_iterator(v->folder()))
            restored[e.path().filename().string()] = *platform::read_whole_file(e.path().string());
        EXPECT_EQ(restored, cases[i].files);
        EXPECT_EQ(trail.entries[i], std::string(kAuditTimiSign) + "|" + (i ? "TIMI Summary" : "TIMI Data") + "|" +
                                        timi[i] + "|" + stored[i]);
        if (cases[i].kind != SignedReportKind::TimiSummary) continue;
        std::string front =
            signed_label(SignedLabel::TimiSummaryHeading, true) + "\n\n" + signature_details_text(v->signers().front());
        EXPECT_NE(front.find("Signer name : Anna Smith\n"), std::string::npos);
        std::string crlf;
        for (char c : front) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_EQ(signed_timi_summary_text(restored["TIMI_SUMMARY.TXT"], v->signers()),
                  crlf + "TIMI Summary\r\nPatient ID #:  P1\r\nlast line\r\n");
    }
    // Two signatures: both blocks, in order, before the text; LF lines come out CR LF.
    SignatureRecord first = testing::signer_record(id), second = first;
    first.verified = second.verified = true;
    second.signer_name = "Ben Jones";
    const std::string two = signed_timi_summary_text("a\nb\n", {first, second});
    EXPECT_LT(two.find("Signer name : Anna Smith\r\n"), two.find("Signer name : Ben Jones\r\n"));
    EXPECT_EQ(two.substr(two.size() - 10), "\r\n\r\na\r\nb\r\n");
}

TEST_F(SignFlowTest, CancellingLogonOrConfirmationSignsNothing) {
    for (int which = 0; which < 2; ++which) {
        dialogs.logon_ok = which != 0;
        dialogs.confirm_ok = which != 1;
        EXPECT_TRUE(sign({folders[0]}, {"First"}).empty());
        EXPECT_EQ(signed_count(), 0u);
        EXPECT_TRUE(trail.entries.empty());
        EXPECT_TRUE(scripted.shown.empty());
    }
}

TEST_F(SignFlowTest, AFailureStopsTheRestAndKeepsWhatWasSigned) {
    struct Case {
        const char* what;
        std::function<void(SignFlowTest&)> spoil;
        std::string message;
    };
    const Case cases[] = {
        {"unsignable type",
         [](SignFlowTest& t) {
             fs::rename(t.folders[1], t.root / "ARCH/R2.FUL");
             t.folders[1] = t.root / "ARCH/R2.FUL";
         },
         kUnsignableTypeText},
        {"log cannot be opened", [](SignFlowTest& t) { t.trail.refuse = t.folders[1]; }, kSignLogFailedText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root / "ARCH");
        SetUp();
        trail = RecordingTrail();
        scripted.shown.clear();
        c.spoil(*this);
        const auto stored = sign(folders, {"First", "Second", "Third"});
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_EQ(signed_count(), 1u);
        EXPECT_EQ(trail.entries.size(), 1u);
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text, c.message);
        EXPECT_EQ(std::distance(fs::directory_iterator(root.tmp()), {}), 0) << "no scratch left";
    }
}

TEST_F(SignFlowTest, TheSignersBitmapIsOfferedAndPackedFromItsOwnPlace) {
    const std::string bmp = testing::make_bmp(32, 8);
    ASSERT_TRUE(platform::atomic_write_file(root / "sig.bmp", bmp));
    auto name = store_signature_bitmap(root / "sig.bmp", "asmith", {});
    ASSERT_TRUE(name);
    ASSERT_TRUE(write_signature_list({{"asmith", *name}}));
    const auto stored = sign({folders[0]}, {"First"});
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(dialogs.shown.bitmap, signature_bitmap_path("sig.bmp"));
    EXPECT_FALSE(fs::exists(folders[0] + "/signature.bmp")) << "the report folder is not touched";
    auto v = verify_signed_report(stored[0] + "/signed.dat");
    ASSERT_TRUE(v);
    EXPECT_EQ(*platform::read_whole_file(v->folder() + "/signature.bmp"), bmp);
}

TEST_F(SignFlowTest, ABitmapGoneAtSigningTimeStopsWithItsMessageAndSignsNothing) {
    ASSERT_TRUE(write_signature_list({{"asmith", "gone.bmp"}}));
    EXPECT_TRUE(sign({folders[0]}, {"First"}).empty());
    EXPECT_EQ(signed_count(), 0u);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "Could not open signature bitmap file : " + signature_bitmap_path("gone.bmp"));
    EXPECT_TRUE(trail.entries.empty());
}

// The signer's name on the report is the certificate's; one issued to another name than the
// account's is used only when the signer says so, and No goes back to the choice.
TEST_F(SignFlowTest, ACertificateOfAnotherNameNeedsTheSignersYes) {
    const auto ben = testing::make_identity("Ben  JONES", "Clinic CA", "02");
    struct Case {
        const char* full_name;  // of the account
        std::vector<MsgResult> answers;
        std::size_t signed_reports, confirms;
    };
    const Case cases[] = {
        {"Anna Smith", {MsgResult::No}, 0, 2},
        {"Anna Smith", {MsgResult::Yes}, 1, 1},
        {" ben jones", {}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.full_name);
        fs::remove_all(root / "ARCH");
        SetUp();
        ASSERT_TRUE(store->put("anna.p12", ben.p12));  // the only certificate
        fs::create_directories(platform::trust_store_dir());
        ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/ben.pem", ben.cert_pem));
        struct Named : ScriptedDialogs {
            std::string full;
            bool logon(LogonSession& s, Crypto& k, std::string& l, std::string& f) override {
                ScriptedDialogs::logon(s, k, l, f);
                f = full;
                return true;
            }
        } named;
        named.full = c.full_name;
        named.confirm_limit = 1;  // the second confirmation is cancelled
        scripted.shown.clear();
        scripted.answers.assign(c.answers.begin(), c.answers.end());
        Crypto crypto;
        const auto stored = sign_reports({folders[0]}, {"First"}, crypto, named, trail, scripted, session);
        ASSERT_EQ(stored.size(), c.signed_reports);
        EXPECT_EQ(named.confirms, static_cast<int>(c.confirms));
        if (!c.answers.empty()) {
            ASSERT_EQ(scripted.shown.size(), 1u);
            EXPECT_EQ(
                scripted.shown[0].text,
                "The certificate you chose is issued to \"Ben  JONES\" by \"Clinic CA\", but you are logged on as "
                "\"Anna Smith\" (asmith).\n\nThe report will be signed as \"Ben  JONES\". Sign it?\n\nChoose No "
                "to pick another certificate.");
            EXPECT_EQ(scripted.shown[0].default_button, MsgResult::No);
        } else {
            EXPECT_TRUE(scripted.shown.empty());
        }
        if (stored.empty()) continue;
        auto v = verify_signed_report(stored[0] + "/signed.dat");
        ASSERT_TRUE(v) << v.error().message;
        const SignatureRecord& s = v->signers().front();
        EXPECT_EQ(s.signer_name, "Ben  JONES");
        EXPECT_EQ(s.issued_to, "Ben  JONES");
        EXPECT_EQ(s.logon_name, "asmith");
        const std::string details = signature_details_text(s);
        EXPECT_NE(details.find("Signer name : Ben  JONES\n"), std::string::npos);
    }
}

// A PKCS#12 file with a password, made as a site makes one, signs once the logon password opens
// it; with another password it is not offered and nothing is signed.
TEST_F(SignFlowTest, AProtectedCertificateSignsWithTheLogonPassword) {
    const auto p12 = testing::pkcs12_from_cli(id, "pass word", root.path());
    if (!p12) GTEST_SKIP() << "no openssl program here";
    ASSERT_TRUE(store->put("anna.p12", *p12));
    for (const char* password : {"wrong", "pass word"}) {
        SCOPED_TRACE(password);
        dialogs.password = password;
        const bool right = std::string(password) == "pass word";
        const auto stored = sign({folders[0]}, {"First"});
        ASSERT_EQ(stored.size(), right ? 1u : 0u);
        EXPECT_EQ(signed_count(), right ? 1u : 0u);
        if (!right) continue;
        auto v = verify_signed_report(stored[0] + "/signed.dat");
        ASSERT_TRUE(v) << v.error().message;
        EXPECT_EQ(v->signers().front().issued_to, "Anna Smith");
    }
}

TEST(SignEnabled, KindsThatCannotBeSignedDisableIt) {
    struct Case {
        Texts names;
        bool enabled;
    };
    const Case cases[] = {
        {{}, true},
        {{"A.IMG", "B.TIM", "C.SUM"}, true},
        {{"A.IMG", "B.SGN"}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(sign_enabled_for(c.names), c.enabled) << ::testing::PrintToString(c.names);
    for (const char* kind : {".FUL", ".PRT", ".RAW", ".OSB", ".CFR", ".CEF", ".NOS", ".QDS", ".RR", ".O12"})
        EXPECT_FALSE(sign_enabled_for({"A.IMG", std::string("X") + kind + "1"})) << kind;
}

TEST(Logon, NameAndPasswordAreCheckedAndThePasswordWiped) {
    platform::testing::TempRoot root;
    testing_pam::PamTestConfig pam(fs::path(root.path()) / "pam.d", testing_pam::PamRule::Permit);
    const std::string me = testing_pam::current_logon_name();
    struct Case {
        std::string name;
        testing_pam::PamRule rule;
        LogonCheck expected;
        std::string message;
    };
    const Case cases[] = {
        {me, testing_pam::PamRule::Permit, LogonCheck::Ok, ""},
        {me, testing_pam::PamRule::Deny, LogonCheck::BadPassword, kPasswordInvalidText},
        {"", testing_pam::PamRule::Permit, LogonCheck::BadName, kLogonNameInvalidText},
        {"no-such-account-here", testing_pam::PamRule::Permit, LogonCheck::BadName, kLogonNameInvalidText},
    };
    for (const Case& c : cases) {
        pam.set(c.rule);
        LogonSession session;
        ScriptedUi scripted;
        std::string password = "secret", full;
        EXPECT_EQ(check_logon(session, c.name, password, full, scripted), c.expected) << c.name;
        EXPECT_TRUE(password.empty());
        EXPECT_EQ(session.logged_on(), c.expected == LogonCheck::Ok);
        if (c.message.empty()) {
            EXPECT_TRUE(scripted.shown.empty());
            EXPECT_FALSE(full.empty());
        } else {
            ASSERT_EQ(scripted.shown.size(), 1u);
            EXPECT_EQ(scripted.shown[0].text, c.message);
        }
    }
    // PAM failing itself is shown, and is a wrong password.
    pam.write("pam_no_such_module_here.so");
    LogonSession session;
    ScriptedUi scripted;
    std::string password = "secret", full;
    EXPECT_EQ(check_logon(session, me, password, full, scripted), LogonCheck::BadPassword);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text.rfind("Password authentication failed : ", 0), 0u);
}

TEST(Logon, ARightPasswordOpensTheKeysAndARefusedOneDoesNot) {
    platform::testing::TempRoot root;
    testing_pam::PamTestConfig pam(fs::path(root.path()) / "pam.d", testing_pam::PamRule::Permit);
    const auto p12 = testing::pkcs12_from_cli(testing::make_identity("Anna Smith"), "secret", root.path());
    if (!p12) GTEST_SKIP() << "no openssl program here";
    auto store = platform::make_memory_cert_store();
    ASSERT_TRUE(store->put("a.p12", *p12));
    for (const auto rule : {testing_pam::PamRule::Deny, testing_pam::PamRule::Permit}) {
        pam.set(rule);
        Crypto keys(*store);
        LogonSession session;
        ScriptedUi scripted;
        std::string password = "secret", full;
        check_logon(session, testing_pam::current_logon_name(), password, full, scripted, &keys);
        EXPECT_TRUE(password.empty());
        EXPECT_EQ(keys.list_certificates().size(), rule == testing_pam::PamRule::Permit ? 1u : 0u);
    }
}

}  // namespace
}  // namespace tv::signing
