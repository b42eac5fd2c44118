// The browser's Sign Report command in the running application, offscreen: the logon and
// confirmation dialogs answered through the dialog test hook, a PAM configuration of the test's
// own, a certificate made at test time in the user's store.
#include <QAction>
#include <QLineEdit>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "framework/qt/qt_text.h"
#include "platform/account.h"
#include "platform/cert_store.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/pam_test_config.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/app/ui/tests/browser_app_fixture.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/tests/pkcs12_cli.h"
#include "tolbex/signing/tests/signing_fixture.h"
#include "tolbex/signing/ui/signing_dialogs.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class SignCommandTest : public uitest::BrowserAppTest {
protected:
    SignCommandTest() : BrowserAppTest("ab12") {}
    void SetUp() override {
        BrowserAppTest::SetUp();
        platform::set_cert_store(store.get());
        // Issued to the account's own name by the site's authority: no question about who signs.
        testing_root::write_file(fs::path(platform::trust_store_dir()) / "clinic-ca.pem", ca.id.cert_pem);
        ASSERT_TRUE(store->put("anna.p12", signing::testing::make_issued_identity(account_name(), ca).p12));
        make_group(
            {{"STANDARD",
              "STANDARD",
              {{"R1.IMG", "Ann Alder"}, {"R2.IMG", "Ben Brook"}, {"R3.TIM", "Cat Crane"}, {"F1.FUL", "Eve Full"}}}});
        for (const char* name : {"R1.IMG", "R2.IMG", "R3.TIM"})
            testing_root::write_file(report_folder(name) / "PAGE.1", name);
        ASSERT_TRUE(start_app());
        set_signing(true);
        ASSERT_NE(open_browser(), nullptr);
        fw::Dialog::set_test_hook([this](fw::Dialog& d) {
            dialogs.push_back(d.windowTitle().toStdString());
            if (auto* logon = dynamic_cast<gui::LogonDlg*>(&d)) {
                if (!logon_ok) return int(QDialog::Rejected);
                logon->name_edit()->setText(to_qstring(testing_pam::current_logon_name()));
                logon->password_edit()->setText(QStringLiteral("secret"));
            } else if (!dynamic_cast<gui::ConfirmSignDlg*>(&d) || !confirm_ok) {
                return int(QDialog::Rejected);
            }
            d.on_ok();
            return d.result();
        });
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        close_app();
        platform::set_cert_store(nullptr);
        BrowserAppTest::TearDown();
    }
    void set_signing(bool on) {
        set_settings([on](TolbexSettings& s) { s.switches.signing_enabled = on; });
    }
    static std::string account_name() {
        return platform::account_full_name(testing_pam::current_logon_name()).value_or("");
    }
    QAction* sign_action() {
        windows->main_frame()->update_command_ui();
        return windows->main_frame()->action(gui::browser_cmd::Sign);
    }
    std::vector<fs::path> signed_reports() {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(group / "STANDARD"))
            if (e.path().extension() == ".SGN") out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::unique_ptr<platform::CertStore> store = platform::make_memory_cert_store();
    const signing::testing::TestCa ca = signing::testing::make_ca("Clinic CA");
    testing_pam::PamTestConfig pam{fs::path(root.path()) / "pam.d", testing_pam::PamRule::Permit};
    bool logon_ok = true, confirm_ok = true;
    Texts dialogs;
};

TEST_F(SignCommandTest, TwoReportsSignedAtOnceBecomeTwoSignedReportsWithTheirAuditEntries) {
    select({"Ann Alder", "Ben Brook"});
    ASSERT_TRUE(sign_action()->isEnabled());
    windows->main_frame()->execute_command(gui::browser_cmd::Sign);
    settle();
    EXPECT_EQ(dialogs, (Texts{"Enter User Details", "Confirm Signing Details"}));
    EXPECT_TRUE(scripted.shown.empty());
    const auto made = signed_reports();
    ASSERT_EQ(made.size(), 2u);
    Texts expected_log;
    for (std::size_t i = 0; i < 2; ++i) {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(made[i])) n += e.path().filename() == "signed.dat" ? 1 : 100;
        EXPECT_EQ(n, 1u) << "only signed.dat";
        auto v = signing::verify_signed_report((made[i] / "signed.dat").string());
        ASSERT_TRUE(v) << v.error().message;
        const std::string page = *platform::read_whole_file(v->folder() + "/PAGE.1");
        EXPECT_EQ(v->signers().front().logon_name, testing_pam::current_logon_name());
        const std::string name = page == "R1.IMG" ? "Ann Alder" : "Ben Brook";
        std::string lower = made[i].filename().string();
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        std::string source = page;
        std::transform(source.begin(), source.end(), source.begin(), ::tolower);
        expected_log.push_back("TIMI sign report " + name + " in " + source + " as " + lower);
    }
    Texts log = audit_messages();
    std::sort(log.begin(), log.end());
    std::sort(expected_log.begin(), expected_log.end());
    EXPECT_EQ(log, expected_log);
    // The list shows them after the reload.
    int listed = 0;
    for (int i = 0; i < list().list_model().item_count(); ++i)
        listed +=
            list().list_model().item_text(i, 0) == "Ann Alder" || list().list_model().item_text(i, 0) == "Ben Brook";
    EXPECT_EQ(listed, 4);
}

TEST_F(SignCommandTest, CancellingLogonOrConfirmationSignsNothing) {
    for (int which = 0; which < 2; ++which) {
        logon_ok = which != 0;
        confirm_ok = which != 1;
        dialogs.clear();
        select({"Ann Alder"});
        windows->main_frame()->execute_command(gui::browser_cmd::Sign);
        settle();
        EXPECT_EQ(dialogs.size(), std::size_t(which + 1));
        EXPECT_TRUE(signed_reports().empty());
        EXPECT_TRUE(scripted.shown.empty());
        EXPECT_TRUE(audit_messages().empty());
    }
}

// The signer's PKCS#12 file needs a password: the one typed at logon ("secret") opens it; with
// another the confirmation has nothing to offer and nothing is signed.
TEST_F(SignCommandTest, AProtectedCertificateSignsWithTheLogonPassword) {
    const auto id =
        signing::testing::make_issued_identity(account_name(), ca, "20200101000000Z", "20440102030405Z", "02");
    for (const char* password : {"not the logon password", "secret"}) {
        SCOPED_TRACE(password);
        const auto p12 = signing::testing::pkcs12_from_cli(id, password, root.path());
        if (!p12) GTEST_SKIP() << "no openssl program here";
        ASSERT_TRUE(store->put("anna.p12", *p12));
        const bool right = std::string(password) == "secret";
        dialogs.clear();
        scripted.shown.clear();
        select({"Ann Alder"});
        windows->main_frame()->execute_command(gui::browser_cmd::Sign);
        settle();
        ASSERT_EQ(signed_reports().size(), right ? 1u : 0u);
        if (!right) {
            ASSERT_FALSE(scripted.shown.empty());
            EXPECT_EQ(scripted.shown[0].text, gui::kNoCertificateText);
            continue;
        }
        EXPECT_TRUE(scripted.shown.empty());
        auto v = signing::verify_signed_report((signed_reports()[0] / "signed.dat").string());
        ASSERT_TRUE(v) << v.error().message;
        EXPECT_EQ(v->signers().front().issued_to, account_name());
        EXPECT_EQ(v->signers().front().signer_name, account_name());
    }
}

TEST_F(SignCommandTest, OfferedOnlyForReportsThatCanBeSignedAndHiddenWhenSigningIsOff) {
    struct Case {
        Texts selected;
        bool enabled;
    };
    const Case cases[] = {{{}, true}, {{"Ann Alder", "Cat Crane"}, true}, {{"Ann Alder", "Eve Full"}, false}};
    for (const Case& c : cases) {
        select(c.selected);
        EXPECT_TRUE(sign_action()->isVisible());
        EXPECT_EQ(sign_action()->isEnabled(), c.enabled) << ::testing::PrintToString(c.selected);
    }
    // Offered with nothing selected, as the other Item commands are, it says what is missing.
    select({});
    scripted.shown.clear();
    windows->main_frame()->execute_command(gui::browser_cmd::Sign);
    settle();
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text, "You must select one or more reports before you can sign them.");
    EXPECT_TRUE(dialogs.empty());
    set_signing(false);
    select({"Ann Alder"});
    EXPECT_FALSE(sign_action()->isVisible());
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST_F(SignCommandTest, SignatureSettingsOpensTheBitmapListAndIsHiddenWhenSigningIsOff) {
    windows->main_frame()->update_command_ui();
    QAction* settings = windows->main_frame()->action(menu::kSignatureSettings);
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_TRUE(settings->isEnabled());
    windows->main_frame()->execute_command(menu::kSignatureSettings);
    EXPECT_EQ(dialogs, (Texts{"Edit Signature Bitmaps"}));
    set_signing(false);
    windows->main_frame()->update_command_ui();
    EXPECT_FALSE(settings->isVisible());
}

}  // namespace
}  // namespace tv
