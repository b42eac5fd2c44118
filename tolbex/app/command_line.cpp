#include "tolbex/app/command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/app/cef_import.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/app/report_settings.h"
#include "tolbex/app/tolbex_app.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/reports/report_printing.h"
#include "formats/transfer_file.h"

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

bool is_switch(const SwitchRow& row, const char* name) { return platform::iequals(row.info.name, name); }

// The split of a "/load" or "/preview" operand at its first vertical bar.
std::string path_before_bar(const std::string& operand) {
    const auto bar = operand.find('|');
    return bar == std::string::npos ? operand : operand.substr(0, bar);
}

// Text with every LF written as CR LF, as text files are.
std::string with_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

bool is_regular_file(const std::string& path) { return file_exists(path) && !folder_exists(path); }

std::string strip_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

ReportOpener& report_opener() {
    static ReportOpener opener;
    return opener;
}

std::string text_after_bar(const std::string& operand) {
    const auto bar = operand.find('|');
    return bar == std::string::npos ? std::string() : operand.substr(bar + 1);
}

bool is_blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The patient's name from PATIENT.TXT of a report folder; "" when there is none.
std::string patient_name_of(const std::string& folder) {
    const std::string file = find_report_file(folder, kPatientTxtName);
    if (file.empty()) return {};
    return patient_item_text(read_text_file_line(file, 3).value_or(""));
}

void not_in_this_build(CTolbexApp& app, const char* name) {
    ui().message_box(format_string("The command-line option \"%s\" is not available in this build.", name), "",
                     MsgIcon::Error, MsgButtons::Ok);
    app.exit_code = 1;
}

}  // namespace

void set_report_opener(ReportOpener opener) { report_opener() = std::move(opener); }

const CommandSwitch* find_command_switch(std::string_view token) {
    const SwitchRow* row = find_row(token);
    return row ? &row->info : nullptr;
}

void expand_parameter_files(std::vector<std::string>& args) {
    const std::size_t count = args.size();
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (!platform::iequals(args[i], "/paramfile")) continue;
        std::FILE* f = std::fopen(args[i + 1].c_str(), "rbe");
        if (!f) continue;
        std::string line;
        while (read_text_line(f, line)) split_command_line(line, args);
        std::fclose(f);
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

bool dispatch_command_line(CTolbexApp& app, const std::vector<std::string>& args, bool first_pass) {
    if (args.empty()) app.started_without_arguments = true;
    // A command line that is short of operands somewhere runs none of its actions: a caller
    // gets the failure without half of what it asked for.
    if (!first_pass && app.command_line_stop >= 0) return true;
    bool action_ran = false;
    for (std::size_t i = 0; i < args.size();) {
        const SwitchRow* row = find_row(args[i]);
        if (!row) {
            ++i;
            continue;
        }
        const int span = operand_span(args, i, *row);
        if (span < 0) {
            if (first_pass) ui().message_box(kWrongParameterCountMessage, "", MsgIcon::Error, MsgButtons::Ok);
            app.command_line_stop = static_cast<int>(i);
            app.exit_code = 1;
            break;
        }
        auto op = [&](std::size_t k) -> const std::string& { return args[i + k]; };
        if (row->info.clears_browse) app.browse = false;

        if (first_pass) {
            if (is_switch(*row, "/preview")) app.preview = true;
            else if (is_switch(*row, "/from_gui")) app.from_gui = true;
            else if (is_switch(*row, "/from_noske")) app.from_noske = true;
            else if (is_switch(*row, "/from_QDS")) app.from_qds = true;
            else if (is_switch(*row, "/choose_report")) app.choose_report = true;
            else if (is_switch(*row, "/choose_ecg")) app.choose_ecg = true;
            else if (is_switch(*row, "/enable_confirm_cnav")) app.confirm_cnav = true;
            else if (is_switch(*row, "/readonly")) app.read_only = true;
            else if (is_switch(*row, "/autodelete")) app.auto_delete = true;
            else if (is_switch(*row, "/merivale")) {
                app.merivale = true;
                for (int k = 0; k < 6; ++k) app.merivale_texts[k] = op(static_cast<std::size_t>(k) + 1);
                app.merivale_number = std::atoi(op(7).c_str());
            }
        } else if (row->info.action) {
            action_ran = true;
            if (is_switch(*row, "/find")) {
                app.exit_code = find_recording_command(op(1), op(2), op(3), op(4));
            } else if (is_switch(*row, "/export")) {
                app.exit_code = export_report_command(app, op(1), op(2), op(3));
            } else if (is_switch(*row, "/store")) {
                app.exit_code = store_report_file_command(op(1), op(2), op(3));
            } else if (is_switch(*row, "/storefolder")) {
                app.exit_code = store_report_folder_command(op(1), op(2), op(3), op(4));
            } else if (is_switch(*row, "/delete_os12_ecg")) {
                app.exit_code = delete_os12_ecg_command(op(1));
            } else if (is_switch(*row, "/uncompress")) {
                app.exit_code = uncompress_command(op(1), op(2));
            } else if (is_switch(*row, "/convert")) {
                app.exit_code = convert_report_command(op(1), op(2), op(3));
            } else if (is_switch(*row, "/print") || is_switch(*row, "/printto")) {
                const bool to = is_switch(*row, "/printto");
                app.exit_code = print_report_command(app, op(1), std::atoi(op(2).c_str()), std::atoi(op(3).c_str()),
                                                     std::atoi(op(4).c_str()), std::atoi(op(5).c_str()),
                                                     to ? op(6) : op(6).substr(0, 1), to ? op(7) : std::string());
            } else {
                not_in_this_build(app, row->info.name);
            }
        } else if (is_switch(*row, "/load")) {
            const std::string path = path_before_bar(op(1));
            if (report_opener()) report_opener()(path, text_after_bar(op(1)), false);
            const auto slash = path.rfind('/');
            app.auto_delete_folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
        } else if (is_switch(*row, "/preview")) {
            const std::string path = path_before_bar(op(1));
            if (report_opener()) report_opener()(path, text_after_bar(op(1)), true);
        } else if (is_switch(*row, "/mail")) {
            // Choosing the destination needs a window: without one the import is cancelled.
            receive_mailed_report(op(1), nullptr);
        }
        i += 1 + static_cast<std::size_t>(span);
    }
    return !action_ran;
}

// --- /convert, /print, /printto ---

std::string preview_window_title(const std::string& given_title, const std::string& path) {
    std::string title = given_title;
    if (is_blank(title)) title = patient_name_of(ReportDocument::folder_of(path));
    const std::string preview = load_resource_string(kStrPreview);
    if (is_blank(title)) return preview;
    return title + " (" + preview + ")";
}

int convert_report_command(const std::string& path, const std::string& folder, const std::string& format) {
    ReportDocument doc;
    std::string error;
    if (!doc.load(ReportDocument::folder_of(path), current_report_mode(), &error)) {
        ui().message_box("The report cannot be opened: " + error, "", MsgIcon::Error, MsgButtons::Ok);
        return 1;
    }
    if (!doc.export_rtf(folder, format, &error)) {
        ui().message_box("The report cannot be exported: " + error, "", MsgIcon::Error, MsgButtons::Ok);
        return 1;
    }
    return 0;
}

int print_report_command(CTolbexApp& app, const std::string& folder_operand, int first, int last, int copies,
                         int duplicate_limit, const std::string& flag_operand, const std::string& printer) {
    const std::string folder = strip_trailing_slashes(folder_operand);
    const bool delete_after = !flag_operand.empty() && (flag_operand[0] == 'y' || flag_operand[0] == 'Y');
    std::string title = flag_operand.size() > 1 ? flag_operand.substr(1) : std::string();
    if (is_blank(title)) title = patient_name_of(ReportDocument::folder_of(folder));
    if (is_blank(title)) title = load_resource_string(kStrBriscoReport);

    int result = 0;
    {
        ReportDocument doc;
        std::string error;
        if (!doc.load(folder, current_report_mode(), &error)) {
            ui().message_box("The report cannot be opened: " + error, "", MsgIcon::Error, MsgButtons::Ok);
            result = 1;
        } else {
            doc.set_report_title(title);
            app.print_duplicate_limit = duplicate_limit;
            PrintRequest request;
            request.document_name = title;
            request.first_page = first;
            request.last_page = last;
            request.duplicate_limit = duplicate_limit;
            request.printer_name = printer;
            const PrintSettings settings = current_print_settings();
            for (int copy = 0; copy < std::max(copies, 1); ++copy) {
                if (!app.open_audit_log(folder)) {
                    ui().message_box(kPrintNoLogMessage, "", MsgIcon::Error, MsgButtons::Ok);
                    app.close_audit_log();
                    result = 1;
                    break;
                }
                if (!print_report(doc, request, settings, &error)) {
                    app.close_audit_log();
                    ui().message_box(error.empty() ? std::string(kPrintStartFailed) : error, "", MsgIcon::Error,
                                     MsgButtons::Ok);
                    result = 1;
                    break;
                }
                app.write_audit_log(kAuditPrint, title, folder, "");
                app.close_audit_log();
            }
            app.print_duplicate_limit = 0;
        }
    }
    // The caller handed over a copy to print and throw away: its parent folder goes, but never
    // an archive, a group or a file-system root.
    if (delete_after) {
        const auto slash = folder.rfind('/');
        if (slash != std::string::npos && slash > 8) {
            const std::string parent = folder.substr(0, slash);
            if (is_safe_auto_delete_folder(parent, &app.archive_config())) delete_folder_tree(parent, true, true);
        }
    }
    return result;
}

// --- /find ---

int find_recording_command(const std::string& key, const std::string& value, const std::string& group_folder,
                           const std::string& output_file) {
    if (!platform::iequals(key, "RECORDING_ID")) return -1;
    if (value.empty()) return -2;
    const std::string index = find_group_index(group_folder);
    if (!is_regular_file(index)) return -3;
    std::FILE* out = std::fopen(output_file.c_str(), "wbe");
    if (!out) return -4;

    ArchiveGroup group(index);
    int found = 0;
    bool write_failed = false;
    for (std::int32_t a = 0; a < group.get_count(); ++a) {
        const ReportArchive* archive = group.get_archive(a);
        if (!archive || !archive->is_safe()) continue;
        for (std::int32_t r = 0; r < archive->get_count(); ++r) {
            const ReportRecord* record = archive->get_record(r);
            if (!record || !record->has_safe_name()) continue;
            const std::string folder = record->get_folder_path();
            const std::string id = read_recording_id(folder).value_or("");
            if (id.empty() || !platform::iequals(id, value)) continue;
            const std::time_t t = static_cast<std::time_t>(record->get_time());
            std::tm tm{};
            if (!localtime_r(&t, &tm)) tm = std::tm{};
            const std::string line =
                format_string("\"%s\" %02d:%02d:%02d %02d/%02d/%04d\r\n", folder.c_str(), tm.tm_hour, tm.tm_min,
                              tm.tm_sec, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
            if (std::fwrite(line.data(), 1, line.size(), out) != line.size()) write_failed = true;
            ++found;
        }
    }
    if (std::fclose(out) != 0) write_failed = true;
    if (write_failed) return -4;
    return std::min(found, kFindCountCap);
}

// --- /export ---

int export_report_command(CTolbexApp& app, const std::string& format, const std::string& report_folder,
                          const std::string& destination) {
    if (!platform::iequals(format, "TVZ")) return 4;
    const std::string folder = strip_trailing_slashes(report_folder);
    if (!folder_exists(folder) || !platform::find_name_ci(folder, "PATIENT.TXT")) return 1;
    const std::string archive_folder = get_path_folder(folder);
    const std::string name = get_path_file_name(folder);
    if (archive_folder == folder || !platform::find_name_ci(archive_folder, kArchiveIndexName)) return 1;
    ReportArchive archive(archive_folder, "");
    const ReportRecord* record = archive.find_record(name);
    if (!record) return 2;

    std::vector<std::string> list;
    std::string temp_folder;
    if (!platform::find_name_ci(folder, std::string(kRepInfoName))) {
        temp_folder = create_temp_folder();
        if (temp_folder.empty()) return 3;
        const std::string repinfo = temp_folder + std::string(kRepInfoName);
        if (!write_repinfo_file(repinfo, record->get_description(), record->get_type(), record->get_time(),
                                record->get_size())) {
            delete_folder_tree(temp_folder, true, false);
            return 3;
        }
        list.push_back(repinfo);
    }
    FolderRemover remover(temp_folder, true, false);
    if (temp_folder.empty()) remover.release();
    list.push_back(join_path(folder, "*.*"));

    if (!app.open_audit_log(folder)) {
        ui().message_box(
            "The report cannot be exported, because the logfile cannot be opened.\n\nPlease attempt the operation again.",
            "", MsgIcon::Error, MsgButtons::Ok);
        app.close_audit_log();
        return 3;
    }
    if (pack_transfer_file(list, destination) != 0) {
        // A failed transfer file is not to be used: leave none behind.
        if (is_regular_file(destination)) ::unlink(destination.c_str());
        ui().message_box("The compressed copy of the report could not be created.", "File Compression Error",
                         MsgIcon::Error, MsgButtons::Ok);
        app.close_audit_log();
        return 3;
    }
    app.write_audit_log(kAuditExport, record->get_description(), folder, "");
    app.close_audit_log();
    return 0;
}

// --- /store and /storefolder ---

int store_report_file_command(const std::string& file, const std::string& group_folder,
                              const std::string& archive_name) {
    const std::string ext = get_extension_upper(get_path_file_name(file));
    const bool is_cef = ext == "CEF";
    if (!is_cef && ext != "TVZ") return kStoreCodeNoFiles;
    if (!is_regular_file(file)) return kStoreCodeMissing;
    if (!folder_exists(group_folder)) return kStoreCodeNoGroup;
    const std::string index = find_group_index(group_folder);
    if (!is_regular_file(index)) return kStoreCodeNoGroupIndex;
    ArchiveGroup group(index, false, false, false);
    const std::int32_t a = group.find_archive_by_name(archive_name);
    const ReportArchive* archive = a < 0 ? nullptr : group.get_archive(a);
    if (!archive || !archive->is_safe()) return kStoreCodeNoArchive;
    if (is_cef) return store_mailed_cef(file, archive->get_path(), false);
    return import_result_to_store_code(import_transfer_file(file, archive->get_path(), false));
}

std::string store_log_time_text() {
    const std::time_t t = static_cast<std::time_t>(platform::system().now());
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return {};
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, "%c", &tm);
    return std::string(text, n);
}

int store_report_folder_command(const std::string& folder, const std::string& group_folder,
                                const std::string& archive_name, const std::string& log_operand) {
    if (!folder_exists(folder)) return kStoreCodeMissing;

    int log = -1;
    if (!platform::iequals(log_operand, "NONE")) {
        const std::string log_path =
            log_operand.find('/') != std::string::npos ? log_operand : join_path(folder, log_operand);
        log = ::open(log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (log < 0) return kStoreCodeLogFailed;
        const off_t size = ::lseek(log, 0, SEEK_END);
        std::string text;
        if (size == 0)
            text = with_crlf(load_resource_string(kStrStoreLogHeader1) + load_resource_string(kStrStoreLogHeader2));
        text += "\r\n";
        platform::write_all(log, text.data(), text.size());
    }
    const std::string when = store_log_time_text();

    int exit_code = kStoreCodeOk;
    bool any = false;
    for (const char* pattern : {"*.CEF", "*.TVZ"}) {
        // Each pattern's files in name order, so that a run is repeatable.
        std::vector<std::string> names;
        for (FileFinder f(join_path(folder, pattern), kFindFiles); !f.at_end(); f.next())
            if (!f.is_folder()) names.push_back(f.get_name());
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            any = true;
            const int result = store_report_file_command(join_path(folder, name), group_folder, archive_name);
            if (log >= 0) {
                const std::string line = format_string("[%d] %s \"%s\" \"%s\" \"%s\"\r\n", result, when.c_str(),
                                                       group_folder.c_str(), archive_name.c_str(), name.c_str());
                platform::write_all(log, line.data(), line.size());
            }
            if (result != kStoreCodeOk) exit_code = result;
        }
    }
    if (!any) {
        if (log >= 0) {
            const std::string line = format_string("[1] %s %s \"%s\"", when.c_str(),
                                                   load_resource_string(kStrNoReportFiles).c_str(), folder.c_str());
            platform::write_all(log, line.data(), line.size());
        }
        exit_code = kStoreCodeNoFiles;
    }
    if (log >= 0) ::close(log);
    return exit_code;
}

// --- /delete_os12_ecg ---

namespace {

int delete_ecg_files_shown(ReportRecord& record, const std::string& folder) {
    const int result = delete_ecg_files(record, folder);
    if (result != kDeleteEcgOk) ui().message_box(kDeleteEcgFailedText, "", MsgIcon::Error, MsgButtons::Ok);
    return result;
}

}  // namespace

int delete_os12_ecg_command(const std::string& report_folder) {
    const std::string folder = strip_trailing_slashes(report_folder);
    const std::string archive_folder = get_path_folder(folder);
    const std::string name = get_path_file_name(folder);
    const bool indexed = archive_folder != folder && platform::find_name_ci(archive_folder, kArchiveIndexName);
    ReportArchive archive(archive_folder, "", false, false, indexed);
    ReportRecord* record = indexed ? archive.find_record(name) : nullptr;
    if (!record) {
        // Not listed: the files still go, and there is no index to bring up to date.
        ReportRecord loose(name, archive_folder, "", 0, 0, false);
        return delete_ecg_files_shown(loose, folder);
    }
    const int result = delete_ecg_files_shown(*record, folder);
    if (result != kDeleteEcgOk) return result;
    // The folder is now X.FUL: the index must say so, or the report drops out of its archive.
    const Result<void> written = archive.write_archinfo();
    if (written) return 0;
    ui().message_box(written.error().message, archive_error_caption(written.error().code), MsgIcon::Error,
                     MsgButtons::Ok);
    return 4;
}

}  // namespace tv
