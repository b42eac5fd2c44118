#include "tolbex/signing/signature_bitmaps.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "common/report_files.h"
#include "common/bytes.h"
#include "common/files.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "tolbex/signing/crypto.h"
#include "tolbex/signing/signed_report.h"
#include "common/text.h"

namespace tv::signing {
namespace {

std::string extension_of(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace

std::string signature_bitmap_folder() { return platform::machine_dir() + "/bmp"; }

std::string signature_bitmap_path(const std::string& file_name) {
    return signature_bitmap_folder() + "/" + get_path_file_name(file_name, PathSeparators::WindowsToo);
}

std::vector<SignatureBitmapEntry> read_signature_list() {
    std::vector<SignatureBitmapEntry> out;
    const std::optional<std::string> text =
        read_report_file(signature_bitmap_folder() + "/" + kSignatureListName, ReportFileKind::SignatureList);
    if (!text) return out;
    for (const std::string_view line : split_lines(*text)) {
        const std::size_t start = line.find_first_not_of('"');
        if (start == std::string::npos) continue;
        const std::size_t quote = line.find('"', start);
        if (quote == std::string::npos) continue;
        SignatureBitmapEntry e{std::string(line.substr(start, quote - start)),
                               std::string(quote + 2 <= line.size() ? line.substr(quote + 2) : "")};
        out.push_back(std::move(e));
    }
    return out;
}

std::string format_signature_list(const std::vector<SignatureBitmapEntry>& entries) {
    std::string out;
    for (const SignatureBitmapEntry& e : entries) out += "\"" + e.logon_name + "\" " + e.file_name + "\r\n";
    return out;
}

Result<void> write_signature_list(const std::vector<SignatureBitmapEntry>& entries) {
    const std::string folder = signature_bitmap_folder();
    const std::string path = folder + "/" + kSignatureListName;
    ::mkdir(folder.c_str(), 0777);  // shared by every account of the group
    if (!platform::atomic_write_file(path, format_signature_list(entries)))
        return fail(kErrFile, with_text(kBitmapListNotSavedText, path));
    return {};
}

std::string find_signature_bitmap(const std::string& logon_name) {
    for (const SignatureBitmapEntry& e : read_signature_list())
        if (e.logon_name == logon_name) return signature_bitmap_path(e.file_name);
    return {};
}

std::optional<BmpSize> read_bmp_size(std::string_view bytes) {
    if (bytes.size() < 26 || bytes[0] != 'B' || bytes[1] != 'M') return std::nullopt;
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::uint32_t pixels_at = load_le32(b + 10);
    const std::uint32_t header = load_le32(b + 14);
    std::int64_t width, height;
    unsigned planes, bits, compression = 0;
    if (header == 12) {
        width = load_le16(b + 18);
        height = load_le16(b + 20);
        planes = load_le16(b + 22);
        bits = load_le16(b + 24);
    } else if (header >= 40 && header <= 124 && bytes.size() >= 14 + 40) {
        width = static_cast<std::int32_t>(load_le32(b + 18));
        height = static_cast<std::int32_t>(load_le32(b + 22));
        planes = load_le16(b + 26);
        bits = load_le16(b + 28);
        compression = load_le32(b + 30);
    } else {
        return std::nullopt;
    }
    if (height < 0) height = -height;
    if (planes != 1 || width <= 0 || height <= 0 || width > 65535 || height > 65535) return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return std::nullopt;
    const bool plain = compression == 0 || (compression == 3 && (bits == 16 || bits == 32));
    const bool rle = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
    if (!plain && !rle) return std::nullopt;
    if (pixels_at < 14 + header || pixels_at > bytes.size()) return std::nullopt;
    if (plain) {
        const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
        if (stride * static_cast<std::uint64_t>(height) > bytes.size() - pixels_at) return std::nullopt;
    }
    return BmpSize{static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

bool signature_bitmap_readable(const std::string& path) {
    const std::optional<std::string> bytes = read_report_file(path, ReportFileKind::SignatureBitmap);
    return bytes && read_bmp_size(*bytes);
}

bool is_signature_bitmap_usable(const std::string& path, Ui& ui) {
    const std::optional<std::string> bytes = read_report_file(path, ReportFileKind::SignatureBitmap);
    const std::optional<BmpSize> size = bytes ? read_bmp_size(*bytes) : std::nullopt;
    if (!size) return false;
    if (size->width % 32 != 0) {
        ui.message_box(with_text(kBitmapWidthText, path), {}, MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    return true;
}

Result<std::string> store_signature_bitmap(const std::string& source, const std::string& logon_name,
                                           const std::vector<SignatureBitmapEntry>& entries) {
    const std::optional<std::string> bytes = read_report_file(source, ReportFileKind::SignatureBitmap);
    if (!bytes) return fail(kErrFile, with_text(kBitmapOpenFailedText, source));
    const std::string folder = signature_bitmap_folder();
    ::mkdir(folder.c_str(), 0777);  // shared by every account of the group
    std::string name = get_path_file_name(source, PathSeparators::WindowsToo);
    // The name is another account's when an entry of theirs uses it and the file there differs.
    auto taken = [&](const std::string& candidate) {
        for (const SignatureBitmapEntry& e : entries) {
            if (e.logon_name == logon_name || get_path_file_name(e.file_name, PathSeparators::WindowsToo) != candidate)
                continue;
            const std::optional<std::string> there =
                read_report_file(folder + "/" + candidate, ReportFileKind::SignatureBitmap);
            if (!there || *there != *bytes) return true;
        }
        return false;
    };
    if (taken(name)) {
        const std::string stem = name.substr(0, name.size() - extension_of(name).size());
        for (int n = 2;; ++n) {
            std::string candidate = stem + "_" + std::to_string(n) + extension_of(name);
            if (!taken(candidate) && !file_exists(folder + "/" + candidate)) {
                name = std::move(candidate);
                break;
            }
        }
    }
    if (!platform::atomic_write_file(folder + "/" + name, *bytes))
        return fail(kErrFile, with_text(kSeriousFileErrorText, folder + "/" + name));
    return name;
}

}  // namespace tv::signing
