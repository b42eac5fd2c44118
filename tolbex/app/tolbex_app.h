// The application object of tolbex: workstation switches, settings, the machine paths it
// works with, the archive configuration, the audit-log entry points and the start-up steps that
// need no window. The windowed steps (main frame, templates, reopening archive groups) live
// with the main window.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tolbex/archive/audit_trail.h"
#include "tolbex/reports/print_settings.h"

namespace tv {

class ArchiveConfigList;
class EventLogSource;

// Show states chosen by the command line.
inline constexpr int kShowHidden = 0;
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMaximized = 3;

// Names the application goes by in the registry, the event log and the audit log.
inline constexpr const char* kAppName = "Calvera";
inline constexpr const char* kEventSourceName = "Brisco Torvane Medical Calvera";
inline constexpr int kEventStart = 1;
inline constexpr int kEventEnd = 3;

inline constexpr const char* kNoEventLogFileMessage =
    "Calvera cannot run, because the event log descriptor file cannot be found.";
inline constexpr const char* kWrongParameterCountMessage = "Wrong number of command line parameters.";

// Profile sections and entries of the application's settings.
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kExternalProgramSection = "External Program";
inline constexpr const char* kEmailSection = "eMail";
inline constexpr const char* kPelwinSection = "Pelwin";
inline constexpr const char* kArchivesSection = "Archives";

struct ExternalProgramSettings {
    std::string error_file_name;
    std::string program_name;
    bool visible_window = false;
};


// A workstation switch is on when its value begins with "yes" in any case.
bool is_switch_on(const std::string& value);

class CTolbexApp {
public:
    // Reads the workstation switches and chooses the user-interface language. The newest
    // instance is the one current() returns.
    CTolbexApp();
    ~CTolbexApp();
    CTolbexApp(const CTolbexApp&) = delete;
    CTolbexApp& operator=(const CTolbexApp&) = delete;

    static CTolbexApp* current();

    // Start-up without windows: command-line expansion and first pass, paths, archive
    // configuration, file types, settings, logging, second pass. False ends the program at once
    // (the exit code then says why).
    // `expanded`: the parameter files were already expanded into `args`.
    bool init_instance_headless(std::vector<std::string> args, bool expanded = false);
    // The exit step: the guarded auto-delete, the event log's end entry; returns the exit code.
    int exit_instance();

    // --- start-up steps, each usable on its own (tests) ---
    void read_workstation_switches();
    // Forms the DEVICE.DAT, REPNAME.TXT and PATDET.TXT paths (creating <UserRoot>/GUI).
    void form_paths();
    // Loads the archive configuration from the DEVICE.DAT path; false when it did not load whole.
    bool load_archive_configuration();
    // External program, print scaling and margins, PDF printer.
    void read_settings();
    // TIMI forces signing and logging on; with logging, the event-log source and the audit log
    // are made. False (with the message shown) when logging cannot run.
    bool start_logging();
    // The clinic-code warning: a message when the main window is visible, stderr otherwise.
    void warn_when_no_clinic_code(bool window_visible);

    // --- flags ---
    bool ecg_scaling = false;
    bool choose_report = false;
    bool choose_ecg = false;
    bool preview = false;
    bool browse = true;
    bool from_gui = false;
    bool from_noske = false;
    bool from_qds = false;
    bool timi_enabled = false;
    bool signing_enabled = false;
    bool logging_enabled = false;
    bool site_switch = false;
    bool confirm_cnav = false;
    bool read_only = false;
    bool merivale = false;
    bool auto_delete = false;
    int print_duplicate_limit = 0;
    int exit_code = 0;
    std::string auto_delete_folder;
    PrintMargins margins;
    ExternalProgramSettings external_program;
    bool started_without_arguments = false;
    std::string merivale_texts[6];
    int merivale_number = 0;
    std::string pdf_printer_name;
    std::string pdf_output_folder;
    // The show state the command line chose.
    int show_state = kShowNormal;
    // The dispatcher stopped at this token (a switch short of operands); -1 when it did not.
    int command_line_stop = -1;

    // The argument list after parameter-file expansion.
    std::vector<std::string> args;

    bool is_browse_enabled() const { return browse; }
    bool is_from_gui() const { return from_gui; }
    bool is_from_qds() const { return from_qds; }
    bool is_timi_enabled() const { return timi_enabled; }
    bool is_signing_enabled() const { return signing_enabled; }
    bool is_logging_enabled() const { return logging_enabled; }
    bool is_preview() const { return preview; }
    bool is_read_only() const { return read_only; }
    bool is_confirm_cnav() const { return confirm_cnav; }
    const PrintMargins& get_print_margins() const { return margins; }
    const ExternalProgramSettings& get_external_program() const { return external_program; }
    bool is_any_archive_configured() const;

    // --- paths ---
    const std::string& repname_path() const { return repname_path_; }
    const std::string& patdet_path() const { return patdet_path_; }
    const std::string& device_dat_path() const { return device_dat_path_; }
    ArchiveConfigList& archive_config() { return *archive_config_; }

    // --- settings in the profile, read on each call ---
    static int get_cef_bitred(bool mail);
    static bool set_cef_bitred(bool mail, int value);
    static bool get_cef_want_comp();
    static bool set_cef_want_comp(bool value);
    static std::string get_cef_store_folder();
    static bool set_cef_store_folder(const std::string& folder);
    static std::string get_export_folder();
    static bool set_export_folder(const std::string& folder);
    static bool is_merivale_pdf_enabled();

    // --- audit entry points: with TIMI and logging off they do nothing and succeed ---
    // The trail that core code is handed.
    AuditTrail& audit() { return audit_trail_; }
    bool open_audit_log(const std::string& path);
    bool write_audit_log(const char* format, const std::string& text1, const std::string& text2,
                         const std::string& text3);
    void close_audit_log();
    bool is_audit_on() const { return timi_enabled || logging_enabled; }

    // The analysis system's revision from <SystemRoot>/system/version.txt; 0 when unknown.
    static double get_analyser_revision();
    // A report folder's VERSION.TXT number ("V8.006" gives 8.006); 0 when missing.
    static double read_report_version(const std::string& report_folder);

private:
    std::string repname_path_, patdet_path_, device_dat_path_;
    std::unique_ptr<ArchiveConfigList> archive_config_;
    std::unique_ptr<EventLogSource> event_source_;
    AuditLogTrail audit_trail_{kAppName, [this] { return is_audit_on(); }};
};

// Whether the exit step may delete `folder` with everything in it: an existing folder that is
// not a file-system root, holds no archive or group index and is no configured group.
bool is_safe_auto_delete_folder(const std::string& folder, const ArchiveConfigList* config);

}  // namespace tv
