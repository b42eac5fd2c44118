// Byte order and checksum of the file formats. Every format here stores its numbers
// little-endian whatever the machine; the one checksum is the reflected CRC-32 (polynomial
// 0xEDB88320, as in zip and PNG), kept as a register that callers start, feed and finish.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/byte_order.h"

namespace tv {

// The plain loads and stores live in the platform layer, which sits below this library.
using platform::append_le16;
using platform::append_le32;
using platform::append_le64;
using platform::load_le16;
using platform::load_le32;
using platform::load_le64;
using platform::store_le16;
using platform::store_le32;
using platform::store_le64;

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
