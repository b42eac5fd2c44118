#include "tolbex/app/options_settings.h"

#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/runner.h"
#include "common/text.h"
#include "common/version_info.h"
#include "platform/process.h"

namespace tv {

// --- print scaling ---

PrintScalingValues print_scaling_of(const ProfileSettings& profile) {
    PrintScalingValues v;
    v.ecg_scaling = profile.ecg_scaling;
    v.left = profile.margins.left / 1000;
    v.right = profile.margins.right / 1000;
    v.bottom = profile.margins.bottom / 1000;
    v.top = profile.margins.top / 1000;
    return v;
}

bool store_print_scaling(const PrintScalingValues& v, ProfileSettings& profile) {
    const struct {
        const char* entry;
        int mm;
        int* held;
    } margins[] = {{"Left Margin", v.left, &profile.margins.left},
                   {"Right Margin", v.right, &profile.margins.right},
                   {"Bottom Margin", v.bottom, &profile.margins.bottom},
                   {"Top Margin", v.top, &profile.margins.top}};
    if (!write_profile_int(kSettingsSection, "ECG Scaling", v.ecg_scaling ? 1 : 0)) return false;
    profile.ecg_scaling = v.ecg_scaling;
    for (const auto& m : margins) {
        if (!write_profile_int(kSettingsSection, m.entry, m.mm * 1000)) return false;
        *m.held = m.mm * 1000;
    }
    return true;
}

// --- mail ---

MailSettings read_mail_settings() {
    MailSettings s;
    s.default_address = get_profile_string(kEmailSection, "Default Address", "");
    const int kb = get_profile_int(kEmailSection, "Size Warning Threshold", kDefaultSizeWarningKb);
    s.size_warning_kb = kb < 0 || kb > kMaxSizeWarningKb ? kDefaultSizeWarningKb : kb;
    return s;
}

bool write_mail_settings(const MailSettings& s) {
    return write_profile_string(kEmailSection, "Default Address", s.default_address) &&
           write_profile_int(kEmailSection, "Size Warning Threshold", s.size_warning_kb);
}

// --- external program ---

bool write_external_program_settings(const ExternalProgramSettings& s) {
    return write_profile_string(kExternalProgramSection, "Program Name", s.program_name) &&
           write_profile_string(kExternalProgramSection, "Error File Name", s.error_file_name) &&
           write_profile_int(kExternalProgramSection, "Visible Window", s.visible_window ? 1 : 0);
}

bool external_program_ok(const std::string& program_name, Ui& u) {
    if (program_name.empty()) return true;
    const std::vector<std::string> words = split_program_name(program_name);
    if (!words.empty() && !words[0].empty() && !platform::resolve_program(words[0]).empty()) return true;
    const std::string question =
        "The external program\n\"" + program_name + "\"\ncannot be found.\n\nDo you want to continue?";
    return u.message_box(question, "", MsgIcon::Question, MsgButtons::YesNo) == MsgResult::Yes;
}

// --- default folders ---

bool choose_default_folder(DefaultFolder which, const FolderPicker& pick) {
    const bool cef = which == DefaultFolder::CefStore;
    const char* entry = cef ? kCefStoreValue : "Export Folder";
    const std::string chosen =
        pick(cef ? kCefStoreFolderCaption : kExportFolderCaption, get_profile_string(kSettingsSection, entry, ""));
    if (chosen.empty()) return false;
    return write_profile_string(kSettingsSection, entry, chosen);
}

// --- about ---

std::string about_version_text() {
    std::string version = FileVersionInfo().get_product_version();
    if (version.empty()) version = built_product_version();
    return "Calvera Version " + version;
}

}  // namespace tv
