// ARCHDIR.DAT: the archive group reader, and through it the archives it names (one of them exists
// with an index of its own, so the entries can reach a real archive).
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/archive_group.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string group = [] {
        const std::string g = tv::fuzz::sub_folder("group");
        const std::string a = tv::fuzz::sub_folder("group/STANDARD");
        tv::fuzz::put_file(a + tv::kArchiveIndexName,
                           tv::format_archive_entry("R1", "Report", "01/02/2003 10:11", "12345C", "Formatted"));
        return g;
    }();
    tv::fuzz::put_file(group + tv::kGroupIndexName, data, size);
    tv::ArchiveGroup g(group + tv::kGroupIndexName);
    volatile std::uint32_t sink = g.get_checksum();
    for (std::int32_t i = 0; i < g.get_count(); ++i)
        if (tv::ReportArchive* a = g.get_archive(i)) {
            sink = sink + static_cast<std::uint32_t>(a->get_count());
            a->find_record("R1");
        }
    g.find_archive_by_name("Deleted Reports");
    g.find_archive_by_folder("STANDARD");
    (void)sink;
    return 0;
}
