#include "tolbex/app/tolbex_settings.h"

#include "common/files.h"
#include "common/profile.h"
#include "common/registry.h"
#include "platform/fs.h"
#include "platform/paths.h"

namespace tv {

namespace {

// `folder`/`name`, taking an existing entry spelt in another case.
std::string known_file_in(const std::string& folder, const char* name) {
    if (auto found = platform::find_name_ci(folder, name)) return *found;
    return join_path(folder, name);
}

}  // namespace

bool is_switch_on(const std::string& value) {
    return value.size() >= 3 && platform::iequals(std::string_view(value).substr(0, 3), "yes");
}

WorkstationSwitches read_workstation_switches() {
    WorkstationSwitches s;
    s.timi_enabled = is_switch_on(reg_get_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable TIMI Rozaze", ""));
    s.signing_enabled = is_switch_on(reg_get_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable Signing", ""));
    s.logging_enabled = is_switch_on(reg_get_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Enable Logging", ""));
    s.site_switch = is_switch_on(reg_get_string(HKEY_LOCAL_MACHINE, kAnalyserKey, "Tavisol", ""));
    return s;
}

MachinePaths form_machine_paths(bool from_qds) {
    MachinePaths paths;
    std::string folder;
    if (!from_qds) {
        folder = join_path(get_analyser_user_root(), "GUI");
        if (!folder_exists(folder)) create_folder_path(folder);
        paths.device_dat = known_file_in(folder, "DEVICE.DAT");
    } else {
        paths.device_dat = reg_get_string(HKEY_CURRENT_USER, kMainProgramUserKey, "Devices", "");
        folder = get_path_folder(paths.device_dat);
    }
    paths.repname = known_file_in(folder, "REPNAME.TXT");
    paths.patdet = known_file_in(folder, "PATDET.TXT");
    return paths;
}

ProfileSettings read_profile_settings() {
    ProfileSettings s;
    s.external_program.program_name = get_profile_string(kExternalProgramSection, "Program Name", "");
    s.external_program.error_file_name = get_profile_string(kExternalProgramSection, "Error File Name", "");
    s.external_program.visible_window = get_profile_int(kExternalProgramSection, "Visible Window", 0) != 0;
    s.ecg_scaling = get_profile_int(kSettingsSection, "ECG Scaling", 0) != 0;
    s.margins.left = get_profile_int(kSettingsSection, "Left Margin", 0);
    s.margins.right = get_profile_int(kSettingsSection, "Right Margin", 0);
    s.margins.bottom = get_profile_int(kSettingsSection, "Bottom Margin", 0);
    s.margins.top = get_profile_int(kSettingsSection, "Top Margin", 0);
    s.pdf_printer_name = get_profile_string(kPelwinSection, "PDF Printer Name", "Adobe PDF");
    s.pdf_output_folder =
        get_profile_string(kPelwinSection, "PDF Output Folder", join_path(platform::user_dir(), "pdf_output"));
    return s;
}

ReportDocumentMode report_mode_of(const TolbexSettings& settings) {
    ReportDocumentMode mode;
    mode.preview = settings.flags.preview;
    mode.read_only = settings.flags.read_only;
    mode.confirm_cnav = settings.flags.confirm_cnav;
    return mode;
}

PrintSettings print_settings_of(const TolbexSettings& settings) {
    PrintSettings s;
    s.true_scale = settings.profile.ecg_scaling;
    s.margins = settings.profile.margins;
    s.pdf_printer_name = settings.profile.pdf_printer_name;
    s.pdf_output_folder = settings.profile.pdf_output_folder;
    return s;
}

}  // namespace tv
