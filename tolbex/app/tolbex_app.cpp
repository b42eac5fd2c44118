#include "tolbex/app/tolbex_app.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/profile.h"
#include "common/registry.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "framework/core/page_source.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "tolbex/exit_codes.h"
#include "tolbex/archive/archive_config.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/app/cef_import.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/app/command_line.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/app/tolbex_strings.h"

namespace tv {

namespace {

CTolbexApp* g_current = nullptr;

}  // namespace

CTolbexApp::CTolbexApp() : archive_config_(std::make_unique<ArchiveConfigList>()) {
    select_ui_language(kAppName);
    // A compressed ECG file given to the store routine as a file is unpacked beside its copy.
    set_cef_unpacker(
        [](const std::string& cef, const std::string& folder) { return unpack_cef_file(cef, folder) == 0; });
    settings_.switches = read_workstation_switches();
    g_current = this;
}

CTolbexApp::~CTolbexApp() {
    if (g_current == this) g_current = nullptr;
}

CTolbexApp* CTolbexApp::current() { return g_current; }

bool CTolbexApp::init_instance_headless(std::vector<std::string> arguments, bool expanded) {
    read_command_line(std::move(arguments), expanded);
    form_paths();
    load_archive_configuration();
    register_report_file_types();
    choose_show_state();
    read_settings();
    if (!start_logging()) {
        if (exit_code_ == kCommandLineDone) exit_code_ = kCommandLineRefused;
        return false;
    }
    dispatch_command_line(*this, args_, false);
    warn_when_no_clinic_code(false);
    return true;
}

int CTolbexApp::exit_instance() {
    if (settings_.flags.auto_delete && !auto_delete_folder_.empty()) {
        if (is_safe_auto_delete_folder(auto_delete_folder_, archive_config_.get())) {
            delete_folder_tree(auto_delete_folder_, true, false);
        } else {
            std::fprintf(stderr, "Not deleted, because it is not a plain report folder: %s\n",
                         auto_delete_folder_.c_str());
        }
    }
    if (settings_.switches.logging_enabled && settings_.flags.started_without_arguments && event_source_)
        event_source_->report_event(kEventEnd);
    return exit_code_;
}

void CTolbexApp::read_command_line(std::vector<std::string> arguments, bool expanded) {
    args_ = std::move(arguments);
    if (!expanded) expand_parameter_files(args_);
    dispatch_command_line(*this, args_, true);
}

void CTolbexApp::form_paths() { settings_.paths = form_machine_paths(settings_.flags.from_qds); }

bool CTolbexApp::load_archive_configuration() { return archive_config_->load(settings_.paths.device_dat); }

void CTolbexApp::choose_show_state() {
    bool wants_preview = false;
    show_state_ = prescan_show_state(args_, wants_preview);
    if (wants_preview) settings_.flags.preview = true;
}

bool CTolbexApp::is_any_archive_configured() const { return archive_config_->get_count() > 0; }

void CTolbexApp::read_settings() { settings_.profile = read_profile_settings(); }

bool CTolbexApp::start_logging() {
    WorkstationSwitches& switches = settings_.switches;
    if (switches.timi_enabled) {
        switches.signing_enabled = true;
        switches.logging_enabled = true;
    }
    if (!switches.logging_enabled) return true;
    const std::string message_file = get_log_dll_path();
    if (message_file.empty()) {
        show_error(kNoEventLogFileMessage);
        return false;
    }
    if (settings_.flags.started_without_arguments) {
        event_source_ = std::make_unique<EventLogSource>(kEventSourceName, message_file);
        event_source_->report_event(kEventStart);
    }
    return true;
}

void CTolbexApp::warn_when_no_clinic_code(bool window_visible) {
    if (!get_default_clinic_code().empty()) return;
    const std::string text = load_resource_string(kStrClinicCodeNotSet);
    // A hidden run has nobody to click the message away: it only leaves a line on stderr.
    if (window_visible)
        ui().message_box(text, "", MsgIcon::Warning, MsgButtons::Ok);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

// --- settings ---

std::string CTolbexApp::get_export_folder() { return get_profile_string(kSettingsSection, "Export Folder", ""); }
bool CTolbexApp::set_export_folder(const std::string& f) {
    return write_profile_string(kSettingsSection, "Export Folder", f);
}

bool CTolbexApp::is_merivale_pdf_enabled() {
    return platform::iequals(get_profile_string(kPelwinSection, "Enable Merivale PDF", "no"), "yes");
}

void CTolbexApp::set_printer_orientation(bool landscape) {
    fw::print_setup().orientation = landscape ? fw::PageOrientation::Landscape : fw::PageOrientation::Portrait;
}

// --- versions ---

double CTolbexApp::get_analyser_revision() {
    const std::string path = platform::resolve_path_ci(join_path(get_analyser_system_root(), "system/version.txt"));
    std::string name;
    platform::UniqueFile f = folder_of_file(path, name).open_stream(name, ReportFileKind::Text);
    if (!f) return 0.0;
    static constexpr std::string_view kMarker = "current.software.revision IS \"V";
    double revision = 0.0;
    std::string line;
    while (read_text_line(f.get(), line)) {
        const auto at = line.find(kMarker);
        if (at == std::string::npos) continue;
        // From the letter V on: read as a VERSION.TXT line is, with '.' as the point under every locale.
        std::string number = line.substr(at + kMarker.size() - 1);
        const auto quote = number.find('"');
        if (quote != std::string::npos) number.resize(quote);
        revision = parse_version_text(number);
        break;
    }
    return revision;
}

// --- auto-delete guard ---

bool is_safe_auto_delete_folder(const std::string& folder, const ArchiveConfigList* config) {
    if (folder.empty() || !folder_exists(folder)) return false;
    char* real = ::realpath(folder.c_str(), nullptr);
    if (!real) return false;
    const std::string resolved = real;
    std::free(real);
    if (resolved == "/") return false;
    // A mount point is the root of its file system.
    const EntryState self = probe_entry(resolved), parent = probe_entry(get_path_folder(resolved));
    if (self.kind != EntryKind::Folder || parent.kind != EntryKind::Folder || self.device != parent.device)
        return false;
    if (platform::find_name_ci(resolved, kArchiveIndexName) || platform::find_name_ci(resolved, kGroupIndexName))
        return false;
    if (config && (config->contains(folder) || config->contains(resolved))) return false;
    return true;
}

bool can_send_to_external_program() {
    const CTolbexApp* app = CTolbexApp::current();
    return has_external_program_handler() && app && !app->get_external_program().program_name.empty();
}

}  // namespace tv
