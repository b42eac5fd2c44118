// A day's arrhythmia events: arrhevnt.dat read as one day of the eight, counted and summarised,
// and arrhevnt.txt beside a day file, whose lines give the table's five arrhythmia counts.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/timi/timi_arrhythmia.h"
#include "tolbex/timi/timi_table_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("timi");
    if (size == 0) return 0;
    if (data[0] & 1) {
        tv::fuzz::put_file(folder + "arrhevnt.txt", data + 1, size - 1);
        tv::TIMITableSource table;
        table.read_arrhythmia_counts({folder + "day1.txt"});
        return 0;
    }
    const std::string path = folder + "arrhevnt.dat";
    tv::fuzz::put_file(path, data + 1, size - 1);
    tv::TimiArrhData events;
    if (!events.read_arrhevnt_file(data[0] / 2 % 8, path)) return 0;
    events.count_events();
    (void)events.summary_text("TIMI_ARRH.TXT");
    return 0;
}
