#include "tolbex/mail/ui/mail_dialogs.h"

#include <QDialogButtonBox>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "common/files.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/wait_dialogs.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/transfer/report_handover.h"
#include "tolbex/mail/mail.h"

namespace tv::gui {

namespace {

constexpr const char* kCompressingText = "Compressing Report Files\nPlease Wait.";

// The wait cursor and the wait dialog with the operation's text, held as one object: the
// compression has a dialog of its own, sending the 'Please Wait' one.
struct MailWait {
    explicit MailWait(const std::string& text) {
        if (text == kCompressingText)
            compressing = std::make_unique<CompressWaitDlg>(fw::active_or_main_window());
        else
            sending = std::make_unique<PleaseWaitDlg>(text);
    }
    fw::WaitCursor cursor;
    std::unique_ptr<CompressWaitDlg> compressing;
    std::unique_ptr<PleaseWaitDlg> sending;
};

}  // namespace

std::function<bool(MailOptionsDlg&)>& mail_options_test_hook() {
    static std::function<bool(MailOptionsDlg&)> hook;
    return hook;
}

ComposeMailDlg::ComposeMailDlg(MailComposeRules& rules, QWidget* parent)
    : fw::Dialog(parent, &rules),
      rules_(rules),
      to_(new QLineEdit(this)),
      subject_(new QLineEdit(this)),
      note_(new QPlainTextEdit(this)),
      attachments_(new QListWidget(this)) {
    setWindowTitle(QStringLiteral("Send Mail"));
    resize(560, 440);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("&To:"), to_);
    form->addRow(QStringLiteral("&Subject:"), subject_);
    form->addRow(QStringLiteral("&Message:"), note_);
    form->addRow(QStringLiteral("Attachments:"), attachments_);
    attachments_->setMaximumHeight(90);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("S&end"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    for (const MailAttachment& a : rules.message().attachments) {
        const std::int64_t kb = (get_file_size_64(a.path) + 1023) / 1024;
        attachments_->addItem(to_qstring(a.name + "  (" + std::to_string(kb) + " KB)"));
    }
}

void ComposeMailDlg::do_data_exchange(fw::DataExchange& dx) {
    MailMessage& m = rules_.message();
    fw::ddx_text(dx, to_, m.recipient);
    fw::ddx_text(dx, subject_, m.subject);
    if (dx.saving())
        m.note = from_qstring(note_->toPlainText());
    else
        note_->setPlainText(to_qstring(m.note));
    if (!dx.saving()) {
        if (m.recipient.empty())
            to_->setFocus();
        else
            note_->setFocus();
    }
}

MailOptionsDlg::MailOptionsDlg(MailOptions& options, QWidget* parent) : QDialog(parent), options_(options) {
    setWindowTitle(to_qstring(options.title));
    auto* outer = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    outer->addLayout(grid);
    for (const MailOptionGroup& g : options.groups) {
        auto* box = new QGroupBox(to_qstring(g.caption), this);
        auto* column = new QVBoxLayout(box);
        auto* exclusive = g.radio ? new QButtonGroup(box) : nullptr;
        std::vector<QAbstractButton*> items;
        for (std::size_t k = 0; k < g.labels.size(); ++k) {
            QAbstractButton* b = g.radio ? static_cast<QAbstractButton*>(new QRadioButton(to_qstring(g.labels[k]), box))
                                         : new QCheckBox(to_qstring(g.labels[k]), box);
            if (exclusive) exclusive->addButton(b);
            b->setChecked(g.checked[k]);
            column->addWidget(b);
            items.push_back(b);
        }
        grid->addWidget(box, g.row, g.column, Qt::AlignCenter);
        buttons_.push_back(std::move(items));
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);
    setMinimumWidth(192);
}

void MailOptionsDlg::accept() {
    for (std::size_t g = 0; g < buttons_.size(); ++g)
        for (std::size_t k = 0; k < buttons_[g].size(); ++k)
            options_.groups[g].checked[k] = buttons_[g][k]->isChecked();
    QDialog::accept();
}

void install_mail(AuditTrail* audit) {
    if (!audit) {
        set_mail_windowing({});
        set_mail_handler({});
        return;
    }
    MailWindowing w;
    w.compose = [](MailMessage& message) {
        MailComposeRules rules(message);
        ComposeMailDlg dialog(rules, fw::active_or_main_window());
        return dialog.exec_modal() == QDialog::Accepted;
    };
    w.choose_options = [](MailOptions& options) {
        MailOptionsDlg dialog(options, fw::active_or_main_window());
        if (auto hook = mail_options_test_hook()) return hook(dialog);
        return dialog.exec() == QDialog::Accepted;
    };
    w.wait = [](const std::string& text) -> std::shared_ptr<void> { return std::make_shared<MailWait>(text); };
    set_mail_windowing(std::move(w));
    set_mail_handler([audit](const std::vector<MailReportEntry>& reports) {
        MailServices services;
        services.audit = audit;
        mail_reports(reports, services);
        return true;
    });
}

}  // namespace tv::gui
