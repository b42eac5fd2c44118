#include "tolbex/app/options_settings.h"

#include <filesystem>
#include <system_error>

#include "common/files.h"
#include "common/profile.h"
#include "common/runner.h"
#include "common/text.h"
#include "common/version_info.h"
#include "platform/process.h"

namespace tv {

namespace {

constexpr const char* kLetterSection = "Letter Options";

}  // namespace

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
    const char* entry = cef ? "CEF Store" : "Export Folder";
    const std::string chosen =
        pick(cef ? kCefStoreFolderCaption : kExportFolderCaption, get_profile_string(kSettingsSection, entry, ""));
    if (chosen.empty()) return false;
    return write_profile_string(kSettingsSection, entry, chosen);
}

// --- letters ---

LetterOptions read_letter_options() {
    LetterOptions o;
    o.template_name = get_profile_string(kLetterSection, "Template Name", "");
    o.letter_name = get_profile_string(kLetterSection, "Letter Name", "");
    o.letter_folder = get_profile_string(kLetterSection, "Letter Folder", get_temp_folder());
    o.prompt_for_template = get_profile_int(kLetterSection, "Prompt for Template?", 1) != 0;
    o.fixed_letter_name = get_profile_int(kLetterSection, "Fixed Letter Name?", 0) != 0;
    o.save_with_report = get_profile_int(kLetterSection, "Save With Report?", 1) != 0;
    return o;
}

bool write_letter_options(const LetterOptions& o) {
    return write_profile_string(kLetterSection, "Template Name", o.template_name) &&
           write_profile_string(kLetterSection, "Letter Name", o.letter_name) &&
           write_profile_string(kLetterSection, "Letter Folder", o.letter_folder) &&
           write_profile_int(kLetterSection, "Prompt for Template?", o.prompt_for_template ? 1 : 0) &&
           write_profile_int(kLetterSection, "Fixed Letter Name?", o.fixed_letter_name ? 1 : 0) &&
           write_profile_int(kLetterSection, "Save With Report?", o.save_with_report ? 1 : 0);
}

bool is_valid_letter_folder(const std::string& folder) { return folder.size() >= 2 && folder[0] == '/'; }

bool LetterOptionsRules::ok(const LetterOptions& o, Ui& u) {
    auto refuse = [&](Field field, const char* text) {
        failed_ = field;
        u.message_box(text, "Invalid Data", MsgIcon::Error, MsgButtons::Ok);
        return false;
    };
    failed_ = kNone;
    if (!o.template_name.empty() && !file_exists(o.template_name))
        return refuse(kTemplate, "The letter template document does not exist.");
    // An empty fixed name would save every letter as a hidden ".doc" that nothing lists.
    if (o.fixed_letter_name && (o.letter_name.empty() || !is_valid_file_name(o.letter_name)))
        return refuse(kLetterName,
                      "The fixed letter name is not valid.\n\nA file name may not contain any of the following "
                      "characters:  \\ / : * ? < > | \"");
    if (!o.save_with_report) {
        if (o.letter_folder.empty()) return refuse(kFolder, "Please specify a non-blank output folder.");
        if (!is_valid_letter_folder(o.letter_folder))
            return refuse(kFolder,
                          "The output folder must begin with a drive letter followed by a colon (:),\nor it must "
                          "be a UNC path that begins with \"\\\\\".");
        if (!folder_exists(o.letter_folder)) {
            if (u.message_box("The output folder that you specified does not exist.\n\nWould you like to create it?",
                              "Create Output Folder?", MsgIcon::Question, MsgButtons::OkCancel) != MsgResult::Ok) {
                failed_ = kFolder;
                return false;
            }
            std::error_code ec;
            std::filesystem::create_directories(o.letter_folder, ec);
            if (!folder_exists(o.letter_folder))
                return refuse(kFolder,
                              "The output folder could not be created.\n\nPlease check that the folder name is "
                              "correct,\nand that you have write-access to the device on which it would have been "
                              "created.");
        }
    }
    if (!write_letter_options(o)) {
        failed_ = kNone;
        return false;
    }
    return true;
}

// --- about ---

std::string about_version_text() {
    std::string version = FileVersionInfo().get_product_version();
    if (version.empty()) version = built_product_version();
    return "Calvera Version " + version;
}

}  // namespace tv
