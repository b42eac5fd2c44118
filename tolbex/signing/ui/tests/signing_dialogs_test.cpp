#include "tolbex/signing/ui/signing_dialogs.h"

#include <filesystem>
#include <fstream>

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include "common/text.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/tests/qt_test_app.h"
#include "platform/cert_store.h"
#include "testing/pam_test_config.h"
#include "platform/account.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/trust.h"
#include "tolbex/signing/tests/bmp_fixture.h"
#include "tolbex/signing/tests/pkcs12_cli.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace tv::gui {
namespace {

namespace fs = std::filesystem;
using testing_pam::PamRule;

// The text of the details dialog's field named by its control number.
std::string field_text(const QWidget& dialog, int control) {
    const auto* label = dialog.findChild<QLabel*>(QString::number(control));
    return label ? from_qstring(label->text()) : std::string();
}

class SigningDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fw::testing::qt_app();
        set_ui(&scripted);
        platform::set_cert_store(store.get());
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        platform::set_cert_store(nullptr);
        set_ui(nullptr);
    }
    platform::testing::TempRoot root;
    ScriptedUi scripted;
    std::unique_ptr<platform::CertStore> store = platform::make_memory_cert_store();
};

TEST_F(SigningDialogsTest, LogonChecksNameAndPasswordAndStaysOpenOnARefusal) {
    testing_pam::PamTestConfig pam(fs::path(root.path()) / "pam.d", PamRule::Permit);
    const std::string me = testing_pam::current_logon_name();
    struct Case {
        std::string name;
        PamRule rule;
        std::string message;  // empty: accepted
    };
    const Case cases[] = {
        {me, PamRule::Permit, ""},
        {me, PamRule::Deny, "Password is not valid"},
        {"", PamRule::Permit, "Logon name is not valid"},
    };
    for (const Case& c : cases) {
        pam.set(c.rule);
        scripted.shown.clear();
        signing::LogonSession session;
        LogonDlg dialog(session);
        dialog.on_init_dialog();
        dialog.name_edit()->setText(to_qstring(c.name));
        dialog.password_edit()->setText(QStringLiteral("secret"));
        dialog.on_ok();
        EXPECT_TRUE(dialog.password_edit()->text().isEmpty()) << "the password never stays";
        EXPECT_EQ(from_qstring(dialog.name_edit()->text()), c.name);
        if (c.message.empty()) {
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_TRUE(scripted.shown.empty());
            EXPECT_EQ(dialog.logon_name(), me);
            EXPECT_FALSE(dialog.full_name().empty());
            EXPECT_EQ(session.logon_name(), me);
        } else {
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            ASSERT_EQ(scripted.shown.size(), 1u);
            EXPECT_EQ(scripted.shown[0].text, c.message);
            EXPECT_FALSE(session.logged_on());
        }
    }
}

// Key by key, as a user types (the edit's undo list records each).
void type_into(QLineEdit* edit, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(edit, &press);
    }
}

TEST_F(SigningDialogsTest, ThePasswordOpensTheKeysAndLeavesTheEditOnEveryPath) {
    testing_pam::PamTestConfig pam(fs::path(root.path()) / "pam.d", PamRule::Permit);
    const auto p12 =
        signing::testing::pkcs12_from_cli(signing::testing::make_identity("Anna Smith"), "secret", root.path());
    if (!p12) GTEST_SKIP() << "no openssl program here";
    ASSERT_TRUE(store->put("a.p12", *p12));
    struct Case {
        const char* what;
        bool ok;
        const char* password;
        std::size_t opened;
    };
    const Case cases[] = {{"OK", true, "secret", 1},
                          {"OK, another password", true, "other", 0},
                          {"Cancel", false, "secret", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        signing::Crypto keys;
        signing::LogonSession session;
        LogonDlg dialog(session, &keys);
        dialog.on_init_dialog();
        dialog.name_edit()->setText(to_qstring(testing_pam::current_logon_name()));
        type_into(dialog.password_edit(), QString::fromLatin1(c.password));
        ASSERT_EQ(dialog.password_edit()->text(), QString::fromLatin1(c.password));
        if (c.ok) {
            dialog.on_ok();
        } else {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(&dialog, &escape);
            EXPECT_EQ(dialog.result(), QDialog::Rejected);
        }
        EXPECT_TRUE(dialog.password_edit()->text().isEmpty());
        dialog.password_edit()->undo();
        EXPECT_TRUE(dialog.password_edit()->text().isEmpty()) << "nothing to undo back";
        EXPECT_EQ(keys.list_certificates().size(), c.opened);
        signing::ConfirmValues values{"asmith", "Anna Smith", "", 0, {}};
        ConfirmSignDlg confirm(keys, values);
        confirm.on_init_dialog();
        EXPECT_EQ(confirm.locked_note()->isHidden(), c.opened == 1) << "the note on certificates left out";
    }
}

// Through the windows a user answers: a certificate issued to another name than the account's
// is signed with only after Yes to the question naming both, and then in the certificate's name.
TEST_F(SigningDialogsTest, ACertificateOfAnotherNameIsAskedAboutNamingBoth) {
    testing_pam::PamTestConfig pam(fs::path(root.path()) / "pam.d", PamRule::Permit);
    const std::string me = testing_pam::current_logon_name();
    const std::string account = platform::account_full_name(me).value_or("");
    const auto ben = signing::testing::make_identity("Ben Jones", "Clinic CA");
    ASSERT_TRUE(store->put("b.p12", ben.p12));
    fs::create_directories(platform::trust_store_dir());
    ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/ben.pem", ben.cert_pem));
    fs::create_directories(fs::path(root.path()) / "ARCH/R1.IMG");
    ASSERT_TRUE(platform::atomic_write_file(root / "ARCH/ARCHINFO.DAT", ""));
    ASSERT_TRUE(platform::atomic_write_file(root / "ARCH/R1.IMG/PAGE.1", "page"));
    struct NoTrail : AuditTrail {
        bool open(const std::string&) override { return true; }
        bool write(const char*, const std::string&, const std::string&, const std::string&) override { return true; }
        void close() override {}
    } trail;
    for (const MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
        std::vector<std::string> titles;
        fw::Dialog::set_test_hook([&](fw::Dialog& d) {
            titles.push_back(d.windowTitle().toStdString());
            if (auto* logon = dynamic_cast<LogonDlg*>(&d)) {
                logon->name_edit()->setText(to_qstring(me));
                type_into(logon->password_edit(), QStringLiteral("pw"));
            } else if (titles.size() > 2) {
                return int(QDialog::Rejected);  // the second confirmation, after No
            }
            d.on_ok();
            return d.result();
        });
        scripted.shown.clear();
        scripted.answers = {answer};
        signing::Crypto crypto;
        QtSignDialogs dialogs(nullptr);
        signing::LogonSession session;
        const auto stored =
            signing::sign_reports({root / "ARCH/R1.IMG"}, {"First"}, crypto, dialogs, trail, scripted, session);
        ASSERT_EQ(scripted.shown.size(), 1u);
        EXPECT_EQ(scripted.shown[0].text,
                  "The certificate you chose is issued to \"Ben Jones\" by \"Clinic CA\", but "
                  "you are logged on as \"" +
                      account + "\" (" + me +
                      ").\n\nThe report will be signed as \"Ben Jones\". Sign it?\n\n"
                      "Choose No to pick another certificate.");
        if (answer == MsgResult::No) {
            EXPECT_EQ(titles, (std::vector<std::string>{"Enter User Details", "Confirm Signing Details",
                                                        "Confirm Signing Details"}));
            EXPECT_TRUE(stored.empty());
            continue;
        }
        ASSERT_EQ(stored.size(), 1u);
        auto v = signing::verify_signed_report(stored[0] + "/signed.dat");
        ASSERT_TRUE(v) << v.error().message;
        EXPECT_EQ(v->signers().front().signer_name, "Ben Jones");
        EXPECT_EQ(v->signers().front().issued_to, "Ben Jones");
        EXPECT_EQ(v->signers().front().logon_name, me);
    }
}

TEST_F(SigningDialogsTest, LogonOffersTheLastSignersName) {
    signing::LogonSession session;
    session.logon("asmith");
    LogonDlg dialog(session);
    dialog.on_init_dialog();
    EXPECT_EQ(dialog.name_edit()->text(), QStringLiteral("asmith"));
}

TEST_F(SigningDialogsTest, CertificateStatusComparesNotAfterItself) {
    // The test certificates run until 2044-01-02 03:04:05 UTC.
    const signing::testing::TestIdentity id = signing::testing::make_identity("Anna Smith");
    const signing::Certificate c = id.certificate;
    // The site trusts it, so that its dates alone decide.
    std::filesystem::create_directories(platform::trust_store_dir());
    std::ofstream(platform::trust_store_dir() + "/anna.pem") << id.cert_pem;
    struct Case {
        std::int64_t now;
        std::string status;
    };
    const std::string early = format_string(kCertificateRefusedText,
                                            "the certificate of \"Anna Smith\" is not yet valid");  // before 2024-01-02
    for (const Case& k : {Case{2335316645 - 1, kCertificateValidText}, Case{2335316645, kCertificateExpiredText},
                          Case{2335316645 + 1, kCertificateExpiredText}, Case{0, early}}) {
        signing::SignatureRecord r;
        r.certificate = c;
        ASSERT_TRUE(signing::fill_certificate_fields(r));
        CertificateDetailsDlg dialog(r, k.now);
        EXPECT_EQ(dialog.status_text(), k.status) << k.now;
        EXPECT_EQ(field_text(dialog, 1578), "Anna Smith");
        EXPECT_EQ(field_text(dialog, 1581), "03:04:05 02 Jan 2044");
    }
}

TEST_F(SigningDialogsTest, CertificatesThatReadAlikeAreBothChoosable) {
    const auto a = signing::testing::make_identity("Anna Smith", "Clinic CA", "01");
    const auto b = signing::testing::make_identity("Anna Smith", "Clinic CA", "02");
    ASSERT_TRUE(store->put("a.p12", a.p12));
    ASSERT_TRUE(store->put("b.p12", b.p12));
    const signing::Crypto crypto;
    for (int item = 0; item < 2; ++item) {
        signing::ConfirmValues values{"asmith", "Anna Smith", "", 0, {}};
        ConfirmSignDlg dialog(crypto, values);
        dialog.on_init_dialog();
        ASSERT_EQ(dialog.certificate_box()->count(), 2);
        EXPECT_EQ(dialog.certificate_box()->itemText(item), QStringLiteral("Anna Smith, issued by Clinic CA"));
        // The shown dialog gives the list room for its entry whole.
        dialog.show();
        const QFontMetrics metrics = dialog.certificate_box()->fontMetrics();
        EXPECT_GT(dialog.certificate_box()->width(),
                  metrics.horizontalAdvance(QStringLiteral("Anna Smith, issued by Clinic CA")));
        dialog.hide();
        dialog.certificate_box()->setCurrentIndex(item);
        dialog.approved_button()->setChecked(true);
        dialog.on_ok();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(values.certificate.fingerprint(), (item ? b : a).certificate.fingerprint());
        EXPECT_EQ(values.meaning, 1);
    }
}

TEST_F(SigningDialogsTest, ConfirmShowsAUsableBitmapAndDropsAnUnusableOne) {
    const signing::Crypto crypto;
    struct Case {
        int width;
        bool kept;
    };
    for (const Case& c : {Case{64, true}, Case{100, false}}) {
        scripted.shown.clear();
        const std::string path = root / "sig.bmp";
        ASSERT_TRUE(platform::atomic_write_file(path, signing::testing::make_bmp(c.width, 8)));
        signing::ConfirmValues values{"asmith", "Anna Smith", path, 0, {}};
        ConfirmSignDlg dialog(crypto, values);
        dialog.on_init_dialog();
        EXPECT_EQ(values.bitmap.empty(), !c.kept) << c.width;
        EXPECT_EQ(dialog.preview()->pixmap().isNull(), !c.kept) << c.width;
        EXPECT_EQ(scripted.shown.size(), c.kept ? 0u : 1u) << "the width message";
    }
}

// "Valid" only for what Sign takes: each certificate it refuses says why.
TEST_F(SigningDialogsTest, CertificateStatusSaysWhatSignWouldRefuse) {
    const signing::testing::TestCa ca = signing::testing::make_ca("Clinic CA");
    std::filesystem::create_directories(platform::trust_store_dir());
    std::ofstream(platform::trust_store_dir() + "/clinic-ca.pem") << ca.id.cert_pem;
    const std::int64_t now = 1767225600;  // 2026-01-01
    const struct {
        const char* what;
        signing::Certificate certificate;
        const char* status;  // a part of it
    } cases[] = {
        {"issued by the site's authority", signing::testing::make_issued_identity("Anna Smith", ca).certificate,
         kCertificateValidText},
        {"not yet valid", signing::testing::make_issued_identity("Anna Smith", ca, "20300101000000Z").certificate,
         "not yet valid"},
        {"self-made", signing::testing::make_identity("Anna Smith", "Clinic CA").certificate,
         "was not issued by an authority that this site trusts"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string status = certificate_status(c.certificate, now);
        EXPECT_NE(status.find(c.status), std::string::npos) << status;
        EXPECT_EQ(status == kCertificateValidText, signing::signing_refusal(c.certificate, now).empty());
    }
}

TEST_F(SigningDialogsTest, CertificateDetailsShowTheSelectedCertificate) {
    const signing::testing::TestIdentity id = signing::testing::make_identity("Anna Smith", "Clinic CA");
    ASSERT_TRUE(store->put("a.p12", id.p12));
    std::filesystem::create_directories(platform::trust_store_dir());
    std::ofstream(platform::trust_store_dir() + "/anna.pem") << id.cert_pem;
    const signing::Crypto crypto;
    signing::ConfirmValues values{"asmith", "Anna Smith", "", 0, {}};
    ConfirmSignDlg dialog(crypto, values);
    dialog.on_init_dialog();
    std::vector<std::string> shown;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* details = dynamic_cast<CertificateDetailsDlg*>(&d))
            shown = {field_text(*details, 1578), field_text(*details, 1579), details->status_text()};
        return int(QDialog::Accepted);
    });
    dialog.show_certificate_details();
    EXPECT_EQ(shown, (std::vector<std::string>{"Anna Smith", "Clinic CA", kCertificateValidText}));
}

TEST_F(SigningDialogsTest, ConfirmWithoutACertificateKeepsTheDialogOpen) {
    const signing::Crypto crypto;
    signing::ConfirmValues values{"asmith", "Anna Smith", "", 0, {}};
    ConfirmSignDlg dialog(crypto, values);
    dialog.on_init_dialog();
    dialog.on_ok();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, kNoCertificateText);
    EXPECT_TRUE(values.certificate.empty());
}

}  // namespace
}  // namespace tv::gui
