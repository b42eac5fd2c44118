// CONFIRM.TXT and VERSION.TXT of a report folder: the confirming user, the version in each of its
// reader, and the product that wrote the report.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/patient_txt.h"
#include "tolbex/archive/report_types.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string slashed = tv::fuzz::sub_folder("report");
    static const std::string folder = slashed.substr(0, slashed.size() - 1);
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        tv::fuzz::put_file(slashed + tv::kConfirmTxtName, bytes);
        (void)tv::has_confirm_txt(folder);
        (void)tv::read_confirming_user(folder);
        return 0;
    }
    tv::fuzz::put_file(slashed + tv::kVersionTxtName, bytes);
    (void)tv::read_report_version(folder);
    (void)tv::get_report_source_product(folder);
    (void)tv::parse_version_text(bytes);
    return 0;
}
