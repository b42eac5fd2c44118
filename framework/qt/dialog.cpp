#include "framework/qt/dialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "common/ui.h"
#include "framework/qt/qt_text.h"

namespace tv::fw {
namespace {
Dialog::TestHook& test_hook() {
    static Dialog::TestHook hook;
    return hook;
}
}  // namespace

void DataExchange::fail(QWidget* control, const std::string& message) {
    failed_ = true;
    if (!message.empty()) ui().message_box(message, {}, MsgIcon::Warning, MsgButtons::Ok);
    if (control) control->setFocus();
}

void ddx_text(DataExchange& dx, QLineEdit* edit, std::string& value, int max_len) {
    if (!edit || dx.failed()) return;
    if (max_len > 0) edit->setMaxLength(max_len);
    if (dx.saving()) {
        value = from_qstring(edit->text());
        if (max_len > 0 && value.size() > static_cast<std::size_t>(max_len))
            value.resize(static_cast<std::size_t>(max_len));
    } else {
        std::string shown = value;
        if (max_len > 0 && shown.size() > static_cast<std::size_t>(max_len))
            shown.resize(static_cast<std::size_t>(max_len));
        edit->setText(to_qstring(shown));
    }
}

void ddx_path(DataExchange& dx, QLineEdit* edit, std::string& value) {
    if (!edit || dx.failed()) return;
    if (dx.saving())
        value = path_from_qstring(edit->text());
    else
        edit->setText(qstring_from_path(value));
}

void ddx_int(DataExchange& dx, QLineEdit* edit, int& value, int min, int max) {
    if (!edit || dx.failed()) return;
    if (!dx.saving()) {
        edit->setText(QString::number(value));
        return;
    }
    bool ok = false;
    const long long v = edit->text().trimmed().toLongLong(&ok);
    if (!ok || v < min || v > max) {
        dx.fail(edit, "Please enter an integer between " + std::to_string(min) + " and " + std::to_string(max) + ".");
        return;
    }
    value = static_cast<int>(v);
}

void ddx_check(DataExchange& dx, QAbstractButton* box, bool& value) {
    if (!box || dx.failed()) return;
    if (dx.saving())
        value = box->isChecked();
    else
        box->setChecked(value);
}

void ddx_combo_index(DataExchange& dx, QComboBox* combo, int& index) {
    if (!combo || dx.failed()) return;
    if (dx.saving())
        index = combo->currentIndex();
    else
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

Dialog::Dialog(QWidget* parent, DialogRules* rules) : QDialog(parent), rules_(rules) {}

Dialog::~Dialog() = default;

void Dialog::do_data_exchange(DataExchange&) {}

bool Dialog::update_data(bool save) {
    DataExchange dx(save);
    do_data_exchange(dx);
    return !dx.failed();
}

void Dialog::on_init_dialog() {
    if (rules_) rules_->init();
    update_data(false);
}

void Dialog::on_ok() {
    if (!update_data(true)) return;
    if (rules_ && !rules_->ok()) return;
    closing_ = true;
    QDialog::accept();
}

void Dialog::on_cancel() {
    if (rules_) rules_->cancel();
    closing_ = true;
    QDialog::reject();
}

void Dialog::accept() {
    if (closing_) {
        QDialog::accept();
        return;
    }
    on_ok();
}

void Dialog::reject() {
    if (closing_) {
        QDialog::reject();
        return;
    }
    on_cancel();
}

void Dialog::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        on_init_dialog();
        // The size was taken before the dialog was filled: a box that grew for its texts shows
        // them whole, unless someone chose the size.
        if (!testAttribute(Qt::WA_Resized)) adjustSize();
    }
    QDialog::showEvent(event);
}

int Dialog::exec_modal() {
    closing_ = false;
    if (test_hook()) {
        if (!initialised_) {
            initialised_ = true;
            on_init_dialog();
        }
        auto hook = test_hook();
        return hook(*this);
    }
    return exec();
}

void Dialog::set_test_hook(TestHook hook) { test_hook() = std::move(hook); }

}  // namespace tv::fw
