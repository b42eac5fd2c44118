// The page a signed formatted report shows its signatures on: a page file like any other, written
// into the restored report folder as PAGE.1 (the old pages 1..n-1 move up by one), so that it
// views, prints and exports with the rest of the report.
//
// Records: text (type 63) and one bitmap box (type 56, shape 25, "signature.bmp" from the page's
// folder) per signature, attribute words 0, 86, 100, positions in fine units (cm x 10000, rounded
// half up). The page starts at 6.0 cm for one signer, at 3.0 cm for more.
#pragma once
#include <string>
#include <vector>

#include "common/result.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/signing/crypto.h"

namespace tv::signing {

// A text record holds at most this many characters; longer texts are cut.
inline constexpr std::size_t kMaxPageText = 4066;

// The page file's bytes, titled signed_label(SignaturePageTitle) of the signatures. `oem`: the folder's pages are OEM text (it has no VERSION.TXT).
std::string signature_page_bytes(const PatientHeaderFields& patient, const std::vector<SignatureRecord>& signers,
                                 bool oem = false);

// Moves PAGE.1.. up by one and writes the signature page as PAGE.1; the patient comes from the
// folder's PATIENT.TXT (empty values without one). The folder is opened once, never through a
// link, and every move and the new page (made exclusively) are done relative to it, never over a
// name that is taken. kErrFile ("Serious file error : %s") when a page cannot be moved or the
// page cannot be written; pages already moved stay moved. kArchiveReplaced ("replaced by a link")
// when the folder's name no longer leads to the folder changed: nothing else was touched. The
// folder is the private one a signed report is restored into, made afresh for each showing, so a
// run killed between two steps leaves the signed report itself as it was.
Result<void> add_signature_page(const std::string& report_folder, const std::vector<SignatureRecord>& signers);

}  // namespace tv::signing
