#include "tolbex/mail/ui/mail_dialogs.h"

#include <filesystem>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include "common/profile.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/tests/access_keys.h"
#include "framework/qt/tests/qt_test_app.h"
#include "framework/qt/wait_dialogs.h"
#include "platform/fs.h"
#include "testing/app_test_root.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/mail/mail.h"
#include "tolbex/mail/mail.h"
#include "tolbex/mail/mail_transport.h"

namespace tv::gui {
namespace {

namespace fs = std::filesystem;
using testing_root::write_file;

struct CountingAudit : AuditTrail {
    int written = 0;
    bool open(const std::string&) override { return true; }
    bool write(const char*, const std::string&, const std::string&, const std::string&) override {
        ++written;
        return true;
    }
    void close() override {}
};

class MailDialogsTest : public testing_root::RootTest {
protected:
    MailDialogsTest() : RootTest(TmpDir::Inside) {}
    void SetUp() override {
        RootTest::SetUp();
        fw::testing::qt_app();
        eml = t / "msg.eml";
        const fs::path script = t / "capture.sh";
        write_file(script, "#!/bin/sh\ncat > '" + eml.string() + "'\n");
        ::chmod(script.c_str(), 0755);
        ASSERT_TRUE(write_profile_string(kEmailSection, kMailSendCommandEntry, script.string() + " -t -i"));
        ASSERT_TRUE(write_profile_string(kEmailSection, "Default Address", "Cardiology"));
        write_file(t / "R.IMG" / "P.EMF", "page");
        entry = {(t / "R.IMG").string(), "Mary King", kReportFormatted, 10, 1196690709};
        install_mail(&audit);
    }
    void TearDown() override {
        fw::Dialog::set_test_hook({});
        mail_options_test_hook() = {};
        install_mail(nullptr);
        RootTest::TearDown();
    }
    fs::path eml;
    MailReportEntry entry;
    CountingAudit audit;
};

TEST_F(MailDialogsTest, TheUserCompletesTheRecipientBeforeTheMessageGoes) {
    ASSERT_TRUE(has_mail_handler());
    std::vector<std::string> seen;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto* dlg = dynamic_cast<ComposeMailDlg*>(&d);
        if (!dlg) return int(QDialog::Rejected);
        seen.push_back(from_qstring(dlg->to_edit()->text()));
        seen.push_back(from_qstring(dlg->subject_edit()->text()));
        seen.push_back(from_qstring(dlg->attachment_list()->item(0)->text()));
        dlg->on_ok();  // a display name alone is refused
        EXPECT_NE(dlg->result(), QDialog::Accepted);
        dlg->to_edit()->setText(QStringLiteral("Cardiology <cardio@clinic.example>"));
        dlg->note_edit()->setPlainText(QStringLiteral("Edited note"));
        dlg->on_ok();
        return dlg->result();
    });
    std::vector<std::string> waits;
    set_wait_text_observer([&](const TextWaitDlg&, const std::string& text) { waits.push_back(text); });
    scripted.answers.push_back(MsgResult::Ok);  // use the description as the name
    EXPECT_TRUE(hand_over_mail({entry}));
    set_wait_text_observer({});
    EXPECT_EQ(waits, (std::vector<std::string>{"Compressing Report Files\nPlease Wait.",
                                               "Creating and sending mail message. This may take a few minutes."}));
    EXPECT_EQ(seen, (std::vector<std::string>{"Cardiology", "Brisco Torvane Report", "Mary King.TVZ  (1 KB)"}));
    const std::string message = platform::read_whole_file(eml.string()).value_or("");
    EXPECT_NE(message.find("To: Cardiology <cardio@clinic.example>\r\n"), std::string::npos) << message;
    EXPECT_NE(message.find("\r\n\r\nEdited note\r\n"), std::string::npos) << message;
    EXPECT_EQ(audit.written, 1);
    ASSERT_GE(scripted.shown.size(), 2u);
    EXPECT_EQ(scripted.shown[1].text, kMailNeedsAddressText);
}

// Every access key reaches its field; the Send key, pressed last, sends.
TEST_F(MailDialogsTest, EveryAccessKeyReachesItsControl) {
    std::vector<std::string> faults;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto* dlg = dynamic_cast<ComposeMailDlg*>(&d);
        if (!dlg) return int(QDialog::Rejected);
        dlg->to_edit()->setText(QStringLiteral("cardio@clinic.example"));
        faults = fw::testing::access_key_faults(*dlg);
        return dlg->result();
    });
    scripted.answers.push_back(MsgResult::Ok);
    EXPECT_TRUE(hand_over_mail({entry}));
    for (const std::string& f : faults) ADD_FAILURE() << f;
    EXPECT_TRUE(fs::exists(eml));
}

TEST_F(MailDialogsTest, CancelSendsNothing) {
    fw::Dialog::set_test_hook([](fw::Dialog&) { return int(QDialog::Rejected); });
    scripted.answers.push_back(MsgResult::Ok);
    EXPECT_TRUE(hand_over_mail({entry}));
    EXPECT_FALSE(fs::exists(eml));
    EXPECT_EQ(audit.written, 0);
    install_mail(nullptr);
    EXPECT_FALSE(has_mail_handler());
}

TEST_F(MailDialogsTest, TheChosenOptionsGoIntoTheNoteAndCancelStopsTheMail) {
    MailServices services;
    services.audit = &audit;
    services.options_file = (t / "EMAILCFG.TXT").string();
    write_file(services.options_file,
               "Reply wanted\n@RADIOBUTTONS\nWhen\nReply: \n<NONE>\n1\n1\nToday\ntoday\n"
               "0\nThis week\nthis week\n@END\n");
    std::vector<std::string> shown;
    mail_options_test_hook() = [&](MailOptionsDlg& d) {
        shown.push_back(from_qstring(d.windowTitle()));
        EXPECT_TRUE(d.item(0, 0)->isChecked());
        d.item(0, 1)->setChecked(true);  // the radio buttons exclude each other
        EXPECT_FALSE(d.item(0, 0)->isChecked());
        d.accept();
        return true;
    };
    std::string note;
    fw::Dialog::set_test_hook([&](fw::Dialog& d) {
        auto* dlg = dynamic_cast<ComposeMailDlg*>(&d);
        if (!dlg) return int(QDialog::Rejected);
        note = from_qstring(dlg->note_edit()->toPlainText());
        dlg->to_edit()->setText(QStringLiteral("cardio@clinic.example"));
        dlg->on_ok();
        return dlg->result();
    });
    scripted.answers.push_back(MsgResult::Ok);
    EXPECT_EQ(mail_reports({entry}, services), kMailDone);
    EXPECT_EQ(shown, std::vector<std::string>{"Reply wanted"});
    ASSERT_GE(note.size(), 19u);
    EXPECT_EQ(note.substr(note.size() - 19), "\n\nReply: this week\n") << note;
    EXPECT_TRUE(fs::exists(eml));

    fs::remove(eml);
    note.clear();
    mail_options_test_hook() = [](MailOptionsDlg&) { return false; };
    EXPECT_EQ(mail_reports({entry}, services), kMailCancelled);
    EXPECT_TRUE(note.empty());
    EXPECT_FALSE(fs::exists(eml));
}

}  // namespace
}  // namespace tv::gui
