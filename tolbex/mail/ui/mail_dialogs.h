// The mail windows: the compose dialog where the user confirms or edits every message before it
// goes (the rules are tolbex/mail/mail_compose.h), and the installation of mail into the
// program: the windowing of tolbex/mail/mail.h and the report hand-over's mail handler.
#pragma once
#include <functional>

#include "framework/qt/dialog.h"
#include "tolbex/mail/mail_compose.h"

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

// Installs the windowing and registers the mail handler; the audit trail lives as long as the
// installation. Removes both again when `audit` is null.
void install_mail(AuditTrail* audit);

}  // namespace gui
}  // namespace tv
