// The compressor stand-in's unpacking: header, block table, plane lengths, xz streams and the
// delta planes. Run with inputs up to 1 MB and a memory limit: reserving what a stream claims
// before it backs it is a finding.
#include <cstdint>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "tools/szip/szip_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A real stream of a megabyte can unpack to hundreds; the output is checked as it comes and
    // not kept.
    constexpr std::uint64_t kMaxOutput = 64u << 20;
    std::uint64_t total = 0;
    std::uint32_t reg = tv::kCrc32Start;
    const bool whole = tv::szip::unpack(data, size, [&](const std::uint8_t* piece, std::size_t n) {
        total += n;
        reg = tv::crc32_update(reg, piece, n);
        return total <= kMaxOutput;
    });
    // What unpacks must be what the recorded size and CRC say.
    if (whole && (total != tv::load_le64(data + 6) || ~reg != tv::load_le32(data + 14))) __builtin_trap();
    if (size <= 4096) {
        const std::vector<std::uint8_t> packed(data, data + size);
        std::vector<std::uint8_t> out;
        if (tv::szip::unpack(packed, out) != whole && total <= kMaxOutput) __builtin_trap();
    }
    (void)tv::szip::from_delta_planes(data, size);
    return 0;
}
