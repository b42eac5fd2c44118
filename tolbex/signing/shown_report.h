// The one way a report is opened to be shown, printed, converted or previewed. A signed report
// (is_signed_report_folder) is its container: signed.dat is verified and restored into a fresh
// private folder, a formatted report gets its signature page there, and that folder is what is
// shown; nothing beside signed.dat is read. A container that does not verify opens nothing. Any
// other report is its own folder.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "tolbex/signing/signed_report.h"

namespace tv::signing {

class ShownReport {
public:
    explicit ShownReport(std::string folder) : folder_(std::move(folder)) {}
    explicit ShownReport(RestoredReport restored) : folder_(restored.folder()), restored_(std::move(restored)) {}

    // The folder whose files are shown (no trailing '/').
    const std::string& folder() const { return folder_; }
    bool is_signed() const { return restored_.has_value(); }
    // Each signer with its verdict, in header order; empty for a report that is not signed.
    const std::vector<SignatureRecord>& signers() const;
    // What a signed report holds (Formatted for one that is not signed).
    SignedReportKind kind() const { return restored_ ? restored_->kind() : SignedReportKind::Formatted; }
    // Hands over the restored folder (the caller removes it); "" for a report that is not signed.
    std::string release() { return restored_ ? restored_->release() : std::string(); }

private:
    std::string folder_;
    std::optional<RestoredReport> restored_;
};

// `path`: a report folder or a file in it (as ReportDocument::folder_of takes it). Errors of
// verify_signed_report, and add_signature_page's for a formatted report; the pages of a restored
// formatted report are read-only, as what was signed cannot be changed.
Result<ShownReport> open_report_for_showing(const std::string& path);

}  // namespace tv::signing
