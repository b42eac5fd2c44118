#include "common/version_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "common/bytes.h"
#include "common/files.h"
#include "platform/fs.h"
#include "version_resource_data.h"

namespace tv {

namespace {

constexpr std::size_t kMarkerSize = 16;
constexpr unsigned char kMask = 0x5A;
// The marker, masked; unmasked only inside the block and at run time.
// clang-format off
constexpr unsigned char kMaskedMarker[kMarkerSize] = {
    0x89 ^ kMask, 'T' ^ kMask, 'V' ^ kMask, 'V' ^ kMask, 'E' ^ kMask, 'R' ^ kMask, 'S' ^ kMask, 'I' ^ kMask,
    'O' ^ kMask,  'N' ^ kMask, 0x0D ^ kMask, 0x0A ^ kMask, 0x1A ^ kMask, 0x0A ^ kMask, 0x00 ^ kMask, 0x01 ^ kMask};
// clang-format on

constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::uint16_t kLanguage = 0x0409;  // English (United States)
constexpr std::uint16_t kCodePage = 1252;
constexpr std::size_t kHeaderSize = kMarkerSize + 4;
constexpr std::size_t kFixedPartSize = 4 + 4 + 16;
constexpr std::uint64_t kMaxFileSize = 256ull << 20;

// Name/value pairs; the literal's own closing NUL ends the list as an empty name.
constexpr char kPairs[] =
    "ProductVersion"
    "\0" TV_PRODUCT_VERSION
    "\0"
    "FileVersion"
    "\0" TV_FILE_VERSION
    "\0"
    "CompanyName"
    "\0" TV_COMPANY_NAME
    "\0"
    "ProductName"
    "\0" TV_PRODUCT_NAME
    "\0"
    "FileDescription"
    "\0" TV_FILE_DESCRIPTION
    "\0"
    "LegalCopyright"
    "\0" TV_LEGAL_COPYRIGHT "\0";

constexpr std::size_t kPayloadSize = kFixedPartSize + sizeof(kPairs);
constexpr std::size_t kBlockSize = kHeaderSize + kPayloadSize;

struct Version4 {
    std::uint32_t ms = 0, ls = 0;
};

// "a.b.c.d" (missing parts 0) into the two packed words.
constexpr Version4 parse_version(const char* text) {
    std::uint32_t part[4] = {0, 0, 0, 0};
    int i = 0;
    for (const char* p = text; *p && i < 4; ++p) {
        if (*p == '.')
            ++i;
        else if (*p >= '0' && *p <= '9')
            part[i] = (part[i] * 10 + static_cast<std::uint32_t>(*p - '0')) & 0xFFFF;
    }
    return {part[0] << 16 | part[1], part[2] << 16 | part[3]};
}

}  // namespace

struct VersionBlock {
    unsigned char bytes[kBlockSize];
};

namespace {

constexpr VersionBlock build_block() {
    VersionBlock b{};
    unsigned char* p = b.bytes;
    for (std::size_t i = 0; i < kMarkerSize; ++i) p[i] = kMaskedMarker[i] ^ kMask;
    store_le32(p + kMarkerSize, static_cast<std::uint32_t>(kPayloadSize));
    unsigned char* q = p + kHeaderSize;
    store_le16(q, kLanguage);
    store_le16(q + 2, kCodePage);
    store_le32(q + 4, kFixedSignature);
    constexpr Version4 file = parse_version(TV_FILE_VERSION);
    constexpr Version4 product = parse_version(TV_PRODUCT_VERSION);
    store_le32(q + 8, file.ms);
    store_le32(q + 12, file.ls);
    store_le32(q + 16, product.ms);
    store_le32(q + 20, product.ls);
    for (std::size_t i = 0; i < sizeof(kPairs); ++i) q[kFixedPartSize + i] = static_cast<unsigned char>(kPairs[i]);
    return b;
}

}  // namespace

}  // namespace tv

// The block itself, in a section of its own and kept even though no code reads it.
extern "C" {
extern const tv::VersionBlock tv_version_block;
__attribute__((section("tv_version"), used)) const tv::VersionBlock tv_version_block = tv::build_block();
}

namespace tv {

std::string version_block_marker() {
    std::string m(kMarkerSize, '\0');
    for (std::size_t i = 0; i < kMarkerSize; ++i) m[i] = static_cast<char>(kMaskedMarker[i] ^ kMask);
    return m;
}

const char* built_product_version() { return TV_PRODUCT_VERSION; }

FileVersionInfo::FileVersionInfo() { load(get_module_path()); }

FileVersionInfo::FileVersionInfo(const std::string& path) { load(path); }

void FileVersionInfo::clear() {
    loaded_ = false;
    has_translation_ = false;
    language_ = 0;
    translation_.clear();
    fixed_ = FixedFileInfo{};
    strings_.clear();
}

bool FileVersionInfo::load(const std::string& path) {
    clear();
    if (path.empty()) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kMaxFileSize)
        return false;
    std::vector<std::uint8_t> bytes;
    if (!platform::read_whole_file(path, bytes)) return false;
    return parse(bytes.data(), bytes.size());
}

bool FileVersionInfo::parse(const std::uint8_t* data, std::size_t size) {
    clear();
    if (!data) return false;
    const std::string marker = version_block_marker();
    const auto* m = reinterpret_cast<const std::uint8_t*>(marker.data());
    const std::uint8_t* end = data + size;
    for (const std::uint8_t* at = std::search(data, end, m, m + kMarkerSize); at != end;
         at = std::search(at + 1, end, m, m + kMarkerSize)) {
        std::size_t offset = static_cast<std::size_t>(at - data);
        if (size - offset < kHeaderSize) break;
        std::uint32_t length = load_le32(at + kMarkerSize);
        if (length < kFixedPartSize || length > size - offset - kHeaderSize) continue;
        const std::uint8_t* q = at + kHeaderSize;
        if (load_le32(q + 4) != kFixedSignature) continue;

        std::vector<std::pair<std::string, std::string>> strings;
        std::size_t pos = kFixedPartSize;
        bool ok = true;
        while (pos < length) {
            const auto* name_end = static_cast<const std::uint8_t*>(std::memchr(q + pos, 0, length - pos));
            if (!name_end) {
                ok = false;
                break;
            }
            std::size_t name_len = static_cast<std::size_t>(name_end - (q + pos));
            if (name_len == 0) break;  // end of the list
            std::size_t value_pos = pos + name_len + 1;
            const auto* value_end =
                value_pos < length ? static_cast<const std::uint8_t*>(std::memchr(q + value_pos, 0, length - value_pos))
                                   : nullptr;
            if (!value_end) {
                ok = false;
                break;
            }
            std::size_t value_len = static_cast<std::size_t>(value_end - (q + value_pos));
            strings.emplace_back(std::string(reinterpret_cast<const char*>(q + pos), name_len),
                                 std::string(reinterpret_cast<const char*>(q + value_pos), value_len));
            pos = value_pos + value_len + 1;
        }
        if (!ok) continue;

        language_ = load_le16(q);
        std::uint16_t code_page = load_le16(q + 2);
        if (language_ != 0 || code_page != 0) {
            char text[16];
            std::snprintf(text, sizeof text, "%04x%04x", language_, code_page);
            translation_ = text;
            has_translation_ = true;
        }
        fixed_.file_version_ms = load_le32(q + 8);
        fixed_.file_version_ls = load_le32(q + 12);
        fixed_.product_version_ms = load_le32(q + 16);
        fixed_.product_version_ls = load_le32(q + 20);
        strings_ = std::move(strings);
        loaded_ = true;
        return true;
    }
    return false;
}

std::string FileVersionInfo::get_string(const std::string& name) const {
    if (!has_translation_) return std::string();
    for (const auto& [n, v] : strings_)
        if (platform::iequals(n, name)) return v;
    return std::string();
}

}  // namespace tv
