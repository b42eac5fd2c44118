#include "tolbex/signing/signature_page.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

#include "common/report_files.h"
#include "common/safe_open.h"
#include "common/bytes.h"
#include "common/files.h"
#include "platform/fs.h"
#include "tolbex/archive/report_archive.h"
#include "tolbex/reports/page_items.h"
#include "tolbex/signing/signed_report.h"

namespace tv::signing {
namespace {

std::int32_t fine(double cm) { return static_cast<std::int32_t>(std::floor(cm * 10000.0 + 0.5)); }

class PageWriter {
public:
    explicit PageWriter(bool oem) : oem_(oem) {}

    void text(double x, double y, std::string_view text, int size_code = kTextMedium) {
        std::string t(text.substr(0, kMaxPageText));
        if (oem_) t = page_text_to_oem(t);
        std::string payload;
        append_le32(payload, static_cast<std::uint32_t>(fine(x)));
        append_le32(payload, static_cast<std::uint32_t>(fine(y)));
        append_le32(payload, static_cast<std::uint32_t>(t.size() + 2));
        payload += '\x1B';
        payload += static_cast<char>(size_code);
        payload += t;
        bytes_ += make_page_record(PageRecordKind::Text, payload, 0);
    }
    void bitmap(double x1, double y1, double x2, double y2) {
        std::string payload;
        append_le32(payload, static_cast<std::uint32_t>(ShapeCode::Bitmap));
        append_le32(payload, 0);
        for (double v : {x1, y1, x2, y2}) append_le32(payload, static_cast<std::uint32_t>(fine(v)));
        payload.append(kSignatureBitmapName, std::strlen(kSignatureBitmapName) + 1);
        bytes_ += make_page_record(PageRecordKind::Shape, payload, 0);
    }
    std::string& bytes() { return bytes_; }

private:
    bool oem_;
    std::string bytes_;
};

void write_signature_block(PageWriter& page, double& y, const SignatureRecord& r) {
    page.text(3.0, y, "Signature Details", kTextLarge);
    y += 1.0;
    if (!r.verified) {
        page.text(4.0, y, std::string(kNotVerifiedText) + " : " + r.problem + ".");
        y += 0.5;
        page.text(4.0, y, kNotVerifiedWarningText);
        y += 2.0;
        return;
    }
    page.text(4.0, y, "Date and time of signing : " + signing_time_text(r));
    y += 0.5;
    page.text(4.0, y, "Signer name : " + r.signer_name);
    y += 0.5;
    page.text(4.0, y,
              r.meaning == 0 ? "Signature meaning : Report has been reviewed"
                             : "Signature meaning : Report has been approved");
    y += 0.5;
    page.text(4.0, y, "Signer login name : " + r.logon_name);
    y += 0.5;
    page.text(4.0, y, "System name : " + r.system_name);
    y += 0.5;
    page.text(4.0, y, "Signature : ");
    page.bitmap(6.0, y - 0.5, 14.0, y + 2.0);
    y += 2.5;
    page.text(4.0, y, "Certificate Details", kTextLarge);
    y += 0.5;
    page.text(4.0, y, "Issued to : " + r.issued_to);
    y += 0.5;
    page.text(4.0, y, "Issued by : " + r.issued_by);
    y += 0.5;
    page.text(4.0, y, "Valid from : " + r.valid_from);
    y += 0.5;
    page.text(4.0, y, "Valid to : " + r.valid_to);
    y += 0.5;
    page.text(4.0, y, "SHA-256 fingerprint : " + r.fingerprint);
    y += 2.0;
}

Error page_error(const std::string& name, int err) {
    return fail(kErrFile, with_text(kSeriousFileErrorText, name + " : " + std::strerror(err)));
}

std::string page_name(int n) { return "PAGE." + std::to_string(n); }

}  // namespace

std::string signature_page_bytes(const PatientHeaderFields& patient, const std::vector<SignatureRecord>& signers,
                                 bool oem) {
    PageWriter page(oem);
    double y = signers.size() == 1 ? 6.0 : 3.0;
    page.text(2.0, y, signed_label(SignedLabel::SignaturePageTitle, all_verified(signers)), kTextLarge);
    y += 1.0;
    page.text(3.0, y, "Patient Name : " + patient.name);
    y += 0.5;
    page.text(3.0, y, "Patient ID : " + patient.patient_number);
    y += 0.5;
    page.text(3.0, y, "Recording Date : " + patient.recording_date);
    y += 2.0;
    for (const SignatureRecord& r : signers) write_signature_block(page, y, r);
    return std::move(page.bytes());
}

Result<void> add_signature_page(const std::string& report_folder, const std::vector<SignatureRecord>& signers) {
    const ReportFolder pages(platform::strip_trailing_slashes(report_folder));
    auto replaced = [&](bool link) {
        return fail(kArchiveReplaced, archive_io::replaced_folder_text(pages.path(), link, "it is not shown"));
    };
    if (pages.refusal() == OutsideRefusal::Link) return replaced(true);
    if (!pages.is_open()) return page_error(get_path_file_name(pages.path()), ENOENT);
    // Every step is taken in the folder held open, whatever its name leads to meanwhile.
    const EntryState held = probe_entry_at(pages.fd(), ".");
    int count = 0;
    while (pages.has_file(page_name(count))) ++count;
    // Top down, never over a name that is taken: a failed move leaves every page where it was.
    for (int k = count - 1; k >= 1; --k) {
        const auto from = pages.find(page_name(k));
        if (!from || !platform::rename_no_replace_at(pages.fd(), *from, pages.fd(), page_name(k + 1)))
            return page_error(page_name(k), from ? errno : ENOENT);
    }
    const PatientHeaderFields patient = read_patient_header_fields(pages).value_or(PatientHeaderFields{});
    const bool oem = !pages.find("VERSION.TXT");
    const std::string bytes = signature_page_bytes(patient, signers, oem);
    platform::UniqueFd page = create_new_file_at(pages.fd(), page_name(1), 0600);
    if (!page || !platform::write_all(page.get(), bytes.data(), bytes.size()) || !page.close())
        return page_error(page_name(1), errno);
    // What is shown is read by the folder's name: it must still be this folder, never a link.
    const EntryState now = probe_entry(pages.path());
    if (now.kind != EntryKind::Folder || now.device != held.device || now.inode != held.inode)
        return replaced(now.kind == EntryKind::Link);
    return {};
}

}  // namespace tv::signing
