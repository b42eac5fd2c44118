// The Options dialogs: thin windows over options_settings.h. Each opens with the stored values and
// writes them back on OK (a failed write is told and keeps the dialog open); Cancel writes nothing.
#pragma once
#include <functional>
#include <string>

#include "framework/qt/dialog.h"
#include "tolbex/app/options_settings.h"
#include "tolbex/letters/letter_options.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace tv {
class CTolbexApp;
namespace fw {
class CommandTarget;
}  // namespace fw
}  // namespace tv

namespace tv::gui {

// File > Print > Print Scaling: the ECG-scaling box and four margins of 0..200 mm. On OK the
// values go to the profile and into `profile`, the application's copy.
class PrintScalingDlg : public fw::Dialog {
public:
    explicit PrintScalingDlg(ProfileSettings& profile, QWidget* parent = nullptr);
    QCheckBox* scaling_box() const { return scaling_; }
    // 0 left, 1 right, 2 bottom, 3 top.
    QLineEdit* margin_edit(int i) const { return margins_[i]; }
    void on_ok() override;

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    ProfileSettings& profile_;
    PrintScalingValues values_;
    QCheckBox* scaling_;
    QLineEdit* margins_[4];
};

// Options > Mail Settings: "Default eMail Address".
class MailSettingsDlg : public fw::Dialog {
public:
    explicit MailSettingsDlg(QWidget* parent = nullptr);
    QLineEdit* address_edit() const { return address_; }
    QLineEdit* threshold_edit() const { return threshold_; }
    void on_ok() override;

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    MailSettings values_;
    QLineEdit* address_;
    QLineEdit* threshold_;
};

// Options > External Program Settings. On OK `settings`, the application's record, takes the values.
// Stands in for the file-open dialog of the Options dialogs (the letter template, the external
// program): (initial path) -> chosen path, "" cancelled. An empty function restores the dialog.
using FileChooser = std::function<std::string(const std::string& initial)>;
void set_file_chooser_hook(FileChooser hook);

class ExternalProgramDlg : public fw::Dialog {
public:
    explicit ExternalProgramDlg(ExternalProgramSettings& settings, QWidget* parent = nullptr);
    QLineEdit* program_edit() const { return program_; }
    QLineEdit* error_file_edit() const { return error_file_; }
    QCheckBox* visible_box() const { return visible_; }
    void on_ok() override;

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    ExternalProgramSettings& settings_;
    ExternalProgramSettings values_;
    QLineEdit* program_;
    QLineEdit* error_file_;
    QCheckBox* visible_;
};

// Options > Letter Creation Options.
class LetterOptionsDlg : public fw::Dialog {
public:
    explicit LetterOptionsDlg(QWidget* parent = nullptr);
    QRadioButton* ask_template() const { return ask_; }
    QRadioButton* default_template() const { return use_default_; }
    QLineEdit* template_edit() const { return template_; }
    QRadioButton* report_name() const { return report_name_; }
    QRadioButton* fixed_name() const { return fixed_name_; }
    QLineEdit* name_edit() const { return name_; }
    QRadioButton* report_folder() const { return with_report_; }
    QRadioButton* one_folder() const { return one_folder_; }
    QLineEdit* folder_edit() const { return folder_; }
    void browse_template();
    void browse_folder();
    void on_ok() override;

protected:
    void do_data_exchange(fw::DataExchange& dx) override;

private:
    letters::LetterOptions values_;
    QRadioButton *ask_, *use_default_, *report_name_, *fixed_name_, *with_report_, *one_folder_;
    QLineEdit *template_, *name_, *folder_;
};

// Help > About: the program's name and version (label 1062).
class AboutDlg : public fw::Dialog {
public:
    explicit AboutDlg(QWidget* parent = nullptr);
    QLabel* version_label() const { return version_; }

private:
    QLabel* version_;
};

// Routes the Options commands (and File > Print > Print Scaling, Help > About) to their dialogs, and gives the
// browser's Play button the report's sound. `owner` gives the window the dialogs belong to.
void install_options_commands(fw::CommandTarget& target, CTolbexApp& core, std::function<QWidget*()> owner);

// The message of a failed settings write.
inline constexpr const char* kSettingsNotSavedText = "The settings could not be saved.";

}  // namespace tv::gui
