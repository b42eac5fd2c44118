// The stand-in for the outside compressor: one file in, one file out, losslessly.
//
// Packed layout (all integers little-endian):
//   +0  "TVSZ"
//   +4  u8  format, 2
//   +5  u8  method
//   +6  u64 original size
//   +14 u32 CRC-32 (IEEE) of the original bytes
// Method 2, 16-bit delta planes, each packed as its own xz stream (LZMA2):
//   +18 u64 length L of the low-byte plane's stream
//   +26 the low-byte plane's stream (L bytes), then the high-byte plane's stream to the end
// Method 3, 16-bit words through the context coder (word_coder.h):
//   +18 u32 coded length of each block of up to 2^20 words (the count follows from the size),
//       then the blocks back to back, then the last byte as it is when the size is odd.
// The output depends only on the input bytes (no names, no times, not the number of threads).
//
// Both suit ECG channel files, whose sample words differ little from their neighbours: each
// difference is folded to an unsigned number (0, -1, 1, -2 ... become 0, 1, 2, 3 ...). Method 3 is
// chosen when it packs a file to a quarter or less (sample files do, by far); anything else goes
// through method 2, where the low bytes, which carry nearly all the information, get a thorough
// match search and the (mostly zero) high bytes a quick one. Blocks are packed and unpacked on
// several threads.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tv::szip {

inline constexpr std::size_t kHeaderSize = 18;
inline constexpr std::size_t kPlaneLengthSize = 8;
inline constexpr std::uint8_t kFormat = 2;
inline constexpr std::uint8_t kMethodDeltaPlanesXz = 2;
inline constexpr std::uint8_t kMethodWords = 3;

// The program's exit codes.
enum ExitCode : int {
    kExitOk = 0,       // packed or unpacked
    kExitUsage = 1,    // not "szip SWITCHES INPUT OUTPUT", or a switch it does not know
    kExitInput = 2,    // the input cannot be read
    kExitOutput = 3,   // the output cannot be made or written (an unpacked one is removed again)
    kExitCorrupt = 4,  // the packed input is damaged: what was unpacked of it is removed again
};

std::vector<std::uint8_t> to_delta_planes(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> from_delta_planes(const std::uint8_t* data, std::size_t size);
// The xz block size for a plane of `size` bytes: a function of the size alone, so the bytes never
// depend on the machine; about an eighth of a large plane, so that several channel files packed at
// once keep every core busy to the end.
std::uint64_t block_size_for(std::uint64_t size);

std::vector<std::uint8_t> pack(const std::vector<std::uint8_t>& input);

// Takes the unpacked bytes in order, a piece of at most a few MiB at a time; false stops the
// unpacking.
using Sink = std::function<bool(const std::uint8_t* data, std::size_t size)>;
// Unpacks in pieces: memory follows what the stream really gives (a few tens of MiB at most),
// never the size it records. False when the stream is not ours, does not give back the recorded
// size and CRC, or the sink stopped it; what the sink was given is then not to be used.
bool unpack(const std::uint8_t* packed, std::size_t packed_size, const Sink& sink);
// The same into memory, which then grows with the real output only.
bool unpack(const std::vector<std::uint8_t>& packed, std::vector<std::uint8_t>& output);

// The program: argv as given ("-o4r2b41 in out" or "-d in out"); returns the exit code.
int run(int argc, char** argv);

}  // namespace tv::szip
