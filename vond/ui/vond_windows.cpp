#include "vond/ui/vond_windows.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/files.h"
#include "common/runner.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/ascii.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/program_icon.h"
#include "framework/qt/qt_ui.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/process.h"
#include "vond/card_format.h"
#include "vond/messages.h"
#include "vond/ui/vond_frame.h"

namespace tv::vond {
namespace {

constexpr const char* kProductVersion = "1.0";

QString dialog_title() { return to_qstring(format_message(156, kProductVersion)); }

QPushButton* button(QWidget* parent, const char* text, const char* name) {
    auto* b = new QPushButton(QString::fromLatin1(text), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

QLineEdit* edit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    return e;
}

// Played without waiting; a machine without a player stays silent.
void play_sound_file(const std::string& wav) {
    if (platform::resolve_program("aplay").empty()) return;
    start_child_detached({"aplay", "-q", "--", wav});
}

class ProgressDialog : public Progress {
public:
    explicit ProgressDialog(bool conditioning) : rules_(conditioning) {
        dialog_.setWindowTitle(to_qstring(rules_.title()));
        dialog_.setObjectName(conditioning ? "conditionProgress" : "readProgress");
        auto* layout = new QVBoxLayout(&dialog_);
        layout->addWidget(new QLabel(to_qstring(rules_.text()), &dialog_));
        bar_ = new QProgressBar(&dialog_);
        bar_->setObjectName("progressBar");
        bar_->setRange(0, rules_.maximum());
        layout->addWidget(bar_);
        dialog_.show();
        QApplication::processEvents();
    }
    void set_range(std::uint32_t max) override {
        rules_.set_range(max);
        bar_->setRange(0, rules_.maximum());
        bar_->setValue(rules_.position());
        QApplication::processEvents();
    }
    void set_position(std::uint32_t pos) override {
        rules_.set_position(pos);
        bar_->setValue(rules_.position());
        QApplication::processEvents();
    }

private:
    ProgressRules rules_;
    QDialog dialog_;
    QProgressBar* bar_ = nullptr;
};

}  // namespace

CardDialog::CardDialog(CardDialogRules& rules, QWidget* parent) : fw::Dialog(parent), rules_(rules) {
    setObjectName("cardDialog");
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Patient Name", this), 0, 0);
    grid->addWidget(name_ = edit(this, "patientName"), 0, 1, 1, 2);
    grid->addWidget(new QLabel("Patient ID", this), 1, 0);
    grid->addWidget(id_ = edit(this, "patientId"), 1, 1, 1, 2);
    grid->addWidget(new QLabel("Drive Letter", this), 2, 0);
    drive_ = new QComboBox(this);
    drive_->setObjectName("driveLetter");
    grid->addWidget(drive_, 2, 1);
    grid->addWidget(new QLabel("Default Drive Letter", this), 3, 0);
    default_drive_ = new QComboBox(this);
    default_drive_->setObjectName("defaultDriveLetter");
    default_drive_->addItem("None");
    for (char l = 'A'; l <= 'Z'; ++l) default_drive_->addItem(QString(QChar(l)));
    grid->addWidget(default_drive_, 3, 1);
    fir_ = new QCheckBox("Load FIR Filter", this);
    fir_->setObjectName("loadFir");
    grid->addWidget(fir_, 4, 0);
    grid->addWidget(info_ = button(this, "Start Sector\nInformation", "startSectorInfo"), 5, 0);
    grid->addWidget(recover_ = button(this, "Recover\nStart Sector", "recoverStartSector"), 5, 1);
    grid->addWidget(initialise_ = button(this, "Initialise Card", "initialiseCard"), 0, 3);
    grid->addWidget(exit_ = button(this, "Exit", "exit"), 1, 3);
    connect(initialise_, &QPushButton::clicked, this, [this] { initialise_clicked(); });
    connect(exit_, &QPushButton::clicked, this, [this] { exit_clicked(); });
    connect(info_, &QPushButton::clicked, this, [this] { start_sector_info_clicked(); });
    connect(recover_, &QPushButton::clicked, this, [this] { recover_clicked(); });
    connect(default_drive_, &QComboBox::activated, this, [this](int i) { default_drive_changed(i); });
}

void CardDialog::on_init_dialog() {
    setWindowTitle(dialog_title());
    const bool extra = std::getenv("VOND_EXTRA_BUTTONS") != nullptr;
    info_->setVisible(extra);
    recover_->setVisible(extra);
    fir_->setVisible(!rules_.hide_fir);
    name_->setReadOnly(rules_.read_only_patient);
    id_->setReadOnly(rules_.read_only_patient);
    fill_drive_list();
    const char d = rules_.default_drive;
    default_drive_->setCurrentIndex(platform::is_upper(d) ? d - 'A' + 1 : 0);
    fw::Dialog::on_init_dialog();
}

void CardDialog::do_data_exchange(fw::DataExchange& dx) {
    fw::ddx_text(dx, name_, rules_.name);
    fw::ddx_text(dx, id_, rules_.id);
    fw::ddx_check(dx, fir_, rules_.fir);
    if (dx.saving()) {
        const QString t = drive_->currentText();
        rules_.selected_letter = t.isEmpty() ? 0 : static_cast<char>(t[0].toLatin1());
    }
}

void CardDialog::fill_drive_list() {
    drive_->clear();
    int select = 0;
    for (char l : card_drive_letters(rules_.default_drive)) {
        if (l == rules_.drive[0]) select = drive_->count();
        drive_->addItem(QString(QChar(l)));
    }
    if (drive_->count() > 0) drive_->setCurrentIndex(select);
}

void CardDialog::initialise_clicked() {
    rules_.automatic = false;
    if (!update_data(true)) return;
    setEnabled(false);
    const bool ok = rules_.initialise_card();
    setEnabled(true);
    activateWindow();
    if (ok && rules_.closed_program()) {
        done(-1);
        return;
    }
    const CardSearch found = search_card_drive_asking(rules_.default_drive, false);
    if (found.several && rules_.drive.size() >= 2) rules_.drive = rules_.drive.substr(0, 2) + ">2";
    fill_drive_list();
}

void CardDialog::default_drive_changed(int index) {
    rules_.default_drive = index <= 0 ? '?' : static_cast<char>('A' + index - 1);
    const CardSearch found = search_card_drive_asking(rules_.default_drive, false);
    if (found.letter != '?') rules_.drive = std::string(1, found.letter) + (found.several ? ":>2" : ":");
    fill_drive_list();
}

void CardDialog::start_sector_info_clicked() {
    auto d = platform::mapped_drive(rules_.drive.empty() ? '?' : rules_.drive[0]);
    if (!d || !platform::find_name_ci(d->folder, "ecg.dat")) return;
    const FoundSector s = find_start_sector(d->folder);
    const std::string text = s.found ? format_start_sector_info(parse_start_sector(s.sector))
                                     : "Could't read first ECG sector from drive " + rules_.drive;
    ui().message_box(text, message_text(133), MsgIcon::None, MsgButtons::Ok);
}

void CardDialog::recover_clicked() {
    auto d = platform::mapped_drive(rules_.drive.empty() ? '?' : rules_.drive[0]);
    if (!d) return;
    CardDisk disk;
    if (!disk.set_root(d->folder)) {
        show_message(204, MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    disk.recover_start_sector();
}

ReadDialog::ReadDialog(ReadDialogRules& rules, int mode, char default_drive, QWidget* parent)
    : fw::Dialog(parent), rules_(rules), mode_(mode), default_drive_(default_drive) {
    setObjectName("readDialog");
    if (!rules_.play_sound) rules_.play_sound = play_sound_file;
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel("Patient Name", this), 0, 0);
    grid->addWidget(name_ = edit(this, "patientName"), 0, 1);
    grid->addWidget(new QLabel("Patient ID", this), 1, 0);
    grid->addWidget(id_ = edit(this, "patientId"), 1, 1);
    name_->setReadOnly(true);
    id_->setReadOnly(true);
    grid->addWidget(play_ = button(this, "Play Sound File", "playSound"), 2, 0);
    grid->addWidget(read_patient_ = button(this, "Read Patient", "readPatient"), 0, 2);
    grid->addWidget(read_ecg_ = button(this, "Read ECG Data", "readEcg"), 1, 2);
    grid->addWidget(exit_ = button(this, "Exit", "exit"), 2, 2);
    connect(read_patient_, &QPushButton::clicked, this, [this] { read_patient_clicked(); });
    connect(read_ecg_, &QPushButton::clicked, this, [this] { read_ecg_clicked(); });
    connect(play_, &QPushButton::clicked, this, [this] { play_clicked(); });
    connect(exit_, &QPushButton::clicked, this, [this] { done(1); });
}

void ReadDialog::on_init_dialog() {
    setWindowTitle(dialog_title());
    play_->setVisible(false);
    fw::Dialog::on_init_dialog();
}

void ReadDialog::show_values() {
    name_->setText(to_qstring(person_name_text(rules_.info.name)));
    id_->setText(to_qstring(rules_.info.id));
}

void ReadDialog::read_patient_clicked() {
    if (rules_.read_patient_button(default_drive_)) show_values();
}

void ReadDialog::read_ecg_clicked() {
    rules_.read_ecg_button(default_drive_, mode_);
    show_values();
    play_->setVisible(rules_.has_sound());
}

void ReadDialog::play_clicked() {
    if (auto wav = platform::find_name_ci(rules_.output_folder(), "patient.wav")) play_sound_file(*wav);
}

DrivePromptDialog::DrivePromptDialog(DrivePromptRules& rules, QWidget* parent) : fw::Dialog(parent), rules_(rules) {
    setObjectName("drivePrompt");
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(this);
    text_->setObjectName("promptText");
    layout->addWidget(text_);
    list_ = new QListWidget(this);
    list_->setObjectName("drives");
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok_ = button(this, "OK", "ok"));
    buttons->addWidget(again_ = button(this, "Search Again", "searchAgain"));
    buttons->addWidget(cancel_ = button(this, "Cancel", "cancel"));
    layout->addLayout(buttons);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, [this] { on_ok(); });
    connect(again_, &QPushButton::clicked, this, [this] { search_again_clicked(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { on_cancel(); });
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { on_ok(); });
}

void DrivePromptDialog::on_init_dialog() {
    setWindowTitle(dialog_title());
    text_->setText(to_qstring(rules_.text()));
    list_->clear();
    for (const DriveEntry& e : rules_.entries()) list_->addItem(to_qstring(DrivePromptRules::entry_text(e)));
    if (rules_.selected >= 0 && rules_.selected < list_->count()) list_->setCurrentRow(rules_.selected);
    ok_->setEnabled(list_->count() > 0);
    fw::Dialog::on_init_dialog();
}

void DrivePromptDialog::on_ok() {
    rules_.selected = list_->currentRow();
    if (!rules_.choose()) return;
    done(QDialog::Accepted);
}

void DrivePromptDialog::on_cancel() {
    rules_.cancel();
    done(QDialog::Rejected);
}

void DrivePromptDialog::search_again_clicked() {
    rules_.search_again();
    done(QDialog::Rejected);
}

QtVondWindows::QtVondWindows(bool install_ui) : install_ui_(install_ui) {}

QtVondWindows::~QtVondWindows() = default;

namespace {

bool socket_answers(const sockaddr* address, socklen_t length, int family) {
    const platform::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return fd && ::connect(fd.get(), address, length) == 0;
}

bool unix_socket_answers(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof a.sun_path) return false;
    std::memcpy(a.sun_path, path.data(), path.size());
    return socket_answers(reinterpret_cast<const sockaddr*>(&a), sizeof a, AF_UNIX);
}

// Whether the display the environment names is there: Qt ends the process when it cannot reach
// it, and a hidden run must rather carry on with its safe answers. Local X displays and Wayland
// are probed; a display on another host is taken as reachable.
bool display_reachable() {
    if (const char* w = std::getenv("WAYLAND_DISPLAY"); w && *w) {
        std::string path = w;
        if (path[0] != '/') {
            const char* run = std::getenv("XDG_RUNTIME_DIR");
            path = std::string(run ? run : "") + "/" + path;
        }
        if (unix_socket_answers(path)) return true;
    }
    const char* d = std::getenv("DISPLAY");
    if (!d || !*d) return false;
    std::string display = d;
    if (display.rfind("unix:", 0) == 0) display.erase(0, 4);
    if (display[0] != ':') return true;
    const std::string number = display.substr(1, display.find('.') - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    return unix_socket_answers("/tmp/.X11-unix/X" + number);
}

enum class Screen { None, Offscreen, Person };

// What a window would be shown on: nothing, a screen nobody sees, or one a person can answer at.
Screen screen() {
    const char* p = std::getenv("QT_QPA_PLATFORM");
    const std::string platform = p ? p : "";
    if (platform.rfind("offscreen", 0) == 0 || platform.rfind("minimal", 0) == 0) return Screen::Offscreen;
    // Other named platforms (frame buffer, VNC ...) need no display server.
    if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0) return Screen::Person;
    return display_reachable() ? Screen::Person : Screen::None;
}

}  // namespace

bool QtVondWindows::available() const { return QApplication::instance() || screen() != Screen::None; }

bool QtVondWindows::user_can_answer() { return screen() == Screen::Person; }

void QtVondWindows::start(int mode) { state_ = frame_state(mode); }

bool QtVondWindows::active() const { return frame_ != nullptr; }

void QtVondWindows::finish() {
    // The run is over: the frame closes as the close message would close it.
    frame_.reset();
}

void QtVondWindows::ensure_application(bool install_ui) {
    if (QApplication::instance()) return;
    static int argc = 1;
    static char name[] = "vond";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
    fw::set_program_identity(nullptr);
    static fw::QtUi qt_ui;
    if (install_ui) set_ui(&qt_ui);
}

void QtVondWindows::ensure_window_run() {
    ensure_application(install_ui_);
    if (!frame_) frame_ = std::make_unique<VondFrame>(state_);
}

MsgResult QtVondWindows::message_box(const std::string& text, const std::string& caption, MsgIcon icon,
                                     MsgButtons buttons, MsgDefault def) {
    ensure_window_run();
    fw::QtUi box;
    return box.message_box(text, caption, icon, buttons, def);
}

int QtVondWindows::show_card_dialog(CardDialogRules& rules) {
    ensure_window_run();
    CardDialog d(rules);
    return d.exec_modal();
}

int QtVondWindows::show_read_dialog(ReadDialogRules& rules, int mode, char default_drive) {
    ensure_window_run();
    ReadDialog d(rules, mode, default_drive);
    return d.exec_modal();
}

void QtVondWindows::choose_drive(DrivePromptRules& rules) {
    ensure_window_run();
    DrivePromptDialog d(rules);
    d.exec_modal();
}

std::unique_ptr<Progress> QtVondWindows::open_progress(bool conditioning) {
    ensure_window_run();
    return std::make_unique<ProgressDialog>(conditioning);
}

}  // namespace tv::vond
