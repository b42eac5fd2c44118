#include "tolbex/signing/signed_report.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "common/audit_log.h"
#include "common/bytes.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "platform/ascii.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "platform/system.h"
#include "tolbex/archive/report_types.h"
#include "tolbex/archive/store_report.h"
#include "tolbex/signing/trust.h"
#include "common/text.h"

namespace tv::signing {
namespace {

// More than any signed report holds; the whole file is read into memory to be verified.
constexpr std::uint64_t kMaxSignedFileSize = 1ull << 30;

const std::uint8_t* bytes_of(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

Error file_error(const std::string& name, int err) {
    return fail(kErrFile, with_text(kSeriousFileErrorText, name + " : " + std::strerror(err)));
}

Error file_error(const std::string& name, const char* why) {
    return fail(kErrFile, with_text(kSeriousFileErrorText, name + " : " + why));
}

void append_string(std::string& out, std::string_view s) {
    out.append(s.substr(0, s.find('\0')));
    out += '\0';
}

void append_f64(std::string& out, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    append_le32(out, static_cast<std::uint32_t>(bits));
    append_le32(out, static_cast<std::uint32_t>(bits >> 32));
}

bool read_u32(std::string_view data, std::size_t& pos, std::uint32_t& v) {
    if (data.size() - pos < 4) return false;
    v = load_le32(bytes_of(data) + pos);
    pos += 4;
    return true;
}

// Up to kMaxHeaderString characters, the rest skipped up to and including the NUL. The signer
// wrote them: each is kept as one line, as the certificate's names are.
bool read_string(std::string_view data, std::size_t& pos, std::string& s) {
    if (pos >= data.size()) return false;
    std::size_t end = data.find('\0', pos);
    const bool terminated = end != std::string_view::npos;
    if (!terminated) end = data.size();
    s = escape_control_chars(data.substr(pos, std::min(end - pos, kMaxHeaderString)));
    pos = terminated ? end + 1 : end;
    return true;
}

// The name as a signed report keeps it (Windows-1252), or empty when it cannot be kept there.
std::string stored_name(const std::string& disk_name) {
    std::string name = platform::utf8_to_cp1252(disk_name, '\0');
    if (name.find('\0') != std::string::npos || !is_safe_path_component(name)) return {};
    return name;
}

bool read_exactly(int fd, char* out, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::read(fd, out, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        out += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// The OLE date's calendar fields, taken as they stand (they are local time already).
bool ole_to_tm(double date, std::tm& tm) {
    if (!std::isfinite(date) || std::fabs(date) > 2958466.0) return false;
    // -1.25 is 06:00 on the day before the epoch: the fraction counts forward either way.
    const double days = std::trunc(date);
    const double fraction = std::fabs(date - days);
    auto seconds = static_cast<std::int64_t>(std::llround(fraction * 86400.0));
    const auto t = static_cast<std::time_t>((static_cast<std::int64_t>(days) - 25569) * 86400 + seconds);
    return gmtime_r(&t, &tm) != nullptr;
}

}  // namespace

void append_signature_header(std::string& out, const SignatureRecord& r) {
    append_le32(out, r.kind);
    append_f64(out, r.signing_time);
    append_le32(out, r.signing_time_status);
    append_string(out, r.signer_name);
    append_le32(out, r.meaning);
    for (const std::string* s :
         {&r.logon_name, &r.system_name, &r.reserved, &r.issued_to, &r.issued_by, &r.valid_from, &r.valid_to})
        append_string(out, *s);
}

bool read_signature_header(std::string_view data, std::size_t& pos, SignatureRecord& r) {
    std::uint32_t lo = 0, hi = 0;
    if (!read_u32(data, pos, r.kind) || !read_u32(data, pos, lo) || !read_u32(data, pos, hi) ||
        !read_u32(data, pos, r.signing_time_status) || !read_string(data, pos, r.signer_name) ||
        !read_u32(data, pos, r.meaning))
        return false;
    r.signing_time = std::bit_cast<double>(static_cast<std::uint64_t>(hi) << 32 | lo);
    for (std::string* s :
         {&r.logon_name, &r.system_name, &r.reserved, &r.issued_to, &r.issued_by, &r.valid_from, &r.valid_to})
        if (!read_string(data, pos, *s)) return false;
    return true;
}

Result<std::string> build_signed_content(const SignatureRecord& record, const std::vector<PackedFile>& files) {
    std::string head;
    append_le32(head, record.version);
    append_le32(head, 1);
    append_signature_header(head, record);
    append_le32(head, static_cast<std::uint32_t>(files.size()));
    std::set<std::string> seen;
    std::string bodies;
    for (const auto& f : files) {
        const std::string name = stored_name(f.name);
        if (name.empty() || !seen.insert(name).second)
            return fail(kErrFileName, with_text(kBadFileNameText, platform::utf8_to_cp1252(f.name)));
        const platform::UniqueFd fd =
            f.folder ? f.folder->open(f.source) : platform::open_regular_at(AT_FDCWD, f.source);
        struct stat st;
        if (!fd && (errno == ELOOP || errno == EINVAL)) return file_error(name, "not a file that can be signed");
        if (!fd || ::fstat(fd.get(), &st) != 0) return file_error(name, errno);
        // Peers read the size as a signed 32-bit number.
        if (st.st_size > 0x7FFFFFFF) return file_error(name, "not a file that can be signed");
        const auto size = static_cast<std::size_t>(st.st_size);
        head += name + " " + std::to_string(size) + "\n";
        const std::size_t at = bodies.size();
        bodies.resize(at + size);
        char extra = 0;
        // Exactly the listed size, or the lines and bodies would no longer agree.
        if (!read_exactly(fd.get(), bodies.data() + at, size) || ::read(fd.get(), &extra, 1) != 0)
            return file_error(f.name, "the file changed while it was being signed");
    }
    std::string out;
    out.reserve(head.size() + bodies.size());
    out = std::move(head);
    out += bodies;
    return out;
}

Result<ParsedContent> parse_signed_content(std::string_view content, std::size_t signer_count,
                                           const std::string& path) {
    const Error invalid = fail(kErrInvalid, with_text(kNotValidText, path));
    std::size_t pos = 0;
    std::uint32_t version = 0, n = 0, count = 0;
    if (!read_u32(content, pos, version) || !read_u32(content, pos, n)) return invalid;
    if (n != signer_count) return fail(kErrSignerCount, kSignerCountText);
    if (version != 1) return fail(kErrVersion);
    ParsedContent out;
    out.headers.resize(n);
    for (auto& h : out.headers)
        if (!read_signature_header(content, pos, h)) return invalid;
    if (!read_u32(content, pos, count) || count > (content.size() - pos) / 4) return invalid;
    std::set<std::string> seen;
    std::size_t total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t nl = content.find('\n', pos);
        if (nl == std::string_view::npos) return invalid;
        const std::string_view line = content.substr(pos, nl - pos);
        pos = nl + 1;
        const std::size_t space = line.rfind(' ');
        if (space == std::string_view::npos) return invalid;
        const std::string_view digits = line.substr(space + 1);
        // Digits only: no sign or blank before them.
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), platform::is_digit)) return invalid;
        const ParsedInteger parsed = parse_integer(digits, 0, INT64_MAX);
        if (!parsed.ok()) return invalid;
        const auto size = static_cast<std::uint64_t>(parsed.value);
        const std::string name(line.substr(0, space));
        const std::string disk_name = platform::cp1252_to_utf8(name);
        if (!is_safe_path_component(name) || !is_safe_path_component(disk_name) || !seen.insert(disk_name).second)
            return invalid;
        if (size > content.size() - total) return invalid;
        out.files.push_back({disk_name, total, static_cast<std::size_t>(size)});
        total += static_cast<std::size_t>(size);
    }
    // The bodies must fill the rest exactly.
    if (total != content.size() - pos) return invalid;
    for (auto& f : out.files) f.offset += pos;
    return out;
}

Result<void> write_signed_file(const SignatureRecord& record, const std::vector<PackedFile>& files,
                               const std::string& output) {
    SignatureRecord r = record;
    if (const std::string why = signing_purpose_problem(r.certificate); !why.empty())
        return fail(kErrSign, with_text(kSigningFailedText, why));
    if (auto filled = fill_certificate_fields(r); !filled) return filled.error();
    auto content = build_signed_content(r, files);
    if (!content) return content.error();
    auto envelope = sign(r.certificate, *content);
    if (!envelope) return envelope.error();
    std::string staged;
    platform::UniqueFd fd = create_sibling_temp(output, staged, 0644);
    if (!fd) return file_error(get_path_file_name(output), errno);
    if (!platform::write_all(fd.get(), envelope->data(), envelope->size()) || !fd.close() ||
        ::rename(staged.c_str(), output.c_str()) != 0) {
        const int err = errno;
        ::unlink(staged.c_str());
        return file_error(get_path_file_name(output), err);
    }
    return {};
}

Result<SignedReportKind> signable_kind(const std::string& report_folder) {
    const std::string name = get_path_file_name(platform::strip_trailing_slashes(report_folder));
    const std::size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (ext == "IMG") return SignedReportKind::Formatted;
    if (ext == "TIM") return SignedReportKind::TimiData;
    if (ext == "SUM") return SignedReportKind::TimiSummary;
    return fail(kErrReportType, kUnsignableTypeText);
}

Result<void> sign_report_folder(SignatureRecord& record, const std::string& report_folder, const std::string& bitmap,
                                const std::string& output) {
    auto kind = signable_kind(report_folder);
    if (!kind) return kind.error();
    record.kind = static_cast<std::uint32_t>(*kind);
    const std::string folder = platform::strip_trailing_slashes(report_folder);
    FolderFiles listing;
    if (!listing.read(folder)) {
        if (!listing.blocker().empty()) return fail(kErrFile, listing.refusal("signed"));
        return file_error(get_path_file_name(folder), errno);
    }
    std::vector<PackedFile> files;
    for (const std::string& n : listing.names())
        if (bitmap.empty() || !platform::iequals(n, kSignatureBitmapName)) files.push_back({n, n, &listing});
    if (!bitmap.empty()) files.push_back({kSignatureBitmapName, bitmap});
    return write_signed_file(record, files, output);
}

Result<std::string> sign_and_store_report(SignatureRecord record, const std::string& report_folder,
                                          const std::string& report_name, const std::string& bitmap) {
    const std::int64_t now = platform::system().now();
    // No report is stored with a signature that would not verify here.
    if (const std::string why = signing_refusal(record.certificate, now); !why.empty())
        return fail(kErrUntrusted, with_text(kNotForSigningText, why));
    const TempFolder scratch_folder;
    const std::string& scratch = scratch_folder.path();
    if (scratch.empty()) return file_error("temporary folder", errno);
    record.signing_time = ole_date_from_time(now);
    record.signing_time_status = kTimeValid;
    const std::string output = scratch + kSignedFileName;
    if (auto signed_ok = sign_report_folder(record, report_folder, bitmap, output); !signed_ok)
        return signed_ok.error();
    std::string stored;
    const int result = store_report_in_archive(get_path_folder(platform::strip_trailing_slashes(report_folder)),
                                               platform::strip_trailing_slashes(scratch), report_name,
                                               get_file_size(output), now, kReportSigned, &stored);
    if (result != kStoreOk) return fail(kErrStoreReportBase + result);
    return stored;
}

namespace {

// Why the header's account of the certificate differs from the certificate; empty when it agrees.
std::string header_disagreement(const SignatureRecord& h) {
    const Certificate& c = h.certificate;
    const auto cut = [](std::string s) { return s.size() > kMaxHeaderString ? s.substr(0, kMaxHeaderString) : s; };
    const auto differs = [](const char* what, const std::string& header, const std::string& certificate) {
        return std::string("the signature's header gives ") + what + " as \"" + header +
               "\" but the certificate gives \"" + certificate + "\"";
    };
    if (h.issued_to != cut(c.subject_name())) return differs("the signer", h.issued_to, c.subject_name());
    if (h.issued_by != cut(c.issuer_name())) return differs("the issuer", h.issued_by, c.issuer_name());
    if (h.valid_from != c.valid_from_text()) return differs("the start of validity", h.valid_from, c.valid_from_text());
    if (h.valid_to != c.valid_to_text()) return differs("the end of validity", h.valid_to, c.valid_to_text());
    return {};
}

// The signing time (local) in seconds since 1970; nullopt when the header has none.
std::optional<std::int64_t> signing_time_seconds(const SignatureRecord& r) {
    std::tm tm{};
    if (r.signing_time_status != kTimeValid || !ole_to_tm(r.signing_time, tm)) return std::nullopt;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

}  // namespace

RestoredReport::~RestoredReport() {
    if (!folder_.empty()) delete_folder_tree(folder_, true, true);
}

Result<RestoredReport> verify_signed_report(const std::string& signed_dat) {
    // A signed file is whatever its sender put there: a link is not followed to another signed
    // file, and a FIFO or device never holds the window.
    std::string bytes;
    {
        OutsideRefusal why{};
        const std::size_t slash = signed_dat.rfind('/');
        const std::string report_folder = slash == std::string::npos ? std::string(".")
                                          : slash == 0               ? std::string("/")
                                                                     : signed_dat.substr(0, slash);
        const platform::UniqueFd folder = open_folder_no_link(report_folder, &why);
        if (!folder && why == OutsideRefusal::Link) return fail(kErrInvalid, outside_refusal_text(report_folder, why));
        if (!folder) return fail(kErrInvalid, with_text(kNotValidText, signed_dat));
        auto whole = read_outside_text_at(folder.get(), signed_dat.substr(slash + 1), kMaxSignedFileSize, &why);
        if (why == OutsideRefusal::Link) return fail(kErrInvalid, outside_refusal_text(signed_dat, why));
        if (why == OutsideRefusal::Unreadable) return file_error(get_path_file_name(signed_dat), errno);
        if (!whole) return fail(kErrInvalid, with_text(kNotValidText, signed_dat));
        bytes = std::move(*whole);
    }
    auto verified = verify(bytes, trusted_certificates());
    if (!verified) return verified.error();
    const std::string& content = verified->content;
    auto parsed = parse_signed_content(content, verified->signers.size(), signed_dat);
    if (!parsed) return parsed.error();
    const std::int64_t now = platform::system().now();
    for (std::size_t i = 0; i < parsed->headers.size(); ++i) {
        SignatureRecord& h = parsed->headers[i];
        h.certificate = verified->signers[i];
        h.problem = header_disagreement(h);
        if (h.problem.empty()) {
            const auto when = signing_time_seconds(h);
            if (!when) {
                h.problem = "the signature does not say when it was made";
            } else if (*when > now + kSigningClockTolerance) {
                h.problem = "the signature is dated later than now";
            } else if (auto trusted = check_trust(h.certificate, verified->certificates, *when); !trusted) {
                h.problem = trusted.error().message;
            }
        }
        h.verified = h.problem.empty();
        // What is shown of a signature comes from the certificate that made it, never the header.
        (void)fill_certificate_fields(h);
        h.signer_name = h.issued_to;
    }
    std::string folder = create_temp_folder();
    if (folder.empty()) return file_error("temporary folder", errno);
    folder.pop_back();
    RestoredReport restored(folder, std::move(parsed->headers));
    for (const auto& f : parsed->files) {
        const std::string path = folder + "/" + f.name;
        platform::UniqueFd fd = create_new_file(path, 0600);
        if (!fd) return file_error(f.name, errno);
        if (!platform::write_all(fd.get(), content.data() + f.offset, f.size) || !fd.close())
            return file_error(f.name, errno);
    }
    return restored;
}

std::string signing_time_text(const SignatureRecord& record) {
    std::tm tm{};
    if (record.signing_time_status != kTimeValid || !ole_to_tm(record.signing_time, tm)) return {};
    char buf[64];
    return std::string(buf, std::strftime(buf, sizeof buf, "%H:%M:%S %d %b %Y", &tm));
}

namespace {
std::string details_lines(const SignatureRecord& r) {
    if (!r.verified)
        return std::string(kNotVerifiedText) + " : " + r.problem + ".\n" + kNotVerifiedWarningText + "\n\n";
    std::string out = "Date and time of signing : " + signing_time_text(r) + "\n";
    out += "Signer name : " + r.signer_name + "\n";
    out += r.meaning == 0 ? "Signature meaning : Report has been reviewed\n"
                          : "Signature meaning : Report has been approved\n";
    out += "Signer login name : " + r.logon_name + "\n";
    out += "System name : " + r.system_name + "\n";
    out += "Certificate Details\n\n";
    out += "Issued to : " + r.issued_to + "\n";
    out += "Issued by : " + r.issued_by + "\n";
    out += "Valid from : " + r.valid_from + "\n";
    out += "Valid to : " + r.valid_to + "\n";
    out += "SHA-256 fingerprint : " + r.fingerprint + "\n\n";
    return out;
}
}  // namespace

std::string signature_details_text(const SignatureRecord& record) {
    return "Signature Details\n\n" + details_lines(record) + std::string(73, '-') + "\n\n";
}

std::string timi_data_signature_message(const std::vector<SignatureRecord>& signers) {
    std::string out = signed_label(SignedLabel::TimiDataMessage, all_verified(signers)) + "\n\n";
    for (const SignatureRecord& r : signers) out += "Signature Details\n\n" + details_lines(r);
    return out;
}

std::string signed_label(SignedLabel where, bool verified) {
    switch (where) {
        case SignedLabel::SignaturePageTitle:
            return verified ? "Brisco Torvane Medical Ltd - Digitally Signed Report"
                            : std::string("Brisco Torvane Medical Ltd - Report - ") + kNotVerifiedText;
        case SignedLabel::TimiSummaryHeading:
            return verified ? "Brisco Torvane Medical - Digitally Signed TIMI Summary Report"
                            : std::string("Brisco Torvane Medical - TIMI Summary Report - ") + kNotVerifiedText;
        case SignedLabel::TimiDataMessage:
            return verified ? "This TIMI Data Report was signed with the following details"
                            : "The signature of this TIMI Data Report cannot be trusted";
        case SignedLabel::TimiWindowTitle:
            return verified ? "Signed TIMI Data" : std::string("TIMI Data - ") + kNotVerifiedText;
    }
    return kNotVerifiedText;
}

bool all_verified(const std::vector<SignatureRecord>& signers) {
    return !signers.empty() && std::all_of(signers.begin(), signers.end(), [](const auto& r) { return r.verified; });
}

std::string signed_timi_summary_text(std::string_view summary, const std::vector<SignatureRecord>& signers) {
    std::string text = signed_label(SignedLabel::TimiSummaryHeading, all_verified(signers)) + "\n\n";
    for (const auto& r : signers) text += signature_details_text(r);
    for (std::string_view line : split_lines(summary)) text.append(line) += '\n';
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

}  // namespace tv::signing
