// "/delete_os12_ecg": the ECG files of a report go, and its folder is renamed to say so.
#include "common/files.h"
#include "common/ui.h"
#include "tolbex/app/actions/action_support.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/archive/store_report.h"

namespace tv {

int delete_os12_ecg_command(const std::string& report_folder) {
    // Whether the report is listed is asked under the archive's lock, with the change.
    Error index_error;
    const int result = delete_twelve_lead_ecg(report_folder, false, nullptr, &index_error);
    switch (result) {
        case kDeleteEcgOk: return kDeleteOs12Done;
        case kDeleteEcgIndexFailed: break;
        default:
            ui().message_box(kDeleteEcgFailedText, "", MsgIcon::Error, MsgButtons::Ok);
            return result == kDeleteEcgNotTwelveLead  ? kDeleteOs12NotTwelveLead
                   : result == kDeleteEcgRenameFailed ? kDeleteOs12RenameFailed
                                                      : kDeleteOs12DeleteFailed;
    }
    ui().message_box(index_error.message, archive_error_caption(index_error.code), MsgIcon::Error, MsgButtons::Ok);
    switch (index_error.code) {
        case kArchiveLockDenied: return kDeleteOs12LockDenied;
        case kArchiveReadOnly: return kDeleteOs12ReadOnly;
        case kArchiveUnreadable: return kDeleteOs12Unreadable;
        default: return kDeleteOs12IndexFailed;
    }
}

}  // namespace tv
