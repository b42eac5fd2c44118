// vond's windows on the Qt framework: the card dialog, the read dialog and the progress dialogs.
// The QApplication is made on the first window a run needs; hidden runs never make one.
#pragma once
#include <memory>

#include "common/ui.h"
#include "framework/qt/dialog.h"
#include "vond/dialogs.h"

class QLineEdit;
class QComboBox;
class QCheckBox;
class QLabel;
class QListWidget;
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

// Choosing the card drive: the cards found (or the drives a card may sit in), "OK", "Search
// Again" and "Cancel".
class DrivePromptDialog : public fw::Dialog {
public:
    explicit DrivePromptDialog(DrivePromptRules& rules, QWidget* parent = nullptr);
    void on_init_dialog() override;
    void on_ok() override;
    void on_cancel() override;
    void search_again_clicked();

private:
    DrivePromptRules& rules_;
    QLabel* text_;
    QListWidget* list_;
    QPushButton *ok_, *again_, *cancel_;
};

class VondFrame;

// Builds the QApplication, and the frame in the run's show state, with the first window.
class QtVondWindows : public VondWindows {
public:
    // `install_ui`: the Qt message boxes become the process-wide prompter with the first window;
    // vond's own prompter routes its boxes itself and passes false.
    explicit QtVondWindows(bool install_ui = true);
    ~QtVondWindows() override;
    // A display (X11, Wayland) or a platform chosen with QT_QPA_PLATFORM.
    bool available() const override;
    void start(int mode) override;
    bool active() const override;
    void finish() override;
    int show_card_dialog(CardDialogRules& rules) override;
    int show_read_dialog(ReadDialogRules& rules, int mode, char default_drive) override;
    void choose_drive(DrivePromptRules& rules) override;
    std::unique_ptr<Progress> open_progress(bool conditioning) override;

    // A person can answer a box here: a display, or a platform other than the offscreen ones.
    static bool user_can_answer();
    // A Qt message box, in a window run (made on first use).
    MsgResult message_box(const std::string& text, const std::string& caption, MsgIcon icon, MsgButtons buttons,
                          MsgDefault def = MsgDefault::First);
    VondFrame* frame() const { return frame_.get(); }

    static void ensure_application(bool install_ui = true);

private:
    void ensure_window_run();
    bool install_ui_;
    FrameState state_ = FrameState::Hidden;
    std::unique_ptr<VondFrame> frame_;
};

}  // namespace tv::vond
