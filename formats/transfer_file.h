// Report transfer files (.TVZ): entries of one 32-byte header and one implode stream each,
// back to back to the end of the file, with no file header, count or trailer.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tv {

// The largest transfer file read: its members' sizes are 32-bit.
inline constexpr std::uint64_t kMaxTransferFileSize = 0xFFFFFFFFull;
inline constexpr std::size_t kPackedFileHeaderSize = 32;
inline constexpr std::size_t kPackedNameSize = 16;
inline constexpr std::array<std::uint8_t, 4> kPackedFileMagic = {0x44, 0x48, 0x09, 0x02};

// Entry header, little-endian on disk. The magic is written always and never checked; the
// original size is written and not used on reading.
struct PackedFileHeader {
    std::array<std::uint8_t, 4> magic = kPackedFileMagic;
    std::array<char, kPackedNameSize> name{};  // NUL-terminated, zero-filled
    std::uint32_t packed_size = 0;             // bytes of stream that follow the header
    std::uint32_t original_size = 0;
    std::uint32_t crc = 0;  // CRC-32 of the packed bytes as stored

    std::array<std::uint8_t, kPackedFileHeaderSize> to_bytes() const;
    static PackedFileHeader from_bytes(const std::uint8_t* bytes);
    // The name field up to its NUL, never beyond the 16 bytes of the field.
    std::string stored_name() const;
    // Stores at most 15 bytes and a NUL.
    void set_name(std::string_view name);
};

// `unpack_transfer_file` results.
inline constexpr int kUnpackOk = 0;
inline constexpr int kUnpackBadData = 1;       // bad stream, CRC mismatch, unsafe name, cut short
inline constexpr int kUnpackCannotCreate = 2;  // an output file could not be created or written
inline constexpr int kUnpackCannotOpen = 3;    // the transfer file could not be opened or read
inline constexpr int kUnpackOtherError = 4;

// The logo name that is too long for the name field, and the short name it travels under.
inline constexpr std::string_view kLogoLongName = "GAVRILLE_LOGO.BMP";
inline constexpr std::string_view kLogoShortName = "GVLOGO.BMP";
// Member that carries the long names of other members.
inline constexpr std::string_view kLongNameListName = "longname.txt";
// Report description member.
inline constexpr std::string_view kRepInfoName = "REPINFO.TXT";

// The name a file is stored under: the part after the last '/' or '\', upper-cased (ASCII),
// with the logo's long name mapped to its short one. In the file it is spelled in Windows-1252,
// converted from and to the disk's UTF-8 by pack_transfer_file and unpack_transfer_file (and so
// are the long names), and a name that Windows-1252 cannot spell refuses the packing.
std::string packed_name_for(std::string_view path);
// Names longer than this travel through the long-name list.
inline constexpr std::size_t kMaxPackedNameLength = 12;

// Packs the files that `list` names (file paths or wildcard patterns such as "<folder>/*.*"),
// in list order, each pattern's matches sorted by name. Folders, names beginning with '.' and
// files named exactly "WIN386.SWP" are left out. Only plain files are packed (FolderFiles): a
// link, a special file or two names that differ only in case among what an entry names, or two
// files that would be stored under one name, refuse the whole list before the transfer file is
// touched, `refusal` then getting the sentence to tell the user. Returns 0 on success, non-zero on failure; a transfer file that failed after it
// was begun is removed. Work files live in a private temporary folder removed before return.
int pack_transfer_file(const std::vector<std::string>& list, const std::string& archive_path,
                       std::string* refusal = nullptr);

// Unpacks every entry into `folder` (which must exist). Entries extracted before an error stay;
// long names listed in the long-name member are restored whatever the result. When the long-name
// list cannot be read, `notice` gets the sentence to tell the user (the result does not change).
int unpack_transfer_file(const std::string& archive_path, const std::string& folder, std::string* notice = nullptr);

// REPINFO.TXT content: description, type code, time and size fields, one a line, CR LF line
// ends. Line breaks and other control characters in the description become blanks.
std::string format_repinfo_text(std::string_view description, int type, std::int64_t time, std::int64_t size);

}  // namespace tv
