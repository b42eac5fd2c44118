#include "tolbex/app/ui/options_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "common/files.h"
#include "common/ui.h"
#include "framework/qt/folder_dialog.h"
#include "framework/qt/qt_text.h"
#include "framework/qt/wait_cursor.h"
#include "framework/qt/window_helpers.h"
#include "tolbex/app/sound.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/ui/menus.h"
#include "tolbex/browser/ui/browser_frame.h"

namespace tv::gui {

namespace {

QLineEdit* named_edit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

FileChooser& file_chooser_hook() {
    static FileChooser hook;
    return hook;
}

// The file-open dialog, starting at `current` (or its folder when it is no file); "" cancelled.
std::string choose_file(QWidget* parent, const char* caption, const std::string& current, const char* filter) {
    if (file_chooser_hook()) return file_chooser_hook()(current);
    const QString start = qstring_from_path(file_exists(current) ? current : get_path_folder(current));
    return path_from_qstring(
        QFileDialog::getOpenFileName(parent, QString::fromLatin1(caption), start, QString::fromLatin1(filter)));
}

void add_ok_cancel(fw::Dialog* dialog, QBoxLayout* layout) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
}

// The end of every OK: a write that failed is told and the dialog stays open.
bool written(bool ok) {
    if (!ok) ui().message_box(kSettingsNotSavedText, "", MsgIcon::Error, MsgButtons::Ok);
    return ok;
}

}  // namespace

// --- print scaling ---

PrintScalingDlg::PrintScalingDlg(ProfileSettings& profile, QWidget* parent)
    : fw::Dialog(parent),
      profile_(profile),
      values_(print_scaling_of(profile)),
      scaling_(new QCheckBox(QStringLiteral("&ECG Scaling"), this)) {
    setWindowTitle(QStringLiteral("Print Scaling"));
    scaling_->setObjectName(QStringLiteral("ecg_scaling"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scaling_);
    auto* form = new QFormLayout;
    const char* names[4] = {"left", "right", "bottom", "top"};
    const char* labels[4] = {"&Left margin (mm):", "&Right margin (mm):", "&Bottom margin (mm):", "&Top margin (mm):"};
    for (int i = 0; i < 4; ++i) {
        margins_[i] = named_edit(this, names[i]);
        form->addRow(QString::fromLatin1(labels[i]), margins_[i]);
    }
    layout->addLayout(form);
    add_ok_cancel(this, layout);
}

void PrintScalingDlg::do_data_exchange(fw::DataExchange& dx) {
    fw::ddx_check(dx, scaling_, values_.ecg_scaling);
    int* fields[4] = {&values_.left, &values_.right, &values_.bottom, &values_.top};
    for (int i = 0; i < 4; ++i) fw::ddx_int(dx, margins_[i], *fields[i], 0, kMaxMarginMm);
}

void PrintScalingDlg::on_ok() {
    if (!update_data(true)) return;
    if (!written(store_print_scaling(values_, profile_))) return;
    fw::Dialog::on_ok();
}

// --- mail ---

MailSettingsDlg::MailSettingsDlg(QWidget* parent)
    : fw::Dialog(parent),
      values_(read_mail_settings()),
      address_(named_edit(this, "address")),
      threshold_(named_edit(this, "threshold")) {
    setWindowTitle(QStringLiteral("Default eMail Address"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Default &Address:"), address_);
    form->addRow(QStringLiteral("Size &Warning Threshold (KB, 0 = off):"), threshold_);
    layout->addLayout(form);
    add_ok_cancel(this, layout);
}

void MailSettingsDlg::do_data_exchange(fw::DataExchange& dx) {
    fw::ddx_text(dx, address_, values_.default_address);
    fw::ddx_int(dx, threshold_, values_.size_warning_kb, 0, kMaxSizeWarningKb);
}

void MailSettingsDlg::on_ok() {
    if (!update_data(true)) return;
    if (!written(write_mail_settings(values_))) return;
    fw::Dialog::on_ok();
}

void set_file_chooser_hook(FileChooser hook) { file_chooser_hook() = std::move(hook); }

// --- external program ---

ExternalProgramDlg::ExternalProgramDlg(ExternalProgramSettings& settings, QWidget* parent)
    : fw::Dialog(parent),
      settings_(settings),
      values_(settings),
      program_(named_edit(this, "1044")),
      error_file_(named_edit(this, "1045")),
      visible_(new QCheckBox(QStringLiteral("&Visible Window"), this)) {
    setWindowTitle(QStringLiteral("External Program Settings"));
    visible_->setObjectName(QStringLiteral("1046"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    // Room for a whole path at the dialog's font; the program can be picked from the disk.
    const int path_width = fontMetrics().averageCharWidth() * 56;
    program_->setMinimumWidth(path_width);
    error_file_->setMinimumWidth(path_width);
    auto* program_row = new QHBoxLayout;
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    program_row->addWidget(program_);
    program_row->addWidget(browse);
    auto* program_label = new QLabel(QStringLiteral("&Program Name:"), this);
    program_label->setBuddy(program_);  // a row of a layout gets no buddy of its own
    form->addRow(program_label, program_row);
    form->addRow(QStringLiteral("&Error File Name:"), error_file_);
    layout->addLayout(form);
    layout->addWidget(visible_);
    add_ok_cancel(this, layout);
    connect(browse, &QPushButton::clicked, this, [this] {
        const std::string chosen = choose_file(this, "External Program", path_from_qstring(program_->text()), "");
        // The field is a command line: a path with blanks goes in quotes.
        if (!chosen.empty())
            program_->setText(qstring_from_path(chosen.find(' ') == std::string::npos ? chosen : '"' + chosen + '"'));
    });
}

void ExternalProgramDlg::do_data_exchange(fw::DataExchange& dx) {
    fw::ddx_path(dx, program_, values_.program_name);
    fw::ddx_path(dx, error_file_, values_.error_file_name);
    fw::ddx_check(dx, visible_, values_.visible_window);
}

void ExternalProgramDlg::on_ok() {
    if (!update_data(true)) return;
    if (!external_program_ok(values_.program_name, ui())) {
        program_->setFocus();
        return;
    }
    if (!written(write_external_program_settings(values_))) return;
    settings_ = values_;
    fw::Dialog::on_ok();
}

// --- letters ---

namespace {

QRadioButton* named_radio(QWidget* parent, const char* text, const char* name) {
    auto* radio = new QRadioButton(QString::fromLatin1(text), parent);
    radio->setObjectName(QString::fromLatin1(name));
    return radio;
}

}  // namespace

LetterOptionsDlg::LetterOptionsDlg(QWidget* parent)
    : fw::Dialog(parent),
      values_(letters::read_letter_options()),
      ask_(named_radio(this, "&Ask for the template each time", "1050")),
      use_default_(named_radio(this, "&Use the default template:", "1051")),
      report_name_(named_radio(this, "Name the letter after the &report", "1054")),
      fixed_name_(named_radio(this, "Use a &fixed letter name:", "1055")),
      with_report_(named_radio(this, "&Save the letter with the report", "1059")),
      one_folder_(named_radio(this, "Save every letter in &one folder:", "1060")),
      template_(named_edit(this, "1052")),
      name_(named_edit(this, "1056")),
      folder_(named_edit(this, "1057")) {
    setWindowTitle(QStringLiteral("Letter Creation Options"));
    auto* layout = new QVBoxLayout(this);
    auto group = [&](const char* title, QRadioButton* a, QRadioButton* b, QLineEdit* edit, const char* browse_text,
                     const char* browse_name, void (LetterOptionsDlg::*browse)()) {
        auto* box = new QGroupBox(QString::fromLatin1(title), this);
        auto* inner = new QVBoxLayout(box);
        auto* buttons = new QButtonGroup(box);
        buttons->addButton(a);
        buttons->addButton(b);
        inner->addWidget(a);
        inner->addWidget(b);
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        if (browse) {
            auto* button = new QPushButton(QString::fromLatin1(browse_text), box);
            button->setObjectName(QString::fromLatin1(browse_name));
            connect(button, &QPushButton::clicked, this, browse);
            row->addWidget(button);
        }
        inner->addLayout(row);
        layout->addWidget(box);
    };
    // Each Browse... has a key of its own.
    group("Template", ask_, use_default_, template_, "&Browse...", "1053", &LetterOptionsDlg::browse_template);
    group("Letter name", report_name_, fixed_name_, name_, nullptr, nullptr, nullptr);
    group("Output folder", with_report_, one_folder_, folder_, "Bro&wse...", "1058", &LetterOptionsDlg::browse_folder);
    // A template or folder path shows whole where the screen allows.
    fw::fit_field_to_text(template_);
    fw::fit_field_to_text(folder_);
    add_ok_cancel(this, layout);
}

void LetterOptionsDlg::do_data_exchange(fw::DataExchange& dx) {
    bool use_default = !values_.prompt_for_template;
    bool one_folder = !values_.save_with_report;
    fw::ddx_check(dx, use_default_, use_default);
    fw::ddx_check(dx, fixed_name_, values_.fixed_letter_name);
    fw::ddx_check(dx, one_folder_, one_folder);
    if (!dx.saving()) {
        ask_->setChecked(!use_default);
        report_name_->setChecked(!values_.fixed_letter_name);
        with_report_->setChecked(!one_folder);
    }
    values_.prompt_for_template = !use_default;
    values_.save_with_report = !one_folder;
    fw::ddx_path(dx, template_, values_.template_name);
    fw::ddx_text(dx, name_, values_.letter_name);
    fw::ddx_path(dx, folder_, values_.letter_folder);
}

void LetterOptionsDlg::browse_template() {
    const std::string chosen =
        choose_file(this, "Select Letter Template Document", path_from_qstring(template_->text()),
                    "Letter Templates (*.doc *.DOC *.odt *.docx *.rtf)");
    if (!chosen.empty()) template_->setText(qstring_from_path(chosen));
}

void LetterOptionsDlg::browse_folder() {
    const std::string chosen = fw::browse_for_folder("Where should the output letter document be saved?",
                                                     path_from_qstring(folder_->text()), this);
    if (!chosen.empty()) folder_->setText(qstring_from_path(chosen));
}

void LetterOptionsDlg::on_ok() {
    if (!update_data(true)) return;
    letters::LetterOptionsRules rules;
    if (!rules.ok(values_, ui())) {
        QLineEdit* field = rules.failed_field() == letters::LetterOptionsRules::kTemplate     ? template_
                           : rules.failed_field() == letters::LetterOptionsRules::kLetterName ? name_
                           : rules.failed_field() == letters::LetterOptionsRules::kFolder     ? folder_
                                                                                              : nullptr;
        if (field) {
            field->setFocus();
        } else {
            written(false);
        }
        return;
    }
    fw::Dialog::on_ok();
}

// --- about ---

AboutDlg::AboutDlg(QWidget* parent) : fw::Dialog(parent), version_(new QLabel(to_qstring(about_version_text()), this)) {
    setWindowTitle(QStringLiteral("About Calvera"));
    version_->setObjectName(QStringLiteral("1062"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(version_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

// --- the commands ---

void install_options_commands(fw::CommandTarget& target, CTolbexApp& core, std::function<QWidget*()> owner) {
    target.on_command(menu::kPrintScaling, [&core, owner] {
        TolbexSettings settings = core.settings();
        PrintScalingDlg dialog(settings.profile, owner());
        // A write that failed half-way has still changed the profile: the copy follows it.
        dialog.exec_modal();
        core.set_settings(std::move(settings));
    });
    target.on_command(menu::kMailSettings, [owner] {
        MailSettingsDlg dialog(owner());
        dialog.exec_modal();
    });
    target.on_command(menu::kExternalProgramSettings, [&core, owner] {
        TolbexSettings settings = core.settings();
        ExternalProgramDlg dialog(settings.profile.external_program, owner());
        if (dialog.exec_modal() == QDialog::Accepted) core.set_settings(std::move(settings));
    });
    target.on_command(menu::kCefStoreFolder, [owner] {
        choose_default_folder(DefaultFolder::CefStore, [&](const std::string& caption, const std::string& initial) {
            return fw::browse_for_folder(caption, initial, owner());
        });
    });
    target.on_command(menu::kExportFolder, [owner] {
        choose_default_folder(DefaultFolder::Export, [&](const std::string& caption, const std::string& initial) {
            return fw::browse_for_folder(caption, initial, owner());
        });
    });
    target.on_command(menu::kLetterOptions, [owner] {
        LetterOptionsDlg dialog(owner());
        dialog.exec_modal();
    });
    target.on_command(menu::kAbout, [owner] {
        AboutDlg dialog(owner());
        dialog.exec_modal();
    });
    CBrowserFrame::set_play_action([](const std::string& report_folder) {
        fw::WaitCursor wait;
        play_sound_file_or_tell(find_report_sound(report_folder));
    });
}

}  // namespace tv::gui
