// Opening a signed report (type 522) from the browser: its signed.dat is verified and restored
// into a fresh private folder T, which never outlives what shows it. A formatted report opens in
// a report window with its signature page (the document deletes T when it closes); a TIMI
// summary is shown in the text viewer with the signatures in front (T goes when the viewer
// ends); TIMI data shows its signature and goes to the TIMI side's opener. On every other path,
// failures included, T is removed before this returns.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "tolbex/signing/crypto.h"

class QWidget;

namespace tv {
class ReportArchive;
class ReportRecord;
}  // namespace tv

namespace tv::gui {

inline constexpr const char* kSignedVerifyFailedText =
    "The verification of the signed report failed.\nIt is not possible to view this report.";
inline constexpr const char* kVerifyingReportText = " Verifying report : ";
// Shown before a report whose signature is intact but not verified: "%s" is why.
inline constexpr const char* kSignatureNotVerifiedText =
    "The signature of this report cannot be trusted: %s.\n\nThe report is shown, but it must not be taken as "
    "signed.";

// What the TIMI side gets to open signed TIMI data. It owns `folder` once it returns true and must
// delete it (delete_folder_tree) when its document closes; on false the folder is removed here.
struct SignedTimiData {
    std::string data_file;  // DATA.TIMI in `folder`
    std::string folder;     // T
    ReportArchive* archive = nullptr;
    std::string report_folder;                         // the signed report's folder (the saved-data path)
    std::string archive_folder;                        // its archive's folder (the data folder)
    std::string description;                           // the display name
    std::vector<signing::SignatureRecord> signatures;  // every one, in header order
};
// True when a TIMI document opened (titled signed_label(TimiWindowTitle) for all its signatures,
// which it keeps).
using SignedTimiOpener = std::function<bool(const SignedTimiData&)>;
// Installed by the TIMI windows; without one, signed TIMI data shows its signature and is refused
// like unsigned TIMI data.
void set_signed_timi_opener(SignedTimiOpener opener);

// Verifies and shows the signed report of `record`. True when something showed it (and the audit
// entry "View signed report - %s in %s" was written).
bool open_signed_report(ReportArchive& archive, ReportRecord& record, const std::string& archive_name,
                        QWidget* parent = nullptr);

}  // namespace tv::gui
