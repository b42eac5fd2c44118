// The mail windows: the compose dialog where the user confirms or edits every message before it
// goes (the rules are tolbex/mail/mail_compose.h), and the installation of mail into the
// program: the windowing of tolbex/mail/mail.h and the report hand-over's mail handler.
#pragma once
#include <functional>
#include <vector>

#include "framework/qt/dialog.h"
#include "tolbex/mail/mail_compose.h"
#include "tolbex/mail/mail_options.h"

class QAbstractButton;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;

namespace tv {

class AuditTrail;

namespace gui {

// "Send Mail": To, Subject, the note and the attachments (shown, not editable). Send accepts.
class ComposeMailDlg : public fw::Dialog {
public:
    explicit ComposeMailDlg(MailComposeRules& rules, QWidget* parent = nullptr);
    QLineEdit* to_edit() const { return to_; }
    QLineEdit* subject_edit() const { return subject_; }
    QPlainTextEdit* note_edit() const { return note_; }
    QListWidget* attachment_list() const { return attachments_; }

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    MailComposeRules& rules_;
    QLineEdit* to_;
    QLineEdit* subject_;
    QPlainTextEdit* note_;
    QListWidget* attachments_;
};

// The message options of EMAILCFG.TXT: one box per group at its column and row, radio buttons
// or check boxes in their initial states. OK stores the states back into the options.
class MailOptionsDlg : public QDialog {
public:
    explicit MailOptionsDlg(MailOptions& options, QWidget* parent = nullptr);
    QAbstractButton* item(std::size_t group, std::size_t index) const { return buttons_.at(group).at(index); }
    void accept() override;

private:
    MailOptions& options_;
    std::vector<std::vector<QAbstractButton*>> buttons_;
};

// Tests: drives the (unshown) options dialog instead of a modal run; its answer is OK or Cancel.
std::function<bool(MailOptionsDlg&)>& mail_options_test_hook();

// Installs the windowing and registers the mail handler; the audit trail lives as long as the
// installation. Removes both again when `audit` is null.
void install_mail(AuditTrail* audit);

}  // namespace gui
}  // namespace tv
