// Implode/explode compression: the sliding-window stream format that transfer files store,
// plus the table-driven CRC-32 that checks the stored streams. Callback-driven and
// allocation-free: the caller owns the work area, so runs on separate areas may proceed on
// separate threads.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tv {

// Compression types (stream byte 0).
inline constexpr unsigned kCompressionBinary = 0;  // literals as a flag bit plus 8 raw bits
inline constexpr unsigned kCompressionAscii = 1;   // literals with the format's fixed code

// Dictionary sizes; the stream stores 4, 5 or 6 (the number of low distance bits).
inline constexpr unsigned kDictionary1024 = 1024;
inline constexpr unsigned kDictionary2048 = 2048;
inline constexpr unsigned kDictionary4096 = 4096;

// `implode` results.
inline constexpr int kImplodeOk = 0;
inline constexpr int kImplodeBadDictionary = 1;  // size not 1024, 2048 or 4096
inline constexpr int kImplodeBadType = 2;        // type not 0 or 1

// `explode` results.
inline constexpr int kExplodeOk = 0;
inline constexpr int kExplodeBadDictionary = 1;  // stream's dictionary code not 4, 5 or 6
inline constexpr int kExplodeBadType = 2;        // stream's type byte not 0 or 1
inline constexpr int kExplodeBadData = 3;        // fewer than 5 bytes of input in all
inline constexpr int kExplodeAbort = 4;          // input ended before the end code, or a match
                                                 // reached back beyond the data written

// Read callback: places at most `count` bytes in `buffer` and returns how many; 0 = no more.
using CompressReadFn = unsigned (*)(unsigned char* buffer, unsigned& count, void* param);
// Write callback: must take all `count` bytes.
using CompressWriteFn = void (*)(unsigned char* buffer, unsigned& count, void* param);

// The engine state of either direction lives in one `CompressionWorkArea`.
inline constexpr std::size_t kCompressionWorkSize = 256 * 1024;
struct alignas(16) CompressionWorkArea {
    unsigned char bytes[kCompressionWorkSize];
};

// Compresses everything the read callback delivers until it returns 0, then writes the end code
// and the final partial byte. `type` and `dictionary_size` are read only.
int implode(CompressReadFn read, CompressWriteFn write, CompressionWorkArea& work, void* param, const unsigned& type,
            const unsigned& dictionary_size);

// Decompresses until the end code. Input is gathered until 5 bytes (or the end) are at hand
// before the short-input test, so the result never depends on how the reader chunks.
int explode(CompressReadFn read, CompressWriteFn write, CompressionWorkArea& work, void* param);

}  // namespace tv
