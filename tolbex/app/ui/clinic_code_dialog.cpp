#include "tolbex/app/ui/clinic_code_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "common/ui.h"
#include "framework/qt/qt_text.h"

namespace tv::gui {

ClinicCodeDlg::ClinicCodeDlg(QWidget* parent) : fw::Dialog(parent), edit_(new QLineEdit(this)) {
    setWindowTitle(to_qstring(kClinicCodeDialogCaption));
    edit_->setObjectName(QStringLiteral("1082"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(to_qstring(kClinicCodeDialogLabel), this));
    layout->addWidget(edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

ClinicCodeDlg::~ClinicCodeDlg() = default;

void ClinicCodeDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    edit_->setText(to_qstring(rules_.initial_text()));
}

void ClinicCodeDlg::on_ok() {
    if (!rules_.ok(from_qstring(edit_->text()), ui())) {
        edit_->setFocus();
        edit_->selectAll();
        return;
    }
    fw::Dialog::on_ok();
}

}  // namespace tv::gui
