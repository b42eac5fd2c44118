// The compressor stand-in's unpacking: header, plane lengths, xz streams and the delta planes.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tools/szip/szip_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> packed(data, data + size);
    std::vector<std::uint8_t> out;
    if (tv::szip::unpack(packed, out)) {
        // What unpacks must be what the recorded CRC says.
        if (tv::szip::crc32(out.data(), out.size()) != tv::fuzz::le32(data + 14)) __builtin_trap();
    }
    (void)tv::szip::from_delta_planes(data, size);
    return 0;
}
