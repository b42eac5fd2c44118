// DATA.TIMI: the saved table; what reads whole must write out the same rows again.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/timi/timi_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tv::fuzz::init();
    tv::TimiData d;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!d.read_data_text(text) || d.row_count() == 0) return 0;
    d.compute_stemi_from_selection();
    (void)d.data_file_text(0, d.row_count() - 1);
    (void)d.summary_file_text("DATA.TIMI");
    return 0;
}
