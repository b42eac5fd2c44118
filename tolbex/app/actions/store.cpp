// "/store" and "/storefolder": received report files stored into a group's archive, the folder
// form with an optional store-result log.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "common/files.h"
#include "common/folder_judgement.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/report_archive.h"

namespace tv {

namespace {

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

// A name from outside in quotes, its control characters escaped.
std::string quoted(std::string_view name) {
    // Appended, not "\"" + temporary: GCC 12 at -O3 takes that for an overlapping copy (GCC bug 105651).
    std::string text = "\"";
    text += escape_control_chars(name);
    return text + '"';
}

}  // namespace

int store_report_file_command(const std::string& file, const std::string& group_folder,
                              const std::string& archive_name) {
    const std::string ext = get_extension_upper(get_path_file_name(file));
    const bool is_cef = ext == "CEF";
    if (!is_cef && ext != "TVZ") return kStoreCodeNoFiles;
    if (!is_regular_file_no_link(file)) return kStoreCodeMissing;
    if (!folder_exists(group_folder)) return kStoreCodeNoGroup;
    const std::string index = find_group_index(group_folder);
    if (!is_regular_file_no_link(index)) return kStoreCodeNoGroupIndex;
    ArchiveGroup group(index, false, false, false);
    const std::int32_t a = group.find_archive_by_name(archive_name);
    const ReportArchive* archive = a < 0 ? nullptr : group.get_archive(a);
    if (!archive || !archive->is_safe()) return kStoreCodeNoArchive;
    // The listed folder itself, looked up in the group's folder: a link in its place may lead
    // anywhere, and one this account cannot read is not judged.
    platform::UniqueFd group_fd;
    const FolderJudgement group_judged = judge_folder(AT_FDCWD, group_folder, &group_fd);
    const FolderJudgement judged =
        group_judged.readable() ? judge_folder(group_fd.get(), get_path_file_name(archive->get_path())) : group_judged;
    if (!judged.readable()) {
        const std::string text =
            judged.access == FolderAccess::NotAFolder ? "The archive folder " + quoted(archive->get_path()) +
                                                            " is a link or no folder, so nothing was stored."
            : judged.unknown() ? unreadable_folder_text(archive->get_path(), judged) + ", so nothing was stored."
                               : "The archive folder " + quoted(archive->get_path()) + " does not exist.";
        ui().message_box(text, archive_error_caption(kArchiveNotFound), MsgIcon::Error, MsgButtons::Ok);
        return kStoreCodeNoArchive;
    }
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

    platform::UniqueFd log;
    if (!platform::iequals(log_operand, "NONE")) {
        const std::string log_path =
            log_operand.find('/') != std::string::npos ? log_operand : join_path(folder, log_operand);
        // The drop folder is others' to write: a link or FIFO planted under the log's name is refused.
        log = open_log_for_append(log_path);
        if (!log) return kStoreCodeLogFailed;
        const off_t size = ::lseek(log.get(), 0, SEEK_END);
        std::string text;
        if (size == 0)
            text = with_crlf(load_resource_string(kStrStoreLogHeader1) + load_resource_string(kStrStoreLogHeader2));
        text += "\r\n";
        platform::write_all(log.get(), text.data(), text.size());
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
            if (log) {
                // One line a file, whatever its name holds and however long it is.
                const std::string line = format_string("[%d] %s ", result, when.c_str()) + quoted(group_folder) + " " +
                                         quoted(archive_name) + " " + quoted(name) + "\r\n";
                platform::write_all(log.get(), line.data(), line.size());
            }
            if (result != kStoreCodeOk) exit_code = result;
        }
    }
    if (!any) {
        if (log) {
            const std::string line =
                format_string("[1] %s %s ", when.c_str(), load_resource_string(kStrNoReportFiles).c_str()) +
                quoted(folder);
            platform::write_all(log.get(), line.data(), line.size());
        }
        exit_code = kStoreCodeNoFiles;
    }
    return exit_code;
}

}  // namespace tv
