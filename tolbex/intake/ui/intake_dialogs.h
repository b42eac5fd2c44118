// The intake's windows: "Patient Details", "Default ECG Compression", and the Recording menu's card
// and disk commands put on the framework. The rules are in tolbex/intake; these windows move the
// texts between their controls and them.
#pragma once
#include <functional>
#include <memory>

#include "framework/core/command.h"
#include "framework/qt/dialog.h"
#include "tolbex/intake/intake.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;

namespace tv {
class AuditTrail;
namespace gui {

// Menu ids of the intake commands.
inline constexpr fw::CommandId kCardStoreInArchive = 216, kCardStoreInFolder = 218, kCardSendAsMailCmd = 217,
                               kDiskStoreInArchive = 219, kDiskStoreInFolder = 220, kDiskSendAsMailCmd = 225,
                               kStoreDiskRecordingCmd = 32822, kMailDiskRecordingCmd = 32821,
                               kStoreCardRecordingCmd = 32828, kTapeStoreInArchive = 221, kTapeStoreInFolder = 222,
                               kTapeSendAsMailCmd = 226, kDefaultCompression = 32849, kKeptRecordingsCmd = 32890;

class PatientDetailsDlg : public fw::Dialog {
public:
    // Shows `details` (its compression options included) and, on OK, writes the fields back.
    explicit PatientDetailsDlg(PatientDetails& details, QWidget* parent = nullptr);
    ~PatientDetailsDlg() override;

    QLineEdit* field(const char* label) const;  // by its label text, e.g. "Patient Name:"
    QPlainTextEdit* comments() const { return comments_; }
    QCheckBox* compress_box() const { return compress_; }
    QSlider* slider() const { return slider_; }
    QGroupBox* compression_group() const { return group_; }
    QPushButton* play_button() const { return play_; }

    void on_init_dialog() override;
    void on_ok() override;

private:
    PatientDetails& details_;
    std::vector<std::pair<const char*, QLineEdit*>> edits_;
    QPlainTextEdit* comments_;
    QGroupBox* group_;
    QCheckBox* compress_;
    QSlider* slider_;
    QPushButton* play_;
    bool description_typed_ = false, updating_ = false;
};

class DefaultCompressionDlg : public fw::Dialog {
public:
    explicit DefaultCompressionDlg(QWidget* parent = nullptr);
    QSlider* slider() const { return slider_; }
    void on_init_dialog() override;
    void on_ok() override;

private:
    QSlider* slider_;
};

// The card, disk and tape commands and Options > Default ECG Compression; the intake's windows.
void install_intake_commands(fw::CommandTarget& target, AuditTrail* audit, std::function<QWidget*()> owner);

// For a hidden run: the window toolkit (unless one is up), message boxes as windows and the
// Patient Details and Save dialogs, until the holder is released; null without a display.
std::shared_ptr<void> start_request_windows();
// Makes start_request_windows the intake's window starter.
void offer_request_windows();

// Hands the command line the intake's switches ("/compresscf") and the intake the application's
// store of a received CEF; at start-up, and by install_intake_commands.
void connect_intake_to_application();

}  // namespace gui
}  // namespace tv
