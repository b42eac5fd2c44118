// Signed reports (type 522, ".SGN"): a folder holding the single file "signed.dat", which is the
// envelope of crypto.h around a signed message whose content is SignedContent (little-endian):
//   u32 version (1), u32 N (signature headers; 1 when written here), N SignatureHeader,
//   u32 F, F lines "<name> <size>\n" (the name is the text before the last space),
//   then the F file bodies back to back, each exactly as long as its line says.
// SignatureHeader: u32 kind, f64 OLE signing time, u32 time status, signer name, u32 meaning,
// logon name, system name, reserved (""), issued to, issued by, valid from, valid to; each
// name a NUL-terminated Windows-1252 string.
//
// Reading trusts nothing in the content: every count and size is checked against the bytes that
// are there, the sizes must add up to exactly the bodies and a name must be one plain file name.
// Files are restored only after the whole content has been checked, into a fresh private folder.
// A signature counts as verified only when its signer is trusted by the site (trust.h) at the
// signing time and the header agrees with the certificate; what is shown of it comes from the
// certificate.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/files.h"
#include "common/result.h"
#include "tolbex/reports/report_document.h"
#include "tolbex/signing/crypto.h"

namespace tv::signing {

inline constexpr const char* kSignedFileName = kSignedContainerName;
inline constexpr const char* kSignatureBitmapName = "signature.bmp";
// A reader keeps at most this many characters of a header string.
inline constexpr std::size_t kMaxHeaderString = 1024;

inline constexpr const char* kSeriousFileErrorText = "Serious file error : %s";
inline constexpr const char* kUnsignableTypeText = "Unable to sign this report type";
inline constexpr const char* kNotValidText = "The signed report file is not valid : %s";
inline constexpr const char* kSignerCountText =
    "The number of signatures in the message does not match the number of signatures in the header";
inline constexpr const char* kNotVerifiedText = "Signature not verified";
inline constexpr const char* kNotVerifiedWarningText = "This report must not be taken as signed.";
inline constexpr const char* kBadFileNameText =
    "The report cannot be signed, because the name of its file %s cannot be kept in a signed report.";

// Appends the stored form of `record` (its version and certificate are not part of it).
void append_signature_header(std::string& out, const SignatureRecord& record);
// Reads one header at `pos`, moving it on; false when the data ends inside the fixed fields.
// Strings are cut to kMaxHeaderString characters, then their control characters escaped
// (escape_control_chars); one cut off by the end keeps what was read.
bool read_signature_header(std::string_view data, std::size_t& pos, SignatureRecord& record);

// One file to pack: the name it gets in the report (as on disk: UTF-8) and the file it is read
// from: a name in `folder` when that is given, else a path.
struct PackedFile {
    std::string name;
    std::string source;
    const FolderFiles* folder = nullptr;
};

// SignedContent for `record` and the files, each read exactly as long as its line says (a file
// that changes size meanwhile fails with kErrFile), and only a regular file not reached through a
// link (kErrFile otherwise). kErrFileName for a name with a line break or a character
// Windows-1252 cannot hold, or two files of one name.
Result<std::string> build_signed_content(const SignatureRecord& record, const std::vector<PackedFile>& files);

// A checked SignedContent: headers and where each body lies. Names are as on disk (UTF-8).
struct ContentFile {
    std::string name;
    std::size_t offset = 0;
    std::size_t size = 0;
};
struct ParsedContent {
    std::vector<SignatureRecord> headers;
    std::vector<ContentFile> files;
};
// kErrSignerCount when N is not `signer_count`, kErrVersion (no text) when the version is not 1,
// kErrInvalid (kNotValidText with `path`) for anything else that does not add up.
Result<ParsedContent> parse_signed_content(std::string_view content, std::size_t signer_count, const std::string& path);

// Signs the content of `files` with the record's certificate (its certificate fields are filled
// from it first, so the header always names the signer) and writes the envelope to `output`.
Result<void> write_signed_file(const SignatureRecord& record, const std::vector<PackedFile>& files,
                               const std::string& output);

// The kind a report folder can be signed as, from its extension ("IMG", "TIM", "SUM", exactly);
// kErrReportType with kUnsignableTypeText for any other.
Result<SignedReportKind> signable_kind(const std::string& report_folder);

// Signs every plain file directly in `report_folder` (not sub-folders, not names beginning with
// '.') into `output`, setting the record's kind. A link, a special file or two names that differ
// only in case refuse the folder (kErrFile, FolderFiles::refusal's text) before `output` is made.
// A non-empty `bitmap` is packed as "signature.bmp" from its own path, in place of any file of
// that name in the folder, which is never touched.
Result<void> sign_report_folder(SignatureRecord& record, const std::string& report_folder, const std::string& bitmap,
                                const std::string& output);

// Signs one report and stores the result as a new signed report in the archive that holds it:
// signing time now, a private scratch folder removed on every path. A certificate that
// signing_refusal refuses at this moment gives kErrUntrusted (kNotForSigningText) before anything
// is made. Returns the new report's
// folder. A failed store gives kErrStoreReportBase + store_report_in_archive's result (no text:
// the caller shows the store's message).
inline constexpr int kErrStoreReportBase = 100;
Result<std::string> sign_and_store_report(SignatureRecord record, const std::string& report_folder,
                                          const std::string& report_name, const std::string& bitmap);

// A verified signed report restored into a fresh folder of its own (mode 0700), which is removed
// with this object unless released.
class RestoredReport {
public:
    RestoredReport(std::string folder, std::vector<SignatureRecord> signers)
        : folder_(std::move(folder)), signers_(std::move(signers)) {}
    ~RestoredReport();
    RestoredReport(RestoredReport&& other) noexcept
        : folder_(std::move(other.folder_)), signers_(std::move(other.signers_)) {
        other.folder_.clear();
    }
    RestoredReport& operator=(RestoredReport&&) = delete;
    RestoredReport(const RestoredReport&) = delete;
    RestoredReport& operator=(const RestoredReport&) = delete;

    // The folder holding the report's files (no trailing '/').
    const std::string& folder() const { return folder_; }
    // One record per signature, in header order, each with the certificate that signed.
    const std::vector<SignatureRecord>& signers() const { return signers_; }
    // What is inside: the first signature's kind.
    SignedReportKind kind() const { return static_cast<SignedReportKind>(signers_.front().kind); }
    // Hands the folder over; the caller removes it.
    std::string release() {
        std::string f = std::move(folder_);
        folder_.clear();
        return f;
    }

private:
    std::string folder_;
    std::vector<SignatureRecord> signers_;
};

// How far a signing time may lie ahead of this clock (the signer's may run fast) and count.
inline constexpr std::int64_t kSigningClockTolerance = 5 * 60;

// Verifies `signed_dat` and restores its files. Nothing is written unless the signatures and the
// content check out; on any failure the new folder is gone again. Each signer record says
// whether the site trusts it (`verified`, else `problem`; a signing time later than now, beyond
// kSigningClockTolerance, is not trusted); names, validity and fingerprint are
// the certificate's, and the signer name is its subject. Errors as in crypto.h, plus kNotValidText for a
// missing file or content that does not add up, kSignerCountText, kErrVersion (no text) and
// kSeriousFileErrorText.
Result<RestoredReport> verify_signed_report(const std::string& signed_dat);

// Texts shown with a signature. "%H:%M:%S %d %b %Y" of the signing time (empty unless valid).
std::string signing_time_text(const SignatureRecord& record);
// The signature details block: "Signature Details\n\n" ... "Valid to : %s\n\n", then 73 '-' and
// "\n\n" (the TIMI summary puts one per signature in front of its text).
std::string signature_details_text(const SignatureRecord& record);
// The message a TIMI data report shows for its signatures: signed_label(TimiDataMessage) for all of
// them, then each one's details.
std::string timi_data_signature_message(const std::vector<SignatureRecord>& signers);

// Where a signed report names itself. Decided in one place: "signed" only for verified signatures,
// else the warning's own words ("Signature not verified", "cannot be trusted").
enum class SignedLabel { SignaturePageTitle, TimiSummaryHeading, TimiDataMessage, TimiWindowTitle };
std::string signed_label(SignedLabel where, bool verified);
// There is a signature and every one verified.
bool all_verified(const std::vector<SignatureRecord>& signers);
// What a signed TIMI summary shows: the heading, one details block per signature, then the
// summary's own lines (CR LF or LF) unchanged; every line ends CR LF, as the summary's viewer
// expects of a text file.
std::string signed_timi_summary_text(std::string_view summary, const std::vector<SignatureRecord>& signers);

}  // namespace tv::signing
