// The TIMI day list (one day file a line, each read into the table, with the arrhythmia counts
// beside it) and the location file that names where a TIMI series is kept.
#include <unistd.h>

#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/timi/timi_store.h"
#include "tolbex/timi/timi_table_source.h"

namespace {

// A day file the list may name as "day1.txt" (the folder is the current one).
const char kDay[] =
    "Quorril ST Output File, version: 2\r\n"
    "Patient ID: P1\r\n"
    "Recording ID: R1\r\n"
    "Recording Date: 01/03/2004 10:00:00\r\n"
    "Recording Duration: 0 hrs 2 mins\r\n"
    "Min HR (bpm): 60\r\n"
    "Max HR (bpm): 68\r\n"
    "Mean HR (bpm): 64\r\n"
    "\r\n"
    "Channel 1 Elevation: 1.00\r\n"
    "Channel 1 Depression: -1.00\r\n"
    "Channel 1 Slope: UP\r\n"
    "Channel 2 Elevation: 1.00\r\n"
    "Channel 2 Depression: -1.00\r\n"
    "Channel 2 Slope: UP\r\n"
    "Channel 3 Elevation: 1.00\r\n"
    "Channel 3 Depression: -1.00\r\n"
    "Channel 3 Slope: UP\r\n"
    "\r\n"
    "Day\tTime\tHR\tBase1\tJ1\tAbs1\tSlope1\tCh1\tBase2\tJ2\tAbs2\tSlope2\tCh2\tBase3\tJ3\tAbs3\tSlope3\tCh3\r\n"
    "1\t10:00:00\t64\t0.10\t0.50\t1.10\t0.00\tX\t0.20\t0.30\t0.40\t0.10\t\t0.20\t0.30\t0.40\t0.10\t\r\n"
    "1\t10:00:30\t64\t0.10\t0.50\t1.10\t0.00\tX\t0.20\t0.30\t0.40\t0.10\t\t0.20\t0.30\t0.40\t0.10\t\r\n"
    "1\t10:01:00\t64\t0.10\t0.50\t1.10\t0.00\tX\t0.20\t0.30\t0.40\t0.10\t\t0.20\t0.30\t0.40\t0.10\t\r\n"
    "1\t10:01:30\t64\t0.10\t0.50\t1.10\t0.00\tX\t0.20\t0.30\t0.40\t0.10\t\t0.20\t0.30\t0.40\t0.10\t\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        const std::string f = tv::fuzz::sub_folder("timi");
        tv::fuzz::put_file(f + "day1.txt", kDay);
        if (::chdir(f.c_str()) != 0) return std::string();
        return f;
    }();
    if (size == 0) return 0;
    const std::string path = folder + (data[0] & 1 ? "location.txt" : "daylist.txt");
    tv::fuzz::put_file(path, data + 1, size - 1);
    if (data[0] & 1) {
        std::string location;
        (void)tv::TimiStore::read_location_file(path, location);
        return 0;
    }
    tv::TIMITableSource table;
    if (table.load_day_list(path)) table.data().finish_totals();
    return 0;
}
