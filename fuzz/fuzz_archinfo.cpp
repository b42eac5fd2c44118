// ARCHINFO.DAT: the archive index reader, with both record filters.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/report_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("archive");
    if (size == 0) return 0;
    // The first byte picks the filter; the rest is the file.
    const std::uint8_t mode = data[0] % 3;
    tv::fuzz::put_file(folder + tv::kArchiveIndexName, data + 1, size - 1);
    tv::ReportArchive archive(folder.substr(0, folder.size() - 1), "A", mode == 1, mode == 2);
    volatile std::uint32_t sink = archive.get_checksum();
    for (std::int32_t i = 0; i < archive.get_count(); ++i)
        if (const tv::ReportRecord* r = archive.get_record(i)) sink = sink + static_cast<std::uint32_t>(r != nullptr);
    if (archive.get_count() > 0 && archive.get_record(0)) archive.find_record("NOSUCH");
    (void)sink;
    return 0;
}
