// "/find": the reports of a group whose recording ID matches, one line each.
#include <algorithm>
#include <ctime>

#include "common/files.h"
#include "common/safe_open.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/report_files.h"
#include "platform/fs.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/archive/archive_group.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_archive.h"

namespace tv {

int find_recording_command(const std::string& key, const std::string& value, const std::string& group_folder,
                           const std::string& output_file) {
    if (!platform::iequals(key, "RECORDING_ID")) return kFindBadKey;
    if (value.empty()) return kFindNoValue;
    const std::string index = find_group_index(group_folder);
    if (!is_regular_file_no_link(index)) return kFindNoGroupIndex;
    if (output_file.empty()) return kFindNoOutput;

    ArchiveGroup group(index);
    int found = 0;
    std::string lines;
    for (std::int32_t a = 0; a < group.get_count(); ++a) {
        const ReportArchive* archive = group.get_archive(a);
        if (!archive || !archive->is_safe()) continue;
        // Read from the group down, never through a link: another report's PATIENT.TXT put here
        // as a link would list this folder under that report's recording id. The archive is
        // opened once, its report folders relative to it.
        const std::string archive_path = platform::strip_trailing_slashes(archive->get_path());
        const std::size_t slash = archive_path.rfind('/');
        const ReportFolder group_folder(slash == std::string::npos ? "."
                                        : slash == 0               ? "/"
                                                                   : archive_path.substr(0, slash));
        const ReportFolder archive_folder = group_folder.child(archive_path.substr(slash + 1));
        if (!archive_folder.is_open()) continue;
        for (std::int32_t r = 0; r < archive->get_count(); ++r) {
            const ReportRecord* record = archive->get_record(r);
            if (!record || !record->has_safe_name()) continue;
            const ReportFolder report = archive_folder.child(record->get_name());
            if (!report.is_open()) continue;
            const std::string& folder = report.path();
            const std::string id = read_recording_id(report).value_or("");
            if (id.empty() || !platform::iequals(id, value)) continue;
            const std::time_t t = static_cast<std::time_t>(record->get_time());
            std::tm tm{};
            if (!localtime_r(&t, &tm)) tm = std::tm{};
            const std::string line =
                format_string("\"%s\" %02d:%02d:%02d %02d/%02d/%04d\r\n", folder.c_str(), tm.tm_hour, tm.tm_min,
                              tm.tm_sec, tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
            lines += line;
            ++found;
        }
    }
    // Replaced whole, so that a link or FIFO at the name is never written through and a reader
    // never sees half a result.
    if (!platform::atomic_write_file(output_file, lines)) return kFindNoOutput;
    return std::min(found, static_cast<int>(kFindCountCap));
}

}  // namespace tv
