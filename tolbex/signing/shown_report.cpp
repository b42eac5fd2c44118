#include "tolbex/signing/shown_report.h"

#include "common/files.h"
#include "common/report_files.h"
#include "platform/fs.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/signing/signature_page.h"

namespace tv::signing {

const std::vector<SignatureRecord>& ShownReport::signers() const {
    static const std::vector<SignatureRecord> none;
    return restored_ ? restored_->signers() : none;
}

Result<ShownReport> open_report_for_showing(const std::string& path) {
    const std::string folder = ReportDocument::folder_of(path);
    if (!is_signed_report_folder(ReportFolder(folder))) return ShownReport(folder);
    auto restored = verify_signed_report(
        platform::find_name_ci(folder, kSignedFileName).value_or(join_path(folder, kSignedFileName)));
    if (!restored) return restored.error();
    if (restored->kind() == SignedReportKind::Formatted) {
        if (auto page = add_signature_page(restored->folder(), restored->signers()); !page) return page.error();
        for (FileFinder f(join_path(restored->folder(), "*"), kFindFiles); !f.at_end(); f.next())
            set_read_only(f.get_path());
    }
    return ShownReport(std::move(*restored));
}

}  // namespace tv::signing
