// Fixed byte substitution for patient details inside compressed ECG files. The permutation
// comes from a seeded shuffle with the classic LCG, carried here so every build reads the files
// of every other.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tv {

// The tables are constant, so every call is thread-safe.
// Replaces each byte b by P[b].
void scramble_bytes(std::uint8_t* buf, std::size_t count);
// Replaces each byte b by inverse[b]; returns count.
std::size_t unscramble_bytes(std::uint8_t* buf, std::size_t count);

}  // namespace tv
