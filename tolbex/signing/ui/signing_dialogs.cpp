#include "tolbex/signing/ui/signing_dialogs.h"

#include <cstring>
#include <exception>

#include <QByteArray>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/text.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/tooltip.h"
#include "framework/qt/window_helpers.h"
#include "platform/account.h"
#include "platform/system.h"
#include "tolbex/signing/signature_bitmaps.h"
#include "tolbex/signing/trust.h"

namespace tv::gui {
namespace {

QDialogButtonBox* ok_cancel(QDialog* dialog, const char* ok_text = nullptr) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    if (ok_text) buttons->button(QDialogButtonBox::Ok)->setText(QString::fromLatin1(ok_text));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QLineEdit* named_edit(QWidget* parent, const char* id) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(id));
    return edit;
}

}  // namespace

std::string take_secret(QLineEdit& edit) {
    QString text = edit.text();  // shares the edit's buffer
    const qsizetype typed = text.size();
    // setText drops the edit's reference and its undo list (whose entries hold typed characters
    // but whose storage is kept); filling the edit again overwrites that storage.
    edit.setText(QString());
    edit.insert(QString(typed * 2 + 16, QLatin1Char(' ')));
    edit.setText(QString());
    QByteArray utf8 = text.toUtf8();
    std::string out(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    // Both are ours alone now: data() does not copy.
    if (!utf8.isEmpty()) explicit_bzero(utf8.data(), static_cast<std::size_t>(utf8.size()));
    if (!text.isEmpty()) explicit_bzero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    return out;
}

// --- LogonDlg

LogonDlg::LogonDlg(signing::LogonSession& session, signing::Crypto* keys, QWidget* parent)
    : fw::Dialog(parent),
      session_(session),
      keys_(keys),
      name_(named_edit(this, "1549")),
      password_(named_edit(this, "1550")) {
    setWindowTitle(QStringLiteral("Enter User Details"));
    password_->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Logon name:"), name_);
    form->addRow(QStringLiteral("Password:"), password_);
    form->addRow(ok_cancel(this));
}

void LogonDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    name_->setText(to_qstring(session_.logon_name()));
    (session_.logged_on() ? password_ : name_)->setFocus();
}

LogonDlg::~LogonDlg() {
    std::string rest = take_secret(*password_);
    platform::wipe_secret(rest);
}

void LogonDlg::on_cancel() {
    std::string password = take_secret(*password_);
    platform::wipe_secret(password);
    fw::Dialog::on_cancel();
}

void LogonDlg::on_ok() {
    const std::string name = from_qstring(name_->text());
    std::string password = take_secret(*password_);
    signing::LogonCheck checked;
    std::string full;
    try {
        checked = signing::check_logon(session_, name, password, full, ui(), keys_);
    } catch (const std::exception& e) {
        platform::wipe_secret(password);
        ui().message_box(signing::with_text(signing::kPasswordCheckFailedText, e.what()), {}, MsgIcon::Error,
                         MsgButtons::Ok);
        checked = signing::LogonCheck::BadPassword;
    }
    if (checked != signing::LogonCheck::Ok) {
        (checked == signing::LogonCheck::BadName ? name_ : password_)->setFocus();
        return;
    }
    logon_name_ = name;
    full_name_ = full;
    fw::Dialog::on_ok();
}

// --- CertificateDetailsDlg

std::string certificate_status(const signing::Certificate& certificate, std::int64_t now) {
    const std::optional<std::int64_t> not_after = certificate.not_after();
    // From its last second on, as the signing check counts it.
    if (not_after && now >= *not_after) return kCertificateExpiredText;
    // Valid is what Sign would take: the same check, at the same moment.
    if (const std::string why = signing::signing_refusal(certificate, now); !why.empty())
        return format_string(kCertificateRefusedText, why.c_str());
    return kCertificateValidText;
}

CertificateDetailsDlg::CertificateDetailsDlg(const signing::SignatureRecord& record, std::int64_t now, QWidget* parent)
    : fw::Dialog(parent) {
    setWindowTitle(QStringLiteral("Certificate Details"));
    auto* form = new QFormLayout(this);
    const char* labels[4] = {"Issued to : ", "Issued by :", "Valid from :", "Valid to :"};
    const std::string* values[4] = {&record.issued_to, &record.issued_by, &record.valid_from, &record.valid_to};
    for (int i = 0; i < 4; ++i) {
        fields_[i] = new QLabel(to_qstring(*values[i]), this);
        fields_[i]->setObjectName(QString::number(1578 + i));
        form->addRow(QString::fromLatin1(labels[i]), fields_[i]);
    }
    status_ = new QLabel(to_qstring(certificate_status(record.certificate, now)), this);
    status_->setWordWrap(true);
    status_->setObjectName(QStringLiteral("1582"));
    form->addRow(status_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    form->addRow(buttons);
}

std::string CertificateDetailsDlg::status_text() const { return from_qstring(status_->text()); }

// --- ConfirmSignDlg

ConfirmSignDlg::ConfirmSignDlg(const signing::Crypto& crypto, signing::ConfirmValues& values, QWidget* parent)
    : fw::Dialog(parent),
      crypto_(crypto),
      values_(values),
      logon_name_(named_edit(this, "1551")),
      full_name_(named_edit(this, "1554")),
      reviewed_(new QRadioButton(QStringLiteral("Report has been reviewed"), this)),
      approved_(new QRadioButton(QStringLiteral("Report has been approved"), this)),
      certificates_(new QComboBox(this)),
      locked_(new QLabel(this)),
      preview_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Confirm Signing Details"));
    logon_name_->setReadOnly(true);
    full_name_->setReadOnly(true);
    reviewed_->setObjectName(QStringLiteral("1552"));
    approved_->setObjectName(QStringLiteral("1553"));
    certificates_->setObjectName(QStringLiteral("1577"));
    preview_->setObjectName(QStringLiteral("1555"));
    preview_->setFrameShape(QFrame::Box);
    preview_->setFixedSize(256, 64);
    preview_->setScaledContents(true);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Signer logon name"), logon_name_);
    form->addRow(QStringLiteral("Signer full name"), full_name_);
    layout->addLayout(form);
    layout->addWidget(preview_);
    layout->addWidget(reviewed_);
    layout->addWidget(approved_);
    layout->addWidget(new QLabel(QStringLiteral("Select the certificate to use from the following list :"), this));
    layout->addWidget(certificates_);
    locked_->setWordWrap(true);
    layout->addWidget(locked_);
    auto* details = new QPushButton(QStringLiteral("Certificate Details..."), this);
    details->setObjectName(QStringLiteral("1575"));
    connect(details, &QPushButton::clicked, this, [this] { show_certificate_details(); });
    layout->addWidget(details);
    layout->addWidget(ok_cancel(this, "Confirm"));
}

void ConfirmSignDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    if (!values_.bitmap.empty() && !signing::is_signature_bitmap_usable(values_.bitmap, ui())) values_.bitmap.clear();
    certificates_->clear();
    for (const signing::SignatureRecord& r : crypto_.list_certificates())
        certificates_->addItem(to_qstring(r.issued_to + ", issued by " + r.issued_by),
                               QString::fromLatin1(r.fingerprint));
    // Back from a refused choice, the last one stays selected.
    const int last = values_.certificate.empty()
                         ? -1
                         : certificates_->findData(QString::fromLatin1(values_.certificate.fingerprint()));
    if (certificates_->count() > 0) certificates_->setCurrentIndex(last >= 0 ? last : 0);
    fw::fit_items_whole(certificates_);
    // Under the list while some certificate of the store did not open with the logon password.
    locked_->setText(to_qstring(crypto_.locked_text()));
    locked_->setVisible(!locked_->text().isEmpty());
    logon_name_->setText(to_qstring(values_.logon_name));
    full_name_->setText(to_qstring(values_.full_name));
    (values_.meaning ? approved_ : reviewed_)->setChecked(true);
    QImage image;
    if (!values_.bitmap.empty() && image.load(QString::fromStdString(values_.bitmap), "BMP"))
        preview_->setPixmap(QPixmap::fromImage(image.convertToFormat(QImage::Format_Mono)));
    else
        preview_->clear();
}

signing::Certificate ConfirmSignDlg::selected_certificate() const {
    const int i = certificates_->currentIndex();
    if (i < 0) return {};
    return crypto_.find_certificate(certificates_->itemData(i).toString().toStdString());
}

void ConfirmSignDlg::on_ok() {
    const signing::Certificate chosen = selected_certificate();
    if (chosen.empty()) {
        ui().message_box(kNoCertificateText, {}, MsgIcon::Error, MsgButtons::Ok);
        certificates_->setFocus();
        return;
    }
    values_.meaning = approved_->isChecked() ? 1 : 0;
    values_.certificate = chosen;
    fw::Dialog::on_ok();
}

void ConfirmSignDlg::show_certificate_details() {
    signing::SignatureRecord record;
    record.certificate = selected_certificate();
    if (record.certificate.empty() || !signing::fill_certificate_fields(record)) {
        ui().message_box(kNoCertificateText, {}, MsgIcon::Error, MsgButtons::Ok);
        return;
    }
    CertificateDetailsDlg details(record, platform::system().now(), this);
    details.exec_modal();
}

// --- QtSignDialogs

bool QtSignDialogs::logon(signing::LogonSession& session, signing::Crypto& keys, std::string& logon_name,
                          std::string& full_name) {
    LogonDlg dialog(session, &keys, parent_);
    if (dialog.exec_modal() != QDialog::Accepted) return false;
    logon_name = dialog.logon_name();
    full_name = dialog.full_name();
    return true;
}

bool QtSignDialogs::confirm(const signing::Crypto& crypto, signing::ConfirmValues& values) {
    ConfirmSignDlg dialog(crypto, values, parent_);
    if (dialog.exec_modal() != QDialog::Accepted) return false;
    wait_.emplace();
    return true;
}

void QtSignDialogs::signing(const std::string& report_name) {
    fw::WaitTip tip(signing::kSigningTipPrefix + report_name + " ", parent_, 25);
}

}  // namespace tv::gui
