#include "common/scramble.h"

#include <array>

namespace tv {

namespace {

// The seed fixes the permutation: files written with one seed read only with the same seed.
constexpr std::uint32_t kSeed = 61937;

struct Tables {
    std::array<std::uint8_t, 256> forward{};
    std::array<std::uint8_t, 256> inverse{};
};

// Built at compile time with a private generator, so nothing reseeds or consumes rand().
constexpr Tables make_tables() {
    Tables t;
    std::uint32_t state = kSeed;
    for (int i = 0; i < 256; ++i) t.forward[i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 256; ++i) {
        state = state * 214013u + 2531011u;
        const unsigned draw = (state >> 16) & 0x7FFFu;
        const unsigned j = draw & 255u;
        const std::uint8_t tmp = t.forward[i];
        t.forward[i] = t.forward[j];
        t.forward[j] = tmp;
    }
    for (int i = 0; i < 256; ++i) t.inverse[t.forward[i]] = static_cast<std::uint8_t>(i);
    return t;
}

constexpr Tables kTables = make_tables();

}  // namespace

void scramble_bytes(std::uint8_t* buf, std::size_t count) {
    if (!buf) return;
    for (std::size_t i = 0; i < count; ++i) buf[i] = kTables.forward[buf[i]];
}

std::size_t unscramble_bytes(std::uint8_t* buf, std::size_t count) {
    if (!buf) return 0;
    for (std::size_t i = 0; i < count; ++i) buf[i] = kTables.inverse[buf[i]];
    return count;
}

}  // namespace tv
