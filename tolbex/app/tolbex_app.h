// The application object of tolbex: the settings value read at start-up, the little state that
// changes while it runs, the archive configuration, the audit trail and the start-up steps that
// need no window. The windowed steps (main frame, templates, reopening archive groups) live
// with the main window.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tolbex/archive/audit_trail.h"
#include "tolbex/app/tolbex_settings.h"

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

class CTolbexApp {
public:
    // Reads the workstation switches and chooses the user-interface language. The newest
    // instance is the one current() returns.
    CTolbexApp();
    ~CTolbexApp();
    CTolbexApp(const CTolbexApp&) = delete;
    CTolbexApp& operator=(const CTolbexApp&) = delete;

    // For the window layer only: core code is handed what it needs by its caller.
    static CTolbexApp* current();

    // Start-up without windows: command-line expansion and first pass, paths, archive
    // configuration, file types, settings, logging, second pass. False ends the program at once
    // (the exit code then says why).
    // `expanded`: the parameter files were already expanded into `args`.
    bool init_instance_headless(std::vector<std::string> args, bool expanded = false);
    // The exit step: the guarded auto-delete, the event log's end entry; returns the exit code.
    int exit_instance();

    // --- start-up steps, each usable on its own (tests); each fills its part of settings() ---
    // Keeps the argument list (expanding parameter files unless `expanded`) and runs the
    // command line's first pass.
    void read_command_line(std::vector<std::string> args, bool expanded);
    // Forms the DEVICE.DAT, REPNAME.TXT and PATDET.TXT paths (creating <UserRoot>/GUI).
    void form_paths();
    // Loads the archive configuration from the DEVICE.DAT path; false when it did not load whole.
    bool load_archive_configuration();
    // The show state of the pre-scan; a "/preview" there turns preview on.
    void choose_show_state();
    // External program, print scaling and margins, PDF printer.
    void read_settings();
    // TIMI forces signing and logging on; with logging, the event-log source is made. False
    // (with the message shown) when logging cannot run.
    bool start_logging();
    // The clinic-code warning: a message when the main window is visible, stderr otherwise.
    void warn_when_no_clinic_code(bool window_visible);

    const TolbexSettings& settings() const { return settings_; }
    // Replaces the whole value: a start-up step's result, or the value a test starts from.
    void set_settings(TolbexSettings settings) { settings_ = std::move(settings); }

    bool is_browse_enabled() const { return settings_.flags.browse; }
    bool is_from_gui() const { return settings_.flags.from_gui; }
    bool is_from_qds() const { return settings_.flags.from_qds; }
    bool is_timi_enabled() const { return settings_.switches.timi_enabled; }
    bool is_signing_enabled() const { return settings_.switches.signing_enabled; }
    bool is_logging_enabled() const { return settings_.switches.logging_enabled; }
    bool is_preview() const { return settings_.flags.preview; }
    bool is_read_only() const { return settings_.flags.read_only; }
    bool is_confirm_cnav() const { return settings_.flags.confirm_cnav; }
    const PrintMargins& get_print_margins() const { return settings_.profile.margins; }
    const ExternalProgramSettings& get_external_program() const { return settings_.profile.external_program; }
    bool is_any_archive_configured() const;

    // --- state that changes while the program runs ---
    int exit_code() const { return exit_code_; }
    void set_exit_code(int code) { exit_code_ = code; }
    // The show state the command line chose.
    int show_state() const { return show_state_; }
    // The dispatcher stopped at this token (a switch short of operands); -1 when it did not.
    int command_line_stop() const { return command_line_stop_; }
    void set_command_line_stop(int token) { command_line_stop_ = token; }
    // The duplicate limit of the print running now; 0 outside one.
    int print_duplicate_limit() const { return print_duplicate_limit_; }
    void set_print_duplicate_limit(int limit) { print_duplicate_limit_ = limit; }
    // The folder "/autodelete" removes on exit ("/load" names it).
    const std::string& auto_delete_folder() const { return auto_delete_folder_; }
    void set_auto_delete_folder(std::string folder) { auto_delete_folder_ = std::move(folder); }
    // The argument list after parameter-file expansion.
    const std::vector<std::string>& args() const { return args_; }

    // --- paths ---
    const std::string& repname_path() const { return settings_.paths.repname; }
    const std::string& patdet_path() const { return settings_.paths.patdet; }
    const std::string& device_dat_path() const { return settings_.paths.device_dat; }
    ArchiveConfigList& archive_config() { return *archive_config_; }

    // --- settings in the profile, read on each call ---
    static std::string get_export_folder();
    static bool set_export_folder(const std::string& folder);
    static bool is_merivale_pdf_enabled();
    // The orientation of the application's printer for the jobs that follow (every window's, as
    // the default printer's settings are shared); the window that prints sets it before each job.
    static void set_printer_orientation(bool landscape);

    // The audit trail: with TIMI and logging off every step does nothing and succeeds.
    AuditTrail& audit() { return audit_trail_; }
    bool is_audit_on() const { return settings_.switches.timi_enabled || settings_.switches.logging_enabled; }

    // The analysis system's revision from <SystemRoot>/system/version.txt; 0 when unknown.
    static double get_analyser_revision();

private:
    TolbexSettings settings_;
    int exit_code_ = 0;
    int show_state_ = kShowNormal;
    int command_line_stop_ = -1;
    int print_duplicate_limit_ = 0;
    std::string auto_delete_folder_;
    std::vector<std::string> args_;
    std::unique_ptr<ArchiveConfigList> archive_config_;
    std::unique_ptr<EventLogSource> event_source_;
    AuditLogTrail audit_trail_{kAppName, [this] { return is_audit_on(); }};
};

// Whether the exit step may delete `folder` with everything in it: an existing folder that is
// not a file-system root, holds no archive or group index and is no configured group.
bool is_safe_auto_delete_folder(const std::string& folder, const ArchiveConfigList* config);

// Send to External Program is live only while a handler is registered and the application's
// external program has a name; the name is read on each call, so the settings dialog takes effect
// at once.
bool can_send_to_external_program();

}  // namespace tv
