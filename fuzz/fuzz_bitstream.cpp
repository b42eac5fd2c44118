// The bit-stream sector decoder on its own, over a run of 512-byte sectors.
#include <array>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "vond/bitstream.h"
#include "vond/card_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    tv::vond::BitStreamDecoder d;
    d.reset();
    d.position(40 + data[0] % 64);
    tv::vond::Sector sector{};
    for (std::size_t at = 1; at < size; at += tv::vond::kSectorSize) {
        sector.fill(0);
        std::memcpy(sector.data(), data + at, std::min<std::size_t>(tv::vond::kSectorSize, size - at));
        // A sector yields at most a few blocks per bit it holds; more steps mean a loop.
        for (int steps = 0;; ++steps) {
            if (steps > 16 * tv::vond::kSectorSize) __builtin_trap();
            const tv::vond::BitStreamDecoder::Step r = d.step(sector.data());
            if (!r.ok) return 0;
            if (r.block_ready) {
                volatile std::uint16_t sink = d.samples(0)[0] ^ d.flags()[127];
                (void)sink;
            }
            if (r.sector_used) break;
        }
    }
    return 0;
}
