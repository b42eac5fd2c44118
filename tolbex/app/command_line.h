// tolbex's command line: parameter files, the show-state pre-scan and the two-pass dispatcher.
// The actions it runs are in tolbex/app/actions.
//
// Exit codes (the process exit status is 8 bits wide on Linux):
//   /store, /storefolder   0..10, the store-result codes of the store-result log
//   /uncompress            0 done, 1 no destination folder, 2 the file cannot be opened, 3 not a
//                          valid compressed ECG file, 4 a file could not be written, 5 the
//                          compressor is missing or failed (a hidden run answers its Retry/Cancel
//                          question with Cancel), or a channel could not be restored
//   /export                0 exported, 1 no report there, 2 not in the archive's index,
//                          3 packing (or the audit log) failed, 4 format other than TVZ
//   /find                  the number of reports found, capped at 251; errors -1..-4 leave the
//                          process as 255..252
//   /delete_os12_ecg       0 done, 1 not an existing ".O12" folder, 2 an ECG file could not be
//                          moved aside (nothing changed) or removed at the end, 3 the folder could
//                          not be renamed, 4 the archive's index could not be changed (in use, or
//                          not written): nothing changed, 5 the archive's lock file cannot be
//                          opened for writing by this account, 6 the archive is read-only, 7 the
//                          report folder cannot be read by this account (nothing changed)
//   /store, /storefolder   also 11 the archive in use, 12 its lock file not writable by this
//                          account, 13 the archive read-only
//   /compresscf            0 written, 1 profile file unreadable, 2 level not 0, 2, 3 or 4, 3 no
//                          PatientId, 4 no PatientName, 5 no recording folder, 7 the card's
//                          patient name differs, 8 its patient ID differs, 9 PATSUMM.DAT not
//                          valid, 10 pre-compression failed, 11 writing failed, 12 no usable
//                          RecordingID, 13 the analysis system runs, 14 no work folder, 15 the
//                          recording could not be copied, 16 no channel-1 file, 17 cancelled in
//                          Patient Details (no "y") or in the Save dialog (twelve-lead), 18 no
//                          display to show those dialogs on
//   /convert               0 exported, 1 the report could not be opened or a file not written;
//                          for pictures also no page, or the metafile list or a metafile
//                          unreadable (nothing written then)
//   /print, /printto       0 printed, 1 the report could not be opened, has no page, its metafile
//                          list or a metafile is unreadable (nothing printed), the audit log not
//                          opened or printing failed
//   a switch short of operands, an action this build does not offer, a start that needs the
//   main window, a refused start-up, a "/mail" file that a run without windows cannot take: 1
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

class CTolbexApp;
struct CommandLineFlags;

struct CommandSwitch {
    const char* name;
    int operands;
    int show;            // kShowHidden / kShowNormal / kShowMaximized, or -1: unchanged
    bool action;         // counts as a command-line action (clears browse, ends the program)
    bool clears_browse;  // turns browsing off
    bool prescanned;     // listed in the show-state pre-scan's table
};

// Appends the tokens of every parameter file named after a "/paramfile" among the original
// arguments; tokens that a parameter file adds are not searched again. Only a plain file of at
// most 1 MB is read (never a link, a FIFO or a device).
void expand_parameter_files(std::vector<std::string>& args);

// The last state-naming switch wins; starts at normal. "/preview" also sets `preview`.
int prescan_show_state(const std::vector<std::string>& args, bool& preview);

// Whether the arguments hold an action switch (walking them as the dispatcher does).
bool has_command_line_action(const std::vector<std::string>& args);

// The first pass on its own: sets `flags` from the switches; returns the token where a switch
// is short of operands (after showing the wrong-count message), -1 when none is.
int read_command_line_flags(const std::vector<std::string>& args, CommandLineFlags& flags);

// Walks the arguments: the first pass sets flags only, the second runs the effects. A switch
// short of its operands shows the wrong-count message (first pass), sets the exit code to 1 and
// stops the first pass there; the second pass then runs nothing. True when no action ran.
bool dispatch_command_line(CTolbexApp& app, const std::vector<std::string>& args, bool first_pass);

// "/compresscf" lives with the recording intake, above this layer: the intake hands its action in
// (the switch's operands, "y" looked at only when given). Without one the switch is refused.
using CompressCfAction = std::function<int(const std::vector<std::string>& operands)>;
void set_compress_cf_action(CompressCfAction action);
// "/merivale" runs the card intake into the customer's archive once the window is up; the intake
// hands that in too (the seven operands).
void set_merivale_action(CompressCfAction action);

}  // namespace tv
