// vond's windows on the Qt framework: the card dialog, the read dialog and the progress dialogs.
// The QApplication is made on the first window a run needs; hidden runs never make one.
#pragma once
#include <memory>

#include "framework/dialog.h"
#include "vond/dialogs.h"

class QLineEdit;
class QComboBox;
class QCheckBox;
class QPushButton;

namespace tv::vond {

class CardDialog : public fw::Dialog {
public:
    explicit CardDialog(CardDialogRules& rules, QWidget* parent = nullptr);
    void on_init_dialog() override;
    void initialise_clicked();
    void exit_clicked() { done(1); }
    void default_drive_changed(int index);
    void start_sector_info_clicked();
    void recover_clicked();

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    void fill_drive_list();
    CardDialogRules& rules_;
    QLineEdit *name_, *id_;
    QComboBox *drive_, *default_drive_;
    QCheckBox* fir_;
    QPushButton *info_, *recover_, *initialise_, *exit_;
};

class ReadDialog : public fw::Dialog {
public:
    ReadDialog(ReadDialogRules& rules, int mode, char default_drive, QWidget* parent = nullptr);
    void on_init_dialog() override;
    void read_patient_clicked();
    void read_ecg_clicked();
    void play_clicked();

private:
    void show_values();
    ReadDialogRules& rules_;
    int mode_;
    char default_drive_;
    QLineEdit *name_, *id_;
    QPushButton *play_, *read_patient_, *read_ecg_, *exit_;
};

// Builds the QApplication (and installs the Qt message boxes) on first use.
class QtVondWindows : public VondWindows {
public:
    // A display (X11, Wayland) or a platform chosen with QT_QPA_PLATFORM.
    bool available() const override;
    int show_card_dialog(CardDialogRules& rules) override;
    int show_read_dialog(ReadDialogRules& rules, int mode, char default_drive) override;
    std::unique_ptr<Progress> open_progress(bool conditioning) override;
    static void ensure_application();
};

}  // namespace tv::vond
