#include "tolbex/intake/ui/intake_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <clocale>
#include <cstdlib>
#include <memory>
#include <optional>

#include "common/files.h"
#include "common/runner.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/qt_ui.h"
#include "tolbex/app/command_line.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/sound.h"
#include "tolbex/browser/archive_documents.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/browser/ui/choose_archive_dialog.h"
#include "tolbex/intake/cef_settings.h"
#include "tolbex/intake/patient_details.h"
#include "tolbex/mail/mail.h"
#include "tolbex/tape/ui/tape_dialogs.h"

namespace tv::gui {

namespace {

struct FieldRow {
    const char* label;
    std::string PatientDetails::*member;
    int limit;
};
const FieldRow kFields[] = {
    {"Patient Name:", &PatientDetails::patient_name, 80},
    {"Patient ID:", &PatientDetails::patient_id, 80},
    {"Date of Birth:", &PatientDetails::date_of_birth, 80},
    {"Age:", &PatientDetails::age, 80},
    {"Sex:", &PatientDetails::sex, 80},
    {"Operator:", &PatientDetails::operator_name, 80},
    {"Transfer Filename:", &PatientDetails::recording_id, 80},
    {"Physician:", &PatientDetails::physician, 80},
    {"Insurer:", &PatientDetails::insurer, 80},
    {"Hospital:", &PatientDetails::hospital, 80},
    {"Recording Date:", &PatientDetails::recording_date, 80},
    {"Recorder ID:", &PatientDetails::recorder_id, 80},
    {"Analysis Date:", &PatientDetails::analysis_date, 80},
    {"Description of recording:", &PatientDetails::description, 63},
};

QSlider* compression_slider(QWidget* parent) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(0, 3);
    s->setPageStep(1);
    // Four positions far enough apart to be told apart, with their marks.
    s->setTickPosition(QSlider::TicksBelow);
    s->setTickInterval(1);
    s->setMinimumWidth(s->fontMetrics().averageCharWidth() * 28);
    return s;
}

QWidget* slider_row(QSlider* slider, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(new QLabel(QStringLiteral("Smallest"), row));
    h->addWidget(slider);
    h->addWidget(new QLabel(QStringLiteral("Largest"), row));
    return row;
}

QDialogButtonBox* ok_cancel(QDialog* d) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
    QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, d, &QDialog::reject);
    return buttons;
}

}  // namespace

PatientDetailsDlg::PatientDetailsDlg(PatientDetails& details, QWidget* parent)
    : fw::Dialog(parent),
      details_(details),
      comments_(new QPlainTextEdit(this)),
      group_(new QGroupBox(QStringLiteral("Compression"), this)),
      compress_(new QCheckBox(QStringLiteral("Compress Recording"), group_)),
      slider_(compression_slider(group_)),
      play_(new QPushButton(QStringLiteral("Play Sound File"), this)) {
    setWindowTitle(QStringLiteral("Patient Details"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    for (const FieldRow& f : kFields) {
        auto* edit = new QLineEdit(this);
        edit->setMaxLength(f.limit);
        edits_.emplace_back(f.label, edit);
        form->addRow(QString::fromLatin1(f.label), edit);
    }
    form->addRow(QStringLiteral("Comments:"), comments_);
    layout->addLayout(form);
    auto* g = new QVBoxLayout(group_);
    g->addWidget(compress_);
    g->addWidget(new QLabel(QStringLiteral("Compressed file size"), group_));
    g->addWidget(slider_row(slider_, group_));
    layout->addWidget(group_);
    layout->addWidget(play_);
    QDialogButtonBox* buttons = ok_cancel(this);
    layout->addWidget(buttons);
    // The keyboard goes through the dialog as it reads, from the patient's name (where it starts) to
    // OK, so that Return takes the details; Tab leaves the comments, where Return starts a new line.
    comments_->setTabChangesFocus(true);
    QWidget* previous = edits_.back().second;
    for (QWidget* next :
         std::initializer_list<QWidget*>{comments_, compress_, slider_, play_, buttons->button(QDialogButtonBox::Ok),
                                         buttons->button(QDialogButtonBox::Cancel)}) {
        setTabOrder(previous, next);
        previous = next;
    }
    // The description follows the name until the operator types into it.
    connect(field("Patient Name:"), &QLineEdit::textChanged, this, [this](const QString& text) {
        if (description_typed_) return;
        updating_ = true;
        field("Description of recording:")->setText(text.left(63));
        updating_ = false;
    });
    connect(field("Description of recording:"), &QLineEdit::textEdited, this, [this] {
        if (!updating_) description_typed_ = true;
    });
    connect(play_, &QPushButton::clicked, this, [this] { play_sound_file_or_tell(details_.sound_file); });
}

PatientDetailsDlg::~PatientDetailsDlg() = default;

QLineEdit* PatientDetailsDlg::field(const char* label) const {
    for (const auto& [l, e] : edits_)
        if (std::string(l) == label) return e;
    return nullptr;
}

void PatientDetailsDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    updating_ = true;
    // A recorder's "FAMILY^GIVEN" is shown as a person writes it; unedited, it is stored as it came.
    for (const FieldRow& f : kFields)
        field(f.label)->setText(to_qstring(
            f.member == &PatientDetails::patient_name ? person_name_text(details_.patient_name) : details_.*f.member));
    // A transfer file name starts with the clinic's code; the operator types the rest.
    if (details_.recording_id.empty()) field("Transfer Filename:")->setText(to_qstring(get_default_clinic_code()));
    updating_ = false;
    comments_->setPlainText(to_qstring(details_.comments));
    play_->setVisible(!details_.sound_file.empty());
    group_->setVisible(details_.level >= 0);
    if (details_.level >= 0) {
        slider_->setValue(cef_slider_for_bitred(details_.level));
        compress_->setChecked(details_.compress);
        compress_->setEnabled(details_.check_changeable && details_.group_enabled);
        group_->setEnabled(details_.group_enabled);
    }
}

void PatientDetailsDlg::on_ok() {
    PatientDetails taken = details_;
    for (const FieldRow& f : kFields) taken.*f.member = from_qstring(field(f.label)->text());
    if (taken.patient_name == person_name_text(details_.patient_name)) taken.patient_name = details_.patient_name;
    taken.comments = from_qstring(comments_->toPlainText());
    if (taken.level >= 0) {
        taken.level = cef_bitred_for_slider(slider_->value());
        taken.compress = compress_->isChecked();
    }
    DetailsField focus = DetailsField::None;
    if (!patient_details_ok(taken, get_locale_date_order(), ui(), &focus)) {
        const char* label = focus == DetailsField::DateOfBirth     ? "Date of Birth:"
                            : focus == DetailsField::RecordingDate ? "Recording Date:"
                            : focus == DetailsField::AnalysisDate  ? "Analysis Date:"
                            : focus == DetailsField::RecordingId   ? "Transfer Filename:"
                            : focus == DetailsField::Description   ? "Description of recording:"
                                                                   : "Age:";
        field(label)->setFocus();
        return;
    }
    field("Age:")->setText(to_qstring(taken.age));
    details_ = std::move(taken);
    fw::Dialog::on_ok();
}

DefaultCompressionDlg::DefaultCompressionDlg(QWidget* parent) : fw::Dialog(parent), slider_(compression_slider(this)) {
    setWindowTitle(QStringLiteral("Default ECG Compression"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Default compressed file size"), this));
    layout->addWidget(slider_row(slider_, this));
    layout->addWidget(ok_cancel(this));
}

void DefaultCompressionDlg::on_init_dialog() {
    fw::Dialog::on_init_dialog();
    slider_->setValue(cef_slider_for_bitred(get_cef_bitred(false)));
}

void DefaultCompressionDlg::on_ok() {
    set_cef_bitred(false, cef_bitred_for_slider(slider_->value()));
    fw::Dialog::on_ok();
}

namespace {

// The intake's dialogs, owned by the window `owner` gives (none: top-level).
IntakeWindowing intake_dialogs(const std::function<QWidget*()>& owner) {
    IntakeWindowing w;
    w.patient_details = [owner](PatientDetails& details) {
        PatientDetailsDlg dialog(details, owner());
        return dialog.exec_modal() == QDialog::Accepted;
    };
    w.save_as = [owner](const std::string& name, const std::string& start) -> std::string {
        const QString chosen = QFileDialog::getSaveFileName(owner(), QStringLiteral("Saving Compressed ECG File"),
                                                            qstring_from_path(join_path(start, name)),
                                                            QStringLiteral("CEF Files (*.CEF)"));
        if (chosen.isEmpty()) return {};
        std::string path = path_from_qstring(chosen);
        if (get_extension_upper(get_path_file_name(path)).empty()) path += ".CEF";
        return path;
    };
    return w;
}

// The toolkit, message boxes as windows and the intake's dialogs, for one hidden request; what
// was there before comes back when it ends.
class RequestWindows {
public:
    RequestWindows() : previous_ui_(&ui()), previous_windowing_(intake_windowing()) {
        if (!QApplication::instance()) {
            app_ = std::make_unique<QApplication>(argc_, argv_);
            // The toolkit took every locale category from the environment: numbers in files keep '.'.
            std::setlocale(LC_NUMERIC, "C");
        }
        set_ui(&qt_ui_);
        IntakeWindowing w = intake_dialogs([] { return static_cast<QWidget*>(nullptr); });
        w.choose_archive = previous_windowing_.choose_archive;
        w.archives_changed = previous_windowing_.archives_changed;
        w.kept_read_choice = previous_windowing_.kept_read_choice;
        set_intake_windowing(std::move(w));
    }
    ~RequestWindows() {
        set_intake_windowing(previous_windowing_);
        set_ui(previous_ui_);
    }
    RequestWindows(const RequestWindows&) = delete;
    RequestWindows& operator=(const RequestWindows&) = delete;

private:
    int argc_ = 1;
    char name_[7] = "tolbex";
    char* argv_[2] = {name_, nullptr};
    Ui* previous_ui_;
    IntakeWindowing previous_windowing_;
    fw::QtUi qt_ui_;
    std::unique_ptr<QApplication> app_;
};

}  // namespace

std::shared_ptr<void> start_request_windows() {
    if (!QApplication::instance() && !fw::display_available()) return nullptr;
    return std::make_shared<RequestWindows>();
}

void offer_request_windows() { set_intake_window_starter(start_request_windows); }

void connect_intake_to_application() {
    set_compress_cf_action(compress_cf_operands);
    set_cef_archive_store(store_intake_cef);
}

void install_intake_commands(fw::CommandTarget& target, AuditTrail* audit, std::function<QWidget*()> owner) {
    connect_intake_to_application();
    IntakeWindowing w = intake_dialogs(owner);
    w.choose_archive = [owner](const std::string& caption) -> std::string {
        ChooseArchiveDlg dialog(false, owner());
        dialog.set_caption(caption);
        if (dialog.exec_modal() != QDialog::Accepted) return {};
        return dialog.get_archive_path();
    };
    w.archives_changed = [] { reload_archive_documents(); };
    w.kept_read_choice = [owner](const KeptRead& kept) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Kept Recording"),
                        qstring_from_path(format_string(
                            "A recording read from a card has not been stored yet.\n\nPatient: %s\nDescription: "
                            "%s\nKept: %s\n%s\n\n%s",
                            person_name_text(kept.details.patient_name).c_str(), kept.details.description.c_str(),
                            kept.read_time.c_str(), kept.card_text.c_str(), kept_read_text(kept.folder).c_str())),
                        QMessageBox::NoButton, owner());
        QPushButton* store = box.addButton(QStringLiteral("Store in &Archive..."), QMessageBox::AcceptRole);
        QPushButton* save = box.addButton(QStringLiteral("Save as &File..."), QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton(QStringLiteral("&Discard..."), QMessageBox::DestructiveRole);
        QPushButton* later = box.addButton(QStringLiteral("&Later"), QMessageBox::RejectRole);
        box.setDefaultButton(store);
        box.setEscapeButton(later);
        box.exec();
        if (box.clickedButton() == store) return KeptReadChoice::Store;
        if (box.clickedButton() == save) return KeptReadChoice::Save;
        if (box.clickedButton() == discard) return KeptReadChoice::Discard;
        return KeptReadChoice::Later;
    };
    set_intake_windowing(std::move(w));

    auto mail = [audit] {
        MailServices services;
        services.audit = audit;
        return services;
    };
    const std::pair<fw::CommandId, int> card[] = {{kCardStoreInArchive, 0},
                                                  {kCardStoreInFolder, 1},
                                                  {kCardSendAsMailCmd, 2}};
    for (auto [id, mode] : card) target.on_command(id, [mode, mail] { card_intake(mode, mail()); });
    const std::pair<fw::CommandId, int> disk[] = {{kDiskStoreInArchive, 0},
                                                  {kDiskStoreInFolder, 1},
                                                  {kDiskSendAsMailCmd, 2}};
    for (auto [id, mode] : disk) target.on_command(id, [mode, mail] { disk_intake(mode, mail()); });
    set_merivale_action([mail](const std::vector<std::string>& operands) {
        CustomerExport customer;
        for (std::size_t k = 0; k < 6 && k < operands.size(); ++k) customer.texts[k] = operands[k];
        customer.number = operands.size() > 6 ? static_cast<int>(parse_integer(operands[6]).value) : 0;
        card_intake(0, mail(), &customer);
        return 0;
    });
    // The tape's recorder ID and date come prefilled; Compress Recording stays checked.
    auto ask = [](const PatientDetails& prefilled, bool) -> std::optional<PatientDetails> {
        PatientDetails details = prefilled;
        const auto& ask_user = intake_windowing().patient_details;
        if (!ask_user || !ask_user(details)) return std::nullopt;
        return details;
    };
    const std::pair<fw::CommandId, int> tape[] = {{kTapeStoreInArchive, kTapeToArchive},
                                                  {kTapeStoreInFolder, kTapeToFolder},
                                                  {kTapeSendAsMailCmd, kTapeToMail}};
    for (auto [id, destination] : tape)
        target.on_command(id, [destination, ask, mail, owner] {
            run_tape_command(
                destination, ask,
                [mail](const std::string& cef, const PatientDetails&, int to) {
                    return deliver_cef(cef, static_cast<IntakeDestination>(to), mail(), false);
                },
                owner());
        });
    target.on_command(kStoreDiskRecordingCmd, [] { store_disk_recording(); });
    target.on_command(kStoreCardRecordingCmd, [] { store_card_recording(); });
    target.on_command(kKeptRecordingsCmd, [mail] {
        if (kept_reads().empty())
            ui().message_box("There is no kept recording: every recording read has been stored or discarded.",
                             "Kept Recordings", MsgIcon::Information, MsgButtons::Ok);
        else
            review_kept_reads(mail());
    });
    target.on_command(kMailDiskRecordingCmd, [mail] { disk_intake(2, mail()); });
    target.on_command(kDefaultCompression, [owner] {
        DefaultCompressionDlg dialog(owner());
        dialog.exec_modal();
    });
    // A second intake would share the card reader, the deck and the mappings with the first.
    for (fw::CommandId id :
         {kCardStoreInArchive, kCardStoreInFolder, kCardSendAsMailCmd, kDiskStoreInArchive, kDiskStoreInFolder,
          kDiskSendAsMailCmd, kTapeStoreInArchive, kTapeStoreInFolder, kTapeSendAsMailCmd, kStoreDiskRecordingCmd,
          kStoreCardRecordingCmd, kMailDiskRecordingCmd, kKeptRecordingsCmd})
        target.on_update_command(id, [](fw::CommandUi& u) { u.enable(!child_run_in_progress()); });
}

}  // namespace tv::gui
