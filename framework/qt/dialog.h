// Dialogs with a data-exchange step: do_data_exchange moves values between the controls and the
// dialog's members, in one direction or the other; a failed check keeps the dialog open with
// the focus on the offending control. exec_modal() goes through a hook when a test set one.
#pragma once
#include <functional>
#include <string>

#include <QDialog>

#include "framework/core/dialog_rules.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QAbstractButton;

namespace tv::fw {

class DataExchange {
public:
    explicit DataExchange(bool save) : save_(save) {}
    bool saving() const { return save_; }
    bool failed() const { return failed_; }
    // Shows the message through ui() (when not empty), focuses the control, marks failure.
    void fail(QWidget* control, const std::string& message_cp1252);

private:
    bool save_;
    bool failed_ = false;
};

// Text as Windows-1252; max_len > 0 cuts on load and limits the control.
void ddx_text(DataExchange& dx, QLineEdit* edit, std::string& value, int max_len = 0);
// A file or folder path, in the file system's own spelling (never through Windows-1252).
void ddx_path(DataExchange& dx, QLineEdit* edit, std::string& value);
// An integer in [min, max]; out of range or not a number fails with a message.
void ddx_int(DataExchange& dx, QLineEdit* edit, int& value, int min, int max);
void ddx_check(DataExchange& dx, QAbstractButton* box, bool& value);
void ddx_combo_index(DataExchange& dx, QComboBox* combo, int& index);

class Dialog : public QDialog {
public:
    explicit Dialog(QWidget* parent = nullptr, DialogRules* rules = nullptr);
    ~Dialog() override;

    DialogRules* rules() const { return rules_; }
    void set_rules(DialogRules* rules) { rules_ = rules; }

    // Runs the exchange; false when a check failed (saving).
    bool update_data(bool save);
    // Called once before the dialog shows: rules->init(), then update_data(false).
    virtual void on_init_dialog();
    // update_data(true), then rules->ok(); accepts when both pass.
    virtual void on_ok();
    virtual void on_cancel();

    // Modal run; QDialog::Accepted or Rejected. With a test hook set, the hook drives the
    // (initialised, unshown) dialog and its answer is the result.
    int exec_modal();
    using TestHook = std::function<int(Dialog&)>;
    static void set_test_hook(TestHook hook);  // empty restores normal runs

protected:
    virtual void do_data_exchange(DataExchange& dx);
    void accept() override;  // routes through on_ok
    void reject() override;  // routes through on_cancel
    void showEvent(QShowEvent* event) override;

private:
    DialogRules* rules_;
    bool initialised_ = false;
    bool closing_ = false;
};

}  // namespace tv::fw
