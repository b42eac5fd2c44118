// DATA.TIMI: the saved table; what reads whole must write out the same rows again.
#include <array>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/timi/timi_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    tv::TimiData d;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!d.read_data_text(text) || d.row_count() == 0) return 0;
    std::array<std::int32_t, 3> first{}, end{};
    for (int c = 0; c < tv::kTimiChannels; ++c) d.selection_range(c, first[c], end[c]);
    d.compute_stemi(first, end);
    (void)d.data_file_text(0, d.row_count() - 1);
    (void)d.summary_file_text("DATA.TIMI");
    return 0;
}
