// What tolbex reads once at start-up: the workstation switches, the command line's flags, the
// machine paths and the profile's settings. The application holds one value and hands it out by
// const reference; each start-up step below fills its part. What changes while the program runs
// (exit code, show state ...) is state of the application, not part of this value.
#pragma once
#include <string>

#include "common/profile_names.h"
#include "tolbex/reports/print_settings.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/transfer/report_handover.h"

namespace tv {

// The analyser key's switches. Once logging starts, TIMI has forced signing and logging on.
struct WorkstationSwitches {
    bool timi_enabled = false;
    bool signing_enabled = false;
    bool logging_enabled = false;
    bool site_switch = false;
};

// What the command line's first pass sets.
struct CommandLineFlags {
    bool preview = false;
    bool browse = true;
    bool from_gui = false;
    bool from_noske = false;
    bool from_qds = false;
    bool choose_report = false;
    bool choose_ecg = false;
    bool confirm_cnav = false;
    bool read_only = false;
    bool auto_delete = false;
    bool merivale = false;
    std::string merivale_texts[6];
    int merivale_number = 0;
    bool started_without_arguments = false;
};

// The machine's configuration files; each names an existing entry in whatever case it is spelt.
struct MachinePaths {
    std::string device_dat;
    std::string repname;
    std::string patdet;
};

struct ProfileSettings {
    bool ecg_scaling = false;
    PrintMargins margins;
    ExternalProgramSettings external_program;
    std::string pdf_printer_name;
    std::string pdf_output_folder;
};

struct TolbexSettings {
    WorkstationSwitches switches;
    CommandLineFlags flags;
    MachinePaths paths;
    ProfileSettings profile;
};

// A workstation switch is on when its value begins with "yes" in any case.
bool is_switch_on(const std::string& value);

// --- start-up steps ---
WorkstationSwitches read_workstation_switches();
// Beside <UserRoot>/GUI (made when missing), or, started from QDS, beside the Devices file the
// main program's user key names.
MachinePaths form_machine_paths(bool from_qds);
// External program, print scaling and margins, PDF printer.
ProfileSettings read_profile_settings();

// What a report document and its printing take from the settings.
ReportDocumentMode report_mode_of(const TolbexSettings& settings);
PrintSettings print_settings_of(const TolbexSettings& settings);

}  // namespace tv
