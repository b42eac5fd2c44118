// Plain BMP files made at test time: a Windows bitmap header and blank pixels.
#pragma once
#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace tv::signing::testing {

// A bottom-up bitmap with `bits` per pixel (a two-colour palette for 1 bit), all pixels 0.
inline std::string make_bmp(std::int32_t width, std::int32_t height, std::uint16_t bits = 1,
                            std::uint32_t compression = 0) {
    const std::uint32_t palette = bits <= 8 ? (1u << bits) * 4 : 0;
    const std::uint32_t stride = ((static_cast<std::uint32_t>(width) * bits + 31) / 32) * 4;
    const std::uint32_t pixels = stride * static_cast<std::uint32_t>(height < 0 ? -height : height);
    const std::uint32_t offset = 14 + 40 + palette;
    std::string b = "BM";
    append_le32(b, offset + pixels);
    append_le32(b, 0);
    append_le32(b, offset);
    append_le32(b, 40);
    append_le32(b, static_cast<std::uint32_t>(width));
    append_le32(b, static_cast<std::uint32_t>(height));
    append_le16(b, 1);
    append_le16(b, bits);
    append_le32(b, compression);
    for (int i = 0; i < 5; ++i) append_le32(b, 0);
    for (std::uint32_t i = 0; i < palette / 4; ++i) append_le32(b, i ? 0xFFFFFFu : 0u);
    b.append(pixels, '\0');
    return b;
}

}  // namespace tv::signing::testing
