// Explode on its own, fed in small pieces of varying size so that every refill path runs.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "formats/implode.h"

namespace {

struct Stream {
    const std::uint8_t* data;
    std::size_t size, pos = 0, written = 0;
    unsigned chunk;
};

unsigned read_part(unsigned char* buffer, unsigned& count, void* param) {
    auto& s = *static_cast<Stream*>(param);
    const std::size_t n = std::min<std::size_t>({std::size_t(count), s.size - s.pos, std::size_t(s.chunk)});
    std::memcpy(buffer, s.data + s.pos, n);
    s.pos += n;
    return static_cast<unsigned>(n);
}

void write_part(unsigned char* buffer, unsigned& count, void* param) {
    auto& s = *static_cast<Stream*>(param);
    volatile unsigned char sink = count ? buffer[count - 1] : 0;
    (void)sink;
    s.written += count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto work = std::make_unique<tv::CompressionWorkArea>();
    if (size == 0) return 0;
    Stream s{data + 1, size - 1, 0, 0, static_cast<unsigned>(data[0] % 17) * 61u + 1u};
    (void)tv::explode(read_part, write_part, *work, &s);
    return 0;
}
