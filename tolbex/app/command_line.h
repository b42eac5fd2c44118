// tolbex's command line: parameter files, the show-state pre-scan and the two-pass dispatcher.
// The actions it runs are in tolbex/app/actions; their exit codes are in tolbex/exit_codes.h.
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
// short of its operands shows the wrong-count message (first pass), sets kCommandLineRefused and
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
