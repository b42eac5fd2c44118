// szip's coder for 16-bit sample files: each word's difference from the one before, folded to
// an unsigned number, goes through an adaptive binary range coder whose probabilities depend on
// the two differences before it. ECG samples change by a few units from one to the next, so most
// words cost one to three well-predicted decisions; this packs channel files tighter than a
// dictionary coder and several times as fast.
//
// A block is coded on its own (the previous word and the contexts start at zero), so blocks are
// packed and unpacked on separate threads and the bytes never depend on the thread count.
//
// Per word, with z the folded difference and c = min(z1, 15) * 16 + min(z2, 15) from the two
// differences before it:
//   for k = 0 .. 15: one decision "z != k" with probability p[c][k]; a 0 ends the word (z = k);
//   after sixteen 1s: v = z - 15 (>= 1), n = floor(log2 v); n 1s and a 0 on the escape
//   probabilities e[0 .. n], then the n bits of v below its top bit, most significant first,
//   each at one half.
// Probabilities are 11-bit, start at one half and move by 1/32 of the distance after each use.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tv::szip {

inline constexpr std::size_t kWordsPerBlock = std::size_t{1} << 20;

// Codes `count` little-endian words from `data`.
std::vector<std::uint8_t> encode_word_block(const std::uint8_t* data, std::size_t count);
// Decodes exactly `count` words into `out` (2 * count bytes); false when the stream runs out or
// describes a word that cannot be.
bool decode_word_block(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out, std::size_t count);

}  // namespace tv::szip
