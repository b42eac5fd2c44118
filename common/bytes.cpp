#include "common/bytes.h"

#include <array>

namespace tv {
namespace {

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1u ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}
constexpr auto kCrcTable = make_crc_table();

}  // namespace

std::uint32_t crc32_update(std::uint32_t reg, std::uint8_t byte) noexcept {
    return kCrcTable[(reg ^ byte) & 0xFFu] ^ (reg >> 8);
}

std::uint32_t crc32_update(std::uint32_t reg, const void* bytes, std::size_t count) noexcept {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    for (std::size_t i = 0; i < count; ++i) reg = kCrcTable[(reg ^ p[i]) & 0xFFu] ^ (reg >> 8);
    return reg;
}

}  // namespace tv
