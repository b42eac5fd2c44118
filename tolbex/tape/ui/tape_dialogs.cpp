#include "tolbex/tape/ui/tape_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFont>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "framework/qt/qt_text.h"
#include "framework/qt/timer.h"
#include "framework/qt/wait_dialogs.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/intake/cef_settings.h"

namespace tv::gui {

namespace {

QDialogButtonBox* ok_cancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// The wait dialog's text follows the writer's steps.
class WaitProgress : public CefProgress {
public:
    explicit WaitProgress(QWidget* parent) : dialog_(std::string(), parent) {}
    void set_text(const std::string& text) override { dialog_.set_text(text); }

private:
    PleaseWaitDlg dialog_;
};

}  // namespace

// --- Tape Options

TapeOptionsDlg::TapeOptionsDlg(QWidget* parent) : fw::Dialog(parent) {
    setWindowTitle("Tape Options");
    type_ = new QComboBox(this);
    for (const TapeType& t : kTapeTypes) type_->addItem(to_qstring(t.list_text));
    ignore_time_track_ = new QCheckBox("Ignore recorder time track", this);
    skip_24_ = new QCheckBox("Skip first 24 hours", this);
    ddssr_ = new QCheckBox("Use DDSSR", this);
    pacing_ = new QCheckBox("Use pacing", this);
    half_gain_ = new QCheckBox("Use half gain", this);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(0, 3);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setPageStep(1);

    auto* type_row = new QHBoxLayout;
    type_row->addWidget(new QLabel("Recording Type:", this));
    type_row->addWidget(type_, 1);
    auto* size = new QGroupBox("Compressed file size", this);
    auto* size_grid = new QGridLayout(size);
    size_grid->addWidget(slider_, 0, 0, 1, 2);
    size_grid->addWidget(new QLabel("Smallest", size), 1, 0, Qt::AlignLeft);
    size_grid->addWidget(new QLabel("Largest", size), 1, 1, Qt::AlignRight);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(type_row);
    for (QCheckBox* box : {ignore_time_track_, skip_24_, ddssr_, pacing_, half_gain_}) layout->addWidget(box);
    layout->addWidget(size);
    layout->addWidget(ok_cancel(this));
}

void TapeOptionsDlg::on_init_dialog() {
    options_ = TapeOptions{};
    options_.type_index = get_cef_tape_type();
    options_.bit_reduction = get_cef_bitred(for_mail_);
    position_ = cef_slider_for_bitred(options_.bit_reduction);
    fw::Dialog::on_init_dialog();
}

void TapeOptionsDlg::do_data_exchange(fw::DataExchange& dx) {
    fw::ddx_combo_index(dx, type_, options_.type_index);
    fw::ddx_check(dx, ignore_time_track_, options_.ignore_time_track);
    fw::ddx_check(dx, skip_24_, options_.skip_24_hours);
    fw::ddx_check(dx, ddssr_, options_.use_ddssr);
    fw::ddx_check(dx, pacing_, options_.use_pacing);
    fw::ddx_check(dx, half_gain_, options_.half_gain);
    if (dx.saving())
        position_ = slider_->value();
    else
        slider_->setValue(position_);
}

void TapeOptionsDlg::on_ok() {
    if (!update_data(true)) return;
    options_.type_index = clamp_tape_type_index(options_.type_index);
    options_.bit_reduction = cef_bitred_for_slider(position_);
    set_cef_bitred(for_mail_, options_.bit_reduction);
    set_cef_tape_type(options_.type_index);
    fw::Dialog::on_ok();
}

// --- Loading From Tape...

TapeLoadDlg::TapeLoadDlg(TapeLoadSession& session, QWidget* parent) : fw::Dialog(parent), session_(session) {
    setWindowTitle(kLoadingCaption);
    status_ = new QLabel(this);
    amount_ = new QLabel(this);
    QFont bold = font();
    bold.setWeight(QFont::Bold);
    status_->setFont(bold);
    amount_->setFont(bold);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, kLoadingRangeSamples);
    progress_->setTextVisible(false);
    auto* form = new QFormLayout;
    form->addRow("Status:", status_);
    form->addRow("Amount loaded:", amount_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(kLoadingText, this));
    layout->addLayout(form);
    layout->addWidget(progress_);
    layout->addWidget(buttons);
}

TapeLoadDlg::~TapeLoadDlg() = default;

void TapeLoadDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    timer_ = fw::make_timer();
    timer_->start(kWaitTickMs, [this] { on_tick(); });
    on_tick();
}

void TapeLoadDlg::on_tick() {
    const bool ended = session_.tick() == TapeLoadSession::Tick::ended;
    progress_->setValue(std::min(session_.progress(), kLoadingRangeSamples));
    amount_->setText(to_qstring(session_.amount_text()));
    status_->setText(to_qstring(session_.status_text()));
    if (ended) {
        timer_->stop();
        done(QDialog::Accepted);
    }
}

void TapeLoadDlg::on_cancel() {
    if (!session_.cancel(QDateTime::currentMSecsSinceEpoch())) return;
    timer_->stop();
    done(QDialog::Rejected);
}

// --- the commands

TapeIntakeSteps tape_dialog_steps(QWidget* parent) {
    TapeIntakeSteps steps;
    steps.choose_options = [parent](TapeOptions& options, bool for_mail) {
        TapeOptionsDlg dialog(parent ? parent : fw::active_or_main_window());
        dialog.set_for_mail(for_mail);
        if (dialog.exec_modal() != QDialog::Accepted) return false;
        options = dialog.options();
        return true;
    };
    steps.run_loading = [parent](TapeLoadSession& session) {
        TapeLoadDlg dialog(session, parent ? parent : fw::active_or_main_window());
        return dialog.exec_modal() == QDialog::Accepted;
    };
    steps.make_progress = [parent]() -> std::unique_ptr<CefProgress> {
        return std::make_unique<WaitProgress>(parent ? parent : fw::active_or_main_window());
    };
    return steps;
}

TapeIntakeResult run_tape_command(int destination, decltype(TapeIntakeSteps::ask_patient_details) ask_patient_details,
                                  decltype(TapeIntakeSteps::deliver) deliver, QWidget* parent) {
    TapeIntakeSteps steps = tape_dialog_steps(parent);
    steps.ask_patient_details = std::move(ask_patient_details);
    steps.deliver = std::move(deliver);
    return create_cef_from_tape(destination, steps);
}

}  // namespace tv::gui
