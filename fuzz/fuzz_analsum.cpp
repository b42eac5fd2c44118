// ANALSUM.TXT: the analysis summary field reader; every field read is formatted afterwards.
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/analysis_data.h"
#include "tolbex/archive/patient_txt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tv::fuzz::sub_folder("report") + tv::kAnalsumTxtName;
    tv::fuzz::put_file(path, data, size);
    tv::AnalysisData fields;
    try {
        fields.read_analsum_txt(path);
    } catch (const tv::AnalysisData::FileError&) {}
    for (int n = tv::kFirstAnalsumField; n <= tv::kAnalysisFieldCount; ++n)
        if (fields.is_field_present(n)) (void)fields.format_field(n, "");
    return 0;
}
