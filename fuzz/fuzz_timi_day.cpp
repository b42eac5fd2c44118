// TIMI day files: one or two days read into the table (the second day must follow the first),
// and the quick data test.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/timi/timi_table_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("timi");
    const std::string path = folder + "day1.txt";
    tv::fuzz::put_file(path, data, size);
    (void)tv::TIMITableSource::day_file_has_data(path);
    tv::TIMITableSource t;
    if (t.read_day_file(path) == tv::kDayOk) (void)t.read_day_file(path);
    t.data().finish_totals();
    return 0;
}
