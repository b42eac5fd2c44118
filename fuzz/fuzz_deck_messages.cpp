// The deck's message parser: a run of messages (each a length byte pair and its bytes, as the
// deck's read hands them over), then the time-code searches that work on what they stored.
#include <cstdint>
#include <cstring>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/kelmoth_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    tv::fuzz::KelmothState s;
    tv::kelmoth::ReaderState st;
    s.k.skip_start = 0;
    std::size_t pos = 0;
    while (pos + 2 <= size) {
        std::size_t n = tv::load_le16(data + pos) % (tv::platform::kDeckMessageMax + 1);
        pos += 2;
        n = std::min(n, size - pos);
        // Exactly the message's bytes: a read past them is a fault, not stale buffer content.
        std::vector<std::uint8_t> m(data + pos, data + pos + n);
        tv::kelmoth::handle_message(s.k, m.data(), static_cast<int>(n), st);
        pos += n;
    }
    if (s.k.tc_count > 0) {
        tv::kelmoth::serial_block_search(s.k);
        tv::kelmoth::start_time_search(s.k);
        tv::kelmoth::drain_patient_events(s.k);
    }
    return 0;
}
