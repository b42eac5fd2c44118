// Byte order of the files and messages: every number is stored little-endian whatever the
// machine. Plain loads and stores, kept here so that the platform layer shares them with the
// formats above it (common/bytes.h adds the checksum).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tv::platform {

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
inline void append_le64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
inline void append_le16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void append_le32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void append_le64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace tv::platform
