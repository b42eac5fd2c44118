#include "tolbex/app/command_line.h"

#include <cstdlib>
#include <utility>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_app.h"

namespace tv {

namespace {

constexpr int H = kShowHidden, M = kShowMaximized, U = -1;

struct SwitchRow {
    CommandSwitch info;
    int required;  // operands that must follow; the rest of info.operands are optional
};

// Optional trailing operands are never read; they are taken only when they are not a switch.
const SwitchRow kSwitches[] = {
    {{"/convert", 3, H, true, true, true}, 3},
    {{"/load", 1, U, false, false, true}, 1},
    {{"/preview", 1, M, false, true, true}, 1},
    {{"/print", 6, H, true, true, true}, 6},
    {{"/printto", 7, H, true, true, true}, 7},
    {{"/from_gui", 0, M, false, false, true}, 0},
    {{"/from_noske", 0, M, false, false, true}, 0},
    {{"/from_QDS", 0, M, false, false, true}, 0},
    {{"/disable_browse", 0, U, false, true, true}, 0},
    {{"/choose_report", 0, M, false, false, true}, 0},
    {{"/choose_ecg", 0, M, false, false, true}, 0},
    {{"/mail", 1, U, false, false, true}, 1},
    {{"/paramfile", 1, U, false, false, true}, 1},
    {{"/uncompress", 2, H, true, true, true}, 2},
    {{"/store", 3, H, true, true, true}, 3},
    {{"/storefolder", 4, H, true, true, true}, 4},
    {{"/compresscf", 4, H, true, true, true}, 3},
    {{"/export", 4, H, true, true, true}, 3},
    {{"/find", 5, H, true, true, true}, 4},
    {{"/delete_os12_ecg", 2, H, true, true, true}, 1},
    {{"/enable_confirm_cnav", 0, U, false, false, true}, 0},
    {{"/readonly", 0, U, false, false, true}, 0},
    {{"/autodelete", 0, U, false, false, false}, 0},
    {{"/merivale", 7, U, false, false, false}, 7},
};

// "/merivale" is valid only as the whole command line: the switch and its seven operands.
constexpr std::size_t kMerivaleTokens = 8;

const SwitchRow* find_row(std::string_view token) {
    for (const auto& row : kSwitches)
        if (platform::iequals(token, row.info.name)) return &row;
    return nullptr;
}

// Tokens the switch at `i` takes with it (operands only); -1 when it is short of operands.
int operand_span(const std::vector<std::string>& args, std::size_t i, const SwitchRow& row) {
    const std::size_t available = args.size() - i - 1;
    if (platform::iequals(row.info.name, "/merivale")) {
        if (args.size() != kMerivaleTokens) return -1;
        return row.info.operands;
    }
    if (available < static_cast<std::size_t>(row.required)) return -1;
    int span = row.required;
    while (span < row.info.operands && static_cast<std::size_t>(span) < available &&
           !find_row(args[i + 1 + static_cast<std::size_t>(span)]))
        ++span;
    return span;
}

// Which switch was short and what it takes, so that a caller can mend the line from the message.
std::string operand_count_text(const SwitchRow& row) {
    const char* name = row.info.name;
    if (platform::iequals(name, "/merivale"))
        return format_string(" \"%s\" takes %d operands and nothing else on the line.", name, row.required);
    if (row.required == row.info.operands)
        return format_string(" \"%s\" takes %d operand%s.", name, row.required, row.required == 1 ? "" : "s");
    return format_string(" \"%s\" takes %d to %d operands.", name, row.required, row.info.operands);
}

bool is_switch(const SwitchRow& row, const char* name) { return platform::iequals(row.info.name, name); }

// A number operand as the index readers take one: the leading integer, 0 without digits.
int operand_number(const std::string& text) { return static_cast<int>(parse_integer(text).value); }

CompressCfAction& compress_cf_action() {
    static CompressCfAction action;
    return action;
}

CompressCfAction& merivale_action() {
    static CompressCfAction action;
    return action;
}

int not_in_this_build(const char* name) {
    ui().message_box(format_string("The command-line option \"%s\" is not available in this build.", name), "",
                     MsgIcon::Error, MsgButtons::Ok);
    return kCommandLineRefused;
}

// An option that asks the user something, in a run that has no window to ask in.
int needs_a_window(const char* name) {
    ui().message_box(format_string("The command-line option \"%s\" needs the program's window, and this run has "
                                   "none: it was not carried out.",
                                   name),
                     "", MsgIcon::Error, MsgButtons::Ok);
    return kCommandLineRefused;
}

}  // namespace

void set_compress_cf_action(CompressCfAction action) { compress_cf_action() = std::move(action); }
void set_merivale_action(CompressCfAction action) { merivale_action() = std::move(action); }

namespace {

// Far more than any command line a site writes.
constexpr std::uint64_t kMaxParameterFileSize = 1 << 20;

}  // namespace

void expand_parameter_files(std::vector<std::string>& args) {
    const std::size_t count = args.size();
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (!platform::iequals(args[i], "/paramfile")) continue;
        // A plain file of a sane size: a FIFO would hold the start, a device would never end.
        const platform::UniqueFile f = open_outside_stream(args[i + 1], kMaxParameterFileSize);
        if (!f) continue;
        std::string line;
        while (read_text_line(f.get(), line)) split_windows_command_line(line, args);
    }
}

int prescan_show_state(const std::vector<std::string>& args, bool& preview) {
    int state = kShowNormal;
    for (std::size_t i = 0; i < args.size();) {
        const SwitchRow* row = find_row(args[i]);
        if (!row || !row->info.prescanned) {
            ++i;
            continue;
        }
        if (row->info.show != U) state = row->info.show;
        if (is_switch(*row, "/preview")) preview = true;
        const int span = operand_span(args, i, *row);
        i += 1 + static_cast<std::size_t>(span < 0 ? 0 : span);
        if (span < 0) break;
    }
    return state;
}

bool has_command_line_action(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size();) {
        const SwitchRow* row = find_row(args[i]);
        if (!row) {
            ++i;
            continue;
        }
        if (row->info.action) return true;
        const int span = operand_span(args, i, *row);
        if (span < 0) return false;
        i += 1 + static_cast<std::size_t>(span);
    }
    return false;
}

int read_command_line_flags(const std::vector<std::string>& args, CommandLineFlags& flags) {
    if (args.empty()) flags.started_without_arguments = true;
    for (std::size_t i = 0; i < args.size();) {
        const SwitchRow* row = find_row(args[i]);
        if (!row) {
            ++i;
            continue;
        }
        const int span = operand_span(args, i, *row);
        if (span < 0) {
            ui().message_box(kWrongParameterCountMessage + operand_count_text(*row), "", MsgIcon::Error,
                             MsgButtons::Ok);
            return static_cast<int>(i);
        }
        auto op = [&](std::size_t k) -> const std::string& { return args[i + k]; };
        if (row->info.clears_browse) flags.browse = false;
        // The switches that only turn a flag on.
        static constexpr std::pair<const char*, bool CommandLineFlags::*> kFlagSwitches[] = {
            {"/preview", &CommandLineFlags::preview},
            {"/from_gui", &CommandLineFlags::from_gui},
            {"/from_noske", &CommandLineFlags::from_noske},
            {"/from_QDS", &CommandLineFlags::from_qds},
            {"/choose_report", &CommandLineFlags::choose_report},
            {"/choose_ecg", &CommandLineFlags::choose_ecg},
            {"/enable_confirm_cnav", &CommandLineFlags::confirm_cnav},
            {"/readonly", &CommandLineFlags::read_only},
            {"/autodelete", &CommandLineFlags::auto_delete},
        };
        for (const auto& [name, flag] : kFlagSwitches)
            if (is_switch(*row, name)) flags.*flag = true;
        if (is_switch(*row, "/merivale")) {
            flags.merivale = true;
            for (int k = 0; k < 6; ++k) flags.merivale_texts[k] = op(static_cast<std::size_t>(k) + 1);
            flags.merivale_number = operand_number(op(7));
        }
        i += 1 + static_cast<std::size_t>(span);
    }
    return -1;
}

bool dispatch_command_line(CTolbexApp& app, const std::vector<std::string>& args, bool first_pass) {
    if (first_pass) {
        TolbexSettings settings = app.settings();
        const int stop = read_command_line_flags(args, settings.flags);
        app.set_settings(std::move(settings));
        if (stop >= 0) {
            app.set_command_line_stop(stop);
            app.set_exit_code(kCommandLineRefused);
        }
        return true;
    }
    // A command line that is short of operands somewhere runs none of its actions: a caller
    // gets the failure without half of what it asked for.
    if (app.command_line_stop() >= 0) return true;
    bool action_ran = false;
    int mail_refused = kCommandLineDone;
    for (std::size_t i = 0; i < args.size();) {
        const SwitchRow* row = find_row(args[i]);
        if (!row) {
            ++i;
            continue;
        }
        const int span = operand_span(args, i, *row);
        if (span < 0) {
            // Only when the first pass did not run: it would have stopped here.
            app.set_command_line_stop(static_cast<int>(i));
            app.set_exit_code(kCommandLineRefused);
            break;
        }
        auto op = [&](std::size_t k) -> const std::string& { return args[i + k]; };
        auto operands = [&] {
            const auto first = args.begin() + static_cast<std::ptrdiff_t>(i) + 1;
            return std::vector<std::string>(first, first + span);
        };
        if (row->info.action) {
            action_ran = true;
            int code = 0;
            if (is_switch(*row, "/find")) {
                code = find_recording_command(op(1), op(2), op(3), op(4));
            } else if (is_switch(*row, "/export")) {
                code = export_report_command(app.audit(), op(1), op(2), op(3));
            } else if (is_switch(*row, "/store")) {
                code = store_report_file_command(op(1), op(2), op(3));
            } else if (is_switch(*row, "/storefolder")) {
                code = store_report_folder_command(op(1), op(2), op(3), op(4));
            } else if (is_switch(*row, "/delete_os12_ecg")) {
                code = delete_os12_ecg_command(op(1));
            } else if (is_switch(*row, "/uncompress")) {
                code = uncompress_command(op(1), op(2));
            } else if (is_switch(*row, "/compresscf") && compress_cf_action()) {
                code = compress_cf_action()(operands());
            } else if (is_switch(*row, "/convert")) {
                code = convert_report_command(app.settings(), op(1), op(2), op(3));
            } else if (is_switch(*row, "/print") || is_switch(*row, "/printto")) {
                const bool to = is_switch(*row, "/printto");
                code = print_report_command(app, op(1), operand_number(op(2)), operand_number(op(3)),
                                            operand_number(op(4)), operand_number(op(5)),
                                            to ? op(6) : op(6).substr(0, 1), to ? op(7) : std::string());
            } else {
                code = not_in_this_build(row->info.name);
            }
            app.set_exit_code(code);
        } else if (is_switch(*row, "/load")) {
            load_report_command(app, op(1));
        } else if (is_switch(*row, "/preview")) {
            preview_report_command(op(1));
        } else if (is_switch(*row, "/merivale") && merivale_action()) {
            merivale_action()(operands());
        } else if (is_switch(*row, "/mail")) {
            // Choosing the destination needs a window: without one the file is refused, and the
            // caller learns it from the exit code.
            if (receive_mailed_report(op(1)) == MailReceipt::kNoWindow) mail_refused = needs_a_window("/mail");
        }
        i += 1 + static_cast<std::size_t>(span);
    }
    // A received file left where it was is no success, whatever an action after it answered.
    if (mail_refused && app.exit_code() == kCommandLineDone) app.set_exit_code(mail_refused);
    return !action_ran;
}

}  // namespace tv
