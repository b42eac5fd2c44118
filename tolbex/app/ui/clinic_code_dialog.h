// Options > Default Clinic Code: one edit for the site's clinic code. The rules (what may be
// typed, the messages, where the code is kept) are ClinicCodeDialogRules; this window only moves
// the text between the edit and them.
#pragma once
#include "framework/qt/dialog.h"
#include "tolbex/archive/clinic_code.h"

class QLineEdit;

namespace tv::gui {

inline constexpr int kClinicCodeDialogResource = 183;

class ClinicCodeDlg : public fw::Dialog {
public:
    explicit ClinicCodeDlg(QWidget* parent = nullptr);
    ~ClinicCodeDlg() override;
    QLineEdit* code_edit() const { return edit_; }
    void on_init_dialog() override;
    // A refused code keeps the dialog open with the focus back on the edit.
    void on_ok() override;

private:
    ClinicCodeDialogRules rules_;
    QLineEdit* edit_;
};

}  // namespace tv::gui
