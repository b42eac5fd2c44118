// Byte order and checksum of the file formats. Every format here stores its numbers
// little-endian whatever the machine; the one checksum is the reflected CRC-32 (polynomial
// 0xEDB88320, as in zip and PNG), kept as a register that callers start, feed and finish.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tv {

// Loads and stores at `p`: the caller has checked that the bytes are there.
constexpr std::uint16_t load_le16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
constexpr std::uint32_t load_le32(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
constexpr std::uint64_t load_le64(const std::uint8_t* p) noexcept {
    return static_cast<std::uint64_t>(load_le32(p)) | static_cast<std::uint64_t>(load_le32(p + 4)) << 32;
}
constexpr void store_le16(std::uint8_t* p, std::uint16_t v) noexcept {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
constexpr void store_le32(std::uint8_t* p, std::uint32_t v) noexcept {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
constexpr void store_le64(std::uint8_t* p, std::uint64_t v) noexcept {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Loads at offset `at` of a span; 0 when the span is too short there (a truncated record then
// reads as zeros instead of reading past the end).
constexpr std::uint16_t load_le16(std::span<const std::uint8_t> b, std::size_t at) noexcept {
    return at <= b.size() && b.size() - at >= 2 ? load_le16(b.data() + at) : 0;
}
constexpr std::uint32_t load_le32(std::span<const std::uint8_t> b, std::size_t at) noexcept {
    return at <= b.size() && b.size() - at >= 4 ? load_le32(b.data() + at) : 0;
}

// Appends to a byte buffer (std::string holds bytes in the core, std::vector where the format
// code works on uint8_t).
inline void append_le16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v));
    out.push_back(static_cast<char>(v >> 8));
}
inline void append_le32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline void append_le16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void append_le32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// --- CRC-32 ---
inline constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;
// One step of the register: table[(reg ^ b) & 0xFF] ^ (reg >> 8).
std::uint32_t crc32_update(std::uint32_t reg, std::uint8_t byte) noexcept;
std::uint32_t crc32_update(std::uint32_t reg, const void* bytes, std::size_t count) noexcept;
inline std::uint32_t crc32_update(std::uint32_t reg, std::span<const std::uint8_t> bytes) noexcept {
    return crc32_update(reg, bytes.data(), bytes.size());
}
// The finished checksum of `bytes` (started at kCrc32Start, inverted at the end): 0xCBF43926
// for "123456789".
inline std::uint32_t crc32(const void* bytes, std::size_t count) noexcept {
    return ~crc32_update(kCrc32Start, bytes, count);
}

}  // namespace tv
