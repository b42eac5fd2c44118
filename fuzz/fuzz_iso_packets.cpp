// The isochronous transfer: the ring's shape check and every entry's packets, from a ring header
// (the first 64 bytes) and the ring's memory (the rest).
#include <cstdint>
#include <cstring>
#include <string>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/kelmoth_state.h"
#include "platform/deck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    namespace ring = tv::platform::ring;
    if (size < ring::kHeaderRoom + 4) return 0;
    // The ring's own alignment: its words are read atomically.
    std::vector<std::uint32_t> words((size + 3) / 4);
    std::memcpy(words.data(), data, size);
    const std::uint8_t* mem = reinterpret_cast<const std::uint8_t*>(words.data());
    tv::kelmoth::RingShape shape;
    std::string why;
    const std::size_t buffer_bytes = size - ring::kHeaderRoom;
    if (!tv::kelmoth::check_ring(mem, buffer_bytes, shape, why)) return 0;
    tv::fuzz::KelmothState s;
    s.k.skip_start = static_cast<std::int32_t>(tv::load_le32(mem + ring::kCirculated));
    s.ctrl[0].start_sample = static_cast<std::int32_t>(tv::load_le32(mem + ring::kOverrun));
    tv::kelmoth::reset_transfer_pointers(s.k);
    for (std::uint32_t e = 0; e < shape.entries; ++e)
        tv::kelmoth::process_entry(s.k, mem + ring::kHeaderRoom + std::size_t(e) * shape.bytes_per_entry, shape);
    return 0;
}
