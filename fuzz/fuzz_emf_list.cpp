// emflist.dat, the list of a report's 12-lead metafiles.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/reports/report_page.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = tv::fuzz::sub_folder("report");
    tv::fuzz::put_file(folder + "emflist.dat", data, size);
    for (const auto& e : tv::read_emf_list(folder)) {
        (void)tv::metafile_group(e.name);
        (void)tv::legend_file_name(e.name);
    }
    return 0;
}
