// The tape intake's windows: "Tape Options", "Loading From Tape..." and the tape commands that run
// the intake of tape_intake.h with them. The Patient Details dialog and the destinations are the
// caller's (run_tape_command takes them as steps).
#pragma once
#include <memory>

#include "framework/qt/dialog.h"
#include "tolbex/tape/tape_intake.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QSlider;

namespace tv::fw {
class Timer;
}  // namespace tv::fw

namespace tv::gui {

// Opens with the stored tape type (0 when out of range), DDSSR and pacing checked, the other three
// clear, and the slider at the stored default level for mail or not. OK stores the level as that
// default and the type as "CEF Tape Type".
class TapeOptionsDlg : public fw::Dialog {
public:
    explicit TapeOptionsDlg(QWidget* parent = nullptr);
    void set_for_mail(bool for_mail) { for_mail_ = for_mail; }
    const TapeOptions& options() const { return options_; }
    int get_channel_count() const { return tape_channel_count(options_.type_index); }

    QComboBox* type_list() const { return type_; }
    QCheckBox* ignore_time_track_box() const { return ignore_time_track_; }
    QCheckBox* skip_24_box() const { return skip_24_; }
    QCheckBox* ddssr_box() const { return ddssr_; }
    QCheckBox* pacing_box() const { return pacing_; }
    QCheckBox* half_gain_box() const { return half_gain_; }
    QSlider* size_slider() const { return slider_; }

    void on_init_dialog() override;
    void on_ok() override;

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    TapeOptions options_;
    bool for_mail_ = false;
    int position_ = 0;
    QComboBox* type_;
    QCheckBox *ignore_time_track_, *skip_24_, *ddssr_, *pacing_, *half_gain_;
    QSlider* slider_;
};

// Polls the reader and the mappings every 500 ms; ends with OK as soon as the reader has ended.
// Cancel shows the stop-button notice and leaves it open (see TapeLoadSession::cancel).
class TapeLoadDlg : public fw::Dialog {
public:
    explicit TapeLoadDlg(TapeLoadSession& session, QWidget* parent = nullptr);
    ~TapeLoadDlg() override;

    QLabel* status_label() const { return status_; }
    QLabel* amount_label() const { return amount_; }
    QProgressBar* progress_bar() const { return progress_; }

    void on_init_dialog() override;
    void on_cancel() override;
    void on_tick();

private:
    TapeLoadSession& session_;
    std::unique_ptr<fw::Timer> timer_;
    QLabel* status_;
    QLabel* amount_;
    QProgressBar* progress_;
};

// The steps that open the two dialogs above (parented on `parent`) and show the wait dialog while
// the CEF is written; ask_patient_details and deliver stay empty for the caller to fill.
TapeIntakeSteps tape_dialog_steps(QWidget* parent);

// Recording > Tape > Store in Archive (0), Store in Folder (1), Send as Mail (2): the intake with
// the dialogs above and the caller's Patient Details and delivery.
TapeIntakeResult run_tape_command(int destination, decltype(TapeIntakeSteps::ask_patient_details) ask_patient_details,
                                  decltype(TapeIntakeSteps::deliver) deliver, QWidget* parent = nullptr);

}  // namespace tv::gui
