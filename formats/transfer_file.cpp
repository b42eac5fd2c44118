#include "formats/transfer_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "common/bytes.h"
#include "common/files.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "formats/implode.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/handles.h"
#include "common/values.h"

namespace tv {
namespace {

// The part after the last '/' or '\': names may arrive in either world's spelling.
std::string_view name_part(std::string_view path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// A name as this disk spells it (UTF-8) in the format's code page; nullopt when it has no
// Windows-1252 form (or is no UTF-8).
std::optional<std::string> format_spelling(std::string_view disk_name) {
    std::string cp = platform::utf8_to_cp1252(disk_name, '\0');
    if (cp.find('\0') != std::string::npos || platform::cp1252_to_utf8(cp) != disk_name) return std::nullopt;
    return cp;
}

// Whether `text` is multi-byte UTF-8 throughout (ASCII alone is not).
bool is_multibyte_utf8(std::string_view text) {
    bool multibyte = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = c < 0x80             ? 1
                              : (c & 0xE0) == 0xC0 ? 2
                              : (c & 0xF0) == 0xE0 ? 3
                              : (c & 0xF8) == 0xF0 ? 4
                                                   : 0;
        if (n == 0 || (n == 2 && c < 0xC2) || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        multibyte = multibyte || n > 1;
        i += n;
    }
    return multibyte;
}

// A name of the format (Windows-1252) as this disk spells it. Earlier versions of this program
// stored their disk's UTF-8 bytes: a name that reads whole as multi-byte UTF-8 is taken as such.
std::string disk_spelling(std::string_view stored) {
    return is_multibyte_utf8(stored) ? std::string(stored) : platform::cp1252_to_utf8(stored);
}

std::string to_backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// One file to pack: the path it was named by (its packed name comes from that) and where it is
// read from, `name` in `folder`, or the path itself when there is no folder.
struct Source {
    std::string path;
    std::shared_ptr<const FolderFiles> folder;
    std::string name;
};

// The files that one list entry names, sorted by their upper-cased names so that every run packs
// the same order. False when an entry of the folder stops it; `refusal` then says which.
bool expand_entry(const std::string& entry, std::vector<Source>& files, std::string* refusal) {
    const std::size_t cut = entry.rfind('/');
    const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : entry.substr(0, cut);
    const std::string prefix = cut == std::string::npos ? std::string() : entry.substr(0, cut + 1);
    auto listing = std::make_shared<FolderFiles>();
    if (!listing->read(folder, entry.substr(prefix.size()), "WIN386.SWP")) {
        if (listing->blocker().empty()) return true;  // a folder that cannot be read names nothing
        if (refusal) *refusal = listing->refusal("packed");
        return false;
    }
    std::vector<std::pair<std::string, std::string>> found;  // (upper-cased name, name)
    for (const std::string& n : listing->names()) {
        std::string key = n;
        std::transform(key.begin(), key.end(), key.begin(), ascii_upper);
        found.emplace_back(std::move(key), n);
    }
    std::sort(found.begin(), found.end());
    for (auto& [key, n] : found) files.push_back({prefix + n, listing, n});
    return true;
}

// ---------------------------------------------------------------------------------------------
// Packing

struct PackContext {
    std::FILE* source = nullptr;
    int target = -1;
    std::uint32_t crc = kCrc32Start;
    std::uint64_t packed = 0;
    std::uint64_t original = 0;
    bool read_error = false;
    bool write_error = false;
};

unsigned pack_read(unsigned char* buffer, unsigned& count, void* param) {
    auto& c = *static_cast<PackContext*>(param);
    if (c.read_error || c.write_error) return 0;  // stop feeding a run that has already failed
    const std::size_t got = std::fread(buffer, 1, count, c.source);
    if (got < count && std::ferror(c.source)) c.read_error = true;
    c.original += got;
    return static_cast<unsigned>(got);
}

void pack_write(unsigned char* buffer, unsigned& count, void* param) {
    auto& c = *static_cast<PackContext*>(param);
    if (c.write_error) return;
    if (!platform::write_all(c.target, buffer, count)) {
        c.write_error = true;
        return;
    }
    c.packed += count;
    c.crc = crc32_update(c.crc, buffer, count);
}

// Writes one entry at the current end of `target`; false when the file could not be packed
// completely (nothing of it is then to be trusted).
bool pack_one(const Source& file, const std::string& packed_name, int target, CompressionWorkArea& work) {
    PackContext c;
    c.target = target;
    platform::UniqueFd fd = file.folder ? file.folder->open(file.name) : platform::open_regular_at(AT_FDCWD, file.path);
    if (!fd) return false;
    const platform::UniqueFile source(::fdopen(fd.get(), "rb"));
    if (!source) return false;
    fd.release();  // the stream owns it now
    c.source = source.get();
    struct stat st {};
    if (::fstat(::fileno(c.source), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    const off_t header_at = ::lseek(target, 0, SEEK_CUR);
    if (header_at < 0) return false;
    PackedFileHeader header;
    header.set_name(packed_name);
    auto bytes = header.to_bytes();
    // The header precedes the data but depends on it: write a placeholder and fill it in after.
    if (!platform::write_all(target, bytes.data(), bytes.size())) return false;
    if (st.st_size != 0) {
        const unsigned type = kCompressionBinary;
        const unsigned dictionary = kDictionary4096;
        if (implode(pack_read, pack_write, work, &c, type, dictionary) != kImplodeOk) return false;
        if (c.read_error || c.write_error) return false;
        if (c.packed > 0xFFFFFFFFu || c.original > 0xFFFFFFFFu) return false;
        header.packed_size = static_cast<std::uint32_t>(c.packed);
        header.original_size = static_cast<std::uint32_t>(c.original);
        header.crc = ~c.crc;
    }
    bytes = header.to_bytes();
    return platform::pwrite_all(target, bytes.data(), bytes.size(), static_cast<std::uint64_t>(header_at));
}

// ---------------------------------------------------------------------------------------------
// Unpacking

struct UnpackContext {
    std::FILE* source = nullptr;
    int output = -1;
    std::uint64_t left = 0;  // bytes of this entry not yet read
    std::uint32_t crc = kCrc32Start;
    bool read_error = false;
    bool write_error = false;
};

// Never reads past the entry, so explode cannot run into the next header.
unsigned unpack_read(unsigned char* buffer, unsigned& count, void* param) {
    auto& c = *static_cast<UnpackContext*>(param);
    const std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(count, c.left));
    if (ask == 0) return 0;
    const std::size_t got = std::fread(buffer, 1, ask, c.source);
    if (got < ask && std::ferror(c.source)) c.read_error = true;
    c.left -= got;
    c.crc = crc32_update(c.crc, buffer, got);
    return static_cast<unsigned>(got);
}

void unpack_write(unsigned char* buffer, unsigned& count, void* param) {
    auto& c = *static_cast<UnpackContext*>(param);
    if (c.write_error) return;
    if (!platform::write_all(c.output, buffer, count)) c.write_error = true;
}

// Reads what explode left of the entry into the CRC, so that the next header stays aligned.
// False when the file ends first.
bool drain_entry(UnpackContext& c) {
    unsigned char buffer[4096];
    while (c.left > 0) {
        unsigned ask = static_cast<unsigned>(std::min<std::uint64_t>(sizeof buffer, c.left));
        if (unpack_read(buffer, ask, &c) == 0) return false;
    }
    return true;
}

std::string strip_control_chars(std::string name) {
    name.erase(std::remove_if(name.begin(), name.end(), [](char ch) { return ch >= 1 && ch <= 31; }), name.end());
    return name;
}

// More than any list of a report's long names.
constexpr std::uint64_t kMaxLongNameListSize = 1 << 20;

// Renames the extracted short copies to the long names the list gives. A name that would leave
// the folder is skipped, and an existing file is never replaced. A list that cannot be read is
// said in `notice`.
void restore_long_names(const std::string& folder, std::string* notice) {
    const auto list_path = platform::find_name_ci(folder, kLongNameListName);
    if (!list_path) return;
    const std::optional<std::string> read = read_outside_text(*list_path, kMaxLongNameListSize);
    if (!read) {
        const int err = errno;
        if (notice) *notice = format_string("Serious file error : %s", std::strerror(err));
        return;
    }
    const std::string& content = *read;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        const std::string long_name = disk_spelling(name_part(lines[i]));
        const std::string short_name =
            disk_spelling(i + 1 < lines.size() ? name_part(lines[i + 1]) : std::string_view());
        if (!is_safe_path_component(long_name) || !is_safe_path_component(short_name)) continue;
        const auto from = platform::find_name_ci(folder, short_name);
        if (!from) continue;
        const std::string to = join_path(folder, long_name);
        if (*from == to) continue;
        platform::rename_no_replace(*from, to);
    }
    ::unlink(list_path->c_str());
}

int unpack_entries(std::FILE* source, const std::string& folder, CompressionWorkArea& work) {
    // A second entry of one name (in any case) would replace the first one's bytes: such a file
    // was never made by a sound packer.
    std::set<std::string> seen;
    for (;;) {
        std::uint8_t raw[kPackedFileHeaderSize];
        const std::size_t got = std::fread(raw, 1, sizeof raw, source);
        if (got < sizeof raw) {
            if (std::ferror(source)) return kUnpackCannotOpen;
            // A header cut short means the file was truncated: an incomplete report.
            return got == 0 ? kUnpackOk : kUnpackBadData;
        }
        const PackedFileHeader header = PackedFileHeader::from_bytes(raw);
        std::string name = disk_spelling(strip_control_chars(header.stored_name()));
        if (name == kLogoShortName) name = kLogoLongName;
        if (!is_safe_path_component(name)) return kUnpackBadData;
        std::string key = name;
        std::transform(key.begin(), key.end(), key.begin(), ascii_upper);
        if (!seen.insert(std::move(key)).second) return kUnpackBadData;

        const std::string path = join_path(folder, name);
        UnpackContext c;
        c.source = source;
        c.left = header.packed_size;
        platform::UniqueFd output = create_new_file(path);
        if (!output) return kUnpackCannotCreate;
        c.output = output.get();
        int result = kExplodeOk;
        bool complete = true;
        if (header.packed_size != 0) {
            result = explode(unpack_read, unpack_write, work, &c);
            complete = drain_entry(c);
        }
        const bool closed = output.close();
        if (c.read_error) return kUnpackCannotOpen;
        if (c.write_error || !closed) return kUnpackCannotCreate;
        if (header.packed_size != 0 && (result != kExplodeOk || !complete || ~c.crc != header.crc))
            return kUnpackBadData;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::array<std::uint8_t, kPackedFileHeaderSize> PackedFileHeader::to_bytes() const {
    std::array<std::uint8_t, kPackedFileHeaderSize> b{};
    std::copy(magic.begin(), magic.end(), b.begin());
    std::memcpy(b.data() + 4, name.data(), kPackedNameSize);
    store_le32(b.data() + 20, packed_size);
    store_le32(b.data() + 24, original_size);
    store_le32(b.data() + 28, crc);
    return b;
}

PackedFileHeader PackedFileHeader::from_bytes(const std::uint8_t* bytes) {
    PackedFileHeader h;
    std::copy(bytes, bytes + 4, h.magic.begin());
    std::memcpy(h.name.data(), bytes + 4, kPackedNameSize);
    h.packed_size = load_le32(bytes + 20);
    h.original_size = load_le32(bytes + 24);
    h.crc = load_le32(bytes + 28);
    return h;
}

std::string PackedFileHeader::stored_name() const {
    const auto end = std::find(name.begin(), name.end(), '\0');
    return std::string(name.begin(), end);
}

void PackedFileHeader::set_name(std::string_view text) {
    name.fill('\0');
    const std::size_t n = std::min(text.size(), kPackedNameSize - 1);
    std::copy_n(text.begin(), n, name.begin());
}

std::string packed_name_for(std::string_view path) {
    std::string name(name_part(path));
    std::transform(name.begin(), name.end(), name.begin(), ascii_upper);
    if (name == kLogoLongName) return std::string(kLogoShortName);
    return name;
}

int pack_transfer_file(const std::vector<std::string>& list, const std::string& archive_path, std::string* refusal) {
    if (refusal) refusal->clear();
    std::vector<Source> files;
    for (const std::string& entry : list)
        if (!expand_entry(entry, files, refusal)) return 1;
    // A file named twice travels once.
    {
        std::vector<Source> unique;
        for (auto& f : files)
            if (std::none_of(unique.begin(), unique.end(), [&](const Source& u) { return u.path == f.path; }))
                unique.push_back(std::move(f));
        files.swap(unique);
    }

    // Long names travel under short ones, which the list names; the list is a work file of this
    // run's own folder, never under a fixed name in a shared place.
    std::unique_ptr<TempFolder> temp_folder;  // made for the first long name
    std::string temp;
    std::string long_list;
    int long_count = 0;
    std::vector<std::string> packed_names;
    for (const Source& file : files) {
        // Names cross in the format's code page; one it cannot hold cannot cross at all, not even
        // through the long-name list, which is in that code page too.
        const std::optional<std::string> spelled = format_spelling(packed_name_for(file.path));
        if (!spelled) {
            if (refusal)
                *refusal = format_string(
                    "The name of the file \"%s\" has characters that a transfer file cannot hold (Windows-1252), so "
                    "the report cannot be packed.",
                    escape_control_chars(std::string(name_part(file.path))).c_str());
            return 1;
        }
        packed_names.push_back(*spelled);
        if (packed_names.back().size() <= kMaxPackedNameLength) continue;
        if (!temp_folder) {
            temp_folder = std::make_unique<TempFolder>();
            temp = temp_folder->path();
            if (temp.empty()) return 1;
        }
        const std::string short_path = join_path(temp, format_string("file%04d.dat", long_count));
        // Only the last part of each path is read back; a folder this code page cannot spell is
        // left out.
        const std::string long_path = format_spelling(file.path).value_or(*spelled);
        long_list += to_backslashes(long_path) + "\r\n" + to_backslashes(short_path) + "\r\n";
        packed_names.back() = packed_name_for(short_path);
        ++long_count;
    }
    // Two files under one stored name (GVLOGO.BMP beside GAVRILLE_LOGO.BMP, or one name from two
    // folders) would make a file that no unpacker takes.
    for (std::size_t i = 0; i < files.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (packed_names[i] == packed_names[j]) {
                if (refusal)
                    *refusal = format_string(
                        "The report folder contains \"%s\" and \"%s\", which would be packed under one name, so it "
                        "cannot be packed.",
                        std::string(name_part(files[j].path)).c_str(), std::string(name_part(files[i].path)).c_str());
                return 1;
            }
    if (long_count > 0) {
        const std::string list_path = join_path(temp, std::string(kLongNameListName));
        if (!platform::atomic_write_file(list_path, long_list)) return 1;
        files.push_back({list_path, nullptr, {}});
        packed_names.push_back(packed_name_for(list_path));
    }

    // Written under a fresh name of its own and renamed into place whole: a folder that others
    // share (an export folder) may hold a link or a half-read file of that name meanwhile.
    std::string staged;
    platform::UniqueFd target = create_sibling_temp(archive_path, staged);
    if (!target) return 1;
    auto work = std::make_unique<CompressionWorkArea>();
    bool failed = false;
    for (std::size_t i = 0; i < files.size() && !failed; ++i)
        failed = !pack_one(files[i], packed_names[i], target.get(), *work);
    if (!target.close()) failed = true;
    if (!failed && ::rename(staged.c_str(), archive_path.c_str()) != 0) failed = true;
    if (failed) ::unlink(staged.c_str());
    return failed ? 1 : 0;
}

int unpack_transfer_file(const std::string& archive_path, const std::string& folder, std::string* notice) {
    int result;
    const platform::UniqueFile source = open_outside_stream(archive_path, kMaxTransferFileSize);
    if (!source) {
        result = kUnpackCannotOpen;
    } else {
        auto work = std::make_unique<CompressionWorkArea>();
        result = unpack_entries(source.get(), folder, *work);
    }
    restore_long_names(folder, notice);
    return result;
}

std::string format_repinfo_text(std::string_view description, int type, std::int64_t time, std::int64_t size) {
    std::string text(description);
    // A line break inside the description would shift the fields that follow it.
    for (char& ch : text)
        if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
    text +=
        format_string("\r\n%d\r\n%lld\r\n%lld\r\n", type, static_cast<long long>(time), static_cast<long long>(size));
    return text;
}

}  // namespace tv
