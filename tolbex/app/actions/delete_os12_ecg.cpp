// "/delete_os12_ecg": the ECG files of a report go, and its folder is renamed to say so.
#include "common/files.h"
#include "platform/fs.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace tv {

int delete_os12_ecg_command(const std::string& report_folder) {
    const std::string folder = action_support::strip_trailing_slashes(report_folder);
    const std::string archive_folder = get_path_folder(folder);
    const std::string name = get_path_file_name(folder);
    const bool indexed = archive_folder != folder && platform::find_name_ci(archive_folder, kArchiveIndexName);
    ReportArchive archive(archive_folder, "", false, false, indexed);
    ReportRecord* record = indexed ? archive.find_record(name) : nullptr;
    if (!record) {
        // Not listed: the files still go, and there is no index to bring up to date.
        ReportRecord loose(name, archive_folder, "", 0, 0, false);
        return delete_ecg_files(loose, folder);
    }
    const int result = delete_ecg_files(*record, folder);
    if (result != kDeleteEcgOk) return result;
    // The folder is now X.FUL: the index must say so, or the report drops out of its archive.
    return archive.write_archinfo() ? 0 : 4;
}

}  // namespace tv
