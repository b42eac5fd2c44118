// The signing windows: the logon dialog, Confirm Signing Details with its certificate details, and
// the dialogs behind the Sign Report command (SignDialogs on Qt). The rules are in
// tolbex/signing/sign_flow.h; these only move values between the controls and them.
#pragma once
#include <optional>
#include <string>

#include "framework/qt/dialog.h"
#include "framework/qt/wait_cursor.h"
#include "tolbex/signing/sign_flow.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tv::gui {

// "Enter User Details": logon name (1549) and password (1550). OK checks both and opens the
// certificates of `keys` (when given) that the password opens; a refusal shows its message,
// clears the password and keeps the dialog open. OK, Cancel and closing leave the password
// edit empty with the typed characters overwritten.
class LogonDlg : public fw::Dialog {
public:
    explicit LogonDlg(signing::LogonSession& session, signing::Crypto* keys = nullptr, QWidget* parent = nullptr);
    ~LogonDlg() override;
    QLineEdit* name_edit() const { return name_; }
    QLineEdit* password_edit() const { return password_; }
    const std::string& logon_name() const { return logon_name_; }
    const std::string& full_name() const { return full_name_; }
    void on_init_dialog() override;
    void on_ok() override;
    void on_cancel() override;

private:
    signing::LogonSession& session_;
    signing::Crypto* keys_;
    QLineEdit* name_;
    QLineEdit* password_;
    std::string logon_name_, full_name_;
};

// "Certificate Details": issued to / by, valid from / to, and whether the certificate has expired.
class CertificateDetailsDlg : public fw::Dialog {
public:
    CertificateDetailsDlg(const signing::SignatureRecord& record, std::int64_t now, QWidget* parent = nullptr);
    std::string status_text() const;

private:
    QLabel* fields_[4];
    QLabel* status_;
};

// "Confirm Signing Details": the signer, what the signature means, the certificate to sign with
// (each item keyed by its certificate's fingerprint, so items that read alike stay apart), and
// the signer's bitmap. Confirm needs a certificate chosen.
class ConfirmSignDlg : public fw::Dialog {
public:
    ConfirmSignDlg(const signing::Crypto& crypto, signing::ConfirmValues& values, QWidget* parent = nullptr);
    QComboBox* certificate_box() const { return certificates_; }
    QRadioButton* approved_button() const { return approved_; }
    QLabel* preview() const { return preview_; }
    QLabel* locked_note() const { return locked_; }
    void on_init_dialog() override;
    void on_ok() override;
    // The selected item's certificate; empty when none is selected.
    signing::Certificate selected_certificate() const;
    // "Certificate Details..." (a test hook set on fw::Dialog drives it).
    void show_certificate_details();

private:
    const signing::Crypto& crypto_;
    signing::ConfirmValues& values_;
    QLineEdit* logon_name_;
    QLineEdit* full_name_;
    QRadioButton* reviewed_;
    QRadioButton* approved_;
    QComboBox* certificates_;
    QLabel* locked_;
    QLabel* preview_;
};

inline constexpr const char* kNoCertificateText =
    "There is no certificate to sign with.\nA certificate must be put into your personal certificate store first.";
inline constexpr const char* kCertificateExpiredText = "The certificate has expired.";
inline constexpr const char* kCertificateValidText = "The certificate is valid.";
inline constexpr const char* kCertificateRefusedText = "The certificate cannot be used to sign: %s.";

// The edit's text as UTF-8; the edit is left empty, and the buffers that held the text (the
// edit's, its undo list's, the conversion's) are overwritten first.
std::string take_secret(QLineEdit& edit);

// The status CertificateDetailsDlg shows: expired once `now` (seconds since 1970) reaches the
// certificate's NotAfter (as the signing check counts it); else why Sign would refuse it at `now` (signing_refusal); else valid.
std::string certificate_status(const signing::Certificate& certificate, std::int64_t now);

// SignDialogs on the windows above; the wait cursor stays from the confirmation to the end.
class QtSignDialogs : public signing::SignDialogs {
public:
    explicit QtSignDialogs(QWidget* parent) : parent_(parent) {}
    bool logon(signing::LogonSession& session, signing::Crypto& keys, std::string& logon_name,
               std::string& full_name) override;
    bool confirm(const signing::Crypto& crypto, signing::ConfirmValues& values) override;
    void signing(const std::string& report_name) override;

private:
    QWidget* parent_;
    std::optional<fw::WaitCursor> wait_;
};

}  // namespace tv::gui
