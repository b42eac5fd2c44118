// The Options commands' settings: what each dialog shows when it opens and what its OK writes
// back to the profile. The windows only move values between their controls and these functions,
// so every rule here is driven by tests without a window. Every write reports failure by its
// result; a failed write leaves the entries written before it in place.
#pragma once
#include <functional>
#include <string>

#include "common/ui.h"
#include "tolbex/app/tolbex_settings.h"

namespace tv {

// --- print scaling: margins kept in micrometres, edited in whole millimetres ---
inline constexpr int kMaxMarginMm = 200;

struct PrintScalingValues {
    bool ecg_scaling = false;
    int left = 0, right = 0, bottom = 0, top = 0;  // millimetres
    bool operator==(const PrintScalingValues&) const = default;
};

// Stored micrometres divided by 1000 (integer division).
PrintScalingValues print_scaling_of(const ProfileSettings& profile);
// Writes "Settings" "ECG Scaling" and the four margins (millimetres x 1000) and updates `profile`
// to match what was written; false at the first failed write.
bool store_print_scaling(const PrintScalingValues& values, ProfileSettings& profile);

// --- mail: section "eMail" ---
inline constexpr int kDefaultSizeWarningKb = 8192;
inline constexpr int kMaxSizeWarningKb = 65535;

struct MailSettings {
    std::string default_address;
    int size_warning_kb = kDefaultSizeWarningKb;  // 0: no warning
    bool operator==(const MailSettings&) const = default;
};

// A stored threshold outside 0..65535 reads as the default.
MailSettings read_mail_settings();
bool write_mail_settings(const MailSettings& settings);

// --- external program: section "External Program" ---
bool write_external_program_settings(const ExternalProgramSettings& settings);
// The dialog's OK: an empty name, or one whose program (the command line's first word) is an
// executable file, given by path or found along PATH, is taken; otherwise the user is asked
// (Yes/No) whether to keep it anyway.
bool external_program_ok(const std::string& program_name, Ui& u);

// --- default folders: "Settings" "CEF Store" and "Export Folder" ---
enum class DefaultFolder { CefStore, Export };
inline constexpr const char* kCefStoreFolderCaption = "Select default folder for storing CEF files:";
inline constexpr const char* kExportFolderCaption = "Select the default folder for exported reports:";

// (caption, current folder) -> the chosen folder, "" when cancelled.
using FolderPicker = std::function<std::string(const std::string& caption, const std::string& initial)>;
// Offers the stored folder; a non-empty choice is written. False when cancelled or not written.
bool choose_default_folder(DefaultFolder which, const FolderPicker& pick);

// --- Help > About ---
// "Calvera Version <product version>": the running program's version block, or, when it carries
// none, the version this build embeds.
std::string about_version_text();

}  // namespace tv
