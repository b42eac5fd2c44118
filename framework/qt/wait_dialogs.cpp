#include "framework/qt/wait_dialogs.h"

#include <vector>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/timer.h"
#include "framework/qt/window_helpers.h"
#include "platform/process.h"

namespace tv {

namespace {
void centre_on(QWidget* dialog, QWidget* over) {
    dialog->adjustSize();
    QRect area;
    if (over && over->isVisible())
        area = over->frameGeometry();
    else if (QScreen* s = QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    if (area.isValid()) dialog->move(area.center() - dialog->rect().center());
}

QWidget* owner_or_main(QWidget* parent) { return parent ? parent : fw::main_window(); }

WaitTextObserver& wait_text_observer() {
    static WaitTextObserver observer;
    return observer;
}
}  // namespace

void set_wait_text_observer(WaitTextObserver observer) { wait_text_observer() = std::move(observer); }

// --- MainWindowDisabler

MainWindowDisabler::MainWindowDisabler() : window_(fw::main_window()) {
    if (!window_) return;
    was_enabled_ = window_->isEnabled();
    window_->setEnabled(false);
}

MainWindowDisabler::~MainWindowDisabler() {
    if (window_) window_->setEnabled(was_enabled_);
}

// --- TextWaitDlg

TextWaitDlg::TextWaitDlg(const std::string& caption, const std::string& text, QWidget* parent, bool centred)
    : QDialog(owner_or_main(parent), Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setModal(false);
    setWindowTitle(to_qstring(caption));
    auto* layout = new QVBoxLayout(this);
    label_ = new QLabel(to_qstring(text), this);
    label_->setObjectName("waitText");
    label_->setAlignment(Qt::AlignCenter);
    layout->addWidget(label_);
    if (centred) centre_on(this, parentWidget());
    show();
    repaint();
    if (wait_text_observer()) wait_text_observer()(*this, text);
}

TextWaitDlg::~TextWaitDlg() = default;

std::string TextWaitDlg::text() const { return from_qstring(label_->text()); }

void TextWaitDlg::set_shown_text(const std::string& text) { show_in(label_, text); }

void TextWaitDlg::show_in(QLabel* label, const std::string& text) {
    label->setText(to_qstring(text));
    label->repaint();
    if (wait_text_observer()) wait_text_observer()(*this, text);
}

PleaseWaitDlg::PleaseWaitDlg(const std::string& text, QWidget* parent)
    : TextWaitDlg(" Please Wait...", text, parent, true), disabler_(std::make_unique<MainWindowDisabler>()) {
    // A window of its own stays usable while the main window is disabled.
    setEnabled(true);
}

PleaseWaitDlg::~PleaseWaitDlg() {
    hide();
    disabler_.reset();
}

MoveCopyWaitDlg::MoveCopyWaitDlg(QWidget* parent)
    : TextWaitDlg("", "Moving/Copying Reports\nPlease Wait.", parent, true),
      disabler_(std::make_unique<MainWindowDisabler>()) {
    // The running animation: a busy indicator.
    auto* busy = new QProgressBar(this);
    busy->setObjectName("animation");
    busy->setRange(0, 0);
    layout()->addWidget(busy);
    report_label_ = new QLabel(this);
    report_label_->setObjectName("reportText");
    report_label_->setAlignment(Qt::AlignCenter);
    // Wide enough for the longest description, so that the centred dialog keeps its place.
    report_label_->setMinimumWidth(report_label_->fontMetrics().averageCharWidth() * 64);
    layout()->addWidget(report_label_);
    centre_on(this, parentWidget());
    setEnabled(true);
}

void MoveCopyWaitDlg::set_report_text(const std::string& text) { show_in(report_label_, text); }

std::string MoveCopyWaitDlg::report_text() const { return from_qstring(report_label_->text()); }

MoveCopyWaitDlg::~MoveCopyWaitDlg() {
    hide();
    disabler_.reset();
}

ExportWaitDlg::ExportWaitDlg(QWidget* parent)
    : TextWaitDlg("Exporting - Please Wait", "Please wait while the pages that you selected are exported.", parent) {}
LoadingReportDlg::LoadingReportDlg(QWidget* parent)
    : TextWaitDlg("Loading...", "Loading Report\nPlease Wait...", parent) {}
SearchingArchivesDlg::SearchingArchivesDlg(QWidget* parent)
    : TextWaitDlg("", "Searching for Archives\nPlease Wait.", parent) {}
ReceivingMailDlg::ReceivingMailDlg(QWidget* parent)
    : TextWaitDlg("Receiving Mail...", "Uncompressing Report Files\nPlease Wait.", parent) {}
CompressWaitDlg::CompressWaitDlg(QWidget* parent)
    : TextWaitDlg("", "Compressing Report Files\nPlease Wait.", parent, true) {}

// --- ExternalProgramWaitDlg

ExternalProgramWaitDlg::ExternalProgramWaitDlg(QWidget* parent) : QDialog(owner_or_main(parent)) {
    setWindowTitle("Waiting for external program to finish...");
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel("Please wait for the external program to finish...", this);
    layout->addWidget(label);
    auto* stop = new QPushButton("Stop Waiting", this);
    stop->setObjectName("stopWaiting");
    stop->setAutoDefault(false);
    layout->addWidget(stop);
    connect(stop, &QPushButton::clicked, this, [this] { on_stop_waiting(); });
}

ExternalProgramWaitDlg::~ExternalProgramWaitDlg() {
    if (timer_) timer_->stop();
}

int ExternalProgramWaitDlg::run() {
    timer_ = fw::make_timer();
    timer_->start(kWaitTickMs, [this] { on_tick(); });
    const int result = exec();
    timer_->stop();
    return result;
}

void ExternalProgramWaitDlg::on_tick() {
    if (question_open_) return;
    if (running_ && running_()) return;
    if (timer_) timer_->stop();
    accept();
}

void ExternalProgramWaitDlg::reject() { on_stop_waiting(); }

void ExternalProgramWaitDlg::on_stop_waiting() {
    if (question_open_) return;
    question_open_ = true;
    const MsgResult answer =
        ui().message_box(kStopWaitingQuestion, "", MsgIcon::Warning, MsgButtons::YesNo, MsgDefault::Second);
    question_open_ = false;
    if (answer == MsgResult::Yes) {
        stopped_by_user_ = true;
        if (timer_) timer_->stop();
        accept();
    }
}

// --- WorkerWaitDlg

WorkerWaitDlg::WorkerWaitDlg(const std::string& text, std::function<unsigned()> work, QWidget* parent)
    : QDialog(owner_or_main(parent), Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      work_(std::move(work)) {
    setWindowTitle("Please wait");
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(to_qstring(text), this);
    label->setObjectName("waitText");
    layout->addWidget(label);
}

WorkerWaitDlg::~WorkerWaitDlg() {
    if (timer_) timer_->stop();
    if (thread_.joinable()) thread_.join();
}

int WorkerWaitDlg::run() {
    show();
    QCoreApplication::processEvents();  // drawn before the work starts
    thread_ = std::thread([this] {
        result_ = work_ ? work_() : 0;
        finished_.store(true);
    });
    timer_ = fw::make_timer();
    timer_->start(kWaitTickMs, [this] { on_tick(); });
    const int result = exec();
    if (thread_.joinable()) thread_.join();
    return result;
}

void WorkerWaitDlg::reject() {}

void WorkerWaitDlg::on_tick() {
    if (!finished_.load()) return;
    timer_->stop();
    if (thread_.joinable()) thread_.join();
    accept();
}

bool view_text_file_and_wait(const std::string& path, QWidget* parent) {
    const std::vector<std::string> argv{kTextViewerProgram, path};
    WorkerWaitDlg dlg(
        kNotepadWaitText, [argv] { return static_cast<unsigned>(run_child(argv, false).code()); }, parent);
    dlg.run();
    if (static_cast<int>(dlg.result()) == platform::kExitNotStarted) {
        ui().message_box(kNotepadFailedText, "", MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    return true;
}

}  // namespace tv
