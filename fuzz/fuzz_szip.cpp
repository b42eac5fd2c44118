// The compressor stand-in's unpacking: header, plane lengths, xz streams and the delta planes.
#include <cstdint>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "tools/szip/szip_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> packed(data, data + size);
    std::vector<std::uint8_t> out;
    if (tv::szip::unpack(packed, out)) {
        // What unpacks must be what the recorded CRC says.
        if (tv::crc32(out.data(), out.size()) != tv::load_le32(data + 14)) __builtin_trap();
    }
    (void)tv::szip::from_delta_planes(data, size);
    return 0;
}
