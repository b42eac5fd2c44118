// "/delete_os12_ecg": the ECG files of a report go, and its folder is renamed to say so.
#include "common/files.h"
#include "common/ui.h"
#include "platform/fs.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace tv {
namespace {

int delete_ecg_files_shown(ReportRecord& record, const std::string& folder) {
    const int result = delete_ecg_files(record, folder);
    if (result != kDeleteEcgOk) ui().message_box(kDeleteEcgFailedText, "", MsgIcon::Error, MsgButtons::Ok);
    return result;
}

}  // namespace

int delete_os12_ecg_command(const std::string& report_folder) {
    const std::string folder = platform::strip_trailing_slashes(report_folder);
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
    // The folder becomes X.FUL in the same turn of the lock as its entry.
    Error index_error;
    const int result = delete_listed_ecg_files(*record, folder, archive_folder, &index_error);
    if (result == kDeleteEcgOk) return 0;
    if (result != kDeleteEcgIndexFailed) {
        ui().message_box(kDeleteEcgFailedText, "", MsgIcon::Error, MsgButtons::Ok);
        return result;
    }
    ui().message_box(index_error.message, archive_error_caption(index_error.code), MsgIcon::Error, MsgButtons::Ok);
    return 4;
}

}  // namespace tv
