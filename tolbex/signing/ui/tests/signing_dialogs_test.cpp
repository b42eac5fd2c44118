#include "tolbex/signing/ui/signing_dialogs.h"

#include <filesystem>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include "framework/qt/qt_text.h"
#include "framework/qt/tests/qt_test_app.h"
#include "platform/cert_store.h"
#include "testing/pam_test_config.h"
#include "platform/fs.h"
#include "tolbex/signing/tests/bmp_fixture.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace tv::gui {
namespace {

namespace fs = std::filesystem;
using testing_pam::PamRule;

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

TEST_F(SigningDialogsTest, LogonOffersTheLastSignersName) {
    signing::LogonSession session;
    session.logon("asmith");
    LogonDlg dialog(session);
    dialog.on_init_dialog();
    EXPECT_EQ(dialog.name_edit()->text(), QStringLiteral("asmith"));
}

TEST_F(SigningDialogsTest, CertificateStatusComparesNotAfterItself) {
    // The test certificates run until 2044-01-02 03:04:05 UTC.
    const signing::Certificate c = signing::testing::make_identity("Anna Smith").certificate;
    struct Case {
        std::int64_t now;
        const char* status;
    };
    for (const Case& k : {Case{2335316645 - 1, kCertificateValidText}, Case{2335316645, kCertificateValidText},
                          Case{2335316645 + 1, kCertificateExpiredText}, Case{0, kCertificateValidText}}) {
        signing::SignatureRecord r;
        r.certificate = c;
        ASSERT_TRUE(signing::fill_certificate_fields(r));
        CertificateDetailsDlg dialog(r, k.now);
        EXPECT_EQ(dialog.status_text(), k.status) << k.now;
        EXPECT_EQ(dialog.field_text(1578), "Anna Smith");
        EXPECT_EQ(dialog.field_text(1581), "03:04:05 02 Jan 2044");
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

TEST_F(SigningDialogsTest, CertificateDetailsShowTheSelectedCertificate) {
    ASSERT_TRUE(store->put("a.p12", signing::testing::make_identity("Anna Smith", "Clinic CA").p12));
    const signing::Crypto crypto;
    signing::ConfirmValues values{"asmith", "Anna Smith", "", 0, {}};
    ConfirmSignDlg dialog(crypto, values);
    dialog.on_init_dialog();
    std::vector<std::string> shown;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        if (auto* details = dynamic_cast<CertificateDetailsDlg*>(&d))
            shown = {details->field_text(1578), details->field_text(1579), details->status_text()};
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
