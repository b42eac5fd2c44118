// REPINFO.TXT of a received transfer file: description, type, time and size lines.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/app/import_reports.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tv::fuzz::sub_folder("report") + "REPINFO.TXT";
    tv::fuzz::put_file(path, data, size);
    tv::RepInfo info;
    (void)tv::read_repinfo(path, 1700000000, 4096, info);
    return 0;
}
